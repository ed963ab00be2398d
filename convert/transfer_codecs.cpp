#include "convert/transfer_codecs.h"

#include "codec/sink.h"

namespace mek {
namespace {

constexpr char kLetters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr char kHex[] = "0123456789ABCDEF";

// The value of a base64 letter, or -1.
constexpr int letterValue(std::uint8_t b) {
  if (b >= 'A' && b <= 'Z') return b - 'A';
  if (b >= 'a' && b <= 'z') return b - 'a' + 26;
  if (b >= '0' && b <= '9') return b - '0' + 52;
  return b == '+' ? 62 : b == '/' ? 63 : -1;
}

constexpr int hexValue(std::uint8_t b) {
  if (b >= '0' && b <= '9') return b - '0';
  if (b >= 'A' && b <= 'F') return b - 'A' + 10;
  if (b >= 'a' && b <= 'f') return b - 'a' + 10;
  return -1;
}

// The base64 decoder's state: the bits of the letters of an unfinished
// group, and how many letters it has.
constexpr std::int32_t kLettersShift = 24;
constexpr std::int32_t kBitsMask = (1 << 18) - 1;

// The base64 encoder's state: up to two bytes of an unfinished group, their
// number, and the column of the line.
constexpr std::int32_t kPendingShift = 16;
constexpr std::int32_t kColumnShift = 20;
constexpr int kLineLetters = 76;

// Quoted-printable lines hold 75 characters and a soft break's `=`.
constexpr int kQuotedLine = 75;

}  // namespace

template <class Sink>
bool Base64Decoder::scanPiece(ConversionBuffer& buffer, Piece& piece, Sink& sink) const {
  std::int32_t bits = piece.state & kBitsMask;
  int letters = (piece.state >> kLettersShift) & 3;
  // Writes what a group of `letters` letters holds: 1 byte for 2, 2 for 3.
  const auto endGroup = [&] {
    if (letters == 2) sink.put(static_cast<std::uint8_t>(bits >> 4));
    if (letters == 3) {
      sink.put2(static_cast<std::uint8_t>(bits >> 10), static_cast<std::uint8_t>(bits >> 2));
    }
    bits = 0;
    letters = 0;
  };
  const std::uint8_t* p = buffer.in_begin;
  for (; p != buffer.in_end; ++p) {
    const int value = letterValue(*p);
    if (value >= 0) {
      bits = bits << 6 | value;
      if (++letters == 4) {
        sink.put3(static_cast<std::uint8_t>(bits >> 16), static_cast<std::uint8_t>(bits >> 8),
                  static_cast<std::uint8_t>(bits));
        bits = 0;
        letters = 0;
      }
    } else if (*p == '=' && letters >= 2) {
      endGroup();
    }
    // Any other byte, and an `=` that ends no group, is skipped.
  }
  // A last letter alone holds no whole byte.
  if (piece.last) endGroup();
  piece.end_state = bits | letters << kLettersShift;
  return finishScan(buffer, p, sink);
}

template <class Sink>
bool QuotedPrintableDecoder::scanPiece(ConversionBuffer& buffer, Piece& piece, Sink& sink) const {
  piece.end_state = 0;
  const std::uint8_t* p = buffer.in_begin;
  const std::uint8_t* const end = buffer.in_end;
  while (p != end) {
    if (*p != '=') {
      const std::uint8_t* run = p;
      while (run != end && *run != '=') ++run;
      sink.copy(p, static_cast<std::size_t>(run - p));
      p = run;
      continue;
    }
    // What follows `=` may come in the next piece.
    if (end - p < 3 && !piece.last) break;
    if (end - p >= 2 && p[1] == '\n') {
      p += 2;  // a soft line break
      continue;
    }
    if (end - p >= 3 && p[1] == '\r' && p[2] == '\n') {
      p += 3;
      continue;
    }
    if (end - p >= 3 && hexValue(p[1]) >= 0 && hexValue(p[2]) >= 0) {
      sink.put(static_cast<std::uint8_t>(hexValue(p[1]) << 4 | hexValue(p[2])));
      p += 3;
      continue;
    }
    sink.put('=');
    ++p;
  }
  return finishScan(buffer, p, sink);
}

template <class Sink>
bool Base64Encoder::scanPiece(ConversionBuffer& buffer, Piece& piece, Sink& sink) const {
  std::int32_t pending = piece.state & 0xFFFF;
  int count = (piece.state >> kPendingShift) & 3;
  int column = piece.state >> kColumnShift;
  const auto letters = [&](std::int32_t group, int n) {
    for (int i = 0; i < 4; ++i) {
      sink.put(i < n ? static_cast<std::uint8_t>(kLetters[(group >> (18 - 6 * i)) & 63]) : '=');
    }
    column += 4;
    if (column == kLineLetters) {
      sink.put('\n');
      column = 0;
    }
  };
  const std::uint8_t* p = buffer.in_begin;
  for (; p != buffer.in_end; ++p) {
    pending = pending << 8 | *p;
    if (++count == 3) {
      letters(pending, 4);
      pending = 0;
      count = 0;
    }
  }
  if (piece.last) {
    if (count == 1) letters(pending << 16, 2);
    if (count == 2) letters(pending << 8, 3);
    if (column != 0) sink.put('\n');
    pending = 0;
    count = 0;
    column = 0;
  }
  piece.end_state = (pending & 0xFFFF) | count << kPendingShift | column << kColumnShift;
  return finishScan(buffer, p, sink);
}

template <class Sink>
bool QuotedPrintableEncoder::scanPiece(ConversionBuffer& buffer, Piece& piece, Sink& sink) const {
  int column = piece.state;
  const std::uint8_t* p = buffer.in_begin;
  const std::uint8_t* const end = buffer.in_end;
  // Writes one character of `width` (1 or 3), with a soft break first when
  // the line would grow too long.
  const auto room = [&](int width) {
    if (column + width > kQuotedLine) {
      sink.put2('=', '\n');
      column = 0;
    }
    column += width;
  };
  const auto escaped = [&](std::uint8_t b) {
    room(3);
    sink.put3('=', static_cast<std::uint8_t>(kHex[b >> 4]),
              static_cast<std::uint8_t>(kHex[b & 15]));
  };
  for (; p != end; ++p) {
    const std::uint8_t b = *p;
    if (b == '\n') {
      sink.put('\n');
      column = 0;
      continue;
    }
    // A CR depends on the byte after it, a space or a tab on the line end
    // that may follow.
    if (!piece.last && (b == '\r' || b == ' ' || b == '\t') &&
        (end - p < 2 || (b != '\r' && p[1] == '\r' && end - p < 3))) {
      break;
    }
    const bool lineEndsAfter =
        end - p < 2 || p[1] == '\n' || (p[1] == '\r' && (end - p < 3 || p[2] == '\n'));
    if (b == '\r' && end - p >= 2 && p[1] == '\n') {
      sink.put2('\r', '\n');
      column = 0;
      ++p;
      continue;
    }
    if ((b == ' ' || b == '\t') && !lineEndsAfter) {
      room(1);
      sink.put(b);
    } else if (b >= 33 && b <= 126 && b != '=') {
      room(1);
      sink.put(b);
    } else {
      escaped(b);
    }
  }
  piece.end_state = piece.last ? 0 : column;
  return finishScan(buffer, p, sink);
}

MEK_PIECE_SCANS(Base64Decoder, Converter);
MEK_PIECE_SCANS(QuotedPrintableDecoder, Converter);
MEK_PIECE_SCANS(Base64Encoder, Converter);
MEK_PIECE_SCANS(QuotedPrintableEncoder, Converter);

namespace {
constinit const Base64Decoder kBase64Decoder;
constinit const QuotedPrintableDecoder kQuotedPrintableDecoder;
constinit const Base64Encoder kBase64Encoder;
constinit const QuotedPrintableEncoder kQuotedPrintableEncoder;
}  // namespace

const Converter* findTransferDecoder(Transfer transfer) {
  switch (transfer) {
    case Transfer::base64:
      return &kBase64Decoder;
    case Transfer::quoted_printable:
      return &kQuotedPrintableDecoder;
    default:
      return nullptr;
  }
}

const Converter* findTransferEncoder(Transfer transfer) {
  switch (transfer) {
    case Transfer::base64:
      return &kBase64Encoder;
    case Transfer::quoted_printable:
      return &kQuotedPrintableEncoder;
    default:
      return nullptr;
  }
}

}  // namespace mek
