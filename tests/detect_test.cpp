#include "mek/detect.h"

#include <gtest/gtest.h>

#include <string>

#include "japanese/code_table.h"
#include "japanese/tables/sjis_to_unicode.h"
#include "tests/test_support.h"

namespace mek::test {
namespace {

int detect(const Bytes& bytes) {
  return detectEncoding(bytes.data(), bytes.data() + bytes.size());
}

struct DetectCase {
  const char* what;
  const char* input;  // hex
  int code;
};

TEST(DetectEncodingTest, StepsAndTheirOrder) {
  const DetectCase cases[] = {
      // Marks come first, whatever follows them.
      {"UTF-8 mark before invalid UTF-8", "EF BB BF FF FF", 4},
      {"UTF-8 mark alone", "EF BB BF", 4},
      {"UTF-16 BE mark", "FE FF 00 41", 7},
      {"UTF-16 BE mark alone", "FE FF", 7},
      {"UTF-16 LE mark", "FF FE 41 00", 8},
      {"four-byte LE mark before its two-byte prefix", "FF FE 00 00", 12},
      {"four-byte LE mark with text", "FF FE 00 00 41 00 00 00", 12},
      {"UTF-32 BE mark", "00 00 FE FF", 11},
      // Empty input is UTF-8; short input without a mark is not UTF-32.
      {"empty", "", 4},
      {"one byte", "61", 1},
      {"three bytes", "61 62 0A", 1},
      {"three bytes of UTF-8", "E3 81 82", 4},
      {"two EUC-JP bytes", "A4 A2", 2},
      // UTF-32 before ISO-2022-JP before Shift_JIS.
      {"UTF-32 BE with an ESC unit", "00 00 00 1B 00 00 00 41", 9},
      {"UTF-32 BE with a cut-off unit is no UTF-32", "00 00 00 41 0A", 1},
      {"UTF-32 LE", "41 00 00 00 42 30 00 00", 10},
      {"UTF-32 LE is tested after BE", "00 00 00 00", 9},
      {"ISO-2022-JP", "1B 24 42 24 22 1B 28 42 41", 3},
      {"ESC in ASCII text is ISO-2022-JP", "61 1B 62 63", 3},
      {"invalid ISO-2022-JP goes on to Shift_JIS", "61 1B 24 42 0A 41 62", 1},
      {"plain ASCII", "61 62 63 64", 1},
      {"Shift_JIS kana", "82 A0 82 A2 41", 1},
      {"Shift_JIS before EUC-JP when both fit", "88 9F 88 9F", 1},
      // Half-width katakana and a final lead byte fail the Shift_JIS test;
      // when no later test takes the text, the Shift_JIS decoder does.
      {"Shift_JIS with half-width katakana", "82 A0 B1 41", 1},
      {"half-width katakana that EUC-JP rejects", "B1 B2 B3 0D 0A 82 A0", 1},
      {"half-width katakana after a valid UTF-8 start", "E3 81 82 B1 DF", 1},
      // A code that needs a cut-off final sequence does not read the text.
      {"Shift_JIS with a final lead byte is no EUC-JP", "41 42 43 E3", 0},
      {"half-width katakana cut off as EUC-JP", "B1 B2 B3", 1},
      {"EUC-JP", "A4 A2 A4 A4 0A", 2},
      {"EUC-JP with JIS X 0212", "8F B0 A1 41 42", 2},
      {"UTF-8", "E3 81 82 0D 0A", 4},
      {"UTF-8 that is also valid Shift_JIS", "E3 81 82 E3 81 84", 1},
      {"UTF-8 after EUC-JP fails", "41 C3 80 41", 4},
      // The UTF-8 test rejects overlong forms and encoded surrogates.
      {"overlong UTF-8 is no UTF-8", "41 C0 80 41 41", 0},
      {"an encoded surrogate is no UTF-8; the Shift_JIS decoder takes it", "41 ED BF BF 41", 1},
      // The last resort takes only whole UTF-16LE of even length that reads
      // as text (Ｐあ here), not noise.
      {"nothing else fits", "30 FF 42 30", 6},
      {"nothing fits", "FF FF FF FF", 0},
      {"nothing fits, odd length", "FF FF FF", 0},
      {"corrupt ISO-2022-JP of odd length", "1B 24 42 FF FF", 0},
      {"nothing fits, unpaired low surrogate", "FF FF 00 DC", 0},
      {"nothing fits, high surrogate at the end", "FF FF 00 D8", 0},
  };
  for (const DetectCase& c : cases) EXPECT_EQ(detect(hex(c.input)), c.code) << c.what;
}

TEST(DetectEncodingTest, EveryAsciiByteIsMappedByItself) {
  // The Shift_JIS test skips ASCII runs without looking them up; that is only
  // sound because row 0 maps every byte below 0x80.
  for (int b = 0; b < 0x80; ++b) {
    EXPECT_EQ(lookup(SjisToUnicode(), 0, static_cast<std::uint8_t>(b)), b);
  }
}

TEST(DetectEncodingTest, LooksLikeSjisAndJis) {
  auto sjis = [](const std::string& h) {
    Bytes b = hex(h);
    ConversionBuffer buffer;
    buffer.in_begin = b.data();
    buffer.in_end = b.data() + b.size();
    return looksLikeSjis(buffer);
  };
  auto jis = [](const std::string& h) {
    Bytes b = hex(h);
    ConversionBuffer buffer;
    buffer.in_begin = b.data();
    buffer.in_end = b.data() + b.size();
    return looksLikeJis(buffer);
  };
  EXPECT_TRUE(sjis(""));
  EXPECT_TRUE(sjis("00 7F 5C 7E"));
  EXPECT_TRUE(sjis("82 A0"));
  EXPECT_FALSE(sjis("82"));
  EXPECT_FALSE(sjis("B1"));
  EXPECT_FALSE(sjis("81 7F"));
  EXPECT_FALSE(sjis("F0 40"));
  EXPECT_FALSE(jis(""));
  EXPECT_FALSE(jis("41 42"));  // no ESC at all
  EXPECT_TRUE(jis("41 1B"));   // a final ESC is an ordinary ASCII byte
  EXPECT_FALSE(jis("1B 28 49 0A"));
}

// Every pair that does not begin with ASCII passes the Shift_JIS test exactly
// when the code table maps it as a two-byte code; a half-width katakana byte
// never does, whatever follows it.
TEST(DetectEncodingTest, LooksLikeSjisFollowsTheTableForEveryPair) {
  int accepted = 0;
  for (int b = 0x80; b <= 0xFF; ++b) {
    for (int next = 0; next <= 0xFF; ++next) {
      const std::uint8_t pair[2] = {static_cast<std::uint8_t>(b), static_cast<std::uint8_t>(next)};
      ConversionBuffer buffer;
      buffer.in_begin = pair;
      buffer.in_end = pair + 2;
      const bool mapped = lookup(SjisToUnicode(), pair[0], pair[1]) != kNoMapping;
      ASSERT_EQ(looksLikeSjis(buffer), mapped) << std::hex << b << ' ' << next;
      accepted += mapped;
    }
  }
  EXPECT_EQ(accepted, 7724);  // the two-byte codes of the table
}

// The real samples, with and without marks, through the executable.
TEST(DetectEndToEndTest, SamplesAreRecognised) {
  const std::string examples = std::string(MEK_SOURCE_DIR) + "/examples/";
  const Bytes utf8 = readFile(examples + "sample-utf8.txt");
  ASSERT_FALSE(utf8.empty());
  ScratchDir dir;
  for (const char* name : {"sample-eucjp.txt", "sample-jis.txt", "sample-utf8.txt"}) {
    Process p = runMek(dir, shellQuote(examples + name) + " -outf8");
    EXPECT_EQ(p.status, 0) << name << p.err;
    EXPECT_TRUE(Bytes(p.out.begin(), p.out.end()) == utf8) << name;
  }
  // Shift_JIS without half-width katakana passes the Shift_JIS test; with
  // them, it is still Shift_JIS when no other code takes it.
  writeFile(dir / "kanji.sjis", hex("88 EA 8D 73 96 DA 0A 93 F1 8D 73 96 DA 0A"));
  Process kanji = runMek(dir, "kanji.sjis -outf8");
  EXPECT_EQ(kanji.status, 0) << kanji.err;
  EXPECT_EQ(kanji.out, "\u4E00\u884C\u76EE\n\u4E8C\u884C\u76EE\n");
  Process katakana = runMek(dir, shellQuote(examples + "sample-sjis.txt") + " -outf8");
  EXPECT_EQ(katakana.status, 0) << katakana.err;
  EXPECT_TRUE(Bytes(katakana.out.begin(), katakana.out.end()) == utf8);
  Process named = runMek(dir, "-isjis " + shellQuote(examples + "sample-sjis.txt") + " -outf8");
  EXPECT_TRUE(Bytes(named.out.begin(), named.out.end()) == utf8);
  // Each marked form, written by mek itself, is read back without -i.
  for (const char* code : {"utf8", "utf16_be_bom", "utf16_le_bom", "utf32_be_bom", "utf32_le_bom",
                           "utf32_be", "utf32_le"}) {
    Process make = runMek(
        dir, "-iutf8 " + shellQuote(examples + "sample-utf8.txt") + " -o" + code + " marked.txt");
    ASSERT_EQ(make.status, 0) << code << make.err;
    Process back = runMek(dir, "marked.txt -outf8");
    EXPECT_EQ(back.status, 0) << code << back.err;
    EXPECT_TRUE(Bytes(back.out.begin(), back.out.end()) == utf8) << code;
  }
  // A UTF-8 mark is dropped.
  Bytes marked = hex("EF BB BF");
  marked.insert(marked.end(), utf8.begin(), utf8.end());
  writeFile(dir / "bom.txt", marked);
  Process p = runMek(dir, "bom.txt -outf8");
  EXPECT_TRUE(Bytes(p.out.begin(), p.out.end()) == utf8);
}

}  // namespace
}  // namespace mek::test
