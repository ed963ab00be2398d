#include <gtest/gtest.h>

#include <filesystem>
#include <map>

#include "japanese/code_table.h"
#include "japanese/shift_jis.h"
#include "japanese/tables/sjis_to_unicode.h"
#include "japanese/tables/unicode_to_sjis.h"
#include "mek/registry.h"
#include "tests/codec_check.h"

namespace mek::test {
namespace {

const SjisDecoder kDecoder;
const SjisEncoder kEncoder;

Bytes unitBytes(std::uint16_t u) {
  return {static_cast<std::uint8_t>(u >> 8), static_cast<std::uint8_t>(u)};
}

Bytes codeBytes(std::uint16_t code) {
  if (code < 0x100) return {static_cast<std::uint8_t>(code)};
  return unitBytes(code);
}

TEST(SjisRegistry, CodeOneIsShiftJis) {
  EXPECT_NE(dynamic_cast<const SjisDecoder*>(findDecoder(1)), nullptr);
  EXPECT_NE(dynamic_cast<const SjisEncoder*>(findEncoder(1)), nullptr);
}

class SjisDecoderTest : public ::testing::TestWithParam<HexCase> {};
TEST_P(SjisDecoderTest, Decodes) {
  expectHexCase(kDecoder, GetParam());
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SjisDecoderTest,
    ::testing::Values(
        HexCase{"", true, "", 0}, HexCase{"41", true, "0041", kWholeInput},
        HexCase{"00 5C 7E 7F", true, "0000 005C 007E 007F", kWholeInput},
        HexCase{"B1", true, "FF71", kWholeInput}, HexCase{"A1 DF", true, "FF61 FF9F", kWholeInput},
        HexCase{"82 A0", true, "3042", kWholeInput}, HexCase{"88 9F", true, "4E9C", kWholeInput},
        HexCase{"81 5F 81 60 81 61", true, "FF3C FF5E 2225", kWholeInput},
        HexCase{"87 40", true, "2460", kWholeInput}, HexCase{"ED 40", true, "7E8A", kWholeInput},
        HexCase{"EE F9", true, "FFE2", kWholeInput}, HexCase{"FA 40", true, "2170", kWholeInput},
        HexCase{"FC 4B", true, "9ED1", kWholeInput},
        // A lead byte takes the next byte whatever it is, even ASCII.
        HexCase{"82 A0 41 82 A2 42", true, "3042 0041 3044 0042", kWholeInput},
        HexCase{"41 82", true, "0041", 1}, HexCase{"82", true, "", 0},
        HexCase{"82 A0 FC", true, "3042", 2}, HexCase{"41 80", true, "0041", 1},
        // Failures: bytes that begin no code, absent rows, unmapped pairs.
        HexCase{"80 41", false, "", 0}, HexCase{"A0 41", false, "", 0},
        HexCase{"FD 41", false, "", 0}, HexCase{"FF 41", false, "", 0},
        HexCase{"81 0A", false, "", 0}, HexCase{"81 7F", false, "", 0},
        HexCase{"81 3F", false, "", 0}, HexCase{"85 40", false, "", 0},
        HexCase{"EB 40", false, "", 0}, HexCase{"F0 40", false, "", 0},
        HexCase{"F9 FC", false, "", 0}, HexCase{"FC 4C", false, "", 0}, HexCase{"E0", true, "", 0},
        HexCase{"41 42 E0 3F", false, "", 0},
        // An ASCII run long enough for the block path, then a kanji.
        HexCase{"30 31 32 33 34 35 36 37 38 39 41 42 43 44 45 46 47 88 9F", true,
                "0030 0031 0032 0033 0034 0035 0036 0037 0038 0039 0041 0042 0043 0044 "
                "0045 0046 0047 4E9C",
                kWholeInput}));

class SjisEncoderTest : public ::testing::TestWithParam<HexCase> {};
TEST_P(SjisEncoderTest, Encodes) {
  expectHexCase(kEncoder, GetParam());
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SjisEncoderTest,
    ::testing::Values(
        HexCase{"", true, "", 0}, HexCase{"0041 005C 007E", true, "41 5C 7E", kWholeInput},
        HexCase{"0000", true, "00", kWholeInput}, HexCase{"FF71", true, "B1", kWholeInput},
        HexCase{"3042", true, "82 A0", kWholeInput}, HexCase{"7E8A", true, "FA 5C", kWholeInput},
        HexCase{"9ED1", true, "FC 4B", kWholeInput}, HexCase{"2170", true, "FA 40", kWholeInput},
        HexCase{"2160 2116 2121 3231", true, "FA 4A FA 59 FA 5A FA 58", kWholeInput},
        HexCase{"2252 221A", true, "87 90 87 95", kWholeInput},
        HexCase{"2235 FFE2", true, "FA 5B FA 54", kWholeInput},
        HexCase{"FF3C FF5E", true, "81 5F 81 60", kWholeInput},
        HexCase{"0041 3042 0042", true, "41 82 A0 42", kWholeInput},
        HexCase{"0041 00", true, "41", 2}, HexCase{"30", true, "", 0}));

// Failures of the encoder: no code for the value, or beyond U+FFFF.
INSTANTIATE_TEST_SUITE_P(
    Failures, SjisEncoderTest,
    ::testing::Values(HexCase{"00A5", false, "", 0}, HexCase{"203E", false, "", 0},
                      HexCase{"00A2", false, "", 0}, HexCase{"00A3", false, "", 0},
                      HexCase{"00AC", false, "", 0}, HexCase{"2016", false, "", 0},
                      HexCase{"2212", false, "", 0}, HexCase{"301C", false, "", 0},
                      HexCase{"E000", false, "", 0}, HexCase{"FEFF", false, "", 0},
                      HexCase{"0080", false, "", 0}, HexCase{"D83D DE00", false, "", 0},
                      HexCase{"DC00", false, "", 0}, HexCase{"0041 D800", false, "", 0},
                      HexCase{"0041 0042 0043 0044 0045 0046 0047 0048 0049 004A FFFF", false, "",
                              0}));

// The ASCII fast paths skip the table; they are only right because the table
// maps 0x00..0x7F and U+0000..U+007F onto each other unchanged.
TEST(SjisTables, AsciiMapsToItselfBothWays) {
  for (unsigned b = 0; b < 0x80; ++b) {
    EXPECT_EQ(lookup(SjisToUnicode(), 0x00, static_cast<std::uint8_t>(b)), b) << b;
    EXPECT_EQ(lookup(UnicodeToSjis(), 0x00, static_cast<std::uint8_t>(b)), b) << b;
  }
}

// No code unit that is half of a surrogate pair has a table entry, so the
// surrogate test only makes the failure explicit.
TEST(SjisTables, SurrogatesHaveNoCode) {
  for (unsigned hi = 0xD8; hi <= 0xDF; ++hi) {
    for (unsigned lo = 0; lo < 0x100; ++lo) {
      ASSERT_EQ(
          lookup(UnicodeToSjis(), static_cast<std::uint8_t>(hi), static_cast<std::uint8_t>(lo)),
          kNoMapping);
    }
  }
}

// Every code in SjisToUnicode decodes to its table value and re-encodes to
// the same bytes, except the codes whose value another, higher code also
// has: those re-encode as the higher code that UnicodeToSjis keeps.
TEST(SjisRoundTrip, EveryCodeDecodesAndReencodes) {
  const CodeTable& forward = SjisToUnicode();
  const CodeTable& reverse = UnicodeToSjis();
  std::map<unsigned, int> changedByLead;
  int codes = 0;
  for (unsigned lead = 0; lead < 0x100; ++lead) {
    for (unsigned trail = 0; trail < 0x100; ++trail) {
      const std::uint16_t u =
          lookup(forward, static_cast<std::uint8_t>(lead), static_cast<std::uint8_t>(trail));
      if (u == kNoMapping) continue;
      ++codes;
      const std::uint16_t code = static_cast<std::uint16_t>(lead << 8 | trail);
      const Bytes bytes = codeBytes(code);
      Converted decoded = convertAll(kDecoder, bytes);
      ASSERT_TRUE(decoded.ok) << toHex(bytes);
      ASSERT_EQ(toHex(decoded.bytes), toHex(unitBytes(u)));
      Converted encoded = convertAll(kEncoder, decoded.bytes);
      ASSERT_TRUE(encoded.ok) << toHex(bytes);
      const std::uint16_t winner =
          lookup(reverse, static_cast<std::uint8_t>(u >> 8), static_cast<std::uint8_t>(u));
      ASSERT_EQ(toHex(encoded.bytes), toHex(codeBytes(winner))) << toHex(bytes);
      if (winner != code) {
        EXPECT_GT(winner, code) << toHex(bytes);
        ++changedByLead[lead];
      }
    }
  }
  EXPECT_EQ(codes, 7915);
  // 0x81: eight JIS X 0208 symbols, 0x81CA and 0x81E6; 0x87: the thirteen
  // NEC row 13 characters that IBM extensions repeat, and 0x879A; 0xED/0xEE:
  // every NEC-selected IBM extension.
  const std::map<unsigned, int> expected{{0x81, 10}, {0x87, 14}, {0xED, 188}, {0xEE, 186}};
  EXPECT_EQ(changedByLead, expected);
}

// Every value that UnicodeToSjis maps encodes to its code and decodes back.
TEST(SjisRoundTrip, EveryMappedValueEncodesAndDecodes) {
  const CodeTable& reverse = UnicodeToSjis();
  int values = 0;
  for (unsigned u = 0; u < 0x10000; ++u) {
    const std::uint16_t code =
        lookup(reverse, static_cast<std::uint8_t>(u >> 8), static_cast<std::uint8_t>(u));
    if (code == kNoMapping) continue;
    ++values;
    const Bytes unit = unitBytes(static_cast<std::uint16_t>(u));
    Converted encoded = convertAll(kEncoder, unit);
    ASSERT_TRUE(encoded.ok) << toHex(unit);
    ASSERT_EQ(toHex(encoded.bytes), toHex(codeBytes(code)));
    Converted decoded = convertAll(kDecoder, encoded.bytes);
    ASSERT_TRUE(decoded.ok) << toHex(unit);
    ASSERT_EQ(toHex(decoded.bytes), toHex(unit));
  }
  EXPECT_EQ(values, 7517);
}

// The Shift_JIS sample holds kana, kanji, half-width katakana, NEC row 13
// and IBM extensions; the real executable takes it to UTF-8 and back.
TEST(SjisSample, SampleConvertsToUtf8AndBack) {
  ScratchDir dir;
  const std::filesystem::path examples = std::filesystem::path(MEK_SOURCE_DIR) / "examples";
  const Bytes sample = readFile(examples / "sample-sjis.txt");
  ASSERT_FALSE(sample.empty());
  Process decode = runMek(
      dir, "-isjis " + shellQuote((examples / "sample-sjis.txt").string()) + " -outf8 utf8.txt");
  EXPECT_EQ(decode.status, 0);
  EXPECT_EQ(decode.err, "");
  EXPECT_EQ(readFile(dir / "utf8.txt"), readFile(examples / "sample-utf8.txt"));
  Process encode = runMek(dir, "-iutf8 utf8.txt -osjis back.txt");
  EXPECT_EQ(encode.status, 0);
  EXPECT_EQ(encode.err, "");
  EXPECT_EQ(readFile(dir / "back.txt"), sample);
}

}  // namespace
}  // namespace mek::test
