#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "mek/mek.h"

namespace mek {

class SignalGuard;

// How runConversion converts and what it tells.
struct RunOptions {
  // The encoder writes characters without a code of their own at their
  // twin's.
  bool fallback = false;
  // A detected input code is told on standard error ("detected CODE"), and
  // a failed conversion tells where and why.
  bool verbose = false;
  // Nothing is converted or written: the input is only decoded, and
  // "CODE EOL" (its code and its kind of line ending) goes to standard
  // output.
  bool guess = false;
  // Detection scores every code that decodes the input (the default)
  // instead of taking the first that passes its test (--detect=first); with
  // `verbose`, the runner-up and both scores are told too.
  bool score = true;
  // The folds of the decoded text (--wide-kana, --compose-kana,
  // --narrow-ascii); --guess leaves them out.
  Fold folds = Fold::none;
  // Put before every message as "`label`: " (the file name).
  const char* label = nullptr;
  // The input file's name for messages; null for standard input.
  const char* input_name = nullptr;
  // Told which output is being written, so that a signal can stop it, and
  // when it is done; `last`: no other file follows.
  SignalGuard* guard = nullptr;
  bool last = true;
  // The error policy and, with Errors::replace, the replacement (0: U+FFFD
  // and `?`). A forgiving run tells its changes on standard error.
  Errors errors = Errors::strict;
  char32_t replacement = 0;
  // Set by runCheck: every problem is replaced and placed, nothing written.
  bool check = false;
  // --buffered: input from a pipe is converted in whole pieces, and a pipe
  // or terminal gets the output held (up to Output::kHoldLimit) until the
  // run has succeeded, instead of each read's output at once.
  bool buffered = false;
  // --base64-decode, --qp-decode: the transfer encoding taken off the input
  // before detection and decoding; --base64-encode, --qp-encode: the one
  // put on the output.
  Transfer transfer_in = Transfer::none;
  Transfer transfer_out = Transfer::none;
  // --mime-decode, --mime-encode[=B|Q]: the encoded words of the header
  // block read, and written.
  bool mime_decode = false;
  Transfer mime_encode = Transfer::none;
  // --repair: lines that are mojibake of Japanese text are taken back
  // after decoding; the stretches repaired are told on standard error
  // (--check lists them, --guess names their wrong turns).
  bool repair = false;
};

// Reads `input` from its start, converts it piece by piece and writes the
// result to the file at `outputPath`, which is replaced only once the whole
// conversion has succeeded, or to standard output when `outputPath` is null.
// Prints one message and answers false on failure. The codes are numbers
// (the values of Code and LineEnding), as the driver has always taken them.
bool runConversion(std::FILE* input, int inputCodeNumber, const char* outputPath,
                   int outputCodeNumber, int lineEndingCode, const RunOptions& options = {});

// Reads `input` from its start and converts it into nothing, to `outputCode`
// (Code::autodetect: only decoding), and prints one line per problem on standard
// output: "byte B (line L, column C): DETAIL", after "`label`: " when set.
// Answers 0 when there is none, 1 when there is any, 2 when the input could
// not be read (its message on standard error).
int runCheck(std::FILE* input, Code inputCode, Code outputCode, LineEnding lineEnding,
             const RunOptions& options = {});

// The message of a located conversion failure, without its newline:
// "cannot convert bytes at byte N (line L, column C): DETAIL".
std::string failureMessage(const Error& failure, Code inputCode, Code outputCode);

// The lines that tell the changes of a forgiving run, without their last
// newline: "N changed`where`; the first at byte B (line L, column C): DETAIL"
// (`where`: " in 'NAME'" or nothing), or
// with `verbose` one "changed at byte ...: DETAIL" line per change listed,
// then "... and N more" for those beyond.
// With a transfer encoding taken off the input, the places say that they
// count its decoded bytes.
std::string changeReport(const std::vector<Error>& changes, std::uint64_t count, Code inputCode,
                         Code outputCode, bool verbose, const std::string& where = "",
                         Transfer decoded = Transfer::none);

// Ends the run as SIGPIPE would have (the tool ignores the signal, so that
// a closed standard error cannot kill it): for standard output whose reader
// has gone.
[[noreturn]] void endByBrokenPipe();

// A score in hundredths as the tool prints it: "53.38", "-17.68", "-0.37".
std::string scoreText(std::int64_t hundredths);

}  // namespace mek
