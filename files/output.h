#pragma once

#include <sys/stat.h>
#include <sys/types.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

namespace mek {

class Output;

// Told of an output while it lives, so that something outside it (the
// tool's signal handling) can stop it; and asked at the named points of
// opening, writing and committing, so that tests can interrupt it there.
class OutputWatcher {
 public:
  virtual void attach(Output* output) = 0;
  virtual void detach(const Output* output) = 0;
  virtual void testSignal(const char* point) = 0;

 protected:
  ~OutputWatcher() = default;
};

// Why the output could not take the converted text.
enum class OutputError { kNone, kOpen, kWrite, kNoMemory };

// Where the converted text goes, chosen so that a failed or interrupted run
// never damages what was there before:
// - a named regular file, or a new path, is written to a temporary file in
//   the same folder, flushed to disk and renamed over the target by commit();
//   the new file gets the old one's extended attributes, owner and group
//   (where the process may set them) and permission bits, set-id bits
//   included. A symbolic link keeps pointing to the file it named, which is
//   replaced. Other hard links of the target keep the old text: the new file
//   is a new inode under the one name given. A target beside which no
//   temporary file can be made, or that cannot be renamed over (a bind
//   mount), is refused before anything is written;
// - standard output, or a name for it (/dev/stdout), that is a regular file
//   is written as the text comes and cut back to where it started when the
//   run fails; when bytes follow its position (opened with 1<>), the text is
//   held instead (in memory up to kHoldLimit, beyond that in an unnamed
//   temporary file) and written by commit(), so that a failure changes no
//   byte of it;
// - anything else (a terminal, a pipe, /dev/null, a FIFO) gets the text held
//   in memory up to kHoldLimit bytes and written by commit(); beyond that it
//   is written as it comes, so that a failure after that point leaves what
//   was written.
// The first error stops the output: write() answers false from then on, so
// the conversion stops too, and message() tells the error.
class Output {
 public:
  static constexpr std::size_t kHoldLimit = std::size_t{16} << 20;

  // `path` null means standard output. A path that names no regular file is
  // opened only when the first byte must be written. `guard`, when given, is
  // told of this output before anything is created, so that a signal from
  // then on removes what is.
  explicit Output(const char* path, OutputWatcher* guard = nullptr);
  ~Output();
  Output(const Output&) = delete;
  Output& operator=(const Output&) = delete;

  // Takes the next bytes; false once an error is kept or the output was
  // interrupted (later bytes are dropped). Called by one thread at a time.
  bool write(const std::uint8_t* data, std::size_t size);
  // Makes the whole text the output: renames the temporary file over the
  // target, or writes what is held. False on an error.
  bool commit();
  // Drops everything written by this run: removes the temporary file, cuts
  // standard output back. After commit() it does nothing.
  void abandon();

  // A named target that this run replaces: its cached pages are given back
  // before the new text is written, so that the new file's pages reuse them
  // instead of taking memory that has lain unused. The old text stays on
  // disk until the rename. Does nothing when `input` is the target itself,
  // or the target has other names.
  void releaseReplacedPages(int input) const;

  // For a pipe or terminal: the text is written as it comes instead of
  // held, so that a reader sees each piece at once (a later failure cannot
  // take back what was written). Does nothing for a file.
  void writeAsItComes();
  // For a signal's thread, while another thread may be writing: stops the
  // output and drops what this run wrote, as abandon() does, unless a commit
  // has made the text whole (one under way is waited for). Answers whether
  // the text was committed. Writes to a pipe or terminal, which may never
  // end, are never waited for: nothing can be taken back from them anyway.
  bool interrupt();

  OutputError error() const { return error_; }
  // The message for error(), without its newline.
  const std::string& message() const { return message_; }
  // The system's error number behind a write error (EPIPE: the reader of a
  // pipe has gone), or 0.
  int systemError() const { return system_error_; }

 private:
  enum class Mode {
    kTemporary,     // a temporary file renamed over the target
    kStandardFile,  // a regular file written at its end, cut back on failure
    kHeldFile,      // a regular file with bytes after its position: held
    kHold,          // no regular file: held up to kHoldLimit, then direct
  };

  void openNamed(const char* path);
  void testSignal(const char* point);
  void openStream(int fd);
  bool writeFd(int fd, const std::uint8_t* data, std::size_t size);
  bool hold(const std::uint8_t* data, std::size_t size);
  bool spill();
  bool openHeldTarget();
  bool reserveHeld(std::uint64_t size);
  bool writeHeld();
  bool replaceTarget();
  void drop();     // abandon() and interrupt() under the lock
  void cutBack();  // a standard file back to where it started
  void failOpen(int error, const std::string& why = {});
  bool failWrite(int error);
  bool failTemporary(int error);
  bool writeSpool(const std::uint8_t* data, std::size_t size);
  bool failNoMemory();

  OutputWatcher* guard_ = nullptr;
  Mode mode_ = Mode::kHold;  // set once, under mutex_, while opening
  OutputError error_ = OutputError::kNone;
  int system_error_ = 0;
  std::string message_;
  std::string name_;  // as given; empty for standard output
  // A named target: its folder (an O_PATH descriptor), its name there, the
  // temporary file's name beside it, and the old file's status.
  int folder_ = -1;
  std::string target_;
  std::string temporary_;
  bool replaces_ = false;
  struct stat old_ {};
  int fd_ = -1;  // where bytes go now; -1 while held or not yet opened
  bool own_fd_ = false;
  int spool_ = -1;   // the unnamed temporary file of kHeldFile beyond kHoldLimit
  off_t start_ = 0;  // where a standard stream started
  std::vector<std::uint8_t> held_;
  bool spilled_ = false;  // beyond kHoldLimit
  bool as_it_comes_ = false;
  bool first_write_ = true;
  std::uint64_t written_ = 0;  // bytes written to `fd_`
  // Bytes whose writing back has been started (where the system can be
  // asked to start it).
  [[maybe_unused]] std::uint64_t synced_ = 0;
  static constexpr std::uint64_t kWriteBackStep = std::uint64_t{8} << 20;

  // Opening, a commit, abandon() and interrupt() exclude one another; so do
  // writes to a standard file and interrupt(), which cuts it back. Nothing
  // that writes to a pipe or terminal holds it.
  std::mutex mutex_;
  bool finished_ = false;  // committed, abandoned or interrupted
  bool stopped_ = false;   // interrupted: write() writes nothing more
  std::atomic<bool> committed_{false};
};

}  // namespace mek
