#include "japanese/code_table.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

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

using Accessor = const CodeTable& (*)();

struct TableFacts {
  const char* name;
  Accessor table;
  std::uint8_t first;
  std::uint8_t last;
  int rows;
  int mappings;
};

const TableFacts kTables[] = {
    {"SjisToUnicode", SjisToUnicode, 0x00, 0xFC, 46, 7915},
    {"UnicodeToSjis", UnicodeToSjis, 0x00, 0xFF, 98, 7517},
    {"JisX0201ToUnicode", JisX0201ToUnicode, 0x00, 0x00, 1, 158},
    {"UnicodeToJisX0201", UnicodeToJisX0201, 0x00, 0xFF, 3, 158},
    {"JisX0208ToUnicode", JisX0208ToUnicode, 0x21, 0x74, 77, 6879},
    {"UnicodeToJisX0208", UnicodeToJisX0208, 0x00, 0xFF, 93, 6879},
    {"JisX0212ToUnicode", JisX0212ToUnicode, 0x22, 0x6D, 68, 6067},
    {"UnicodeToJisX0212", UnicodeToJisX0212, 0x00, 0x9F, 88, 6067},
};

// Every (index, cell) of a table that holds a mapping, index = hi * 256 + lo.
std::map<unsigned, std::uint16_t> mappingsOf(const CodeTable& table) {
  std::map<unsigned, std::uint16_t> result;
  for (unsigned hi = table.first; hi <= table.last; ++hi) {
    const CodeTableRow* row = table.rows[hi - table.first];
    if (row == nullptr) continue;
    for (unsigned lo = row->first; lo <= row->last; ++lo) {
      std::uint16_t cell = row->values[lo - row->first];
      if (cell != kNoMapping) result[hi << 8 | lo] = cell;
    }
  }
  return result;
}

// Looks up a 16-bit index: a code below 0x100 is a one-byte code at hi 0x00.
std::uint16_t lookup16(const CodeTable& table, unsigned index) {
  return lookup(table, static_cast<std::uint8_t>(index >> 8),
                static_cast<std::uint8_t>(index & 0xFF));
}

std::string hex(unsigned value) {
  char text[8];
  std::snprintf(text, sizeof text, "0x%04X", value);
  return text;
}

TEST(CodeTableTest, CountsAndShapeOfEachTable) {
  int cells = 0, mappings = 0, rows = 0, pointers = 0;
  for (const TableFacts& facts : kTables) {
    SCOPED_TRACE(facts.name);
    const CodeTable& table = facts.table();
    EXPECT_EQ(hex(table.first), hex(facts.first));
    EXPECT_EQ(hex(table.last), hex(facts.last));
    // The descriptor is trimmed to the first index bytes that have mappings.
    EXPECT_NE(table.rows[0], nullptr);
    EXPECT_NE(table.rows[table.last - table.first], nullptr);
    int table_rows = 0;
    for (unsigned hi = table.first; hi <= table.last; ++hi) {
      const CodeTableRow* row = table.rows[hi - table.first];
      ++pointers;
      if (row == nullptr) continue;
      ++table_rows;
      ASSERT_LE(row->first, row->last) << "row " << hex(hi);
      cells += row->last - row->first + 1;
      // Each row is trimmed to its mappings.
      EXPECT_NE(row->values[0], kNoMapping) << "row " << hex(hi);
      EXPECT_NE(row->values[row->last - row->first], kNoMapping) << "row " << hex(hi);
    }
    EXPECT_EQ(table_rows, facts.rows);
    rows += table_rows;
    int table_mappings = static_cast<int>(mappingsOf(table).size());
    EXPECT_EQ(table_mappings, facts.mappings);
    mappings += table_mappings;
  }
  EXPECT_EQ(cells, 85615);
  EXPECT_EQ(mappings, 41640);
  EXPECT_EQ(rows, 474);
  EXPECT_EQ(pointers, 1342);
}

struct RowSpan {
  Accessor table;
  const char* name;
  std::uint8_t hi;
  std::uint8_t first;
  std::uint8_t last;
};

TEST(CodeTableTest, RowSpansAndNullRows) {
  const RowSpan spans[] = {
      {SjisToUnicode, "SjisToUnicode", 0x00, 0x00, 0xDF},
      {SjisToUnicode, "SjisToUnicode", 0x81, 0x40, 0xFC},
      {SjisToUnicode, "SjisToUnicode", 0x87, 0x40, 0x9C},
      {SjisToUnicode, "SjisToUnicode", 0xFC, 0x40, 0x4B},
      {JisX0201ToUnicode, "JisX0201ToUnicode", 0x00, 0x20, 0xDF},
      {UnicodeToJisX0201, "UnicodeToJisX0201", 0x00, 0x20, 0xA5},
      {UnicodeToJisX0201, "UnicodeToJisX0201", 0x20, 0x3E, 0x3E},
      {UnicodeToJisX0201, "UnicodeToJisX0201", 0xFF, 0x61, 0x9F},
      {JisX0208ToUnicode, "JisX0208ToUnicode", 0x74, 0x21, 0x26},
      {JisX0212ToUnicode, "JisX0212ToUnicode", 0x22, 0x2F, 0x71},
      {JisX0212ToUnicode, "JisX0212ToUnicode", 0x6D, 0x21, 0x63},
  };
  for (const RowSpan& span : spans) {
    const CodeTable& table = span.table();
    const CodeTableRow* row = table.rows[span.hi - table.first];
    ASSERT_NE(row, nullptr) << span.name << " row " << hex(span.hi);
    EXPECT_EQ(hex(row->first), hex(span.first)) << span.name << " row " << hex(span.hi);
    EXPECT_EQ(hex(row->last), hex(span.last)) << span.name << " row " << hex(span.hi);
  }

  struct NullRows {
    Accessor table;
    const char* name;
    std::vector<unsigned> rows;
  };
  std::vector<unsigned> sjis_null;
  for (unsigned hi = 0x01; hi <= 0x80; ++hi) sjis_null.push_back(hi);
  sjis_null.insert(sjis_null.end(), {0x85, 0x86, 0xEB, 0xEC});
  for (unsigned hi = 0xA0; hi <= 0xDF; ++hi) sjis_null.push_back(hi);
  for (unsigned hi = 0xEF; hi <= 0xF9; ++hi) sjis_null.push_back(hi);
  const NullRows expected[] = {
      {SjisToUnicode, "SjisToUnicode", sjis_null},
      {JisX0208ToUnicode, "JisX0208ToUnicode", {0x29, 0x2A, 0x2B, 0x2C, 0x2D, 0x2E, 0x2F}},
      {JisX0212ToUnicode, "JisX0212ToUnicode", {0x23, 0x24, 0x25, 0x28, 0x2C, 0x2D, 0x2E, 0x2F}},
  };
  for (const NullRows& entry : expected) {
    const CodeTable& table = entry.table();
    std::vector<unsigned> null_rows;
    for (unsigned hi = table.first; hi <= table.last; ++hi) {
      if (table.rows[hi - table.first] == nullptr) null_rows.push_back(hi);
    }
    std::vector<unsigned> want = entry.rows;
    std::sort(want.begin(), want.end());
    EXPECT_EQ(null_rows, want) << entry.name;
  }
}

struct Lookup {
  Accessor table;
  const char* name;
  std::uint8_t hi;
  std::uint8_t lo;
  std::uint16_t expected;
};

constexpr std::uint16_t kMiss = kNoMapping;

// Telling values and every kind of miss: below or beyond the descriptor, a
// null row, below or beyond a row, and a hole inside a row.
const Lookup kLookups[] = {
    {SjisToUnicode, "SjisToUnicode", 0x00, 0x00, 0x0000},
    {SjisToUnicode, "SjisToUnicode", 0x00, 0x5C, 0x005C},
    {SjisToUnicode, "SjisToUnicode", 0x00, 0x7E, 0x007E},
    {SjisToUnicode, "SjisToUnicode", 0x00, 0x7F, 0x007F},
    {SjisToUnicode, "SjisToUnicode", 0x00, 0xA1, 0xFF61},
    {SjisToUnicode, "SjisToUnicode", 0x00, 0xDF, 0xFF9F},
    {SjisToUnicode, "SjisToUnicode", 0x81, 0x5F, 0xFF3C},
    {SjisToUnicode, "SjisToUnicode", 0x81, 0x60, 0xFF5E},
    {SjisToUnicode, "SjisToUnicode", 0x81, 0x61, 0x2225},
    {SjisToUnicode, "SjisToUnicode", 0x81, 0x7C, 0xFF0D},
    {SjisToUnicode, "SjisToUnicode", 0x81, 0x91, 0xFFE0},
    {SjisToUnicode, "SjisToUnicode", 0x81, 0x92, 0xFFE1},
    {SjisToUnicode, "SjisToUnicode", 0x81, 0xCA, 0xFFE2},
    {SjisToUnicode, "SjisToUnicode", 0x82, 0xA0, 0x3042},
    {SjisToUnicode, "SjisToUnicode", 0x87, 0x40, 0x2460},
    {SjisToUnicode, "SjisToUnicode", 0xED, 0x40, 0x7E8A},
    {SjisToUnicode, "SjisToUnicode", 0xEE, 0xEF, 0x2170},
    {SjisToUnicode, "SjisToUnicode", 0xEE, 0xF9, 0xFFE2},
    {SjisToUnicode, "SjisToUnicode", 0xFA, 0x40, 0x2170},
    {SjisToUnicode, "SjisToUnicode", 0xFC, 0x4B, 0x9ED1},
    {SjisToUnicode, "SjisToUnicode", 0x00, 0x80, kMiss},  // hole in row 0x00
    {SjisToUnicode, "SjisToUnicode", 0x00, 0xA0, kMiss},  // hole in row 0x00
    {SjisToUnicode, "SjisToUnicode", 0x00, 0xE0, kMiss},  // beyond row 0x00
    {SjisToUnicode, "SjisToUnicode", 0x00, 0xFF, kMiss},
    {SjisToUnicode, "SjisToUnicode", 0x81, 0x7F, kMiss},  // hole
    {SjisToUnicode, "SjisToUnicode", 0x81, 0x3F, kMiss},  // below the row
    {SjisToUnicode, "SjisToUnicode", 0x87, 0x5E, kMiss},
    {SjisToUnicode, "SjisToUnicode", 0x87, 0x7F, kMiss},
    {SjisToUnicode, "SjisToUnicode", 0xEE, 0xED, kMiss},
    {SjisToUnicode, "SjisToUnicode", 0xFC, 0x4C, kMiss},  // beyond the row
    {SjisToUnicode, "SjisToUnicode", 0x85, 0x40, kMiss},  // null row
    {SjisToUnicode, "SjisToUnicode", 0xF0, 0x40, kMiss},  // null row, user-defined area
    {SjisToUnicode, "SjisToUnicode", 0xFD, 0x40, kMiss},  // beyond the descriptor

    {JisX0201ToUnicode, "JisX0201ToUnicode", 0x00, 0x20, 0x0020},
    {JisX0201ToUnicode, "JisX0201ToUnicode", 0x00, 0x5C, 0x00A5},
    {JisX0201ToUnicode, "JisX0201ToUnicode", 0x00, 0x7E, 0x203E},
    {JisX0201ToUnicode, "JisX0201ToUnicode", 0x00, 0xA1, 0xFF61},
    {JisX0201ToUnicode, "JisX0201ToUnicode", 0x00, 0xDF, 0xFF9F},
    {JisX0201ToUnicode, "JisX0201ToUnicode", 0x00, 0x1F, kMiss},
    {JisX0201ToUnicode, "JisX0201ToUnicode", 0x00, 0x7F, kMiss},
    {JisX0201ToUnicode, "JisX0201ToUnicode", 0x00, 0xA0, kMiss},
    {JisX0201ToUnicode, "JisX0201ToUnicode", 0x00, 0xE0, kMiss},
    {JisX0201ToUnicode, "JisX0201ToUnicode", 0x01, 0x41, kMiss},
    {JisX0201ToUnicode, "JisX0201ToUnicode", 0x24, 0x22, kMiss},

    {JisX0208ToUnicode, "JisX0208ToUnicode", 0x21, 0x21, 0x3000},
    {JisX0208ToUnicode, "JisX0208ToUnicode", 0x21, 0x40, 0x005C},
    {JisX0208ToUnicode, "JisX0208ToUnicode", 0x21, 0x41, 0x301C},
    {JisX0208ToUnicode, "JisX0208ToUnicode", 0x21, 0x42, 0x2016},
    {JisX0208ToUnicode, "JisX0208ToUnicode", 0x21, 0x5D, 0x2212},
    {JisX0208ToUnicode, "JisX0208ToUnicode", 0x21, 0x71, 0x00A2},
    {JisX0208ToUnicode, "JisX0208ToUnicode", 0x21, 0x72, 0x00A3},
    {JisX0208ToUnicode, "JisX0208ToUnicode", 0x22, 0x4C, 0x00AC},
    {JisX0208ToUnicode, "JisX0208ToUnicode", 0x24, 0x22, 0x3042},
    {JisX0208ToUnicode, "JisX0208ToUnicode", 0x4F, 0x53, 0x8155},
    {JisX0208ToUnicode, "JisX0208ToUnicode", 0x74, 0x26, 0x7199},
    {JisX0208ToUnicode, "JisX0208ToUnicode", 0x4F, 0x54, kMiss},
    {JisX0208ToUnicode, "JisX0208ToUnicode", 0x74, 0x27, kMiss},
    {JisX0208ToUnicode, "JisX0208ToUnicode", 0x29, 0x21, kMiss},
    {JisX0208ToUnicode, "JisX0208ToUnicode", 0x20, 0x21, kMiss},
    {JisX0208ToUnicode, "JisX0208ToUnicode", 0x75, 0x21, kMiss},
    {JisX0208ToUnicode, "JisX0208ToUnicode", 0xA4, 0xA2, kMiss},  // EUC-JP bytes

    {JisX0212ToUnicode, "JisX0212ToUnicode", 0x22, 0x2F, 0x02D8},
    {JisX0212ToUnicode, "JisX0212ToUnicode", 0x22, 0x37, 0x007E},
    {JisX0212ToUnicode, "JisX0212ToUnicode", 0x22, 0x42, 0x00A1},
    {JisX0212ToUnicode, "JisX0212ToUnicode", 0x30, 0x21, 0x4E02},
    {JisX0212ToUnicode, "JisX0212ToUnicode", 0x6D, 0x63, 0x9FA5},
    {JisX0212ToUnicode, "JisX0212ToUnicode", 0x22, 0x2E, kMiss},
    {JisX0212ToUnicode, "JisX0212ToUnicode", 0x23, 0x21, kMiss},
    {JisX0212ToUnicode, "JisX0212ToUnicode", 0x21, 0x21, kMiss},
    {JisX0212ToUnicode, "JisX0212ToUnicode", 0x6E, 0x21, kMiss},

    {UnicodeToSjis, "UnicodeToSjis", 0x00, 0x00, 0x0000},
    {UnicodeToSjis, "UnicodeToSjis", 0x00, 0x5C, 0x005C},
    {UnicodeToSjis, "UnicodeToSjis", 0x00, 0x7E, 0x007E},
    {UnicodeToSjis, "UnicodeToSjis", 0xFF, 0x61, 0x00A1},
    {UnicodeToSjis, "UnicodeToSjis", 0x30, 0x42, 0x82A0},
    {UnicodeToSjis, "UnicodeToSjis", 0xFF, 0x3C, 0x815F},
    {UnicodeToSjis, "UnicodeToSjis", 0xFF, 0x5E, 0x8160},
    {UnicodeToSjis, "UnicodeToSjis", 0x7E, 0x8A, 0xFA5C},
    {UnicodeToSjis, "UnicodeToSjis", 0x9E, 0xD1, 0xFC4B},
    {UnicodeToSjis, "UnicodeToSjis", 0x21, 0x70, 0xFA40},
    {UnicodeToSjis, "UnicodeToSjis", 0x21, 0x60, 0xFA4A},
    {UnicodeToSjis, "UnicodeToSjis", 0x21, 0x16, 0xFA59},
    {UnicodeToSjis, "UnicodeToSjis", 0x21, 0x21, 0xFA5A},
    {UnicodeToSjis, "UnicodeToSjis", 0x32, 0x31, 0xFA58},
    {UnicodeToSjis, "UnicodeToSjis", 0x22, 0x52, 0x8790},
    {UnicodeToSjis, "UnicodeToSjis", 0x22, 0x1A, 0x8795},
    {UnicodeToSjis, "UnicodeToSjis", 0x22, 0x35, 0xFA5B},
    {UnicodeToSjis, "UnicodeToSjis", 0xFF, 0xE2, 0xFA54},
    {UnicodeToSjis, "UnicodeToSjis", 0x24, 0x60, 0x8740},
    {UnicodeToSjis, "UnicodeToSjis", 0x00, 0xA2, kMiss},
    {UnicodeToSjis, "UnicodeToSjis", 0x00, 0xA3, kMiss},
    {UnicodeToSjis, "UnicodeToSjis", 0x00, 0xA5, kMiss},
    {UnicodeToSjis, "UnicodeToSjis", 0x00, 0xAC, kMiss},
    {UnicodeToSjis, "UnicodeToSjis", 0x20, 0x16, kMiss},
    {UnicodeToSjis, "UnicodeToSjis", 0x20, 0x3E, kMiss},
    {UnicodeToSjis, "UnicodeToSjis", 0x22, 0x12, kMiss},
    {UnicodeToSjis, "UnicodeToSjis", 0x30, 0x1C, kMiss},
    {UnicodeToSjis, "UnicodeToSjis", 0xE0, 0x00, kMiss},

    {UnicodeToJisX0201, "UnicodeToJisX0201", 0x00, 0x20, 0x20},
    {UnicodeToJisX0201, "UnicodeToJisX0201", 0x00, 0xA5, 0x5C},
    {UnicodeToJisX0201, "UnicodeToJisX0201", 0x20, 0x3E, 0x7E},
    {UnicodeToJisX0201, "UnicodeToJisX0201", 0xFF, 0x61, 0xA1},
    {UnicodeToJisX0201, "UnicodeToJisX0201", 0xFF, 0x9F, 0xDF},
    {UnicodeToJisX0201, "UnicodeToJisX0201", 0x00, 0x5C, kMiss},
    {UnicodeToJisX0201, "UnicodeToJisX0201", 0x00, 0x7E, kMiss},
    {UnicodeToJisX0201, "UnicodeToJisX0201", 0x00, 0x1F, kMiss},
    {UnicodeToJisX0201, "UnicodeToJisX0201", 0x20, 0x3D, kMiss},
    {UnicodeToJisX0201, "UnicodeToJisX0201", 0x30, 0x42, kMiss},

    {UnicodeToJisX0208, "UnicodeToJisX0208", 0x30, 0x42, 0x2422},
    {UnicodeToJisX0208, "UnicodeToJisX0208", 0x00, 0x5C, 0x2140},
    {UnicodeToJisX0208, "UnicodeToJisX0208", 0x30, 0x1C, 0x2141},
    {UnicodeToJisX0208, "UnicodeToJisX0208", 0x22, 0x12, 0x215D},
    {UnicodeToJisX0208, "UnicodeToJisX0208", 0xFF, 0x3C, kMiss},
    {UnicodeToJisX0208, "UnicodeToJisX0208", 0x00, 0x41, kMiss},

    {UnicodeToJisX0212, "UnicodeToJisX0212", 0x00, 0x7E, 0x2237},
    {UnicodeToJisX0212, "UnicodeToJisX0212", 0x4E, 0x02, 0x3021},
    {UnicodeToJisX0212, "UnicodeToJisX0212", 0x9F, 0xA5, 0x6D63},
    {UnicodeToJisX0212, "UnicodeToJisX0212", 0xA0, 0x00, kMiss},
    {UnicodeToJisX0212, "UnicodeToJisX0212", 0xFF, 0x5E, kMiss},
};

TEST(CodeTableTest, TellingValuesAndMisses) {
  for (const Lookup& l : kLookups) {
    EXPECT_EQ(hex(lookup(l.table(), l.hi, l.lo)), hex(l.expected))
        << l.name << " (" << hex(l.hi) << ", " << hex(l.lo) << ")";
  }
}

struct Pair {
  const char* name;
  Accessor forward;
  Accessor reverse;
};

const Pair kPairs[] = {
    {"Sjis", SjisToUnicode, UnicodeToSjis},
    {"JisX0201", JisX0201ToUnicode, UnicodeToJisX0201},
    {"JisX0208", JisX0208ToUnicode, UnicodeToJisX0208},
    {"JisX0212", JisX0212ToUnicode, UnicodeToJisX0212},
};

TEST(CodeTableTest, EveryReverseMappingLeadsBack) {
  for (const Pair& pair : kPairs) {
    SCOPED_TRACE(pair.name);
    for (auto [unicode, code] : mappingsOf(pair.reverse())) {
      EXPECT_EQ(hex(lookup16(pair.forward(), code)), hex(unicode))
          << "U+" << hex(unicode) << " gives " << hex(code);
    }
  }
}

// The reverse table holds every value that its forward table produces, and
// for Shift_JIS the highest of the codes that produce it.
TEST(CodeTableTest, ReverseTablesCoverTheirForwardTables) {
  for (const Pair& pair : kPairs) {
    SCOPED_TRACE(pair.name);
    std::map<unsigned, unsigned> highest;
    std::map<unsigned, int> codes_per_value;
    for (auto [code, unicode] : mappingsOf(pair.forward())) {
      highest[unicode] = code;  // ascending order: the last one is the highest
      ++codes_per_value[unicode];
    }
    EXPECT_EQ(mappingsOf(pair.reverse()).size(), highest.size());
    for (auto [unicode, code] : highest) {
      EXPECT_EQ(hex(lookup16(pair.reverse(), unicode)), hex(code)) << "U+" << hex(unicode);
    }
    int shared = 0, losers = 0;
    for (auto [unicode, count] : codes_per_value) {
      if (count > 1) ++shared, losers += count - 1;
    }
    bool is_sjis = pair.forward == SjisToUnicode;
    EXPECT_EQ(shared, is_sjis ? 396 : 0);
    EXPECT_EQ(losers, is_sjis ? 398 : 0);
  }
}

TEST(CodeTableTest, NoPrivateUseValueHasAShiftJisCode) {
  for (unsigned unicode = 0xE000; unicode <= 0xF8FF; ++unicode) {
    EXPECT_EQ(lookup16(UnicodeToSjis(), unicode), kNoMapping) << "U+" << hex(unicode);
  }
}

TEST(CodeTableTest, JisReverseTablesShareNoUnicodeValue) {
  std::map<unsigned, int> owners;
  for (Accessor table : {UnicodeToJisX0201, UnicodeToJisX0208, UnicodeToJisX0212}) {
    for (auto [unicode, code] : mappingsOf(table())) ++owners[unicode];
  }
  for (auto [unicode, count] : owners) EXPECT_EQ(count, 1) << "U+" << hex(unicode);
}

}  // namespace
}  // namespace mek
