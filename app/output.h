#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

namespace mek {

// Why the output could not take the converted text.
enum class OutputError { kNone, kOpen, kWrite };

// Where the converted text goes, chosen so that a failed or interrupted run
// never damages what was there before:
// - a named regular file, or a new path, is written to a temporary file in
//   the same folder, flushed to disk and renamed over the target by commit();
//   the target keeps its permission bits (owner and group where the process
//   may set them). A symbolic link keeps pointing to the file it named, which
//   is replaced. Other hard links of the target keep the old text: the new
//   file is a new inode under the one name given;
// - a regular file in a folder where no temporary file can be made is spooled
//   to an anonymous temporary file and copied over the target by commit();
// - anything else (a terminal, a pipe, /dev/null, a FIFO) and standard output
//   that is no regular file gets the text held in memory up to kHoldLimit
//   bytes and written by commit(); beyond that it is written as it comes, so
//   that a failure after that point leaves what was written;
// - standard output that is a regular file is written as the text comes and
//   cut back to where it started when the run fails.
// Errors are kept rather than reported: the caller finishes the conversion,
// whose own failure comes first, and then asks error().
class Output {
 public:
  static constexpr std::size_t kHoldLimit = std::size_t{16} << 20;

  // `path` null means standard output. Nothing is created or opened for a
  // path that names no regular file until the first byte must be written.
  explicit Output(const char* path);
  ~Output();
  Output(const Output&) = delete;
  Output& operator=(const Output&) = delete;

  // Takes the next bytes; false once an error is kept (later bytes are
  // dropped).
  bool write(const std::uint8_t* data, std::size_t size);
  // Makes the whole text the output: renames the temporary file over the
  // target, copies the spool, or writes what is held. False on an error.
  bool commit();
  // Drops everything written by this run: removes the temporary file, cuts
  // standard output back, forgets what is held. May be called from another
  // thread while the run writes (a signal's); after commit() it does nothing.
  void abandon();

  OutputError error() const { return error_; }

 private:
  enum class Mode { kTemporary, kSpool, kHold, kStandardFile };

  void openNamed(const char* path);
  bool writeFd(int fd, const std::uint8_t* data, std::size_t size);
  bool openHeldTarget();
  bool flushHeld();
  bool copySpool();
  void fail(OutputError error);
  void cutBack();  // standard output back to where it started

  Mode mode_ = Mode::kHold;
  OutputError error_ = OutputError::kNone;
  std::string target_;     // the file replaced or opened; empty: standard output
  std::string temporary_;  // the temporary file beside the target
  int fd_ = -1;            // where bytes go now; -1 while held
  off_t start_ = 0;        // where standard output started
  std::vector<std::uint8_t> held_;
  std::uint64_t written_ = 0;  // bytes written to `fd_`
  std::uint64_t synced_ = 0;   // bytes whose writing back has been started
  static constexpr std::uint64_t kWriteBackStep = std::uint64_t{8} << 20;
  bool finished_ = false;  // committed or abandoned
  std::mutex mutex_;       // commit() against abandon() from another thread
};

}  // namespace mek
