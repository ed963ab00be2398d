#include "app/input.h"

#include <unistd.h>

#include <cerrno>
#include <new>

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

bool readAll(int fd, std::vector<std::uint8_t>& bytes, bool& noMemory) {
  noMemory = false;
  std::size_t size = 0;
  try {
    bytes.resize(std::size_t{1} << 16);
    for (;;) {
      std::size_t got = 0;
      if (!readFill(fd, bytes.data() + size, bytes.size() - size, got)) {
        bytes.clear();
        return false;
      }
      size += got;
      if (size < bytes.size()) break;
      bytes.resize(bytes.size() * 2);
    }
  } catch (const std::bad_alloc&) {
    bytes.clear();
    noMemory = true;
    return false;
  }
  bytes.resize(size);
  return true;
}

}  // namespace mek
