#pragma once

#include <array>
#include <cstddef>
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

// The eight tables are generated into japanese/tables/, a header each, with
// an accessor (SjisToUnicode(), UnicodeToJisX0208(), ...) that answers the
// table's descriptor, constant data built at compile time.

// What the codecs build their direct-index tables from, at compile time.

// N cells, every one without a mapping.
template <std::size_t N>
constexpr std::array<std::uint16_t, N> unmapped() {
  std::array<std::uint16_t, N> cells{};
  for (std::uint16_t& cell : cells) cell = kNoMapping;
  return cells;
}

// The rows of one generated table, as forEachMapping walks them.
template <std::size_t N>
struct PresentRows {
  const CodeTableRow* const (&rows)[N];
  const std::uint8_t (&indices)[N];
};

template <std::size_t N>
constexpr PresentRows<N> presentRows(const CodeTableRow* const (&rows)[N],
                                     const std::uint8_t (&indices)[N]) {
  return {rows, indices};
}

// Calls f(hi, lo, value) for every cell of a generated table that holds a
// mapping. Rows are walked rather than every index looked up, which keeps the
// compile-time evaluation short.
template <std::size_t N, class F>
constexpr void forEachMapping(PresentRows<N> table, F f) {
  for (std::size_t i = 0; i < N; ++i) {
    const CodeTableRow& row = *table.rows[i];
    for (unsigned lo = row.first; lo <= row.last; ++lo) {
      const std::uint16_t value = row.values[lo - row.first];
      if (value != kNoMapping) f(unsigned{table.indices[i]}, lo, value);
    }
  }
}

// A table from Unicode, (hi, lo) to value, as one array indexed by the unit.
template <std::size_t N>
constexpr std::array<std::uint16_t, 0x10000> reverse(PresentRows<N> table) {
  auto cells = unmapped<0x10000>();
  forEachMapping(table,
                 [&](unsigned hi, unsigned lo, std::uint16_t code) { cells[hi << 8 | lo] = code; });
  return cells;
}

}  // namespace mek
