#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace mek {

// Reads from `fd` until `room` bytes have come or the input ends; `got` is
// the number read. False on a read error.
bool readFill(int fd, std::uint8_t* into, std::size_t room, std::size_t& got);

// Moves `fd` back to the start of its file; false for input that cannot be
// positioned (a pipe or a terminal), which can be read only once.
bool rewind(int fd);

// Reads all of `fd` into `bytes`. False on a read error; `bytes` is then
// emptied. Memory that runs out ends the process like any other failed
// allocation would, so it is reported separately by `noMemory`.
bool readAll(int fd, std::vector<std::uint8_t>& bytes, bool& noMemory);

}  // namespace mek
