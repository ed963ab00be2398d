// mek::Text: text in the internal form that owns its block.

#include "mek/text.h"

#include <utility>

#include "layer/engine.h"
#include "mek/codes.h"
#include "mek/registry.h"

namespace mek {
namespace {

// Runs `converter` over [begin, end) under `policy` into `out`, made by
// `make(size)`: a sequence cut off by the end fails under the strict policy
// and gets the substitute (decoders, `decoding`) or is dropped otherwise.
// Answers the output size, or -1.
template <class Make>
std::int64_t runWhole(const Converter* converter, const std::uint8_t* begin,
                      const std::uint8_t* end, const ErrorPolicy& policy, bool decoding,
                      Make make) {
  if (converter == nullptr || end - begin > INT32_MAX) return -1;
  ConversionBuffer buffer;
  buffer.in_begin = begin;
  buffer.in_end = end;
  buffer.policy = &policy;
  if (!converter->measure(buffer)) return -1;
  const bool cutOff = buffer.stop != end;
  const bool forgiving = policy.action != Errors::strict;
  if (cutOff && !forgiving) return -1;
  const bool substitute = cutOff && decoding && policy.action != Errors::skip;
  const std::size_t tail = substitute ? 2 * std::size_t{policy.substitute_units} : 0;
  std::uint8_t* out = make(static_cast<std::size_t>(buffer.size) + tail);
  if (out == nullptr) return -1;
  buffer.out = out;
  if (!converter->convert(buffer)) return -1;
  for (std::size_t i = 0; 2 * i < tail; ++i) {
    out[buffer.size + 2 * i] = static_cast<std::uint8_t>(policy.substitute[i] >> 8);
    out[buffer.size + 2 * i + 1] = static_cast<std::uint8_t>(policy.substitute[i]);
  }
  return buffer.size + static_cast<std::int64_t>(tail);
}

}  // namespace

Text::~Text() {
  release();
}

Text::Text(Text&& other) noexcept
    : buffer_(std::exchange(other.buffer_, TextBuffer{})), allocator_(other.allocator_) {}

Text& Text::operator=(Text&& other) noexcept {
  if (this != &other) {
    release();
    buffer_ = std::exchange(other.buffer_, TextBuffer{});
    allocator_ = other.allocator_;
  }
  return *this;
}

void Text::release() noexcept {
  allocator_.release(allocator_.context, buffer_.data);
  buffer_ = TextBuffer{};
}

std::optional<Text> Text::decode(std::string_view input, Code from, const Allocator& allocator) {
  return decode(input, from, Options{}, allocator);
}

std::optional<Text> Text::decode(std::string_view input, Code from, const Options& options,
                                 const Allocator& allocator) {
  if (from == Code::autodetect) from = detect(input, options.detection);
  const ErrorPolicy policy =
      errorPolicyFor(options.errors, options.fallback, options.replacement, kCodeUtf16Be);
  Text text(allocator);
  std::uint8_t* block = nullptr;
  std::size_t capacity = 0;
  const std::int64_t size =
      runWhole(findDecoder(numberOf(from)), bytesOf(input), bytesOf(input) + input.size(), policy,
               true, [&](std::size_t bytes) {
                 capacity = bytes;
                 block = static_cast<std::uint8_t*>(allocator.allocate(allocator.context, bytes));
                 return block;
               });
  if (size < 0 || size > INT32_MAX) {
    if (block != nullptr) allocator.release(allocator.context, block);
    return std::nullopt;
  }
  text.buffer_.data = block;
  text.buffer_.length = static_cast<std::int32_t>(size);
  text.buffer_.capacity = static_cast<std::int32_t>(capacity);
  return text;
}

std::optional<std::string> Text::encode(Code to, const Options& options) const {
  const ErrorPolicy policy =
      errorPolicyFor(options.errors, options.fallback, options.replacement, numberOf(to));
  std::string out;
  const std::int64_t size =
      runWhole(findEncoder(numberOf(to)), buffer_.data, buffer_.data + buffer_.length, policy,
               false, [&out](std::size_t bytes) {
                 out.assign(bytes, '\0');
                 return reinterpret_cast<std::uint8_t*>(out.data());
               });
  if (size < 0) return std::nullopt;
  out.resize(static_cast<std::size_t>(size));
  return out;
}

std::span<const std::byte> Text::bytes() const noexcept {
  return {reinterpret_cast<const std::byte*>(buffer_.data),
          static_cast<std::size_t>(buffer_.length)};
}

std::size_t Text::characters() const noexcept {
  return static_cast<std::size_t>(characterCount(&buffer_));
}

}  // namespace mek
