#include "japanese/jis.h"

#include "convert/sink.h"
#include "japanese/code_table.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace mek {

namespace {

constexpr std::uint8_t kEsc = 0x1B;
constexpr std::uint8_t kShiftOut = 0x0E;
constexpr std::uint8_t kShiftIn = 0x0F;

enum State : int { kAscii = 0, kKatakana = 1, kJisX0208 = 2, kJisX0212 = 3 };

// An ASCII byte that stands for itself in the ASCII state whatever follows:
// below 0x80 and none of the bytes that may begin a control sequence.
constexpr bool isPlainAscii(std::uint8_t b) {
  return b < 0x80 && b != kEsc && b != kShiftOut && b != kShiftIn;
}

// Number of leading plain ASCII bytes in [p, end).
std::size_t plainAsciiPrefix(const std::uint8_t* p, const std::uint8_t* end) {
  const std::uint8_t* q = p;
#if defined(__SSE2__)
  const __m128i esc = _mm_set1_epi8(static_cast<char>(kEsc));
  const __m128i shiftBits = _mm_set1_epi8(static_cast<char>(0xFE));
  const __m128i shift = _mm_set1_epi8(static_cast<char>(kShiftOut));  // SO or SI
  while (end - q >= 16) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(q));
    const __m128i control =
        _mm_or_si128(_mm_cmpeq_epi8(v, esc), _mm_cmpeq_epi8(_mm_and_si128(v, shiftBits), shift));
    const int mask = _mm_movemask_epi8(v) | _mm_movemask_epi8(control);
    if (mask != 0) {
      return static_cast<std::size_t>(q - p) + static_cast<unsigned>(__builtin_ctz(mask));
    }
    q += 16;
  }
#endif
  while (q < end && isPlainAscii(*q)) ++q;
  return static_cast<std::size_t>(q - p);
}

// The JIS X 0201 key of a byte in the katakana state: the 7-bit form
// 0x21..0x5F stands for 0xA1..0xDF; every other byte is its own key, so the
// 8-bit form works too and control bytes find no mapping.
constexpr std::uint8_t katakanaKey(std::uint8_t b) {
  return b >= 0x21 && b <= 0x5F ? static_cast<std::uint8_t>(b + 0x80) : b;
}

template <class Sink>
bool decodeJis(ConversionBuffer& buffer, Sink& sink) {
  const CodeTable& x0201 = JisX0201ToUnicode();
  const CodeTable& x0208 = JisX0208ToUnicode();
  const CodeTable& x0212 = JisX0212ToUnicode();
  const std::uint8_t* p = buffer.in_begin;
  const std::uint8_t* const end = buffer.in_end;
  int state = kAscii;
  while (p < end) {
    if (state == kAscii) {
      const std::size_t run = plainAsciiPrefix(p, end);
      sink.widenAscii(p, run);
      p += run;
      if (p == end) break;
    }
    const int next = JisDecoder::readEscape(p, end);
    if (next != JisDecoder::kNoControl) {
      state = next;
      continue;
    }
    const std::uint8_t b = *p;
    std::uint16_t u;
    if (state == kAscii) {
      // Below 0x80 only an ESC that begins no control sequence gets here; a
      // byte 0x80 or above is its own JIS X 0201 key (katakana or nothing).
      u = b < 0x80 ? b : lookup(x0201, 0x00, b);
      p += 1;
    } else if (state == kKatakana) {
      u = lookup(x0201, 0x00, katakanaKey(b));
      p += 1;
    } else {
      if (end - p < 2) break;  // a pair cut off at the end: left unconsumed
      u = lookup(state == kJisX0208 ? x0208 : x0212, b, p[1]);
      p += 2;
    }
    if (u == kNoMapping) return false;
    sink.unit(u);
  }
  return finishScan(buffer, p, sink);
}

template <class Sink>
void enterState(int wanted, int& state, Sink& sink) {
  if (state == wanted) return;
  switch (wanted) {
    case kAscii:
      sink.put3(kEsc, '(', 'B');
      break;
    case kKatakana:
      sink.put3(kEsc, '(', 'I');
      break;
    case kJisX0208:
      sink.put3(kEsc, '$', 'B');
      break;
    default:
      sink.put4(kEsc, '$', '(', 'D');
      break;
  }
  state = wanted;
}

template <class Sink>
bool encodeJis(ConversionBuffer& buffer, Sink& sink) {
  const CodeTable& x0201 = UnicodeToJisX0201();
  const CodeTable& x0208 = UnicodeToJisX0208();
  const CodeTable& x0212 = UnicodeToJisX0212();
  const std::uint8_t* p = buffer.in_begin;
  const std::uint8_t* const end = buffer.in_end;
  int state = kAscii;
  while (end - p >= 2) {
    if (state == kAscii) {
      const std::size_t run = asciiUnitPrefix(p, end);
      sink.narrowAscii(p, run);
      p += 2 * run;
      if (end - p < 2) break;
    }
    const std::uint8_t hi = p[0];
    const std::uint8_t lo = p[1];
    p += 2;
    if (hi >= 0xD8 && hi <= 0xDF) return false;  // no surrogate is in any table
    if (hi == 0x00 && lo < 0x80) {
      enterState(kAscii, state, sink);
      sink.put(lo);
      continue;
    }
    std::uint16_t v = lookup(x0208, hi, lo);
    if (v != kNoMapping) {
      enterState(kJisX0208, state, sink);
      sink.put2(static_cast<std::uint8_t>(v >> 8), static_cast<std::uint8_t>(v));
      continue;
    }
    v = lookup(x0212, hi, lo);
    if (v != kNoMapping) {
      enterState(kJisX0212, state, sink);
      sink.put2(static_cast<std::uint8_t>(v >> 8), static_cast<std::uint8_t>(v));
      continue;
    }
    v = lookup(x0201, hi, lo);
    if (v == kNoMapping) return false;
    if (v < 0x80) {
      // U+00A5 and U+203E: the Roman set's 0x5C and 0x7E, written as ASCII.
      enterState(kAscii, state, sink);
      sink.put(static_cast<std::uint8_t>(v));
    } else {
      enterState(kKatakana, state, sink);
      sink.put(static_cast<std::uint8_t>(v - 0x80));
    }
  }
  return finishScan(buffer, p, sink);
}

}  // namespace

int JisDecoder::readEscape(const std::uint8_t*& p, const std::uint8_t* end) {
  const std::uint8_t b = *p;
  if (b == kShiftOut) {
    p += 1;
    return kKatakana;
  }
  if (b == kShiftIn) {
    p += 1;
    return kAscii;
  }
  if (b != kEsc || end - p < 3) return kNoControl;
  int state = kNoControl;
  std::ptrdiff_t length = 3;
  if (p[1] == '$') {
    if (p[2] == '@' || p[2] == 'B') {
      state = kJisX0208;
    } else if (p[2] == '(' && end - p >= 4 && p[3] == 'D') {
      state = kJisX0212;
      length = 4;
    }
  } else if (p[1] == '(') {
    if (p[2] == 'B' || p[2] == 'J') {
      state = kAscii;
    } else if (p[2] == 'I') {
      state = kKatakana;
    }
  }
  if (state != kNoControl) p += length;
  return state;
}

bool JisDecoder::measure(ConversionBuffer& buffer) const {
  CountingSink sink;
  return decodeJis(buffer, sink);
}

bool JisDecoder::convert(ConversionBuffer& buffer) const {
  WritingSink sink(buffer.out);
  return decodeJis(buffer, sink);
}

bool JisEncoder::measure(ConversionBuffer& buffer) const {
  CountingSink sink;
  return encodeJis(buffer, sink);
}

bool JisEncoder::convert(ConversionBuffer& buffer) const {
  WritingSink sink(buffer.out);
  return encodeJis(buffer, sink);
}

}  // namespace mek
