#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "codec/piece.h"
#include "codec/sink.h"
#include "codec/utf8_sink.h"
#include "simd/ascii.h"
#include "simd/line_scan.h"

namespace mek {

// The sink of a fused path from UTF-8 to a stateless encoder: the UTF-8
// decoder's scan hands it the internal form a stretch at a time (at most
// kStagedUnits units, which its vector writers put in a small buffer that
// stays in the cache), the sink rewrites the line endings there and runs
// the encoder over it, straight into the output. The decoder's output never
// goes through memory as a whole piece, and no line-ending stage reads it
// again. `kWrite` false counts what true writes (the encoder measures
// instead of converting), so measure and convert share the scan.
//
// The encoder fails under the strict policy where it would fail on the
// three stages; the sink notes it (failed(), failedKind()) and converts
// nothing more, and the fused path fails at the end of its scan. A
// malformed sequence that the decoder finds first still fails the scan
// there, as the decoder of the three stages would.
template <bool kWrite, LineEnding kRule>
class EncodingSink : public FusedSink<kWrite> {
  using FusedSink<kWrite>::p_;
  using FusedSink<kWrite>::after_cr_;
  using FusedSink<kWrite>::failed_kind_;

 public:
  // The most units a stretch of the UTF-8 decoder holds: one per input
  // byte of the stretch, which is at most kUtf8Piece (4096) bytes.
  static constexpr std::size_t kStagedUnits = 4096;

  // `state` is the shift state of an encoder that has one (`stateful`),
  // where the piece begins; it carries from run to run within the piece.
  EncodingSink(std::uint8_t* out, const ErrorPolicy* policy, bool afterCr, const Converter& encoder,
               bool stateful = false, std::int32_t state = 0)
      : FusedSink<kWrite>(out, policy, afterCr),
        encoder_(encoder),
        state_(state),
        stateful_(stateful) {}

  // The encoder's shift state after what the sink has converted.
  std::int32_t encoderState() const { return state_; }

  void unit(std::uint16_t u) {
    if (u >= 0xD800 && u <= 0xDBFF) {
      high_ = u;  // the low half follows at once
      return;
    }
    std::uint8_t staged[4];
    std::uint8_t* e = staged;
    if (high_ != 0) {
      e = putUnit(e, high_);
      high_ = 0;
    }
    e = putUnit(e, u);
    encodeUnits(staged, e);
  }

  // A surrogate pair.
  void put4(std::uint8_t h1, std::uint8_t l1, std::uint8_t h2, std::uint8_t l2) {
    unit(static_cast<std::uint16_t>(h1 << 8 | l1));
    unit(static_cast<std::uint16_t>(h2 << 8 | l2));
  }

  // `n` ASCII bytes.
  void asciiRun(const std::uint8_t* src, std::size_t n) {
    std::uint8_t staged[2 * 256];
    while (n != 0) {
      const std::size_t step = n < 256 ? n : 256;
      widenBytes(src, step, staged);
      encodeUnits(staged, staged + 2 * step);
      src += step;
      n -= step;
    }
  }

  // A stretch that `write` puts in internal form, at most kStagedUnits
  // units.
  template <class Count, class Write>
  void block(Count, Write write) {
    std::uint8_t staged[2 * kStagedUnits];
    encodeUnits(staged, write(staged));
  }

 private:
  static std::uint8_t* putUnit(std::uint8_t* at, std::uint16_t u) {
    at[0] = static_cast<std::uint8_t>(u >> 8);
    at[1] = static_cast<std::uint8_t>(u);
    return at + 2;
  }

  // Rewrites the line endings of the staged units [b, e) and encodes them.
  void encodeUnits(std::uint8_t* b, std::uint8_t* e) {
    if (b == e || this->failed()) return;
    if constexpr (kRule != LineEnding::keep) {
      // Units before the first line break to rewrite need no work.
      const std::size_t plain = this->template breaksLine<kRule>(b)
                                    ? 0
                                    : ordinaryUnitPrefix<kRule == LineEnding::lf>(b, e);
      if (b + 2 * plain != e) {
        encodeLines(b, e);
        return;
      }
      after_cr_ = false;
    }
    convertRun(b, e);
  }

  // Units with line breaks to rewrite: rewritten in a second staging area
  // (CR LF can grow them) and encoded from there. Kept out of line: the
  // callers stay small.
  [[gnu::noinline]] void encodeLines(const std::uint8_t* b, const std::uint8_t* e) {
    std::uint8_t staged[2 * 2 * kStagedUnits];
    while (b != e && !this->failed()) {
      std::uint8_t* s = staged;
      b = this->template stageLines<kRule, kStagedUnits>(b, e, s);
      convertRun(staged, s);
    }
  }

  void convertRun(const std::uint8_t* b, const std::uint8_t* e) {
    if (b == e) return;
    ConversionBuffer run;
    run.in_begin = b;
    run.in_end = e;
    run.policy = this->policy();
    bool ok;
    if constexpr (kWrite) run.out = p_;
    if (stateful_) {
      // A run ends within the text: the encoder carries its set to the
      // next run, and closes nothing at the end of this one.
      Piece piece{state_, 0, false};
      ok = kWrite ? encoder_.convertPiece(run, piece) : encoder_.measurePiece(run, piece);
      state_ = piece.end_state;
    } else {
      ok = kWrite ? encoder_.convert(run) : encoder_.measure(run);
    }
    if (!ok) {
      failed_kind_ = run.size < 0 ? run.size : kUnmappable;
      return;
    }
    this->advance(static_cast<std::size_t>(run.size));
    this->addChanges(run.changes);
  }

  const Converter& encoder_;
  std::int32_t state_;
  bool stateful_;
  std::uint16_t high_ = 0;
};

}  // namespace mek

// Compiles the UTF-8 decoder's scan over the encoding sinks (counting and
// writing, for each line rule), in its own source file.
#define MEK_ENCODING_SCAN(Codec, Write, Rule)                             \
  template bool Codec::scan<EncodingSink<Write, Rule>>(ConversionBuffer&, \
                                                       EncodingSink<Write, Rule>&) const
#define MEK_ENCODING_SCANS(Codec) MEK_UTF8_RULES(MEK_ENCODING_SCAN, Codec)
