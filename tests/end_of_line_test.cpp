#include "mek/end_of_line.h"

#include <gtest/gtest.h>

#include <random>

#include "mek/registry.h"
#include "tests/codec_check.h"
#include "tests/test_support.h"

namespace mek::test {
namespace {

struct EolCase {
  int kind;
  const char* input;
  const char* output;
  std::size_t stop;  // offset; SIZE_MAX means the whole input
};

void PrintTo(const EolCase& c, std::ostream* os) {
  *os << '"' << c.input << '"';
}

class EndOfLineTest : public ::testing::TestWithParam<EolCase> {};

TEST_P(EndOfLineTest, RewritesLineEndings) {
  const EolCase& c = GetParam();
  const EndOfLineConverter converter(c.kind);
  const Bytes input = hex(c.input);
  Outcome run = runConverter(converter, input);
  ASSERT_TRUE(run.ok);
  EXPECT_EQ(toHex(run.out), toHex(hex(c.output)));
  EXPECT_EQ(converter.leavesUnchanged(input.data(), input.data() + input.size()), run.out == input);
  EXPECT_EQ(static_cast<std::size_t>(run.stop), c.stop == SIZE_MAX ? input.size() : c.stop);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, EndOfLineTest,
    ::testing::Values(
        EolCase{1, "000D 000A 0041", "000A 0041", SIZE_MAX},
        EolCase{1, "000A 000D", "000A 000A", SIZE_MAX},
        EolCase{1, "000D 000D 000A", "000A 000A", SIZE_MAX},
        EolCase{1, "0041 000D", "0041 000A", SIZE_MAX}, EolCase{2, "000A", "000D 000A", SIZE_MAX},
        EolCase{2, "0041 000A 0042", "0041 000D 000A 0042", SIZE_MAX},
        EolCase{2, "000D 000A 000D", "000D 000A 000D 000A", SIZE_MAX},
        EolCase{0, "000D 000A", "000D", SIZE_MAX},
        EolCase{0, "000A 0041 000A", "000D 0041 000D", SIZE_MAX},
        EolCase{1, "300D 010A", "300D 010A", SIZE_MAX},
        EolCase{1, "D842 DF9F", "D842 DF9F", SIZE_MAX}, EolCase{1, "0041 000A 00", "0041 000A", 4},
        EolCase{1, "", "", 0}, EolCase{2, "", "", 0},
        // CR at the end of a long run exercises the block scan and its tail.
        EolCase{1, "0041 0042 0043 0044 0045 0046 0047 0048 0049 004A 000D 000A 004B",
                "0041 0042 0043 0044 0045 0046 0047 0048 0049 004A 000A 004B", SIZE_MAX},
        EolCase{2, "0061 0062 0063 0064 0065 0066 0067 0068 0069 006A 006B 006C 006D 006E 000D",
                "0061 0062 0063 0064 0065 0066 0067 0068 0069 006A 006B 006C 006D 006E 000D 000A",
                SIZE_MAX},
        // A CR whose LF lies just past a 16-byte block boundary.
        EolCase{1, "0041 0041 0041 0041 0041 0041 0041 000D 000A 0041",
                "0041 0041 0041 0041 0041 0041 0041 000A 0041", SIZE_MAX}));

// The driver skips the stage when leavesUnchanged says so, which is only
// right when converting would indeed give the same bytes. Random texts of
// line breaks, look-alike units and other units, long enough for the block
// scan, with an odd byte now and then.
TEST(EndOfLineTest, LeavesUnchangedExactlyWhenConvertingCopies) {
  const std::uint16_t units[] = {0x0041, 0x000D, 0x000A, 0x0D00, 0x0A00, 0x3042, 0x0D0A};
  std::mt19937 random(7);
  int unchanged = 0;
  for (int round = 0; round < 3000; ++round) {
    Bytes text;
    const int length = static_cast<int>(random() % 80);
    // Mostly ordinary units, so that texts without any change are common.
    for (int i = 0; i < length; ++i) {
      const std::uint16_t u = random() % 8 == 0 ? units[random() % 7] : 0x0041;
      text.push_back(static_cast<std::uint8_t>(u >> 8));
      text.push_back(static_cast<std::uint8_t>(u));
    }
    if (random() % 10 == 0) text.push_back(0x0D);
    for (int kind = 0; kind < 3; ++kind) {
      const EndOfLineConverter converter(kind);
      const Outcome run = runConverter(converter, text);
      const bool same = converter.leavesUnchanged(text.data(), text.data() + text.size());
      ASSERT_EQ(same, run.out == text) << toHex(text) << " kind " << kind;
      unchanged += same;
    }
  }
  EXPECT_GT(unchanged, 500);  // both answers were tried often
}

TEST(EndOfLineTest, ConstructionKinds) {
  const EndOfLineConverter cr(0), lf(1), crlf(2), other(7);
  EXPECT_EQ(cr.sequence_length, 1);
  EXPECT_EQ(cr.sequence[0], 0x0D);
  EXPECT_EQ(lf.sequence_length, 1);
  EXPECT_EQ(lf.sequence[0], 0x0A);
  EXPECT_EQ(crlf.sequence_length, 2);
  EXPECT_EQ(other.sequence_length, 2);
  EXPECT_EQ(other.sequence[1], 0x0A);
}

TEST(EndOfLineTest, RegistryMapsLineEndingCodes) {
  const Bytes input = hex("000A");
  EXPECT_EQ(toHex(runConverter(*findLineEndConverter(1), input).out), "00 0A");
  EXPECT_EQ(toHex(runConverter(*findLineEndConverter(2), input).out), "00 0D 00 0A");
  EXPECT_EQ(toHex(runConverter(*findLineEndConverter(3), input).out), "00 0D");
  // Kept: every line ending as it stands.
  EXPECT_EQ(toHex(runConverter(*findLineEndConverter(4), hex("000D 000A 000D 0041")).out),
            "00 0D 00 0A 00 0D 00 41");
  EXPECT_EQ(findLineEndConverter(0), nullptr);
  EXPECT_EQ(findLineEndConverter(5), nullptr);
}

}  // namespace
}  // namespace mek::test
