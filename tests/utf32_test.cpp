#include "unicode/utf32.h"

#include <gtest/gtest.h>

#include "tests/codec_check.h"

namespace mek {
namespace {

using test::Bytes;
using test::checkCases;
using test::runConverter;

const UTF32Decoder kDecodeBe{UTF32Decoder::kBigEndian};
const UTF32Decoder kDecodeLe{UTF32Decoder::kLittleEndian};
const UTF32Decoder kDecodeMarked{UTF32Decoder::kByteOrderFromMark};
const UTF32Decoder kDecodeMode5{5};
const UTF32Decoder kDecodeNegative{-2};

const UTF32Encoder kEncodeBe{UTF32Encoder::kBigEndian};
const UTF32Encoder kEncodeLe{UTF32Encoder::kLittleEndian};
const UTF32Encoder kEncodeBeMark{UTF32Encoder::kBigEndianMarked};
const UTF32Encoder kEncodeLeMark{UTF32Encoder::kLittleEndianMarked};
const UTF32Encoder kEncodeMode4{4};
const UTF32Encoder kEncodeNegative{-1};

TEST(Utf32Marks, Tests) {
  struct Row {
    Bytes in;
    bool be;
    bool le;
  };
  const Row rows[] = {
      {{}, false, false},
      {{0x00, 0x00, 0xFE}, false, false},
      {{0xFF, 0xFE, 0x00}, false, false},
      {{0xFF, 0xFE}, false, false},
      {{0x00, 0x00, 0xFE, 0xFF}, true, false},
      {{0xFF, 0xFE, 0x00, 0x00}, false, true},
      {{0x00, 0x00, 0xFE, 0xFF, 0x00}, true, false},
      {{0xFF, 0xFE, 0x00, 0x00, 0x41}, false, true},
      {{0x00, 0x00, 0xFF, 0xFE}, false, false},
      {{0xFE, 0xFF, 0x00, 0x00}, false, false},
      {{0xFF, 0xFE, 0x00, 0x01}, false, false},
  };
  for (const Row& r : rows) {
    const std::uint8_t* b = r.in.data();
    EXPECT_EQ(startsWithUtf32BeMark(b, b + r.in.size()), r.be) << ::testing::PrintToString(r.in);
    EXPECT_EQ(startsWithUtf32LeMark(b, b + r.in.size()), r.le) << ::testing::PrintToString(r.in);
  }
}

TEST(Utf32Decoder, Table) {
  checkCases({
      // mode 2: the mark decides, and is dropped; no mark means big-endian.
      {"marked LE",
       &kDecodeMarked,
       {0xFF, 0xFE, 0x00, 0x00, 0x41, 0x00, 0x00, 0x00},
       true,
       {0x00, 0x41}},
      {"marked BE with pair",
       &kDecodeMarked,
       {0x00, 0x00, 0xFE, 0xFF, 0x00, 0x01, 0xF6, 0x00},
       true,
       {0xD8, 0x3D, 0xDE, 0x00}},
      {"mark alone", &kDecodeMarked, {0xFF, 0xFE, 0x00, 0x00}, true, {}},
      {"BE mark alone", &kDecodeMarked, {0x00, 0x00, 0xFE, 0xFF}, true, {}},
      {"half a mark", &kDecodeMarked, {0xFF, 0xFE}, true, {}, 0},
      {"mark then three bytes",
       &kDecodeMarked,
       {0xFF, 0xFE, 0x00, 0x00, 0x41, 0x00, 0x00},
       true,
       {},
       4},
      {"no mark is BE", &kDecodeMarked, {0x00, 0x00, 0x00, 0x41}, true, {0x00, 0x41}},
      {"no mark, LE data fails", &kDecodeMarked, {0x41, 0x00, 0x00, 0x00}, false, {}},
      {"second mark is a character",
       &kDecodeMarked,
       {0x00, 0x00, 0xFE, 0xFF, 0x00, 0x00, 0xFE, 0xFF},
       true,
       {0xFE, 0xFF}},
      {"LE surrogate value after mark",
       &kDecodeMarked,
       {0xFF, 0xFE, 0x00, 0x00, 0x00, 0xDC, 0x00, 0x00},
       false,
       {}},
      {"empty", &kDecodeMarked, {}, true, {}, 0},

      // mode 0: big-endian, value checks.
      {"BE mark passes",
       &kDecodeBe,
       {0x00, 0x00, 0xFE, 0xFF, 0x00, 0x00, 0x00, 0x41},
       true,
       {0xFE, 0xFF, 0x00, 0x41}},
      {"above U+10FFFF", &kDecodeBe, {0x00, 0x11, 0x00, 0x00}, false, {}},
      {"top byte set", &kDecodeBe, {0x01, 0x00, 0x00, 0x41}, false, {}},
      {"top byte FF", &kDecodeBe, {0xFF, 0x00, 0x00, 0x41}, false, {}},
      {"first surrogate value", &kDecodeBe, {0x00, 0x00, 0xD8, 0x00}, false, {}},
      {"last surrogate value", &kDecodeBe, {0x00, 0x00, 0xDF, 0xFF}, false, {}},
      {"after good text", &kDecodeBe, {0x00, 0x00, 0x00, 0x41, 0x00, 0x00, 0xDC, 0x00}, false, {}},
      {"edges of the surrogate range",
       &kDecodeBe,
       {0x00, 0x00, 0xD7, 0xFF, 0x00, 0x00, 0xE0, 0x00},
       true,
       {0xD7, 0xFF, 0xE0, 0x00}},
      {"U+10FFFF", &kDecodeBe, {0x00, 0x10, 0xFF, 0xFF}, true, {0xDB, 0xFF, 0xDF, 0xFF}},
      {"U+10000", &kDecodeBe, {0x00, 0x01, 0x00, 0x00}, true, {0xD8, 0x00, 0xDC, 0x00}},
      {"plane 2 in a surrogate-looking low half",
       &kDecodeBe,
       {0x00, 0x02, 0xD8, 0x01},
       true,
       {0xD8, 0x76, 0xDC, 0x01}},
      {"two trailing bytes",
       &kDecodeBe,
       {0x00, 0x00, 0x00, 0x41, 0x00, 0x00},
       true,
       {0x00, 0x41},
       4},
      {"three bytes only", &kDecodeBe, {0x00, 0x00, 0x00}, true, {}, 0},

      // mode 1: little-endian.
      {"LE pair, unit and a trailing byte",
       &kDecodeLe,
       {0x00, 0xF6, 0x01, 0x00, 0x41, 0x00, 0x00, 0x00, 0x42},
       true,
       {0xD8, 0x3D, 0xDE, 0x00, 0x00, 0x41},
       8},
      {"LE mark passes", &kDecodeLe, {0xFF, 0xFE, 0x00, 0x00}, true, {0xFE, 0xFF}},
      {"LE above U+10FFFF", &kDecodeLe, {0x00, 0x00, 0x11, 0x00}, false, {}},
      {"LE top byte set", &kDecodeLe, {0x41, 0x00, 0x00, 0x01}, false, {}},
      {"LE surrogate value", &kDecodeLe, {0x00, 0xD8, 0x00, 0x00}, false, {}},
      {"LE U+10FFFF", &kDecodeLe, {0xFF, 0xFF, 0x10, 0x00}, true, {0xDB, 0xFF, 0xDF, 0xFF}},
      {"BE data read as LE fails", &kDecodeLe, {0x00, 0x00, 0x00, 0x41}, false, {}},

      // Other modes: big-endian, no mark recognised.
      {"mode 5 rejects the LE mark", &kDecodeMode5, {0xFF, 0xFE, 0x00, 0x00}, false, {}},
      {"mode 5 keeps the BE mark", &kDecodeMode5, {0x00, 0x00, 0xFE, 0xFF}, true, {0xFE, 0xFF}},
      {"negative mode reads BE", &kDecodeNegative, {0x00, 0x00, 0x30, 0x42}, true, {0x30, 0x42}},
  });
}

TEST(Utf32Encoder, Table) {
  checkCases({
      {"BE pair", &kEncodeBe, {0xD8, 0x00, 0xDC, 0x01}, true, {0x00, 0x01, 0x00, 0x01}},
      {"BE last pair", &kEncodeBe, {0xDB, 0xFF, 0xDF, 0xFF}, true, {0x00, 0x10, 0xFF, 0xFF}},
      {"BE unit", &kEncodeBe, {0x30, 0x42}, true, {0x00, 0x00, 0x30, 0x42}},
      {"LE unit", &kEncodeLe, {0x30, 0x42}, true, {0x42, 0x30, 0x00, 0x00}},
      {"LE pair", &kEncodeLe, {0xD8, 0x3D, 0xDE, 0x00}, true, {0x00, 0xF6, 0x01, 0x00}},
      {"LE marked pair",
       &kEncodeLeMark,
       {0xD8, 0x40, 0xDC, 0x00},
       true,
       {0xFF, 0xFE, 0x00, 0x00, 0x00, 0x00, 0x02, 0x00}},
      {"BE marked unit",
       &kEncodeBeMark,
       {0x30, 0x42},
       true,
       {0x00, 0x00, 0xFE, 0xFF, 0x00, 0x00, 0x30, 0x42}},
      {"mark on empty input BE", &kEncodeBeMark, {}, true, {0x00, 0x00, 0xFE, 0xFF}, 0},
      {"mark on empty input LE", &kEncodeLeMark, {}, true, {0xFF, 0xFE, 0x00, 0x00}, 0},
      {"no mark mode 0", &kEncodeBe, {}, true, {}, 0},
      {"no mark mode 1", &kEncodeLe, {}, true, {}, 0},
      {"mode 4 is BE without mark", &kEncodeMode4, {0x30, 0x42}, true, {0x00, 0x00, 0x30, 0x42}},
      {"negative mode is BE without mark",
       &kEncodeNegative,
       {0x00, 0x41},
       true,
       {0x00, 0x00, 0x00, 0x41}},
      {"U+FEFF passes", &kEncodeLe, {0xFE, 0xFF}, true, {0xFF, 0xFE, 0x00, 0x00}},
      {"lone low", &kEncodeBe, {0xDC, 0x00}, false, {}},
      {"lone low LE", &kEncodeLeMark, {0x00, 0x41, 0xDF, 0xFF}, false, {}},
      {"high then ordinary", &kEncodeBe, {0xD8, 0x00, 0x00, 0x41}, false, {}},
      {"high then high", &kEncodeLe, {0xD8, 0x00, 0xD8, 0x00}, false, {}},
      {"high at end", &kEncodeBe, {0x00, 0x41, 0xD8, 0x00}, true, {0x00, 0x00, 0x00, 0x41}, 2},
      {"high at end marked", &kEncodeBeMark, {0xD8, 0x00}, true, {0x00, 0x00, 0xFE, 0xFF}, 0},
      {"odd final byte", &kEncodeLe, {0x00, 0x41, 0x00}, true, {0x41, 0x00, 0x00, 0x00}, 2},
  });
}

// Big-endian units with values chosen near the surrogate range and with the
// top bit set, so that a wrong mask or a signed pack in the block paths shows.
Bytes ordinaryUnits(std::size_t n) {
  static const std::uint16_t kValues[] = {0x0041, 0x30A2, 0xD7FF, 0xE000, 0x00D8,
                                          0xFFFF, 0x8000, 0x7FFF, 0x9FD8, 0xF8DF};
  Bytes out;
  for (std::size_t i = 0; i < n; ++i) {
    const std::uint16_t u = kValues[i % 10];
    out.push_back(static_cast<std::uint8_t>(u >> 8));
    out.push_back(static_cast<std::uint8_t>(u));
  }
  return out;
}

// UTF-32 of big-endian BMP units.
Bytes widened(const Bytes& units, bool little) {
  Bytes out;
  for (std::size_t i = 0; i + 1 < units.size(); i += 2) {
    if (little) {
      out.insert(out.end(), {units[i + 1], units[i], 0, 0});
    } else {
      out.insert(out.end(), {0, 0, units[i], units[i + 1]});
    }
  }
  return out;
}

// Long inputs go through the block paths; a supplementary character, a bad
// value or a cut unit at every position around the block sizes must be found
// there.
TEST(Utf32Codec, SpecialUnitAtEveryPosition) {
  for (std::size_t length : {5u, 33u, 300u}) {
    for (std::size_t at = 0; at <= length; ++at) {
      SCOPED_TRACE(testing::Message() << "length " << length << " at " << at);
      const Bytes units = ordinaryUnits(length);
      for (bool little : {false, true}) {
        const UTF32Encoder& encoder = little ? kEncodeLe : kEncodeBe;
        const UTF32Decoder& decoder = little ? kDecodeLe : kDecodeBe;
        const Bytes wide = widened(units, little);

        Bytes with_pair = units;
        with_pair.insert(with_pair.begin() + 2 * at, {0xD8, 0x3D, 0xDE, 0x00});
        Bytes expected = wide;
        const Bytes pair32 = little ? Bytes{0x00, 0xF6, 0x01, 0x00} : Bytes{0x00, 0x01, 0xF6, 0x00};
        expected.insert(expected.begin() + 4 * at, pair32.begin(), pair32.end());
        test::Outcome encoded = runConverter(encoder, with_pair);
        ASSERT_TRUE(encoded.ok);
        EXPECT_EQ(encoded.out, expected);
        test::Outcome decoded = runConverter(decoder, expected);
        ASSERT_TRUE(decoded.ok);
        EXPECT_EQ(decoded.out, with_pair);

        Bytes lone_low = units;
        lone_low.insert(lone_low.begin() + 2 * at, {0xDC, 0x00});
        EXPECT_FALSE(runConverter(encoder, lone_low).ok);

        // One bad unit of each kind in the middle of good ones.
        const Bytes bad_values[] = {{0x00, 0x00, 0xD8, 0x00},
                                    {0x00, 0x11, 0x00, 0x00},
                                    {0x80, 0x00, 0x00, 0x41},
                                    {0x00, 0x00, 0xDF, 0xFF}};
        for (const Bytes& bad : bad_values) {
          Bytes with_bad = wide;
          Bytes unit = bad;
          if (little) unit = {bad[3], bad[2], bad[1], bad[0]};
          with_bad.insert(with_bad.begin() + 4 * at, unit.begin(), unit.end());
          EXPECT_FALSE(runConverter(decoder, with_bad).ok) << testing::PrintToString(bad);
        }

        Bytes cut = Bytes(wide.begin(), wide.begin() + 4 * at);
        cut.insert(cut.end(), {0x00, 0x00, 0x00});
        test::Outcome cut_out = runConverter(decoder, cut);
        ASSERT_TRUE(cut_out.ok);
        EXPECT_EQ(cut_out.stop, static_cast<std::ptrdiff_t>(4 * at));
        EXPECT_EQ(cut_out.out, Bytes(units.begin(), units.begin() + 2 * at));
      }
    }
  }
}

TEST(Utf32Codec, EveryValueRoundTrips) {
  Bytes all;
  for (std::uint32_t v = 0; v <= 0x10FFFF; v += v < 0x10000 ? 1 : 0x3F) {
    if (v >= 0xD800 && v < 0xE000) continue;
    all.insert(all.end(), {0, static_cast<std::uint8_t>(v >> 16), static_cast<std::uint8_t>(v >> 8),
                           static_cast<std::uint8_t>(v)});
  }
  all.insert(all.end(), {0x00, 0x10, 0xFF, 0xFF});
  test::Outcome internal = runConverter(kDecodeBe, all);
  ASSERT_TRUE(internal.ok);
  for (const UTF32Encoder* encoder : {&kEncodeBe, &kEncodeLe, &kEncodeBeMark, &kEncodeLeMark}) {
    SCOPED_TRACE(encoder->mode);
    test::Outcome encoded = runConverter(*encoder, internal.out);
    ASSERT_TRUE(encoded.ok);
    const UTF32Decoder& decoder = encoder->mode == UTF32Encoder::kBigEndian      ? kDecodeBe
                                  : encoder->mode == UTF32Encoder::kLittleEndian ? kDecodeLe
                                                                                 : kDecodeMarked;
    test::Outcome decoded = runConverter(decoder, encoded.out);
    ASSERT_TRUE(decoded.ok);
    EXPECT_TRUE(decoded.out == internal.out);
    if (encoder->mode == UTF32Encoder::kBigEndian) {
      EXPECT_TRUE(encoded.out == all);
    }
  }
}

}  // namespace
}  // namespace mek
