// Every code name, as typed after -i and -o: the table itself, the forgiving
// match, and each name through the executable.

#include <gtest/gtest.h>

#include <cctype>
#include <string>

#include "mek/codes.h"
#include "mek/mek.h"
#include "tests/test_support.h"

namespace mek::test {
namespace {

TEST(CodeNamesTest, TypedNamesFindTheirCodes) {
  const std::pair<const char*, int> cases[] = {
      {"utf-8", kCodeUtf8},
      {"UTF-8", kCodeUtf8},
      {"UTF8", kCodeUtf8},
      {"shift_jis", kCodeSjis},
      {"Shift_JIS", kCodeSjis},
      {"shiftjis", kCodeSjis},
      {"SJIS", kCodeSjis},
      {"S", kCodeSjis},
      {"euc-jp", kCodeEucJp},
      {"EUC-JP", kCodeEucJp},
      {"eucjp", kCodeEucJp},
      {"iso-2022-jp", kCodeIso2022jp},
      {"ISO-2022-JP", kCodeIso2022jp},
      {"iso2022jp", kCodeIso2022jp},
      {"csISO2022JP", kCodeIso2022jp},
      {"jis", kCodeJis},
      {"J", kCodeJis},
      {"utf-16be", kCodeUtf16Be},
      {"utf-16le", kCodeUtf16Le},
      {"utf_16LE", kCodeUtf16Le},
      {"utf-16", kCodeUtf16LeBom},
      {"UTF-16", kCodeUtf16LeBom},
      {"U", kCodeUtf16LeBom},
      {"utf-32be", kCodeUtf32Be},
      {"utf-32le", kCodeUtf32Le},
      {"utf-32", kCodeUtf32LeBom},
      {"cp932", kCodeCp932},
      {"CP932", kCodeCp932},
      {"windows-31j", kCodeCp932},
      {"Windows-31J", kCodeCp932},
      {"ms932", kCodeCp932},
      {"MS932", kCodeCp932},
      {"utf8_bom", kCodeUtf8Bom},
      {"utf-8-bom", kCodeUtf8Bom},
      {"UTF-8-BOM", kCodeUtf8Bom},
      {"AUTO", kCodeAuto},
      {"utf--8", kCodeUtf8},
      {"-", kCodeAuto},
      {"utf9", kCodeAuto},
  };
  for (const auto& [name, code] : cases) EXPECT_EQ(findCode(name), code) << name;
  EXPECT_FALSE(codeFor("xyz").has_value());
  EXPECT_FALSE(codeFor("-_").has_value());
  // Every name of the table finds its own code, exactly and in capitals.
  for (const CodeName& entry : codeNames()) {
    std::string upper = entry.name;
    for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    EXPECT_EQ(codeFor(entry.name), entry.code) << entry.name;
    EXPECT_EQ(codeFor(upper), entry.code) << upper;
  }
}

// Each name after -o writes what the code's full name writes, and after -i
// reads it back.
TEST(CodeNamesTest, EveryNameWorksForInputAndOutput) {
  ScratchDir dir;
  writeFile(dir / "in.txt", std::string("a\xE3\x81\x82\n"));
  for (const CodeName& entry : codeNames()) {
    if (entry.code == Code::autodetect) continue;
    SCOPED_TRACE(entry.name);
    std::string upper = entry.name;
    for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    const std::string full(name(entry.code));
    const Process expected = runMek(dir, "-iutf8 in.txt -o" + full + " expected.bin");
    ASSERT_EQ(expected.status, 0) << expected.err;
    for (const std::string& name : {std::string(entry.name), upper}) {
      Process p = runMek(dir, "-iutf8 in.txt -o" + name + " out.bin");
      EXPECT_EQ(p.status, 0) << name << p.err;
      EXPECT_EQ(readFile(dir / "out.bin"), readFile(dir / "expected.bin")) << name;
      p = runMek(dir, "-i" + name + " expected.bin -outf8");
      EXPECT_EQ(p.status, 0) << name << p.err;
      EXPECT_EQ(p.out, "a\xE3\x81\x82\n") << name;
    }
  }
}

// An unknown input code is an error, as an unknown output code is, with the
// one close name when there is one; auto and no -i detect.
TEST(CodeNamesTest, UnknownInputNamesAreErrors) {
  ScratchDir dir;
  writeFile(dir / "in.txt", std::string("a\xE3\x81\x82\n"));
  const std::pair<const char*, const char*> wrong[] = {
      {"-ixyz in.txt -outf8", "not an input code: xyz\n"},
      {"-isjsi in.txt -outf8", "not an input code: sjsi (sjis?)\n"},
      {"-iEUC_PJ in.txt -outf8", "not an input code: EUC_PJ (euc_jp?)\n"},
      {"-input.txt -outf8", "not an input code: nput.txt\n"},
      {"-i in.txt -outf8", "not an input code: \n"},
      {"--guess -ixyz in.txt", "not an input code: xyz\n"},
      {"-iutf8 in.txt -outf9", "not an output code: utf9 (utf8?)\n"},
      {"-iutf8 in.txt -ox", "not an output code: x\n"},  // close to several
  };
  for (const auto& [arguments, message] : wrong) {
    const Process p = runMek(dir, arguments);
    EXPECT_EQ(p.status, 2) << arguments;
    EXPECT_EQ(p.err.rfind(std::string(message) + "mek ", 0), 0u) << arguments << ": " << p.err;
    EXPECT_EQ(p.out, "") << arguments;
  }
  EXPECT_EQ(runMek(dir, "--verbose -iauto in.txt -outf8").err,
            "detected utf8\nscore 38.33, no runner-up\n");
  EXPECT_EQ(runMek(dir, "--verbose -iUTF-8 in.txt -outf8").err, "");
  EXPECT_EQ(runMek(dir, "in.txt -outf8").out, "a\xE3\x81\x82\n");
}

TEST(CodeNamesTest, FallbackThroughTheExecutable) {
  ScratchDir dir;
  writeFile(dir / "in.txt", std::string("\xE3\x80\x9C\xE2\x88\x92\xE2\x80\x94\n"));  // 〜−—
  Process p = runMek(dir, "-iutf8 in.txt -osjis");
  EXPECT_EQ(p.status, 1);
  EXPECT_EQ(p.err,
            "cannot convert bytes in 'in.txt' at byte 0 (line 1, column 1): U+301C has no "
            "sjis code\n");
  p = runMek(dir, "--fallback -iutf8 in.txt -osjis");
  EXPECT_EQ(p.status, 0);
  EXPECT_EQ(p.out, "\x81\x60\x81\x7C\x81\x5C\n");
  EXPECT_EQ(runMek(dir, "-iutf8 in.txt -ocp932").out, p.out);
}

}  // namespace
}  // namespace mek::test
