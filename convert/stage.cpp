#include "mek/stage.h"

#include <cstdio>
#include <cstdlib>

#include "convert/area.h"

namespace mek {

bool runStage(ConversionBuffer* buffer, const Converter* converter) {
  // The previous input is released only once the measured size is known, so
  // that its area can take the output. Nothing is allocated meanwhile, so no
  // more memory is held than if it had been released at once.
  std::uint8_t* spare = const_cast<std::uint8_t*>(buffer->in_begin);
  buffer->in_begin = buffer->out;
  buffer->in_end = buffer->out + buffer->size;
  buffer->out = nullptr;

  // A converter leaves a sequence cut off by the end unconsumed; over a
  // whole input that is malformed input at its first byte.
  const bool measured = converter->measure(*buffer);
  if (measured && buffer->stop != buffer->in_end) buffer->size = kMalformedInput;
  if (!measured || buffer->size == kMalformedInput) {
    std::free(spare);
    std::fputs(buffer->size == kOutputTooLarge ? "cannot allocate enough memory\n"
                                               : "cannot convert bytes\n",
               stderr);
    return false;
  }
  const auto size = static_cast<std::size_t>(buffer->size);
  if (spare != nullptr && areaCapacity(spare) >= size) {
    buffer->out = spare;
  } else {
    std::free(spare);
    // An empty result still gets a valid area, like any other.
    buffer->out = allocateArea(size);
  }
  if (buffer->out == nullptr) {
    std::fputs("cannot allocate enough memory\n", stderr);
    return false;
  }
  if (!converter->convert(*buffer)) {
    std::fputs("cannot convert bytes\n", stderr);
    return false;
  }
  return true;
}

void skipStage(ConversionBuffer* buffer) {
  std::free(const_cast<std::uint8_t*>(buffer->in_begin));
  buffer->in_begin = nullptr;
  buffer->in_end = nullptr;
}

}  // namespace mek
