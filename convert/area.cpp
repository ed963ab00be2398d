#include "convert/area.h"

#include <cstdlib>

#if defined(__linux__)
#include <sys/mman.h>
#endif
#if defined(__GLIBC__)
#include <malloc.h>
#endif

namespace mek {

std::uint8_t* allocateArea(std::size_t size) {
  constexpr std::size_t kHugePage = std::size_t{2} << 20;
  if (size < 4 * kHugePage) return static_cast<std::uint8_t*>(std::malloc(size == 0 ? 1 : size));
  const std::size_t rounded = (size + kHugePage - 1) / kHugePage * kHugePage;
  void* area = std::aligned_alloc(kHugePage, rounded);
#if defined(__linux__) && defined(MADV_HUGEPAGE)
  if (area != nullptr) madvise(area, rounded, MADV_HUGEPAGE);
#endif
  return static_cast<std::uint8_t*>(area);
}

std::size_t areaCapacity(const std::uint8_t* area) {
#if defined(__GLIBC__)
  return malloc_usable_size(const_cast<std::uint8_t*>(area));
#else
  (void)area;
  return 0;
#endif
}

}  // namespace mek
