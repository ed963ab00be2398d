#include "app/input.h"

#include <cstdlib>

#include "convert/area.h"

#if defined(__unix__)
#include <sys/mman.h>
#include <sys/stat.h>
#endif

namespace mek {
namespace {

constexpr std::size_t kMaxInput = 0x7FFFFFFF;  // sizes are signed 32-bit counts

// Maps the first `size` bytes of a regular file; false when the input is no
// regular file or cannot be mapped, so that it is read instead. A file that
// is shorter than `size` by now is read too, which converts what is left.
bool mapFile(std::FILE* input, std::size_t size, InputBytes& bytes) {
#if defined(__unix__) && defined(MAP_POPULATE)
  if (size == 0) return false;
  const int fd = fileno(input);
  struct stat status;
  if (fd < 0 || fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) return false;
  // Every page is wanted at once, so they are all mapped in one go.
  void* area = mmap(nullptr, size, PROT_READ, MAP_PRIVATE | MAP_POPULATE, fd, 0);
  if (area == MAP_FAILED) return false;
  if (fstat(fd, &status) != 0 || static_cast<std::size_t>(status.st_size) < size) {
    munmap(area, size);
    return false;
  }
  bytes.data = static_cast<std::uint8_t*>(area);
  bytes.size = size;
  bytes.mapped = true;
  return true;
#else
  (void)input;
  (void)size;
  (void)bytes;
  return false;
#endif
}

}  // namespace

void InputBytes::release(const std::uint8_t* area) const {
#if defined(__unix__)
  if (mapped && area == data && area != nullptr) {
    munmap(const_cast<std::uint8_t*>(area), size);
    return;
  }
#endif
  std::free(const_cast<std::uint8_t*>(area));
}

ReadResult readInput(std::FILE* input, InputBytes& bytes) {
  std::size_t capacity = 1 << 16;
  if (std::fseek(input, 0, SEEK_END) == 0) {
    long end = std::ftell(input);
    std::fseek(input, 0, SEEK_SET);
    if (end >= 0) {
      if (static_cast<unsigned long>(end) > kMaxInput) {
        // A directory reports a huge size but cannot be read at all.
        return std::fgetc(input) == EOF && std::ferror(input) ? ReadResult::kReadError
                                                              : ReadResult::kTooLarge;
      }
      if (mapFile(input, static_cast<std::size_t>(end), bytes)) return ReadResult::kOk;
      capacity = static_cast<std::size_t>(end) + 1;
    }
  }
  std::uint8_t*& data = bytes.data;
  std::size_t& size = bytes.size;
  data = allocateArea(capacity);
  if (data == nullptr) return ReadResult::kNoMemory;
  size = 0;
  for (;;) {
    size += std::fread(data + size, 1, capacity - size, input);
    if (size < capacity) break;  // end of input or error
    if (capacity > kMaxInput) return ReadResult::kTooLarge;
    std::size_t grown = capacity * 2;
    auto* bigger = static_cast<std::uint8_t*>(std::realloc(data, grown));
    if (bigger == nullptr) return ReadResult::kNoMemory;
    data = bigger;
    capacity = grown;
  }
  if (std::ferror(input)) return ReadResult::kReadError;
  if (size > kMaxInput) return ReadResult::kTooLarge;
  return ReadResult::kOk;
}

}  // namespace mek
