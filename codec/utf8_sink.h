#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "codec/sink.h"
#include "simd/ascii_block.h"
#include "simd/line_scan.h"
#include "simd/utf8_blocks.h"
#include "simd/utf8_shuffle.h"

namespace mek {

// What a fused path does with line endings while it writes UTF-8: keeps
// them, or writes each CR LF, CR and LF as one LF.
enum class LineRule { kKeep, kLf };

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
// kLf writes LF for a CR at once and drops an LF that follows a CR: the
// bytes of the line-ending stage, without holding a CR back at the end of a
// piece. Whether the last character was a CR carries into the next piece.
//
// A decoder calls `unit` for every unit of a character (a surrogate pair,
// as a substitute may be, in two calls), `asciiBlock` and `asciiRun` for
// ASCII. The UTF-16 and UTF-32 decoders give the internal form itself:
// `copy` for a run of units without surrogates, `put2` for one unit and
// `put4` for a surrogate pair.
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

  std::uint8_t* begin_;
  std::uint8_t* p_;
  std::size_t n_ = 0;
  bool after_cr_;
  std::int32_t failed_kind_ = 0;
};

template <bool kWrite, LineRule kRule>
class Utf8Sink : public FusedSink<kWrite> {
  using FusedSink<kWrite>::p_;
  using FusedSink<kWrite>::n_;
  using FusedSink<kWrite>::after_cr_;

 public:
  Utf8Sink(std::uint8_t* out, const ErrorPolicy* policy, bool afterCr)
      : FusedSink<kWrite>(out, policy, afterCr) {}

  void unit(std::uint16_t u) {
    if (u < 0x80) {
      if constexpr (kRule == LineRule::kLf) {
        if (u == 0x0D || u == 0x0A) [[unlikely]] {
          lineBreak(static_cast<std::uint8_t>(u));
          return;
        }
        after_cr_ = false;
      }
      store1(static_cast<std::uint8_t>(u));
      return;
    }
    if constexpr (kRule == LineRule::kLf) after_cr_ = false;
    if (u < 0x800) {
      store2(static_cast<std::uint8_t>(0xC0 | u >> 6),
             static_cast<std::uint8_t>(0x80 | (u & 0x3F)));
    } else if ((u & 0xF800) != 0xD800) [[likely]] {
      store3(static_cast<std::uint8_t>(0xE0 | u >> 12),
             static_cast<std::uint8_t>(0x80 | ((u >> 6) & 0x3F)),
             static_cast<std::uint8_t>(0x80 | (u & 0x3F)));
    } else if (u < 0xDC00) {
      high_ = u;  // the low half follows at once
    } else {
      storeCharacter(0x10000 + ((char32_t{high_} - 0xD800) << 10) + (u - 0xDC00));
    }
  }

  // Internal-form units, high byte first.
  void put2(std::uint8_t h, std::uint8_t l) { unit(static_cast<std::uint16_t>(h << 8 | l)); }
  void put4(std::uint8_t h1, std::uint8_t l1, std::uint8_t h2, std::uint8_t l2) {
    if constexpr (kRule == LineRule::kLf) after_cr_ = false;
    storeCharacter(0x10000 + ((char32_t{h1} << 8 | l1) - 0xD800) * 0x400 +
                   ((char32_t{h2} << 8 | l2) - 0xDC00));
  }
  // `bytes` / 2 internal-form units, none a surrogate, written by the UTF-8
  // block writers in the stretches between CRs.
  void copy(const std::uint8_t* src, std::size_t bytes) {
    if constexpr (kRule == LineRule::kLf) {
      const std::uint8_t* p = src;
      const std::uint8_t* const end = src + bytes;
      while (p != end) {
        if (p[0] == 0 && (p[1] == 0x0D || (p[1] == 0x0A && after_cr_))) [[unlikely]] {
          lineBreak(p[1]);
          p += 2;
          continue;
        }
        const std::size_t n = ordinaryUnitPrefix<true>(p, end);
        after_cr_ = false;
        storeUnits(p, n);
        p += 2 * n;
      }
    } else {
      storeUnits(src, bytes / 2);
    }
  }

  // The first `n` of the kAsciiBlock ASCII bytes at `src`. Without a CR
  // among them the whole block is stored, as the internal-form sink stores
  // it: the scans call this only while enough input is left that the output
  // area holds the surplus.
  void asciiBlock(const std::uint8_t* src, unsigned n) {
    if (n == 0) return;
    if constexpr (kRule == LineRule::kLf) {
      const std::uint32_t crs =
          blockByteMask(src, 0x0D) & static_cast<std::uint32_t>((std::uint64_t{1} << n) - 1);
      if (crs != 0 || (after_cr_ && src[0] == 0x0A)) [[unlikely]] {
        asciiWithCrs(src, n, crs);
        return;
      }
      after_cr_ = false;
    }
    if constexpr (kWrite) std::memcpy(p_, src, kAsciiBlock);
    this->advance(n);
  }

  // A run of `n` ASCII bytes, stored exactly.
  void asciiRun(const std::uint8_t* src, std::size_t n) {
    if (n == 0) return;
    if constexpr (kRule == LineRule::kLf) {
      if (std::memchr(src, 0x0D, n) != nullptr || (after_cr_ && src[0] == 0x0A)) [[unlikely]] {
        for (std::size_t i = 0; i < n; ++i) unit(src[i]);
        return;
      }
      after_cr_ = false;
    }
    storeRun(src, n);
  }

 private:
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
  void lineBreak(std::uint8_t b) {
    const bool dropped = b == 0x0A && after_cr_;
    after_cr_ = b == 0x0D;
    if (!dropped) store1(0x0A);
  }
  // ASCII bytes with CRs at the positions `crs`: the stretches between them
  // are stored whole, each CR as LF, and an LF right after a CR dropped.
  void asciiWithCrs(const std::uint8_t* src, unsigned n, std::uint32_t crs) {
    unsigned i = after_cr_ && src[0] == 0x0A ? 1 : 0;
    after_cr_ = false;
    while (crs != 0) {
      const auto cr = static_cast<unsigned>(std::countr_zero(crs));
      crs &= crs - 1;
      storeRun(src + i, cr - i);
      store1(0x0A);
      i = cr + 1;
      if (i == n) {
        after_cr_ = true;
      } else if (src[i] == 0x0A) {
        ++i;
      }
    }
    storeRun(src + i, n - i);
  }
  void storeRun(const std::uint8_t* src, std::size_t n) {
    if constexpr (kWrite) {
      if (n != 0) std::memcpy(p_, src, n);
    }
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
  std::uint16_t high_ = 0;  // a high surrogate whose low half comes next
};

}  // namespace mek

// Compiles a decoder's scan over the four fused UTF-8 sinks, in the codec's
// own source file beside MEK_SCANS (MEK_UTF8_SCANS) or MEK_PIECE_SCANS
// (MEK_UTF8_PIECE_SCANS).
#define MEK_UTF8_SCAN(Codec, Scan, Write, Rule) \
  template bool Codec::Scan<Utf8Sink<Write, Rule>>(ConversionBuffer&, Utf8Sink<Write, Rule>&) const
#define MEK_UTF8_PIECE_SCAN(Codec, Write, Rule)                                    \
  template bool Codec::scanPiece<Utf8Sink<Write, Rule>>(ConversionBuffer&, Piece&, \
                                                        Utf8Sink<Write, Rule>&) const
#define MEK_UTF8_SCANS(Codec)                         \
  MEK_UTF8_SCAN(Codec, scan, false, LineRule::kKeep); \
  MEK_UTF8_SCAN(Codec, scan, true, LineRule::kKeep);  \
  MEK_UTF8_SCAN(Codec, scan, false, LineRule::kLf);   \
  MEK_UTF8_SCAN(Codec, scan, true, LineRule::kLf)
#define MEK_UTF8_PIECE_SCANS(Codec)                   \
  MEK_UTF8_PIECE_SCAN(Codec, false, LineRule::kKeep); \
  MEK_UTF8_PIECE_SCAN(Codec, true, LineRule::kKeep);  \
  MEK_UTF8_PIECE_SCAN(Codec, false, LineRule::kLf);   \
  MEK_UTF8_PIECE_SCAN(Codec, true, LineRule::kLf)
