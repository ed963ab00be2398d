#include "app/command_line.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "tests/test_support.h"

namespace mek::test {
namespace {

namespace fs = std::filesystem;

std::string usageText() {
  std::FILE* f = std::tmpfile();
  printUsage(f);
  std::string text(static_cast<std::size_t>(std::ftell(f)), '\0');
  std::rewind(f);
  EXPECT_EQ(std::fread(text.data(), 1, text.size(), f), text.size());
  std::fclose(f);
  return text;
}

std::string pad(const std::string& name) {
  return name + std::string(19 - name.size(), ' ');
}

TEST(NameTableTest, FindCode) {
  const std::pair<const char*, int> cases[] = {
      {"auto", 0},
      {"sjis", 1},
      {"euc_jp", 2},
      {"jis", 3},
      {"utf8", 4},
      {"utf16_be", 5},
      {"utf16_le", 6},
      {"utf16_be_bom", 7},
      {"utf16_le_bom", 8},
      {"utf32_be", 9},
      {"utf32_le", 10},
      {"utf32_be_bom", 11},
      {"utf32_le_bom", 12},
      {"s", 1},
      {"e", 2},
      {"j", 3},
      {"u", 8},
      {"u8", 4},
      {"u16", 8},
      {"u16l", 8},
      {"u16b", 7},
      {"u32", 12},
      {"u32l", 12},
      {"u32b", 11},
      {"SJIS", 1},
      {"xyz", 0},
      {"", 0},
      {"nput", 0},
  };
  for (const auto& [name, code] : cases) EXPECT_EQ(findCode(name), code) << name;
}

// The line-ending code a typed name finds, `current` for none.
int findLineEnding(const char* name, int current) {
  const std::optional<LineEnding> found = lineEndingFor(name);
  return found ? numberOf(*found) : current;
}

TEST(NameTableTest, FindLineEnding) {
  EXPECT_EQ(findLineEnding("unix", 3), 1);
  EXPECT_EQ(findLineEnding("win", 1), 2);
  EXPECT_EQ(findLineEnding("mac", 1), 3);
  EXPECT_EQ(findLineEnding("u", 3), 1);
  EXPECT_EQ(findLineEnding("w", 1), 2);
  EXPECT_EQ(findLineEnding("m", 1), 3);
  EXPECT_EQ(findLineEnding("sjis", 2), 2);  // unknown: unchanged
  EXPECT_EQ(findLineEnding("", 3), 3);
}

TEST(UsageTest, ExactText) {
  std::string expected = "mek " MEK_VERSION
                         " - Japanese character code converter (2026-12-07)\n\n"
                         "mek [-i<in-code>] [in-file] -o<out-code> [out-file] -<code>\n"
                         "sample:\n"
                         "  > mek -osjis < input.txt > output.txt\n"
                         "  > mek input.txt -osjis output.txt\n"
                         "  > mek -iauto input.txt -osjis output.txt\n"
                         "  > mek -iauto input.txt -osjis output.txt -unix\n"
                         "character-code:\n";
  const char* codes[] = {"auto",
                         "sjis",
                         "euc_jp",
                         "jis",
                         "utf8",
                         "utf16_be",
                         "utf16_le",
                         "utf16_be_bom",
                         "utf16_le_bom",
                         "utf32_be",
                         "utf32_le",
                         "utf32_be_bom",
                         "utf32_le_bom",
                         "s",
                         "e",
                         "j",
                         "u",
                         "u8",
                         "u16",
                         "u16l",
                         "u16b",
                         "u32",
                         "u32l",
                         "u32b"};
  for (int row = 0; row < 6; ++row) {
    expected += "  ";
    for (int i = 0; i < 4; ++i) expected += pad(codes[row * 4 + i]);
    expected += "\n";
  }
  expected += "return-code:\n  " + pad("unix") + pad("win") + pad("mac") + pad("u") + "\n  " +
              pad("w") + pad("m");
  const std::string text = usageText();
  EXPECT_EQ(text, expected);
  ASSERT_GE(text.size(), 19u);
  EXPECT_EQ(text.substr(text.size() - 19), "m" + std::string(18, ' '));
}

// Through the real executable.
class CliTest : public ::testing::Test {
 protected:
  ScratchDir dir;
  void SetUp() override { writeFile(dir / "in.txt", std::string("a\xE3\x81\x82\r\nb\rc\n")); }
  Bytes file(const std::string& name) { return readFile(dir / name); }
  static Bytes text(const std::string& s) { return Bytes(s.begin(), s.end()); }
};

TEST_F(CliTest, ExitStatusesAndUsage) {
  Process none = runMek(dir, "");
  EXPECT_EQ(none.status, 0);
  EXPECT_EQ(none.out, usageText());
  EXPECT_EQ(none.err, "");

  // With arguments, a missing or wrong output code is an error: the usage
  // goes to standard error, after the name when one was given.
  Process unknownOutput = runMek(dir, "in.txt -oxyz out.txt");
  EXPECT_EQ(unknownOutput.status, 2);
  EXPECT_EQ(unknownOutput.out, "");
  EXPECT_EQ(unknownOutput.err, "not an output code: xyz\n" + usageText());
  EXPECT_FALSE(fs::exists(dir / "out.txt"));  // the usage case creates nothing
  writeFile(dir / "out.txt", std::string("precious"));
  const std::pair<const char*, const char*> wrong[] = {
      {"in.txt -oxyz out.txt", "not an output code: xyz\n"},
      {"in.txt -oauto out.txt", "not an output code: auto\n"},
      {"in.txt -o out.txt", "not an output code: \n"},
      {"-osjis in.txt -oUTF9 out.txt", "not an output code: UTF9 (utf8?)\n"},
      {"in.txt out.txt", "no output code: add -o<code>, for example -outf8\n"},
      {"-iutf8 in.txt --fallback", "no output code: add -o<code>, for example -outf8\n"},
      {"in.txt other.txt -osjis",
       "more than one input file: 'other.txt' (--in-place converts several files)\n"},
      {"in.txt -iutf8 other.txt -osjis",
       "more than one input file: 'other.txt' (--in-place converts several files)\n"},

      {"-iutf8 in.txt -osjis out.txt --errors=ignore", "unknown error policy: ignore\n"},
      {"-iutf8 in.txt -osjis out.txt --errors=", "unknown error policy: \n"},
  };
  for (const auto& [args, message] : wrong) {
    Process p = runMek(dir, args);
    EXPECT_EQ(p.status, 2) << args;
    EXPECT_EQ(p.out, "") << args;
    EXPECT_EQ(p.err, message + usageText()) << args;
    EXPECT_EQ(file("out.txt"), text("precious")) << args;
  }

  EXPECT_EQ(runMek(dir, "in.txt").status, 2);
  EXPECT_EQ(runMek(dir, "-osjis -oxyz", "< in.txt").status, 2);  // the last -o wins
  EXPECT_EQ(runMek(dir, "-iutf8 -oauto", "< in.txt").status, 2);
}

// The error policies through the tool: the bytes, the report on standard
// error and status 0, the same in pieces of 1, 3 and 4096 bytes, on one
// thread or two; a wrong replacement is told before anything is read.
TEST_F(CliTest, ErrorPolicies) {
  // 😀 〜 and 한 have no sjis code, − has none without --fallback; C0 AF is
  // an overlong form, E3 81 a cut-off tail.
  writeFile(dir / "notice.txt", std::string("a\xF0\x9F\x98\x80"
                                            "b\xE3\x80\x9C"
                                            "c\xED\x95\x9C\n"
                                            "\xE2\x88\x92\xC0\xAF\xE3\x81"));
  struct Case {
    const char* arguments;
    std::string out;
    std::string err;
  };
  const std::string first = "the first at byte 1 (line 1, column 2): U+1F600 has no sjis code\n";
  const std::string kanji = "\x81\xAC";  // 〓
  const Case cases[] = {
      {"-osjis --errors=replace", "a?b?c?\n????", "7 changed in \'notice.txt\'; " + first},
      {"-osjis --errors=replace --fallback",
       "a?b\x81\x60"
       "c?\n\x81\x7C???",
       "5 changed in \'notice.txt\'; " + first},
      {"-osjis --errors=skip", "abc\n", "7 changed in \'notice.txt\'; " + first},
      {"-osjis --errors=html", "a&#128512;b&#12316;c&#54620;\n&#8722;&#65533;&#65533;&#65533;",
       "7 changed in \'notice.txt\'; " + first},
      {"-osjis --errors=replace --replacement=\xE3\x80\x93",
       "a" + kanji + "b" + kanji + "c" + kanji + "\n" + kanji + kanji + kanji + kanji,
       "7 changed in \'notice.txt\'; " + first},
      {"-outf8 --errors=replace",
       "a\xF0\x9F\x98\x80"
       "b\xE3\x80\x9C"
       "c\xED\x95\x9C\n"
       "\xE2\x88\x92\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD",
       "3 changed in 'notice.txt'; the first at byte 17 (line 2, column 2): invalid utf8 bytes "
       "C0\n"},
      {"-osjis --errors=replace --verbose", "a?b?c?\n????",
       "changed at byte 1 (line 1, column 2): U+1F600 has no sjis code\n"
       "changed at byte 6 (line 1, column 4): U+301C has no sjis code\n"
       "changed at byte 10 (line 1, column 6): U+D55C has no sjis code\n"
       "changed at byte 14 (line 2, column 1): U+2212 has no sjis code\n"
       "changed at byte 17 (line 2, column 2): invalid utf8 bytes C0\n"
       "changed at byte 18 (line 2, column 3): invalid utf8 bytes AF\n"
       "changed at byte 19 (line 2, column 4): invalid utf8 bytes E3 81\n"},
  };
  for (const Case& c : cases) {
    for (const char* environment :
         {"", "MEK_PIECE_SIZE=1 ", "MEK_PIECE_SIZE=3 ", "MEK_PIECE_SIZE=4096 MEK_WORKERS=0 ",
          "MEK_PIECE_SIZE=3 MEK_WORKERS=0 "}) {
      const std::string arguments = std::string("-iutf8 notice.txt ") + c.arguments;
      Process p = runMek(dir, arguments, "", environment);
      EXPECT_EQ(p.status, 0) << environment << arguments;
      EXPECT_EQ(p.out, c.out) << environment << arguments;
      EXPECT_EQ(p.err, c.err) << environment << arguments;
    }
  }
  writeFile(dir / "out.txt", std::string("precious"));
  const std::pair<const char*, const char*> refused[] = {
      {"--replacement=", "--replacement takes one character\n"},
      {"--replacement=ab", "--replacement takes one character\n"},
      {"--replacement=\xE3\x80", "--replacement takes one character\n"},
      {"--replacement=\xF0\x9F\x98\x80", "cannot use \xF0\x9F\x98\x80 as replacement in sjis\n"},
  };
  for (const auto& [option, message] : refused) {
    Process p = runMek(dir, std::string("-iutf8 notice.txt -osjis out.txt --errors=replace ") +
                                shellQuote(option));
    EXPECT_EQ(p.status, 2) << option;
    EXPECT_EQ(p.err, message) << option;
    EXPECT_EQ(file("out.txt"), text("precious")) << option;
  }
}

// --check lists every problem of a file with several in one run, as a file,
// through a pipe and with detection, and its status says whether there was
// any; several files are named.
TEST_F(CliTest, CheckListsEveryProblem) {
  writeFile(dir / "planted.txt", std::string("a\xF0\x9F\x98\x80"
                                             "b\xE3\x80\x9C"
                                             "c\n"
                                             "\xE3\x81\xFF\xE2\x88\x92\xE3\x81"));
  writeFile(dir / "clean.txt", std::string("\xE3\x81\x82\n"));
  writeFile(dir / "out.txt", std::string("precious"));
  const std::string decoding =
      "byte 11 (line 2, column 1): invalid utf8 bytes E3 81\n"
      "byte 13 (line 2, column 2): invalid utf8 bytes FF\n"
      "byte 17 (line 2, column 4): invalid utf8 bytes E3 81\n";
  const std::string sjis =
      "byte 1 (line 1, column 2): U+1F600 has no sjis code\n"
      "byte 6 (line 1, column 4): U+301C has no sjis code\n"
      "byte 11 (line 2, column 1): invalid utf8 bytes E3 81\n"
      "byte 13 (line 2, column 2): invalid utf8 bytes FF\n"
      "byte 14 (line 2, column 3): U+2212 has no sjis code\n"
      "byte 17 (line 2, column 4): invalid utf8 bytes E3 81\n";
  const struct {
    std::string arguments;
    std::string suffix;
    int status;
    std::string out;
  } cases[] = {
      {"--check -iutf8 planted.txt", "", 1, decoding},
      {"--check -iutf8 -osjis planted.txt", "", 1, sjis},
      {"--check -iutf8 -osjis", "< planted.txt", 1, sjis},
      {"--check -osjis", "< clean.txt", 0, ""},
      {"--check clean.txt", "", 0, ""},
      {"--check -iutf8 -osjis clean.txt planted.txt", "", 1,
       "planted.txt: byte 1 (line 1, column 2): U+1F600 has no sjis code\n"},
  };
  for (const auto& c : cases) {
    for (const char* environment : {"", "MEK_PIECE_SIZE=1 MEK_WORKERS=0 ", "MEK_PIECE_SIZE=3 "}) {
      Process p = runMek(dir, c.arguments, c.suffix, environment);
      EXPECT_EQ(p.status, c.status) << environment << c.arguments;
      EXPECT_EQ(p.err, "") << environment << c.arguments;
      // The last case shows its first line only.
      EXPECT_EQ(p.out.substr(0, c.out.size()), c.out) << environment << c.arguments;
    }
  }
  Process missing = runMek(dir, "--check clean.txt missing.txt");
  EXPECT_EQ(missing.status, 2);
  EXPECT_EQ(missing.err,
            "missing.txt: cannot open input file 'missing.txt': No such file or directory\n");
  EXPECT_EQ(file("out.txt"), text("precious"));
}

TEST_F(CliTest, HelpAndVersionActBeforeAnythingIsOpened) {
  Process help = runMek(dir, "missing.txt -osjis out.txt --help");
  EXPECT_EQ(help.status, 0);
  EXPECT_EQ(help.out.rfind(usageText() + "\n\ncodes", 0), 0u);  // usage, then the details
  for (const char* word : {"cp932", "windows-31j", "utf-8-bom", "--fallback", "--verbose"})
    EXPECT_NE(help.out.find(word), std::string::npos) << word;
  EXPECT_EQ(help.err, "");
  Process version = runMek(dir, "--version missing.txt");
  EXPECT_EQ(version.status, 0);
  EXPECT_EQ(version.out, "mek " MEK_VERSION "\n");
  EXPECT_FALSE(fs::exists(dir / "out.txt"));
}

TEST_F(CliTest, LineEndingOptions) {
  const std::pair<const char*, const char*> cases[] = {
      {"", "a\xE3\x81\x82\nb\nc\n"},
      {"-unix", "a\xE3\x81\x82\nb\nc\n"},
      {"-u", "a\xE3\x81\x82\nb\nc\n"},
      {"-win", "a\xE3\x81\x82\r\nb\r\nc\r\n"},
      {"-w", "a\xE3\x81\x82\r\nb\r\nc\r\n"},
      {"-mac", "a\xE3\x81\x82\rb\rc\r"},
      {"-m", "a\xE3\x81\x82\rb\rc\r"},
      {"-win -xyz -", "a\xE3\x81\x82\r\nb\r\nc\r\n"},
      {"-m -w", "a\xE3\x81\x82\r\nb\r\nc\r\n"},
      {"-esjis", "a\xE3\x81\x82\nb\nc\n"},
      {"-keep", "a\xE3\x81\x82\r\nb\rc\n"},
  };
  for (const auto& [option, expected] : cases) {
    Process p = runMek(dir, std::string("-iutf8 in.txt -outf8 out.txt ") + option);
    EXPECT_EQ(p.status, 0) << option << p.err;
    EXPECT_EQ(file("out.txt"), text(expected)) << option;
  }
}

TEST_F(CliTest, StandardStreams) {
  Process p = runMek(dir, "-outf8", "< in.txt");
  EXPECT_EQ(p.status, 0);
  EXPECT_EQ(p.out, "a\xE3\x81\x82\nb\nc\n");
  // A pipe is read to its end.
  Process piped = runMek(dir, "-iutf8 -outf8 -win", "< in.txt | cat > piped.txt");
  EXPECT_EQ(piped.status, 0);
  EXPECT_EQ(file("piped.txt"), text("a\xE3\x81\x82\r\nb\r\nc\r\n"));
  Process fromPipe = runMek(
      dir, "-outf8 out.txt",
      "< /dev/null; cat in.txt | " + shellQuote(MEK_EXECUTABLE) + " -iutf8 -outf8 fromPipe.txt");
  EXPECT_EQ(fromPipe.status, 0) << fromPipe.err;
  EXPECT_EQ(file("fromPipe.txt"), text("a\xE3\x81\x82\nb\nc\n"));
}

TEST_F(CliTest, WalkOrderRules) {
  writeFile(dir / "other.txt", std::string("other\n"));
  // A second input word, bare or after -i, is an error told before anything
  // is opened.
  const std::string twice =
      "more than one input file: 'other.txt' (--in-place converts several "
      "files)\n" +
      usageText();
  for (const char* arguments : {"in.txt other.txt -outf8", "in.txt -iutf8 other.txt -outf8",
                                "-iutf8 in.txt -iutf8 other.txt -outf8 new.txt"}) {
    const Process p = runMek(dir, arguments);
    EXPECT_EQ(p.status, 2) << arguments;
    EXPECT_EQ(p.err, twice) << arguments;
    EXPECT_FALSE(fs::exists(dir / "new.txt"));
  }
  // "-i sjis": a bare -i names no code.
  writeFile(dir / "sjis", std::string("from a file called sjis\n"));
  Process p = runMek(dir, "-i sjis -outf8");
  EXPECT_EQ(p.status, 2);
  EXPECT_EQ(p.err, "not an input code: \n" + usageText());
  // Two -o files: only the last is created.
  p = runMek(dir, "in.txt -outf8 first.txt -outf8 second.txt");
  EXPECT_EQ(p.status, 0);
  EXPECT_FALSE(fs::exists(dir / "first.txt"));
  EXPECT_EQ(file("second.txt"), text("a\xE3\x81\x82\nb\nc\n"));
}

// Standard input never replaces an existing file that holds something,
// unless --force says so or standard input is that file.
TEST_F(CliTest, StandardInputNeverReplacesAFile) {
  writeFile(dir / "notes.txt", std::string("precious"));
  writeFile(dir / "empty.txt", std::string());
  const std::string refused =
      "refusing to replace 'notes.txt' with standard input: name the input file first (mek "
      "notes.txt -outf8 out.txt), write to standard output (mek -outf8 < in.txt > out.txt), or "
      "add --force\n" +
      usageText();
  for (const std::string& how :
       {std::string("echo | ") + shellQuote(MEK_EXECUTABLE) + " -outf8 notes.txt",
        shellQuote(MEK_EXECUTABLE) + " -outf8 notes.txt < in.txt"}) {
    const Process p = runMek(dir, "", "< /dev/null; " + how);
    EXPECT_EQ(p.status, 2) << how;
    EXPECT_EQ(p.err, refused) << how;
    EXPECT_EQ(file("notes.txt"), text("precious")) << how;
  }
  const Process found = runMek(dir, "",
                               "< /dev/null; find . -name notes.txt -exec " +
                                   shellQuote(MEK_EXECUTABLE) + " -isjis -outf8 {} \\; < in.txt");
  EXPECT_EQ(found.err.rfind("refusing to replace './notes.txt' with standard input", 0), 0u);
  EXPECT_EQ(file("notes.txt"), text("precious"));
  const std::string converted = "a\xE3\x81\x82\nb\nc\n";
  Process p = runMek(dir, "-iutf8 -outf8 empty.txt", "< in.txt");
  EXPECT_EQ(p.status, 0) << p.err;
  EXPECT_EQ(file("empty.txt"), text(converted));
  p = runMek(dir, "-iutf8 -outf8 new.txt", "< in.txt");
  EXPECT_EQ(p.status, 0) << p.err;
  EXPECT_EQ(file("new.txt"), text(converted));
  p = runMek(dir, "-iutf8 -outf8 new.txt -win", "< new.txt");
  EXPECT_EQ(p.status, 0) << p.err;
  EXPECT_EQ(file("new.txt"), text("a\xE3\x81\x82\r\nb\r\nc\r\n"));
  p = runMek(dir, "-iutf8 -outf8 notes.txt --force", "< in.txt");
  EXPECT_EQ(p.status, 0) << p.err;
  EXPECT_EQ(file("notes.txt"), text(converted));
}

// The traps of a command line typed from habit are caught before anything
// is opened: no input on a terminal or device (the text typed would replace
// the file), an unknown long option; "--" ends the options.
TEST_F(CliTest, TrapsAreCaughtBeforeAnythingIsOpened) {
  writeFile(dir / "notes.txt", std::string("precious"));
  writeFile(dir / "-dash.txt", std::string("dash\r\n"));
  writeFile(dir / "--help", std::string("help\n"));
  const std::string noInput = "no input: name a file, or send the text on standard input\n";
  const struct {
    const char* args;
    const char* suffix;
    int status;
    std::string err;
    const char* out;
  } cases[] = {
      {"-outf8 notes.txt", "< /dev/null", 2, noInput + usageText(), ""},
      {"-outf8 notes.txt", "<&-", 2, noInput + usageText(), ""},
      {"--guess", "< /dev/null", 2, noInput + usageText(), ""},
      {"--check", "< /dev/null", 2, noInput + usageText(), ""},
      {"--fallbak -iutf8 in.txt -outf8 notes.txt", "", 2,
       "unknown option: --fallbak\n" + usageText(), ""},
      {"--in-plase -outf8 notes.txt", "", 2, "unknown option: --in-plase\n" + usageText(), ""},
      {"-outf8 notes.txt --detect", "", 2, "unknown option: --detect\n" + usageText(), ""},
      {"--frobnicate --version", "", 0, "", "mek " MEK_VERSION "\n"},
      {"-iutf8 -outf8 -- -dash.txt", "", 0, "", "dash\n"},
      {"-iutf8 -outf8 -- --help", "", 0, "", "help\n"},
      {"-iutf8 -outf8 -- in.txt -dash.txt", "", 2,
       "more than one input file: '-dash.txt' (--in-place converts several files)\n" + usageText(),
       ""},
      {"--in-place -outf8", "", 2, "no files: name the files to convert in place\n", ""},
  };
  for (const auto& c : cases) {
    const Process p = runMek(dir, c.args, c.suffix);
    EXPECT_EQ(p.status, c.status) << c.args << " " << c.suffix;
    EXPECT_EQ(p.err, c.err) << c.args << " " << c.suffix;
    EXPECT_EQ(p.out, c.out) << c.args << " " << c.suffix;
    EXPECT_EQ(file("notes.txt"), text("precious")) << c.args << " " << c.suffix;
  }
  // In place, every word after "--" is a file.
  Process p = runMek(dir, "--in-place -iutf8 -outf8 -win -- -dash.txt");
  EXPECT_EQ(p.status, 0) << p.err;
  EXPECT_EQ(file("-dash.txt"), text("dash\r\n"));
  // A real terminal on standard input, as `mek -outf8 notes.txt` typed at a
  // prompt has it.
  p = runMek(dir, "",
             "; script -qec " + shellQuote(shellQuote(MEK_EXECUTABLE) + " -outf8 notes.txt") +
                 " /dev/null < /dev/null");
  EXPECT_EQ(p.status, 2);
  EXPECT_EQ(p.out.rfind("no input: ", 0), 0u) << p.out;
  EXPECT_EQ(file("notes.txt"), text("precious"));
}

// --guess answers for every file named, each under its name when there are
// several; the status tells that one failed.
TEST_F(CliTest, GuessEveryFile) {
  writeFile(dir / "crlf.txt", hex("82 a0 0d 0a"));
  Process p = runMek(dir, "--guess in.txt crlf.txt missing.txt");
  EXPECT_EQ(p.status, 1);
  EXPECT_EQ(p.out, "in.txt: utf8 MIXED\ncrlf.txt: sjis CRLF\n");
  EXPECT_EQ(p.err,
            "missing.txt: cannot open input file 'missing.txt': No such file or directory\n");
  p = runMek(dir, "--guess -isjis crlf.txt");
  EXPECT_EQ(p.status, 0);
  EXPECT_EQ(p.out, "sjis CRLF\n");
}

TEST_F(CliTest, InPlaceConversion) {
  Process p = runMek(dir, "-iutf8 in.txt -outf8 in.txt -win");
  EXPECT_EQ(p.status, 0) << p.err;
  EXPECT_EQ(file("in.txt"), text("a\xE3\x81\x82\r\nb\r\nc\r\n"));
}

TEST_F(CliTest, FailuresLeaveOutputUntouched) {
  writeFile(dir / "bad.txt", std::string("ok\x80"));
  writeFile(dir / "out.txt", std::string("precious"));
  Process p = runMek(dir, "-iutf8 bad.txt -outf8 out.txt");
  EXPECT_EQ(p.status, 1);
  EXPECT_EQ(p.err,
            "cannot convert bytes in 'bad.txt' at byte 2 (line 1, column 3): invalid utf8 "
            "bytes 80\n");
  EXPECT_EQ(p.out, "");
  EXPECT_EQ(file("out.txt"), text("precious"));

  // Input that no code takes: nothing detected, nothing written, whatever
  // the output code; --guess says the same.
  writeFile(dir / "odd.bin", hex("1B 24 42 FF FF"));
  for (const char* arguments : {"odd.bin -outf8 out.txt", "odd.bin -osjis", "--guess odd.bin"}) {
    p = runMek(dir, arguments);
    EXPECT_EQ(p.status, 1) << arguments;
    EXPECT_EQ(p.err, "cannot detect the input code in 'odd.bin'\n") << arguments;
    EXPECT_EQ(p.out, "") << arguments;
    EXPECT_EQ(file("out.txt"), text("precious"));
  }

  p = runMek(dir, "missing.txt -outf8 out.txt");
  EXPECT_EQ(p.status, 1);
  EXPECT_EQ(p.err, "cannot open input file 'missing.txt': No such file or directory\n");
  EXPECT_EQ(file("out.txt"), text("precious"));

  fs::create_directory(dir / "folder");
  p = runMek(dir, "folder -outf8 out.txt");
  EXPECT_EQ(p.status, 1);
  EXPECT_EQ(p.err, "cannot read input file 'folder': Is a directory\n");
  EXPECT_EQ(file("out.txt"), text("precious"));

  p = runMek(dir, "in.txt -outf8 no/such/dir/out.txt");
  EXPECT_EQ(p.status, 1);
  EXPECT_EQ(p.err, "cannot open output file 'no/such/dir/out.txt': No such file or directory\n");

  p = runMek(dir, "in.txt -outf8 folder");
  EXPECT_EQ(p.status, 1);
  EXPECT_EQ(p.err, "cannot open output file 'folder': Is a directory\n");
}

TEST_F(CliTest, WriteFailuresAreReported) {
  Process p = runMek(dir, "in.txt -outf8 /dev/full");
  EXPECT_EQ(p.status, 1);
  EXPECT_EQ(p.err, "cannot write output file '/dev/full': No space left on device\n");
  p = runMek(dir, "in.txt -outf8", "> /dev/full");
  EXPECT_EQ(p.status, 1);
  EXPECT_EQ(p.err, "cannot write output file: No space left on device\n");
  p = runMek(dir, "in.txt -outf8", ">&-");
  EXPECT_EQ(p.status, 1);
  EXPECT_EQ(p.err, "cannot write output file: Bad file descriptor\n");
}

TEST_F(CliTest, EmptyInputGivesEmptyOutput) {
  writeFile(dir / "empty.txt", std::string());
  Process p = runMek(dir, "-iutf8 empty.txt -outf8 out.txt");
  EXPECT_EQ(p.status, 0);
  EXPECT_TRUE(fs::exists(dir / "out.txt"));
  EXPECT_EQ(file("out.txt"), Bytes());
}

// Input from a pipe is converted as it arrives: the writer waits for the
// first line's output before it sends a bad line, which fails the run with
// its place, and the line already written stays. --buffered holds the
// output until the run has succeeded, so the writer waits in vain (for a
// second) and nothing comes out.
TEST(StreamingTest, PipeInputIsWrittenAsItComes) {
  ScratchDir dir;
  // printf's form of a text's bytes in `code`.
  const auto octal = [](std::string_view text, Code code) {
    std::string out;
    for (const char c : convert(text, Code::utf8, code).bytes) {
      char digits[8];
      std::snprintf(digits, sizeof digits, "\\%03o", static_cast<unsigned char>(c));
      out += digits;
    }
    return out;
  };
  // The first line goes in; the second, which does not read, only once the
  // first has come out (or after `tries` waits).
  const auto run = [&](std::string_view first, const std::string& options, int tries) {
    const std::string printed = octal(std::string(first).substr(0, first.size() - 1), Code::utf8);
    return runScript(dir, "want=$(printf '" + printed +
                              "')\n"
                              "rm -f got\n"
                              "{ printf '" +
                              octal(first, Code::sjis) +
                              "'; i=0\n"
                              "  while [ \"$(cat got 2>/dev/null)\" != \"$want\" ] && [ $i -lt " +
                              std::to_string(tries) +
                              " ]; do sleep 0.05; i=$((i+1)); done\n"
                              "  printf 'b\\205\\n'; } |\n"
                              "  { \"$MEK\" -outf8 " +
                              options +
                              " 2>err; echo $? > status; } | cat > got\n"
                              "cat got; cat status; cat err\n");
  };
  Process p = run("a日\n", "-isjis", 200);
  EXPECT_EQ(p.out,
            "a日\n1\ncannot convert bytes at byte 5 (line 2, column 2): invalid sjis "
            "bytes 85\n");
  p = run("a日\n", "-isjis --buffered", 20);
  EXPECT_EQ(p.out.substr(0, 2), "1\n");
  // Detection decides after a line that makes the code clear, and streams.
  const std::string_view line = "日本語のログの一行です。\n";
  p = run(line, "", 200);
  EXPECT_EQ(p.out,
            std::string(line) +
                "1\ncannot convert bytes at byte 26 (line 2, column 2): invalid sjis bytes 85\n");
}

}  // namespace
}  // namespace mek::test
