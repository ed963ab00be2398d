#include "mek/text_buffer.h"

#include <cstdlib>
#include <cstring>
#include <new>

namespace mek {

void* heapAllocate(void*, std::size_t bytes) {
  return std::malloc(bytes == 0 ? 1 : bytes);
}

void heapRelease(void*, void* block) {
  std::free(block);
}

namespace {

constexpr std::int64_t kMaxLength = INT32_MAX;

std::uint8_t* acquire(const Allocator& allocator, std::int64_t bytes) {
  return static_cast<std::uint8_t*>(
      allocator.allocate(allocator.context, static_cast<std::size_t>(bytes)));
}

void giveBack(const Allocator& allocator, void* block) {
  allocator.release(allocator.context, block);
}

// std::memcpy and std::memmove must not see null pointers, even for 0 bytes.
void copyBytes(std::uint8_t* to, const std::uint8_t* from, std::int64_t bytes) {
  if (bytes > 0) std::memcpy(to, from, static_cast<std::size_t>(bytes));
}

void moveBytes(std::uint8_t* to, const std::uint8_t* from, std::int64_t bytes) {
  if (bytes > 0) std::memmove(to, from, static_cast<std::size_t>(bytes));
}

bool isHighSurrogate(std::uint8_t high) {
  return high >= 0xD8 && high <= 0xDB;
}
bool isLowSurrogate(std::uint8_t high) {
  return high >= 0xDC && high <= 0xDF;
}

// The bytes of the character that begins at byte `at`, or 0 when the text
// has no character there.
std::int32_t characterAt(const TextBuffer* buffer, std::int32_t at) {
  const std::int32_t left = buffer->length - at;
  if (left < 2) return 0;
  if (!isHighSurrogate(buffer->data[at])) return 2;
  if (left < 4) return 0;
  return isLowSurrogate(buffer->data[at + 2]) ? 4 : 2;
}

// The byte position of character `index` and the bytes of `count` characters
// from there.
bool locate(const TextBuffer* buffer, std::int32_t index, std::int32_t count,
            std::int32_t& position, std::int32_t& bytes) {
  position = byteOffset(buffer, 0, index);
  if (position < 0) return false;
  bytes = byteOffset(buffer, position, count);
  return bytes >= 0;
}

// Measures [begin, end) and converts it into a new block of exactly the
// measured size. `block` stays null when that size is 0.
bool convertToNewBlock(const std::uint8_t* begin, const std::uint8_t* end,
                       const Converter* converter, const Allocator& allocator, std::uint8_t*& block,
                       std::int32_t& size) {
  if (converter == nullptr) return false;
  ConversionBuffer conversion;
  conversion.in_begin = begin;
  conversion.in_end = end;
  if (!converter->measure(conversion)) return false;
  size = conversion.size;
  block = nullptr;
  if (size == 0) return true;
  block = acquire(allocator, size);
  if (block == nullptr) return false;
  conversion.out = block;
  if (!converter->convert(conversion)) {
    giveBack(allocator, block);
    block = nullptr;
    return false;
  }
  return true;
}

// A fresh record with `data` null, or null.
TextBuffer* newRecord(const Allocator& allocator) {
  void* memory = allocator.allocate(allocator.context, sizeof(TextBuffer));
  return memory != nullptr ? new (memory) TextBuffer{} : nullptr;
}

}  // namespace

bool allocate(TextBuffer* buffer, std::int32_t capacity, const Allocator& allocator) {
  if (capacity < 0) return false;
  std::uint8_t* block = acquire(allocator, capacity);
  if (block == nullptr) return false;
  giveBack(allocator, buffer->data);
  buffer->data = block;
  buffer->length = 0;
  buffer->capacity = capacity;
  return true;
}

bool assignConverted(TextBuffer* buffer, const std::uint8_t* source, std::int32_t sourceLength,
                     const Converter* converter, const Allocator& allocator) {
  if (sourceLength < 0) return false;
  std::uint8_t* block;
  std::int32_t size;
  if (!convertToNewBlock(source, source + sourceLength, converter, allocator, block, size)) {
    return false;
  }
  if (block != nullptr) {
    giveBack(allocator, buffer->data);
    buffer->data = block;
  }
  buffer->length = size;
  buffer->capacity = size;
  return true;
}

bool convertInPlace(TextBuffer* buffer, const Converter* converter, const Allocator& allocator) {
  std::uint8_t* block;
  std::int32_t size;
  if (!convertToNewBlock(buffer->data, buffer->data + buffer->length, converter, allocator, block,
                         size)) {
    return false;
  }
  if (block != nullptr) {
    giveBack(allocator, buffer->data);
    buffer->data = block;
    buffer->capacity = size;
  }
  buffer->length = size;
  return true;
}

std::int32_t measuredSize(const TextBuffer* buffer, const Converter* converter) {
  if (converter == nullptr) return -1;
  ConversionBuffer conversion;
  conversion.in_begin = buffer->data;
  conversion.in_end = buffer->data + buffer->length;
  return converter->measure(conversion) ? conversion.size : -1;
}

std::int32_t convertInto(const TextBuffer* buffer, std::uint8_t* area, const Converter* converter) {
  if (converter == nullptr) return -1;
  ConversionBuffer conversion;
  conversion.out = area;
  conversion.in_begin = buffer->data;
  conversion.in_end = buffer->data + buffer->length;
  return converter->convert(conversion) ? conversion.size : -1;
}

bool copy(TextBuffer* destination, const TextBuffer* source, const Allocator& allocator) {
  const std::int32_t length = source->length;
  if (destination->capacity < length) {
    std::uint8_t* block = acquire(allocator, length);
    if (block == nullptr) return false;
    copyBytes(block, source->data, length);
    giveBack(allocator, destination->data);
    destination->data = block;
    destination->capacity = length;
  } else {
    moveBytes(destination->data, source->data, length);  // the source may be the destination
  }
  destination->length = length;
  return true;
}

bool append(TextBuffer* destination, const TextBuffer* source, const Allocator& allocator) {
  const std::int32_t added = source->length;
  const std::int64_t newLength = std::int64_t{destination->length} + added;
  if (newLength > kMaxLength) return false;
  if (destination->capacity < newLength) {
    std::uint8_t* block = acquire(allocator, newLength);
    if (block == nullptr) return false;
    copyBytes(block, destination->data, destination->length);
    // Copied before the old block goes, which may be the source's.
    copyBytes(block + destination->length, source->data, added);
    giveBack(allocator, destination->data);
    destination->data = block;
    destination->capacity = static_cast<std::int32_t>(newLength);
  } else {
    copyBytes(destination->data + destination->length, source->data, added);
  }
  destination->length = static_cast<std::int32_t>(newLength);
  return true;
}

bool prefixEqual(const TextBuffer* a, const TextBuffer* b) {
  const std::int32_t shorter = a->length < b->length ? a->length : b->length;
  return shorter == 0 || std::memcmp(a->data, b->data, static_cast<std::size_t>(shorter)) == 0;
}

std::int32_t characterCount(const TextBuffer* buffer) {
  std::int32_t count = 0;
  for (std::int32_t at = 0, bytes; (bytes = characterAt(buffer, at)) != 0; at += bytes) ++count;
  return count;
}

std::int32_t byteOffset(const TextBuffer* buffer, std::int32_t start, std::int32_t count) {
  if (count <= 0) return 0;
  if (start < 0) return -1;
  std::int32_t at = start;
  for (std::int32_t i = 0; i < count; ++i) {
    const std::int32_t bytes = characterAt(buffer, at);
    if (bytes == 0) return -1;
    at += bytes;
  }
  return at - start;
}

bool insert(TextBuffer* destination, const TextBuffer* source, std::int32_t index,
            const Allocator& allocator) {
  const std::int32_t p = byteOffset(destination, 0, index);
  if (p < 0) return false;
  const std::int32_t gap = source->length;
  const std::int64_t newLength = std::int64_t{destination->length} + gap;
  if (newLength > kMaxLength) return false;
  const std::int32_t tail = destination->length - p;
  std::uint8_t* data = destination->data;
  if (destination->capacity < newLength) {
    std::uint8_t* block = acquire(allocator, newLength);
    if (block == nullptr) return false;
    copyBytes(block, data, p);
    copyBytes(block + p + gap, data + p, tail);
    copyBytes(block + p, source->data, gap);
    giveBack(allocator, data);
    destination->data = block;
    destination->capacity = static_cast<std::int32_t>(newLength);
  } else if (source == destination) {
    moveBytes(data + p + gap, data + p, tail);
    // The source text now lies in two pieces: the p bytes in front of the
    // gap and the tail behind it.
    moveBytes(data + p, data, p);
    moveBytes(data + 2 * std::int64_t{p}, data + p + gap, tail);
  } else {
    moveBytes(data + p + gap, data + p, tail);
    copyBytes(data + p, source->data, gap);
  }
  destination->length = static_cast<std::int32_t>(newLength);
  return true;
}

bool erase(TextBuffer* buffer, std::int32_t index, std::int32_t count) {
  std::int32_t p, n;
  if (!locate(buffer, index, count, p, n)) return false;
  moveBytes(buffer->data + p, buffer->data + p + n, buffer->length - p - n);
  buffer->length -= n;
  return true;
}

bool extract(const TextBuffer* buffer, TextBuffer* destination, std::int32_t index,
             std::int32_t count, const Allocator& allocator) {
  std::int32_t p, n;
  if (!locate(buffer, index, count, p, n)) return false;
  if (destination->capacity < n) {
    std::uint8_t* block = acquire(allocator, n);
    if (block == nullptr) return false;
    copyBytes(block, buffer->data + p, n);
    giveBack(allocator, destination->data);
    destination->data = block;
    destination->capacity = n;
  } else {
    moveBytes(destination->data, buffer->data + p, n);  // the destination may be the buffer
  }
  destination->length = n;
  return true;
}

bool exchange(TextBuffer* buffer, TextBuffer* other, std::int32_t index, std::int32_t count,
              const Allocator& allocator) {
  if (buffer == other) return false;
  std::int32_t p, n;
  if (!locate(buffer, index, count, p, n)) return false;
  const std::int32_t added = other->length;
  const std::int64_t newLength = std::int64_t{buffer->length} - n + added;
  if (newLength > kMaxLength) return false;
  std::uint8_t* removed = acquire(allocator, n);
  if (removed == nullptr) return false;
  copyBytes(removed, buffer->data + p, n);

  const std::int32_t tail = buffer->length - p - n;
  std::uint8_t* data = buffer->data;
  if (buffer->capacity < newLength) {
    std::uint8_t* block = acquire(allocator, newLength);
    if (block == nullptr) {
      giveBack(allocator, removed);
      return false;
    }
    copyBytes(block, data, p);
    copyBytes(block + p + added, data + p + n, tail);
    giveBack(allocator, data);
    buffer->data = block;
    buffer->capacity = static_cast<std::int32_t>(newLength);
  } else {
    moveBytes(data + p + added, data + p + n, tail);
  }
  copyBytes(buffer->data + p, other->data, added);
  buffer->length = static_cast<std::int32_t>(newLength);

  giveBack(allocator, other->data);
  other->data = removed;
  other->length = n;
  other->capacity = n;
  return true;
}

TextBuffer* createTextBuffer(std::int32_t capacity, const Allocator& allocator) {
  if (capacity < 0) return nullptr;
  TextBuffer* buffer = newRecord(allocator);
  if (buffer != nullptr && !allocate(buffer, capacity, allocator)) {
    destroyTextBuffer(buffer, allocator);
    return nullptr;
  }
  return buffer;
}

TextBuffer* createFromString(const char* text, const Converter* converter,
                             const Allocator& allocator) {
  if (text == nullptr) return nullptr;
  const std::size_t length = std::strlen(text);
  if (length > static_cast<std::size_t>(kMaxLength)) return nullptr;
  return createConverted(reinterpret_cast<const std::uint8_t*>(text),
                         static_cast<std::int32_t>(length), converter, allocator);
}

TextBuffer* createConverted(const std::uint8_t* source, std::int32_t sourceLength,
                            const Converter* converter, const Allocator& allocator) {
  if (sourceLength < 0 || converter == nullptr) return nullptr;
  TextBuffer* buffer = newRecord(allocator);
  if (buffer != nullptr && !assignConverted(buffer, source, sourceLength, converter, allocator)) {
    destroyTextBuffer(buffer, allocator);
    return nullptr;
  }
  return buffer;
}

void destroyTextBuffer(TextBuffer* buffer, const Allocator& allocator) {
  if (buffer == nullptr) return;
  giveBack(allocator, buffer->data);
  buffer->~TextBuffer();
  giveBack(allocator, buffer);
}

}  // namespace mek
