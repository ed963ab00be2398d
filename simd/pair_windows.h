#pragma once

// Window kernels of the two-byte Japanese codes, Shift_JIS and EUC-JP: runs
// of kana and kanji (and the ASCII between them) a window of 16 bytes or 8
// units at a time, without a branch that depends on the kind of character.
// Character boundaries inside a window come from masks, the units and codes
// from the codec's tables, one load each; a shuffle puts the results in
// place. Anything a window cannot take whole (a character without a mapping,
// a three-byte code, the end of the input) stops the kernel before that
// window, and the codec's own step takes it from there. The plain kernels
// here do the same in plain C++; pair_windows_ssse3.cpp has the shuffle ones,
// which pair_windows.cpp picks at run time.

#include <cstddef>
#include <cstdint>

#include "simd/utf8_shuffle.h"

namespace mek {

// Which code a kernel reads or writes.
enum class PairCode {
  // Shift_JIS and cp932: bytes A1..DF are one-byte codes (half-width
  // katakana), every other byte from 0x80 up leads a pair. A code below
  // 0x100 is written as one byte, any other as its lead and trail bytes.
  kSjis,
  // EUC-JP: every byte from 0x80 up begins a pair (a lead that begins
  // something else, SS3, has no mapped pairs). A code below 0x80 is one
  // byte, one below 0x100 half-width katakana after SS2 (8E), one below
  // 0x8000 a JIS X 0208 code with both bytes from A1 up.
  kEucjp,
};

// Bytes a window takes: 16 bytes decoding, 8 units encoding.
inline constexpr std::size_t kPairWindow = 16;

// Where a kernel stopped, in its input and in its output.
struct PairRun {
  const std::uint8_t* in;
  std::uint8_t* out;
};

// The bytes of `code`, a value of the codec's encoding table, packed: the
// first byte lowest, the second above it, and their number (1 or 2) from bit
// 16 up; 0 for a code a window does not write (kNoMapping, JIS X 0212).
constexpr std::uint32_t packPairCode(PairCode kind, std::uint32_t code) {
  if (kind == PairCode::kSjis) {
    if (code < 0x100) return 1u << 16 | code;
    return code == 0xFFFF ? 0 : 2u << 16 | (code & 0xFF) << 8 | code >> 8;
  }
  if (code < 0x80) return 1u << 16 | code;
  if (code < 0x100) return 2u << 16 | code << 8 | 0x8E;
  return code < 0x8000 ? 2u << 16 | ((code & 0xFF) | 0x80) << 8 | (code >> 8 | 0x80) : 0;
}

// Encodes the internal-form units from p on into dst, a window of 8 at a
// time, through `table` (the unit's code, kNoMapping for none), while a
// window starts at `last` or before it and holds a unit from 0x80 up, and
// each of its units has a code that packPairCode writes. Stores may reach
// up to 16 bytes beyond the end of what they wrote, never beyond 16 bytes
// from the start of the last window's output.
PairRun encodePairWindows(PairCode kind, const std::uint16_t* table, const std::uint8_t* p,
                          const std::uint8_t* last, std::uint8_t* dst);

// Decodes the bytes from p on (p begins a character) into internal-form
// units at dst, a window of 16 bytes at a time, through `table` (the unit of
// the pair (b, next) at index (b - 0x80) * 256 + next, as
// kSjisHighToUnicode), while a window starts at `last` or before it (17 bytes
// must be readable from there) and holds a byte from 0x80 up, and every
// character of it has a unit. A pair that the window's end cuts is left to
// the next window. Stores may reach 32 bytes beyond the start of the last
// window's output.
PairRun decodePairWindows(PairCode kind, const std::uint16_t* table, const std::uint8_t* p,
                          const std::uint8_t* last, std::uint8_t* dst);

// Decodes as decodePairWindows does, but writes the characters as UTF-8;
// a window that holds a CR (with `stopAtCr`) or an LF (with `stopAtLf`)
// among its characters stops it too. Stores may reach 16 bytes beyond the
// end of what they wrote.
PairRun decodePairWindowsUtf8(PairCode kind, const std::uint16_t* table, const std::uint8_t* p,
                              const std::uint8_t* last, std::uint8_t* dst, bool stopAtCr,
                              bool stopAtLf);

// The same kernels on `path` (shuffles from SSSE3 up), which must be
// supported; the same results.
PairRun encodePairWindowsOn(Utf8Path path, PairCode kind, const std::uint16_t* table,
                            const std::uint8_t* p, const std::uint8_t* last, std::uint8_t* dst);
PairRun decodePairWindowsOn(Utf8Path path, PairCode kind, const std::uint16_t* table,
                            const std::uint8_t* p, const std::uint8_t* last, std::uint8_t* dst);
PairRun decodePairWindowsUtf8On(Utf8Path path, PairCode kind, const std::uint16_t* table,
                                const std::uint8_t* p, const std::uint8_t* last, std::uint8_t* dst,
                                bool stopAtCr, bool stopAtLf);

// The pairs among the bytes of a window whose set bits in `leading` are the
// bytes that lead a pair where they begin a character (the window begins
// one): every byte after a byte outside `leading` begins one, and along a
// run of leading bytes every other byte leads a pair, from the run's first.
// Bit i set means the bytes i, i + 1 are a pair.
constexpr std::uint32_t pairLeads(std::uint32_t leading) {
  const std::uint32_t runStarts = leading & ~(leading << 1);
  // Adding a run's first bit clears the run (the carry stops at the byte
  // after it, outside `leading`): what is left are the runs that begin at
  // even bytes.
  const std::uint32_t evenRuns = (leading + (runStarts & 0xAAAAAAAAu)) & leading;
  const std::uint32_t oddRuns = leading & ~evenRuns;
  return (evenRuns & 0x55555555u) | (oddRuns & 0xAAAAAAAAu);
}

}  // namespace mek
