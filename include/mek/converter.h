// The converter interface, beneath <mek/mek.h>: kept as it stands for the
// callers that drive converters and manage their own memory.
#pragma once

#include <cstddef>
#include <cstdint>

#include "mek/types.h"

namespace mek {

// The error policy of one conversion, plain data that the scans consult at
// each failure point; the fast paths never look at it.
struct ErrorPolicy {
  Errors action = Errors::strict;
  // Encoders write a character without a code of its own at the position of
  // its twin (see japanese/twins.h), whatever the action.
  bool fallback = false;
  // Errors::replace: what an encoder writes for a character it cannot carry; it
  // must be a character the encoder can carry.
  char32_t replacement = U'?';
  // Errors::replace and Errors::html: what a decoder writes for one malformed sequence, in
  // the internal form (at most 8 units, so "&#65533;" fits).
  std::uint16_t substitute[8] = {0xFFFD};
  std::uint8_t substitute_units = 1;
};

// The record one stage works on. Before a stage, `out` and `size` describe the
// previous stage's output; the stage runner turns them into the input range.
struct ConversionBuffer {
  std::uint8_t* out = nullptr;
  const std::uint8_t* in_begin = nullptr;
  const std::uint8_t* in_end = nullptr;
  const std::uint8_t* stop = nullptr;
  std::int32_t size = 0;
  // The error policy; null is strict.
  const ErrorPolicy* policy = nullptr;
  // After a successful scan under a forgiving policy: how many malformed
  // sequences or characters it changed, where the first and the last of
  // them began in the input (null when none), and where the last one's
  // stand-in begins in the output.
  std::int32_t changes = 0;
  const std::uint8_t* first_change = nullptr;
  const std::uint8_t* last_change = nullptr;
  std::int32_t last_change_output = 0;
  // The first kChangesKept of those changes, in order: where each began,
  // how many input bytes a decoder replaced there (0 for an encoder's
  // character), and where its stand-in begins in the output.
  static constexpr int kChangesKept = 4;
  const std::uint8_t* change_at[kChangesKept] = {};
  std::int32_t change_length[kChangesKept] = {};
  std::int32_t change_output[kChangesKept] = {};
};

// What `size` holds after `measure` or `convert` failed: the kind of the
// failure. `stop` then marks where the input could not be converted: the
// first byte of the offending sequence (decoders) or unit (the line-ending
// converter and encoders).
//
// The output would not fit in a signed 32-bit count (`stop` is the end of
// the input then), so that the caller can report it as a memory problem.
inline constexpr std::int32_t kOutputTooLarge = -1;
// The bytes at `stop` are not valid in the converter's input code (for an
// encoder: the internal form at `stop` is no whole character, such as a high
// surrogate without its low one).
inline constexpr std::int32_t kMalformedInput = -2;
// The character at `stop` is valid but the output code cannot carry it.
inline constexpr std::int32_t kUnmappable = -3;

// Where one piece of a longer text stands (defined with the engine, in the
// source tree): converters that run piece by piece take it.
struct Piece;

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

  // The most bytes `convert` (or `convertPiece`) can write for `inputSize`
  // bytes of input under the strict error policy, so that a caller with an
  // area that large may convert without measuring first; 0 when the
  // converter gives no bound.
  virtual std::size_t outputBound(std::size_t inputSize) const {
    (void)inputSize;
    return 0;
  }

  // `measure` and `convert` of one piece of a longer text. A converter that
  // keeps no state between characters, and for which input cut off by the
  // end of a piece is cut off the same way by the end of the text, needs
  // nothing more than its plain operations.
  virtual bool measurePiece(ConversionBuffer& buffer, Piece& piece) const;
  virtual bool convertPiece(ConversionBuffer& buffer, Piece& piece) const;
};

// Input encoding to internal form (UTF-16 big-endian units).
class Decoder : public Converter {};

// Internal form to output encoding.
class Encoder : public Converter {};

}  // namespace mek
