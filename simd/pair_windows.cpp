#include "simd/pair_windows.h"

#include "simd/pair_windows_kernels.h"

namespace mek {

PairRun encodePairWindows(PairCode kind, const std::uint16_t* table, const std::uint8_t* p,
                          const std::uint8_t* last, std::uint8_t* dst) {
  while (p <= last) {
    std::uint32_t packed[kPairWindow / 2];
    bool wide = false;
    bool missing = false;
    for (std::size_t k = 0; k < kPairWindow / 2; ++k) {
      const auto unit = static_cast<std::uint16_t>(p[2 * k] << 8 | p[2 * k + 1]);
      wide |= unit >= 0x80;
      packed[k] = packPairCode(kind, table[unit]);
      missing |= packed[k] == 0;
    }
    if (!wide || missing) break;
    for (const std::uint32_t w : packed) {
      dst[0] = static_cast<std::uint8_t>(w);
      if ((w >> 16) == 2) dst[1] = static_cast<std::uint8_t>(w >> 8);
      dst += w >> 16;
    }
    p += kPairWindow;
  }
  return {p, dst};
}

namespace {

// The characters of the decoding window at p: their number, and their units
// in `units`; 0 when the window has no byte from 0x80 up, a character
// without a unit, or (`stopAtCr`, `stopAtLf`) a line break.
std::size_t windowUnits(PairCode kind, const std::uint16_t* table, const std::uint8_t* p,
                        bool stopAtCr, bool stopAtLf, std::uint16_t (&units)[kPairWindow],
                        std::size_t& length) {
  std::uint32_t high = 0;
  std::uint32_t single = 0;
  for (std::size_t i = 0; i < kPairWindow; ++i) {
    high |= std::uint32_t{p[i] >= 0x80} << i;
    single |= std::uint32_t{kind == PairCode::kSjis && p[i] >= 0xA1 && p[i] <= 0xDF} << i;
  }
  if (high == 0) return 0;
  const WindowStarts w = windowStarts(high & ~single);
  std::size_t n = 0;
  for (std::size_t i = 0; i < w.length; ++i) {
    if ((w.starts >> i & 1) == 0) continue;
    const std::uint16_t unit = p[i] < 0x80 ? p[i] : table[pairIndex(p[i], p[i + 1])];
    if (unit == 0xFFFF || (stopAtCr && unit == 0x0D) || (stopAtLf && unit == 0x0A)) return 0;
    units[n++] = unit;
  }
  length = w.length;
  return n;
}

}  // namespace

PairRun decodePairWindows(PairCode kind, const std::uint16_t* table, const std::uint8_t* p,
                          const std::uint8_t* last, std::uint8_t* dst) {
  while (p <= last) {
    std::uint16_t units[kPairWindow];
    std::size_t length;
    const std::size_t n = windowUnits(kind, table, p, false, false, units, length);
    if (n == 0) break;
    for (std::size_t k = 0; k < n; ++k) {
      dst[0] = static_cast<std::uint8_t>(units[k] >> 8);
      dst[1] = static_cast<std::uint8_t>(units[k]);
      dst += 2;
    }
    p += length;
  }
  return {p, dst};
}

PairRun decodePairWindowsUtf8(PairCode kind, const std::uint16_t* table, const std::uint8_t* p,
                              const std::uint8_t* last, std::uint8_t* dst, bool stopAtCr,
                              bool stopAtLf) {
  while (p <= last) {
    std::uint16_t units[kPairWindow];
    std::size_t length;
    const std::size_t n = windowUnits(kind, table, p, stopAtCr, stopAtLf, units, length);
    if (n == 0) break;
    for (std::size_t k = 0; k < n; ++k) {
      const unsigned u = units[k];
      if (u < 0x80) {
        *dst++ = static_cast<std::uint8_t>(u);
      } else if (u < 0x800) {
        dst[0] = static_cast<std::uint8_t>(0xC0 | u >> 6);
        dst[1] = static_cast<std::uint8_t>(0x80 | (u & 0x3F));
        dst += 2;
      } else {
        dst[0] = static_cast<std::uint8_t>(0xE0 | u >> 12);
        dst[1] = static_cast<std::uint8_t>(0x80 | ((u >> 6) & 0x3F));
        dst[2] = static_cast<std::uint8_t>(0x80 | (u & 0x3F));
        dst += 3;
      }
    }
    p += length;
  }
  return {p, dst};
}

PairRun encodePairWindowsOn(Utf8Path path, PairCode kind, const std::uint16_t* table,
                            const std::uint8_t* p, const std::uint8_t* last, std::uint8_t* dst) {
#if MEK_SIMD_SHUFFLES
  if (path != Utf8Path::kPlain) return pair_windows::encodeSsse3(kind, table, p, last, dst);
#else
  static_cast<void>(path);
#endif
  return encodePairWindows(kind, table, p, last, dst);
}

PairRun decodePairWindowsOn(Utf8Path path, PairCode kind, const std::uint16_t* table,
                            const std::uint8_t* p, const std::uint8_t* last, std::uint8_t* dst) {
#if MEK_SIMD_SHUFFLES
  if (path != Utf8Path::kPlain) return pair_windows::decodeSsse3(kind, table, p, last, dst);
#else
  static_cast<void>(path);
#endif
  return decodePairWindows(kind, table, p, last, dst);
}

PairRun decodePairWindowsUtf8On(Utf8Path path, PairCode kind, const std::uint16_t* table,
                                const std::uint8_t* p, const std::uint8_t* last, std::uint8_t* dst,
                                bool stopAtCr, bool stopAtLf) {
#if MEK_SIMD_SHUFFLES
  if (path != Utf8Path::kPlain) {
    return pair_windows::decodeUtf8Ssse3(kind, table, p, last, dst, stopAtCr, stopAtLf);
  }
#else
  static_cast<void>(path);
#endif
  return decodePairWindowsUtf8(kind, table, p, last, dst, stopAtCr, stopAtLf);
}

}  // namespace mek
