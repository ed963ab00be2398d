#pragma once

#include <cstdint>

namespace mek {

// The code number (1..12) that the whole input [begin, end) is taken to be in.
int detectEncoding(const std::uint8_t* begin, const std::uint8_t* end);

}  // namespace mek
