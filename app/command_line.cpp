#include "app/command_line.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "app/driver.h"

namespace mek {

const NameEntry kCodeNames[] = {
    {0, "auto"},
    {1, "sjis"},
    {2, "euc_jp"},
    {3, "jis"},
    {4, "utf8"},
    {5, "utf16_be"},
    {6, "utf16_le"},
    {7, "utf16_be_bom"},
    {8, "utf16_le_bom"},
    {9, "utf32_be"},
    {10, "utf32_le"},
    {11, "utf32_be_bom"},
    {12, "utf32_le_bom"},
    {1, "s"},
    {2, "e"},
    {3, "j"},
    {8, "u"},
    {4, "u8"},
    {8, "u16"},
    {8, "u16l"},
    {7, "u16b"},
    {12, "u32"},
    {12, "u32l"},
    {11, "u32b"},
    {0, nullptr},
};

const NameEntry kLineEndingNames[] = {
    {1, "unix"}, {2, "win"}, {3, "mac"}, {1, "u"}, {2, "w"}, {3, "m"}, {0, nullptr},
};

namespace {

const NameEntry* findEntry(const NameEntry* table, const char* name) {
  for (const NameEntry* e = table; e->name != nullptr; ++e) {
    if (std::strcmp(e->name, name) == 0) return e;
  }
  return nullptr;
}

bool isOption(const char* arg) {
  return arg[0] == '-';
}

}  // namespace

int findCode(const char* name) {
  const NameEntry* e = findEntry(kCodeNames, name);
  return e != nullptr ? e->code : 0;
}

int findLineEnding(const char* name, int current) {
  const NameEntry* e = findEntry(kLineEndingNames, name);
  return e != nullptr ? e->code : current;
}

namespace {

// Prints one name table as a grid of four names a row; `column` carries on
// from one table to the next.
void printNameGrid(std::FILE* out, const NameEntry* table, int& column) {
  for (const NameEntry* e = table; e->name != nullptr; ++e) {
    if (column == 0) std::fputs("  ", out);
    std::fprintf(out, "%-19s", e->name);
    if (++column > 3) {
      std::fputc('\n', out);
      column = 0;
    }
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
  printNameGrid(out, kCodeNames, column);
  std::fputs("return-code:\n", out);
  printNameGrid(out, kLineEndingNames, column);
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
      printUsage(stdout);
      return std::fflush(stdout) == 0 ? 0 : 1;
    }
    if (std::strcmp(argv[i], "--version") == 0) {
      std::puts("mek " MEK_VERSION);
      return std::fflush(stdout) == 0 ? 0 : 1;
    }
  }

  std::FILE* input = stdin;
  bool inputOpened = false;
  const char* outputPath = nullptr;  // null: standard output
  int inputCode = 0;
  int outputCode = 0;
  int lineEnding = 1;

  for (int i = 1; i < argc; ++i) {
    const char* arg = argv[i];
    if (!isOption(arg)) {
      // A bare argument names the input file; once one is open it is ignored.
      if (!inputOpened) {
        if (!openInput(arg, input)) return finish(input, 1);
        inputOpened = true;
      }
    } else if (arg[1] == 'i') {
      inputCode = findCode(arg + 2);
      if (i + 1 < argc && !isOption(argv[i + 1])) {
        if (!openInput(argv[++i], input)) return finish(input, 1);
        inputOpened = true;
      }
    } else if (arg[1] == 'o') {
      outputCode = findCode(arg + 2);
      // The output file is only recorded here; it is created once the
      // conversion has succeeded, so a failure never empties it.
      if (i + 1 < argc && !isOption(argv[i + 1])) outputPath = argv[++i];
    } else {
      lineEnding = findLineEnding(arg + 1, lineEnding);
    }
  }

  if (outputCode == 0) {
    printUsage(stdout);
    std::fflush(stdout);
    return finish(input, argc <= 1 ? 0 : 2);
  }
  const bool ok = runConversion(input, inputCode, outputPath, outputCode, lineEnding);
  return finish(input, ok ? 0 : 1);
}

}  // namespace mek
