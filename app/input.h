#pragma once

#include <cstddef>
#include <cstdint>

namespace mek {

// Reads from `fd` until `room` bytes have come or the input ends; `got` is
// the number read. False on a read error (errno tells it).
bool readFill(int fd, std::uint8_t* into, std::size_t room, std::size_t& got);

// Moves `fd` back to the start of its file; false for input that cannot be
// positioned (a pipe or a terminal), which can be read only once.
bool rewind(int fd);

// The input of one conversion, which detection may read first. A file is
// read again from its start; what is read from a pipe before replay() is
// kept in an unnamed temporary file (so a pipe of any size needs no more
// memory than a file) and read again from there before the rest of the pipe.
class InputReader {
 public:
  enum class Status { kOk, kRead, kSpool };  // kRead, kSpool: errno tells why

  explicit InputReader(int fd);
  ~InputReader();
  InputReader(const InputReader&) = delete;
  InputReader& operator=(const InputReader&) = delete;

  // Whether the input is a file that can be read from its start again.
  bool seekable() const { return seekable_; }
  // Reads into `into` until `room` bytes have come or the input ends.
  Status fill(std::uint8_t* into, std::size_t room, std::size_t& got);
  // Starts keeping what is read, so that replay() can give it again.
  Status keep();
  // Gives the input again from its start.
  Status replay();

 private:
  int fd_;
  bool seekable_;
  int spool_ = -1;
  bool keeping_ = false;    // what is read goes to the spool too
  bool replaying_ = false;  // what is read comes from the spool first
};

}  // namespace mek
