#include "japanese/eucjp.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <string>

#include "japanese/code_table.h"
#include "japanese/tables/jis_x0201_to_unicode.h"
#include "japanese/tables/jis_x0208_to_unicode.h"
#include "japanese/tables/jis_x0212_to_unicode.h"
#include "japanese/tables/unicode_to_jis_x0201.h"
#include "japanese/tables/unicode_to_jis_x0208.h"
#include "japanese/tables/unicode_to_jis_x0212.h"
#include "mek/registry.h"
#include "tests/codec_check.h"

namespace mek::test {
namespace {

const EucjpDecoder kDecoder;
const EucjpEncoder kEncoder;

Bytes unitBytes(unsigned u) {
  return {static_cast<std::uint8_t>(u >> 8), static_cast<std::uint8_t>(u)};
}

TEST(EucjpRegistry, CodeTwoIsEucjp) {
  EXPECT_NE(dynamic_cast<const EucjpDecoder*>(findDecoder(2)), nullptr);
  EXPECT_NE(dynamic_cast<const EucjpEncoder*>(findEncoder(2)), nullptr);
}

class EucjpDecoderTest : public ::testing::TestWithParam<HexCase> {};
TEST_P(EucjpDecoderTest, Decodes) {
  expectHexCase(kDecoder, GetParam());
}

INSTANTIATE_TEST_SUITE_P(
    Cases, EucjpDecoderTest,
    ::testing::Values(
        HexCase{"", true, "", 0},
        HexCase{"00 41 5C 7E 7F", true, "0000 0041 005C 007E 007F", kWholeInput},
        HexCase{"A4 A2", true, "3042", kWholeInput}, HexCase{"B0 A1", true, "4E9C", kWholeInput},
        HexCase{"A1 C0 A1 C1", true, "005C 301C", kWholeInput},
        HexCase{"F4 A6", true, "7199", kWholeInput}, HexCase{"8E B1", true, "FF71", kWholeInput},
        HexCase{"8E A1 8E DF", true, "FF61 FF9F", kWholeInput},
        HexCase{"8E 5C", true, "00A5", kWholeInput}, HexCase{"8E 7E", true, "203E", kWholeInput},
        HexCase{"8E 41 8E 20", true, "0041 0020", kWholeInput},
        HexCase{"8F B0 A1", true, "4E02", kWholeInput},
        HexCase{"8F A2 B7", true, "007E", kWholeInput},
        HexCase{"8F A2 ED", true, "00A9", kWholeInput},
        HexCase{"8F ED E3", true, "9FA5", kWholeInput},
        HexCase{"41 A4 A2 42 8E B1 43 8F B0 A1 44", true, "0041 3042 0042 FF71 0043 4E02 0044",
                kWholeInput},
        // Cut off at the end: left unconsumed, whatever the bytes present.
        HexCase{"41 A4", true, "0041", 1}, HexCase{"41 8F B0", true, "0041", 1},
        HexCase{"41 8F", true, "0041", 1}, HexCase{"41 8E", true, "0041", 1},
        HexCase{"8F 41", true, "", 0}, HexCase{"A4 A2 FE", true, "3042", 2},
        // Failures: invalid first bytes, unmapped pairs, bytes outside 0xA1..0xFE.
        HexCase{"80", false, "", 0}, HexCase{"8D 41", false, "", 0}, HexCase{"90 41", false, "", 0},
        HexCase{"A0 41", false, "", 0}, HexCase{"FF 41", false, "", 0},
        HexCase{"41 FF", false, "", 0}, HexCase{"A4 22", false, "", 0},
        HexCase{"A4 FF", false, "", 0}, HexCase{"A4 A1 A4", true, "3041", 2},
        HexCase{"A9 A1", false, "", 0}, HexCase{"CF D4", false, "", 0},
        HexCase{"F5 A1", false, "", 0}, HexCase{"8E A0", false, "", 0},
        HexCase{"8E E0", false, "", 0}, HexCase{"8E 1F", false, "", 0},
        HexCase{"8E 7F", false, "", 0}, HexCase{"8F A1 A1", false, "", 0},
        HexCase{"8F 30 21", false, "", 0}, HexCase{"8F B0 21", false, "", 0},
        HexCase{"8F A2 AE", false, "", 0}));

class EucjpEncoderTest : public ::testing::TestWithParam<HexCase> {};
TEST_P(EucjpEncoderTest, Encodes) {
  expectHexCase(kEncoder, GetParam());
}

INSTANTIATE_TEST_SUITE_P(
    Cases, EucjpEncoderTest,
    ::testing::Values(
        HexCase{"", true, "", 0}, HexCase{"0000 0041 007F", true, "00 41 7F", kWholeInput},
        HexCase{"3042", true, "A4 A2", kWholeInput}, HexCase{"00A9", true, "8F A2 ED", kWholeInput},
        HexCase{"4E02", true, "8F B0 A1", kWholeInput}, HexCase{"FF71", true, "8E B1", kWholeInput},
        // Two forms onto one byte: ASCII comes first, the Roman set last.
        HexCase{"005C", true, "5C", kWholeInput}, HexCase{"00A5", true, "5C", kWholeInput},
        HexCase{"203E", true, "7E", kWholeInput}, HexCase{"007E", true, "7E", kWholeInput},
        HexCase{"301C 2016 2212 00A2 00A3 00AC", true, "A1 C1 A1 C2 A1 DD A1 F1 A1 F2 A2 CC",
                kWholeInput},
        HexCase{"0041 3042 0042 FF71 0043 4E02", true, "41 A4 A2 42 8E B1 43 8F B0 A1",
                kWholeInput},
        HexCase{"0041 00", true, "41", 2}, HexCase{"30", true, "", 0}));

INSTANTIATE_TEST_SUITE_P(
    Failures, EucjpEncoderTest,
    ::testing::Values(HexCase{"D83D DE00", false, "", 0}, HexCase{"0041 D800", false, "", 0},
                      HexCase{"DFFF", false, "", 0}, HexCase{"FEFF", false, "", 0},
                      HexCase{"0080", false, "", 0}, HexCase{"E000", false, "", 0},
                      HexCase{"2460", false, "", 0}, HexCase{"FF3C", false, "", 0},
                      HexCase{"FFFF", false, "", 0}, HexCase{"A000", false, "", 0}));

// The three reverse tables share no value, and none holds ASCII except
// U+005C (JIS X 0208) and U+007E (JIS X 0212), which ASCII writes first.
TEST(EucjpTables, ReverseTablesAreDisjoint) {
  for (unsigned u = 0; u < 0x10000; ++u) {
    const auto hi = static_cast<std::uint8_t>(u >> 8);
    const auto lo = static_cast<std::uint8_t>(u);
    const int holders = (lookup(UnicodeToJisX0201(), hi, lo) != kNoMapping) +
                        (lookup(UnicodeToJisX0208(), hi, lo) != kNoMapping) +
                        (lookup(UnicodeToJisX0212(), hi, lo) != kNoMapping);
    ASSERT_LE(holders, 1) << u;
    if (u < 0x80 && u != 0x5C && u != 0x7E) {
      ASSERT_EQ(lookup(UnicodeToJisX0208(), hi, lo), kNoMapping) << u;
      ASSERT_EQ(lookup(UnicodeToJisX0212(), hi, lo), kNoMapping) << u;
    }
  }
}

// Every EUC-JP form of a mapped character: the ASCII bytes, JIS X 0208,
// 0x8E + JIS X 0201, and 0x8F + JIS X 0212.
struct Form {
  Bytes bytes;
  std::uint16_t unit;
};

std::vector<Form> everyForm() {
  std::vector<Form> forms;
  for (unsigned b = 0; b < 0x80; ++b)
    forms.push_back({{static_cast<std::uint8_t>(b)}, static_cast<std::uint16_t>(b)});
  for (unsigned b = 0; b < 0x100; ++b) {
    const std::uint16_t u = lookup(JisX0201ToUnicode(), 0x00, static_cast<std::uint8_t>(b));
    if (u != kNoMapping) forms.push_back({{0x8E, static_cast<std::uint8_t>(b)}, u});
  }
  for (unsigned row = 0x21; row <= 0x7E; ++row) {
    for (unsigned cell = 0x21; cell <= 0x7E; ++cell) {
      const auto r = static_cast<std::uint8_t>(row);
      const auto c = static_cast<std::uint8_t>(cell);
      const auto er = static_cast<std::uint8_t>(row + 0x80);
      const auto ec = static_cast<std::uint8_t>(cell + 0x80);
      std::uint16_t u = lookup(JisX0208ToUnicode(), r, c);
      if (u != kNoMapping) forms.push_back({{er, ec}, u});
      u = lookup(JisX0212ToUnicode(), r, c);
      if (u != kNoMapping) forms.push_back({{0x8F, er, ec}, u});
    }
  }
  return forms;
}

// Every form decodes to its character and re-encodes to the same bytes, but
// for the forms whose character ASCII or the Roman set writes as one byte:
// A1 C0 (U+005C), 8F A2 B7 (U+007E) and 8E 20..8E 7E (the JIS X 0201 Roman
// set, U+00A5 and U+203E included).
TEST(EucjpRoundTrip, EveryFormDecodesAndReencodes) {
  std::map<std::string, std::string> changed;
  std::size_t count = 0;
  for (const Form& form : everyForm()) {
    ++count;
    Converted decoded = convertAll(kDecoder, form.bytes);
    ASSERT_TRUE(decoded.ok) << toHex(form.bytes);
    ASSERT_EQ(toHex(decoded.bytes), toHex(unitBytes(form.unit)));
    Converted encoded = convertAll(kEncoder, decoded.bytes);
    ASSERT_TRUE(encoded.ok) << toHex(form.bytes);
    if (encoded.bytes != form.bytes) changed[toHex(form.bytes)] = toHex(encoded.bytes);
  }
  EXPECT_EQ(count, 128u + 158u + 6879u + 6067u);
  std::map<std::string, std::string> expected{{"A1 C0", "5C"}, {"8F A2 B7", "7E"}};
  for (unsigned b = 0x20; b <= 0x7E; ++b) {
    expected[toHex({0x8E, static_cast<std::uint8_t>(b)})] = toHex({static_cast<std::uint8_t>(b)});
  }
  EXPECT_EQ(changed, expected);
}

// Every character of the three sets and ASCII encodes and decodes back to
// itself, but for U+00A5 and U+203E, which share 5C and 7E with ASCII.
TEST(EucjpRoundTrip, EveryCharacterEncodesAndDecodes) {
  std::map<unsigned, std::string> changed;
  std::size_t count = 0;
  for (unsigned u = 0; u < 0x10000; ++u) {
    const auto hi = static_cast<std::uint8_t>(u >> 8);
    const auto lo = static_cast<std::uint8_t>(u);
    if (u >= 0x80 && lookup(UnicodeToJisX0201(), hi, lo) == kNoMapping &&
        lookup(UnicodeToJisX0208(), hi, lo) == kNoMapping &&
        lookup(UnicodeToJisX0212(), hi, lo) == kNoMapping) {
      continue;
    }
    ++count;
    Converted encoded = convertAll(kEncoder, unitBytes(u));
    ASSERT_TRUE(encoded.ok) << u;
    Converted decoded = convertAll(kDecoder, encoded.bytes);
    ASSERT_TRUE(decoded.ok) << u;
    if (decoded.bytes != unitBytes(u)) changed[u] = toHex(decoded.bytes);
  }
  // 128 ASCII values; U+005C and U+007E are also in JIS X 0208/0212 and
  // U+0020..U+007E (but 5C, 7E) in JIS X 0201.
  EXPECT_EQ(count, 128u + 158u - 93u + 6879u - 1u + 6067u - 1u);
  const std::map<unsigned, std::string> expected{{0x00A5, "00 5C"}, {0x203E, "00 7E"}};
  EXPECT_EQ(changed, expected);
}

// The EUC-JP sample holds JIS X 0208, half-width katakana and JIS X 0212;
// the real executable takes it to UTF-8 and back.
TEST(EucjpSample, SampleConvertsToUtf8AndBack) {
  ScratchDir dir;
  const std::filesystem::path examples = std::filesystem::path(MEK_SOURCE_DIR) / "examples";
  const Bytes sample = readFile(examples / "sample-eucjp.txt");
  ASSERT_FALSE(sample.empty());
  Process decode = runMek(
      dir, "-ieuc_jp " + shellQuote((examples / "sample-eucjp.txt").string()) + " -outf8 utf8.txt");
  EXPECT_EQ(decode.status, 0);
  EXPECT_EQ(decode.err, "");
  EXPECT_EQ(readFile(dir / "utf8.txt"), readFile(examples / "sample-utf8.txt"));
  Process encode = runMek(dir, "-iutf8 utf8.txt -oeuc_jp back.txt");
  EXPECT_EQ(encode.status, 0);
  EXPECT_EQ(encode.err, "");
  EXPECT_EQ(readFile(dir / "back.txt"), sample);
}

}  // namespace
}  // namespace mek::test
