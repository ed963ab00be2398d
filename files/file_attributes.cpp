#include "files/file_attributes.h"

#include <sys/xattr.h>
#include <unistd.h>

#include <string>
#include <vector>

namespace mek {
namespace {

// The extended attributes of the old file, read through the folder's
// descriptor (an O_PATH descriptor cannot be asked directly), set on `to`.
void copyExtendedAttributes(int folder, const std::string& name, int to) {
  const std::string path = "/proc/self/fd/" + std::to_string(folder) + "/" + name;
  const ssize_t size = llistxattr(path.c_str(), nullptr, 0);
  if (size <= 0) return;
  std::vector<char> names(static_cast<std::size_t>(size));
  const ssize_t got = llistxattr(path.c_str(), names.data(), names.size());
  if (got <= 0) return;
  std::vector<char> value;
  for (std::size_t at = 0; at < static_cast<std::size_t>(got);) {
    const char* key = names.data() + at;
    at += std::char_traits<char>::length(key) + 1;
    const ssize_t length = lgetxattr(path.c_str(), key, nullptr, 0);
    if (length < 0) continue;
    value.resize(static_cast<std::size_t>(length));
    const ssize_t read = lgetxattr(path.c_str(), key, value.data(), value.size());
    if (read < 0) continue;
    (void)fsetxattr(to, key, value.data(), static_cast<std::size_t>(read), 0);
  }
}

}  // namespace

void copyFileAttributes(int folder, const std::string& name, const struct stat& old, int to) {
  // Owner and group first: changing them clears the set-id bits.
  if (fchown(to, old.st_uid, old.st_gid) != 0) {
    (void)!fchown(to, static_cast<uid_t>(-1), old.st_gid);
  }
  copyExtendedAttributes(folder, name, to);
  // An access control list's mask is the group bits: both agree again.
  (void)fchmod(to, old.st_mode & 07777);
}

mode_t newFileMode() {
  const mode_t mask = umask(0);
  umask(mask);
  return 0666 & ~mask;
}

}  // namespace mek
