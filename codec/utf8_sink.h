#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "codec/sink.h"
#include "mek/types.h"
#include "simd/ascii_block.h"
#include "simd/line_scan.h"
#include "simd/utf8_blocks.h"
#include "simd/utf8_shuffle.h"

namespace mek {

// What the sinks of the fused paths share: the output position (or the
// count of a measuring pass), whether the last character was a CR, and a
// failure of an encoder that runs inside the scan.
//
// The sink of a fused path: a decoder's scan writes UTF-8 through it
// directly, with the line endings rewritten in the same pass, instead of the
// internal form that a line-ending stage and the UTF-8 encoder would read
// again. `kWrite` false counts what true writes, so measure and convert of a
// fused path share its scan as every converter's passes do.
//
// LineEnding::lf writes LF for a CR at once and drops an LF that follows a CR: the
// bytes of the line-ending stage, without holding a CR back at the end of a
// piece. crlf and cr do the same with their own line ending, for LF too.
// Whether the last character was a CR carries into the next piece.
//
// A decoder calls `unit` for every character of the Basic Multilingual
// Plane (never a surrogate), `put4` for a surrogate pair (as a substitute
// beyond that plane comes), `asciiBlock` and `asciiRun` for ASCII. The
// UTF-16 and UTF-32 decoders give the internal form itself: `copy` for a run
// of units without surrogates, `put2` for one unit.
template <bool kWrite>
class FusedSink : public ChangeLog {
 public:
  std::size_t count() const {
    if constexpr (kWrite) {
      return static_cast<std::size_t>(p_ - begin_);
    } else {
      return n_;
    }
  }
  // Whether the last character was a CR, whose LF may follow in the next
  // piece.
  bool afterCr() const { return after_cr_; }
  // Whether an encoder inside the scan failed, and how (kUnmappable).
  bool failed() const { return failed_kind_ != 0; }
  std::int32_t failedKind() const { return failed_kind_; }

 protected:
  FusedSink(std::uint8_t* out, const ErrorPolicy* policy, bool afterCr)
      : ChangeLog(policy), begin_(out), p_(out), after_cr_(afterCr) {}

  // `n` bytes stored at p_ (or counted).
  void advance(std::size_t n) {
    if constexpr (kWrite) {
      p_ += n;
    } else {
      n_ += n;
    }
  }

  // Whether the internal-form unit at p is a line break that kRule
  // rewrites: a CR, an LF after a CR, and for CR LF and CR output any LF.
  template <LineEnding kRule>
  bool breaksLine(const std::uint8_t* p) const {
    return p[0] == 0 && (p[1] == 0x0D || (p[1] == 0x0A && (kRule != LineEnding::lf || after_cr_)));
  }

  // A CR or an LF that is rewritten: whether its line ending is written (an
  // LF right after a CR is not); notes whether it was a CR.
  bool endsLine(std::uint8_t b) {
    const bool dropped = b == 0x0A && after_cr_;
    after_cr_ = b == 0x0D;
    return !dropped;
  }

  // Copies up to kUnits internal-form units from p to `staged` (room for
  // twice as many: LF to CR LF) with their line breaks rewritten as kRule
  // says; answers where it stopped, and moves `staged` past what it wrote.
  template <LineEnding kRule, std::size_t kUnits>
  const std::uint8_t* stageLines(const std::uint8_t* p, const std::uint8_t* end,
                                 std::uint8_t*& staged) {
    const std::uint8_t* const stop =
        static_cast<std::size_t>(end - p) > 2 * kUnits ? p + 2 * kUnits : end;
    std::uint8_t* s = staged;
    while (p != stop) {
      if (breaksLine<kRule>(p)) {
        const bool written = endsLine(p[1]);
        p += 2;
        if (!written) continue;
        if constexpr (kRule == LineEnding::crlf) *s++ = 0, *s++ = 0x0D;
        *s++ = 0;
        *s++ = kRule == LineEnding::cr ? 0x0D : 0x0A;
        continue;
      }
      const std::size_t n = ordinaryUnitPrefix<kRule == LineEnding::lf>(p, stop);
      after_cr_ = false;
      std::memcpy(s, p, 2 * n);
      s += 2 * n;
      p += 2 * n;
    }
    staged = s;
    return p;
  }

  std::uint8_t* begin_;
  std::uint8_t* p_;
  std::size_t n_ = 0;
  bool after_cr_;
  std::int32_t failed_kind_ = 0;
};

template <bool kWrite, LineEnding kRule>
class Utf8Sink : public FusedSink<kWrite> {
  using FusedSink<kWrite>::p_;
  using FusedSink<kWrite>::n_;
  using FusedSink<kWrite>::after_cr_;

 public:
  Utf8Sink(std::uint8_t* out, const ErrorPolicy* policy, bool afterCr)
      : FusedSink<kWrite>(out, policy, afterCr) {}

  void unit(std::uint16_t u) {
    if (u < 0x80) {
      if constexpr (kRewrites) {
        if (u == 0x0D || u == 0x0A) [[unlikely]] {
          lineBreak(static_cast<std::uint8_t>(u));
          return;
        }
        after_cr_ = false;
      }
      store1(static_cast<std::uint8_t>(u));
      return;
    }
    if constexpr (kRewrites) after_cr_ = false;
    if (u < 0x800) {
      store2(static_cast<std::uint8_t>(0xC0 | u >> 6),
             static_cast<std::uint8_t>(0x80 | (u & 0x3F)));
    } else {
      store3(static_cast<std::uint8_t>(0xE0 | u >> 12),
             static_cast<std::uint8_t>(0x80 | ((u >> 6) & 0x3F)),
             static_cast<std::uint8_t>(0x80 | (u & 0x3F)));
    }
  }

  // Internal-form units, high byte first.
  void put2(std::uint8_t h, std::uint8_t l) { unit(static_cast<std::uint16_t>(h << 8 | l)); }
  void put4(std::uint8_t h1, std::uint8_t l1, std::uint8_t h2, std::uint8_t l2) {
    if constexpr (kRewrites) after_cr_ = false;
    storeCharacter(0x10000 + ((char32_t{h1} << 8 | l1) - 0xD800) * 0x400 +
                   ((char32_t{h2} << 8 | l2) - 0xDC00));
  }
  // `bytes` / 2 internal-form units, none a surrogate, written by the UTF-8
  // block writers. Line breaks to rewrite are rewritten in a small staging
  // area first, so that the writers still take long stretches.
  void copy(const std::uint8_t* src, std::size_t bytes) {
    const std::uint8_t* p = src;
    const std::uint8_t* const end = src + bytes;
    if constexpr (kRewrites) {
      while (p != end) {
        const std::size_t plain =
            this->template breaksLine<kRule>(p) ? 0 : ordinaryUnitPrefix<kLfStays>(p, end);
        if (p + 2 * plain == end) break;
        constexpr std::size_t kUnits = 1024;
        std::uint8_t staged[2 * 2 * kUnits];
        std::uint8_t* s = staged;
        p = this->template stageLines<kRule, kUnits>(p, end, s);
        storeUnits(staged, static_cast<std::size_t>(s - staged) / 2);
      }
      if (p == end) return;
      after_cr_ = false;
    }
    storeUnits(p, static_cast<std::size_t>(end - p) / 2);
  }

  // The first `n` of the kAsciiBlock ASCII bytes at `src`. Without a line
  // break to rewrite among them the whole block is stored, as the
  // internal-form sink stores it: the scans call this only while enough
  // input is left that the output area holds the surplus.
  void asciiBlock(const std::uint8_t* src, unsigned n) {
    if (n == 0) return;
    if constexpr (kRewrites) {
      std::uint32_t breaks = blockByteMask(src, 0x0D);
      if constexpr (!kLfStays) breaks |= blockByteMask(src, 0x0A);
      breaks &= static_cast<std::uint32_t>((std::uint64_t{1} << n) - 1);
      if (breaks != 0 || (after_cr_ && src[0] == 0x0A)) [[unlikely]] {
        if (!(kLfStays && crLfInBlock(src, n, breaks))) asciiWithBreaks(src, n, breaks);
        return;
      }
      after_cr_ = false;
    }
    if constexpr (kWrite) std::memcpy(p_, src, kAsciiBlock);
    this->advance(n);
  }

  // Scans that write stretches of UTF-8 themselves may hand them here.
  static constexpr bool kTakesUtf8 = true;

  // A stretch of characters that a scan writes as UTF-8 itself, none of
  // them a line break: `write(dst)` writes it and answers its end,
  // `count()` answers its size.
  template <class Count, class Write>
  void utf8Block(Count count, Write write) {
    std::size_t n;
    if constexpr (kWrite) {
      std::uint8_t* const start = p_;
      p_ = write(p_);
      n = static_cast<std::size_t>(p_ - start);
    } else {
      n = count();
      n_ += n;
    }
    if constexpr (kRewrites) {
      if (n != 0) after_cr_ = false;
    }
  }

  // A run of `n` ASCII bytes, stored exactly.
  void asciiRun(const std::uint8_t* src, std::size_t n) {
    if (n == 0) return;
    if constexpr (kRewrites) {
      if (kLfStays && std::memchr(src, 0x0D, n) == nullptr && !(after_cr_ && src[0] == 0x0A)) {
        after_cr_ = false;
      } else {
        asciiRunWithBreaks(src, src + n);
        return;
      }
    }
    storeRun(src, n);
  }

 private:
  // The sink rewrites line endings (all into kRule's): CR LF and CR, and
  // unless kLfStays (an LF written as LF needs no work), LF too.
  static constexpr bool kRewrites = kRule != LineEnding::keep;
  static constexpr bool kLfStays = kRule == LineEnding::lf;

  static const std::uint8_t* find(const std::uint8_t* p, const std::uint8_t* end, std::uint8_t b) {
    const void* at = std::memchr(p, b, static_cast<std::size_t>(end - p));
    return at != nullptr ? static_cast<const std::uint8_t*>(at) : end;
  }
  void storeUnits(const std::uint8_t* src, std::size_t n) {
    if constexpr (kWrite) {
      p_ = writeUnitsUtf8On(path_, src, n, p_);
    } else {
      n_ += unitsUtf8Bytes(src, n);
    }
  }
  // A character beyond the Basic Multilingual Plane.
  void storeCharacter(char32_t c) {
    if constexpr (kWrite) {
      std::uint8_t* const p = p_;
      p[0] = static_cast<std::uint8_t>(0xF0 | c >> 18);
      p[1] = static_cast<std::uint8_t>(0x80 | ((c >> 12) & 0x3F));
      p[2] = static_cast<std::uint8_t>(0x80 | ((c >> 6) & 0x3F));
      p[3] = static_cast<std::uint8_t>(0x80 | (c & 0x3F));
      p_ = p + 4;
    } else {
      n_ += 4;
    }
  }
  // A CR or an LF: an LF right after a CR is dropped, any other is written
  // as kRule's line ending.
  void lineBreak(std::uint8_t b) {
    if (!this->endsLine(b)) return;
    if constexpr (kRule == LineEnding::crlf) {
      store2(0x0D, 0x0A);
    } else {
      store1(kRule == LineEnding::cr ? 0x0D : 0x0A);
    }
  }
  // The commonest break of a block written with LF: one CR LF inside it
  // (`breaks` holds its CR alone). The block is stored whole, then again
  // from the byte after the CR over it; the second store reaches no further
  // beyond what counts than the first (the LF counts), and reads at most 63
  // bytes from src, inside what a block step may read. Answers false for
  // any other break, which asciiWithBreaks writes.
  bool crLfInBlock(const std::uint8_t* src, unsigned n, std::uint32_t breaks) {
    if ((breaks & (breaks - 1)) != 0 || (after_cr_ && src[0] == 0x0A)) return false;
    const auto at = static_cast<unsigned>(std::countr_zero(breaks));
    if (at + 1 >= n || src[at + 1] != 0x0A) return false;
    if constexpr (kWrite) {
      std::memcpy(p_, src, kAsciiBlock);
      std::memcpy(p_ + at, src + at + 1, kAsciiBlock);
    }
    this->advance(n - 1);
    after_cr_ = false;
    return true;
  }
  // ASCII bytes with line breaks at the positions `breaks`: the stretches
  // between them are stored whole, and each break is rewritten (with
  // kLfStays, an LF right after a CR is not among `breaks`, and dropped
  // here).
  [[gnu::noinline]] void asciiWithBreaks(const std::uint8_t* src, unsigned n,
                                         std::uint32_t breaks) {
    unsigned i = 0;
    if (kLfStays && after_cr_ && src[0] == 0x0A) {
      lineBreak(0x0A);
      i = 1;
    }
    while (breaks != 0) {
      const auto at = static_cast<unsigned>(std::countr_zero(breaks));
      breaks &= breaks - 1;
      storeText(src + i, at - i);
      lineBreak(src[at]);
      i = at + 1;
      if (kLfStays && i < n && src[i] == 0x0A) {
        lineBreak(0x0A);
        ++i;
      }
    }
    storeText(src + i, n - i);
  }
  // ASCII bytes [src, end) with line breaks to rewrite: the text between
  // them is stored as it stands.
  [[gnu::noinline]] void asciiRunWithBreaks(const std::uint8_t* src, const std::uint8_t* end) {
    const std::uint8_t* cr = find(src, end, 0x0D);
    const std::uint8_t* lf = kLfStays ? end : find(src, end, 0x0A);
    while (true) {
      if (kLfStays && src != end && after_cr_ && *src == 0x0A) {
        lineBreak(0x0A);
        ++src;
      }
      if (cr < src) cr = find(src, end, 0x0D);
      if (lf < src) lf = find(src, end, 0x0A);
      const std::uint8_t* const next = cr < lf ? cr : lf;
      storeText(src, static_cast<std::size_t>(next - src));
      if (next == end) return;
      lineBreak(*next);
      src = next + 1;
    }
  }
  // Text without line breaks: a CR before it no longer pairs.
  void storeText(const std::uint8_t* src, std::size_t n) {
    if (n == 0) return;
    after_cr_ = false;
    storeRun(src, n);
  }
  void storeRun(const std::uint8_t* src, std::size_t n) {
    if constexpr (kWrite) copyBytes(p_, src, n);
    this->advance(n);
  }
  void store1(std::uint8_t a) {
    if constexpr (kWrite) {
      *p_++ = a;
    } else {
      n_ += 1;
    }
  }
  void store2(std::uint8_t a, std::uint8_t b) {
    if constexpr (kWrite) {
      std::uint8_t* const p = p_;
      p[0] = a;
      p[1] = b;
      p_ = p + 2;
    } else {
      n_ += 2;
    }
  }
  void store3(std::uint8_t a, std::uint8_t b, std::uint8_t c) {
    if constexpr (kWrite) {
      std::uint8_t* const p = p_;
      p[0] = a;
      p[1] = b;
      p[2] = c;
      p_ = p + 3;
    } else {
      n_ += 3;
    }
  }

  // The writers for copy(): the fastest this processor runs, asked once.
  Utf8Path path_ = kWrite ? bestUtf8Path() : Utf8Path::kPlain;
};

}  // namespace mek

// Compiles a decoder's scan over the fused UTF-8 sinks (counting and
// writing, for each line rule), in the codec's own source file beside
// MEK_SCANS (MEK_UTF8_SCANS) or MEK_PIECE_SCANS (MEK_UTF8_PIECE_SCANS).
#define MEK_UTF8_SCAN(Codec, Scan, Write, Rule) \
  template bool Codec::Scan<Utf8Sink<Write, Rule>>(ConversionBuffer&, Utf8Sink<Write, Rule>&) const
#define MEK_UTF8_PIECE_SCAN(Codec, Write, Rule)                                    \
  template bool Codec::scanPiece<Utf8Sink<Write, Rule>>(ConversionBuffer&, Piece&, \
                                                        Utf8Sink<Write, Rule>&) const
#define MEK_UTF8_RULES(Instantiate, ...)             \
  Instantiate(__VA_ARGS__, false, LineEnding::keep); \
  Instantiate(__VA_ARGS__, true, LineEnding::keep);  \
  Instantiate(__VA_ARGS__, false, LineEnding::lf);   \
  Instantiate(__VA_ARGS__, true, LineEnding::lf);    \
  Instantiate(__VA_ARGS__, false, LineEnding::crlf); \
  Instantiate(__VA_ARGS__, true, LineEnding::crlf);  \
  Instantiate(__VA_ARGS__, false, LineEnding::cr);   \
  Instantiate(__VA_ARGS__, true, LineEnding::cr)
#define MEK_UTF8_SCANS(Codec) MEK_UTF8_RULES(MEK_UTF8_SCAN, Codec, scan)
#define MEK_UTF8_PIECE_SCANS(Codec) MEK_UTF8_RULES(MEK_UTF8_PIECE_SCAN, Codec)
