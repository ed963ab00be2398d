#include "mek/stage.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>

#include "codec/sink.h"
#include "mek/detail/in_memory.h"
#include "mek/registry.h"
#include "tests/test_support.h"

namespace mek::test {
namespace {

// Copies its input; counts how often each operation ran.
class CopyConverter : public Converter {
 public:
  bool measure(ConversionBuffer& b) const override {
    ++measures;
    b.size = static_cast<std::int32_t>(b.in_end - b.in_begin);
    b.stop = b.in_end;
    return !rejectMeasure;
  }
  bool convert(ConversionBuffer& b) const override {
    ++converts;
    std::memcpy(b.out, b.in_begin, static_cast<std::size_t>(b.in_end - b.in_begin));
    b.size = static_cast<std::int32_t>(b.in_end - b.in_begin);
    b.stop = b.in_end;
    return !rejectConvert;
  }
  mutable int measures = 0;
  mutable int converts = 0;
  bool rejectMeasure = false;
  bool rejectConvert = false;
};

// Claims an output too large for a signed 32-bit count.
class HugeConverter : public Converter {
 public:
  bool measure(ConversionBuffer& b) const override {
    CountingSink sink;
    sink.copy(nullptr, std::size_t{1} << 31);
    return finishScan(b, b.in_end, sink);
  }
  bool convert(ConversionBuffer&) const override { return false; }
};

std::uint8_t* heapCopy(const Bytes& bytes) {
  auto* p = static_cast<std::uint8_t*>(std::malloc(bytes.size() + 1));
  if (!bytes.empty()) std::memcpy(p, bytes.data(), bytes.size());
  return p;
}

TEST(RunStageTest, PreviousOutputBecomesInput) {
  const Bytes text = hex("00 41 00 0D 00 0A");
  ConversionBuffer buffer;
  buffer.out = heapCopy(text);
  buffer.size = static_cast<std::int32_t>(text.size());
  std::uint8_t* fileBuffer = buffer.out;

  ASSERT_TRUE(runStage(&buffer, findLineEndConverter(1)));
  EXPECT_EQ(buffer.in_begin, fileBuffer);
  EXPECT_EQ(buffer.in_end - buffer.in_begin, 6);
  EXPECT_EQ(toHex(Bytes(buffer.out, buffer.out + buffer.size)), "00 41 00 0A");

  // The next stage releases the first stage's input (a leak otherwise, which
  // the sanitizer build reports) and reads the 4 bytes just written.
  ASSERT_TRUE(runStage(&buffer, findEncoder(4)));
  EXPECT_EQ(buffer.in_end - buffer.in_begin, 4);
  EXPECT_EQ(Bytes(buffer.out, buffer.out + buffer.size), Bytes({'A', '\n'}));
  std::free(buffer.out);
  std::free(const_cast<std::uint8_t*>(buffer.in_begin));
}

// A sequence that the end of the input cuts off fails the stage at its first
// byte, whatever the converter leaves unconsumed: an odd byte, a lead byte, a
// high surrogate.
TEST(RunStageTest, CutOffEndIsMalformed) {
  struct Case {
    const Converter* converter;
    const char* input;
    std::ptrdiff_t at;
  };
  const Case cases[] = {{findDecoder(kCodeUtf16Be), "00 41 00", 2},
                        {findDecoder(kCodeSjis), "41 82", 1},
                        {findDecoder(kCodeEucJp), "41 8F A1", 1},
                        {findDecoder(kCodeUtf8), "41 F0 9F 98", 1},
                        {findDecoder(kCodeUtf32Le), "41 00 00 00 42 00", 4},
                        {findEncoder(kCodeUtf8), "00 41 D8 3D", 2}};
  for (const Case& c : cases) {
    const Bytes text = hex(c.input);
    ConversionBuffer buffer;
    buffer.out = heapCopy(text);
    buffer.size = static_cast<std::int32_t>(text.size());
    EXPECT_FALSE(runStage(&buffer, c.converter)) << c.input;
    EXPECT_EQ(buffer.size, kMalformedInput) << c.input;
    EXPECT_EQ(buffer.stop - buffer.in_begin, c.at) << c.input;
    std::free(const_cast<std::uint8_t*>(buffer.in_begin));
  }
}

// A stage writes into the area of the input before it when that is large
// enough, so that the kernel need not zero fresh pages; the text must come
// out the same, and nothing may be released twice (the sanitizer build
// checks that).
TEST(RunStageTest, OutputReusesTheReleasedAreaWhenItFits) {
  const Bytes utf8 = hex("41 42 43 44 45 46 47 48 0D 0A");
  ConversionBuffer buffer;
  buffer.out = static_cast<std::uint8_t*>(std::malloc(256));
  std::memcpy(buffer.out, utf8.data(), utf8.size());
  buffer.size = static_cast<std::int32_t>(utf8.size());
  std::uint8_t* const fileBuffer = buffer.out;
  ASSERT_TRUE(runStage(&buffer, findDecoder(4)));  // 20 bytes, in a fresh area
  std::uint8_t* const decoded = buffer.out;
  ASSERT_TRUE(runStage(&buffer, findLineEndConverter(1)));  // 18 bytes
  EXPECT_EQ(buffer.out, fileBuffer);
  ASSERT_TRUE(runStage(&buffer, findEncoder(4)));  // 9 bytes
  EXPECT_EQ(buffer.out, decoded);
  EXPECT_EQ(Bytes(buffer.out, buffer.out + buffer.size), hex("41 42 43 44 45 46 47 48 0A"));
  std::free(buffer.out);
  std::free(const_cast<std::uint8_t*>(buffer.in_begin));
}

TEST(RunStageTest, SkippedStageKeepsTheDataAndReleasesTheInputBefore) {
  const Bytes utf8 = hex("41 0A");
  ConversionBuffer buffer;
  buffer.out = heapCopy(utf8);
  buffer.size = 2;
  ASSERT_TRUE(runStage(&buffer, findDecoder(4)));
  std::uint8_t* const decoded = buffer.out;
  skipStage(&buffer);
  EXPECT_EQ(buffer.in_begin, nullptr);
  EXPECT_EQ(buffer.out, decoded);
  EXPECT_EQ(buffer.size, 4);
  ASSERT_TRUE(runStage(&buffer, findEncoder(4)));
  EXPECT_EQ(Bytes(buffer.out, buffer.out + buffer.size), utf8);
  std::free(buffer.out);
  std::free(const_cast<std::uint8_t*>(buffer.in_begin));
}

TEST(RunStageTest, EmptyInputGivesValidEmptyArea) {
  ConversionBuffer buffer;
  buffer.out = heapCopy({});
  buffer.size = 0;
  ASSERT_TRUE(runStage(&buffer, findDecoder(4)));
  EXPECT_NE(buffer.out, nullptr);
  EXPECT_EQ(buffer.size, 0);
  std::free(buffer.out);
  std::free(const_cast<std::uint8_t*>(buffer.in_begin));
}

TEST(RunStageTest, FailedMeasureAllocatesNothingAndPrintsOneMessage) {
  CopyConverter converter;
  converter.rejectMeasure = true;
  ConversionBuffer buffer;
  buffer.out = heapCopy(hex("41"));
  buffer.size = 1;
  ::testing::internal::CaptureStderr();
  EXPECT_FALSE(runStage(&buffer, &converter));
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "cannot convert bytes\n");
  EXPECT_EQ(converter.converts, 0);
  EXPECT_EQ(buffer.out, nullptr);  // the input is held once, by in_begin
  std::free(const_cast<std::uint8_t*>(buffer.in_begin));
}

TEST(RunStageTest, FailedConvertPrintsOneMessage) {
  CopyConverter converter;
  converter.rejectConvert = true;
  ConversionBuffer buffer;
  buffer.out = heapCopy(hex("41"));
  buffer.size = 1;
  ::testing::internal::CaptureStderr();
  EXPECT_FALSE(runStage(&buffer, &converter));
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "cannot convert bytes\n");
  EXPECT_EQ(converter.measures, 1);
  std::free(buffer.out);
  std::free(const_cast<std::uint8_t*>(buffer.in_begin));
}

TEST(RunStageTest, OutputBeyondSignedSizeIsAMemoryFailure) {
  HugeConverter converter;
  ConversionBuffer buffer;
  buffer.out = heapCopy(hex("41"));
  buffer.size = 1;
  ::testing::internal::CaptureStderr();
  EXPECT_FALSE(runStage(&buffer, &converter));
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "cannot allocate enough memory\n");
  std::free(const_cast<std::uint8_t*>(buffer.in_begin));
}

TEST(ConvertInMemoryTest, ThreeStagesWithExactSizes) {
  const Bytes utf8 = hex("EF BB BF E3 81 82 0D 0A 41 0D");
  ConversionBuffer buffer;
  buffer.out = heapCopy(utf8);
  buffer.size = static_cast<std::int32_t>(utf8.size());
  ASSERT_TRUE(convertInMemory(buffer, 4, 4, 2));
  EXPECT_EQ(toHex(Bytes(buffer.out, buffer.out + buffer.size)), "E3 81 82 0D 0A 41 0D 0A");
  std::free(buffer.out);
  std::free(const_cast<std::uint8_t*>(buffer.in_begin));
}

}  // namespace
}  // namespace mek::test
