#include "app/command_line.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <new>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "app/driver.h"
#include "app/signal_guard.h"
#include "mek/text_fold.h"

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
      "      sjis, euc_jp, jis and iso2022jp write a character that has no code of\n"
      "      its own at the code of its twin (U+301C as that of U+FF5E) instead of\n"
      "      failing; cp932 always does\n"
      "  --wide-kana, --compose-kana, --narrow-ascii\n"
      "      fold the decoded text, in this order whatever the order given:\n"
      "      half-width katakana to full width (a base and its voiced mark to\n"
      "      one kana where JIS X 0208 has it, otherwise the spacing mark);\n"
      "      a kana and a combining voiced mark U+3099/U+309A to the\n"
      "      precomposed kana; full-width ASCII and U+3000 to ASCII\n"
      "  --verbose\n"
      "      say on standard error when an input code name is unknown, which code\n"
      "      was detected (detected CODE), and where and why a conversion failed:\n"
      "      cannot convert bytes at byte N (line L, column C): invalid CODE bytes\n"
      "      XX XX, or: U+XXXX has no CODE code\n"
      "  --guess\n"
      "      convert nothing; print the input code that detection chooses (or\n"
      "      that -i names, once the input decodes in it) and its line endings\n"
      "      (LF, CRLF, CR, MIXED or NONE) on standard output: CODE EOL; no -o\n"
      "  --detect=first|score\n"
      "      how the input code is detected when -i names none: first (the\n"
      "      default) takes the first code whose test passes, in a fixed order;\n"
      "      score takes the code whose decoded text looks most like Japanese\n"
      "      text, and fails when no code decodes the input (cannot detect the\n"
      "      input code); with --verbose it also tells its score and the\n"
      "      runner-up's\n"
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

// The names of `files` with each file once: a name that resolves (links
// followed) to the path of an earlier one is left out. Hard links are
// different names and stay.
std::vector<const char*> eachFileOnce(const std::vector<const char*>& files) {
  std::vector<const char*> once;
  std::set<std::string> seen;
  for (const char* file : files) {
    char* resolved = realpath(file, nullptr);
    const std::string key = resolved != nullptr ? resolved : file;
    std::free(resolved);
    if (seen.insert(key).second) once.push_back(file);
  }
  return once;
}

int run(int argc, char** argv) {
  holdClosedStandardStreams();
  // A file too large for the process's limit is a write error, not a kill.
  signal(SIGXFSZ, SIG_IGN);
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
  bool inPlace = false;
  for (int i = 1; i < argc; ++i) inPlace = inPlace || std::strcmp(argv[i], "--in-place") == 0;
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
    } else if (std::strcmp(arg, "--wide-kana") == 0) {
      run.folds |= kFoldWideKana;
    } else if (std::strcmp(arg, "--compose-kana") == 0) {
      run.folds |= kFoldComposeKana;
    } else if (std::strcmp(arg, "--narrow-ascii") == 0) {
      run.folds |= kFoldNarrowAscii;
    } else if (std::strcmp(arg, "--verbose") == 0) {
      run.verbose = true;
    } else if (std::strcmp(arg, "--guess") == 0) {
      run.guess = true;
    } else if (std::strncmp(arg, "--detect=", 9) == 0) {
      if (std::strcmp(arg + 9, "first") != 0 && std::strcmp(arg + 9, "score") != 0) {
        std::fprintf(stderr, "unknown detection: %s\n", arg + 9);
        printUsage(stderr);
        return finish(input, 2);
      }
      run.score = std::strcmp(arg + 9, "score") == 0;
    } else if (std::strcmp(arg, "--in-place") == 0) {
      // Seen before the walk.
    } else {
      lineEnding = findLineEnding(arg + 1, lineEnding);
    }
  }

  // --guess converts nothing and needs no output code.
  if (!run.guess && !usableOutput(outputEntry)) {
    if (argc <= 1) {
      printUsage(stdout);
      std::fflush(stdout);
      return finish(input, 0);
    }
    if (outputName != nullptr) std::fprintf(stderr, "not an output code: %s\n", outputName);
    printUsage(stderr);
    return finish(input, 2);
  }
  if (run.verbose && inputName != nullptr && inputEntry == nullptr) {
    std::fprintf(stderr, "unknown input code \"%s\", detecting\n", inputName);
  }
  const int inputCode = inputEntry != nullptr ? inputEntry->code : kCodeAuto;
  const int outputCode = usableOutput(outputEntry) ? outputEntry->code : kCodeUtf8;
  // Signals are guarded before any output is opened; --guess writes none.
  std::optional<SignalGuard> guard;
  if (!run.guess) guard.emplace(inPlace && files.size() > 1);
  run.guard = guard ? &*guard : nullptr;
  if (inPlace) {
    // Each file once, on its own, detected on its own; one that fails keeps
    // its contents, and the others are still tried.
    bool all = true;
    const std::vector<const char*> once = eachFileOnce(files);
    for (std::size_t i = 0; i < once.size(); ++i) {
      const char* file = once[i];
      RunOptions each = run;
      each.label = file;
      each.last = i + 1 == once.size();
      std::FILE* in = std::fopen(file, "rb");
      if (in == nullptr) {
        std::fprintf(stderr, "%s: cannot open input file\n", file);
        if (guard) guard->finished(file, false, each.last);
        all = false;
      } else {
        all = runConversion(in, inputCode, file, outputCode, lineEnding, each) && all;
        std::fclose(in);
      }
      // A signal during a commit ends the run here, before the next file.
      if (guard) guard->settle(each.last && all);
    }
    return finish(input, all ? 0 : 1);
  }
  const bool ok = runConversion(input, inputCode, outputPath, outputCode, lineEnding, run);
  if (guard) guard->settle(ok);
  return finish(input, ok ? 0 : 1);
}

}  // namespace

int runCommandLine(int argc, char** argv) {
  try {
    return run(argc, argv);
  } catch (const std::bad_alloc&) {
    std::fputs("cannot allocate enough memory\n", stderr);
    return 1;
  }
}

}  // namespace mek
