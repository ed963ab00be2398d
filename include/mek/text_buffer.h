// The converter interface, beneath <mek/mek.h>: kept as it stands for the
// callers that drive converters and manage their own memory.
#pragma once

#include <cstddef>
#include <cstdint>

#include "mek/converter.h"

namespace mek {

// A growable byte buffer that owns its block, meant for text in the internal
// form (UTF-16 big-endian units, surrogate pairs). Invariant: length <=
// capacity <= size of the block. A record kept by the caller starts as {}.
struct TextBuffer {
  std::uint8_t* data = nullptr;
  std::int32_t length = 0;
  std::int32_t capacity = 0;
};

// Where the text-buffer operations get their blocks from. `allocate` answers
// null on failure and never throws; `release` accepts null. The same
// allocator must be used for every operation on one buffer.
struct Allocator {
  void* (*allocate)(void* context, std::size_t bytes);
  void (*release)(void* context, void* block);
  void* context;
};

// std::malloc and std::free; a request for 0 bytes still yields a block.
void* heapAllocate(void* context, std::size_t bytes);
void heapRelease(void* context, void* block);
inline constexpr Allocator kHeapAllocator{&heapAllocate, &heapRelease, nullptr};

// Every operation reports failure by its result and then leaves every buffer
// it was given exactly as it was (only the area handed to convertInto may hold
// partial output). Growth is exact: a block grows to precisely the bytes
// needed and never shrinks. Character positions follow the character rule:
// a high-surrogate unit (D8..DB) followed by a low-surrogate unit (DC..DF) is
// one 4-byte character, every other 2-byte unit one character; the text ends
// at a high surrogate with fewer than 4 bytes left, or with fewer than 2.

// Replaces the block with a fresh one of `capacity` bytes; the text is
// discarded (length 0).
bool allocate(TextBuffer* buffer, std::int32_t capacity,
              const Allocator& allocator = kHeapAllocator);

// Fills `buffer` with the converter's output for the given input: measure,
// then convert into a block of exactly the measured size. An empty result
// keeps the old block, with length and capacity 0.
bool assignConverted(TextBuffer* buffer, const std::uint8_t* source, std::int32_t sourceLength,
                     const Converter* converter, const Allocator& allocator = kHeapAllocator);

// Replaces the buffer's text with the converter's output for it.
bool convertInPlace(TextBuffer* buffer, const Converter* converter,
                    const Allocator& allocator = kHeapAllocator);

// The bytes the converter would write for the buffer's text, or -1 when it
// rejects the text.
std::int32_t measuredSize(const TextBuffer* buffer, const Converter* converter);

// Converts the buffer's text into `area`, which holds at least measuredSize
// bytes for the same converter. Answers the bytes written, or -1.
std::int32_t convertInto(const TextBuffer* buffer, std::uint8_t* area, const Converter* converter);

// Makes the destination's text a copy of the source's.
bool copy(TextBuffer* destination, const TextBuffer* source,
          const Allocator& allocator = kHeapAllocator);

// Adds the source's text behind the destination's; the source may be the
// destination itself.
bool append(TextBuffer* destination, const TextBuffer* source,
            const Allocator& allocator = kHeapAllocator);

// True when the first min(a.length, b.length) bytes are equal.
bool prefixEqual(const TextBuffer* a, const TextBuffer* b);

// The number of characters in the text.
std::int32_t characterCount(const TextBuffer* buffer);

// The bytes that `count` characters occupy from byte `start`, or -1 when the
// text ends first. A count of 0 or less answers 0. Character index i is at
// byteOffset(buffer, 0, i), so an index of 0 or less means the start.
std::int32_t byteOffset(const TextBuffer* buffer, std::int32_t start, std::int32_t count);

// Inserts the source's text before character `index`; an index equal to the
// character count appends. The source may be the destination itself.
bool insert(TextBuffer* destination, const TextBuffer* source, std::int32_t index,
            const Allocator& allocator = kHeapAllocator);

// Removes `count` characters at character `index`; never reallocates.
bool erase(TextBuffer* buffer, std::int32_t index, std::int32_t count);

// Makes the destination's text a copy of `count` characters at `index`.
bool extract(const TextBuffer* buffer, TextBuffer* destination, std::int32_t index,
             std::int32_t count, const Allocator& allocator = kHeapAllocator);

// Replaces `count` characters at `index` with other's text and hands the
// removed text back in `other`, whose block then holds exactly that text.
// `other` must be a different record.
bool exchange(TextBuffer* buffer, TextBuffer* other, std::int32_t index, std::int32_t count,
              const Allocator& allocator = kHeapAllocator);

// New records, owned by the caller and released with destroyTextBuffer; null
// on failure.
TextBuffer* createTextBuffer(std::int32_t capacity, const Allocator& allocator = kHeapAllocator);
// The converter's output for the bytes of `text` up to its terminating zero.
TextBuffer* createFromString(const char* text, const Converter* converter,
                             const Allocator& allocator = kHeapAllocator);
TextBuffer* createConverted(const std::uint8_t* source, std::int32_t sourceLength,
                            const Converter* converter,
                            const Allocator& allocator = kHeapAllocator);

// Releases the block and then the record of a buffer made by one of the
// creating operations. Accepts null.
void destroyTextBuffer(TextBuffer* buffer, const Allocator& allocator = kHeapAllocator);

}  // namespace mek
