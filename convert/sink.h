#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "mek/converter.h"
#include "simd/ascii.h"

namespace mek {

// Every converter runs one scanning template over one of these two sinks:
// `measure` counts with a CountingSink, `convert` writes with a WritingSink.
// Because both share the scan, they cannot disagree about the output.

class CountingSink {
 public:
  void put(std::uint8_t) { n_ += 1; }
  void put2(std::uint8_t, std::uint8_t) { n_ += 2; }
  void put3(std::uint8_t, std::uint8_t, std::uint8_t) { n_ += 3; }
  void put4(std::uint8_t, std::uint8_t, std::uint8_t, std::uint8_t) { n_ += 4; }
  // One internal-form unit, high byte first.
  void unit(std::uint16_t) { n_ += 2; }
  // `n` bytes copied unchanged.
  void copy(const std::uint8_t*, std::size_t n) { n_ += n; }
  // `n` ASCII bytes written as `n` internal-form units 00 b.
  void widenAscii(const std::uint8_t*, std::size_t n) { n_ += 2 * n; }
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

class WritingSink {
 public:
  explicit WritingSink(std::uint8_t* out) : begin_(out), p_(out) {}

  void put(std::uint8_t a) { *p_++ = a; }
  void put2(std::uint8_t a, std::uint8_t b) {
    p_[0] = a;
    p_[1] = b;
    p_ += 2;
  }
  void put3(std::uint8_t a, std::uint8_t b, std::uint8_t c) {
    p_[0] = a;
    p_[1] = b;
    p_[2] = c;
    p_ += 3;
  }
  void put4(std::uint8_t a, std::uint8_t b, std::uint8_t c, std::uint8_t d) {
    p_[0] = a;
    p_[1] = b;
    p_[2] = c;
    p_[3] = d;
    p_ += 4;
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
  void widenAscii(const std::uint8_t* src, std::size_t n) {
    widenBytes(src, n, p_);
    p_ += 2 * n;
  }
  void narrowAscii(const std::uint8_t* src, std::size_t n) {
    narrowUnits(src, n, p_);
    p_ += n;
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

}  // namespace mek
