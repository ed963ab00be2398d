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

// A window is read pair by pair and written once all eight have passed;
// the tests end it early, in runs of kana and kanji rarely.
PairRun decodePairWindows(PairCode kind, const std::uint16_t* table, const std::uint8_t* p,
                          const std::uint8_t* last, std::uint8_t* dst) {
  const bool sjis = kind == PairCode::kSjis;
  while (p <= last) {
    std::uint32_t forms[kPairWindow / 2];
    std::size_t k = 0;
    for (; k < kPairWindow / 2; ++k) {
      const std::uint8_t b = p[2 * k];
      if (b < 0x80 || (sjis && b >= 0xA1 && b <= 0xDF)) break;
      const std::uint16_t unit = table[pairIndex(b, p[2 * k + 1])];
      if (unit < 0x800 || unit == 0xFFFF) break;
      forms[k] = threeByteForm(unit);
    }
    if (k != kPairWindow / 2) break;
    for (const std::uint32_t form : forms) {
      dst[0] = static_cast<std::uint8_t>(form);
      dst[1] = static_cast<std::uint8_t>(form >> 8);
      dst[2] = static_cast<std::uint8_t>(form >> 16);
      dst += 3;
    }
    p += kPairWindow;
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

}  // namespace mek
