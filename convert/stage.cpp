#include "convert/stage.h"

#include <cstdio>
#include <cstdlib>

#include "convert/area.h"

namespace mek {

bool runStage(ConversionBuffer* buffer, const Converter* converter) {
  std::free(const_cast<std::uint8_t*>(buffer->in_begin));
  buffer->in_begin = buffer->out;
  buffer->in_end = buffer->out + buffer->size;
  buffer->out = nullptr;

  if (!converter->measure(*buffer)) {
    std::fputs(buffer->size == kOutputTooLarge ? "cannot allocate enough memory\n"
                                               : "cannot convert bytes\n",
               stderr);
    return false;
  }
  // An empty result still gets a valid area, like any other.
  buffer->out = allocateArea(static_cast<std::size_t>(buffer->size));
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

}  // namespace mek
