#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

namespace mek {

enum class ReadResult { kOk, kTooLarge, kNoMemory, kReadError };

// The whole input in memory: a read-only private mapping of a regular file,
// or one std::malloc'd area for anything else (and for empty files).
struct InputBytes {
  std::uint8_t* data = nullptr;
  std::size_t size = 0;
  bool mapped = false;

  // Releases `area` the way it was obtained: the mapping when it is this
  // input's, std::free otherwise (null is ignored).
  void release(const std::uint8_t* area) const;
};

// Reads all of `input`. A regular file is mapped, which spares the kernel
// from zeroing an area of its size and the copy of a read. Other positionable
// input is read with one read into an area of its size (plus one byte, which
// catches a file that grew); anything else, such as a pipe, is read to its
// end. Sizes of 2^31 bytes or more give kTooLarge.
ReadResult readInput(std::FILE* input, InputBytes& bytes);

}  // namespace mek
