#pragma once

// Text held in the internal form, beside the door (mek/mek.h): for callers
// that edit decoded text with the operations of mek/text_buffer.h.

#include <cstddef>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "mek/mek.h"
#include "mek/text_buffer.h"

namespace mek {

// Text in the internal form (UTF-16 big-endian units) that owns its storage:
// a TextBuffer that remembers the allocator it was made with and releases
// its block when it goes. Move-only.
class Text {
 public:
  explicit Text(const Allocator& allocator = kHeapAllocator) noexcept : allocator_(allocator) {}
  ~Text();
  Text(Text&& other) noexcept;
  Text& operator=(Text&& other) noexcept;
  Text(const Text&) = delete;
  Text& operator=(const Text&) = delete;

  // The text of `input` in code `from` (detected for Code::autodetect);
  // nothing when it does not decode or memory is short.
  [[nodiscard]] static std::optional<Text> decode(std::string_view input, Code from,
                                                  const Allocator& allocator = kHeapAllocator);
  // The same under an error policy (a sequence cut off by the end fails, or
  // is replaced or dropped as the policy says).
  [[nodiscard]] static std::optional<Text> decode(std::string_view input, Code from,
                                                  const Options& options,
                                                  const Allocator& allocator = kHeapAllocator);
  // The text in code `to`; nothing when a character cannot be written
  // under the policy.
  [[nodiscard]] std::optional<std::string> encode(Code to, const Options& options = {}) const;

  [[nodiscard]] std::span<const std::byte> bytes() const noexcept;
  [[nodiscard]] std::size_t characters() const noexcept;
  [[nodiscard]] bool empty() const noexcept { return buffer_.length == 0; }
  // For the operations of mek/text_buffer.h; pass allocator() to those that
  // allocate.
  [[nodiscard]] TextBuffer* get() noexcept { return &buffer_; }
  [[nodiscard]] const TextBuffer* get() const noexcept { return &buffer_; }
  [[nodiscard]] const Allocator& allocator() const noexcept { return allocator_; }

 private:
  void release() noexcept;

  TextBuffer buffer_{};
  Allocator allocator_;
};

}  // namespace mek
