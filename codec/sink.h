#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <type_traits>

#include "mek/converter.h"
#include "simd/ascii.h"
#include "simd/ascii_block.h"

namespace mek {

// Every converter runs one scanning template over one of these two sinks:
// `measure` counts with a CountingSink, `convert` writes with a WritingSink.
// Because both share the scan, they cannot disagree about the output.

// What both sinks keep besides the output: the error policy of the scan and
// the changes made under it.
class ChangeLog {
 public:
  explicit ChangeLog(const ErrorPolicy* policy) : policy_(policy) {}
  const ErrorPolicy* policy() const { return policy_; }
  // Whether encoders write characters without a code of their own at their
  // twin's position.
  bool fallback() const { return policy_ != nullptr && policy_->fallback; }
  // Notes one change at `at`, the first input byte of what was changed
  // (`length` bytes of it, for a decoder), whose stand-in begins at output
  // byte `output`.
  void changed(const std::uint8_t* at, std::size_t output, std::size_t length = 0) {
    if (first_ == nullptr) first_ = at;
    last_ = at;
    last_output_ = output;
    if (changes_ >= 0 && changes_ < ConversionBuffer::kChangesKept) {
      kept_at_[changes_] = at;
      kept_length_[changes_] = static_cast<std::int32_t>(length);
      kept_output_[changes_] = static_cast<std::int32_t>(output);
    }
    ++changes_;
  }
  // Copies the changes kept into `buffer`.
  void keepIn(ConversionBuffer& buffer) const {
    for (int i = 0; i < ConversionBuffer::kChangesKept; ++i) {
      buffer.change_at[i] = kept_at_[i];
      buffer.change_length[i] = kept_length_[i];
      buffer.change_output[i] = kept_output_[i];
    }
  }
  // Adds changes made by a scan that ran inside this one (a fused path's
  // encoder), whose places are not known here.
  void addChanges(std::int32_t n) { changes_ += n; }
  std::int32_t changes() const { return changes_; }
  const std::uint8_t* firstChange() const { return first_; }
  const std::uint8_t* lastChange() const { return last_; }
  std::size_t lastChangeOutput() const { return last_output_; }

 private:
  const ErrorPolicy* policy_;
  std::int32_t changes_ = 0;
  const std::uint8_t* first_ = nullptr;
  const std::uint8_t* last_ = nullptr;
  std::size_t last_output_ = 0;
  const std::uint8_t* kept_at_[ConversionBuffer::kChangesKept] = {};
  std::int32_t kept_length_[ConversionBuffer::kChangesKept] = {};
  std::int32_t kept_output_[ConversionBuffer::kChangesKept] = {};
};

class CountingSink : public ChangeLog {
 public:
  explicit CountingSink(const ErrorPolicy* policy = nullptr) : ChangeLog(policy) {}
  void put(std::uint8_t) { n_ += 1; }
  void put2(std::uint8_t, std::uint8_t) { n_ += 2; }
  void put3(std::uint8_t, std::uint8_t, std::uint8_t) { n_ += 3; }
  void put4(std::uint8_t, std::uint8_t, std::uint8_t, std::uint8_t) { n_ += 4; }
  // One internal-form unit, high byte first.
  void unit(std::uint16_t) { n_ += 2; }
  // `n` bytes copied unchanged.
  void copy(const std::uint8_t*, std::size_t n) { n_ += n; }
  // The first `n` of the kAsciiBlock ASCII bytes at the source, as
  // characters (a decoder's ASCII step; the writer may store the whole block).
  void asciiBlock(const std::uint8_t*, unsigned n) { n_ += 2 * std::size_t{n}; }
  // A run of `n` ASCII bytes as characters (internal-form units 00 b),
  // stored exactly.
  void asciiRun(const std::uint8_t*, std::size_t n) { n_ += 2 * n; }
  // `n` internal-form units below 0x80 written as their low bytes.
  void narrowAscii(const std::uint8_t*, std::size_t n) { n_ += n; }
  // A stretch handled in one piece: `count()` gives its output size and
  // `write(dst)` would write it and answer the end of what it wrote.
  template <class Count, class Write>
  void block(Count count, Write) {
    n_ += count();
  }
  std::size_t count() const { return n_; }

 private:
  std::size_t n_ = 0;
};

class WritingSink : public ChangeLog {
 public:
  explicit WritingSink(std::uint8_t* out, const ErrorPolicy* policy = nullptr)
      : ChangeLog(policy), begin_(out), p_(out) {}

  // Each writer reads p_ once: a byte store may alias the sink itself, so
  // writing through p_ would make the compiler load it again after each.
  void put(std::uint8_t a) { *p_++ = a; }
  void put2(std::uint8_t a, std::uint8_t b) {
    std::uint8_t* const p = p_;
    p[0] = a;
    p[1] = b;
    p_ = p + 2;
  }
  void put3(std::uint8_t a, std::uint8_t b, std::uint8_t c) {
    std::uint8_t* const p = p_;
    p[0] = a;
    p[1] = b;
    p[2] = c;
    p_ = p + 3;
  }
  void put4(std::uint8_t a, std::uint8_t b, std::uint8_t c, std::uint8_t d) {
    std::uint8_t* const p = p_;
    p[0] = a;
    p[1] = b;
    p[2] = c;
    p[3] = d;
    p_ = p + 4;
  }
  // One store of the two bytes in their big-endian order.
  void unit(std::uint16_t u) {
    if constexpr (std::endian::native == std::endian::little) {
      u = static_cast<std::uint16_t>(u << 8 | u >> 8);
    }
    std::memcpy(p_, &u, 2);
    p_ += 2;
  }
  void copy(const std::uint8_t* src, std::size_t n) {
    if (n != 0) std::memcpy(p_, src, n);
    p_ += n;
  }
  void narrowAscii(const std::uint8_t* src, std::size_t n) {
    narrowUnits(src, n, p_);
    p_ += n;
  }
  void asciiBlock(const std::uint8_t* src, unsigned n) {
    widenBlock(src, p_);
    p_ += 2 * std::size_t{n};
  }
  void asciiRun(const std::uint8_t* src, std::size_t n) {
    widenRun(src, n, p_);
    p_ += 2 * n;
  }
  // Checked builds (MEK_CHECKED) also count the stretch and stop the
  // process when the writer wrote another size than measure counted.
  template <class Count, class Write>
  void block([[maybe_unused]] Count count, Write write) {
#if defined(MEK_CHECKED)
    std::uint8_t* const end = write(p_);
    if (end != p_ + count()) std::abort();
    p_ = end;
#else
    p_ = write(p_);
#endif
  }
  std::size_t count() const {
    return static_cast<std::size_t>(p_ - begin_);
  }

 private:
  std::uint8_t* begin_;
  std::uint8_t* p_;
};

// Whether a sink only counts; such a sink needs no staged bytes.
template <class Sink>
inline constexpr bool kCountsOnly = std::is_same_v<Sink, CountingSink>;

// Ends a successful scan: records where it stopped and how much it produced.
// Fails, with `size` set to kOutputTooLarge, when the count does not fit.
template <class Sink>
inline bool finishScan(ConversionBuffer& buffer, const std::uint8_t* stop, const Sink& sink) {
  if (sink.count() > static_cast<std::size_t>(INT32_MAX)) {
    buffer.stop = buffer.in_end;
    buffer.size = kOutputTooLarge;
    return false;
  }
  buffer.stop = stop;
  buffer.size = static_cast<std::int32_t>(sink.count());
  buffer.changes = sink.changes();
  buffer.first_change = sink.firstChange();
  buffer.last_change = sink.lastChange();
  buffer.last_change_output = static_cast<std::int32_t>(sink.lastChangeOutput());
  sink.keepIn(buffer);
  return true;
}

// Ends a failed scan: records where (the first byte of the sequence or unit
// that could not be converted) and why (kMalformedInput or kUnmappable).
inline bool failScan(ConversionBuffer& buffer, const std::uint8_t* at, std::int32_t kind) {
  buffer.stop = at;
  buffer.size = kind;
  return false;
}

// Fails an encoder at the internal-form unit at p, which it has no code for:
// a surrogate that does not begin a pair is malformed input, anything else a
// character the output code cannot carry.
inline bool failUnit(ConversionBuffer& buffer, const std::uint8_t* p) {
  const std::uint8_t h = p[0];
  const bool low = h >= 0xDC && h <= 0xDF;
  const bool unpaired =
      h >= 0xD8 && h <= 0xDB && buffer.in_end - p >= 4 && (p[2] < 0xDC || p[2] > 0xDF);
  return failScan(buffer, p, low || unpaired ? kMalformedInput : kUnmappable);
}

// Whether the scan goes on where it would fail: the policy is not strict.
inline bool forgiving(const ChangeLog& log) {
  return log.policy() != nullptr && log.policy()->action != Errors::strict;
}

// The input a fast loop must have left before a block store that writes
// ahead of what counts, as `margin` is for the strict policy. The margin
// proofs rest on each input byte (decoders) or unit (encoders) giving some
// output; Errors::skip gives none, so it takes no fast loop, and an encoder's
// stand-in for a surrogate pair may be one byte for two units, so the other
// forgiving policies double the margin.
inline std::ptrdiff_t blockMargin(const ChangeLog& log, std::ptrdiff_t margin, bool encoding) {
  const ErrorPolicy* policy = log.policy();
  if (policy == nullptr || policy->action == Errors::strict) return margin;
  if (policy->action == Errors::skip) return PTRDIFF_MAX;
  return encoding ? 2 * margin : margin;
}

// A decoder at a malformed sequence that begins at `at`: answers false under
// the strict policy, and the scan fails there. Otherwise it writes the
// policy's substitute (nothing with Errors::skip), notes the change and answers
// true; the scan goes on after the sequence.
// Writes the policy's substitute: a surrogate pair in one call, so that
// sinks that write another form take it as one character. Kept out of line:
// it is the rare path, and the scans stay small.
template <class Sink>
[[gnu::noinline]] void putSubstitute(Sink& sink, const ErrorPolicy& policy) {
  const int n = policy.substitute_units;
  for (int i = 0; i < n; ++i) {
    const std::uint16_t u = policy.substitute[i];
    if (u >= 0xD800 && u <= 0xDBFF && i + 1 < n) {
      const std::uint16_t low = policy.substitute[++i];
      sink.put4(static_cast<std::uint8_t>(u >> 8), static_cast<std::uint8_t>(u),
                static_cast<std::uint8_t>(low >> 8), static_cast<std::uint8_t>(low));
    } else {
      sink.unit(u);
    }
  }
}

template <class Sink>
inline bool forgiveMalformed(Sink& sink, const std::uint8_t* at, std::size_t length) {
  if (!forgiving(sink)) return false;
  const ErrorPolicy& policy = *sink.policy();
  sink.changed(at, sink.count(), length);
  if (policy.action != Errors::skip) putSubstitute(sink, policy);
  return true;
}

// The character at the internal-form unit p, which an encoder could not
// convert, and its length in bytes: a surrogate pair is one character, a
// surrogate without its partner counts as U+FFFD.
inline char32_t characterAt(const std::uint8_t* p, const std::uint8_t* end, int& length) {
  const char32_t unit = static_cast<char32_t>(p[0] << 8 | p[1]);
  length = 2;
  if (unit < 0xD800 || unit > 0xDFFF) return unit;
  if (unit <= 0xDBFF && end - p >= 4 && p[2] >= 0xDC && p[2] <= 0xDF) {
    length = 4;
    return 0x10000 + ((unit - 0xD800) << 10) + ((static_cast<char32_t>(p[2] << 8 | p[3])) - 0xDC00);
  }
  return 0xFFFD;
}

// An encoder at the character c, which begins at `at` and which it cannot
// carry: answers false under the strict policy, and the scan fails there.
// Otherwise it writes the replacement (Errors::replace), &#N; (Errors::html) or nothing
// (Errors::skip) through `put`, which writes one character that the output code
// carries, notes the change and answers true.
template <class Sink, class Put>
inline bool forgiveUnmappable(Sink& sink, const std::uint8_t* at, char32_t c, Put put) {
  if (!forgiving(sink)) return false;
  const ErrorPolicy& policy = *sink.policy();
  sink.changed(at, sink.count());
  if (policy.action == Errors::replace) {
    put(policy.replacement);
  } else if (policy.action == Errors::html) {
    char digits[8];
    int n = 0;
    do {
      digits[n++] = static_cast<char>('0' + c % 10);
      c /= 10;
    } while (c != 0);
    put(U'&');
    put(U'#');
    while (n > 0) put(static_cast<char32_t>(digits[--n]));
    put(U';');
  }
  return true;
}

}  // namespace mek
