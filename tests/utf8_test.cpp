#include "unicode/utf8.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "mek/registry.h"
#include "tests/codec_check.h"
#include "tests/test_support.h"

namespace mek::test {
namespace {

const UTF8Decoder kDecoder{UTF8Decoder::kDropMark};
const UTF8Encoder kEncoder{UTF8Encoder::kNoMark};

class Utf8DecoderTest : public ::testing::TestWithParam<HexCase> {};
TEST_P(Utf8DecoderTest, Decodes) {
  expectHexCase(kDecoder, GetParam());
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Utf8DecoderTest,
    ::testing::Values(
        HexCase{"", true, "", 0}, HexCase{"EF BB BF", true, "", kWholeInput},
        HexCase{"EF BB", true, "", 0}, HexCase{"EF BB BF 41", true, "0041", kWholeInput},
        HexCase{"41 EF BB BF", true, "0041 FEFF", kWholeInput},
        HexCase{"41 C3 A9 E3 81 82", true, "0041 00E9 3042", kWholeInput},
        HexCase{"F0 90 80 80", true, "D800 DC00", kWholeInput},
        HexCase{"F4 8F BF BF", true, "DBFF DFFF", kWholeInput},
        HexCase{"F0 9F 98 80", true, "D83D DE00", kWholeInput},
        // Overlong forms, encoded surrogates and values beyond
        // U+10FFFF are malformed; the neighbours of each bound
        // are not.
        HexCase{"C0 80", false, "", 0}, HexCase{"C1 BF", false, "", 0},
        HexCase{"41 C0", false, "0041", 1}, HexCase{"C2 80", true, "0080", kWholeInput},
        HexCase{"E0 9F BF", false, "", 0}, HexCase{"E0 A0 80", true, "0800", kWholeInput},
        HexCase{"ED 9F BF", true, "D7FF", kWholeInput}, HexCase{"ED A0 80", false, "", 0},
        HexCase{"ED BF BF", false, "", 0}, HexCase{"EE 80 80", true, "E000", kWholeInput},
        HexCase{"F0 8F BF BF", false, "", 0}, HexCase{"F4 90 80 80", false, "", 0},
        HexCase{"F5 80 80 80", false, "", 0}, HexCase{"80", false, "", 0},
        HexCase{"E3 41 41", false, "", 0}, HexCase{"F8", false, "", 0},
        HexCase{"FF 41", false, "", 0}, HexCase{"41 E3 81", true, "0041", 1},
        // Bytes that no sequence can go on with are malformed even at
        // the end; only the start of a well-formed sequence is cut off.
        HexCase{"41 F0 41", false, "0041", 1}, HexCase{"41 F0 9F 98", true, "0041", 1},
        HexCase{"F0 80 80 80", false, "", 0}, HexCase{"F7 BF BF BF", false, "", 0},
        // The block path finds the same faults after a stretch
        // of whole sequences (CESU-8 and an overlong '/').
        HexCase{"E3 81 82 E3 81 82 E3 81 82 E3 81 82 E3 81 82 E3 81 82 ED A0 BD "
                "ED B8 80 41 41 41 41 41 41 41 41 41 41 41 41 41 41 41 41",
                false, "3042 3042 3042 3042 3042 3042", 18},
        HexCase{"E3 81 82 E3 81 82 E3 81 82 E3 81 82 E3 81 82 E3 81 82 41 C0 AF "
                "41 41 41 41 41 41 41 41 41 41 41 41 41 41 41 41",
                false, "3042 3042 3042 3042 3042 3042 0041", 19},
        HexCase{"E3 81 82 E3 81 82 E3 81 82 E3 81 82 E3 81 82 E0 80 AF 41 "
                "41 41 41 41 41 41 41 41 41 41 41 41 41 41 41 41",
                false, "3042 3042 3042 3042 3042", 15},
        // Long ASCII runs go through the block path.
        HexCase{"30 31 32 33 34 35 36 37 38 39 41 42 43 44 45 46 47 C3 A9", true,
                "0030 0031 0032 0033 0034 0035 0036 0037 0038 0039 0041 0042 "
                "0043 0044 0045 0046 0047 00E9",
                kWholeInput}));

class Utf8EncoderTest : public ::testing::TestWithParam<HexCase> {};
TEST_P(Utf8EncoderTest, Encodes) {
  expectHexCase(kEncoder, GetParam());
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Utf8EncoderTest,
    ::testing::Values(
        HexCase{"", true, "", 0}, HexCase{"0041", true, "41", kWholeInput},
        HexCase{"0410", true, "D0 90", kWholeInput}, HexCase{"0080", true, "C2 80", kWholeInput},
        HexCase{"07FF", true, "DF BF", kWholeInput}, HexCase{"0800", true, "E0 A0 80", kWholeInput},
        HexCase{"3042", true, "E3 81 82", kWholeInput},
        HexCase{"FFFF", true, "EF BF BF", kWholeInput},
        HexCase{"D800 DC00", true, "F0 90 80 80", kWholeInput},
        HexCase{"DBFF DFFF", true, "F4 8F BF BF", kWholeInput},
        HexCase{"FEFF", true, "EF BB BF", kWholeInput}, HexCase{"0041 D800", true, "41", 2},
        HexCase{"0041 00", true, "41", 2}, HexCase{"DC00", false, "", 0},
        HexCase{"D800 0041", false, "", 0}, HexCase{"D800 FFFF", false, "", 0},
        HexCase{"0061 0062 0063 0064 0065 0066 0067 0068 0069 006A 006B 006C "
                "006D 006E 006F 0070 0071 3042",
                true, "61 62 63 64 65 66 67 68 69 6A 6B 6C 6D 6E 6F 70 71 E3 81 82", kWholeInput}));

TEST(Utf8MarkTest, StartsWithAndSkip) {
  const Bytes mark = hex("EF BB BF 41");
  EXPECT_TRUE(startsWithUtf8Mark(mark.data(), mark.data() + 3));
  EXPECT_FALSE(startsWithUtf8Mark(mark.data(), mark.data() + 2));
  EXPECT_EQ(skipUtf8Mark(mark.data(), mark.data() + 4), mark.data() + 3);
  EXPECT_EQ(skipUtf8Mark(mark.data() + 1, mark.data() + 4), mark.data() + 1);
}

TEST(Utf8RoundTripTest, EveryScalarValueSurvives) {
  // Every BMP value outside the surrogates and every 200th supplementary one.
  Bytes internal;
  for (std::uint32_t v = 0; v < 0x110000; v += (v < 0x10000 ? 1 : 200)) {
    if (v >= 0xD800 && v < 0xE000) continue;
    if (v < 0x10000) {
      internal.push_back(static_cast<std::uint8_t>(v >> 8));
      internal.push_back(static_cast<std::uint8_t>(v));
    } else {
      std::uint32_t w = v - 0x10000, hi = 0xD800 | (w >> 10), lo = 0xDC00 | (w & 0x3FF);
      for (std::uint32_t u : {hi, lo}) {
        internal.push_back(static_cast<std::uint8_t>(u >> 8));
        internal.push_back(static_cast<std::uint8_t>(u));
      }
    }
  }
  Outcome encoded = runConverter(kEncoder, internal);
  ASSERT_TRUE(encoded.ok);
  Outcome decoded = runConverter(kDecoder, encoded.out);
  ASSERT_TRUE(decoded.ok);
  EXPECT_TRUE(decoded.out == internal);
}

// A probe sequence after `offset` ASCII bytes and before `tail` more: the
// block checks must give the same answer wherever a sequence falls relative
// to their 16-byte blocks and 4096-byte pieces.
struct Utf8Probe {
  const char* bytes;  // the probe, in hex
  bool ok;
  const char* units;  // what it decodes to, in hex; its bytes are dropped when cut off
  bool cutOff;        // the probe ends the input and is left unconsumed
};

TEST(Utf8BlockTest, SequencesAtEveryBlockPosition) {
  const Utf8Probe probes[] = {
      {"C3 A9", true, "00E9", false},
      {"E3 81 82", true, "3042", false},
      {"F0 9F 98 80", true, "D83D DE00", false},
      {"E3 81 82 C3 A9 41", true, "3042 00E9 0041", false},
      {"80", false, "", false},
      {"E3 41 41", false, "", false},
      {"E3 81 41", false, "", false},
      {"41 81", false, "", false},
      {"C3 C3 A9", false, "", false},
      {"F8", false, "", false},
      {"E3 81", true, "", true},
      {"C3", true, "", true},
  };
  std::vector<std::size_t> offsets;
  for (std::size_t i = 0; i < 40; ++i) offsets.push_back(i);
  for (std::size_t i = 4086; i < 4100; ++i) offsets.push_back(i);
  for (const Utf8Probe& probe : probes) {
    const Bytes bytes = hex(probe.bytes);
    const Bytes units = hex(probe.units);
    for (std::size_t offset : offsets) {
      for (std::size_t tail : {std::size_t{0}, std::size_t{1}, std::size_t{20}, std::size_t{50}}) {
        if (probe.cutOff && tail != 0) continue;
        Bytes in(offset, 'a');
        in.insert(in.end(), bytes.begin(), bytes.end());
        in.insert(in.end(), tail, 'b');
        Bytes want;
        for (std::size_t i = 0; i < offset; ++i) want.insert(want.end(), {0x00, 'a'});
        want.insert(want.end(), units.begin(), units.end());
        for (std::size_t i = 0; i < tail; ++i) want.insert(want.end(), {0x00, 'b'});
        SCOPED_TRACE(std::string(probe.bytes) + " after " + std::to_string(offset) + ", tail " +
                     std::to_string(tail));
        const Outcome run = runConverter(kDecoder, in);
        ASSERT_EQ(run.ok, probe.ok);
        if (!run.ok) continue;
        EXPECT_EQ(toHex(run.out), toHex(want));
        EXPECT_EQ(static_cast<std::size_t>(run.stop), probe.cutOff ? offset : in.size());
      }
    }
  }
}

// Units of every width around 16-unit and 4096-unit block edges, and a
// surrogate pair in each position, encode as they decode.
TEST(Utf8BlockTest, EncoderAgreesAcrossBlocks) {
  const std::uint16_t kinds[] = {0x0041, 0x00E9, 0x3042, 0xD83D};
  for (std::uint16_t kind : kinds) {
    for (std::size_t offset : {0, 1, 7, 8, 15, 16, 17, 4094, 4095, 4096, 4097}) {
      Bytes internal;
      for (std::size_t i = 0; i < offset; ++i) internal.insert(internal.end(), {0x30, 0x42});
      internal.insert(internal.end(),
                      {static_cast<std::uint8_t>(kind >> 8), static_cast<std::uint8_t>(kind)});
      if (kind == 0xD83D) internal.insert(internal.end(), {0xDE, 0x00});
      for (std::size_t i = 0; i < 9; ++i) internal.insert(internal.end(), {0x00, 0x62});
      const Outcome encoded = runConverter(kEncoder, internal);
      ASSERT_TRUE(encoded.ok) << offset;
      const Outcome decoded = runConverter(kDecoder, encoded.out);
      ASSERT_TRUE(decoded.ok) << offset;
      EXPECT_TRUE(decoded.out == internal) << std::hex << kind << " after " << std::dec << offset;
    }
  }
}

TEST(Utf8RegistryTest, CodeFourIsUtf8) {
  EXPECT_NE(dynamic_cast<const UTF8Decoder*>(findDecoder(4)), nullptr);
  EXPECT_NE(dynamic_cast<const UTF8Encoder*>(findEncoder(4)), nullptr);
  EXPECT_EQ(findDecoder(0), nullptr);
  EXPECT_EQ(findDecoder(kCodeCount), nullptr);
  EXPECT_EQ(findEncoder(0), nullptr);
  EXPECT_EQ(findEncoder(kCodeCount), nullptr);
}

}  // namespace
}  // namespace mek::test
