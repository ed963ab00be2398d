#include "app/input.h"

#include <unistd.h>

#include <cerrno>

#include "files/temporary_file.h"

namespace mek {

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

bool rewind(int fd) {
  return lseek(fd, 0, SEEK_SET) == 0;
}

namespace {

bool writeAll(int fd, const std::uint8_t* data, std::size_t size) {
  while (size > 0) {
    const ssize_t n = write(fd, data, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      if (n == 0) errno = ENOSPC;
      return false;
    }
    data += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

}  // namespace

InputReader::InputReader(int fd) : fd_(fd), seekable_(rewind(fd)) {}

InputReader::~InputReader() {
  if (spool_ >= 0) close(spool_);
}

InputReader::Status InputReader::keep() {
  if (seekable_) return Status::kOk;
  spool_ = openUnnamedTemporary();
  if (spool_ < 0) return Status::kSpool;
  keeping_ = true;
  return Status::kOk;
}

InputReader::Status InputReader::replay() {
  if (seekable_) return rewind(fd_) ? Status::kOk : Status::kRead;
  if (spool_ < 0) return Status::kOk;
  keeping_ = false;
  replaying_ = true;
  return lseek(spool_, 0, SEEK_SET) == 0 ? Status::kOk : Status::kSpool;
}

InputReader::Status InputReader::fill(std::uint8_t* into, std::size_t room, std::size_t& got) {
  got = 0;
  if (replaying_) {
    if (!readFill(spool_, into, room, got)) return Status::kSpool;
    if (got == room) return Status::kOk;
    // The spool is read: the rest comes from the pipe.
    replaying_ = false;
    close(spool_);
    spool_ = -1;
  }
  std::size_t more = 0;
  if (!readFill(fd_, into + got, room - got, more)) return Status::kRead;
  if (keeping_ && !writeAll(spool_, into + got, more)) return Status::kSpool;
  got += more;
  return Status::kOk;
}

}  // namespace mek
