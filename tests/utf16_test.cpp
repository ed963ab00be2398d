#include "unicode/utf16.h"

#include <gtest/gtest.h>

#include "tests/codec_check.h"

namespace mek {
namespace {

using test::Bytes;
using test::checkCases;
using test::runConverter;

const UTF16Decoder kDecodeBe{UTF16Decoder::kBigEndian};
const UTF16Decoder kDecodeLe{UTF16Decoder::kLittleEndian};
const UTF16Decoder kDecodeMarked{UTF16Decoder::kByteOrderFromMark};
const UTF16Decoder kDecodeMode3{3};
const UTF16Decoder kDecodeNegative{-1};

const UTF16Encoder kEncodeBe{UTF16Encoder::kBigEndian};
const UTF16Encoder kEncodeLe{UTF16Encoder::kLittleEndian};
const UTF16Encoder kEncodeBeMark{UTF16Encoder::kBigEndianMarked};
const UTF16Encoder kEncodeLeMark{UTF16Encoder::kLittleEndianMarked};
const UTF16Encoder kEncodeMode4{4};
const UTF16Encoder kEncodeNegative{-1};

TEST(Utf16Marks, Tests) {
  struct Row {
    Bytes in;
    bool be;
    bool le;
  };
  const Row rows[] = {
      {{}, false, false},
      {{0xFE}, false, false},
      {{0xFF}, false, false},
      {{0xFE, 0xFF}, true, false},
      {{0xFF, 0xFE}, false, true},
      {{0xFE, 0xFF, 0x00}, true, false},
      {{0xFF, 0xFE, 0x00, 0x00}, false, true},
      {{0xFE, 0xFE}, false, false},
      {{0x00, 0xFE, 0xFF}, false, false},
  };
  for (const Row& r : rows) {
    const std::uint8_t* b = r.in.data();
    EXPECT_EQ(startsWithUtf16BeMark(b, b + r.in.size()), r.be) << ::testing::PrintToString(r.in);
    EXPECT_EQ(startsWithUtf16LeMark(b, b + r.in.size()), r.le) << ::testing::PrintToString(r.in);
  }
}

TEST(Utf16Decoder, Table) {
  checkCases({
      // mode 2: the mark decides, and is dropped; no mark means big-endian.
      {"marked LE", &kDecodeMarked, {0xFF, 0xFE, 0x41, 0x00}, true, {0x00, 0x41}},
      {"marked BE", &kDecodeMarked, {0xFE, 0xFF, 0x00, 0x41}, true, {0x00, 0x41}},
      {"no mark is BE", &kDecodeMarked, {0x00, 0x41, 0x00, 0x42}, true, {0x00, 0x41, 0x00, 0x42}},
      {"no mark, LE-looking data, still BE",
       &kDecodeMarked,
       {0x41, 0x00, 0x42, 0x00},
       true,
       {0x41, 0x00, 0x42, 0x00}},
      {"mark alone", &kDecodeMarked, {0xFE, 0xFF}, true, {}},
      {"LE mark alone", &kDecodeMarked, {0xFF, 0xFE}, true, {}},
      {"single byte", &kDecodeMarked, {0xFF}, true, {}, 0},
      {"empty", &kDecodeMarked, {}, true, {}, 0},
      {"mark then odd byte", &kDecodeMarked, {0xFF, 0xFE, 0x41}, true, {}, 2},
      {"LE pair after mark",
       &kDecodeMarked,
       {0xFF, 0xFE, 0x3D, 0xD8, 0x00, 0xDE},
       true,
       {0xD8, 0x3D, 0xDE, 0x00}},
      {"second mark is a character",
       &kDecodeMarked,
       {0xFE, 0xFF, 0xFF, 0xFE, 0x00, 0x41},
       true,
       {0xFF, 0xFE, 0x00, 0x41}},
      {"LE mark then FE FF", &kDecodeMarked, {0xFF, 0xFE, 0xFE, 0xFF}, true, {0xFF, 0xFE}},
      {"lone low after LE mark", &kDecodeMarked, {0xFF, 0xFE, 0x00, 0xDC}, false, {}},

      // mode 0: big-endian, a mark is U+FEFF.
      {"BE mark passes", &kDecodeBe, {0xFE, 0xFF, 0x00, 0x41}, true, {0xFE, 0xFF, 0x00, 0x41}},
      {"LE mark passes as U+FFFE",
       &kDecodeBe,
       {0xFF, 0xFE, 0x00, 0x41},
       true,
       {0xFF, 0xFE, 0x00, 0x41}},
      {"odd final byte", &kDecodeBe, {0x00, 0x41, 0x00}, true, {0x00, 0x41}, 2},
      {"high surrogate at end", &kDecodeBe, {0x00, 0x41, 0xD8, 0x3D}, true, {0x00, 0x41}, 2},
      {"high surrogate and one byte",
       &kDecodeBe,
       {0x00, 0x41, 0xD8, 0x3D, 0xDC},
       true,
       {0x00, 0x41},
       2},
      {"lone low surrogate", &kDecodeBe, {0xDC, 0x00}, false, {}},
      {"low surrogate after text", &kDecodeBe, {0x00, 0x41, 0xDF, 0xFF}, false, {}},
      {"high then ordinary", &kDecodeBe, {0xD8, 0x00, 0x00, 0x41}, false, {}},
      {"high then high", &kDecodeBe, {0xD8, 0x00, 0xDB, 0xFF}, false, {}},
      {"pair", &kDecodeBe, {0xD8, 0x3D, 0xDE, 0x00}, true, {0xD8, 0x3D, 0xDE, 0x00}},
      {"last pair", &kDecodeBe, {0xDB, 0xFF, 0xDF, 0xFF}, true, {0xDB, 0xFF, 0xDF, 0xFF}},
      {"edges of the surrogate range",
       &kDecodeBe,
       {0xD7, 0xFF, 0xE0, 0x00},
       true,
       {0xD7, 0xFF, 0xE0, 0x00}},

      // mode 1: little-endian, a mark is U+FEFF.
      {"LE with pair",
       &kDecodeLe,
       {0x41, 0x00, 0x3D, 0xD8, 0x00, 0xDE},
       true,
       {0x00, 0x41, 0xD8, 0x3D, 0xDE, 0x00}},
      {"LE mark passes", &kDecodeLe, {0xFF, 0xFE, 0x41, 0x00}, true, {0xFE, 0xFF, 0x00, 0x41}},
      {"LE lone low", &kDecodeLe, {0x00, 0xDC}, false, {}},
      {"LE high then ordinary", &kDecodeLe, {0x00, 0xD8, 0x41, 0x00}, false, {}},
      {"LE odd final byte", &kDecodeLe, {0x41, 0x00, 0x3D}, true, {0x00, 0x41}, 2},
      {"LE high surrogate at end", &kDecodeLe, {0x41, 0x00, 0x3D, 0xD8}, true, {0x00, 0x41}, 2},
      {"LE surrogate-looking low byte",
       &kDecodeLe,
       {0xD8, 0x00, 0xDC, 0x00},
       true,
       {0x00, 0xD8, 0x00, 0xDC}},

      // Other modes: big-endian, no mark recognised.
      {"mode 3 reads BE", &kDecodeMode3, {0x41, 0x00}, true, {0x41, 0x00}},
      {"mode 3 keeps the mark",
       &kDecodeMode3,
       {0xFE, 0xFF, 0x00, 0x41},
       true,
       {0xFE, 0xFF, 0x00, 0x41}},
      {"negative mode keeps LE mark",
       &kDecodeNegative,
       {0xFF, 0xFE, 0x41, 0x00},
       true,
       {0xFF, 0xFE, 0x41, 0x00}},
  });
}

TEST(Utf16Encoder, Table) {
  checkCases({
      {"mark on empty input BE", &kEncodeBeMark, {}, true, {0xFE, 0xFF}, 0},
      {"mark on empty input LE", &kEncodeLeMark, {}, true, {0xFF, 0xFE}, 0},
      {"no mark mode 0", &kEncodeBe, {}, true, {}, 0},
      {"no mark mode 1", &kEncodeLe, {}, true, {}, 0},
      {"no mark mode 4", &kEncodeMode4, {}, true, {}, 0},
      {"mark on odd byte only", &kEncodeLeMark, {0x30}, true, {0xFF, 0xFE}, 0},
      {"LE marked with pair",
       &kEncodeLeMark,
       {0x00, 0x41, 0xD8, 0x00, 0xDC, 0x01},
       true,
       {0xFF, 0xFE, 0x41, 0x00, 0x00, 0xD8, 0x01, 0xDC}},
      {"BE pair", &kEncodeBe, {0xD8, 0x00, 0xDC, 0x01}, true, {0xD8, 0x00, 0xDC, 0x01}},
      {"LE unit", &kEncodeLe, {0x30, 0x42}, true, {0x42, 0x30}},
      {"BE marked", &kEncodeBeMark, {0x30, 0x42}, true, {0xFE, 0xFF, 0x30, 0x42}},
      {"U+FEFF passes LE", &kEncodeLe, {0xFE, 0xFF}, true, {0xFF, 0xFE}},
      {"U+FFFE passes BE", &kEncodeBe, {0xFF, 0xFE}, true, {0xFF, 0xFE}},
      {"mode 4 is BE without mark", &kEncodeMode4, {0x30, 0x42}, true, {0x30, 0x42}},
      {"negative mode is BE without mark", &kEncodeNegative, {0x30, 0x42}, true, {0x30, 0x42}},
      {"lone low", &kEncodeBe, {0xDC, 0x00}, false, {}},
      {"lone low LE", &kEncodeLe, {0xDC, 0x00}, false, {}},
      {"high then ordinary", &kEncodeBe, {0xD8, 0x00, 0x00, 0x41}, false, {}},
      {"high then ordinary LE", &kEncodeLeMark, {0xD8, 0x00, 0x00, 0x41}, false, {}},
      {"high at end", &kEncodeBe, {0x00, 0x41, 0xD8, 0x00}, true, {0x00, 0x41}, 2},
      {"high at end LE marked",
       &kEncodeLeMark,
       {0x00, 0x41, 0xD8, 0x00},
       true,
       {0xFF, 0xFE, 0x41, 0x00},
       2},
      {"high and one byte at end",
       &kEncodeLe,
       {0x00, 0x41, 0xD8, 0x00, 0xDC},
       true,
       {0x41, 0x00},
       2},
      {"odd final byte", &kEncodeLe, {0x00, 0x41, 0x30}, true, {0x41, 0x00}, 2},
  });
}

// Big-endian units with values chosen near the surrogate range, so that a
// wrong mask in the run scan shows.
Bytes ordinaryUnits(std::size_t n) {
  static const std::uint16_t kValues[] = {0x0041, 0x30A2, 0xD7FF, 0xE000, 0x00D8,
                                          0xFFFF, 0xC8DC, 0x0100, 0x9FD8, 0xF8DF};
  Bytes out;
  for (std::size_t i = 0; i < n; ++i) {
    const std::uint16_t u = kValues[i % 10];
    out.push_back(static_cast<std::uint8_t>(u >> 8));
    out.push_back(static_cast<std::uint8_t>(u));
  }
  return out;
}

Bytes swapped(const Bytes& units) {
  Bytes out = units;
  for (std::size_t i = 0; i + 1 < out.size(); i += 2) std::swap(out[i], out[i + 1]);
  return out;
}

// Long inputs go through the block paths; a pair, a lone surrogate or a cut
// surrogate at every position around the block sizes must be found there.
TEST(Utf16Codec, SpecialUnitAtEveryPosition) {
  const Bytes pair = {0xD8, 0x3D, 0xDE, 0x00};
  for (std::size_t length : {7u, 40u, 300u}) {
    for (std::size_t at = 0; at <= length; ++at) {
      SCOPED_TRACE(testing::Message() << "length " << length << " at " << at);
      Bytes units = ordinaryUnits(length);
      Bytes with_pair = units;
      with_pair.insert(with_pair.begin() + 2 * at, pair.begin(), pair.end());

      test::Outcome le = runConverter(kEncodeLe, with_pair);
      ASSERT_TRUE(le.ok);
      EXPECT_EQ(le.out, swapped(with_pair));
      test::Outcome back = runConverter(kDecodeLe, le.out);
      ASSERT_TRUE(back.ok);
      EXPECT_EQ(back.out, with_pair);
      test::Outcome be = runConverter(kDecodeBe, with_pair);
      ASSERT_TRUE(be.ok);
      EXPECT_EQ(be.out, with_pair);

      Bytes lone_low = units;
      lone_low.insert(lone_low.begin() + 2 * at, {0xDC, 0x00});
      EXPECT_FALSE(runConverter(kEncodeBe, lone_low).ok);
      EXPECT_FALSE(runConverter(kEncodeLe, lone_low).ok);
      EXPECT_FALSE(runConverter(kDecodeBe, lone_low).ok);
      EXPECT_FALSE(runConverter(kDecodeLe, swapped(lone_low)).ok);

      Bytes cut = units;
      cut.resize(2 * at);
      cut.insert(cut.end(), {0xDB, 0xFF});
      test::Outcome cut_out = runConverter(kDecodeLe, swapped(cut));
      ASSERT_TRUE(cut_out.ok);
      EXPECT_EQ(cut_out.stop, static_cast<std::ptrdiff_t>(2 * at));
      EXPECT_EQ(cut_out.out, Bytes(cut.begin(), cut.begin() + 2 * at));
    }
  }
}

TEST(Utf16Codec, EveryUnitRoundTrips) {
  Bytes all;
  for (std::uint32_t u = 0; u < 0x10000; ++u) {
    if (u >= 0xD800 && u < 0xE000) continue;
    all.push_back(static_cast<std::uint8_t>(u >> 8));
    all.push_back(static_cast<std::uint8_t>(u));
  }
  for (std::uint32_t hi = 0xD800; hi < 0xDC00; hi += 0x35) {
    all.insert(all.end(),
               {static_cast<std::uint8_t>(hi >> 8), static_cast<std::uint8_t>(hi),
                static_cast<std::uint8_t>(0xDC | (hi & 3)), static_cast<std::uint8_t>(hi * 7)});
  }
  for (const UTF16Encoder* encoder : {&kEncodeBe, &kEncodeLe, &kEncodeBeMark, &kEncodeLeMark}) {
    SCOPED_TRACE(encoder->mode);
    test::Outcome encoded = runConverter(*encoder, all);
    ASSERT_TRUE(encoded.ok);
    const UTF16Decoder& decoder = encoder->mode == UTF16Encoder::kBigEndian      ? kDecodeBe
                                  : encoder->mode == UTF16Encoder::kLittleEndian ? kDecodeLe
                                                                                 : kDecodeMarked;
    test::Outcome decoded = runConverter(decoder, encoded.out);
    ASSERT_TRUE(decoded.ok);
    EXPECT_TRUE(decoded.out == all);
  }
}

}  // namespace
}  // namespace mek
