#include <mutex>
#include <new>
#include <utility>

#include "convert/huge_pages.h"
#include "detect/scored_detection.h"
#include "mek/codes.h"
#include "mek/detail/conversion_stream.h"
#include "mek/detect.h"
#include "mek/mek.h"
#include "mek/registry.h"

namespace mek {
namespace {

// Where and why the stream failed; the kind is the stream's own when the
// failure was not traced back to the input (memory, the writer).
Error errorOf(const ConversionStream& stream) noexcept {
  return stream.error();
}

Error firstChangeOf(const ConversionStream& stream) noexcept {
  return stream.changes().empty() ? Error{} : stream.changes().front();
}

Errors actionOf(Errors errors) noexcept {
  switch (errors) {
    case Errors::replace:
      return Errors::replace;
    case Errors::skip:
      return Errors::skip;
    case Errors::html:
      return Errors::html;
    default:
      return Errors::strict;
  }
}

const std::uint8_t* bytesOf(std::string_view text) {
  return reinterpret_cast<const std::uint8_t*>(text.data());
}

std::string_view viewOf(std::span<const std::byte> bytes) {
  return {reinterpret_cast<const char*>(bytes.data()), bytes.size()};
}

ConversionStream::Options locating(const Options& given = {}) {
  ConversionStream::Options options;
  options.locate = true;
  options.errors = actionOf(given.errors);
  options.replacement = given.replacement;
  options.fallback = given.fallback;
  options.folds = given.folds;
  return options;
}

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

Result convert(std::string_view input, Code from, Code to, LineEnding eol, const Options& options) {
  if (from == Code::autodetect) from = detect(input, options.detection);
  Result result;
  if (from == Code::autodetect) {
    const Undetected why = NearestReading::of(input);
    result.from = why.code;
    result.error = why.first;
    return result;
  }
  result.from = from;
  // Most texts convert as they are: a first run counts no lines and may use
  // a second thread. Only a text that failed or was changed is run again,
  // locating, to tell where.
  for (const bool locate : {false, true}) {
    result.bytes.clear();
    // Room for most outputs at once: growing a large string step by step
    // copies it and touches fresh pages again and again.
    result.bytes.reserve(input.size() * 2 + 64);
    adviseHugePages(result.bytes.data(), result.bytes.capacity());
    ConversionStream::Options given = locating(options);
    given.locate = locate;
    given.worker = !locate;
    ConversionStream stream(
        from, to, eol,
        [&result](const std::uint8_t* data, std::size_t size) {
          result.bytes.append(reinterpret_cast<const char*>(data), size);
          return true;
        },
        given);
    const bool ok = stream.feed(bytesOf(input), input.size()) && stream.finish();
    if (stream.error().kind == ErrorKind::no_memory) throw std::bad_alloc();
    if (ok && stream.changeCount() == 0) return result;
    if (!locate) continue;
    if (ok) {
      result.changes = stream.changeCount();
      result.first_change = firstChangeOf(stream);
      return result;
    }
    result.error = errorOf(stream);
    result.bytes.clear();
    return result;
  }
  return result;
}

Result convert(std::span<const std::byte> input, Code from, Code to, LineEnding eol,
               const Options& options) {
  return convert(viewOf(input), from, to, eol, options);
}

std::vector<Error> check(std::string_view input, Code from, Code to, std::size_t limit) {
  if (from == Code::autodetect) from = detect(input);
  std::vector<Error> problems;
  if (from == Code::autodetect) {
    problems.push_back(NearestReading::of(input).first);
    return problems;
  }
  ConversionStream::Options options = locating();
  options.errors = Errors::replace;
  options.changes_listed = limit;
  ConversionStream stream(
      from, to == Code::autodetect ? Code::utf16_be : to, LineEnding::lf,
      [](const std::uint8_t*, std::size_t) { return true; }, options);
  stream.feed(bytesOf(input), input.size());
  if (!stream.finish()) {
    if (stream.error().kind == ErrorKind::no_memory) throw std::bad_alloc();
    problems.push_back(errorOf(stream));
    return problems;
  }
  problems = stream.changes();
  return problems;
}

struct Stream::Shared {
  std::mutex mutex;
  std::string output;  // kept when the stream has no writer
};

Stream::Stream(Code from, Code to, LineEnding eol, Writer writer, const Options& options,
               const StreamSettings& settings)
    : shared_(std::make_unique<Shared>()) {
  ConversionStream::Options given = locating(options);
  if (settings.piece_size != 0) given.piece_size = settings.piece_size;
  given.worker = settings.threads;
  given.locate = settings.locate;
  given.changes_listed = settings.changes_listed;
  given.fused = settings.fused;
  stream_ = std::make_unique<ConversionStream>(
      from, to, eol,
      [writer = std::move(writer)](const std::uint8_t* data, std::size_t size) {
        return writer(std::string_view(reinterpret_cast<const char*>(data), size));
      },
      given);
}

Stream::Stream(Code from, Code to, LineEnding eol, const Options& options,
               const StreamSettings& settings)
    : Stream(
          from, to, eol, [](std::string_view) { return true; }, options, settings) {
  // The writer keeps the output; it runs inside the calls that hold the lock
  // (on the worker while finish() or flush() waits for it).
  Shared* shared = shared_.get();
  stream_ = std::make_unique<ConversionStream>(
      from, to, eol,
      [shared](const std::uint8_t* data, std::size_t size) {
        shared->output.append(reinterpret_cast<const char*>(data), size);
        return true;
      },
      [&] {
        ConversionStream::Options given = locating(options);
        if (settings.piece_size != 0) given.piece_size = settings.piece_size;
        given.worker = false;  // the output is kept by the caller's thread
        given.locate = settings.locate;
        given.changes_listed = settings.changes_listed;
        given.fused = settings.fused;
        return given;
      }());
}

Stream::~Stream() = default;
Stream::Stream(Stream&&) noexcept = default;
Stream& Stream::operator=(Stream&&) noexcept = default;

bool Stream::feed(std::string_view bytes) {
  if (stream_ == nullptr) return false;
  const std::lock_guard<std::mutex> lock(shared_->mutex);
  return stream_->feed(bytesOf(bytes), bytes.size());
}

bool Stream::feed(std::span<const std::byte> bytes) {
  return feed(viewOf(bytes));
}

std::span<std::byte> Stream::space() {
  if (stream_ == nullptr) return {};
  const std::lock_guard<std::mutex> lock(shared_->mutex);
  const std::span<std::uint8_t> room = stream_->space();
  return {reinterpret_cast<std::byte*>(room.data()), room.size()};
}

bool Stream::commit(std::size_t size) {
  if (stream_ == nullptr) return false;
  const std::lock_guard<std::mutex> lock(shared_->mutex);
  return stream_->commit(size);
}

bool Stream::flush() {
  if (stream_ == nullptr) return false;
  const std::lock_guard<std::mutex> lock(shared_->mutex);
  return stream_->flush();
}

std::string Stream::held() const {
  if (stream_ == nullptr) return {};
  const std::lock_guard<std::mutex> lock(shared_->mutex);
  const std::vector<std::uint8_t> bytes = stream_->held();
  return {bytes.begin(), bytes.end()};
}

std::uint32_t Stream::place() const noexcept {
  if (stream_ == nullptr) return kNoPlace;
  const std::lock_guard<std::mutex> lock(shared_->mutex);
  return stream_->place();
}

bool Stream::resumeAt(std::uint32_t place) {
  if (stream_ == nullptr) return false;
  const std::lock_guard<std::mutex> lock(shared_->mutex);
  return stream_->resumeAt(place);
}

bool Stream::finish() {
  if (stream_ == nullptr) return false;
  const std::lock_guard<std::mutex> lock(shared_->mutex);
  return stream_->finish();
}

std::string Stream::takeOutput() {
  if (shared_ == nullptr) return {};
  const std::lock_guard<std::mutex> lock(shared_->mutex);
  return std::exchange(shared_->output, std::string());
}

Error Stream::error() const noexcept {
  if (stream_ == nullptr) return Error{ErrorKind::malformed, 0, 0, 0};
  const std::lock_guard<std::mutex> lock(shared_->mutex);
  return errorOf(*stream_);
}

std::uint64_t Stream::changes() const noexcept {
  if (stream_ == nullptr) return 0;
  const std::lock_guard<std::mutex> lock(shared_->mutex);
  return stream_->changeCount();
}

Error Stream::firstChange() const noexcept {
  if (stream_ == nullptr) return Error{};
  const std::lock_guard<std::mutex> lock(shared_->mutex);
  return firstChangeOf(*stream_);
}

std::vector<Error> Stream::takeChanges() {
  if (stream_ == nullptr) return {};
  const std::lock_guard<std::mutex> lock(shared_->mutex);
  return stream_->takeChanges();
}

const std::vector<Error>& Stream::changeList() const noexcept {
  static const std::vector<Error> kNone;
  return stream_ != nullptr ? stream_->changes() : kNone;
}

unsigned Stream::lineEndingsSeen() const noexcept {
  if (stream_ == nullptr) return 0;
  const std::lock_guard<std::mutex> lock(shared_->mutex);
  return stream_->lineEndingsSeen();
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
  return decode(input, from, Options{}, allocator);
}

std::optional<Text> Text::decode(std::string_view input, Code from, const Options& options,
                                 const Allocator& allocator) {
  if (from == Code::autodetect) from = detect(input, options.detection);
  const ErrorPolicy policy =
      errorPolicyFor(actionOf(options.errors), options.fallback, options.replacement, kCodeUtf16Be);
  Text text(allocator);
  std::uint8_t* block = nullptr;
  std::size_t capacity = 0;
  const std::int64_t size =
      runWhole(findDecoder(static_cast<int>(from)), bytesOf(input), bytesOf(input) + input.size(),
               policy, true, [&](std::size_t bytes) {
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
  const ErrorPolicy policy = errorPolicyFor(actionOf(options.errors), options.fallback,
                                            options.replacement, static_cast<int>(to));
  std::string out;
  const std::int64_t size =
      runWhole(findEncoder(static_cast<int>(to)), buffer_.data, buffer_.data + buffer_.length,
               policy, false, [&out](std::size_t bytes) {
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
