#include "files/output_target.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <deque>

namespace mek {
namespace {

// Links followed in one path before it is taken for a loop, as the kernel
// counts them.
constexpr int kMaxLinks = 40;

// The components of `path`, in order; empty ones and "." left out.
void pushComponents(const std::string& path, std::deque<std::string>& parts, bool front) {
  std::deque<std::string> found;
  std::size_t at = 0;
  while (at <= path.size()) {
    std::size_t slash = path.find('/', at);
    if (slash == std::string::npos) slash = path.size();
    std::string part = path.substr(at, slash - at);
    if (!part.empty() && part != ".") found.push_back(std::move(part));
    at = slash + 1;
  }
  if (front) {
    parts.insert(parts.begin(), found.begin(), found.end());
  } else {
    parts.insert(parts.end(), found.begin(), found.end());
  }
}

// The protected-symlinks rule for the link `link` found in `folder`.
bool mayFollow(int folder, const struct stat& link) {
  struct stat status;
  if (fstat(folder, &status) != 0) return false;
  const bool shared = (status.st_mode & S_ISVTX) != 0 && (status.st_mode & S_IWOTH) != 0;
  return !shared || link.st_uid == geteuid() || link.st_uid == status.st_uid;
}

void replace(int& fd, int with) {
  if (fd >= 0) close(fd);
  fd = with;
}

}  // namespace

int findOutputTarget(const char* path, OutputTarget& target, std::string& why) {
  const std::string whole = path;
  if (whole.empty()) return ENOENT;
  // A name that ends in '/' can only be a folder, which is no output file.
  if (whole.back() == '/') return EISDIR;
  std::deque<std::string> parts;
  pushComponents(whole, parts, false);
  int folder = open(whole.front() == '/' ? "/" : ".", O_PATH | O_DIRECTORY | O_CLOEXEC);
  if (folder < 0) return errno;
  int links = 0;
  while (!parts.empty()) {
    const std::string name = std::move(parts.front());
    parts.pop_front();
    if (name == "..") {
      const int up = openat(folder, "..", O_PATH | O_DIRECTORY | O_CLOEXEC);
      if (up < 0) {
        const int error = errno;
        close(folder);
        return error;
      }
      replace(folder, up);
      continue;
    }
    const int fd = openat(folder, name.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC);
    struct stat status;
    if (fd < 0 || fstat(fd, &status) != 0) {
      const int error = errno;
      if (fd >= 0) close(fd);
      if (error == ENOENT && parts.empty()) {
        // A new file in an existing folder.
        target.folder = folder;
        target.name = name;
        target.exists = false;
        return 0;
      }
      close(folder);
      return error;
    }
    if (S_ISLNK(status.st_mode)) {
      // The link is checked and read through one descriptor, so the link
      // read is the link checked.
      int error = 0;
      char to[PATH_MAX];
      ssize_t length = -1;
      if (++links > kMaxLinks) {
        error = ELOOP;
      } else if (!mayFollow(folder, status)) {
        error = EPERM;
        why = "refusing to follow a symbolic link another user owns in a shared folder";
      } else {
        length = readlinkat(fd, "", to, sizeof to);
        if (length < 0) error = errno;
        if (length == static_cast<ssize_t>(sizeof to)) error = ENAMETOOLONG;
      }
      close(fd);
      if (error != 0) {
        close(folder);
        return error;
      }
      const std::string link(to, static_cast<std::size_t>(length));
      if (!link.empty() && link.front() == '/') {
        const int root = open("/", O_PATH | O_DIRECTORY | O_CLOEXEC);
        if (root < 0) {
          error = errno;
          close(folder);
          return error;
        }
        replace(folder, root);
      }
      pushComponents(link, parts, true);
      continue;
    }
    if (parts.empty()) {
      close(fd);
      target.folder = folder;
      target.name = name;
      target.exists = true;
      target.status = status;
      return 0;
    }
    if (!S_ISDIR(status.st_mode)) {
      close(fd);
      close(folder);
      return ENOTDIR;
    }
    replace(folder, fd);
  }
  // The path named a folder ("/", ".", "a/..").
  close(folder);
  return EISDIR;
}

bool isMountRoot(int folder, const std::string& name) {
#if defined(STATX_ATTR_MOUNT_ROOT)
  struct statx status;
  if (statx(folder, name.c_str(), AT_SYMLINK_NOFOLLOW, STATX_BASIC_STATS, &status) != 0) {
    return false;
  }
  return (status.stx_attributes_mask & STATX_ATTR_MOUNT_ROOT) != 0 &&
         (status.stx_attributes & STATX_ATTR_MOUNT_ROOT) != 0;
#else
  (void)folder;
  (void)name;
  return false;
#endif
}

}  // namespace mek
