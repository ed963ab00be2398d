#pragma once

namespace mek {

// How a streamed conversion failed.
enum class StreamError {
  kNone,
  kMalformed,  // input bytes that are not valid in the input code
  kUnmapped,   // a character that the output code cannot carry
  kTooLarge,   // a piece's output that no signed 32-bit count can hold
  kNoMemory,   // an area could not be allocated
  kOutput,     // the caller's writer refused the output
};

}  // namespace mek
