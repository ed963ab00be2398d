#include <gtest/gtest.h>

#include <set>

#include "mek/registry.h"
#include "unicode/utf16.h"
#include "unicode/utf32.h"

namespace mek {
namespace {

TEST(UtfRegistry, DecodersAndTheirModes) {
  struct Row {
    int code;
    bool utf16;
    int mode;
  };
  const Row rows[] = {{5, true, 0},  {6, true, 1},   {7, true, 2},   {8, true, 2},
                      {9, false, 0}, {10, false, 1}, {11, false, 2}, {12, false, 2}};
  for (const Row& r : rows) {
    SCOPED_TRACE(r.code);
    const Converter* c = findDecoder(r.code);
    ASSERT_NE(c, nullptr);
    const UTFDecoder* d = r.utf16
                              ? static_cast<const UTFDecoder*>(dynamic_cast<const UTF16Decoder*>(c))
                              : dynamic_cast<const UTF32Decoder*>(c);
    ASSERT_NE(d, nullptr);
    EXPECT_EQ(d->mode, r.mode);
  }
  EXPECT_EQ(findDecoder(7), findDecoder(8));
  EXPECT_EQ(findDecoder(11), findDecoder(12));
  const std::set<const Converter*> distinct = {findDecoder(5), findDecoder(6),  findDecoder(7),
                                               findDecoder(9), findDecoder(10), findDecoder(11)};
  EXPECT_EQ(distinct.size(), 6u);
}

TEST(UtfRegistry, EncodersAndTheirModes) {
  std::set<const Converter*> distinct;
  for (int code = 5; code <= 12; ++code) {
    SCOPED_TRACE(code);
    const Converter* c = findEncoder(code);
    ASSERT_NE(c, nullptr);
    distinct.insert(c);
    const UTFEncoder* e = code <= 8
                              ? static_cast<const UTFEncoder*>(dynamic_cast<const UTF16Encoder*>(c))
                              : dynamic_cast<const UTF32Encoder*>(c);
    ASSERT_NE(e, nullptr);
    EXPECT_EQ(e->mode, (code - 5) % 4);
  }
  EXPECT_EQ(distinct.size(), 8u);
  EXPECT_EQ(distinct.count(findEncoder(4)), 0u);
}

// The shared decoder lets the mark decide: FE FF 00 41 under input code 8
// (little-endian with mark) is U+0041.
TEST(UtfRegistry, MarkDecidesUnderEitherName) {
  const std::uint8_t in[] = {0xFE, 0xFF, 0x00, 0x41};
  for (int code : {7, 8}) {
    ConversionBuffer buffer;
    buffer.in_begin = in;
    buffer.in_end = in + sizeof in;
    ASSERT_TRUE(findDecoder(code)->measure(buffer));
    std::uint8_t out[2] = {};
    buffer.out = out;
    ASSERT_TRUE(findDecoder(code)->convert(buffer));
    EXPECT_EQ(buffer.size, 2);
    EXPECT_EQ(out[0], 0x00);
    EXPECT_EQ(out[1], 0x41);
  }
}

}  // namespace
}  // namespace mek
