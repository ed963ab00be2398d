#pragma once

// Shared by the shuffle kernels: their shuffle tables and their entry points.
// Only utf8_shuffle*.cpp include this.

#include <array>
#include <cstddef>
#include <cstdint>

#include "simd/config.h"

namespace mek::utf8_shuffle {

// One pshufb control: output byte i takes input byte lanes[i], or 0 when the
// top bit is set.
struct alignas(16) ShuffleControl {
  std::array<std::uint8_t, 16> lanes{};
};

// A shuffle per case, and the number of bytes it leaves in front.
struct ShuffleTable {
  std::array<ShuffleControl, 256> controls{};
  std::array<std::uint8_t, 256> lengths{};
};

// Encoding four units. Each unit k sits in bytes 4k..4k+3 as [lead, 0,
// middle, last]: lead is the whole byte of a unit below 0x80 or the lead byte
// of its longer form, middle and last are the continuation bytes of a
// three-byte form (a two-byte form uses lead and last). Bit k of the index
// says that unit k is below 0x80, bit 4 + k that it is below 0x800.
constexpr ShuffleTable makeEncodeTable() {
  ShuffleTable table;
  for (int index = 0; index < 256; ++index) {
    ShuffleControl& control = table.controls[index];
    int out = 0;
    for (int k = 0; k < 4; ++k) {
      const bool one = ((index >> k) & 1) != 0;
      const bool two = ((index >> (4 + k)) & 1) != 0;
      control.lanes[out++] = static_cast<std::uint8_t>(4 * k);
      if (one) continue;
      if (!two) control.lanes[out++] = static_cast<std::uint8_t>(4 * k + 2);
      control.lanes[out++] = static_cast<std::uint8_t>(4 * k + 3);
    }
    table.lengths[index] = static_cast<std::uint8_t>(out);
    for (; out < 16; ++out) control.lanes[out] = 0x80;
  }
  return table;
}

// Decoding eight positions. Lane k (bytes 2k, 2k + 1, little-endian) holds the
// unit of the sequence that would begin at position k; bit k of the index
// says that one does. The control gathers those units, high byte first.
constexpr ShuffleTable makeDecodeTable() {
  ShuffleTable table;
  for (int index = 0; index < 256; ++index) {
    ShuffleControl& control = table.controls[index];
    int out = 0;
    for (int k = 0; k < 8; ++k) {
      if (((index >> k) & 1) == 0) continue;
      control.lanes[out++] = static_cast<std::uint8_t>(2 * k + 1);
      control.lanes[out++] = static_cast<std::uint8_t>(2 * k);
    }
    table.lengths[index] = static_cast<std::uint8_t>(out);
    for (; out < 16; ++out) control.lanes[out] = 0x80;
  }
  return table;
}

inline constexpr ShuffleTable kEncodeTable = makeEncodeTable();
inline constexpr ShuffleTable kDecodeTable = makeDecodeTable();

#if MEK_SIMD_SHUFFLES
std::uint8_t* writeShortSequencesSsse3(const std::uint8_t* p, const std::uint8_t* end,
                                       std::uint8_t* dst);
std::uint8_t* writeUnitsUtf8Ssse3(const std::uint8_t* p, std::size_t n, std::uint8_t* dst);
const std::uint8_t* shortSequencePrefixAvx2(const std::uint8_t* p, const std::uint8_t* end);
std::uint8_t* writeShortSequencesAvx2(const std::uint8_t* p, const std::uint8_t* end,
                                      std::uint8_t* dst);
std::uint8_t* writeUnitsUtf8Avx2(const std::uint8_t* p, std::size_t n, std::uint8_t* dst);
#endif

}  // namespace mek::utf8_shuffle
