#pragma once

// Shared by the window kernels of pair_windows*.cpp: the boundaries of a
// decoding window, and the shuffle kernels' entry points. Only those files
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

// The characters of a decoding window: bit i of `starts` set where one
// begins, among the first `length` bytes, which the window takes (15 when
// its last byte leads a pair whose second byte the next window holds).
struct WindowStarts {
  std::uint32_t starts;
  std::size_t length;
};

// `leading`: the bytes of the window that lead a pair where they begin a
// character.
constexpr WindowStarts windowStarts(std::uint32_t leading) {
  std::uint32_t leads = pairLeads(leading);
  std::size_t length = kPairWindow;
  if ((leads >> (kPairWindow - 1)) != 0) {
    leads &= (1u << (kPairWindow - 1)) - 1;
    length = kPairWindow - 1;
  }
  return {~(leads << 1) & ((1u << length) - 1), length};
}

#if MEK_SIMD_SHUFFLES
namespace pair_windows {
PairRun encodeSsse3(PairCode kind, const std::uint16_t* table, const std::uint8_t* p,
                    const std::uint8_t* last, std::uint8_t* dst);
PairRun decodeSsse3(PairCode kind, const std::uint16_t* table, const std::uint8_t* p,
                    const std::uint8_t* last, std::uint8_t* dst);
PairRun decodeUtf8Ssse3(PairCode kind, const std::uint16_t* table, const std::uint8_t* p,
                        const std::uint8_t* last, std::uint8_t* dst, bool stopAtCr, bool stopAtLf);
}  // namespace pair_windows
#endif

}  // namespace mek
