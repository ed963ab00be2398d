#pragma once

#include <cstddef>

namespace mek {

// Asks the system for huge pages over the whole 2 MiB pages of
// [data, data + size), memory about to be written from its start: a large
// output then costs one page fault every 2 MiB instead of every 4 KiB. Only
// a hint; nothing happens where the system has no such pages.
void adviseHugePages(void* data, std::size_t size) noexcept;

}  // namespace mek
