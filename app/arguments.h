#pragma once

#include <optional>
#include <string>
#include <vector>

#include "app/driver.h"

namespace mek {

// What the command line asks for, read without opening anything, so that
// a wrong command line is told before any file is touched.
struct Arguments {
  enum class Action { kConvert, kHelp, kVersion };
  Action action = Action::kConvert;
  // Input files in the order the walk names them; more than one is an
  // error. Empty: standard input.
  std::vector<const char*> inputs;
  const char* output_path = nullptr;  // null: standard output
  const char* input_name = nullptr;   // as typed after the last -i
  const char* output_name = nullptr;  // as typed after the last -o
  std::optional<Code> input_code;     // the code -i names, when it names one
  std::optional<Code> output_code;    // the code -o names, when it names one
  LineEnding line_ending = LineEnding::lf;
  bool in_place = false;
  // --force: standard input may replace an existing output file.
  bool force = false;
  bool check = false;  // --check: every problem of every file, nothing written
  // --rename: the names of the files are converted, not what they hold;
  // --dry-run only tells what would be renamed.
  bool rename = false;
  bool dry_run = false;
  // With --in-place, --guess, --check or --rename, every file word, in order.
  std::vector<const char*> files;
  RunOptions run;
  const char* errors_name = nullptr;       // after the last --errors=
  const char* replacement_text = nullptr;  // after the last --replacement=
  // A wrong command line: the message, told before the usage text with
  // status 2. Empty when the command line is right.
  std::string error;
};

// Walks the arguments once from left to right. With --in-place, --guess,
// --check and --rename every bare word is a file and -i and -o take no file word;
// otherwise every bare word, and the word right after -i, is an input file
// (one at most is allowed), and the word right after -o the output file. "--" ends the options:
// every later word is a file. A word that begins with "--" and is no long option of the tool is an
// error.
Arguments readArguments(int argc, char** argv);

}  // namespace mek
