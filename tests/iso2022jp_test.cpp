// The ISO-2022-JP mail encoder (code 15, iso2022jp): only ASCII, the Roman
// set's yen sign and overline, and JIS X 0208; half-width katakana folded to
// full width; ASCII before every line end and at the end of the text. Its
// output read back by the ISO-2022-JP decoder gives the folded text for every
// character it takes.

#include "japanese/iso2022jp.h"

#include <gtest/gtest.h>

#include "japanese/code_table.h"
#include "japanese/tables/unicode_to_jis_x0208.h"
#include "japanese/text_fold.h"
#include "mek/registry.h"
#include "tests/codec_check.h"
#include "tests/test_support.h"

namespace mek::test {
namespace {

const Iso2022jpEncoder kEncoder;
const ErrorPolicy kTwins{Errors::strict, true};

class Iso2022jpEncoderTest : public ::testing::TestWithParam<HexCase> {};
TEST_P(Iso2022jpEncoderTest, Encodes) {
  expectHexCase(kEncoder, GetParam());
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Iso2022jpEncoderTest,
    ::testing::Values(
        HexCase{"", true, "", 0}, HexCase{"0041 000A", true, "41 0A", kWholeInput},
        // The text ends in ASCII, and every line end is written in ASCII.
        HexCase{"3042", true, "1B 24 42 24 22 1B 28 42", kWholeInput},
        HexCase{"3042 000D 000A 3044", true,
                "1B 24 42 24 22 1B 28 42 0D 0A 1B 24 42 24 24 1B 28 42", kWholeInput},
        // The Roman set for the yen sign and the overline only.
        HexCase{"00A5 203E 005C 007E", true, "1B 28 4A 5C 7E 1B 28 42 5C 7E", kWholeInput},
        HexCase{"3042 00A5", true, "1B 24 42 24 22 1B 28 4A 5C 1B 28 42", kWholeInput},
        HexCase{"00A5 000A", true, "1B 28 4A 5C 1B 28 42 0A", kWholeInput},
        // Half-width katakana in full width, with their marks where JIS X 0208
        // has the kana; elsewhere the spacing mark.
        HexCase{"FF76 FF9E FF8A FF9F FF73 FF9E", true, "1B 24 42 25 2C 25 51 25 74 1B 28 42",
                kWholeInput},
        HexCase{"FF9C FF9E FF61 FF70", true, "1B 24 42 25 6F 21 2B 21 23 21 3C 1B 28 42",
                kWholeInput},
        HexCase{"0041 FF9E", true, "41 1B 24 42 21 2B 1B 28 42", kWholeInput},
        HexCase{"30AB FF9E", true, "1B 24 42 25 2C 1B 28 42", kWholeInput},
        // Nothing of JIS X 0212, nothing outside the three sets, no controls
        // that switch sets, no surrogates.
        HexCase{"00A9", false, "", 0}, HexCase{"4E02", false, "", 0},
        HexCase{"3042 2460", false, "", 0}, HexCase{"FF5E", false, "", 0},
        HexCase{"001B", false, "", 0}, HexCase{"000E", false, "", 0}, HexCase{"000F", false, "", 0},
        HexCase{"3094", false, "", 0}, HexCase{"30F7", false, "", 0},
        HexCase{"D842 DF9F", false, "", 0}, HexCase{"FEFF", false, "", 0},
        // An odd trailing byte is left; the text still ends in ASCII.
        HexCase{"3042 30", true, "1B 24 42 24 22 1B 28 42", 2}));

TEST(Iso2022jpEncoderTest, FallbackWritesTwinsInJisX0208) {
  const std::pair<const char*, const char*> cases[] = {
      {"FF5E", "1B 24 42 21 41 1B 28 42"},
      {"2212", "1B 24 42 21 5D 1B 28 42"},
      {"FF3C", "1B 24 42 21 40 1B 28 42"},
      {"2014 0041", "1B 24 42 21 3D 1B 28 42 41"},
  };
  for (const auto& [input, output] : cases) {
    const Outcome got = runConverter(kEncoder, hex(input), &kTwins);
    EXPECT_TRUE(got.ok) << input;
    EXPECT_EQ(toHex(got.out), toHex(hex(output))) << input;
  }
  EXPECT_FALSE(runConverter(kEncoder, hex("00A9"), &kTwins).ok);
}

// Every character of the Basic Multilingual Plane, alone and after a kanji:
// the encoder takes it exactly when it is ASCII (but ESC, SO, SI), the yen
// sign or overline, in JIS X 0208, or half-width katakana; its output ends
// in ASCII, holds only the three designations, and reads back through the
// ISO-2022-JP decoder as the character, widened.
TEST(Iso2022jpEncoderTest, EveryCharacterAndTheSetsItUses) {
  const Converter* decoder = findDecoder(kCodeIso2022jp);
  ASSERT_NE(decoder, nullptr);
  for (std::uint32_t u = 0; u < 0x10000; ++u) {
    const auto unit = static_cast<std::uint16_t>(u);
    const auto hi = static_cast<std::uint8_t>(u >> 8);
    const auto lo = static_cast<std::uint8_t>(u);
    const bool ascii = u < 0x80 && u != 0x1B && u != 0x0E && u != 0x0F;
    const bool roman = u == 0xA5 || u == 0x203E;
    const bool halfWidth = u >= 0xFF61 && u <= 0xFF9F;
    const bool jisX0208 = lookup(UnicodeToJisX0208(), hi, lo) != kNoMapping;
    for (const bool afterKanji : {false, true}) {
      Bytes input = afterKanji ? Bytes{0x4E, 0x9C} : Bytes{};
      input.push_back(hi);
      input.push_back(lo);
      const Outcome got = runConverter(*findEncoder(kCodeIso2022jp), input);
      ASSERT_EQ(got.ok, ascii || roman || halfWidth || jisX0208) << std::hex << u;
      if (!got.ok) continue;
      const Bytes& out = got.out;
      // ASCII at the end: the character itself, or ESC ( B after it.
      if (u >= 0x80) {
        ASSERT_GE(out.size(), 3u);
        ASSERT_EQ(Bytes(out.end() - 3, out.end()), hex("1B 28 42")) << std::hex << u;
      } else {
        ASSERT_EQ(out.back(), u);
      }
      for (std::size_t i = 0; i < out.size(); ++i) {
        ASSERT_LT(out[i], 0x80) << std::hex << u;
        if (out[i] != 0x1B) continue;
        ASSERT_LE(i + 3, out.size());
        const Bytes designation(out.begin() + i, out.begin() + i + 3);
        ASSERT_TRUE(designation == hex("1B 28 42") || designation == hex("1B 28 4A") ||
                    designation == hex("1B 24 42"))
            << std::hex << u;
      }
      const Outcome back = runConverter(*decoder, out);
      ASSERT_TRUE(back.ok) << std::hex << u;
      Bytes expected = afterKanji ? Bytes{0x4E, 0x9C} : Bytes{};
      const std::uint16_t widened = widenKana(unit);
      expected.push_back(static_cast<std::uint8_t>(widened >> 8));
      expected.push_back(static_cast<std::uint8_t>(widened));
      // The Roman set's 5C and 7E read back as ASCII, as they always have.
      if (roman) expected.back() = u == 0xA5 ? 0x5C : 0x7E, expected[expected.size() - 2] = 0;
      ASSERT_EQ(back.out, expected) << std::hex << u;
    }
  }
}

TEST(Iso2022jpRegistryTest, CodeFifteenWritesMailAndReadsAsJis) {
  const CodeDescriptor* code = describeCode(kCodeIso2022jp);
  ASSERT_NE(code, nullptr);
  EXPECT_STREQ(code->name, "iso2022jp");
  EXPECT_EQ(code->decoder, describeCode(kCodeJis)->decoder);
  EXPECT_NE(code->encoder, describeCode(kCodeJis)->encoder);
}

}  // namespace
}  // namespace mek::test
