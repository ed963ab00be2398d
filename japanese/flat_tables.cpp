#include "japanese/flat_tables.h"

#include "japanese/tables/jis_x0201_to_unicode.h"
#include "japanese/tables/jis_x0208_to_unicode.h"
#include "japanese/tables/jis_x0212_to_unicode.h"
#include "japanese/tables/unicode_to_jis_x0201.h"
#include "japanese/tables/unicode_to_jis_x0208.h"
#include "japanese/tables/unicode_to_jis_x0212.h"

namespace mek {
namespace {

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

constexpr std::array<std::uint16_t, kJisSide* kJisSide> kJisX0208ToUnicode = jisSquare(presentRows(
    tables::jis_x0208_to_unicode::kPresentRows, tables::jis_x0208_to_unicode::kPresentRowIndices));
constexpr std::array<std::uint16_t, kJisSide* kJisSide> kJisX0212ToUnicode = jisSquare(presentRows(
    tables::jis_x0212_to_unicode::kPresentRows, tables::jis_x0212_to_unicode::kPresentRowIndices));
constexpr std::array<std::uint16_t, 0x100> kJisX0201ToUnicode = jisX0201();

namespace {

constexpr std::array<std::uint16_t, 0x8000> eucjpHigh() {
  auto cells = unmapped<0x8000>();
  for (unsigned row = 0; row < kJisSide; ++row) {
    for (unsigned cell = 0; cell < kJisSide; ++cell) {
      cells[(row + 0xA1 - 0x80) << 8 | (cell + 0xA1)] = kJisX0208ToUnicode[row * kJisSide + cell];
    }
  }
  for (unsigned next = 0; next < 0x100; ++next) {
    cells[(0x8E - 0x80) << 8 | next] = kJisX0201ToUnicode[next];
  }
  return cells;
}

}  // namespace

constexpr std::array<std::uint16_t, 0x8000> kEucjpHighToUnicode = eucjpHigh();
constexpr std::array<std::uint16_t, 0x10000> kUnicodeToJisCode = unicodeToJis();

}  // namespace mek
