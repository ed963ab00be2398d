#include "files/temporary_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>

#include "files/quoting.h"

namespace mek {

namespace {

const char* temporaryFolder() {
  const char* folder = std::getenv("TMPDIR");
  return folder == nullptr || *folder == '\0' ? "/tmp" : folder;
}

}  // namespace

std::string temporaryFailure(int error) {
  std::string message = "cannot write temporary file in ";
  message += quotedName(temporaryFolder());
  message += ": ";
  message += std::strerror(error);
  return message;
}

int openUnnamedTemporary() {
  const char* folder = temporaryFolder();
#ifdef O_TMPFILE
  const int fd = open(folder, O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
  if (fd >= 0 || (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL)) return fd;
#endif
  // A file system without unnamed files: a named one, removed at once.
  std::string path = std::string(folder) + "/.mek-XXXXXX";
  const int spool = mkostemp(path.data(), O_CLOEXEC);
  if (spool >= 0) unlink(path.c_str());
  return spool;
}

}  // namespace mek
