#include "japanese/flat_tables.h"

#include <gtest/gtest.h>

#include "japanese/code_table.h"
#include "japanese/shift_jis.h"
#include "japanese/tables/jis_x0201_to_unicode.h"
#include "japanese/tables/jis_x0208_to_unicode.h"
#include "japanese/tables/jis_x0212_to_unicode.h"
#include "japanese/tables/sjis_to_unicode.h"
#include "japanese/tables/unicode_to_jis_x0201.h"
#include "japanese/tables/unicode_to_jis_x0208.h"
#include "japanese/tables/unicode_to_jis_x0212.h"
#include "japanese/tables/unicode_to_sjis.h"

namespace mek {
namespace {

std::uint16_t at(const CodeTable& table, unsigned hi, unsigned lo) {
  return lookup(table, static_cast<std::uint8_t>(hi), static_cast<std::uint8_t>(lo));
}

TEST(FlatTablesTest, ShiftJisCellsMatchTheCodeTable) {
  for (unsigned b = 0x80; b < 0x100; ++b) {
    const bool oneByte = b >= 0xA1 && b <= 0xDF;
    for (unsigned next = 0; next < 0x100; ++next) {
      const std::uint16_t want =
          oneByte ? at(SjisToUnicode(), 0x00, b) : at(SjisToUnicode(), b, next);
      ASSERT_EQ(kSjisHighToUnicode[sjisHighIndex(static_cast<std::uint8_t>(b),
                                                 static_cast<std::uint8_t>(next))],
                want)
          << std::hex << b << " " << next;
    }
  }
  for (unsigned u = 0; u < 0x10000; ++u) {
    ASSERT_EQ(kUnicodeToSjisCode[u], at(UnicodeToSjis(), u >> 8, u & 0xFF)) << std::hex << u;
  }
}

TEST(FlatTablesTest, JisCellsMatchTheCodeTables) {
  for (unsigned row = 0; row < 0x100; ++row) {
    for (unsigned cell = 0; cell < 0x100; ++cell) {
      const bool inside = row >= 0x21 && row <= 0x7E && cell >= 0x21 && cell <= 0x7E;
      if (!inside) {
        // Outside the 94 x 94 square the codecs test the bytes themselves.
        ASSERT_EQ(at(JisX0208ToUnicode(), row, cell), kNoMapping);
        ASSERT_EQ(at(JisX0212ToUnicode(), row, cell), kNoMapping);
        continue;
      }
      const unsigned index = (row - 0x21) * kJisSide + (cell - 0x21);
      ASSERT_EQ(kJisX0208ToUnicode[index], at(JisX0208ToUnicode(), row, cell));
      ASSERT_EQ(kJisX0212ToUnicode[index], at(JisX0212ToUnicode(), row, cell));
    }
  }
  for (unsigned b = 0; b < 0x100; ++b) {
    ASSERT_EQ(kJisX0201ToUnicode[b], at(JisX0201ToUnicode(), 0x00, b)) << b;
  }
}

// Each Unicode value gets the first of ASCII, JIS X 0208, JIS X 0212 and
// JIS X 0201 that holds it.
TEST(FlatTablesTest, UnicodeToJisTakesTheFirstSetThatHoldsTheValue) {
  for (unsigned u = 0; u < 0x10000; ++u) {
    const unsigned hi = u >> 8, lo = u & 0xFF;
    std::uint16_t want = kNoMapping;
    if (u < 0x80) {
      want = static_cast<std::uint16_t>(u);
    } else if (at(UnicodeToJisX0208(), hi, lo) != kNoMapping) {
      want = at(UnicodeToJisX0208(), hi, lo);
    } else if (at(UnicodeToJisX0212(), hi, lo) != kNoMapping) {
      want = static_cast<std::uint16_t>(kJisX0212Flag | at(UnicodeToJisX0212(), hi, lo));
    } else if (at(UnicodeToJisX0201(), hi, lo) != kNoMapping) {
      want = at(UnicodeToJisX0201(), hi, lo);
    }
    ASSERT_EQ(kUnicodeToJisCode[u], want) << std::hex << u;
  }
}

}  // namespace
}  // namespace mek
