#include "app/output.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>

namespace mek {
namespace {

// The folder part of `path` ("." when it has none) and the name part.
std::string folderOf(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

std::string nameOf(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Follows symbolic links from `path` to the file they end at, which may not
// exist yet. Answers `path` itself when the links loop or cannot be read.
std::string followLinks(const std::string& path) {
  std::string current = path;
  for (int hops = 0; hops < 40; ++hops) {
    struct stat status;
    if (lstat(current.c_str(), &status) != 0 || !S_ISLNK(status.st_mode)) return current;
    char link[PATH_MAX];
    const ssize_t length = readlink(current.c_str(), link, sizeof link - 1);
    if (length < 0) return path;
    const std::string to(link, static_cast<std::size_t>(length));
    current = to.front() == '/' ? to : folderOf(current) + "/" + to;
  }
  return path;
}

// The permission bits a new file gets from the process's file mode mask.
mode_t newFileMode() {
  const mode_t mask = umask(0);
  umask(mask);
  return 0666 & ~mask;
}

void closeFd(int& fd) {
  if (fd >= 0) close(fd);
  fd = -1;
}

}  // namespace

Output::Output(const char* path) {
  if (path != nullptr) {
    openNamed(path);
    return;
  }
  struct stat status;
  if (fstat(STDOUT_FILENO, &status) == 0 && S_ISREG(status.st_mode)) {
    // Appending writes at the end, wherever the position says.
    const int flags = fcntl(STDOUT_FILENO, F_GETFL);
    const off_t at =
        flags >= 0 && (flags & O_APPEND) != 0 ? status.st_size : lseek(STDOUT_FILENO, 0, SEEK_CUR);
    if (at >= 0) {
      mode_ = Mode::kStandardFile;
      fd_ = STDOUT_FILENO;
      start_ = at;
      return;
    }
  }
  mode_ = Mode::kHold;
}

void Output::openNamed(const char* path) {
  target_ = followLinks(path);
  struct stat status;
  const bool exists = stat(target_.c_str(), &status) == 0;
  if (exists && !S_ISREG(status.st_mode)) {
    mode_ = Mode::kHold;  // opened when the first byte is written
    return;
  }
  // A file the process may not write stays unwritable, as when it is opened.
  if (exists && access(target_.c_str(), W_OK) != 0) {
    fail(OutputError::kOpen);
    return;
  }
  std::string name = nameOf(target_);
  if (name.size() > 200) name.resize(200);
  temporary_ = folderOf(target_) + "/." + name + ".mek-XXXXXX";
  fd_ = mkstemp(temporary_.data());
  if (fd_ >= 0) {
    mode_ = Mode::kTemporary;
    if (exists) {
      // Owner and group first: changing them may clear the set-id bits.
      if (fchown(fd_, status.st_uid, status.st_gid) != 0) {
        (void)!fchown(fd_, static_cast<uid_t>(-1), status.st_gid);
      }
      fchmod(fd_, status.st_mode & 07777);
    } else {
      fchmod(fd_, newFileMode());
    }
    return;
  }
  temporary_.clear();
  if (!exists) {
    fail(OutputError::kOpen);
    return;
  }
  // No room for a temporary file beside the target: spool elsewhere.
  std::FILE* spool = std::tmpfile();
  if (spool != nullptr) fd_ = dup(fileno(spool));
  if (spool != nullptr) std::fclose(spool);
  mode_ = Mode::kSpool;
  if (fd_ < 0) fail(OutputError::kOpen);
}

Output::~Output() {
  if (!finished_) abandon();
}

void Output::fail(OutputError error) {
  if (error_ == OutputError::kNone) error_ = error;
}

bool Output::writeFd(int fd, const std::uint8_t* data, std::size_t size) {
  while (size > 0) {
    const ssize_t n = ::write(fd, data, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      fail(OutputError::kWrite);
      return false;
    }
    data += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

bool Output::openHeldTarget() {
  if (target_.empty()) {
    fd_ = STDOUT_FILENO;
    return true;
  }
  fd_ = open(target_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
  if (fd_ < 0) fail(OutputError::kOpen);
  return fd_ >= 0;
}

bool Output::flushHeld() {
  if (fd_ < 0 && !openHeldTarget()) return false;
  const bool ok = writeFd(fd_, held_.data(), held_.size());
  held_.clear();
  held_.shrink_to_fit();
  return ok;
}

bool Output::write(const std::uint8_t* data, std::size_t size) {
  if (error_ != OutputError::kNone) return false;
  if (mode_ == Mode::kHold && fd_ < 0) {
    if (held_.size() + size <= kHoldLimit) {
      if (held_.capacity() == 0) held_.reserve(kHoldLimit);
      held_.insert(held_.end(), data, data + size);
      return true;
    }
    if (!flushHeld()) return false;
  }
  if (!writeFd(fd_, data, size)) return false;
  written_ += size;
#if defined(__linux__) && defined(SYNC_FILE_RANGE_WRITE)
  // The final flush waits only for what is still unwritten: writing back
  // starts, without waiting, every few megabytes.
  if (mode_ == Mode::kTemporary && written_ - synced_ >= kWriteBackStep) {
    sync_file_range(fd_, static_cast<off_t>(synced_), static_cast<off_t>(written_ - synced_),
                    SYNC_FILE_RANGE_WRITE);
    synced_ = written_;
  }
#endif
  return true;
}

bool Output::copySpool() {
  const int spool = fd_;
  fd_ = -1;
  bool ok = lseek(spool, 0, SEEK_SET) == 0 && openHeldTarget();
  std::vector<std::uint8_t> chunk(std::size_t{1} << 20);
  while (ok) {
    const ssize_t n = read(spool, chunk.data(), chunk.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      ok = n == 0;
      break;
    }
    ok = writeFd(fd_, chunk.data(), static_cast<std::size_t>(n));
  }
  close(spool);
  return ok;
}

bool Output::commit() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (finished_) return error_ == OutputError::kNone;
  finished_ = true;
  bool ok = error_ == OutputError::kNone;
  switch (mode_) {
    case Mode::kTemporary:
      ok = ok && fdatasync(fd_) == 0;
      if (close(fd_) != 0) ok = false;
      fd_ = -1;
      if (ok && rename(temporary_.c_str(), target_.c_str()) != 0) {
        fail(OutputError::kOpen);  // the target's name cannot be taken
        ok = false;
      }
      if (!ok) unlink(temporary_.c_str());
      break;
    case Mode::kSpool:
      ok = ok && copySpool();
      break;
    case Mode::kHold:
      if (ok && fd_ < 0) ok = flushHeld();
      break;
    case Mode::kStandardFile:
      if (!ok) cutBack();
      break;
  }
  if (fd_ != STDOUT_FILENO && fd_ >= 0 && close(fd_) != 0) ok = false;
  fd_ = -1;
  if (!ok) fail(OutputError::kWrite);
  return ok;
}

void Output::abandon() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (finished_) return;
  finished_ = true;
  held_.clear();
  switch (mode_) {
    case Mode::kTemporary:
      unlink(temporary_.c_str());
      break;
    case Mode::kStandardFile:
      cutBack();
      return;
    default:
      break;
  }
  if (fd_ != STDOUT_FILENO) closeFd(fd_);
}

void Output::cutBack() {
  if (ftruncate(fd_, start_) == 0) lseek(fd_, start_, SEEK_SET);
}

}  // namespace mek
