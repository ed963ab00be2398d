#include <new>
#include <utility>

#include "detect/scored_detection.h"
#include "mek/codes.h"
#include "mek/conversion_stream.h"
#include "mek/detect.h"
#include "mek/mek.h"
#include "mek/registry.h"

namespace mek {
namespace {

// Memory that runs out is told as too_large where nothing may throw.
ErrorKind kindOf(StreamError error) noexcept {
  switch (error) {
    case StreamError::kNone:
      return ErrorKind::none;
    case StreamError::kUnmapped:
      return ErrorKind::unmapped;
    case StreamError::kTooLarge:
    case StreamError::kNoMemory:
      return ErrorKind::too_large;
    default:
      return ErrorKind::malformed;
  }
}

Error errorOf(const ConversionStream& stream) noexcept {
  const ConversionFailure& failure = stream.failure();
  const StreamError error = failure.error != StreamError::kNone ? failure.error : stream.error();
  return {kindOf(error), failure.offset, failure.line, failure.column};
}

const std::uint8_t* bytesOf(std::string_view text) {
  return reinterpret_cast<const std::uint8_t*>(text.data());
}

std::string_view viewOf(std::span<const std::byte> bytes) {
  return {reinterpret_cast<const char*>(bytes.data()), bytes.size()};
}

ConversionStream::Options locating(Fold folds) {
  ConversionStream::Options options;
  options.locate = true;
  options.folds = static_cast<unsigned>(folds);
  return options;
}

}  // namespace

std::string_view name(Code code) noexcept {
  const CodeDescriptor* descriptor = describeCode(static_cast<int>(code));
  return descriptor != nullptr ? descriptor->name : "";
}

Code detect(std::string_view input, Detection how) noexcept {
  const std::uint8_t* const begin = bytesOf(input);
  if (how == Detection::score) {
    return static_cast<Code>(ScoredDetector::detect(begin, begin + input.size()).code);
  }
  return static_cast<Code>(detectEncoding(begin, begin + input.size()));
}

Code detect(std::span<const std::byte> input, Detection how) noexcept {
  return detect(viewOf(input), how);
}

Result convert(std::string_view input, Code from, Code to, LineEnding eol, Fold folds) {
  if (from == Code::autodetect) from = detect(input);
  Result result;
  ConversionStream stream(
      static_cast<int>(from), static_cast<int>(to), static_cast<int>(eol),
      [&result](const std::uint8_t* data, std::size_t size) {
        result.bytes.append(reinterpret_cast<const char*>(data), size);
        return true;
      },
      locating(folds));
  if (stream.feed(bytesOf(input), input.size()) && stream.finish()) return result;
  if (stream.error() == StreamError::kNoMemory) throw std::bad_alloc();
  result.error = errorOf(stream);
  result.bytes.clear();
  return result;
}

Result convert(std::span<const std::byte> input, Code from, Code to, LineEnding eol, Fold folds) {
  return convert(viewOf(input), from, to, eol, folds);
}

Stream::Stream(Code from, Code to, LineEnding eol, Writer writer, Fold folds)
    : stream_(std::make_unique<ConversionStream>(
          static_cast<int>(from), static_cast<int>(to), static_cast<int>(eol),
          [writer = std::move(writer)](const std::uint8_t* data, std::size_t size) {
            return writer(std::string_view(reinterpret_cast<const char*>(data), size));
          },
          locating(folds))) {}

Stream::~Stream() = default;
Stream::Stream(Stream&&) noexcept = default;
Stream& Stream::operator=(Stream&&) noexcept = default;

bool Stream::feed(std::string_view bytes) {
  return stream_ != nullptr && stream_->feed(bytesOf(bytes), bytes.size());
}

bool Stream::feed(std::span<const std::byte> bytes) {
  return feed(viewOf(bytes));
}

bool Stream::finish() {
  return stream_ != nullptr && stream_->finish();
}

Error Stream::error() const noexcept {
  return stream_ != nullptr ? errorOf(*stream_) : Error{ErrorKind::malformed, 0, 0, 0};
}

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
  if (from == Code::autodetect) from = detect(input);
  const Converter* decoder = findDecoder(static_cast<int>(from));
  if (decoder == nullptr || input.size() > static_cast<std::size_t>(INT32_MAX)) return std::nullopt;
  Text text(allocator);
  if (!assignConverted(&text.buffer_, bytesOf(input), static_cast<std::int32_t>(input.size()),
                       decoder, allocator)) {
    return std::nullopt;
  }
  return text;
}

std::optional<std::string> Text::encode(Code to) const {
  const Converter* encoder = findEncoder(static_cast<int>(to));
  if (encoder == nullptr) return std::nullopt;
  const std::int32_t size = measuredSize(&buffer_, encoder);
  if (size < 0) return std::nullopt;
  std::string out(static_cast<std::size_t>(size), '\0');
  if (convertInto(&buffer_, reinterpret_cast<std::uint8_t*>(out.data()), encoder) != size) {
    return std::nullopt;
  }
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
