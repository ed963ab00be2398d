#pragma once

#include <cstddef>
#include <cstdint>
#include <type_traits>

#include "codec/sink.h"
#include "japanese/code_table.h"
#include "simd/ascii_block.h"
#include "simd/config.h"
#include "simd/pair_windows.h"

namespace mek {

// The window hook of a code without windows: it takes nothing.
struct NoWindows {
  template <class Sink>
  static constexpr bool kTakes = false;
  template <class Sink>
  const std::uint8_t* operator()(const std::uint8_t* p, const std::uint8_t*, Sink&) const {
    return p;
  }
};

// The window hooks of the two-byte codes: the kernels of simd/pair_windows.h
// on the fastest path this processor runs, from p on while a window starts
// at `last` or before it; they answer where they stopped.
class PairWindows {
 public:
  PairWindows(PairCode kind, const std::uint16_t* table)
      : kind_(kind), table_(table), path_(bestUtf8Path()) {}

 protected:
  // The most windows a call takes: its output is staged in a small area.
  static constexpr std::size_t kWindows = 32;

  PairCode kind_;
  const std::uint16_t* table_;
  Utf8Path path_;
};

// A sink that takes stretches of UTF-8 that a scan writes itself.
template <class Sink>
concept TakesUtf8 = Sink::kTakesUtf8;

// Decoding, for a sink that takes UTF-8 (a fused path's): the characters
// are written as UTF-8 straight into its output, whose stores the margin of
// the fast loop holds (each of the 128 bytes still ahead of it gives a
// byte); its counting pass writes them in a scratch area. Other sinks, and
// processors without byte shuffles, take nothing from the windows.
class DecodeWindows : public PairWindows {
 public:
  using PairWindows::PairWindows;
  // Whether the windows may take anything for a Sink. The plain kernel
  // gives no gain over the decoder's own step (which stores no vectors
  // either), so only the shuffle kernels are used.
  template <class Sink>
  static constexpr bool kTakes = MEK_SIMD_SHUFFLES != 0 && TakesUtf8<Sink>;

  template <class Sink>
  const std::uint8_t* operator()(const std::uint8_t* p, const std::uint8_t* last,
                                 Sink& sink) const {
    if constexpr (kTakes<Sink>) {
      if (path_ == Utf8Path::kPlain || !mayHoldEightPairs(p)) return p;
      if (last - p > static_cast<std::ptrdiff_t>(kPairWindow * (kWindows - 1))) {
        last = p + kPairWindow * (kWindows - 1);
      }
      const std::uint8_t* stop = p;
      const auto run = [&](std::uint8_t* dst) {
        const PairRun r = decodePairWindowsOn(path_, kind_, table_, p, last, dst);
        stop = r.in;
        return r.out;
      };
      sink.utf8Block(
          [&] {
            // A window gives 24 bytes, and stores 4 beyond them.
            std::uint8_t scratch[kPairWindow * 3 / 2 * kWindows + 8];
            return static_cast<std::size_t>(run(scratch) - scratch);
          },
          run);
      return stop;
    } else {
      static_cast<void>(last);
      static_cast<void>(sink);
      return p;
    }
  }
};

// Encoding: the codes go straight to the output, whose stores the margin of
// the fast loop holds (each of the 64 units still ahead of it gives a byte);
// the counting pass stores them in a scratch area.
class EncodeWindows : public PairWindows {
 public:
  using PairWindows::PairWindows;
  template <class Sink>
  const std::uint8_t* operator()(const std::uint8_t* p, const std::uint8_t* last,
                                 Sink& sink) const {
    if (last - p > static_cast<std::ptrdiff_t>(kPairWindow * (kWindows - 1))) {
      last = p + kPairWindow * (kWindows - 1);
    }
    const std::uint8_t* stop = p;
    sink.block(
        [&] {
          std::uint8_t scratch[kPairWindow * (kWindows + 1)];
          const PairRun run = encodePairWindowsOn(path_, kind_, table_, p, last, scratch);
          stop = run.in;
          return static_cast<std::size_t>(run.out - scratch);
        },
        [&](std::uint8_t* dst) {
          const PairRun run = encodePairWindowsOn(path_, kind_, table_, p, last, dst);
          stop = run.in;
          return run.out;
        });
    return stop;
  }
};

// The scan of a decoder without shift states whose bytes below 0x80 are
// ASCII: ASCII a block at a time while at least kFastMargin input bytes are
// left, every other character through `codeAt(p, length)`, which answers its
// unit (kNoMapping when it has none) and sets its length. Near the end,
// `needed(p)` tells how many bytes the character at p takes, so that one cut
// off by the end is left unconsumed. Where `codeAt` finds no unit,
// `badLength(p)` tells how many bytes the malformed sequence at p takes, so
// that a forgiving policy goes on after it.
//
// `put(sink, value)` writes what `codeAt` answers, and `Put::kMiss` is its
// value for a miss: by default a unit and kNoMapping; the codes of the wide
// tables (japanese/wide_table.h) answer characters and pairs instead.
//
// Where `windows` (NoWindows, or DecodeWindows) takes the characters from p
// on, they go a window at a time; where it does not, the characters go
// through `codeAt` up to the next ASCII byte, or at most a window's worth
// of bytes before it tries again.
struct PutUnit {
  static constexpr std::uint16_t kMiss = kNoMapping;
  template <class Sink>
  void operator()(Sink& sink, std::uint16_t unit) const {
    sink.unit(unit);
  }
};

template <class Sink, class CodeAt, class Needed, class BadLength, class Put = PutUnit,
          class Windows = NoWindows>
bool decodeStateless(ConversionBuffer& buffer, Sink& sink, CodeAt codeAt, Needed needed,
                     BadLength badLength, Put put = {}, Windows windows = {}) {
  const std::uint8_t* p = buffer.in_begin;
  const std::uint8_t* const end = buffer.in_end;
  const std::ptrdiff_t margin = blockMargin(sink, kFastMargin, false);
  while (end - p >= margin) {
    const unsigned ascii = asciiBlockLength(p);
    sink.asciiBlock(p, ascii);
    p += ascii;
    if (ascii == kAsciiBlock) continue;
    const std::uint8_t* const taken = windows(p, end - margin, sink);
    if (taken != p) {
      p = taken;
      continue;
    }
    // A run of non-ASCII characters, up to the next ASCII byte (or past the
    // window that the windows left).
    const std::uint8_t* const slowEnd = Windows::template kTakes<Sink> ? p + kPairWindow : end;
    do {
      int length;
      const auto unit = codeAt(p, length);
      if (unit == Put::kMiss) [[unlikely]] {
        length = badLength(p);
        if (!forgiveMalformed(sink, p, static_cast<std::size_t>(length))) {
          return failScan(buffer, p, kMalformedInput);
        }
      } else {
        put(sink, unit);
      }
      p += length;
    } while (p[0] >= 0x80 && end - p >= margin && p < slowEnd);
  }
  while (p < end) {
    if (end - p < needed(p)) break;  // cut off at the end: left unconsumed
    int length;
    const auto unit = codeAt(p, length);
    if (unit == Put::kMiss) [[unlikely]] {
      length = badLength(p);
      if (!forgiveMalformed(sink, p, static_cast<std::size_t>(length))) {
        return failScan(buffer, p, kMalformedInput);
      }
    } else {
      put(sink, unit);
    }
    p += length;
  }
  return finishScan(buffer, p, sink);
}

// An encoder at the unit p, which `encodeOne(p, sink)` could not write:
// under a forgiving policy, writes the policy's stand-in (each character of
// it through `encodeOne`) and answers where the scan goes on; null under the
// strict one.
template <class Sink, class EncodeOne>
inline const std::uint8_t* forgiveUnit(const std::uint8_t* p, const std::uint8_t* end, Sink& sink,
                                       EncodeOne& encodeOne) {
  int length;
  const char32_t c = characterAt(p, end, length);
  const bool forgiven = forgiveUnmappable(sink, p, c, [&](char32_t r) {
    const std::uint8_t unit[2] = {static_cast<std::uint8_t>(r >> 8), static_cast<std::uint8_t>(r)};
    encodeOne(unit, sink);
  });
  return forgiven ? p + length : nullptr;
}

// The state hook of a code without shift states: every ASCII unit of a block
// is written as it stands.
struct TakeAsciiBlock {
  unsigned operator()(const std::uint8_t*, unsigned ascii) const { return ascii; }
};

// The scan of an encoder whose table maps U+0000..U+007F to the same single
// bytes: ASCII a block at a time while more than `margin` input bytes are left
// (the codec shows that its surplus stores fit there), every other unit
// through `encodeOne(p, sink)`, which writes it or fails; a forgiving policy
// writes its stand-in through `encodeOne` too. Before a block of `ascii`
// ASCII units at p, `asciiRun(p, ascii)` answers how many of them the block
// takes; a code with shift states enters ASCII there (and writes its escape
// through the sink) and keeps back the units its escapes would misread, which
// then go through `encodeOne`. Inside a run of other units, `windows`
// (NoWindows, or EncodeWindows) takes what it can a window at a time, and
// `encodeOne` the unit where it stops.
template <class Sink, class EncodeOne, class AsciiRun = TakeAsciiBlock, class Windows = NoWindows>
bool encodeStateless(ConversionBuffer& buffer, Sink& sink, std::ptrdiff_t margin,
                     EncodeOne encodeOne, AsciiRun asciiRun = {}, Windows windows = {}) {
  const std::uint8_t* p = buffer.in_begin;
  const std::uint8_t* const end = buffer.in_end;
  margin = blockMargin(sink, margin, true);
  // Writes the unit at p (or, under a forgiving policy, its stand-in) and
  // moves past it; false where the strict policy stops.
  const auto step = [&] {
    if (encodeOne(p, sink)) [[likely]] {
      p += 2;
      return true;
    }
    const std::uint8_t* const next = forgiveUnit(p, end, sink, encodeOne);
    if (next == nullptr) return false;
    p = next;
    return true;
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
      if constexpr (!std::is_same_v<Windows, NoWindows>) {
        const std::uint8_t* const taken = windows(p, end - margin, sink);
        if (taken != p) {
          p = taken;
          continue;
        }
      }
      if (!step()) return failUnit(buffer, p);
    } while (!isAsciiUnit(p) && end - p >= margin);
  }
  while (end - p >= 2) {
    if (!step()) return failUnit(buffer, p);
  }
  return finishScan(buffer, p, sink);
}

}  // namespace mek
