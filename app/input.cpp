#include "app/input.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "files/temporary_file.h"

namespace mek {

namespace {
// What the pipe on standard input may hold: one piece.
constexpr int kPipeSize = 1 << 20;
}  // namespace

bool readFill(int fd, std::uint8_t* into, std::size_t room, std::size_t& got) {
  got = 0;
  while (got < room) {
    const ssize_t n = read(fd, into + got, room - got);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;
    if (n == 0) break;
    got += static_cast<std::size_t>(n);
  }
  return true;
}

// One read that waits for bytes (none when the input has ended), then more
// reads while bytes are already there and room is left; `got` is what came.
// A slow writer's line comes back at once; a fast writer's bytes gather into
// whole pieces instead of one piece for each pipe buffer.
bool readAvailable(int fd, std::uint8_t* into, std::size_t room, std::size_t& got) {
  got = 0;
  for (;;) {
    const ssize_t n = read(fd, into + got, room - got);
    if (n < 0 && errno == EINTR) continue;
    // A failure after some bytes is met again by the next read.
    if (n < 0) return got != 0;
    got += static_cast<std::size_t>(n);
    if (n == 0 || got == room) return true;
    pollfd ready{fd, POLLIN, 0};
    if (poll(&ready, 1, 0) != 1 || (ready.revents & POLLIN) == 0) return true;
  }
}

bool rewind(int fd) {
  return lseek(fd, 0, SEEK_SET) == 0;
}

InputReader::InputReader(int fd) : fd_(fd), seekable_(rewind(fd)) {}

void InputReader::readSome() {
  some_ = true;
  // A larger pipe lets a fast writer get ahead by whole pieces, and each
  // read bring more; a slow writer's lines still come as they are written.
  // Where the pipe cannot grow, it stays as it is.
  (void)fcntl(fd_, F_SETPIPE_SZ, kPipeSize);
}

InputReader::~InputReader() {
  if (spool_ >= 0) close(spool_);
}

InputReader::Status InputReader::keep() {
  if (seekable_) return Status::kOk;
  if (spool_ < 0) spool_ = openUnnamedTemporary();
  if (spool_ < 0) return Status::kSpool;
  keeping_ = true;
  return Status::kOk;
}

InputReader::Status InputReader::replay() {
  if (seekable_) return rewind(fd_) ? Status::kOk : Status::kRead;
  if (spool_ < 0) return Status::kOk;
  keeping_ = history_;
  replaying_ = true;
  spool_read_ = 0;
  return Status::kOk;
}

bool InputReader::keepHistory() {
  if (seekable_) return false;
  // Only what was read before replay(), or nothing, may be in the spool.
  if (spool_ < 0) spool_ = openUnnamedTemporary();
  if (spool_ < 0) return false;
  history_ = true;
  keeping_ = true;
  return true;
}

int InputReader::history() const {
  return history_ && spool_ >= 0 ? dup(spool_) : -1;
}

bool InputReader::append(const std::uint8_t* data, std::size_t size) {
  while (size > 0) {
    const ssize_t n = pwrite(spool_, data, size, static_cast<off_t>(spool_size_));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      if (n == 0) errno = ENOSPC;
      return false;
    }
    data += n;
    size -= static_cast<std::size_t>(n);
    spool_size_ += static_cast<std::uint64_t>(n);
  }
  return true;
}

InputReader::Status InputReader::fill(std::uint8_t* into, std::size_t room, std::size_t& got) {
  got = 0;
  while (replaying_ && got < room) {
    const std::size_t want =
        static_cast<std::size_t>(std::min<std::uint64_t>(room - got, spool_size_ - spool_read_));
    if (want == 0) {
      // The spool is read: the rest comes from the pipe.
      replaying_ = false;
      if (!history_) {
        close(spool_);
        spool_ = -1;
      }
      break;
    }
    const ssize_t n = pread(spool_, into + got, want, static_cast<off_t>(spool_read_));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return Status::kSpool;
    got += static_cast<std::size_t>(n);
    spool_read_ += static_cast<std::uint64_t>(n);
  }
  if (got == room || (some_ && got > 0)) return Status::kOk;
  std::size_t more = 0;
  const bool read = some_ ? readAvailable(fd_, into + got, room - got, more)
                          : readFill(fd_, into + got, room - got, more);
  if (!read) return Status::kRead;
  if (keeping_ && !append(into + got, more)) {
    if (!history_ || replaying_) return Status::kSpool;
    // Only kept to place a failure: a full disk gives that up, not the run.
    keeping_ = false;
    history_ = false;
  }
  got += more;
  return Status::kOk;
}

}  // namespace mek
