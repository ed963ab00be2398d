#include "convert/line_cuts.h"

#include <cstring>

#include "convert/code_instances.h"
#include "japanese/jis.h"
#include "mek/registry.h"

namespace mek {

const std::uint8_t* safeLineCut(const std::uint8_t* begin, const std::uint8_t* end, std::uint64_t) {
  for (const std::uint8_t* p = end; p > begin;) {
    const void* lf = memrchr(begin, 0x0A, static_cast<std::size_t>(p - begin));
    if (lf == nullptr) return nullptr;
    const auto* at = static_cast<const std::uint8_t*>(lf);
    if (at == begin || at[-1] < 0x80) return at + 1;
    p = at;
  }
  return nullptr;
}

namespace {

constexpr std::uint8_t kEsc = 0x1B;
constexpr std::uint8_t kShiftOut = 0x0E;
constexpr std::uint8_t kShiftIn = 0x0F;

bool isControl(std::uint8_t b) {
  return b == kEsc || b == kShiftOut || b == kShiftIn;
}

// Whether the last control byte before `lf` (after `begin`) enters ASCII
// through a whole control sequence that ends before `lf`. A control
// sequence is always read where it stands, in every state (its bytes are
// no pair's), so the state at `lf` is the one it enters; an ESC that begins
// no sequence, or none at all, leaves the state unknown here.
bool asciiAt(const std::uint8_t* begin, const std::uint8_t* lf) {
  for (const std::uint8_t* p = lf; p > begin;) {
    --p;
    if (!isControl(*p)) continue;
    const std::uint8_t* q = p;
    return JisDecoder::readEscape(q, lf) == 0;
  }
  return false;
}

}  // namespace

const std::uint8_t* asciiLineCut(const std::uint8_t* begin, const std::uint8_t* end,
                                 std::uint64_t) {
  for (const std::uint8_t* p = end; p > begin;) {
    const void* lf = memrchr(begin, 0x0A, static_cast<std::size_t>(p - begin));
    if (lf == nullptr) return nullptr;
    const auto* at = static_cast<const std::uint8_t*>(lf);
    if (asciiAt(begin, at)) return at + 1;
    p = at;
  }
  return nullptr;
}

template <unsigned kUnit, bool kLittle>
const std::uint8_t* unitLineCut(const std::uint8_t* begin, const std::uint8_t* end,
                                std::uint64_t offset) {
  // The first whole unit of the piece, and the LF byte's place in a unit.
  const std::size_t skip = (kUnit - offset % kUnit) % kUnit;
  if (static_cast<std::size_t>(end - begin) < skip + kUnit) return nullptr;
  const std::uint8_t* const first = begin + skip;
  const std::size_t units = static_cast<std::size_t>(end - first) / kUnit;
  constexpr unsigned kLfAt = kLittle ? 0 : kUnit - 1;
  for (std::size_t i = units; i > 0; --i) {
    const std::uint8_t* unit = first + (i - 1) * kUnit;
    if (unit[kLfAt] != 0x0A) continue;
    bool lf = true;
    for (unsigned b = 0; b < kUnit; ++b) lf = lf && (b == kLfAt || unit[b] == 0);
    if (lf) return unit + kUnit;
  }
  return nullptr;
}

template const std::uint8_t* unitLineCut<2, true>(const std::uint8_t*, const std::uint8_t*,
                                                  std::uint64_t);
template const std::uint8_t* unitLineCut<2, false>(const std::uint8_t*, const std::uint8_t*,
                                                   std::uint64_t);
template const std::uint8_t* unitLineCut<4, true>(const std::uint8_t*, const std::uint8_t*,
                                                  std::uint64_t);
template const std::uint8_t* unitLineCut<4, false>(const std::uint8_t*, const std::uint8_t*,
                                                   std::uint64_t);

LineCut lineCutFor(int inputCode) {
  struct Cut {
    const Converter* decoder;
    LineCut cut;
  };
  static constexpr Cut kCuts[] = {
      {&kSjisDecoder, &safeLineCut},
      {&kCp932Decoder, &safeLineCut},
      {&kEucjpDecoder, &safeLineCut},
      {&kUtf8Decoder, &safeLineCut},
      {&kSjis2004Decoder, &safeLineCut},
      {&kEucjis2004Decoder, &safeLineCut},
      {&kEucjpmsDecoder, &safeLineCut},
      {&kCp51932Decoder, &safeLineCut},
      {&kJisDecoder, &asciiLineCut},
      {&kUtf16LeDecoder, &unitLineCut<2, true>},
      {&kUtf16BeDecoder, &unitLineCut<2, false>},
      {&kUtf32LeDecoder, &unitLineCut<4, true>},
      {&kUtf32BeDecoder, &unitLineCut<4, false>},
  };
  const Converter* decoder = findDecoder(inputCode);
  for (const Cut& cut : kCuts) {
    if (cut.decoder == decoder) return cut.cut;
  }
  return nullptr;
}

}  // namespace mek
