#pragma once

// Shared by the window kernels of pair_windows*.cpp: the index of a pair in
// a decoding table, and the shuffle kernels' entry points. Only those files
// include this.

#include <cstddef>
#include <cstdint>

#include "simd/config.h"
#include "simd/pair_windows.h"

namespace mek {

// The index of the pair (b, next) in a decoding table.
constexpr std::size_t pairIndex(std::uint8_t b, std::uint8_t next) {
  return static_cast<std::size_t>(b - 0x80) << 8 | next;
}

#if MEK_SIMD_SHUFFLES
namespace pair_windows {
PairRun encodeSsse3(PairCode kind, const std::uint16_t* table, const std::uint8_t* p,
                    const std::uint8_t* last, std::uint8_t* dst);
PairRun decodeSsse3(PairCode kind, const std::uint16_t* table, const std::uint8_t* p,
                    const std::uint8_t* last, std::uint8_t* dst);
}  // namespace pair_windows
#endif

}  // namespace mek
