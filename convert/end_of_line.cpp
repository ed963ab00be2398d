#include "convert/end_of_line.h"

#include <cstddef>

#include "convert/sink.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace mek {
namespace {

bool isLineBreak(const std::uint8_t* p) { return p[0] == 0 && (p[1] == 0x0A || p[1] == 0x0D); }

// Number of leading whole units in [p, end) that are neither CR nor LF.
std::size_t ordinaryUnitPrefix(const std::uint8_t* p, const std::uint8_t* end) {
  const std::uint8_t* q = p;
#if defined(__SSE2__)
  // Little-endian lanes hold a big-endian unit 00 0D as 0x0D00.
  const __m128i cr = _mm_set1_epi16(0x0D00);
  const __m128i lf = _mm_set1_epi16(0x0A00);
  while (end - q >= 16) {
    __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(q));
    int hit = _mm_movemask_epi8(_mm_or_si128(_mm_cmpeq_epi16(v, cr), _mm_cmpeq_epi16(v, lf)));
    if (hit != 0) return (static_cast<std::size_t>(q - p) + static_cast<unsigned>(__builtin_ctz(hit))) / 2;
    q += 16;
  }
#endif
  while (end - q >= 2 && !isLineBreak(q)) q += 2;
  return static_cast<std::size_t>(q - p) / 2;
}

}  // namespace

template <class Sink>
bool EndOfLineConverter::scan(ConversionBuffer& buffer, Sink& sink) const {
  const std::uint8_t* p = buffer.in_begin;
  const std::uint8_t* const end = buffer.in_end;
  while (end - p >= 2) {
    std::size_t run = ordinaryUnitPrefix(p, end);
    sink.copy(p, 2 * run);
    p += 2 * run;
    if (end - p < 2) break;
    // p is at a line ending; CR LF counts as one.
    if (p[1] == 0x0D && end - p >= 4 && p[2] == 0 && p[3] == 0x0A) p += 2;
    p += 2;
    sink.put2(0, sequence[0]);
    if (sequence_length == 2) sink.put2(0, sequence[1]);
  }
  return finishScan(buffer, p, sink);
}

bool EndOfLineConverter::measure(ConversionBuffer& buffer) const {
  CountingSink sink;
  return scan(buffer, sink);
}

bool EndOfLineConverter::convert(ConversionBuffer& buffer) const {
  WritingSink sink(buffer.out);
  return scan(buffer, sink);
}

}  // namespace mek
