// mek::Stream: the engine's conversion stream behind a lock, with the
// layer's types.

#include <mutex>
#include <utility>

#include "layer/engine.h"
#include "mek/codes.h"
#include "mek/mek.h"

namespace mek {

struct Stream::Shared {
  std::mutex mutex;
  std::string output;  // kept when the stream has no writer
};

namespace {

// The engine's options for a stream run with `settings`.
ConversionStream::Options engineOptions(const Options& options, const StreamSettings& settings) {
  ConversionStream::Options given = locating(options);
  if (settings.piece_size != 0) given.piece_size = settings.piece_size;
  given.worker = settings.threads;
  given.locate = settings.locate;
  given.changes_listed = settings.changes_listed;
  given.fused = settings.fused;
  return given;
}

}  // namespace

Stream::Stream(Code from, Code to, LineEnding eol, Writer writer, const Options& options,
               const StreamSettings& settings)
    : shared_(std::make_unique<Shared>()),
      stream_(std::make_unique<ConversionStream>(
          from, to, eol,
          [writer = std::move(writer)](const std::uint8_t* data, std::size_t size) {
            return writer(std::string_view(reinterpret_cast<const char*>(data), size));
          },
          engineOptions(options, settings))) {}

Stream::Stream(Code from, Code to, LineEnding eol, const Options& options,
               const StreamSettings& settings)
    : shared_(std::make_unique<Shared>()) {
  // The writer keeps the output; it runs inside the calls that hold the lock,
  // on the caller's thread.
  ConversionStream::Options given = engineOptions(options, settings);
  given.worker = false;
  Shared* shared = shared_.get();
  stream_ = std::make_unique<ConversionStream>(
      from, to, eol,
      [shared](const std::uint8_t* data, std::size_t size) {
        shared->output.append(reinterpret_cast<const char*>(data), size);
        return true;
      },
      given);
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
  return stream_->error();
}

std::uint64_t Stream::changeCount() const noexcept {
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

const std::vector<Error>& Stream::changes() const noexcept {
  static const std::vector<Error> kNone;
  return stream_ != nullptr ? stream_->changes() : kNone;
}

unsigned Stream::lineEndingsSeen() const noexcept {
  if (stream_ == nullptr) return 0;
  const std::lock_guard<std::mutex> lock(shared_->mutex);
  return stream_->lineEndingsSeen();
}

std::vector<Repair> Stream::repairs() const {
  if (stream_ == nullptr) return {};
  const std::lock_guard<std::mutex> lock(shared_->mutex);
  std::vector<Repair> repairs;
  for (const RepairedStretch& stretch : stream_->repairs()) {
    repairs.push_back(
        {stretch.chain, static_cast<std::size_t>(stretch.start),
         static_cast<std::size_t>(stretch.end), static_cast<std::size_t>(stretch.first_line),
         static_cast<std::size_t>(stretch.lost), static_cast<std::size_t>(stretch.last_line)});
  }
  return repairs;
}

}  // namespace mek
