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
// With keepHistory(), everything read from a pipe is kept there to the end,
// so that a failure found at full speed can be placed by reading it again.
class InputReader {
 public:
  enum class Status { kOk, kRead, kSpool };  // kRead, kSpool: errno tells why

  explicit InputReader(int fd);
  ~InputReader();
  InputReader(const InputReader&) = delete;
  InputReader& operator=(const InputReader&) = delete;

  // Whether the input is a file that can be read from its start again.
  bool seekable() const { return seekable_; }
  // Reads into `into` until `room` bytes have come or the input ends; after
  // readSome(), only until anything has come and nothing more is waiting.
  Status fill(std::uint8_t* into, std::size_t room, std::size_t& got);
  // From now on fill() answers with what has come so far: for input that
  // arrives as it is written (a pipe), to be converted at once.
  void readSome();
  // Starts keeping what is read, so that replay() can give it again.
  Status keep();
  // Gives the input again from its start.
  Status replay();
  // For a pipe: keeps all of it, from its start, as it is read (at best:
  // when the temporary file cannot be made or written, nothing is kept).
  // False when nothing is being kept.
  bool keepHistory();
  // A new descriptor of the file that holds all that was read from a pipe
  // under keepHistory(), or -1.
  int history() const;

 private:
  // Appends to the spool what came from the pipe; false when it could not.
  bool append(const std::uint8_t* data, std::size_t size);

  int fd_;
  bool seekable_;
  int spool_ = -1;
  bool keeping_ = false;    // what is read from the pipe goes to the spool too
  bool replaying_ = false;  // what is read comes from the spool first
  bool history_ = false;    // the spool keeps the whole input
  bool some_ = false;       // fill() stops once bytes came and no more wait
  std::uint64_t spool_size_ = 0;
  std::uint64_t spool_read_ = 0;  // where replay() reads the spool
};

}  // namespace mek
