#pragma once

// What the codecs of the wide tables share (japanese/jis_x0213.cpp and
// japanese/eucjp_ms.cpp): the encoders' tables, built at compile time from
// the generated cells, the EUC rule, the encoder's loop with its pairs and
// surrogate pairs, and the twins.

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>

#include "codec/piece.h"
#include "codec/sink.h"
#include "japanese/stateless_scan.h"
#include "japanese/twins.h"
#include "japanese/wide_table.h"
#include "simd/ascii_block.h"

namespace mek {

inline constexpr std::uint8_t kWideSs2 = 0x8E;
inline constexpr std::uint8_t kWideSs3 = 0x8F;

// The two sets of one code and its decode-only codes, as generated.
// Whether a code has set 2 is a flag, not a null pointer: comparing the
// address of a table with null is no constant expression where null pointer
// checks are kept (as under sanitizers), and the encoders' tables are built
// at compile time.
struct WideSets {
  const char32_t* set1;
  const char32_t* set2;
  bool has_set2;
  const WidePair* pairs;
  const std::uint32_t* decode_only;
  std::size_t decode_only_count;
  bool c1;  // bytes 80..9F but 8E and 8F are the C1 controls (eucJP-ms)
};

// The code (in the form of wide_table.h) of set s (0 or 1), cell index i.
constexpr std::uint16_t wideCodeOf(unsigned s, unsigned i) {
  const unsigned row = 0x21 + i / kWideSide;
  const unsigned cell = 0x21 + i % kWideSide;
  return static_cast<std::uint16_t>(s == 0 ? (row | 0x80) << 8 | (cell | 0x80) : row << 8 | cell);
}

// Calls f(code, cell value) for every cell that the encoder writes. The
// decode-only cells are marked first, so that each cell is one test (a
// search per cell would take compilers past their limit of constant
// evaluation).
template <class F>
constexpr void forEachWritten(const WideSets& sets, F f) {
  std::array<bool, 2 * kWideCells> decodeOnly{};
  for (std::size_t k = 0; k < sets.decode_only_count; ++k) {
    const std::uint32_t key = sets.decode_only[k];  // set << 16 | row << 8 | cell
    const unsigned row = ((key >> 8) & 0xFF) - 0x21;
    const unsigned cell = (key & 0xFF) - 0x21;
    if ((key >> 16) > 1 || row >= kWideSide || cell >= kWideSide) continue;  // the list's end mark
    decodeOnly[(key >> 16) * kWideCells + row * kWideSide + cell] = true;
  }
  for (unsigned s = 0; s < (sets.has_set2 ? 2u : 1u); ++s) {
    const char32_t* cells = s == 0 ? sets.set1 : sets.set2;
    for (unsigned i = 0; i < kWideCells; ++i) {
      if (cells[i] != kNoWide && !decodeOnly[s * kWideCells + i]) f(wideCodeOf(s, i), cells[i]);
    }
  }
}

// Unicode unit to its code: ASCII, half-width katakana, the C1 controls where
// the code has them, and the cells of both sets.
constexpr std::array<std::uint16_t, 0x10000> wideFromUnicode(const WideSets& sets) {
  auto cells = unmapped<0x10000>();
  for (unsigned b = 0; b < 0x80; ++b) cells[b] = static_cast<std::uint16_t>(b);
  for (unsigned b = 0xA1; b <= 0xDF; ++b) cells[0xFF61 + b - 0xA1] = static_cast<std::uint16_t>(b);
  if (sets.c1) {
    for (unsigned b = 0x80; b < 0xA0; ++b) {
      if (b != kWideSs2 && b != kWideSs3) cells[b] = static_cast<std::uint16_t>(b);
    }
  }
  forEachWritten(sets, [&](std::uint16_t code, char32_t c) {
    if (c < 0x10000) cells[c] = code;
  });
  return cells;
}

template <std::size_t N>
constexpr std::array<WideBeyond, N> wideBeyond(const WideSets& sets) {
  std::array<WideBeyond, N> list{};
  std::size_t n = 0;
  forEachWritten(sets, [&](std::uint16_t code, char32_t c) {
    if (c >= 0x10000 && c < kPairBase) list[n++] = {c, code};
  });
  std::sort(list.begin(), list.end(),
            [](const WideBeyond& a, const WideBeyond& b) { return a.c < b.c; });
  return list;
}

template <std::size_t N>
constexpr std::array<WidePairCode, N> widePairCodes(const WideSets& sets) {
  std::array<WidePairCode, N> list{};
  std::size_t n = 0;
  forEachWritten(sets, [&](std::uint16_t code, char32_t c) {
    if (c >= kPairBase) {
      const WidePair& pair = sets.pairs[c - kPairBase];
      list[n++] = {pair.base, pair.mark, code};
    }
  });
  return list;
}

// One bit per unit: whether it begins one of the pairs.
template <std::size_t N>
constexpr std::array<std::uint64_t, 0x400> pairBases(const std::array<WidePairCode, N>& pairs) {
  std::array<std::uint64_t, 0x400> bits{};
  for (const WidePairCode& pair : pairs) {
    bits[pair.base >> 6] |= std::uint64_t{1} << (pair.base & 63);
  }
  return bits;
}

// The encoder's view of one code.
struct WideEncoding {
  const std::array<std::uint16_t, 0x10000>* bmp;
  const WideBeyond* beyond;
  std::size_t beyond_count;
  const WidePairCode* pairs;
  std::size_t pair_count;
  const std::array<std::uint64_t, 0x400>* bases;
  // The form of the codes when it is not the EUC form (Shift_JIS-2004): what
  // turns a twin's EUC code into it.
  std::uint16_t (*form)(std::uint16_t) = nullptr;

  bool mayBeginPair(std::uint16_t unit) const {
    return bases != nullptr && ((*bases)[unit >> 6] >> (unit & 63) & 1) != 0;
  }
  std::uint16_t pairCode(std::uint16_t base, std::uint16_t mark) const {
    // The marks of the pairs: U+309A, U+0300, U+0301, U+02E5 and U+02E9.
    if (mark != 0x309A && (mark < 0x02E5 || mark > 0x0301)) return kNoMapping;
    for (std::size_t i = 0; i < pair_count; ++i) {
      if (pairs[i].base == base && pairs[i].mark == mark) return pairs[i].code;
    }
    return kNoMapping;
  }
  std::uint16_t beyondCode(char32_t c) const {
    const WideBeyond* end = beyond + beyond_count;
    const WideBeyond* it =
        std::lower_bound(beyond, end, c, [](const WideBeyond& e, char32_t v) { return e.c < v; });
    return it != end && it->c == c ? it->code : kNoMapping;
  }
};

// The code of the twin of `unit` in these codes, or kNoMapping: the twins of
// JIS X 0208, and U+00A5, U+203E and U+2015, which JIS X 0213 has only in
// full width or as U+2014, at ￥ (1-1-79), ￣ (1-1-17) and 1-1-29.
constexpr std::uint16_t wideTwin(std::uint16_t unit) {
  switch (unit) {
    case 0x00A5:
      return 0xA1EF;
    case 0x203E:
      return 0xA1B1;
    case 0x2015:
      return 0xA1BD;
    default: {
      const std::uint16_t jis = twinJisX0208(unit);
      return jis == kNoMapping ? kNoMapping : static_cast<std::uint16_t>(jis | 0x8080);
    }
  }
}

// The EUC rule of the three EUC codes: the cell of the character at p, whose
// eucWideLength(p[0]) bytes are there, or kNoWide.
inline char32_t eucWideAt(const WideSets& sets, const std::uint8_t* p, int& length) {
  const std::uint8_t b = p[0];
  if (b >= 0xA1 && b <= 0xFE) [[likely]] {
    length = 2;
    const unsigned cell = p[1] - 0xA1u;
    return cell < kWideSide ? sets.set1[(b - 0xA1u) * kWideSide + cell] : kNoWide;
  }
  length = 1;
  if (b < 0x80) return b;
  if (b == kWideSs2) {
    length = 2;
    return p[1] >= 0xA1 && p[1] <= 0xDF ? char32_t{0xFF61u + p[1] - 0xA1u} : kNoWide;
  }
  if (b == kWideSs3 && sets.has_set2) {
    length = 3;
    const unsigned row = p[1] - 0xA1u;
    const unsigned cell = p[2] - 0xA1u;
    return row < kWideSide && cell < kWideSide ? sets.set2[row * kWideSide + cell] : kNoWide;
  }
  return sets.c1 && b < 0xA0 && b != kWideSs3 ? char32_t{b} : kNoWide;
}

inline int eucWideLength(const WideSets& sets, std::uint8_t b) {
  if (b < 0x80) return 1;
  if (b == kWideSs3) return sets.has_set2 ? 3 : 1;
  return (b >= 0xA1 && b <= 0xFE) || b == kWideSs2 ? 2 : 1;
}

// A lead and the bytes A1..FE that may follow it are one malformed sequence;
// otherwise the lead alone is one.
inline int eucWideBadLength(const WideSets& sets, const std::uint8_t* p) {
  const int length = eucWideLength(sets, p[0]);
  for (int i = 1; i < length; ++i) {
    if (p[i] < 0xA1 || p[i] > 0xFE) return 1;
  }
  return length;
}

// A block store writes more than may count (64 bytes decoding, 32 encoding).
// Decoding, every three input bytes still ahead of the margin give at least
// two output bytes and at most two bytes are left unconsumed; encoding, every
// unit gives at least one byte, a pair of units (two characters or a
// surrogate pair) at least two. So the surplus stays inside an output area
// of the measured size.
static_assert((kFastMargin - 2) / 3 * 2 >= kBlockWriteAhead);
static_assert(kFastMargin / 2 >= kBlockWriteAhead / 2);

template <class Sink>
bool decodeEucWide(ConversionBuffer& buffer, Sink& sink, const WideSets& sets) {
  return decodeStateless(
      buffer, sink,
      [&sets](const std::uint8_t* p, int& length) { return eucWideAt(sets, p, length); },
      [&sets](const std::uint8_t* p) { return eucWideLength(sets, p[0]); },
      [&sets](const std::uint8_t* p) { return eucWideBadLength(sets, p); }, PutWide{sets.pairs});
}

// Writes a code in the EUC form.
template <class Sink>
inline void putEucWide(std::uint16_t code, Sink& sink) {
  if (code < 0x80) {
    sink.put(static_cast<std::uint8_t>(code));
  } else if (code < 0x100) {
    if (code >= 0xA1) {
      sink.put2(kWideSs2, static_cast<std::uint8_t>(code));
    } else {
      sink.put(static_cast<std::uint8_t>(code));  // a C1 control
    }
  } else if (isSet1Code(code)) {
    sink.put2(static_cast<std::uint8_t>(code >> 8), static_cast<std::uint8_t>(code));
  } else {
    sink.put3(kWideSs3, static_cast<std::uint8_t>(code >> 8 | 0x80),
              static_cast<std::uint8_t>(code | 0x80));
  }
}

inline std::uint16_t wideUnitAt(const std::uint8_t* p) {
  return static_cast<std::uint16_t>(p[0] << 8 | p[1]);
}

// What the encoder finds at one position.
struct WideFound {
  std::uint16_t code;  // kNoMapping: none
  int taken;           // input bytes: 2, or 4 for a pair or a surrogate pair
  bool wait;           // the piece ends where the next unit could change the answer
};

// The code of the character (or pair) at p. A base followed by its mark is
// the pair's code; a base at the end of a piece that is not the last waits
// for the next unit, and so does a high surrogate.
inline WideFound findWide(const WideEncoding& enc, const std::uint8_t* p, const std::uint8_t* end,
                          bool last, bool fallback) {
  const std::uint16_t unit = wideUnitAt(p);
  const bool hasNext = end - p >= 4;
  if (unit >= 0xD800 && unit <= 0xDBFF) {
    if (!hasNext) return {kNoMapping, 2, !last};
    const std::uint16_t low = wideUnitAt(p + 2);
    if (low < 0xDC00 || low > 0xDFFF) return {kNoMapping, 2, false};
    const char32_t c = 0x10000 + ((char32_t{unit} - 0xD800) << 10) + (low - 0xDC00);
    return {enc.beyondCode(c), 4, false};
  }
  if (enc.mayBeginPair(unit)) [[unlikely]] {
    if (!hasNext && !last) return {kNoMapping, 2, true};
    if (hasNext) {
      const std::uint16_t code = enc.pairCode(unit, wideUnitAt(p + 2));
      if (code != kNoMapping) return {code, 4, false};
    }
  }
  std::uint16_t code = (*enc.bmp)[unit];
  if (code == kNoMapping && fallback) [[unlikely]] {
    code = wideTwin(unit);
    if (code != kNoMapping && enc.form != nullptr) code = enc.form(code);
  }
  return {code, 2, false};
}

// The encoders' loop: ASCII a block at a time while at least `margin` input
// bytes are left, every other character through findWide and `put(code, c,
// sink)`, which writes the code (`c`: the unit, for the codes that tell sets
// apart by it) or answers false when it must not be written; a forgiving policy writes its stand-in
// the same way. Before a block of ASCII units, `asciiRun(p, ascii)` answers how many the block
// takes (see encodeStateless). Before the end of the text, a character whose code the next piece
// could change is left unconsumed.
template <class Sink, class Put, class AsciiRun = TakeAsciiBlock>
bool encodeWide(ConversionBuffer& buffer, Sink& sink, bool last, const WideEncoding& enc, Put put,
                AsciiRun asciiRun = {}) {
  const std::uint8_t* p = buffer.in_begin;
  const std::uint8_t* const end = buffer.in_end;
  const bool fallback = sink.fallback();
  const std::ptrdiff_t margin = blockMargin(sink, kFastMargin, true);
  // Writes the character at p or its stand-in and moves past it: 1 when
  // done, 0 where the strict policy stops, -1 where the piece must wait.
  const auto step = [&]() -> int {
    // Most characters: a code of their own, and no pair to look for.
    const std::uint16_t unit = wideUnitAt(p);
    const std::uint16_t own = (*enc.bmp)[unit];
    if (own != kNoMapping && !enc.mayBeginPair(unit) && put(own, unit, sink)) [[likely]] {
      p += 2;
      return 1;
    }
    const WideFound found = findWide(enc, p, end, last, fallback);
    if (found.wait) return -1;
    if (found.code != kNoMapping && put(found.code, wideUnitAt(p), sink)) [[likely]] {
      p += found.taken;
      return 1;
    }
    int length;
    const char32_t c = characterAt(p, end, length);
    const bool forgiven = forgiveUnmappable(sink, p, c, [&](char32_t r) {
      const auto unit = static_cast<std::uint16_t>(r);
      const std::uint16_t code = (*enc.bmp)[unit];
      if (code != kNoMapping) put(code, unit, sink);
    });
    if (!forgiven) return 0;
    p += length;
    return 1;
  };
  while (end - p >= margin) {
    const unsigned ascii = asciiRun(p, asciiUnitBlockLength(p));
    sink.block([&] { return std::size_t{ascii}; },
               [&](std::uint8_t* dst) {
                 narrowBlock(p, dst);
                 return dst + ascii;
               });
    p += 2 * ascii;
    if (ascii == kAsciiBlock) continue;
    do {
      const int done = step();
      if (done == 0) return failUnit(buffer, p);
    } while (!isAsciiUnit(p) && end - p >= margin);
  }
  while (end - p >= 2) {
    const int done = step();
    if (done < 0) break;
    if (done == 0) return failUnit(buffer, p);
  }
  return finishScan(buffer, p, sink);
}

}  // namespace mek
