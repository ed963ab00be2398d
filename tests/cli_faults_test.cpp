// Faults around the real executable: files that cannot be opened or read,
// outputs that cannot be created, closed standard streams, a memory limit,
// huge argument lists, and the shortest inputs for every code. Every case
// checks the exact message, the exit status and that no file in the scratch
// folder changed except the one a successful run writes.

#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>

#include "tests/test_support.h"

#if defined(__SANITIZE_ADDRESS__)
#define MEK_UNDER_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define MEK_UNDER_ASAN 1
#endif
#endif

namespace mek::test {
namespace {

namespace fs = std::filesystem;

using Tree = std::map<std::string, Bytes>;

// Every regular file below the scratch folder with its contents; large
// sparse inputs by their size only.
Tree snapshot(const ScratchDir& dir) {
  Tree tree;
  for (const auto& entry : fs::recursive_directory_iterator(dir.path())) {
    if (!entry.is_regular_file()) continue;
    const std::string name = fs::relative(entry.path(), dir.path()).string();
    if (entry.file_size() > (1u << 20)) {
      const std::string size = "size " + std::to_string(entry.file_size());
      tree[name] = Bytes(size.begin(), size.end());
    } else {
      tree[name] = readFile(entry.path());
    }
  }
  return tree;
}

Bytes text(const std::string& s) {
  return Bytes(s.begin(), s.end());
}

class CliFaultTest : public ::testing::Test {
 protected:
  ScratchDir dir;
  void SetUp() override {
    writeFile(dir / "in.txt", std::string("abc\r\n"));
    writeFile(dir / "out.txt", std::string("precious"));
  }

  // Runs the tool and checks status, message and that nothing changed.
  void expectFailure(const std::string& arguments, const std::string& suffix, int status,
                     const std::string& message) {
    const Tree before = snapshot(dir);
    Process p = runMek(dir, arguments, suffix);
    EXPECT_EQ(p.status, status) << arguments << " " << suffix;
    EXPECT_EQ(p.err, message) << arguments << " " << suffix;
    EXPECT_EQ(p.out, "") << arguments << " " << suffix;
    EXPECT_EQ(snapshot(dir), before) << arguments << " " << suffix;
  }
};

// Every failure to open or read a file names it and tells the system's
// reason; standard input only the reason.
TEST_F(CliFaultTest, MessagesNameTheFileAndTheReason) {
  writeFile(dir / "plain", std::string("x"));
  fs::create_symlink(dir / "nowhere", dir / "dangling");
  fs::create_directory(dir / "folder");
  const std::string longName(300, 'n');  // longer than a file name may be
  const std::pair<std::string, std::string> inputs[] = {
      {"missing.txt", "open input file 'missing.txt': No such file or directory"},
      {"plain/in.txt", "open input file 'plain/in.txt': Not a directory"},
      {"dangling", "open input file 'dangling': No such file or directory"},
      {longName, "open input file '" + longName + "': File name too long"},
      {"folder", "read input file 'folder': Is a directory"},
  };
  for (const auto& [input, message] : inputs) {
    expectFailure(shellQuote(input) + " -outf8 out.txt", "", 1, "cannot " + message + "\n");
    expectFailure("-iutf8 " + shellQuote(input) + " -outf8", "", 1, "cannot " + message + "\n");
  }
  expectFailure("-iutf8 -outf8 out.txt --force", "< folder", 1,
                "cannot read input file: Is a directory\n");
  // Detection keeps what it reads from a pipe in a temporary file.
  {
    const Tree kept = snapshot(dir);
    const Process p = runScript(dir, "cat in.txt | TMPDIR=missing \"$MEK\" -outf8 out.txt --force");
    EXPECT_EQ(p.status, 1);
    EXPECT_EQ(p.err, "cannot write temporary file in 'missing': No such file or directory\n");
    EXPECT_EQ(snapshot(dir), kept);
  }
  // Permissions do not stop root: those run as nobody.
  if (geteuid() != 0 ||
      std::system("setpriv --reuid=65534 --regid=65534 --clear-groups true 2>/dev/null") != 0) {
    GTEST_SKIP() << "needs root and the user nobody";
  }
  writeFile(dir / "secret.txt", std::string("abc"));
  fs::permissions(dir / "secret.txt", fs::perms::owner_read);
  fs::permissions(dir.path(), fs::perms::others_exec | fs::perms::others_read,
                  fs::perm_options::add);
  const Tree before = snapshot(dir);
  const std::string asNobody = "setpriv --reuid=65534 --regid=65534 --clear-groups \"$MEK\" ";
  Process p = runScript(dir, asNobody + "secret.txt -outf8");
  EXPECT_EQ(p.err, "cannot open input file 'secret.txt': Permission denied\n");
  p = runScript(dir, asNobody + "-iutf8 plain -outf8 new.txt");
  EXPECT_EQ(p.err, "cannot open output file 'new.txt': Permission denied\n");
  EXPECT_EQ(p.status, 1);
  EXPECT_EQ(snapshot(dir), before);
}

TEST_F(CliFaultTest, OutputThatCannotBeCreated) {
  fs::create_directory(dir / "folder");
  const std::string longName(300, 'o');
  const std::pair<std::string, const char*> cases[] = {
      {"no/such/dir/out.txt", "No such file or directory"},
      {"in.txt/out.txt", "Not a directory"},
      {"folder/", "Is a directory"},
      {longName, "File name too long"},
  };
  for (const auto& [output, reason] : cases) {
    expectFailure("-iutf8 in.txt -outf8 " + shellQuote(output), "", 1,
                  "cannot open output file '" + output + "': " + reason + "\n");
  }
  EXPECT_FALSE(fs::exists(dir / "no"));
}

TEST_F(CliFaultTest, LargeInputInLittleMemory) {
#ifdef MEK_UNDER_ASAN
  GTEST_SKIP() << "the address sanitizer reserves far more address space than any limit";
#else
  // Sparse files: no disk space. 300 MB converts under a 100 MB address-space
  // limit, and an input beyond 2 GiB converts at all.
  for (const auto& [size, limit] : {std::pair{std::uintmax_t{300} << 20, 100000},
                                    std::pair{(std::uintmax_t{1} << 31) + 3, 0}}) {
    { std::ofstream(dir / "big.txt").close(); }
    fs::resize_file(dir / "big.txt", size);
    const std::string ulimit = limit != 0 ? "ulimit -v " + std::to_string(limit) + " && " : "";
    Process p = runScript(dir, "(" + ulimit + "exec \"$MEK\" -iutf8 big.txt -outf8 /dev/null)");
    EXPECT_EQ(p.status, 0) << size;
    EXPECT_EQ(p.err, "") << size;
  }
#endif
}

TEST_F(CliFaultTest, ClosedStandardStreams) {
  writeFile(dir / "bad.txt", std::string("ok\x80"));
  // Closed standard output does not matter when the output is a file.
  Process p = runMek(dir, "-iutf8 in.txt -outf8 new.txt", ">&-");
  EXPECT_EQ(p.status, 0);
  EXPECT_EQ(p.err, "");
  EXPECT_EQ(readFile(dir / "new.txt"), text("abc\n"));
  // A failed conversion with standard output closed reports the conversion.
  expectFailure("-iutf8 bad.txt -outf8", ">&-", 1,
                "cannot convert bytes in 'bad.txt' at byte 2 (line 1, column 3): invalid utf8 "
                "bytes 80\n");
  // With standard error closed the message is lost but the status stays.
  const Tree before = snapshot(dir);
  p = runMek(dir, "-iutf8 bad.txt -outf8 out.txt", "2>&-");
  EXPECT_EQ(p.status, 1);
  EXPECT_EQ(snapshot(dir), before);
}

TEST_F(CliFaultTest, VeryLongArgumentLists) {
  // 30000 ignored or repeated options between the real ones.
  std::string many;
  for (int i = 0; i < 10000; ++i) many += " -xyz -w -";
  Process p = runScript(dir, "\"$MEK\" -iutf8 in.txt" + many + " -outf8 new.txt");
  EXPECT_EQ(p.status, 0);
  EXPECT_EQ(p.err, "");
  EXPECT_EQ(readFile(dir / "new.txt"), text("abc\r\n"));

  // One argument of 100000 characters is an unknown output code: the name
  // and the usage on standard error.
  const Tree before = snapshot(dir);
  p = runScript(dir, "\"$MEK\" in.txt -o" + std::string(100000, 'x') + " out.txt");
  EXPECT_EQ(p.status, 2);
  EXPECT_EQ(p.out, "");
  EXPECT_EQ(p.err.rfind("not an output code: " + std::string(100000, 'x') + "\nmek ", 0), 0u);
  EXPECT_EQ(snapshot(dir), before);

  // As a line-ending option it changes nothing; as a second file name it is
  // told before anything is opened.
  p = runScript(dir, "\"$MEK\" -iutf8 in.txt -" + std::string(100000, 'w') + " -outf8");
  EXPECT_EQ(p.status, 0);
  EXPECT_EQ(p.out, "abc\n");
  p = runScript(dir, "\"$MEK\" -iutf8 in.txt extra" + std::string(100000, 'y') + " -outf8");
  EXPECT_EQ(p.status, 2);
  EXPECT_EQ(p.err.rfind("more than one input file: 'extra" + std::string(100000, 'y') + "'", 0),
            0u);
  EXPECT_EQ(snapshot(dir), before);
}

// The shortest inputs for every input code, converted to UTF-8: empty, one
// byte, and an odd length. A cut-off final sequence or unit fails the run as
// malformed at its first byte (`at`), and the output file keeps its text.
TEST_F(CliFaultTest, ShortInputsForEveryInputCode) {
  struct Case {
    const char* code;
    const char* input;   // hex
    const char* output;  // when it converts
    int at;              // the offset of the cut otherwise
  };
  const Case cases[] = {
      {"sjis", "", "", -1},
      {"sjis", "41", "A", -1},
      {"sjis", "82", nullptr, 0},
      {"sjis", "41 42 82", nullptr, 2},
      {"cp932", "41 42 82", nullptr, 2},
      {"euc_jp", "", "", -1},
      {"euc_jp", "a4", nullptr, 0},
      {"euc_jp", "41 42 8f", nullptr, 2},
      {"euc_jp", "41 42 8f a1", nullptr, 2},
      {"jis", "", "", -1},
      {"jis", "1b", "\x1b", -1},  // a cut-off escape is read as characters
      {"jis", "1b 24 42 30", nullptr, 3},
      {"utf8", "", "", -1},
      {"utf8", "e3", nullptr, 0},
      {"utf8", "41 e3 81", nullptr, 1},
      {"utf16_be", "", "", -1},
      {"utf16_be", "00", nullptr, 0},
      {"utf16_be", "00 41 00", nullptr, 2},
      {"utf16_be", "00 41 d8 3d", nullptr, 2},
      {"utf16_le", "41", nullptr, 0},
      {"utf16_le", "41 00 42", nullptr, 2},
      {"utf16_be_bom", "fe", nullptr, 0},
      {"utf16_be_bom", "ff fe 41 00 42", nullptr, 4},
      {"utf16_le_bom", "ff", nullptr, 0},
      {"utf16_le_bom", "fe ff 00 41 00", nullptr, 4},
      {"utf32_be", "00", nullptr, 0},
      {"utf32_be", "00 00 00 41 00 00 00", nullptr, 4},
      {"utf32_le", "41", nullptr, 0},
      {"utf32_le", "41 00 00 00 42", nullptr, 4},
      {"utf32_be_bom", "00", nullptr, 0},
      {"utf32_be_bom", "00 00 fe ff 00 00 00 41 00", nullptr, 8},
      {"utf32_le_bom", "ff", nullptr, 0},
      {"utf32_le_bom", "ff fe 00 00 41 00 00 00 00", nullptr, 8},
  };
  for (const Case& c : cases) {
    const Bytes input = hex(c.input);
    writeFile(dir / "short.bin", input);
    writeFile(dir / "out.txt", std::string("precious"));
    Process p = runMek(dir, std::string("-i") + c.code + " short.bin -outf8 out.txt --verbose");
    if (c.output != nullptr) {
      EXPECT_EQ(p.status, 0) << c.code << " " << c.input;
      EXPECT_EQ(p.err, "") << c.code << " " << c.input;
      EXPECT_EQ(readFile(dir / "out.txt"), text(c.output)) << c.code << " " << c.input;
    } else {
      EXPECT_EQ(p.status, 1) << c.code << " " << c.input;
      EXPECT_EQ(p.err.rfind(
                    "cannot convert bytes in 'short.bin' at byte " + std::to_string(c.at) + " ", 0),
                0u)
          << c.code << " " << c.input << ": " << p.err;
      EXPECT_NE(p.err.find(": invalid "), std::string::npos) << p.err;
      EXPECT_EQ(readFile(dir / "out.txt"), text("precious")) << c.code << " " << c.input;
    }
    EXPECT_EQ(readFile(dir / "short.bin"), input);
  }
}

// Empty and one-character text for every output code.
TEST_F(CliFaultTest, ShortInputsForEveryOutputCode) {
  struct Case {
    const char* code;
    const char* empty;   // hex of the output for empty input
    const char* letter;  // hex of the output for "A"
  };
  const Case cases[] = {
      {"sjis", "", "41"},
      {"euc_jp", "", "41"},
      {"jis", "", "41"},
      {"utf8", "", "41"},
      {"utf16_be", "", "00 41"},
      {"utf16_le", "", "41 00"},
      {"utf16_be_bom", "fe ff", "fe ff 00 41"},
      {"utf16_le_bom", "ff fe", "ff fe 41 00"},
      {"utf32_be", "", "00 00 00 41"},
      {"utf32_le", "", "41 00 00 00"},
      {"utf32_be_bom", "00 00 fe ff", "00 00 fe ff 00 00 00 41"},
      {"utf32_le_bom", "ff fe 00 00", "ff fe 00 00 41 00 00 00"},
  };
  writeFile(dir / "empty.txt", Bytes());
  writeFile(dir / "letter.txt", std::string("A"));
  for (const Case& c : cases) {
    for (const auto& [input, expected] :
         {std::pair{"empty.txt", c.empty}, std::pair{"letter.txt", c.letter}}) {
      writeFile(dir / "out.txt", std::string("precious"));
      Process p = runMek(dir, std::string("-iutf8 ") + input + " -o" + c.code + " out.txt");
      EXPECT_EQ(p.status, 0) << c.code << " " << input;
      EXPECT_EQ(p.err, "") << c.code << " " << input;
      EXPECT_EQ(toHex(readFile(dir / "out.txt")), toHex(hex(expected))) << c.code << " " << input;
    }
  }
}

}  // namespace
}  // namespace mek::test

namespace mek::test {
namespace {

// The second round of edge faults on the command line: each case leaves
// every file as it was (or converts it once), with its message and status.
class EdgeFaultTest : public CliFaultTest {};

TEST_F(EdgeFaultTest, OutputThatIsTheInputIsRefused) {
  // Appending to the input file would read the output back, forever.
  expectFailure("-iutf8 in.txt -outf8", ">> in.txt", 1, "input file is output file: 'in.txt'\n");
  expectFailure("-iutf8 -outf8", "< in.txt >> in.txt", 1,
                "input file is output file: standard input\n");
  // A named output is replaced whole, so the same file is fine there.
  const Process p = runMek(dir, "-iutf8 in.txt -outf8 in.txt");
  EXPECT_EQ(p.status, 0) << p.err;
}

TEST_F(EdgeFaultTest, InPlaceTakesRegularFilesOnlyAndEachFileOnce) {
  ASSERT_EQ(mkfifo((dir / "fifo").c_str(), 0600), 0);
  fs::create_directory(dir / "folder");
  const Process p = runMek(dir, "--in-place -iutf8 -outf8 fifo folder in.txt");
  EXPECT_EQ(p.status, 1);
  EXPECT_EQ(p.err, "fifo: not a regular file: 'fifo'\nfolder: not a regular file: 'folder'\n");
  EXPECT_EQ(readFile(dir / "in.txt"), text("abc\n"));
  // The same file by two paths through a bind mount is converted once.
  fs::create_directory(dir / "d");
  fs::create_directory(dir / "d2");
  writeFile(dir / "d" / "t", std::string("t\n"));
  if (geteuid() != 0 ||
      mount((dir / "d").c_str(), (dir / "d2").c_str(), nullptr, MS_BIND, nullptr) != 0) {
    GTEST_SKIP() << "a bind mount needs root";
  }
  const Process twice = runMek(dir, "--in-place -iutf8 -outf16_le d/t d2/t");
  umount((dir / "d2").c_str());
  EXPECT_EQ(twice.status, 0) << twice.err;
  EXPECT_EQ(readFile(dir / "d" / "t"), hex("74 00 0a 00"));
}

// --guess from a pipe reads it once and keeps nothing: a temporary folder
// that cannot be written does not matter.
TEST_F(EdgeFaultTest, GuessFromAPipeNeedsNoTemporaryFile) {
  writeFile(dir / "crlf.txt", hex("82 a0 0d 0a 41 0d 0a"));
  writeFile(dir / "bad.txt", std::string("abc \xE6\x97\xA5\xFF\n"));
  Process p = runScript(dir, "cat crlf.txt | TMPDIR=missing \"$MEK\" --guess");
  EXPECT_EQ(p.status, 0) << p.err;
  EXPECT_EQ(p.out, "sjis CRLF\n");
  p = runScript(dir, "cat bad.txt | TMPDIR=missing \"$MEK\" --guess");
  EXPECT_EQ(p.status, 1);
  EXPECT_EQ(p.err,
            "cannot detect the input code: it reads as utf8 except at byte 7 (line 1, "
            "column 6): invalid utf8 bytes FF\n");
}

// Every change is listed once, at its own place: one byte that ends three
// EUC-JP sequences, and a kana the mail form cannot write, which it held to
// see whether a voiced mark follows.
TEST_F(EdgeFaultTest, EveryChangeAtItsOwnPlace) {
  writeFile(dir / "euc.txt", hex("78 8f e3 95 79 0a"));
  Process p = runMek(dir, "-ieuc_jp euc.txt -outf8 --errors=replace --verbose");
  EXPECT_EQ(p.err,
            "changed at byte 1 (line 1, column 2): invalid euc_jp bytes 8F\n"
            "changed at byte 2 (line 1, column 3): invalid euc_jp bytes E3\n"
            "changed at byte 3 (line 1, column 4): invalid euc_jp bytes 95\n");
  p = runMek(dir, "--check -ieuc_jp euc.txt");
  EXPECT_EQ(p.out,
            "byte 1 (line 1, column 2): invalid euc_jp bytes 8F\n"
            "byte 2 (line 1, column 3): invalid euc_jp bytes E3\n"
            "byte 3 (line 1, column 4): invalid euc_jp bytes 95\n");
  writeFile(dir / "kana.txt", std::string("x\xE3\x83\xBF"));  // xヿ
  for (const char* piece : {"", "MEK_PIECE_SIZE=1 "}) {
    p = runMek(dir, "--check -iutf8 kana.txt -oiso2022jp", "", piece);
    EXPECT_EQ(p.out, "byte 1 (line 1, column 2): U+30FF has no iso2022jp code\n") << piece;
  }
}

// Names and words are shown quoted, so that none can move the terminal or
// forge a line: ESC, BEL, CR and LF come out as $'...' escapes.
TEST_F(EdgeFaultTest, NamesCannotForgeLines) {
  const std::string name = "a\x1b]0;title\x07\rb\nimportant.txt: converted";
  writeFile(dir / name, std::string("ok\xff"));
  const std::string shown = "$'a\\e]0;title\\a\\rb\\nimportant.txt: converted'";
  Process p = runMek(dir, "--in-place -iutf8 -outf8 " + shellQuote(name));
  EXPECT_EQ(p.status, 1);
  EXPECT_EQ(p.err, shown +
                       ": cannot convert bytes at byte 2 (line 1, column 3): invalid utf8 "
                       "bytes FF\n");
  p = runMek(dir, "-iutf8 " + shellQuote(name) + " -outf8");
  EXPECT_EQ(p.err, "cannot convert bytes in " + shown +
                       " at byte 2 (line 1, column 3): invalid utf8 bytes FF\n");
  p = runMek(dir, "--guess missing" + shellQuote("\n") + "x in.txt");
  EXPECT_EQ(p.err,
            "$'missing\\nx': cannot open input file $'missing\\nx': No such file or "
            "directory\n");
  p = runMek(dir, shellQuote("--bad\x1b[2J") + " in.txt -outf8");
  EXPECT_EQ(p.err.rfind("unknown option: $'--bad\\e[2J'\n", 0), 0u) << p.err;
  // Printable names, Japanese ones included, stay as they are.
  writeFile(dir / "日本'語.txt", std::string("x\xff"));
  p = runMek(dir, "-iutf8 " + shellQuote("日本'語.txt") + " -outf8");
  EXPECT_EQ(p.err.rfind("cannot convert bytes in '日本'\\''語.txt' at byte 1", 0), 0u) << p.err;
}

}  // namespace
}  // namespace mek::test
