// --repair and --rename through the real executable: what each writes and
// tells, the same in pieces that cut the lines and on one thread or two.

#include <gtest/gtest.h>

#include <filesystem>
#include <set>
#include <string>

#include "tests/test_support.h"

namespace mek::test {
namespace {

namespace fs = std::filesystem;

// Clean lines, two lines of one turn, a lossy one and a file name of
// another: the stretches, the lost character under each policy, --check,
// --guess and --verbose.
TEST(RepairCliTest, RepairTellsWhatItDid) {
  ScratchDir dir;
  writeFile(dir / "m.txt", std::string("ok Café\n‚±‚ñ‚É‚¿‚Í\r\n‚±‚ñ‚É‚¿‚Í\n"
                                       "縺薙ｓ縺ｫ縺｡縺ｯ縲∽ｸ也阜縲\né▒é±é╔é┐é═.txt\n"));
  writeFile(dir / "clean.txt", std::string("こんにちは、世界。\nnaïve Straße Ærø\nCafÃ© $@\n"));
  // A line that waits (one kanji, 月 as cp932 read as cp1252) and stays when
  // the next line is repaired through another turn: what the output code
  // refuses in it is placed where it stands.
  writeFile(dir / "waits.txt", std::string("1 ŒŽ\n縺薙ｓ縺ｫ縺｡縺ｯ\n"));
  const std::string repaired =
      "ok Café\nこんにちは\nこんにちは\nこんにちは、世界\xEF\xBF\xBD\n"
      "こんにちは.txt\n";
  const std::string summary =
      "repaired 4 lines (cp932 read as cp1252, utf8 read as cp932, cp932 read as cp437): the "
      "first at line 2\n";
  struct Case {
    const char* arguments;
    int status;
    std::string out;
    std::string err;
  };
  const Case cases[] = {
      {"-iutf8 m.txt --repair -outf8", 1, "",
       "cannot convert bytes in 'm.txt' at the end of line 4: mojibake repaired there lost a "
       "character (--errors=replace writes U+FFFD)\n"},
      {"-iutf8 m.txt --repair -outf8 --errors=replace", 0, repaired,
       summary + "1 character was lost and written as U+FFFD\n"},
      {"-iutf8 m.txt --repair -outf8 --errors=skip -win", 0,
       "ok Café\r\nこんにちは\r\nこんにちは\r\nこんにちは、世界\r\nこんにちは.txt\r\n",
       summary + "1 character was lost and dropped\n"},
      {"-iutf8 m.txt --repair -outf8 --errors=replace --verbose", 0, repaired,
       "repaired lines 2-3 (cp932 read as cp1252)\n"
       "repaired line 4 (utf8 read as cp932), 1 character lost and written as U+FFFD\n"
       "repaired line 5 (cp932 read as cp437)\n"},
      {"--guess --repair m.txt", 0,
       "utf8 MIXED, mojibake: cp932 read as cp1252 (lines 2-3), utf8 read as cp932 (line 4), "
       "cp932 read as cp437 (line 5)\n",
       ""},
      {"--check --repair m.txt clean.txt", 1,
       "m.txt: lines 2-3: mojibake: cp932 read as cp1252\n"
       "m.txt: line 4: mojibake: utf8 read as cp932, 1 character lost\n"
       "m.txt: line 5: mojibake: cp932 read as cp437\n",
       ""},
      {"clean.txt --repair -outf8", 0, "こんにちは、世界。\nnaïve Straße Ærø\nCafÃ© $@\n", ""},
      {"--guess --repair clean.txt", 0, "utf8 LF\n", ""},
      {"--check --repair clean.txt", 0, "", ""},
      {"-iutf8 waits.txt --repair -osjis", 1, "",
       "cannot convert bytes in 'waits.txt' at byte 2 (line 1, column 3): U+0152 has no sjis code\n"},
  };
  for (const Case& c : cases) {
    for (const char* environment :
         {"", "MEK_PIECE_SIZE=1 ", "MEK_PIECE_SIZE=7 ", "MEK_PIECE_SIZE=3 MEK_WORKERS=0 "}) {
      Process p = runMek(dir, c.arguments, "", environment);
      EXPECT_EQ(p.status, c.status) << environment << c.arguments;
      EXPECT_EQ(p.out, c.out) << environment << c.arguments;
      EXPECT_EQ(p.err, c.err) << environment << c.arguments;
    }
  }
  // From a pipe, the guess reads once.
  Process piped = runMek(dir, "--guess --repair", "< m.txt");
  EXPECT_EQ(piped.out, cases[4].out);
}

std::set<std::string> namesIn(const fs::path& folder) {
  std::set<std::string> names;
  for (const auto& entry : fs::recursive_directory_iterator(folder)) {
    names.insert(fs::relative(entry.path(), folder).string());
  }
  return names;
}

// The names of an unpacked ZIP (the cp437 reading of cp932 names, in
// UTF-8) and raw Shift_JIS names, with correct ones beside them that stay.
TEST(RepairCliTest, RenameConvertsNamesDepthFirst) {
  ScratchDir dir;
  const std::string sjisKonnichiwa = "\x82\xb1\x82\xf1\x82\xc9\x82\xbf\x82\xcd";
  const std::string sjisNihon = "\x93\xfa\x96\x7b";
  fs::create_directories(dir / "zip" / "é▒é±é╔é┐é═");
  fs::create_directories(dir / "raw" / sjisNihon);
  for (const std::string& name :
       {std::string("zip/é▒é±é╔é┐é═.txt"), std::string("zip/é▒é±é╔é┐é═/Café.txt"),
        std::string("zip/こんにちは.md"), std::string("zip/plain.txt"),
        "raw/" + sjisKonnichiwa + ".txt", "raw/" + sjisNihon + "/" + sjisNihon + ".txt",
        std::string("raw/日本語.txt")}) {
    writeFile(dir / name, name);
  }
  Process p = runMek(dir, "--rename --repair -outf8 zip --dry-run");
  EXPECT_EQ(p.status, 0) << p.err;
  EXPECT_EQ(p.out,
            "'zip/é▒é±é╔é┐é═' -> 'zip/こんにちは'\n"
            "'zip/é▒é±é╔é┐é═.txt' -> 'zip/こんにちは.txt'\n");
  EXPECT_TRUE(fs::exists(dir / "zip/é▒é±é╔é┐é═.txt"));
  p = runMek(dir, "--rename --repair -outf8 zip");
  EXPECT_EQ(p.status, 0) << p.err;
  EXPECT_EQ(namesIn(dir / "zip"),
            (std::set<std::string>{"こんにちは.txt", "こんにちは", "こんにちは/Café.txt",
                                   "こんにちは.md", "plain.txt"}));
  EXPECT_EQ(readFile(dir / "zip/こんにちは/Café.txt").size(),
            std::string("zip/é▒é±é╔é┐é═/Café.txt").size());
  p = runMek(dir, "--rename -isjis -outf8 raw");
  EXPECT_EQ(p.status, 0) << p.err;
  EXPECT_EQ(p.out,
            "$'raw/\\x82\\xB1\\x82\\xF1\\x82ɂ\\xBF\\x82\\xCD.txt' -> 'raw/こんにちは.txt'\n"
            "$'raw/\\x93\\xFA\\x96{/\\x93\\xFA\\x96{.txt' -> $'raw/\\x93\\xFA\\x96{/日本.txt'\n"
            "$'raw/\\x93\\xFA\\x96{' -> 'raw/日本'\n");
  EXPECT_EQ(namesIn(dir / "raw"),
            (std::set<std::string>{"こんにちは.txt", "日本", "日本/日本.txt", "日本語.txt"}));
  // Every name is right now: nothing to do, nothing told.
  for (const char* again : {"--rename --repair -outf8 zip raw", "--rename -isjis -outf8 zip raw"}) {
    p = runMek(dir, again);
    EXPECT_EQ(p.status, 0) << again;
    EXPECT_EQ(p.out + p.err, "") << again;
  }
  // An existing name is never replaced; the name stays, with a message.
  writeFile(dir / "raw" / (sjisNihon + ".txt"), std::string("old"));
  writeFile(dir / "raw/日本.txt", std::string("new"));
  p = runMek(dir, "--rename -isjis -outf8 raw");
  EXPECT_EQ(p.status, 1);
  EXPECT_EQ(p.err, "cannot rename $'raw/\\x93\\xFA\\x96{.txt': 'raw/日本.txt' exists\n");
  EXPECT_EQ(readFile(dir / "raw/日本.txt"), Bytes({'n', 'e', 'w'}));
  // No path is an error; -o takes no file word.
  p = runMek(dir, "--rename -outf8");
  EXPECT_EQ(p.status, 2);
  EXPECT_EQ(p.err, "no files: name the files and folders to rename\n");
}

}  // namespace
}  // namespace mek::test
