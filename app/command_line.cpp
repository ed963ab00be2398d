#include "app/command_line.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <utility>
#include <vector>

#include "app/driver.h"
#include "mek/registry.h"

namespace mek {
namespace {

bool isOption(const char* arg) {
  return arg[0] == '-';
}

// The byte `name` would be compared with at `i` when case, '-' and '_' do
// not count: skips those marks and folds ASCII capitals.
char foldedAt(const char* name, std::size_t& i) {
  while (name[i] == '-' || name[i] == '_') ++i;
  const char c = name[i];
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool sameLoosely(const char* typed, const char* name) {
  std::size_t i = 0;
  std::size_t j = 0;
  for (;; ++i, ++j) {
    const char a = foldedAt(typed, i);
    const char b = foldedAt(name, j);
    if (a != b) return false;
    if (a == '\0') return true;
  }
}

}  // namespace

const CodeName* findCodeName(const char* name) {
  for (std::size_t i = 0; i < kCodeNameCount; ++i) {
    if (kCodeNames[i].listed && std::strcmp(kCodeNames[i].name, name) == 0) return &kCodeNames[i];
  }
  for (std::size_t i = 0; i < kCodeNameCount; ++i) {
    if (sameLoosely(name, kCodeNames[i].name)) return &kCodeNames[i];
  }
  return nullptr;
}

CodeNumber findCode(const char* name) {
  const CodeName* entry = findCodeName(name);
  return entry != nullptr ? entry->code : kCodeAuto;
}

int findLineEnding(const char* name, int current) {
  for (std::size_t i = 0; i < kLineEndingNameCount; ++i) {
    if (std::strcmp(kLineEndingNames[i].name, name) == 0) return kLineEndingNames[i].code;
  }
  return current;
}

namespace {

// Prints one name in the grid of four names a row; `column` carries on from
// one table to the next.
void printGridName(std::FILE* out, const char* name, int& column) {
  if (column == 0) std::fputs("  ", out);
  std::fprintf(out, "%-19s", name);
  if (++column > 3) {
    std::fputc('\n', out);
    column = 0;
  }
}

}  // namespace

void printUsage(std::FILE* out) {
  std::fputs("mek " MEK_VERSION " - Japanese character code converter (" MEK_RELEASE_DATE
             ")\n"
             "\n"
             "mek [-i<in-code>] [in-file] -o<out-code> [out-file] -<code>\n"
             "sample:\n"
             "  > mek -osjis < input.txt > output.txt\n"
             "  > mek input.txt -osjis output.txt\n"
             "  > mek -iauto input.txt -osjis output.txt\n"
             "  > mek -iauto input.txt -osjis output.txt -unix\n"
             "character-code:\n",
             out);
  int column = 0;
  for (std::size_t i = 0; i < kCodeNameCount; ++i) {
    if (kCodeNames[i].listed) printGridName(out, kCodeNames[i].name, column);
  }
  std::fputs("return-code:\n", out);
  for (std::size_t i = 0; i < kLineEndingNameCount; ++i) {
    printGridName(out, kLineEndingNames[i].name, column);
  }
}

void printHelp(std::FILE* out) {
  printUsage(out);
  std::fputs("\n\ncodes (a name matches exactly, or else with case, '-' and '_' ignored):\n", out);
  for (const CodeDescriptor& code : kCodes) {
    const char* separator = "  ";
    for (std::size_t i = 0; i < kCodeNameCount; ++i) {
      if (kCodeNames[i].code != code.code) continue;
      std::fprintf(out, "%s%s", separator, kCodeNames[i].name);
      separator = ", ";
    }
    std::fprintf(out, "\n      %s\n", code.description);
  }
  std::fputs("line endings (-<name>):\n", out);
  for (int ending = 1; ending < kLineEndingCount; ++ending) {
    const char* separator = "  ";
    for (std::size_t i = 0; i < kLineEndingNameCount; ++i) {
      if (kLineEndingNames[i].code != ending) continue;
      std::fprintf(out, "%s%s", separator, kLineEndingNames[i].name);
      separator = ", ";
    }
    std::fprintf(out, "\n      %s\n", kLineEndings[ending].description);
  }
  std::fputs(
      "options:\n"
      "  --fallback\n"
      "      sjis, euc_jp and jis write a character that has no code of its own\n"
      "      at the code of its twin (U+301C as that of U+FF5E) instead of failing;\n"
      "      cp932 always does\n"
      "  --errors=strict|replace|skip|html\n"
      "      what to do with input not valid in the input code and characters\n"
      "      the output code cannot carry: fail (strict, the default); write\n"
      "      U+FFFD, or ? where the output code has no U+FFFD (replace); drop\n"
      "      them (skip); write a character as &#N; (html); after a forgiving\n"
      "      run, N changed; the first at byte B (line L, column C): DETAIL\n"
      "      goes to standard error, with --verbose one line per change\n"
      "  --replacement=C\n"
      "      with --errors=replace, write the one character C instead of both\n"
      "      U+FFFD and ?\n"
      "  --verbose\n"
      "      say on standard error when an input code name is unknown, which code\n"
      "      was detected (detected CODE), and where and why a conversion failed:\n"
      "      cannot convert bytes at byte N (line L, column C): invalid CODE bytes\n"
      "      XX XX, or: U+XXXX has no CODE code\n"
      "  --guess\n"
      "      convert nothing; print the input code that detection chooses (or\n"
      "      that -i names, once the input decodes in it) and its line endings\n"
      "      (LF, CRLF, CR, MIXED or NONE) on standard output: CODE EOL; no -o\n"
      "  --check\n"
      "      convert nothing and write nothing: read each file (every word that\n"
      "      does not begin with -; standard input without one), to the -o code\n"
      "      or only decoding, and print every problem on standard output: byte B\n"
      "      (line L, column C): DETAIL, after NAME: with several files; status 0\n"
      "      none, 1 some, 2 a file could not be read\n"
      "  --in-place\n"
      "      every word that does not begin with - is a file converted in place,\n"
      "      each on its own (detected on its own); -i and -o take no file word\n"
      "  --help\n"
      "      print this text\n"
      "  --version\n"
      "      print the version\n",
      out);
}

namespace {

// Opens `path` as the input stream, closing an input opened before.
bool openInput(const char* path, std::FILE*& input) {
  if (input != stdin) std::fclose(input);
  input = std::fopen(path, "rb");
  if (input == nullptr) {
    input = stdin;
    std::fputs("cannot open input file\n", stderr);
    return false;
  }
  return true;
}

int finish(std::FILE* input, int status) {
  if (input != stdin) std::fclose(input);
  return status;
}

bool usableOutput(const CodeName* entry) {
  return entry != nullptr && entry->code != kCodeAuto;
}

// The error policy that `--errors=` names, or false.
bool findErrorAction(const char* word, ErrorAction& action) {
  static constexpr std::pair<const char*, ErrorAction> kNames[] = {
      {"strict", ErrorAction::kStrict},
      {"replace", ErrorAction::kReplace},
      {"skip", ErrorAction::kSkip},
      {"html", ErrorAction::kHtml}};
  for (const auto& [name, named] : kNames) {
    if (std::strcmp(word, name) == 0) {
      action = named;
      return true;
    }
  }
  return false;
}

// The one character that `text` holds in UTF-8, or 0 when it holds none or
// more than one.
char32_t oneCharacter(const char* text) {
  const auto* p = reinterpret_cast<const std::uint8_t*>(text);
  const std::size_t length = std::strlen(text);
  if (length == 0 || length > 4) return 0;
  ConversionBuffer buffer;
  buffer.in_begin = p;
  buffer.in_end = p + length;
  std::uint8_t units[8];
  buffer.out = units;
  const Converter* decoder = findDecoder(kCodeUtf8);
  if (!decoder->measure(buffer) || buffer.stop != buffer.in_end || buffer.size > 4 ||
      !decoder->convert(buffer)) {
    return 0;
  }
  const char32_t first = static_cast<char32_t>(units[0] << 8 | units[1]);
  if (buffer.size == 2) return first;
  const char32_t second = static_cast<char32_t>(units[2] << 8 | units[3]);
  const bool pair = first >= 0xD800 && first <= 0xDBFF && second >= 0xDC00 && second <= 0xDFFF;
  return pair ? 0x10000 + ((first - 0xD800) << 10) + (second - 0xDC00) : 0;
}

}  // namespace

namespace {

// A closed standard stream gets /dev/null opened the wrong way round in its
// place: reads from standard input and writes to standard output and error
// then fail as they would on the closed stream, and no file opened later can
// take its number (the tool must never write its output or messages into its
// input or a temporary file).
void holdClosedStandardStreams() {
  for (int fd = 0; fd <= 2; ++fd) {
    if (fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
    const int held = open("/dev/null", fd == 0 ? O_WRONLY : O_RDONLY);
    if (held >= 0 && held != fd) {
      dup2(held, fd);
      close(held);
    }
  }
}

}  // namespace

int runCommandLine(int argc, char** argv) {
  holdClosedStandardStreams();
  // --help and --version act wherever they stand, before anything is opened.
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--help") == 0) {
      printHelp(stdout);
      return std::fflush(stdout) == 0 ? 0 : 1;
    }
    if (std::strcmp(argv[i], "--version") == 0) {
      std::puts("mek " MEK_VERSION);
      return std::fflush(stdout) == 0 ? 0 : 1;
    }
  }

  // With --in-place every bare word is a file converted in place, and -i and
  // -o take no file word.
  // So with --check, where every bare word is a file to check.
  bool inPlace = false;
  bool check = false;
  for (int i = 1; i < argc; ++i) {
    inPlace = inPlace || std::strcmp(argv[i], "--in-place") == 0;
    check = check || std::strcmp(argv[i], "--check") == 0;
  }
  inPlace = inPlace || check;
  std::vector<const char*> files;

  std::FILE* input = stdin;
  bool inputOpened = false;
  const char* outputPath = nullptr;  // null: standard output
  const char* inputName = nullptr;   // as typed after the last -i
  const char* outputName = nullptr;  // as typed after the last -o
  const CodeName* inputEntry = nullptr;
  const CodeName* outputEntry = nullptr;
  int lineEnding = kLineEndingLf;
  RunOptions run;
  const char* errorsName = nullptr;       // after the last --errors=
  const char* replacementText = nullptr;  // after the last --replacement=

  for (int i = 1; i < argc; ++i) {
    const char* arg = argv[i];
    if (!isOption(arg) && inPlace) {
      files.push_back(arg);
    } else if (!isOption(arg)) {
      // A bare argument names the input file; once one is open it is ignored.
      if (!inputOpened) {
        if (!openInput(arg, input)) return finish(input, 1);
        inputOpened = true;
      }
    } else if (arg[1] == 'i') {
      inputName = arg + 2;
      inputEntry = findCodeName(inputName);
      if (!inPlace && i + 1 < argc && !isOption(argv[i + 1])) {
        if (!openInput(argv[++i], input)) return finish(input, 1);
        inputOpened = true;
      }
    } else if (arg[1] == 'o') {
      outputName = arg + 2;
      outputEntry = findCodeName(outputName);
      // The output file is only recorded here; it is created once the
      // conversion has succeeded, so a failure never empties it.
      if (!inPlace && i + 1 < argc && !isOption(argv[i + 1])) outputPath = argv[++i];
    } else if (std::strcmp(arg, "--fallback") == 0) {
      run.fallback = true;
    } else if (std::strcmp(arg, "--verbose") == 0) {
      run.verbose = true;
    } else if (std::strcmp(arg, "--guess") == 0) {
      run.guess = true;
    } else if (std::strcmp(arg, "--in-place") == 0 || std::strcmp(arg, "--check") == 0) {
      // Seen before the walk.
    } else if (std::strncmp(arg, "--errors=", 9) == 0) {
      errorsName = arg + 9;
    } else if (std::strncmp(arg, "--replacement=", 14) == 0) {
      replacementText = arg + 14;
    } else {
      lineEnding = findLineEnding(arg + 1, lineEnding);
    }
  }

  // --guess and --check convert nothing and need no output code.
  if (!run.guess && !check && !usableOutput(outputEntry)) {
    if (argc <= 1) {
      printUsage(stdout);
      std::fflush(stdout);
      return finish(input, 0);
    }
    if (outputName != nullptr) std::fprintf(stderr, "not an output code: %s\n", outputName);
    printUsage(stderr);
    return finish(input, 2);
  }
  // The error policy and its replacement are told before anything is read.
  if (errorsName != nullptr && !findErrorAction(errorsName, run.errors)) {
    std::fprintf(stderr, "unknown error policy: %s\n", errorsName);
    printUsage(stderr);
    return finish(input, 2);
  }
  if (replacementText != nullptr) {
    run.replacement = oneCharacter(replacementText);
    if (run.replacement == 0) {
      std::fputs("--replacement takes one character\n", stderr);
      return finish(input, 2);
    }
    const int code = usableOutput(outputEntry) ? outputEntry->code : kCodeUtf8;
    if (!carries(code, run.replacement)) {
      std::fprintf(stderr, "cannot use %s as replacement in %s\n", replacementText,
                   describeCode(code)->name);
      return finish(input, 2);
    }
  }
  if (run.verbose && inputName != nullptr && inputEntry == nullptr) {
    std::fprintf(stderr, "unknown input code \"%s\", detecting\n", inputName);
  }
  const int inputCode = inputEntry != nullptr ? inputEntry->code : kCodeAuto;
  const int outputCode = usableOutput(outputEntry) ? outputEntry->code : kCodeUtf8;
  if (check) {
    // Each file on its own, named when there are several; the worst status.
    const int checkCode = usableOutput(outputEntry) ? outputEntry->code : kCodeAuto;
    if (files.empty()) return finish(input, runCheck(stdin, inputCode, checkCode, lineEnding, run));
    int status = 0;
    for (const char* file : files) {
      std::FILE* in = std::fopen(file, "rb");
      if (in == nullptr) {
        std::fprintf(stderr, "%s: cannot open input file\n", file);
        status = 2;
        continue;
      }
      RunOptions each = run;
      each.label = files.size() > 1 ? file : nullptr;
      status = std::max(status, runCheck(in, inputCode, checkCode, lineEnding, each));
      std::fclose(in);
    }
    return finish(input, status);
  }
  if (inPlace) {
    // Each file on its own, detected on its own; one that fails keeps its
    // contents, and the others are still tried.
    bool all = true;
    for (const char* file : files) {
      std::FILE* in = std::fopen(file, "rb");
      if (in == nullptr) {
        std::fprintf(stderr, "%s: cannot open input file\n", file);
        all = false;
        continue;
      }
      RunOptions each = run;
      each.label = file;
      all = runConversion(in, inputCode, file, outputCode, lineEnding, each) && all;
      std::fclose(in);
    }
    return finish(input, all ? 0 : 1);
  }
  const bool ok = runConversion(input, inputCode, outputPath, outputCode, lineEnding, run);
  return finish(input, ok ? 0 : 1);
}

}  // namespace mek
