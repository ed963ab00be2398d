#include "convert/mime_words.h"

#include <cstring>
#include <utility>

#include "codec/sink.h"
#include "japanese/tables/western_codes.h"
#include "mek/codes.h"
#include "mek/mek.h"
#include "mek/registry.h"

namespace mek {
namespace {

// Where the scan stands between pieces: at the start of a header line, in
// the body, or passing a field or line longer than kMimeFieldLimit as it
// stands (inside a line, or at the start of one that may continue it).
enum : std::int32_t { kLineStart = 0, kBody = 1, kPassing = 2, kPassingLineStart = 3 };

// Charsets that are not codes of their own: the bytes beyond ASCII are
// none, ISO-8859-1's or Windows-1252's.
enum : int { kUsAscii = -1, kLatin1 = -2, kWindows1252 = -3, kUnknown = 0 };

// RFC 2047: an encoded word is at most 75 characters, a header line at most
// 76 (RFC 2045's limit, which mail writers keep to).
constexpr int kWordLimit = 75;
constexpr int kLineLimit = 76;

constexpr std::uint16_t unitAt(const std::uint8_t* p) {
  return static_cast<std::uint16_t>(p[0] << 8 | p[1]);
}
constexpr bool isLineEnd(std::uint16_t u) {
  return u == 0x0A || u == 0x0D;
}
constexpr bool isBlank(std::uint16_t u) {
  return u == 0x20 || u == 0x09;
}
// The characters of a word's parts: printable ASCII but `?`.
constexpr bool isWordUnit(std::uint16_t u) {
  return u >= 0x21 && u <= 0x7E && u != '?';
}
constexpr int base64Value(std::uint16_t u) {
  if (u >= 'A' && u <= 'Z') return u - 'A';
  if (u >= 'a' && u <= 'z') return u - 'a' + 26;
  if (u >= '0' && u <= '9') return u - '0' + 52;
  return u == '+' ? 62 : u == '/' ? 63 : -1;
}
constexpr int hexValue(std::uint16_t u) {
  if (u >= '0' && u <= '9') return u - '0';
  if (u >= 'A' && u <= 'F') return u - 'A' + 10;
  if (u >= 'a' && u <= 'f') return u - 'a' + 10;
  return -1;
}

// Where the line ending at `p` (a CR or an LF) ends; null when a CR ends the
// piece and an LF may follow it in the next.
const std::uint8_t* afterLineEnd(const std::uint8_t* p, const std::uint8_t* end, bool last) {
  if (unitAt(p) == 0x0A) return p + 2;
  if (end - p < 4) return last ? p + 2 : nullptr;
  return unitAt(p + 2) == 0x0A ? p + 4 : p + 2;
}

// How far the field (with `continued`, its continuation lines too) or the
// line that begins at `p` goes: its end after its line ending, or `too_long`
// when it is longer than kMimeFieldLimit, or neither when the piece ends
// before that is known. The answer depends on the text alone, not on where
// pieces end, and what is left for the next piece is at most the limit.
struct Extent {
  const std::uint8_t* end = nullptr;
  bool too_long = false;
};
Extent extentOf(const std::uint8_t* p, const std::uint8_t* end, bool last, bool continued) {
  constexpr auto kLimit = static_cast<std::ptrdiff_t>(kMimeFieldLimit);
  const std::uint8_t* q = p;
  for (;;) {
    const std::uint8_t* e = q;
    while (e != end && !isLineEnd(unitAt(e))) e += 2;
    if (e == end) {
      if (end - p >= kLimit) return {nullptr, true};
      return last ? Extent{end, false} : Extent{};
    }
    const std::uint8_t* next = afterLineEnd(e, end, last);
    if (next == nullptr) return end - p > kLimit ? Extent{nullptr, true} : Extent{};
    if (next - p > kLimit) return {nullptr, true};
    if (!continued) return {next, false};
    if (next == end) return last ? Extent{end, false} : Extent{};
    if (!isBlank(unitAt(next))) return {next, false};
    q = next;
  }
}

// The scan both stages share: the header block a field (`fields`) or a line
// at a time, each given whole to `work(begin, end)`; the empty line and the
// body copied. A field or line that may go on in the next piece is left for
// it.
template <class Sink, class Work>
bool scanHeaderBlock(ConversionBuffer& buffer, Piece& piece, Sink& sink, bool fields, Work work) {
  const std::uint8_t* p = buffer.in_begin;
  // Whole units only: an odd byte at the end of the text is the engine's to
  // refuse.
  const std::uint8_t* const end = p + ((buffer.in_end - p) & ~std::ptrdiff_t{1});
  std::int32_t state = piece.state;
  while (p != end) {
    if (state == kBody) {
      sink.copy(p, static_cast<std::size_t>(end - p));
      p = end;
      break;
    }
    if (state == kPassing) {
      const std::uint8_t* e = p;
      while (e != end && !isLineEnd(unitAt(e))) e += 2;
      const std::uint8_t* next = e == end ? nullptr : afterLineEnd(e, end, piece.last);
      if (next == nullptr) {
        sink.copy(p, static_cast<std::size_t>(e - p));
        p = e;
        break;
      }
      sink.copy(p, static_cast<std::size_t>(next - p));
      p = next;
      state = fields ? kPassingLineStart : kLineStart;
      continue;
    }
    const std::uint16_t u = unitAt(p);
    if (state == kPassingLineStart) {
      state = isBlank(u) ? kPassing : kLineStart;
      continue;
    }
    if (isLineEnd(u)) {
      // The empty line that ends the header block.
      const std::uint8_t* next = afterLineEnd(p, end, piece.last);
      if (next == nullptr) break;
      sink.copy(p, static_cast<std::size_t>(next - p));
      p = next;
      state = kBody;
      continue;
    }
    const Extent extent = extentOf(p, end, piece.last, fields);
    if (extent.too_long) {
      state = kPassing;
      continue;
    }
    if (extent.end == nullptr) break;
    if (!work(p, extent.end)) return false;
    p = extent.end;
  }
  piece.end_state = state;
  return finishScan(buffer, p, sink);
}

// `name` (n letters) without case, '-' and '_', equals `folded`.
bool sameName(const char* name, std::size_t n, const char* folded) {
  std::size_t j = 0;
  for (std::size_t i = 0; i < n; ++i) {
    char c = name[i];
    if (c == '-' || c == '_') continue;
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (folded[j] != c) return false;
    ++j;
  }
  return folded[j] == '\0';
}

// The code number of a word's charset, one of the Western charsets, or
// kUnknown.
int charsetOf(const char* name, std::size_t n) {
  for (const char* ascii : {"usascii", "ascii"}) {
    if (sameName(name, n, ascii)) return kUsAscii;
  }
  for (const char* latin1 : {"iso88591", "latin1"}) {
    if (sameName(name, n, latin1)) return kLatin1;
  }
  for (const char* windows : {"windows1252", "cp1252"}) {
    if (sameName(name, n, windows)) return kWindows1252;
  }
  const std::optional<Code> code = codeFor(std::string_view(name, n));
  if (!code || *code == Code::autodetect || findDecoder(numberOf(*code)) == nullptr) {
    return kUnknown;
  }
  return numberOf(*code);
}

// One encoded word: its charset, B or Q, and its encoded text.
struct Word {
  const std::uint8_t* end = nullptr;
  int charset = kUnknown;
  bool q = false;
  const std::uint8_t* text = nullptr;
  const std::uint8_t* text_end = nullptr;
};

// Reads the encoded word that begins at `p` (at "=?"); false when there is
// none.
bool readWord(const std::uint8_t* p, const std::uint8_t* end, Word& word) {
  const std::uint8_t* q = p + 4;
  char name[64];
  std::size_t n = 0;
  bool language = false;  // after `*` (RFC 2231): the language, not the name
  for (; q != end && isWordUnit(unitAt(q)); q += 2) {
    const auto c = static_cast<char>(unitAt(q));
    if (c == '*') language = true;
    if (language) continue;
    if (n == sizeof name) return false;
    name[n++] = c;
  }
  if (n == 0 || end - q < 6 || unitAt(q) != '?' || unitAt(q + 4) != '?') return false;
  const std::uint16_t kind = unitAt(q + 2) | 0x20;
  if (kind != 'b' && kind != 'q') return false;
  word.q = kind == 'q';
  q += 6;
  word.text = q;
  for (; q != end && isWordUnit(unitAt(q)); q += 2) {
    if (!word.q && base64Value(unitAt(q)) < 0 && unitAt(q) != '=') return false;
  }
  if (end - q < 4 || unitAt(q) != '?' || unitAt(q + 2) != '=') return false;
  word.text_end = q;
  word.end = q + 4;
  word.charset = charsetOf(name, n);
  return true;
}

// Appends the bytes that `word`'s text stands for to `raw` (size `n`).
void wordBytes(const Word& word, std::uint8_t* raw, std::size_t& n) {
  const std::uint8_t* q = word.text;
  if (word.q) {
    while (q != word.text_end) {
      const std::uint16_t u = unitAt(q);
      if (u == '=' && word.text_end - q >= 6 && hexValue(unitAt(q + 2)) >= 0 &&
          hexValue(unitAt(q + 4)) >= 0) {
        raw[n++] =
            static_cast<std::uint8_t>(hexValue(unitAt(q + 2)) << 4 | hexValue(unitAt(q + 4)));
        q += 6;
        continue;
      }
      raw[n++] = u == '_' ? 0x20 : static_cast<std::uint8_t>(u);
      q += 2;
    }
    return;
  }
  std::uint32_t bits = 0;
  int letters = 0;
  for (; q != word.text_end; q += 2) {
    const int value = base64Value(unitAt(q));
    if (value < 0) break;  // the padding
    bits = bits << 6 | static_cast<std::uint32_t>(value);
    if (++letters == 4) {
      raw[n++] = static_cast<std::uint8_t>(bits >> 16);
      raw[n++] = static_cast<std::uint8_t>(bits >> 8);
      raw[n++] = static_cast<std::uint8_t>(bits);
      bits = 0;
      letters = 0;
    }
  }
  if (letters == 2) raw[n++] = static_cast<std::uint8_t>(bits >> 4);
  if (letters == 3) {
    raw[n++] = static_cast<std::uint8_t>(bits >> 10);
    raw[n++] = static_cast<std::uint8_t>(bits >> 2);
  }
}

// Writes the text that `n` bytes of `charset` stand for. `at` is the first
// word they came from, where a failure or a change is placed.
template <class Sink>
bool decodeBytes(int charset, const std::uint8_t* raw, std::size_t n, const std::uint8_t* at,
                 ConversionBuffer& buffer, Sink& sink) {
  if constexpr (requires { sink.from(at); }) sink.from(at);
  const ErrorPolicy* policy = buffer.policy;
  const bool strict = policy == nullptr || policy->action == Errors::strict;
  const std::size_t output = sink.count();
  std::int32_t changes = 0;
  const auto substitute = [&] {
    ++changes;
    if (policy->action == Errors::skip) return;
    for (int i = 0; i < policy->substitute_units; ++i) sink.unit(policy->substitute[i]);
  };
  if (charset < 0) {
    for (std::size_t i = 0; i < n; ++i) {
      const std::uint8_t b = raw[i];
      const std::uint16_t u = b < 0x80                  ? b
                              : charset == kLatin1      ? b
                              : charset == kWindows1252 ? tables::kCp1252High[b - 0x80]
                                                        : std::uint16_t{0xFFFF};
      if (u != 0xFFFF) {
        sink.unit(u);
      } else if (strict) {
        return failScan(buffer, at, kMalformedInput);
      } else {
        substitute();
      }
    }
  } else {
    const Converter* decoder = findDecoder(charset);
    ConversionBuffer measured;
    measured.in_begin = raw;
    measured.in_end = raw + n;
    measured.policy = policy;
    if (!decoder->measure(measured)) return failScan(buffer, at, kMalformedInput);
    // A sequence that the last word cuts off is malformed here: no more
    // bytes come.
    const bool cut = measured.stop != measured.in_end;
    if (cut && strict) return failScan(buffer, at, kMalformedInput);
    const auto size = static_cast<std::size_t>(measured.size);
    changes += measured.changes;
    sink.block([size] { return size; },
               [&](std::uint8_t* out) {
                 ConversionBuffer written = measured;
                 written.in_begin = raw;
                 written.out = out;
                 decoder->convert(written);
                 return out + size;
               });
    if (cut) substitute();
  }
  if (changes != 0) {
    sink.changed(at, output);
    sink.addChanges(changes - 1);
  }
  return true;
}

// Writes [begin, end), the text before a word. A fold right before the word
// (a line end and the blanks after it) is unfolded, as readers of the field
// do (RFC 5322, 2.2.3), so that a word that a writer put on a line of its
// own reads on the line of the text before it.
template <class Sink>
void copyUnfolded(const std::uint8_t* begin, const std::uint8_t* end, Sink& sink) {
  const std::uint8_t* blanks = end;
  while (blanks != begin && isBlank(unitAt(blanks - 2))) blanks -= 2;
  const std::uint8_t* fold = blanks;
  while (fold != begin && isLineEnd(unitAt(fold - 2))) fold -= 2;
  if (fold == blanks || blanks == end) {
    sink.copy(begin, static_cast<std::size_t>(end - begin));
    return;
  }
  sink.copy(begin, static_cast<std::size_t>(fold - begin));
  if (fold == begin || !isBlank(unitAt(fold - 2))) sink.unit(' ');
}

// Writes header field [begin, end) with its encoded words decoded.
template <class Sink>
bool decodeField(const std::uint8_t* begin, const std::uint8_t* end, ConversionBuffer& buffer,
                 Sink& sink) {
  // The bytes of a run of adjacent words of one charset; a word's text gives
  // at most one byte a character, so a field's fit.
  std::uint8_t raw[kMimeFieldLimit / 2];
  std::size_t n = 0;
  int charset = kUnknown;
  const std::uint8_t* first = nullptr;  // the run's first word; null: no run
  const auto endRun = [&] {
    if (first == nullptr) return true;
    const bool ok = decodeBytes(charset, raw, n, first, buffer, sink);
    first = nullptr;
    n = 0;
    return ok;
  };
  const std::uint8_t* copied = begin;     // what is before it is written
  const std::uint8_t* wordEnd = nullptr;  // the end of the last word decoded
  const std::uint8_t* q = begin;
  while (end - q >= 4) {
    Word word;
    if (unitAt(q) != '=' || unitAt(q + 2) != '?' || !readWord(q, end, word) ||
        word.charset == kUnknown) {
      q += 2;
      continue;
    }
    bool adjacent = wordEnd == q;
    if (wordEnd != nullptr && !adjacent) {
      adjacent = true;
      for (const std::uint8_t* w = wordEnd; w != q && adjacent; w += 2) {
        adjacent = isBlank(unitAt(w)) || isLineEnd(unitAt(w));
      }
    }
    if (!adjacent || word.charset != charset) {
      if (!endRun()) return false;
    }
    // White space between two adjacent words is dropped (RFC 2047, 6.2).
    if (!adjacent) copyUnfolded(copied, q, sink);
    if (first == nullptr) {
      first = q;
      charset = word.charset;
    }
    wordBytes(word, raw, n);
    q = copied = wordEnd = word.end;
  }
  if (!endRun()) return false;
  sink.copy(copied, static_cast<std::size_t>(end - copied));
  return true;
}

// The length of B or Q text for `n` bytes.
std::size_t encodedLength(const std::uint8_t* bytes, std::size_t n, bool q) {
  if (!q) return (n + 2) / 3 * 4;
  std::size_t length = 0;
  for (std::size_t i = 0; i < n; ++i) {
    const std::uint8_t b = bytes[i];
    const bool plain = (b >= '0' && b <= '9') || (b >= 'A' && b <= 'Z') || (b >= 'a' && b <= 'z') ||
                       b == ' ' || std::strchr("!*+-/", b) != nullptr;
    length += plain && b != 0 ? 1 : 3;
  }
  return length;
}

template <class Sink>
void putAscii(Sink& sink, const char* text) {
  for (; *text != '\0'; ++text) sink.unit(static_cast<std::uint8_t>(*text));
}

// Writes one encoded word of `n` bytes.
template <class Sink>
void putWord(Sink& sink, const char* charset, const std::uint8_t* bytes, std::size_t n, bool q) {
  static constexpr char kLetters[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  static constexpr char kHex[] = "0123456789ABCDEF";
  putAscii(sink, "=?");
  putAscii(sink, charset);
  putAscii(sink, q ? "?Q?" : "?B?");
  if (q) {
    for (std::size_t i = 0; i < n; ++i) {
      const std::uint8_t b = bytes[i];
      if (b == ' ') {
        sink.unit('_');
      } else if (encodedLength(&b, 1, true) == 1) {
        sink.unit(b);
      } else {
        sink.unit('=');
        sink.unit(static_cast<std::uint8_t>(kHex[b >> 4]));
        sink.unit(static_cast<std::uint8_t>(kHex[b & 15]));
      }
    }
  } else {
    for (std::size_t i = 0; i < n; i += 3) {
      std::uint32_t group = std::uint32_t{bytes[i]} << 16;
      if (i + 1 < n) group |= std::uint32_t{bytes[i + 1]} << 8;
      if (i + 2 < n) group |= bytes[i + 2];
      for (std::size_t k = 0; k < 4; ++k) {
        sink.unit(i + k <= n ? static_cast<std::uint8_t>(kLetters[(group >> (18 - 6 * k)) & 63])
                             : '=');
      }
    }
  }
  putAscii(sink, "?=");
}

// Writes header line [begin, end) (its line ending included) as encoded
// words, when it holds a character beyond ASCII.
template <class Sink>
bool encodeLine(const std::uint8_t* begin, const std::uint8_t* end, int code, bool q,
                ConversionBuffer& buffer, Sink& sink) {
  const std::uint8_t* lineEnd = begin;
  bool ascii = true;
  for (; lineEnd != end && !isLineEnd(unitAt(lineEnd)); lineEnd += 2) {
    ascii = ascii && unitAt(lineEnd) < 0x80;
  }
  if (ascii) {
    sink.copy(begin, static_cast<std::size_t>(end - begin));
    return true;
  }
  // What stays as it stands: the field name and ": ", or the white space
  // that begins a continuation line.
  const std::uint8_t* rest = begin;
  while (rest != lineEnd && isWordUnit(unitAt(rest)) && unitAt(rest) != ':') rest += 2;
  if (rest != begin && lineEnd - rest >= 4 && unitAt(rest) == ':' && unitAt(rest + 2) == ' ') {
    rest += 4;
  } else {
    rest = begin;
    while (rest != lineEnd && isBlank(unitAt(rest))) rest += 2;
  }
  sink.copy(begin, static_cast<std::size_t>(rest - begin));
  auto column = static_cast<int>((rest - begin) / 2);
  const auto fold = [&] {
    if (lineEnd != end) {
      sink.copy(lineEnd, static_cast<std::size_t>(end - lineEnd));
    } else {
      sink.unit(0x0A);
    }
    sink.unit(' ');
    column = 1;
  };
  const Converter* encoder = findEncoder(code == kCodeUtf8Bom ? kCodeUtf8 : code);
  const char* charset = mimeCharsetName(code);
  const auto overhead = static_cast<int>(std::strlen(charset)) + 7;  // =?CHARSET?B??=
  // A word's bytes: as many as a word of 75 characters holds, with room for
  // one more character under any error policy.
  std::uint8_t bytes[256];
  const std::uint8_t* c = rest;
  while (c != lineEnd) {
    const int room =
        (kLineLimit - column < kWordLimit ? kLineLimit - column : kWordLimit) - overhead;
    // The longest run of whole characters from `c` whose word fits.
    const std::uint8_t* fits = c;
    std::size_t fitSize = 0;
    std::int32_t fitChanges = 0;
    for (const std::uint8_t* x = c; x != lineEnd;) {
      x += 2;
      if (x != lineEnd && unitAt(x) >= 0xDC00 && unitAt(x) <= 0xDFFF) x += 2;
      ConversionBuffer measured;
      measured.in_begin = c;
      measured.in_end = x;
      measured.policy = buffer.policy;
      if (!encoder->measure(measured)) {
        return failScan(buffer, measured.stop, measured.size);
      }
      const auto size = static_cast<std::size_t>(measured.size);
      if (size > sizeof bytes) break;
      ConversionBuffer written = measured;
      written.in_begin = c;
      written.out = bytes;
      encoder->convert(written);
      if (static_cast<int>(encodedLength(bytes, size, q)) > room) break;
      fits = x;
      fitSize = size;
      fitChanges = measured.changes;
    }
    if (fits == c) {
      // Not even one character fits after the field name: the words begin
      // on the next line. (A word of one character always fits there.)
      if (column <= 1) return failScan(buffer, c, kOutputTooLarge);
      fold();
      continue;
    }
    ConversionBuffer written;
    written.in_begin = c;
    written.in_end = fits;
    written.policy = buffer.policy;
    written.out = bytes;
    encoder->convert(written);
    // Each character the policy changed, where it stands.
    const std::int32_t placed =
        fitChanges < ConversionBuffer::kChangesKept ? fitChanges : ConversionBuffer::kChangesKept;
    for (std::int32_t k = 0; k < placed; ++k) sink.changed(written.change_at[k], sink.count());
    sink.addChanges(fitChanges - placed);
    putWord(sink, charset, bytes, fitSize, q);
    c = fits;
    if (c != lineEnd) fold();
  }
  sink.copy(lineEnd, static_cast<std::size_t>(end - lineEnd));
  return true;
}

// A sink that only looks for one character in what a scan writes, and
// keeps where in the input the text that gave it begins.
class FindingSink : public CountingSink {
 public:
  FindingSink(char32_t c, std::size_t skip) : skip_(skip) {
    if (c < 0x10000) {
      units_[0] = static_cast<std::uint16_t>(c);
    } else {
      units_[0] = static_cast<std::uint16_t>(0xD800 + ((c - 0x10000) >> 10));
      units_[1] = static_cast<std::uint16_t>(0xDC00 + ((c - 0x10000) & 0x3FF));
      wide_ = true;
    }
  }
  // What follows until the next from() comes from the word run at `at`.
  void from(const std::uint8_t* at) { source_ = at; }
  void unit(std::uint16_t u) {
    look(u, source_);
    CountingSink::unit(u);
  }
  void copy(const std::uint8_t* src, std::size_t n) {
    for (std::size_t i = 0; i + 1 < n; i += 2) look(unitAt(src + i), src + i);
    CountingSink::copy(src, n);
  }
  template <class Count, class Write>
  void block(Count count, Write write) {
    const std::size_t size = count();
    if (found_ == nullptr && size <= sizeof written_) {
      write(written_);
      for (std::size_t i = 0; i + 1 < size; i += 2) look(unitAt(written_ + i), source_);
    }
    CountingSink::block(count, write);
  }
  const std::uint8_t* found() const { return found_; }

 private:
  void look(std::uint16_t u, const std::uint8_t* at) {
    if (found_ != nullptr) return;
    const std::uint8_t* match = nullptr;
    if (u == units_[0] && !wide_) match = at;
    if (wide_ && high_ != nullptr && u == units_[1]) match = high_;
    high_ = u == units_[0] ? at : nullptr;
    if (match != nullptr && skip_-- == 0) found_ = match;
  }

  std::uint16_t units_[2] = {};
  std::size_t skip_;
  bool wide_ = false;
  const std::uint8_t* source_ = nullptr;
  const std::uint8_t* high_ = nullptr;
  const std::uint8_t* found_ = nullptr;
  std::uint8_t written_[2048];
};

}  // namespace

const std::uint8_t* mimeWordSource(const std::uint8_t* begin, const std::uint8_t* end, char32_t c,
                                   std::size_t skip) {
  // The fields are run as the stage ran them, a bad word replaced.
  const ErrorPolicy replace{Errors::replace};
  ConversionBuffer buffer;
  buffer.in_begin = begin;
  buffer.in_end = end;
  buffer.policy = &replace;
  FindingSink sink(c, skip);
  Piece piece;
  scanHeaderBlock(buffer, piece, sink, true,
                  [&](const std::uint8_t* field, const std::uint8_t* fieldEnd) {
                    return decodeField(field, fieldEnd, buffer, sink);
                  });
  return sink.found();
}

template <class Sink>
bool MimeWordDecoder::scanPiece(ConversionBuffer& buffer, Piece& piece, Sink& sink) const {
  return scanHeaderBlock(buffer, piece, sink, true,
                         [&](const std::uint8_t* begin, const std::uint8_t* end) {
                           return decodeField(begin, end, buffer, sink);
                         });
}

template <class Sink>
bool MimeWordEncoder::scanPiece(ConversionBuffer& buffer, Piece& piece, Sink& sink) const {
  return scanHeaderBlock(buffer, piece, sink, false,
                         [&](const std::uint8_t* begin, const std::uint8_t* end) {
                           return encodeLine(begin, end, code_, q_, buffer, sink);
                         });
}

MEK_PIECE_SCANS(MimeWordDecoder, Converter);
MEK_PIECE_SCANS(MimeWordEncoder, Converter);

bool knownMimeCharset(std::string_view name) {
  name = name.substr(0, name.find('*'));
  return !name.empty() && name.size() <= 64 && charsetOf(name.data(), name.size()) != kUnknown;
}

const char* mimeCharsetName(int code) {
  switch (code) {
    case kCodeJis:
    case kCodeIso2022jp:
      return "ISO-2022-JP";
    case kCodeIso2022jp2004:
      return "ISO-2022-JP-2004";
    case kCodeSjis:
      return "Shift_JIS";
    case kCodeCp932:
      return "CP932";
    case kCodeSjis2004:
      return "Shift_JIS-2004";
    case kCodeEucJp:
      return "EUC-JP";
    case kCodeEucjis2004:
      return "EUC-JIS-2004";
    case kCodeEucjpms:
      return "eucJP-ms";
    case kCodeCp51932:
      return "CP51932";
    case kCodeUtf16Be:
      return "UTF-16BE";
    case kCodeUtf16Le:
      return "UTF-16LE";
    case kCodeUtf16BeBom:
    case kCodeUtf16LeBom:
      return "UTF-16";
    case kCodeUtf32Be:
      return "UTF-32BE";
    case kCodeUtf32Le:
      return "UTF-32LE";
    case kCodeUtf32BeBom:
    case kCodeUtf32LeBom:
      return "UTF-32";
    default:
      return "UTF-8";
  }
}

namespace {

constinit const MimeWordDecoder kMimeWordDecoder;

// One encoder per output code and B or Q.
template <class>
struct EncoderTable;
template <std::size_t... I>
struct EncoderTable<std::index_sequence<I...>> {
  MimeWordEncoder b[sizeof...(I)]{MimeWordEncoder(static_cast<int>(I), false)...};
  MimeWordEncoder q[sizeof...(I)]{MimeWordEncoder(static_cast<int>(I), true)...};
};
constinit const EncoderTable<std::make_index_sequence<kCodeCount>> kMimeWordEncoders{};

}  // namespace

const Converter* findMimeWordDecoder() {
  return &kMimeWordDecoder;
}

const Converter* findMimeWordEncoder(int code, Transfer words) {
  if (words == Transfer::none || code <= 0 || code >= kCodeCount || findEncoder(code) == nullptr) {
    return nullptr;
  }
  const auto i = static_cast<std::size_t>(code);
  return words == Transfer::base64 ? &kMimeWordEncoders.b[i] : &kMimeWordEncoders.q[i];
}

}  // namespace mek
