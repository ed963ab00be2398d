#include "japanese/jis.h"

#include <gtest/gtest.h>

#include <map>

#include "japanese/code_table.h"
#include "japanese/tables/unicode_to_jis_x0201.h"
#include "japanese/tables/unicode_to_jis_x0208.h"
#include "japanese/tables/unicode_to_jis_x0212.h"
#include "mek/registry.h"
#include "tests/codec_check.h"
#include "tests/test_support.h"

namespace mek::test {
namespace {

const JisDecoder kDecoder;
const JisEncoder kEncoder;

TEST(JisReadEscapeTest, RecognisesExactlyTheControlSequences) {
  const struct {
    const char* bytes;
    int state;
    std::ptrdiff_t advance;
  } cases[] = {
      {"1B 24 40", 2, 3},
      {"1B 24 42", 2, 3},
      {"1B 24 28 44", 3, 4},
      {"1B 28 42", 0, 3},
      {"1B 28 4A", 0, 3},
      {"1B 28 49", 1, 3},
      {"0E", 1, 1},
      {"0F", 0, 1},
      {"1B 24 42 41", 2, 3},
      {"0E 0F", 1, 1},
      // No control sequence: unknown final bytes, or cut off by the end.
      {"1B 24 41", 4, 0},
      {"1B 28 44", 4, 0},
      {"1B 24 28 43", 4, 0},
      {"1B 41 42", 4, 0},
      {"1B 24 28", 4, 0},
      {"1B 24", 4, 0},
      {"1B", 4, 0},
      {"41 1B 28 42", 4, 0},
      {"1B 1B 28 42", 4, 0},
  };
  for (const auto& c : cases) {
    const Bytes bytes = hex(c.bytes);
    const std::uint8_t* p = bytes.data();
    EXPECT_EQ(JisDecoder::readEscape(p, bytes.data() + bytes.size()), c.state) << c.bytes;
    EXPECT_EQ(p - bytes.data(), c.advance) << c.bytes;
  }
}

class JisDecoderTest : public ::testing::TestWithParam<HexCase> {};
TEST_P(JisDecoderTest, Decodes) {
  expectHexCase(kDecoder, GetParam());
}

INSTANTIATE_TEST_SUITE_P(
    Cases, JisDecoderTest,
    ::testing::Values(
        HexCase{"", true, "", 0},
        HexCase{"1B 24 42 30 21 1B 28 42 41", true, "4E9C 0041", kWholeInput},
        HexCase{"1B 24 40 24 22", true, "3042", kWholeInput},
        HexCase{"1B 24 28 44 30 21", true, "4E02", kWholeInput},
        HexCase{"1B 28 4A 5C 7E", true, "005C 007E", kWholeInput},
        HexCase{"0F 41", true, "0041", kWholeInput},
        HexCase{"1B 28 42 1B 24 42 0F", true, "", kWholeInput},  // control sequences emit nothing
        // Every state switches at every character boundary, by escape or SO/SI.
        HexCase{"1B 24 42 24 22 0E 36 0F 41 1B 24 28 44 30 21 1B 28 49 36 1B 28 4A 41", true,
                "3042 FF76 0041 4E02 FF76 0041", kWholeInput},
        // An ESC that begins no control sequence, in each state.
        HexCase{"1B 24 41 42", true, "001B 0024 0041 0042", kWholeInput},
        HexCase{"1B 28 41", true, "001B 0028 0041", kWholeInput},
        HexCase{"1B 24 28 43", true, "001B 0024 0028 0043", kWholeInput},
        HexCase{"0E 1B 24 41", false, "", 0}, HexCase{"1B 24 42 1B 41 42", false, "", 0},
        HexCase{"1B 24 28 44 1B 41 42", false, "", 0},
        // Escapes cut off by the end are characters of the current state.
        HexCase{"1B 24", true, "001B 0024", kWholeInput}, HexCase{"1B", true, "001B", kWholeInput},
        HexCase{"1B 24 28", true, "001B 0024 0028", kWholeInput}, HexCase{"0E 1B 28", false, "", 0},
        HexCase{"1B 24 42 1B 24", false, "", 0},        // the pair 1B 24 has no mapping
        HexCase{"1B 24 42 24 22 1B", true, "3042", 5},  // ... but a lone 1B is cut off
        // Pairs cut off by the end; pairs that break a line fail.
        HexCase{"1B 24 42 30", true, "", 3}, HexCase{"1B 24 28 44 30 21 30", true, "4E02", 6},
        HexCase{"1B 24 42 0A 41", false, "", 0},
        HexCase{"1B 24 42 24 0E 22", false, "", 0},  // SO inside a pair is no boundary
        HexCase{"1B 24 42 4F 54", false, "", 0}, HexCase{"1B 24 28 44 21 21", false, "", 0},
        // Katakana state: 7-bit 21..5F and 8-bit A1..DF; other bytes as themselves.
        HexCase{"1B 28 49 21 36 5F A1 B6 DF", true, "FF61 FF76 FF9F FF61 FF76 FF9F", kWholeInput},
        HexCase{"0E 20 60 7E", true, "0020 0060 203E", kWholeInput}, HexCase{"0E 0A", false, "", 0},
        HexCase{"0E 7F", false, "", 0}, HexCase{"0E A0", false, "", 0},
        HexCase{"0E E0", false, "", 0}, HexCase{"0E 1B", false, "", 0},
        // ASCII state: bytes 80 and above are 8-bit JIS X 0201 codes.
        HexCase{"41 A1 DF 7E", true, "0041 FF61 FF9F 007E", kWholeInput},
        HexCase{"80", false, "", 0}, HexCase{"A0", false, "", 0}, HexCase{"E0", false, "", 0},
        HexCase{"41 FF", false, "", 0},
        // Long ASCII runs are scanned in blocks; ESC, SO and SI still end them.
        HexCase{"30 31 32 33 34 35 36 37 38 39 41 42 43 44 45 46 1B 24 42 24 22", true,
                "0030 0031 0032 0033 0034 0035 0036 0037 0038 0039 0041 0042 0043 0044 0045 "
                "0046 3042",
                kWholeInput},
        HexCase{"30 31 32 33 34 35 36 37 38 39 41 42 43 0E 36 0F 44 45 46 47 48 49 4A", true,
                "0030 0031 0032 0033 0034 0035 0036 0037 0038 0039 0041 0042 0043 FF76 0044 "
                "0045 0046 0047 0048 0049 004A",
                kWholeInput},
        HexCase{"00 01 0D 0A 0C 10 1A 1C 1F 20 7F 0D 0A 09 08 07 06", true,
                "0000 0001 000D 000A 000C 0010 001A 001C 001F 0020 007F 000D 000A 0009 0008 "
                "0007 0006",
                kWholeInput}));

class JisEncoderTest : public ::testing::TestWithParam<HexCase> {};
TEST_P(JisEncoderTest, Encodes) {
  expectHexCase(kEncoder, GetParam());
}

INSTANTIATE_TEST_SUITE_P(
    Cases, JisEncoderTest,
    ::testing::Values(
        HexCase{"", true, "", 0},
        HexCase{"3042 0041", true, "1B 24 42 24 22 1B 28 42 41", kWholeInput},
        HexCase{"3042", true, "1B 24 42 24 22", kWholeInput},
        HexCase{"00A9", true, "1B 24 28 44 22 6D", kWholeInput},
        HexCase{"3042 00A5", true, "1B 24 42 24 22 1B 28 42 5C", kWholeInput},
        HexCase{"00A5 203E 005C 007E", true, "5C 7E 5C 7E", kWholeInput},
        HexCase{"0041 000A", true, "41 0A", kWholeInput},
        // ESC, SO and SI would read back as escapes and shifts: no set
        // holds them, in a run of ASCII or alone.
        HexCase{"001B", false, "", 0}, HexCase{"0041 000E", false, "", 0},
        HexCase{"0061 0062 0063 0064 0065 0066 0067 0068 0069 006A 006B 006C 006D 006E 006F 000F",
                false, "", 0},
        // JIS X 0208 is preferred to JIS X 0212; each set is designated once.
        HexCase{"00A2 4E02 4E02 3042 3044", true,
                "1B 24 42 21 71 1B 24 28 44 30 21 30 21 1B 24 42 24 22 24 24", kWholeInput},
        // Half-width katakana: ESC ( I and 7-bit bytes.
        HexCase{"FF71 FF72", true, "1B 28 49 31 32", kWholeInput},
        HexCase{"FF71 0041", true, "1B 28 49 31 1B 28 42 41", kWholeInput},
        HexCase{"FF61 FF9F 3042 FF76", true, "1B 28 49 21 5F 1B 24 42 24 22 1B 28 49 36",
                kWholeInput},
        HexCase{"FF76 00A5", true, "1B 28 49 36 1B 28 42 5C", kWholeInput},
        // Odd trailing byte.
        HexCase{"0041 30", true, "41", 2}, HexCase{"3042 30", true, "1B 24 42 24 22", 2},
        // Surrogates and characters in none of the tables.
        HexCase{"D83D DE00", false, "", 0}, HexCase{"0041 DC00", false, "", 0},
        HexCase{"D800", false, "", 0}, HexCase{"FEFF", false, "", 0}, HexCase{"FF3C", false, "", 0},
        HexCase{"2460", false, "", 0}, HexCase{"0080", false, "", 0},
        HexCase{"3042 FFFF", false, "", 0},
        // The ASCII fast path resumes after ESC ( B.
        HexCase{"3042 0061 0062 0063 0064 0065 0066 0067 0068 0069 006A 006B 006C 006D 006E "
                "006F 0070 0071 3042",
                true,
                "1B 24 42 24 22 1B 28 42 61 62 63 64 65 66 67 68 69 6A 6B 6C 6D 6E 6F 70 71 "
                "1B 24 42 24 22",
                kWholeInput}));

void appendUnit(Bytes& text, std::uint16_t u) {
  text.push_back(static_cast<std::uint8_t>(u >> 8));
  text.push_back(static_cast<std::uint8_t>(u));
}

// ASCII plus every character of the three encoding tables, in code order.
std::vector<std::uint16_t> repertoire() {
  std::vector<std::uint16_t> chars;
  for (std::uint32_t u = 0; u < 0x10000; ++u) {
    const auto hi = static_cast<std::uint8_t>(u >> 8), lo = static_cast<std::uint8_t>(u);
    if (u < 0x80 || lookup(UnicodeToJisX0208(), hi, lo) != kNoMapping ||
        lookup(UnicodeToJisX0212(), hi, lo) != kNoMapping ||
        lookup(UnicodeToJisX0201(), hi, lo) != kNoMapping) {
      chars.push_back(static_cast<std::uint16_t>(u));
    }
  }
  return chars;
}

TEST(JisRoundTripTest, EveryCharacterComesBackButTwo) {
  // The Roman set's yen sign and overline are written as the ASCII bytes 5C
  // and 7E. ESC, SO and SI are not written at all (they would read back as
  // escapes and shifts), so they are left out of the repertoire.
  const std::map<std::uint16_t, const char*> changed = {{0x00A5, "005C"}, {0x203E, "007E"}};
  std::vector<std::uint16_t> chars = repertoire();
  std::erase_if(chars, [](std::uint16_t u) { return u == 0x1B || u == 0x0E || u == 0x0F; });
  // ASCII, JIS X 0208 but U+005C, JIS X 0212 but U+007E, JIS X 0201 but ASCII.
  EXPECT_EQ(chars.size(), 125u + 6878u + 6066u + 65u);
  Bytes text, expected;
  for (std::uint16_t u : chars) {
    Bytes one;
    appendUnit(one, u);
    Outcome encoded = runConverter(kEncoder, one);
    ASSERT_TRUE(encoded.ok) << std::hex << u;
    Outcome decoded = runConverter(kDecoder, encoded.out);
    ASSERT_TRUE(decoded.ok) << std::hex << u;
    const auto it = changed.find(u);
    Bytes back = it == changed.end() ? one : hex(it->second);
    EXPECT_EQ(toHex(decoded.out), toHex(back)) << std::hex << u;
    text.insert(text.end(), one.begin(), one.end());
    expected.insert(expected.end(), back.begin(), back.end());
  }
  // The same as one text, switching sets as it goes.
  Outcome encoded = runConverter(kEncoder, text);
  ASSERT_TRUE(encoded.ok);
  Outcome decoded = runConverter(kDecoder, encoded.out);
  ASSERT_TRUE(decoded.ok);
  EXPECT_TRUE(decoded.out == expected);
}

TEST(JisRegistryTest, CodeThreeIsJis) {
  EXPECT_NE(dynamic_cast<const JisDecoder*>(findDecoder(3)), nullptr);
  EXPECT_NE(dynamic_cast<const JisEncoder*>(findEncoder(3)), nullptr);
}

TEST(JisCommandLineTest, SampleFileBothWays) {
  ScratchDir dir;
  const std::string examples = std::string(MEK_SOURCE_DIR) + "/examples/";
  const Bytes jis = readFile(examples + "sample-jis.txt");
  const Bytes utf8 = readFile(examples + "sample-utf8.txt");
  ASSERT_FALSE(jis.empty());
  writeFile(dir / "jis.txt", jis);
  writeFile(dir / "utf8.txt", utf8);
  Process p = runMek(dir, "-ijis jis.txt -outf8 out-utf8.txt");
  EXPECT_EQ(p.err, "");
  EXPECT_TRUE(readFile(dir / "out-utf8.txt") == utf8);
  p = runMek(dir, "-iutf8 utf8.txt -ojis out-jis.txt");
  EXPECT_EQ(p.err, "");
  EXPECT_TRUE(readFile(dir / "out-jis.txt") == jis);
}

}  // namespace
}  // namespace mek::test
