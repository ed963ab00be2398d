#pragma once

// Finding mojibake of Japanese text and taking it back: a line read through
// the wrong code (or two wrong codes in a row) is turned back into the bytes
// it came from and read in the right one, when that reads clearly better as
// Japanese text. Pure functions over decoded characters: nothing is printed,
// allocated or thrown.

#include <cstddef>
#include <cstdint>
#include <string>

namespace mek {

// The wrong turns a text can take: bytes of the first code read as the second
// (and saved as whatever the text is now in). `none` is no turn.
enum class Chain : unsigned char {
  none,
  utf8_as_cp932,
  cp932_as_cp1252,
  cp932_as_latin1,
  eucjp_as_latin1,
  utf8_as_cp1252,
  utf8_as_latin1,
  cp932_as_cp437,
  cp932_as_cp850,
  utf8_as_eucjp,
  jis_without_esc,  // ISO-2022-JP whose ESC bytes were stripped
};
inline constexpr int kChains = 11;

// The chain as messages name it: "utf8 read as cp932", "jis without ESC".
const char* chainName(Chain chain);

// What repairLine made of a line.
struct LineRepair {
  // The turn taken last and, for two in a row, the one before it; `outer`
  // is none when the line stays as it is.
  Chain outer = Chain::none;
  Chain inner = Chain::none;
  std::size_t size = 0;  // the repaired line's units
  std::size_t lost = 0;  // characters the chain lost, written as U+FFFD
  // Not repaired, but some turns undo it into Japanese text that is not
  // clear enough by itself: a later line repaired with those turns would
  // take it back too (see RepairLines).
  bool pending = false;
  // Repaired only by the rule for lines that are mostly U+FFFD, which tells
  // little: a later line that decides other turns prevails.
  bool weak = false;
  // Its turns read cp437 (or cp850) and read the line alike through the
  // other of the two: the line does not tell which of them the text took.
  bool dos_alike = false;
  bool repaired() const { return outer != Chain::none; }
};

// Lines longer than this many units are left as they stand.
inline constexpr std::size_t kMaxRepairLine = 4096;

// The working memory of repairLine, kept by the caller so that repairing
// needs none of its own (about 100 KiB).
struct RepairScratch {
  // Bytes of an inverted reading (values 0..0xFF) and the marks of lost ones.
  std::uint16_t bytes[4 * kMaxRepairLine];
  char16_t first[2 * kMaxRepairLine];
  char16_t second[2 * kMaxRepairLine];
  char16_t best[2 * kMaxRepairLine];
};

// The turns of a repair in the order taken, as messages name them: "utf8
// read as cp932", "cp932 read as cp1252, then utf8 read as cp1252", "utf8
// read as cp932 twice".
std::string turnsName(Chain outer, Chain inner);

// Repairs the line [line, line + size) of UTF-16 units, without its line end,
// into `out` (room for 2 * size units) when it is mojibake; otherwise answers
// Chain::none and leaves `out` alone. `previous` is what the last repaired
// line of the text took: among readings that score alike, the same turns
// win.
LineRepair repairLine(const char16_t* line, std::size_t size, char16_t* out, RepairScratch& scratch,
                      const LineRepair& previous = {});

// Repairs the line with the turns (outer, inner) when they undo it as the
// lines after a repaired line are undone (the same-turn rule of repairLine);
// otherwise answers Chain::none.
LineRepair repairWithTurns(const char16_t* line, std::size_t size, char16_t* out,
                           RepairScratch& scratch, Chain outer, Chain inner);

}  // namespace mek
