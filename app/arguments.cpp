#include "app/arguments.h"

#include <cstring>

#include "app/command_line.h"
#include "files/quoting.h"

namespace mek {
namespace {

// The long options; those with `value` take "=WORD".
struct LongOption {
  const char* name;
  bool value;
};

constexpr LongOption kLongOptions[] = {
    {"--fallback", false},      {"--verbose", false},      {"--guess", false},
    {"--in-place", false},      {"--help", false},         {"--version", false},
    {"--detect", true},         {"--errors", true},        {"--replacement", true},
    {"--wide-kana", false},     {"--compose-kana", false}, {"--narrow-ascii", false},
    {"--check", false},         {"--force", false},        {"--buffered", false},
    {"--base64-decode", false}, {"--qp-decode", false},    {"--base64-encode", false},
    {"--qp-encode", false},     {"--mime-decode", false},  {"--mime-encode", false},
    {"--mime-encode", true},    {"--repair", false},       {"--rename", false},
    {"--dry-run", false},
};

bool isOption(const char* arg) {
  return arg[0] == '-';
}

bool isEndOfOptions(const char* arg) {
  return std::strcmp(arg, "--") == 0;
}

// The long option `arg` is, or null; `value` is set to what follows '='.
const LongOption* findLongOption(const char* arg, const char*& value) {
  for (const LongOption& option : kLongOptions) {
    const std::size_t length = std::strlen(option.name);
    if (std::strncmp(arg, option.name, length) != 0) continue;
    if (!option.value && arg[length] == '\0') return &option;
    if (option.value && arg[length] == '=') {
      value = arg + length + 1;
      return &option;
    }
  }
  return nullptr;
}

bool is(const LongOption* option, const char* name) {
  return option != nullptr && std::strcmp(option->name, name) == 0;
}

}  // namespace

Arguments readArguments(int argc, char** argv) {
  Arguments a;
  // --help and --version act wherever they stand; an unknown long option is
  // told before anything else; --in-place and --guess change what the words
  // after -i and -o are.
  for (int i = 1; i < argc && !isEndOfOptions(argv[i]); ++i) {
    const char* value = nullptr;
    const LongOption* option = findLongOption(argv[i], value);
    if (is(option, "--help")) {
      a.action = Arguments::Action::kHelp;
      return a;
    }
    if (is(option, "--version")) {
      a.action = Arguments::Action::kVersion;
      return a;
    }
  }
  for (int i = 1; i < argc && !isEndOfOptions(argv[i]); ++i) {
    const char* value = nullptr;
    const LongOption* option = findLongOption(argv[i], value);
    if (option == nullptr && std::strncmp(argv[i], "--", 2) == 0) {
      a.error = "unknown option: " + labelText(argv[i]);
      return a;
    }
    a.in_place = a.in_place || is(option, "--in-place");
    a.run.guess = a.run.guess || is(option, "--guess");
    a.check = a.check || is(option, "--check");
    a.rename = a.rename || is(option, "--rename");
  }
  // Every bare word is a file.
  const bool filesOnly = a.in_place || a.run.guess || a.check || a.rename;

  bool optionsEnded = false;
  for (int i = 1; i < argc; ++i) {
    const char* arg = argv[i];
    if (!optionsEnded && isEndOfOptions(arg)) {
      optionsEnded = true;
    } else if (optionsEnded || !isOption(arg)) {
      // A bare word names the input file; a second one is told as an error.
      if (filesOnly) {
        a.files.push_back(arg);
      } else {
        a.inputs.push_back(arg);
      }
    } else if (arg[1] == 'i') {
      a.input_name = arg + 2;
      a.input_code = codeFor(a.input_name);
      if (!filesOnly && i + 1 < argc && !isOption(argv[i + 1])) a.inputs.push_back(argv[++i]);
    } else if (arg[1] == 'o') {
      a.output_name = arg + 2;
      a.output_code = codeFor(a.output_name);
      // The output file is only recorded here; it is created once the
      // conversion has succeeded, so a failure never empties it.
      if (!filesOnly && i + 1 < argc && !isOption(argv[i + 1])) a.output_path = argv[++i];
    } else if (arg[1] != '-') {
      a.line_ending = lineEndingFor(arg + 1).value_or(a.line_ending);
    } else {
      const char* value = nullptr;
      const LongOption* option = findLongOption(arg, value);
      if (is(option, "--fallback")) {
        a.run.fallback = true;
      } else if (is(option, "--force")) {
        a.force = true;
      } else if (is(option, "--repair")) {
        a.run.repair = true;
      } else if (is(option, "--dry-run")) {
        a.dry_run = true;
      } else if (is(option, "--buffered")) {
        a.run.buffered = true;
      } else if (is(option, "--verbose")) {
        a.run.verbose = true;
      } else if (is(option, "--detect")) {
        if (std::strcmp(value, "first") != 0 && std::strcmp(value, "score") != 0) {
          a.error = "unknown detection: " + labelText(value);
          return a;
        }
        a.run.score = std::strcmp(value, "score") == 0;
      } else if (is(option, "--base64-decode")) {
        a.run.transfer_in = Transfer::base64;
      } else if (is(option, "--qp-decode")) {
        a.run.transfer_in = Transfer::quoted_printable;
      } else if (is(option, "--base64-encode")) {
        a.run.transfer_out = Transfer::base64;
      } else if (is(option, "--qp-encode")) {
        a.run.transfer_out = Transfer::quoted_printable;
      } else if (is(option, "--mime-decode")) {
        a.run.mime_decode = true;
      } else if (is(option, "--mime-encode")) {
        if (value == nullptr || std::strcmp(value, "B") == 0 || std::strcmp(value, "b") == 0) {
          a.run.mime_encode = Transfer::base64;
        } else if (std::strcmp(value, "Q") == 0 || std::strcmp(value, "q") == 0) {
          a.run.mime_encode = Transfer::quoted_printable;
        } else {
          a.error = "unknown word encoding: " + labelText(value);
          return a;
        }
      } else if (is(option, "--wide-kana")) {
        a.run.folds = a.run.folds | Fold::wide_kana;
      } else if (is(option, "--compose-kana")) {
        a.run.folds = a.run.folds | Fold::compose_kana;
      } else if (is(option, "--narrow-ascii")) {
        a.run.folds = a.run.folds | Fold::narrow_ascii;
      } else if (is(option, "--errors")) {
        a.errors_name = value;
      } else if (is(option, "--replacement")) {
        a.replacement_text = value;
      }
    }
  }
  return a;
}

}  // namespace mek
