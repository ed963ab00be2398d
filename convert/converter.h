#pragma once

#include <cstdint>

namespace mek {

// The record one stage works on. Before a stage, `out` and `size` describe the
// previous stage's output; the stage runner turns them into the input range.
struct ConversionBuffer {
  std::uint8_t* out = nullptr;
  const std::uint8_t* in_begin = nullptr;
  const std::uint8_t* in_end = nullptr;
  const std::uint8_t* stop = nullptr;
  std::int32_t size = 0;
};

// `measure` sets `size` to this and fails when the output would not fit in a
// signed 32-bit count, so that the caller can report it as a memory problem.
inline constexpr std::int32_t kOutputTooLarge = -1;

// One step of a conversion. `measure` validates the input and computes the
// exact output size; `convert` writes that many bytes at `out`. Both scan by
// the same rules, never allocate, throw or print, and keep no state.
class Converter {
 public:
  constexpr Converter() = default;
  Converter(const Converter&) = delete;
  Converter& operator=(const Converter&) = delete;
  constexpr virtual ~Converter() = default;

  virtual bool convert(ConversionBuffer& buffer) const = 0;
  virtual bool measure(ConversionBuffer& buffer) const = 0;
};

// Input encoding to internal form (UTF-16 big-endian units).
class Decoder : public Converter {};

// Internal form to output encoding.
class Encoder : public Converter {};

}  // namespace mek
