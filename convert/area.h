#pragma once

#include <cstddef>
#include <cstdint>

namespace mek {

// Allocates a stage area of `size` bytes (at least one), released with
// std::free; null when memory is short. Large areas are aligned and marked
// for transparent huge pages where the system has them, which saves most of
// the page-fault cost of touching a fresh area once.
std::uint8_t* allocateArea(std::size_t size);

// The number of bytes an area from allocateArea (or std::malloc) can hold,
// which may exceed what was asked for; 0 where the C library cannot tell.
std::size_t areaCapacity(const std::uint8_t* area);

}  // namespace mek
