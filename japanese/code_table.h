#pragma once

#include <cstdint>

namespace mek {

// Marks a cell without a mapping. Every other value, 0x0000 included, maps.
inline constexpr std::uint16_t kNoMapping = 0xFFFF;

// One row of a two-level table: the cells for second index bytes first..last.
struct CodeTableRow {
  const std::uint16_t* values;
  std::uint8_t first;
  std::uint8_t last;
};

// A two-level constant mapping table: one row pointer per first index byte
// first..last, null where no code with that first byte is mapped.
struct CodeTable {
  const CodeTableRow* const* rows;
  std::uint8_t first;
  std::uint8_t last;
};

// The cell for (hi, lo), or kNoMapping for every kind of miss.
constexpr std::uint16_t lookup(const CodeTable& table, std::uint8_t hi, std::uint8_t lo) {
  if (hi < table.first || hi > table.last) return kNoMapping;
  const CodeTableRow* row = table.rows[hi - table.first];
  if (row == nullptr || lo < row->first || lo > row->last) return kNoMapping;
  return row->values[lo - row->first];
}

// The eight tables; each accessor answers constant data built at compile time.
const CodeTable& SjisToUnicode();
const CodeTable& UnicodeToSjis();
const CodeTable& JisX0201ToUnicode();
const CodeTable& UnicodeToJisX0201();
const CodeTable& JisX0208ToUnicode();
const CodeTable& UnicodeToJisX0208();
const CodeTable& JisX0212ToUnicode();
const CodeTable& UnicodeToJisX0212();

}  // namespace mek
