#include "japanese/flat_tables.h"

#include "japanese/tables/jis_x0201_to_unicode.h"
#include "japanese/tables/jis_x0208_to_unicode.h"
#include "japanese/tables/jis_x0212_to_unicode.h"
#include "japanese/tables/sjis_to_unicode.h"
#include "japanese/tables/unicode_to_jis_x0201.h"
#include "japanese/tables/unicode_to_jis_x0208.h"
#include "japanese/tables/unicode_to_jis_x0212.h"
#include "japanese/tables/unicode_to_sjis.h"
#include "japanese/twins.h"

namespace mek {
namespace {

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

constexpr std::array<std::uint16_t, 0x8000> sjisHigh() {
  auto cells = unmapped<0x8000>();
  forEachMapping(presentRows(tables::sjis_to_unicode::kPresentRows,
                             tables::sjis_to_unicode::kPresentRowIndices),
                 [&](unsigned hi, unsigned lo, std::uint16_t u) {
                   if (hi != 0) {
                     cells[(hi - 0x80) << 8 | lo] = u;
                   } else if (lo >= 0x80) {
                     for (unsigned next = 0; next < 0x100; ++next)
                       cells[(lo - 0x80) << 8 | next] = u;
                   }
                 });
  return cells;
}

// The user-defined area of code page 932: lead bytes 0xF0..0xF9 with the
// usual trail bytes, 188 codes a row, in order onto U+E000..U+E757.
template <class F>
constexpr void forEachUserDefinedCode(F f) {
  std::uint16_t unit = 0xE000;
  for (unsigned lead = 0xF0; lead <= 0xF9; ++lead) {
    for (unsigned trail = 0x40; trail <= 0xFC; ++trail) {
      if (trail != 0x7F) f(lead, trail, unit++);
    }
  }
}

constexpr std::array<std::uint16_t, 0x8000> cp932High() {
  auto cells = sjisHigh();
  forEachUserDefinedCode([&](unsigned lead, unsigned trail, std::uint16_t unit) {
    cells[(lead - 0x80) << 8 | trail] = unit;
  });
  return cells;
}

constexpr bool isNecSelectedIbm(unsigned code) {
  return code >= 0xED40 && code <= 0xEEFC;
}

// Where a character has several codes the lowest wins, except that the
// NEC-selected IBM extensions lose to the IBM extensions. Characters without
// a code of their own take their twin's, and U+00A5 and U+203E the bytes
// 0x5C and 0x7E, as Windows writes them.
constexpr std::array<std::uint16_t, 0x10000> unicodeToCp932() {
  auto cells = unmapped<0x10000>();
  forEachMapping(presentRows(tables::sjis_to_unicode::kPresentRows,
                             tables::sjis_to_unicode::kPresentRowIndices),
                 [&](unsigned hi, unsigned lo, std::uint16_t u) {
                   const auto code = static_cast<std::uint16_t>(hi << 8 | lo);
                   if (cells[u] == kNoMapping || isNecSelectedIbm(cells[u])) cells[u] = code;
                 });
  forEachUserDefinedCode([&](unsigned lead, unsigned trail, std::uint16_t unit) {
    cells[unit] = static_cast<std::uint16_t>(lead << 8 | trail);
  });
  for (std::uint16_t u : kTwinUnits) {
    if (cells[u] == kNoMapping) cells[u] = twinSjis(u);
  }
  cells[0x00A5] = 0x5C;
  cells[0x203E] = 0x7E;
  return cells;
}

template <std::size_t N>
constexpr std::array<std::uint16_t, 0x10000> reverse(PresentRows<N> table) {
  auto cells = unmapped<0x10000>();
  forEachMapping(table,
                 [&](unsigned hi, unsigned lo, std::uint16_t code) { cells[hi << 8 | lo] = code; });
  return cells;
}

template <std::size_t N>
constexpr std::array<std::uint16_t, kJisSide * kJisSide> jisSquare(PresentRows<N> table) {
  auto cells = unmapped<kJisSide * kJisSide>();
  forEachMapping(table, [&](unsigned row, unsigned cell, std::uint16_t u) {
    cells[(row - 0x21) * kJisSide + (cell - 0x21)] = u;
  });
  return cells;
}

constexpr std::array<std::uint16_t, 0x100> jisX0201() {
  auto cells = unmapped<0x100>();
  forEachMapping(presentRows(tables::jis_x0201_to_unicode::kPresentRows,
                             tables::jis_x0201_to_unicode::kPresentRowIndices),
                 [&](unsigned, unsigned lo, std::uint16_t u) { cells[lo] = u; });
  return cells;
}

// Later writers win, so the sets are entered from the last choice to the first.
constexpr std::array<std::uint16_t, 0x10000> unicodeToJis() {
  auto cells = unmapped<0x10000>();
  forEachMapping(presentRows(tables::unicode_to_jis_x0201::kPresentRows,
                             tables::unicode_to_jis_x0201::kPresentRowIndices),
                 [&](unsigned hi, unsigned lo, std::uint16_t code) { cells[hi << 8 | lo] = code; });
  forEachMapping(presentRows(tables::unicode_to_jis_x0212::kPresentRows,
                             tables::unicode_to_jis_x0212::kPresentRowIndices),
                 [&](unsigned hi, unsigned lo, std::uint16_t code) {
                   cells[hi << 8 | lo] = static_cast<std::uint16_t>(kJisX0212Flag | code);
                 });
  forEachMapping(presentRows(tables::unicode_to_jis_x0208::kPresentRows,
                             tables::unicode_to_jis_x0208::kPresentRowIndices),
                 [&](unsigned hi, unsigned lo, std::uint16_t code) { cells[hi << 8 | lo] = code; });
  for (std::uint16_t u = 0; u < 0x80; ++u) cells[u] = u;
  return cells;
}

}  // namespace

constexpr std::array<std::uint16_t, 0x8000> kSjisHighToUnicode = sjisHigh();
constexpr std::array<std::uint16_t, 0x10000> kUnicodeToSjisCode = reverse(presentRows(
    tables::unicode_to_sjis::kPresentRows, tables::unicode_to_sjis::kPresentRowIndices));
constexpr std::array<std::uint16_t, kJisSide* kJisSide> kJisX0208ToUnicode = jisSquare(presentRows(
    tables::jis_x0208_to_unicode::kPresentRows, tables::jis_x0208_to_unicode::kPresentRowIndices));
constexpr std::array<std::uint16_t, kJisSide* kJisSide> kJisX0212ToUnicode = jisSquare(presentRows(
    tables::jis_x0212_to_unicode::kPresentRows, tables::jis_x0212_to_unicode::kPresentRowIndices));
constexpr std::array<std::uint16_t, 0x100> kJisX0201ToUnicode = jisX0201();
constexpr std::array<std::uint16_t, 0x10000> kUnicodeToJisCode = unicodeToJis();
constexpr std::array<std::uint16_t, 0x8000> kCp932HighToUnicode = cp932High();
constexpr std::array<std::uint16_t, 0x10000> kUnicodeToCp932Code = unicodeToCp932();

}  // namespace mek
