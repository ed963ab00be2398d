// One Japanese sample through every pair of the twelve codes with the real
// executable: UTF-8 to code A, A to B, B back to UTF-8 gives the sample again.

#include <gtest/gtest.h>

#include <string>

#include "tests/test_support.h"

namespace mek::test {
namespace {

const char* const kCodes[] = {"sjis",     "euc_jp",   "jis",          "utf8",
                              "utf16_be", "utf16_le", "utf16_be_bom", "utf16_le_bom",
                              "utf32_be", "utf32_le", "utf32_be_bom", "utf32_le_bom"};

TEST(AllPairsTest, SampleSurvivesEveryPair) {
  const std::string sample = std::string(MEK_SOURCE_DIR) + "/examples/sample-utf8.txt";
  const Bytes utf8 = readFile(sample);
  ASSERT_FALSE(utf8.empty());
  ScratchDir dir;
  for (const char* from : kCodes) {
    const std::string source = std::string("in.") + from;
    ASSERT_EQ(runMek(dir, "-iutf8 " + shellQuote(sample) + " -o" + from + " " + source).status, 0)
        << from;
    for (const char* to : kCodes) {
      SCOPED_TRACE(std::string(from) + " to " + to);
      Process there = runMek(dir, std::string("-i") + from + " " + source + " -o" + to + " out");
      ASSERT_EQ(there.status, 0) << there.err;
      Process back = runMek(dir, std::string("-i") + to + " out -outf8");
      ASSERT_EQ(back.status, 0) << back.err;
      EXPECT_TRUE(Bytes(back.out.begin(), back.out.end()) == utf8);
    }
  }
}

}  // namespace
}  // namespace mek::test
