#pragma once

#include <cstdint>

#include "mek/codes.h"

namespace mek {

// The code a byte-order mark at the start of [begin, end) names, or
// kCodeAuto when there is none. UTF-32 little-endian is tried before UTF-16
// little-endian, whose mark begins it.
CodeNumber codeOfMark(const std::uint8_t* begin, const std::uint8_t* end);

}  // namespace mek
