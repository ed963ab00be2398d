#include "japanese/eucjp.h"

#include "codec/sink.h"
#include "codec/utf8_sink.h"
#include "japanese/flat_tables.h"
#include "japanese/stateless_scan.h"
#include "japanese/twins.h"

namespace mek {
namespace {

constexpr std::uint8_t kSingleShift2 = 0x8E;  // JIS X 0201 follows
constexpr std::uint8_t kSingleShift3 = 0x8F;  // JIS X 0212 follows

// A block store writes more than may count (64 bytes decoding, 32 encoding).
// Decoding, every three input bytes still ahead of the margin give at least
// two output bytes and at most two bytes are left unconsumed; encoding, every
// unit gives at least one byte. So the surplus stays inside an output area of
// the measured size.
static_assert((kFastMargin - 2) / 3 * 2 >= kBlockWriteAhead);
static_assert(kFastMargin / 2 >= kBlockWriteAhead / 2);

// The unit of the JIS X 0208 or JIS X 0212 code whose EUC-JP bytes are
// `row` and `cell` (0xA1..0xFE each), or kNoMapping.
inline std::uint16_t jisUnit(const std::array<std::uint16_t, kJisSide * kJisSide>& table,
                             std::uint8_t row, std::uint8_t cell) {
  const unsigned r = row - 0xA1u;
  const unsigned c = cell - 0xA1u;
  return r < kJisSide && c < kJisSide ? table[r * kJisSide + c] : kNoMapping;
}

constexpr bool isJisX0208Byte(std::uint8_t b) {
  return b >= 0xA1 && b <= 0xFE;
}

// The length of the character that byte b begins: 1 for ASCII, 2 for a
// JIS X 0208 pair or a half-width katakana after SS2, 3 for JIS X 0212 after
// SS3; 1 for a byte that begins nothing (0x80..0x8D, 0x90..0xA0, 0xFF).
constexpr int eucjpLength(std::uint8_t b) {
  return b < 0x80 ? 1 : b == kSingleShift3 ? 3 : isJisX0208Byte(b) || b == kSingleShift2 ? 2 : 1;
}

// The EUC-JP rule: the unit of the character at p, whose eucjpLength(p[0])
// bytes the caller makes sure are there, or kNoMapping; `length` is set to
// that length.
inline std::uint16_t eucjpUnitAt(const std::uint8_t* p, int& length) {
  const std::uint8_t b = p[0];
  if (isJisX0208Byte(b)) [[likely]] {
    // The row is in range already; only the cell needs the test.
    length = 2;
    const unsigned cell = p[1] - 0xA1u;
    return cell < kJisSide ? kJisX0208ToUnicode[(b - 0xA1u) * kJisSide + cell] : kNoMapping;
  }
  if (b < 0x80) {
    length = 1;
    return b;
  }
  if (b == kSingleShift2) {
    length = 2;
    return kJisX0201ToUnicode[p[1]];
  }
  if (b == kSingleShift3) {
    length = 3;
    return jisUnit(kJisX0212ToUnicode, p[1], p[2]);
  }
  length = 1;
  return kNoMapping;
}

// The length of the malformed sequence at p, whose eucjpLength(p[0]) bytes
// are there: a lead and the bytes A1..FE that may follow it are one sequence
// without a table entry; otherwise the lead alone is one, and the bytes
// after it are read again.
inline int eucjpBadLength(const std::uint8_t* p) {
  const int length = eucjpLength(p[0]);
  for (int i = 1; i < length; ++i) {
    if (!isJisX0208Byte(p[i])) return 1;
  }
  return length;
}

// Runs of characters other than ASCII go a window at a time.
template <class Sink>
bool decodeEucjp(ConversionBuffer& buffer, Sink& sink) {
  return decodeStateless(
      buffer, sink, [](const std::uint8_t* p, int& length) { return eucjpUnitAt(p, length); },
      [](const std::uint8_t* p) { return eucjpLength(p[0]); }, eucjpBadLength, PutUnit{},
      DecodeWindows(PairCode::kEucjp, kEucjpHighToUnicode.data()));
}

// Writes the EUC-JP form of the unit at p, or fails.
template <class Sink>
inline bool encodeOne(const std::uint8_t* p, Sink& sink, bool fallback) {
  // ASCII comes first in the table, so U+005C and U+007E stay single bytes
  // although JIS X 0208/0212 hold them too; surrogates have no form.
  const auto unit = static_cast<std::uint16_t>(p[0] << 8 | p[1]);
  std::uint16_t code = kUnicodeToJisCode[unit];
  // With the fallback, a character without a code of its own takes its twin's.
  if (code == kNoMapping && fallback) [[unlikely]]
    code = twinJisX0208(unit);
  const auto row = static_cast<std::uint8_t>(code >> 8 | 0x80);
  const auto cell = static_cast<std::uint8_t>(code | 0x80);
  if (code < kJisX0212Flag && code >= 0x100) [[likely]] {
    sink.put2(row, cell);
  } else if (code < 0x80) {
    sink.put(static_cast<std::uint8_t>(code));  // ASCII; U+00A5 and U+203E: the Roman set
  } else if (code < 0x100) {
    sink.put2(kSingleShift2, static_cast<std::uint8_t>(code));
  } else if (code != kNoMapping) {
    sink.put3(kSingleShift3, row, cell);
  } else {
    return false;
  }
  return true;
}

// Runs of characters other than ASCII go a window at a time.
template <class Sink>
bool encodeEucjp(ConversionBuffer& buffer, Sink& sink) {
  const bool fallback = sink.fallback();
  return encodeStateless(
      buffer, sink, kFastMargin,
      [fallback](const std::uint8_t* p, Sink& out) { return encodeOne(p, out, fallback); },
      TakeAsciiBlock{}, EncodeWindows(PairCode::kEucjp, kUnicodeToJisCode.data()));
}

}  // namespace

template <class Sink>
bool EucjpDecoder::scan(ConversionBuffer& buffer, Sink& sink) const {
  return decodeEucjp(buffer, sink);
}

template <class Sink>
bool EucjpEncoder::scan(ConversionBuffer& buffer, Sink& sink) const {
  return encodeEucjp(buffer, sink);
}

// Both passes and their scans are compiled here, once.
MEK_SCANS(EucjpDecoder, Decoder);
MEK_UTF8_SCANS(EucjpDecoder);
MEK_SCANS(EucjpEncoder, Encoder);

}  // namespace mek
