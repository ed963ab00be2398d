#include "convert/end_of_line.h"

#include <gtest/gtest.h>

#include "convert/registry.h"
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
  ASSERT_TRUE(run.ok);
  EXPECT_EQ(toHex(run.out), toHex(hex(c.output)));
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
  EXPECT_EQ(findLineEndConverter(0), nullptr);
  EXPECT_EQ(findLineEndConverter(4), nullptr);
}

}  // namespace
}  // namespace mek::test
