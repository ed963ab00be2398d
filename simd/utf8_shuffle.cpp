#include "simd/utf8_shuffle.h"

#include "simd/utf8_blocks.h"
#include "simd/utf8_shuffle_kernels.h"

namespace mek {

bool utf8PathSupported(Utf8Path path) {
  switch (path) {
    case Utf8Path::kPlain:
      return true;
#if MEK_SIMD_SHUFFLES
    case Utf8Path::kSsse3:
      __builtin_cpu_init();
      return __builtin_cpu_supports("ssse3");
    case Utf8Path::kAvx2:
      __builtin_cpu_init();
      return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("popcnt");
#endif
    default:
      return false;
  }
}

Utf8Path bestUtf8Path() {
  // Asked once per process; the answer never changes.
  static const Utf8Path best = utf8PathSupported(Utf8Path::kAvx2)    ? Utf8Path::kAvx2
                               : utf8PathSupported(Utf8Path::kSsse3) ? Utf8Path::kSsse3
                                                                     : Utf8Path::kPlain;
  return best;
}

const std::uint8_t* shortSequencePrefixOn(Utf8Path path, const std::uint8_t* p,
                                          const std::uint8_t* end) {
#if MEK_SIMD_SHUFFLES
  if (path == Utf8Path::kAvx2) return utf8_shuffle::shortSequencePrefixAvx2(p, end);
#else
  static_cast<void>(path);
#endif
  return shortSequencePrefix(p, end);
}

std::uint8_t* writeShortSequencesOn(Utf8Path path, const std::uint8_t* p, const std::uint8_t* end,
                                    std::uint8_t* dst) {
  switch (path) {
#if MEK_SIMD_SHUFFLES
    case Utf8Path::kSsse3:
      return utf8_shuffle::writeShortSequencesSsse3(p, end, dst);
    case Utf8Path::kAvx2:
      return utf8_shuffle::writeShortSequencesAvx2(p, end, dst);
#endif
    default:
      return writeShortSequences(p, end, dst);
  }
}

std::uint8_t* writeUnitsUtf8On(Utf8Path path, const std::uint8_t* p, std::size_t n,
                               std::uint8_t* dst) {
  switch (path) {
#if MEK_SIMD_SHUFFLES
    case Utf8Path::kSsse3:
      return utf8_shuffle::writeUnitsUtf8Ssse3(p, n, dst);
    case Utf8Path::kAvx2:
      return utf8_shuffle::writeUnitsUtf8Avx2(p, n, dst);
#endif
    default:
      return writeUnitsUtf8(p, n, dst);
  }
}

}  // namespace mek
