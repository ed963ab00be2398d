#include "files/output.h"

#include <fcntl.h>
#include <sys/random.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <new>

#include "files/file_attributes.h"
#include "files/output_target.h"
#include "files/quoting.h"
#include "files/temporary_file.h"

namespace mek {
namespace {

bool sameFile(const struct stat& a, const struct stat& b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// The standard stream (1 or 2) that `path` names, as /dev/stdout or
// /proc/self/fd/1 do, or -1.
int standardStreamNamed(const char* path) {
  struct stat named;
  if (stat(path, &named) != 0) return -1;
  for (int fd : {STDOUT_FILENO, STDERR_FILENO}) {
    struct stat stream;
    if (fstat(fd, &stream) == 0 && sameFile(named, stream)) return fd;
  }
  return -1;
}

// A name for a temporary file beside `name`: ".NAME.mek-XXXXXX".
std::string temporaryName(const std::string& name) {
  static constexpr char kLetters[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
  std::string temporary(1, '.');
  temporary.append(name, 0, 200);
  temporary.append(".mek-");
  unsigned char random[6];
  if (getrandom(random, sizeof random, 0) != static_cast<ssize_t>(sizeof random)) {
    for (unsigned char& byte : random) byte = static_cast<unsigned char>(std::rand());
  }
  for (unsigned char byte : random) temporary += kLetters[byte % (sizeof kLetters - 1)];
  return temporary;
}

// Makes a temporary file in `folder` for `name`, readable and writable by
// the owner only until it is complete: an unnamed one where the file system
// has them (it vanishes with the process, however that ends, and gets a
// name only to be renamed over the target), else ".NAME.mek-XXXXXX"
// (`temporary`).
int makeTemporary(int folder, const std::string& name, std::string& temporary) {
  temporary.clear();
#ifdef O_TMPFILE
  const int unnamed = openat(folder, ".", O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
  if (unnamed >= 0 || (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL)) return unnamed;
#endif
  for (int attempt = 0; attempt < 100; ++attempt) {
    temporary = temporaryName(name);
    const int fd = openat(folder, temporary.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd >= 0 || errno != EEXIST) return fd;
  }
  errno = EEXIST;
  return -1;
}

// Gives the unnamed file `fd` a temporary name in `folder` beside `name`:
// through /proc/self/fd, or with AT_EMPTY_PATH where that is allowed.
bool nameTemporary(int fd, int folder, const std::string& name, std::string& temporary) {
  const std::string self = "/proc/self/fd/" + std::to_string(fd);
  for (int attempt = 0; attempt < 100; ++attempt) {
    temporary = temporaryName(name);
    if (linkat(AT_FDCWD, self.c_str(), folder, temporary.c_str(), AT_SYMLINK_FOLLOW) == 0) {
      return true;
    }
    if (errno == ENOENT && linkat(fd, "", folder, temporary.c_str(), AT_EMPTY_PATH) == 0) {
      return true;
    }
    if (errno != EEXIST) break;
  }
  temporary.clear();
  return false;
}

// Writes all of [data, data + size) to `fd`: 0, or the error that stopped
// it (ENOSPC for a write that took nothing).
int writeAll(int fd, const std::uint8_t* data, std::size_t size) {
  while (size > 0) {
    const ssize_t n = ::write(fd, data, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return n < 0 ? errno : ENOSPC;
    data += n;
    size -= static_cast<std::size_t>(n);
  }
  return 0;
}

void closeFd(int& fd) {
  if (fd >= 0) close(fd);
  fd = -1;
}

}  // namespace

Output::Output(const char* path, OutputWatcher* guard)
    : guard_(guard), name_(path != nullptr ? path : "") {
  if (guard_ != nullptr) guard_->attach(this);
  {
    std::lock_guard<std::mutex> lock(mutex_);
    const int stream = path != nullptr ? standardStreamNamed(path) : STDOUT_FILENO;
    if (stream >= 0) {
      openStream(stream);
    } else {
      openNamed(path);
    }
  }
  if (mode_ == Mode::kTemporary) testSignal("temporary");
}

void Output::testSignal(const char* point) {
  if (guard_ != nullptr) guard_->testSignal(point);
}

void Output::openStream(int fd) {
  fd_ = fd;
  struct stat status;
  if (fstat(fd, &status) == 0 && S_ISREG(status.st_mode)) {
    // Appending writes at the end, wherever the position says.
    const int flags = fcntl(fd, F_GETFL);
    const bool append = flags >= 0 && (flags & O_APPEND) != 0;
    const off_t at = append ? status.st_size : lseek(fd, 0, SEEK_CUR);
    if (at >= 0) {
      start_ = at;
      mode_ = at >= status.st_size ? Mode::kStandardFile : Mode::kHeldFile;
      return;
    }
  }
  mode_ = Mode::kHold;
}

void Output::openNamed(const char* path) {
  OutputTarget target;
  std::string why;
  const int error = findOutputTarget(path, target, why);
  if (error != 0) {
    failOpen(error, why);
    return;
  }
  folder_ = target.folder;
  target_ = target.name;
  if (target.exists && S_ISDIR(target.status.st_mode)) {
    failOpen(EISDIR);
    return;
  }
  if (target.exists && !S_ISREG(target.status.st_mode)) {
    mode_ = Mode::kHold;  // a device or FIFO, opened when the first byte is written
    return;
  }
  if (target.exists) {
    // A file the process may not write stays unwritable.
    if (faccessat(folder_, target_.c_str(), W_OK, AT_EACCESS) != 0) {
      failOpen(errno);
      return;
    }
    if (isMountRoot(folder_, target_)) {
      failOpen(EBUSY, "it cannot be replaced");
      return;
    }
    replaces_ = true;
    old_ = target.status;
  }
  fd_ = makeTemporary(folder_, target_, temporary_);
  if (fd_ < 0) {
    // Writing the file in place could leave it half written: refused.
    failOpen(errno, replaces_ ? "its folder cannot hold a temporary file" : "");
    return;
  }
  own_fd_ = true;
  mode_ = Mode::kTemporary;
}

void Output::releaseReplacedPages(int input) const {
  if (!replaces_ || old_.st_nlink > 1) return;
  struct stat in;
  if (input >= 0 && fstat(input, &in) == 0 && sameFile(in, old_)) return;
  // Only the file that was found is opened and advised: not one put in its
  // place meanwhile (non-blocking, should a FIFO be put there after all).
  struct stat there;
  if (fstatat(folder_, target_.c_str(), &there, AT_SYMLINK_NOFOLLOW) != 0 ||
      !S_ISREG(there.st_mode) || !sameFile(there, old_)) {
    return;
  }
  const int fd = openat(folder_, target_.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return;
  struct stat now;
  if (fstat(fd, &now) == 0 && sameFile(now, old_)) {
    (void)posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED);
  }
  close(fd);
}

Output::~Output() {
  if (guard_ != nullptr) guard_->detach(this);
  abandon();
  if (own_fd_) closeFd(fd_);
  closeFd(spool_);
  closeFd(folder_);
}

void Output::failOpen(int error, const std::string& why) {
  if (error_ != OutputError::kNone) return;
  error_ = OutputError::kOpen;
  message_ = "cannot open output file '" + name_ + "': ";
  if (error == EPERM && !why.empty()) {
    message_ += why;
  } else {
    message_ += std::strerror(error);
    if (!why.empty()) message_ += " (" + why + ")";
  }
}

bool Output::failWrite(int error) {
  if (error_ != OutputError::kNone) return false;
  error_ = OutputError::kWrite;
  system_error_ = error;
  message_ = "cannot write output file";
  if (!name_.empty()) {
    message_ += ' ';
    message_ += quotedName(name_);
  }
  message_ += ": ";
  message_ += std::strerror(error);
  return false;
}

bool Output::failTemporary(int error) {
  if (error_ != OutputError::kNone) return false;
  error_ = OutputError::kWrite;
  system_error_ = error;
  message_ = temporaryFailure(error);
  return false;
}

bool Output::writeSpool(const std::uint8_t* data, std::size_t size) {
  const int error = writeAll(spool_, data, size);
  return error == 0 || failTemporary(error);
}

bool Output::failNoMemory() {
  if (error_ == OutputError::kNone) {
    error_ = OutputError::kNoMemory;
    message_ = "cannot allocate enough memory";
  }
  return false;
}

bool Output::writeFd(int fd, const std::uint8_t* data, std::size_t size) {
  const int error = writeAll(fd, data, size);
  return error == 0 || failWrite(error);
}

bool Output::openHeldTarget() {
  if (fd_ >= 0) return true;
  fd_ = openat(folder_, target_.c_str(), O_WRONLY | O_NOFOLLOW | O_CLOEXEC);
  if (fd_ < 0) {
    failOpen(errno);
    return false;
  }
  own_fd_ = true;
  return true;
}

bool Output::spill() {
  spilled_ = true;
  if (mode_ == Mode::kHeldFile) {
    spool_ = openUnnamedTemporary();
    if (spool_ < 0) return failTemporary(errno);
  } else if (!openHeldTarget()) {
    return false;
  }
  const bool ok = mode_ == Mode::kHeldFile ? writeSpool(held_.data(), held_.size())
                                           : writeFd(fd_, held_.data(), held_.size());
  held_.clear();
  held_.shrink_to_fit();
  return ok;
}

void Output::writeAsItComes() {
  as_it_comes_ = mode_ == Mode::kHold;
}

bool Output::hold(const std::uint8_t* data, std::size_t size) {
  if (!spilled_) {
    if (!as_it_comes_ && held_.size() + size <= kHoldLimit) {
      // Grown as the text comes, never beyond the limit.
      try {
        if (held_.size() + size > held_.capacity()) {
          held_.reserve(std::min(kHoldLimit, std::max(held_.size() + size, 2 * held_.capacity())));
        }
        held_.insert(held_.end(), data, data + size);
      } catch (const std::bad_alloc&) {
        return failNoMemory();
      }
      return true;
    }
    if (!spill()) return false;
  }
  return mode_ == Mode::kHeldFile ? writeSpool(data, size) : writeFd(fd_, data, size);
}

bool Output::write(const std::uint8_t* data, std::size_t size) {
  if (error_ != OutputError::kNone) return false;
  if (first_write_) {
    first_write_ = false;
    testSignal("write");
  }
  switch (mode_) {
    case Mode::kTemporary:
      break;
    case Mode::kStandardFile: {
      std::lock_guard<std::mutex> lock(mutex_);
      return !stopped_ && writeFd(fd_, data, size);
    }
    case Mode::kHeldFile:
    case Mode::kHold:
      return hold(data, size);
  }
  if (!writeFd(fd_, data, size)) return false;
  written_ += size;
#if defined(__linux__) && defined(SYNC_FILE_RANGE_WRITE)
  // The final flush waits only for what is still unwritten: writing back
  // starts, without waiting, every few megabytes.
  if (written_ - synced_ >= kWriteBackStep) {
    sync_file_range(fd_, static_cast<off_t>(synced_), static_cast<off_t>(written_ - synced_),
                    SYNC_FILE_RANGE_WRITE);
    synced_ = written_;
  }
#endif
  return true;
}

// Before a held text is written over the old bytes: the process's limit on
// file sizes, and room on the disk for `size` bytes from where the text goes
// (reserved where the file system can), so that a full disk or the limit
// fails the run while every old byte is still there.
bool Output::reserveHeld(std::uint64_t size) {
  struct rlimit limit;
  if (getrlimit(RLIMIT_FSIZE, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY &&
      static_cast<std::uint64_t>(start_) + size > limit.rlim_cur) {
    return failWrite(EFBIG);
  }
  if (size == 0) return true;
  if (fallocate(fd_, FALLOC_FL_KEEP_SIZE, start_, static_cast<off_t>(size)) != 0 &&
      errno != EOPNOTSUPP && errno != ENOSYS) {
    return failWrite(errno);
  }
  return true;
}

bool Output::writeHeld() {
  if (!spilled_) return reserveHeld(held_.size()) && writeFd(fd_, held_.data(), held_.size());
  const off_t spooled = lseek(spool_, 0, SEEK_END);
  if (spooled < 0) return failWrite(errno);
  if (!reserveHeld(static_cast<std::uint64_t>(spooled))) return false;
  if (lseek(spool_, 0, SEEK_SET) != 0) return failWrite(errno);
  std::vector<std::uint8_t> chunk;
  try {
    chunk.resize(std::size_t{1} << 20);
  } catch (const std::bad_alloc&) {
    return failNoMemory();
  }
  for (;;) {
    const ssize_t n = read(spool_, chunk.data(), chunk.size());
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return failWrite(errno);
    if (n == 0) return true;
    if (!writeFd(fd_, chunk.data(), static_cast<std::size_t>(n))) return false;
  }
}

// The text is written; the new file gets the old one's attributes only now,
// since writing clears set-id bits, and is flushed with them before it takes
// the target's name.
bool Output::replaceTarget() {
  if (replaces_) {
    copyFileAttributes(folder_, target_, old_, fd_);
  } else {
    (void)fchmod(fd_, newFileMode());
  }
  if (fsync(fd_) != 0) return failWrite(errno);
  if (temporary_.empty() && !nameTemporary(fd_, folder_, target_, temporary_)) {
    return failWrite(errno);
  }
  testSignal("commit");
  const int fd = fd_;
  fd_ = -1;
  own_fd_ = false;
  if (close(fd) != 0) return failWrite(errno);
  if (renameat(folder_, temporary_.c_str(), folder_, target_.c_str()) != 0) {
    failOpen(errno, "it cannot be replaced");
    return false;
  }
  // The rename itself reaches the disk with the folder.
  const int folder = openat(folder_, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (folder >= 0) {
    (void)fsync(folder);
    close(folder);
  }
  return true;
}

bool Output::commit() {
  // What is held for a pipe or terminal is written without the lock: a
  // signal must not wait for a write that may never end.
  std::unique_lock<std::mutex> lock(mutex_);
  if (finished_) return committed_ && error_ == OutputError::kNone;
  finished_ = true;
  bool ok = error_ == OutputError::kNone;
  if (mode_ == Mode::kHold) lock.unlock();
  switch (mode_) {
    case Mode::kTemporary:
      ok = ok && replaceTarget();
      if (!ok && !temporary_.empty()) unlinkat(folder_, temporary_.c_str(), 0);
      break;
    case Mode::kStandardFile:
      if (!ok) cutBack();
      break;
    case Mode::kHeldFile:
      ok = ok && writeHeld();
      break;
    case Mode::kHold:
      ok = ok && (spilled_ || (openHeldTarget() && writeFd(fd_, held_.data(), held_.size())));
      break;
  }
  committed_ = ok;
  return ok;
}

void Output::drop() {
  if (finished_) return;
  finished_ = true;
  stopped_ = true;
  if (mode_ == Mode::kTemporary) {
    if (!temporary_.empty()) unlinkat(folder_, temporary_.c_str(), 0);
  } else if (mode_ == Mode::kStandardFile) {
    cutBack();
  }
}

void Output::cutBack() {
  if (ftruncate(fd_, start_) == 0) lseek(fd_, start_, SEEK_SET);
}

void Output::abandon() {
  std::lock_guard<std::mutex> lock(mutex_);
  drop();
}

bool Output::interrupt() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (mode_ != Mode::kHold) drop();
  return committed_;
}

}  // namespace mek
