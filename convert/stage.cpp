#include "mek/stage.h"

#include <cstdio>
#include <cstdlib>

#include "convert/area.h"

namespace mek {

bool runStageQuietly(ConversionBuffer* buffer, const Converter* converter) {
  // The previous input is released only once the measured size is known, so
  // that its area can take the output. Nothing is allocated meanwhile, so no
  // more memory is held than if it had been released at once.
  std::uint8_t* spare = const_cast<std::uint8_t*>(buffer->in_begin);
  buffer->in_begin = buffer->out;
  buffer->in_end = buffer->out + buffer->size;
  buffer->out = nullptr;

  // A converter leaves a sequence cut off by the end unconsumed; over a
  // whole input that is malformed input at its first byte.
  // A forgiving policy writes its substitute for it instead (decoders).
  const ErrorPolicy* const policy = buffer->policy;
  const bool forgiving = policy != nullptr && policy->action != Errors::strict;
  const bool measured = converter->measure(*buffer);
  const bool cutOff = measured && buffer->stop != buffer->in_end;
  if (cutOff && !forgiving) buffer->size = kMalformedInput;
  if (!measured || buffer->size == kMalformedInput) {
    std::free(spare);
    return false;
  }
  const std::size_t tail =
      cutOff && policy->action != Errors::skip ? 2 * std::size_t{policy->substitute_units} : 0;
  const auto size = static_cast<std::size_t>(buffer->size) + tail;
  if (spare != nullptr && areaCapacity(spare) >= size) {
    buffer->out = spare;
  } else {
    std::free(spare);
    // An empty result still gets a valid area, like any other.
    buffer->out = allocateArea(size);
  }
  if (buffer->out == nullptr) {
    buffer->size = kOutputTooLarge;
    return false;
  }
  if (!converter->convert(*buffer)) {
    // Measure found the input good, so this is no memory matter.
    if (buffer->size == kOutputTooLarge) buffer->size = kMalformedInput;
    return false;
  }
  if (cutOff) {
    buffer->last_change_output = buffer->size;
    std::uint8_t* at = buffer->out + buffer->size;
    for (std::size_t i = 0; 2 * i < tail; ++i) {
      *at++ = static_cast<std::uint8_t>(policy->substitute[i] >> 8);
      *at++ = static_cast<std::uint8_t>(policy->substitute[i]);
    }
    buffer->size += static_cast<std::int32_t>(tail);
    if (buffer->first_change == nullptr) buffer->first_change = buffer->stop;
    buffer->last_change = buffer->stop;
    buffer->changes += 1;
  }
  return true;
}

bool runStage(ConversionBuffer* buffer, const Converter* converter) {
  if (runStageQuietly(buffer, converter)) return true;
  std::fputs(buffer->size == kOutputTooLarge ? "cannot allocate enough memory\n"
                                             : "cannot convert bytes\n",
             stderr);
  return false;
}

void skipStage(ConversionBuffer* buffer) {
  std::free(const_cast<std::uint8_t*>(buffer->in_begin));
  buffer->in_begin = nullptr;
  buffer->in_end = nullptr;
}

}  // namespace mek
