#include "detect/mojibake.h"

#include <algorithm>
#include <cstring>
#include <iterator>
#include <string_view>

#include "detect/kanji_grades.h"
#include "detect/scored_detection.h"
#include "japanese/flat_tables.h"
#include "japanese/shift_jis.h"
#include "japanese/tables/western_codes.h"

namespace mek {
namespace {

// An inverted reading is a run of bytes, some of them lost: the character
// that stood for them was U+FFFD, which says nothing of the bytes. A `?` or
// `・` may stand for lost bytes too, but is also itself; the first code's
// reader takes it as lost only where it cannot be read as itself.
constexpr std::uint16_t kLost = 0x100;
constexpr std::uint16_t kMaybeLost = 0x200;  // with the bytes of the character itself

enum class Reading { cp932, eucjp, cp1252, latin1, cp437, cp850 };
enum class Original { utf8, cp932, eucjp };

struct ChainInfo {
  const char* name;
  Original original;
  Reading reading;
};

constexpr ChainInfo kChainInfo[kChains] = {
    {"none", Original::utf8, Reading::latin1},
    {"utf8 read as cp932", Original::utf8, Reading::cp932},
    {"cp932 read as cp1252", Original::cp932, Reading::cp1252},
    {"cp932 read as latin1", Original::cp932, Reading::latin1},
    {"eucjp read as latin1", Original::eucjp, Reading::latin1},
    {"utf8 read as cp1252", Original::utf8, Reading::cp1252},
    {"utf8 read as latin1", Original::utf8, Reading::latin1},
    {"cp932 read as cp437", Original::cp932, Reading::cp437},
    {"cp932 read as cp850", Original::cp932, Reading::cp850},
    {"utf8 read as eucjp", Original::utf8, Reading::eucjp},
    {"jis without ESC", Original::utf8, Reading::latin1},  // handled apart
};

// The byte of a single-byte code's character, or -1: `high` holds the
// characters of bytes 0x80..0xFF.
int singleByte(const std::uint16_t (&high)[128], char16_t unit) {
  if (unit < 0x80) return unit;
  for (int b = 0; b < 128; ++b) {
    if (high[b] == unit) return 0x80 + b;
  }
  return -1;
}

// Turns the characters back into the bytes that `reading` read them from.
// Answers the bytes' count, or -1 when a character has none.
// The mathematical symbols that cp932 has twice (JIS row 2 and the NEC row
// 13, 87 90..87 9C: ≒ ≡ ∫ √ ⊥ ∠ ∵ ∩ ∪) are given their JIS codes
// (Twins::jis), their row 13 codes (Twins::nec), or, as UTF-8 needs
// (Twins::context), the JIS code where its second byte, a lead byte of
// UTF-8, is followed by a continuation byte, and the row 13 code, two
// continuation bytes, elsewhere.
enum class Twins { jis, nec, context };
constexpr std::uint16_t kTwin = 0x400;  // marks the first byte of a JIS code to weigh

std::uint16_t necCode(char16_t unit) {
  for (std::uint16_t nec = 0x8790; nec <= 0x879C; ++nec) {
    if (kCp932HighToUnicode[sjisHighIndex(0x87, nec & 0xFF)] == unit) return nec;
  }
  return 0;
}

long invertReading(Reading reading, const char16_t* text, std::size_t size, std::uint16_t* out,
                   Twins twins, bool& twice_coded) {
  std::size_t n = 0;
  bool marked = false;
  for (std::size_t i = 0; i < size; ++i) {
    const char16_t unit = text[i];
    if (unit == 0xFFFD) {
      out[n++] = kLost;
      continue;
    }
    const std::uint16_t maybe = unit == u'?' || unit == u'・' ? kMaybeLost : 0;
    int byte = -1;
    switch (reading) {
      case Reading::latin1:
        byte = unit < 0x100 ? unit : -1;
        break;
      case Reading::cp1252:
        byte = singleByte(tables::kCp1252High, unit);
        // The five bytes without a character are read as the C1 controls
        // of the same value (as Windows and the web do).
        if (byte < 0 &&
            (unit == 0x81 || unit == 0x8D || unit == 0x8F || unit == 0x90 || unit == 0x9D)) {
          byte = unit;
        }
        break;
      case Reading::cp437:
        byte = singleByte(tables::kCp437High, unit);
        break;
      case Reading::cp850:
        byte = singleByte(tables::kCp850High, unit);
        break;
      case Reading::cp932: {
        // Windows reads the bytes that cp932 leaves without a character as
        // U+0080 (80) and U+F8F0..U+F8F3 (A0, FD, FE, FF).
        if (unit == 0x80 || unit == 0xF8F0) {
          out[n++] = unit == 0x80 ? 0x80 : 0xA0;
          continue;
        }
        if (unit >= 0xF8F1 && unit <= 0xF8F3) {
          out[n++] = static_cast<std::uint16_t>(0xFD + (unit - 0xF8F1));
          continue;
        }
        std::uint16_t code = kUnicodeToCp932Code[unit];
        std::uint16_t twin = 0;
        if (code >= 0x8100 && code < 0x8200 && necCode(unit) != 0) {
          twice_coded = true;
          if (twins == Twins::nec) code = necCode(unit);
          if (twins == Twins::context) twin = kTwin;
          marked = marked || twin != 0;
        }
        if (code == kNoMapping || (unit >= 0xE000 && unit <= 0xF8FF)) return -1;
        // Only a character that reads back as itself: no twin's code.
        const std::uint16_t back =
            code < 0x100 ? (code < 0x80 ? code : kCp932HighToUnicode[sjisHighIndex(code, 0)])
                         : kCp932HighToUnicode[sjisHighIndex(code >> 8, code & 0xFF)];
        if (back != unit) return -1;
        if (code >= 0x100) out[n++] = (code >> 8) | maybe | twin;
        out[n++] = (code & 0xFF) | maybe;
        continue;
      }
      case Reading::eucjp: {
        const std::uint16_t code = kUnicodeToJisCode[unit];
        if (code == kNoMapping) return -1;
        if (code < 0x80) {
          out[n++] = code | maybe;
        } else if (code < 0x100) {
          if (code < 0xA1 || code > 0xDF) return -1;  // the JIS X 0201 Roman 5C, 7E
          out[n++] = 0x8E;
          out[n++] = code;
        } else if (code & kJisX0212Flag) {
          out[n++] = 0x8F;
          out[n++] = ((code >> 8) & 0x7F) | 0x80;
          out[n++] = (code & 0xFF) | 0x80;
        } else {
          out[n++] = (code >> 8) | 0x80 | maybe;
          out[n++] = (code & 0xFF) | 0x80 | maybe;
        }
        continue;
      }
    }
    if (byte < 0) return -1;
    out[n++] = static_cast<std::uint16_t>(byte) | maybe;
  }
  for (std::size_t i = 0; marked && i + 1 < n; ++i) {
    if ((out[i] & kTwin) == 0) continue;
    out[i] &= ~kTwin;
    const std::uint16_t next = i + 2 < n ? out[i + 2] : kLost;
    if ((next & (kLost | kMaybeLost)) == 0 && (next & 0xC0) == 0x80) continue;
    const std::uint16_t code = static_cast<std::uint16_t>(out[i] << 8 | out[i + 1]);
    const std::uint16_t nec = necCode(kCp932HighToUnicode[sjisHighIndex(code >> 8, code & 0xFF)]);
    out[i] = nec >> 8;
    out[i + 1] = nec & 0xFF;
  }
  return static_cast<long>(n);
}

struct Decoded {
  long size = -1;  // -1: the bytes do not read in the code
  std::size_t lost = 0;
  // Bytes beyond ASCII that were read (not lost) and took their place in
  // the code's sequences after a lead byte that was read: the evidence that
  // lost bytes leave. (Up to three continuation bytes after a lost one fit
  // anything, such as the bytes of a kana in cp932.)
  std::size_t known = 0;
  // What Japanese text in UTF-8 does not give around lost bytes: a lead
  // byte read whose character was cut and that begins no character of it
  // (only E3..E9 and EF do: kana, CJK symbols, kanji, full-width forms), or
  // a lost character not of three bytes.
  std::size_t odd = 0;
  // Characters lost where a reading dropped bytes (a guess, not a U+FFFD of
  // the line): they prove nothing.
  std::size_t dropped = 0;
  // Stripped escapes: every stretch between $B and (B holds a character
  // that no name of a shell or Perl variable holds ($B8G(B may be $B8G
  // and (B; $B?)(B may not).
  bool framed = false;
};

bool lost(std::uint16_t b) {
  return (b & kLost) != 0;
}
bool maybeLost(std::uint16_t b) {
  return (b & kMaybeLost) != 0;
}
std::uint8_t byteOf(std::uint16_t b) {
  return static_cast<std::uint8_t>(b);
}
bool continuation(std::uint16_t b) {
  return !lost(b) && (b & 0xC0) == 0x80;
}

// A character that may stand for lost bytes, from bytes[i]: how many bytes
// it gave (one or two).
std::size_t maybeLostSpan(const std::uint16_t* bytes, std::size_t i, std::size_t size) {
  return i + 1 < size && maybeLost(bytes[i + 1]) && byteOf(bytes[i]) == 0x81 &&
                 byteOf(bytes[i + 1]) == 0x45
             ? 2
             : 1;
}

void put(char16_t* out, long& n, char32_t c) {
  if (c >= 0x10000) {
    c -= 0x10000;
    out[n++] = static_cast<char16_t>(0xD800 + (c >> 10));
    out[n++] = static_cast<char16_t>(0xDC00 + (c & 0x3FF));
  } else {
    out[n++] = static_cast<char16_t>(c);
  }
}

// UTF-8 with lost bytes. The characters between two that are whole (or
// ASCII) form a run of lost bytes and continuation bytes, perhaps after a
// lead byte that kept some of its continuation bytes; the run must split into
// characters that each begin with a lost byte (the lead byte at its start
// aside) and hold two to four bytes, and it is written as one U+FFFD for each
// character of the split, the one with the most characters of three bytes
// (as Japanese characters are). With `pairs` (a reading in pairs, cp932 or
// EUC-JP, which may have kept a lead byte at the end without its partner),
// a run that the end of the line cuts off may end in a shorter character.
// With `unsized` each lost unit stands for one byte or more (a
// character that an earlier turn lost), so a character may be a single lost
// unit. With `dropped` (a reading that dropped the bytes it had no
// character for, as cp1252 readers often do), a character with too few
// continuation bytes lost its last ones.
struct Run {
  std::size_t begin = 0;
  std::size_t end = 0;
  int lead = 0;  // the length its first byte gives when that was read, or 0
};

// The characters of the split of `run`, or 0 when there is none; adds
// those not of three bytes to `uneven`.
std::size_t splitRun(const std::uint16_t* bytes, std::size_t size, const Run& run, bool unsized,
                     bool pairs, std::size_t& uneven) {
  // best[k % 5]: the split of the first k bytes as (characters not of three
  // bytes) * 2^32 + characters, or kNone.
  constexpr std::uint64_t kNone = ~std::uint64_t{0};
  std::uint64_t best[5] = {0, kNone, kNone, kNone, kNone};
  const std::size_t length = run.end - run.begin;
  const bool cut = pairs && run.end == size;
  for (std::size_t k = 0; k < length; ++k) {
    const std::uint64_t from = best[k % 5];
    best[(k + 4) % 5] = kNone;  // not yet reached: k + 4 lies ahead
    if (from == kNone) continue;
    const std::uint16_t b = bytes[run.begin + k];
    const bool lostLike = lost(b) || maybeLost(b);
    // A lost unit of unknown length may hold the lead byte of the next
    // character too.
    const bool afterUnsized = unsized && k > 0 && lost(bytes[run.begin + k - 1]);
    const bool start = (k == 0 && run.lead != 0) || lostLike || afterUnsized;
    if (!start) continue;
    for (std::size_t l = 1; l <= 4 && k + l <= length; ++l) {
      const bool endsLost = unsized && lost(bytes[run.begin + k + l - 1]);
      const bool whole = k == 0 && run.lead != 0
                             ? l == static_cast<std::size_t>(run.lead) ||
                                   (endsLost && l < static_cast<std::size_t>(run.lead))
                             : l >= 2 || (lostLike && (unsized || maybeLost(b))) || endsLost;
      if (!whole && !(cut && k + l == length)) continue;
      const std::uint64_t value = from + (l == 3 ? 0 : std::uint64_t{1} << 32) + 1;
      std::uint64_t& to = best[(k + l) % 5];
      if (to == kNone || value < to) to = value;
    }
  }
  const std::uint64_t all = best[length % 5];
  if (all == kNone) return 0;
  uneven += static_cast<std::size_t>(all >> 32);
  return static_cast<std::size_t>(all & 0xFFFFFFFF);
}

Decoded readUtf8(const std::uint16_t* bytes, std::size_t size, char16_t* out, bool dropped,
                 bool unsized, bool pairs) {
  Decoded d;
  long n = 0;
  std::size_t i = 0;
  // Ends the run of lost characters [run.begin, i): false when it does not
  // split into characters.
  const auto lose = [&](const Run& run) {
    const std::size_t characters = splitRun(bytes, size, run, unsized, pairs, d.odd);
    if (characters == 0) return false;
    for (std::size_t k = 0; k < characters; ++k) out[n++] = 0xFFFD;
    d.lost += characters;
    return true;
  };
  // The run from `begin`: every lost byte and continuation byte after it.
  const auto extend = [&](Run run, std::size_t from) {
    std::size_t j = from;
    while (j < size) {
      if (lost(bytes[j]) || (continuation(bytes[j]) && !maybeLost(bytes[j]))) {
        ++j;
      } else if (maybeLost(bytes[j]) && byteOf(bytes[j]) >= 0x80) {
        j += maybeLostSpan(bytes, j, size);
      } else {
        break;
      }
    }
    run.end = j;
    return run;
  };
  while (i < size) {
    const std::uint16_t b = bytes[i];
    if (lost(b) || (maybeLost(b) && byteOf(b) >= 0x80)) {
      const Run run = extend(Run{i, i, 0}, i);
      if (!lose(run)) return {};
      i = run.end;
      continue;
    }
    const std::uint8_t lead = byteOf(b);
    if (lead < 0x80) {
      out[n++] = lead;
      ++i;
      continue;
    }
    const int length = lead >= 0xC2 && lead <= 0xDF   ? 2
                       : lead >= 0xE0 && lead <= 0xEF ? 3
                       : lead >= 0xF0 && lead <= 0xF4 ? 4
                                                      : 0;
    if (length == 0) return {};
    char32_t c = lead & (0x3F >> (length - 1));
    std::size_t j = i + 1;
    for (; j < i + length && j < size && continuation(bytes[j]); ++j) {
      c = c << 6 | (byteOf(bytes[j]) & 0x3F);
    }
    if (j == i + length) {
      const char32_t least = length == 2 ? 0x80 : length == 3 ? 0x800 : 0x10000;
      if (c < least || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) return {};
      put(out, n, c);
      d.known += static_cast<std::size_t>(length);
      i = j;
      continue;
    }
    if (j < size && !lost(bytes[j]) && !maybeLost(bytes[j])) {
      // A byte that is neither lost nor a continuation came too early.
      if (!dropped) return {};
      out[n++] = 0xFFFD;  // a dropped byte: what follows begins a character
      ++d.lost;
      ++d.dropped;
      i = j;
      continue;
    }
    d.known += j - i;
    if (!(lead >= 0xE3 && lead <= 0xE9) && lead != 0xEF) ++d.odd;
    // A `?` where a continuation byte belongs stands for lost bytes.
    const std::size_t from = j < size && maybeLost(bytes[j]) && byteOf(bytes[j]) < 0x80 ? j + 1 : j;
    const Run run = extend(Run{i, j, length}, from);
    if (!lose(run)) return {};
    i = run.end;
  }
  d.size = n;
  return d;
}

// cp932 with lost bytes: a lost byte is a lead byte (the bytes that cp1252
// has no character for all are), and takes its trail byte with it.
Decoded readCp932(const std::uint16_t* bytes, std::size_t size, char16_t* out) {
  Decoded d;
  long n = 0;
  for (std::size_t i = 0; i < size;) {
    const std::uint16_t b = bytes[i];
    if (lost(b)) {
      // Lost bytes in a row were characters of two bytes, as Japanese
      // characters are: one U+FFFD for each pair; an odd one out is a lead
      // byte that takes its trail byte with it.
      std::size_t run = 0;
      while (i < size && lost(bytes[i])) ++run, ++i;
      for (std::size_t k = 0; k < (run + 1) / 2; ++k) out[n++] = 0xFFFD;
      d.lost += (run + 1) / 2;
      if (run % 2 == 1 && i < size && byteOf(bytes[i]) >= 0x40 && byteOf(bytes[i]) != 0x7F) ++i;
      continue;
    }
    const std::uint8_t lead = byteOf(b);
    if (lead < 0x80) {
      out[n++] = lead;
      ++i;
      continue;
    }
    // Bytes that lead nothing read as Windows reads them: 80 as U+0080, A0
    // and FD..FF as U+F8F0..U+F8F3 (UTF-8 read as cp932 gives them where a
    // continuation byte stands first).
    if (lead == 0x80 || lead == 0xA0 || lead >= 0xFD) {
      out[n++] = lead == 0x80 ? 0x80 : lead == 0xA0 ? 0xF8F0 : 0xF8F1 + (lead - 0xFD);
      ++i;
      continue;
    }
    const bool single = lead >= 0xA1 && lead <= 0xDF;
    if (!single && (i + 1 >= size || lost(bytes[i + 1]))) {
      if (i + 1 >= size) return {};
      out[n++] = 0xFFFD;
      ++d.lost;
      i += 2;
      continue;
    }
    const std::uint16_t unit =
        kCp932HighToUnicode[sjisHighIndex(lead, single ? 0 : byteOf(bytes[i + 1]))];
    if (unit == kNoMapping || (unit >= 0xE000 && unit <= 0xF8FF)) return {};
    out[n++] = unit;
    i += single ? 1 : 2;
  }
  d.size = n;
  return d;
}

// EUC-JP with lost bytes: a lost byte loses the character it is part of.
Decoded readEucjp(const std::uint16_t* bytes, std::size_t size, char16_t* out) {
  Decoded d;
  long n = 0;
  for (std::size_t i = 0; i < size;) {
    const std::uint16_t b = bytes[i];
    const auto lose = [&](std::size_t skip) {
      out[n++] = 0xFFFD;
      ++d.lost;
      i += skip;
    };
    if (lost(b)) {
      // As in cp932: one U+FFFD for each pair of lost bytes in a row.
      std::size_t run = 0;
      while (i < size && lost(bytes[i])) ++run, ++i;
      for (std::size_t k = 0; k < (run + 1) / 2; ++k) out[n++] = 0xFFFD;
      d.lost += (run + 1) / 2;
      if (run % 2 == 1 && i < size && byteOf(bytes[i]) >= 0xA1) ++i;
      continue;
    }
    const std::uint8_t lead = byteOf(b);
    if (lead < 0x80) {
      out[n++] = lead;
      ++i;
      continue;
    }
    const std::size_t length = lead == 0x8F ? 3 : 2;
    if (i + length > size) return {};
    bool broken = false;
    for (std::size_t j = i + 1; j < i + length; ++j) broken = broken || lost(bytes[j]);
    if (broken) {
      lose(length);
      continue;
    }
    const std::uint8_t b1 = byteOf(bytes[i + 1]);
    std::uint16_t unit = kNoMapping;
    if (lead == 0x8E) {
      if (b1 >= 0xA1 && b1 <= 0xDF) unit = kJisX0201ToUnicode[b1];
    } else if (lead == 0x8F) {
      const std::uint8_t b2 = byteOf(bytes[i + 2]);
      if (b1 >= 0xA1 && b1 <= 0xFE && b2 >= 0xA1 && b2 <= 0xFE) {
        unit = kJisX0212ToUnicode[(b1 - 0xA1) * kJisSide + (b2 - 0xA1)];
      }
    } else if (lead >= 0xA1 && lead <= 0xFE && b1 >= 0xA1 && b1 <= 0xFE) {
      unit = kJisX0208ToUnicode[(lead - 0xA1) * kJisSide + (b1 - 0xA1)];
    }
    if (unit == kNoMapping) return {};
    out[n++] = unit;
    i += length;
  }
  d.size = n;
  return d;
}

// ISO-2022-JP whose ESC bytes were stripped: `$B` or `$@` in ASCII starts
// JIS X 0208,
// read in pairs, and `(B` or `(J` at a pair's place returns to ASCII. The
// text must switch at least once and end in ASCII.
bool nameCharacter(char16_t c) {
  return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || (c >= u'0' && c <= u'9') ||
         c == u'_';
}

Decoded readJisWithoutEsc(const char16_t* text, std::size_t size, char16_t* out) {
  Decoded d;
  long n = 0;
  bool kanji = false;
  bool switched = false;
  bool framed = true;
  bool named = true;  // the stretch so far could be a variable's name
  for (std::size_t i = 0; i < size;) {
    const char16_t c = text[i];
    if (c >= 0x80) return {};
    if (i + 1 < size) {
      const char16_t next = text[i + 1];
      // In kanji mode `$B` and `$@` are ぢ and だ, at a pair's place.
      if (!kanji && c == u'$' && (next == u'B' || next == u'@')) {
        kanji = true;
        switched = true;
        i += 2;
        continue;
      }
      if (kanji && c == u'(' && (next == u'B' || next == u'J')) {
        kanji = false;
        framed = framed && !named;
        named = true;
        i += 2;
        continue;
      }
    }
    if (!kanji) {
      out[n++] = c;
      ++i;
      continue;
    }
    if (i + 1 >= size || c < 0x21 || c > 0x7E || text[i + 1] < 0x21 || text[i + 1] > 0x7E) {
      return {};
    }
    const std::uint16_t unit = kJisX0208ToUnicode[(c - 0x21) * kJisSide + (text[i + 1] - 0x21)];
    if (unit == kNoMapping) return {};
    named = named && nameCharacter(c) && nameCharacter(text[i + 1]);
    out[n++] = unit;
    i += 2;
  }
  if (!switched || kanji) return {};
  d.size = n;
  d.framed = framed;
  return d;
}

// The inverse of one chain over [text, text + size) into `out`.
Decoded undo(Chain chain, const char16_t* text, std::size_t size, char16_t* out,
             RepairScratch& scratch, bool unsized = false) {
  if (chain == Chain::jis_without_esc) return readJisWithoutEsc(text, size, out);
  const ChainInfo& info = kChainInfo[static_cast<int>(chain)];
  // Which of its two codes a symbol had is not known: the line is read with
  // the JIS codes, and when that fails and such a symbol occurs, by their
  // place, then with the NEC ones (UTF-8 read as cp932 gives 87 95 for √
  // where a continuation byte 87 meets 95).
  bool twice_coded = false;
  for (const Twins twins : {Twins::jis, Twins::context, Twins::nec}) {
    const long bytes = invertReading(info.reading, text, size, scratch.bytes, twins, twice_coded);
    if (bytes < 0) return {};
    const auto count = static_cast<std::size_t>(bytes);
    Decoded d;
    switch (info.original) {
      case Original::utf8:
        d = readUtf8(scratch.bytes, count, out, info.reading == Reading::cp1252, unsized,
                     info.reading == Reading::cp932 || info.reading == Reading::eucjp);
        break;
      case Original::cp932:
        d = readCp932(scratch.bytes, count, out);
        break;
      case Original::eucjp:
        d = readEucjp(scratch.bytes, count, out);
        break;
    }
    if (d.size >= 0 || !twice_coded) return d;
  }
  return {};
}

// The acceptance rule (see clearlyBetter).
// A character that counts as Japanese weighs at least this in the scorer:
// kana, CJK punctuation and level-1 kanji. Level-2 kanji and half-width
// katakana do not: they are what accented Western letters read as in cp932
// (é and the next letter give a level-2 kanji, À..ß half-width katakana),
// whereas the codes of real text lead mostly with 81..83 and 88..98.
constexpr std::int64_t kJapaneseWeight = 90;
constexpr std::int64_t kMinJapanese = 2;
constexpr std::int64_t kLostShare = 1;
constexpr std::int64_t kJapaneseShare = 50;
constexpr std::int64_t kRepairMargin = 2000;
constexpr std::int64_t kAloneShare = 33;
// A candidate that took the same turns as the line repaired last gets this
// much on its score when candidates are ranked: a short line often reads
// as Japanese through two chains (書式 as cp932 read as cp437, ÅæÄ«, is 宕朝
// as EUC-JP read as Latin-1), and the lines of one text took one turn.
constexpr std::int64_t kSameTurnsBonus = 1000;
constexpr std::int64_t kUtf8RepairMargin = 0;
// Far above any score difference of a line (scores are hundredths of a mean
// weight).
constexpr std::int64_t kEucjpKanaBonus = 1000000;
// A candidate taken only for the C1 controls it explains comes after all
// others.
constexpr std::int64_t kControlsBehind = 10 * kEucjpKanaBonus;
// So does one taken only by the rule of few bytes in place for a line that is
// mostly U+FFFD (kDenseLoss).
constexpr std::int64_t kDenseBehind = 5 * kEucjpKanaBonus;
// A reading of UTF-8 that lost bytes is taken by itself when at least this
// many bytes beyond ASCII were read and fell into place around the lost ones
// (each such byte had about one chance in four to fit by chance), and by the
// same-turn rule with this many.
constexpr std::size_t kMinKnown = 5;
// A line that is mostly U+FFFD already (at least this many for each other
// character beyond ASCII) lost its text to a reader before: UTF-8 read as
// EUC-JP keeps little else, and no clean text looks so. Fewer bytes in
// place then tell the turn.
constexpr std::int64_t kDenseLoss = 2;
constexpr std::size_t kMinDenseKnown = 1;
constexpr std::size_t kMinSameTurnKnown = 1;
// Such hiragana make at least one in this many of a damaged line's
// characters. Of the readings of UTF-8 of Japanese text as cp932 and EUC-JP
// (4,000 lines of the evaluation's texts each) 4 lines hold any, at most one
// in ten; beneath a Western turn (UTF-8 read as cp1252 or Latin-1 first) a
// third of the lines hold some, at most one in five; of the same Japanese
// lines with U+FFFD for half their characters or a fifth, more than half.
constexpr std::int64_t kDamagedShare = 8;
constexpr std::int64_t kDamagedShareBeneathWestern = 4;
// Characters beyond ASCII in a row, each the one after the one before, are a
// table or an alphabet (ÀÁÂÃÄÅÆÇ…), whatever a reading makes of them.
constexpr std::size_t kListing = 12;
// Half-width katakana from cp932 is preferred to the EUC-JP pairs of the
// same bytes with this many kana or more, its voiced marks in place.
constexpr std::size_t kMinMarkedKana = 6;

// What the acceptance rule weighs of a text: the score of its characters
// beyond ASCII, as the detection scorer weighs characters; how many of them
// are Japanese, and how many of those stand alone between ASCII characters
// with a letter beside them; and its ASCII characters.
struct Weighed {
  std::int64_t score = 0;
  std::int64_t japanese = 0;
  std::int64_t alone = 0;
  std::int64_t kana = 0;
  std::int64_t kanji = 0;
  std::int64_t beyond_ascii = 0;
  std::int64_t ascii = 0;
  std::int64_t western = 0;     // Latin letters beyond ASCII and general punctuation
  std::int64_t half_width = 0;  // half-width katakana
  std::int64_t controls = 0;    // C1 controls (U+0080..U+009F)
  std::int64_t foreign = 0;     // beyond ASCII, not of the Japanese repertoire
  // Beyond ASCII, in a run of at most three beside a Latin letter.
  std::int64_t beside_letter = 0;
  std::int64_t replaced = 0;   // U+FFFD
  std::int64_t long_runs = 0;  // runs of two characters or more beyond ASCII
  std::int64_t common = 0;     // the kanji's kanjiGrade, summed
  // Kana that UTF-8 of Japanese text read as EUC-JP never gives, and those
  // that no UTF-8 of characters below U+10000 gives (kanaBeyondUtf8).
  std::int64_t kana_beyond_utf8 = 0;
  std::int64_t kana_beyond_bmp = 0;
  bool text = false;
};

// Whether UTF-8 read as cp932 or EUC-JP gives the kana c. Its code there
// (82 then 9F..F1 in cp932, A4 or A5 then the cell in EUC-JP) pairs a
// continuation byte of UTF-8 with the byte after it. 1 where that byte is
// a lead of two bytes (C0..E1, っ..め), which UTF-8 of Japanese text seldom
// holds and that of Latin letters often (C3 of ã); 2 where it is a lead of
// four bytes or no byte of UTF-8 read as EUC-JP (ゐ..ん, ヰ..ヶ: F0..F6);
// 0 where it may be anything.
int kanaBeyondUtf8(char16_t c) {
  if ((c >= 0x3090 && c <= 0x3093) || (c >= 0x30F0 && c <= 0x30F6)) return 2;
  return c >= 0x3062 && c <= 0x3081 ? 1 : 0;
}

// How common the kanji c is: 2 taught in elementary school, 1 the rest of
// the kanji in common use, 0 any other (and any character but a kanji).
int kanjiGrade(char16_t c) {
  const std::uint16_t jis = kUnicodeToJisCode[c];
  const int row = (jis >> 8) - 0x20;
  const int cell = (jis & 0xFF) - 0x20;
  if (row < kGradedFirstRow || row > kGradedLastRow || cell < 1 || cell > 94) return 0;
  return kKanjiGrades[(row - kGradedFirstRow) * 94 + cell - 1] - '0';
}

// Whether `character` is of the Japanese repertoire beyond ASCII: CJK
// symbols, kana, kanji, and the full-width and half-width forms.
bool japaneseForm(char16_t c) {
  return (c >= 0x3000 && c <= 0x30FF) || (c >= 0x4E00 && c <= 0x9FFF) ||
         (c >= 0xFF01 && c <= 0xFF9F);
}

// Whether `c` is among the symbols, Greek and Cyrillic letters that JIS X
// 0208 holds beside kana and kanji (general punctuation, arrows, math,
// box pieces, shapes).
bool jisSymbol(char16_t c) {
  return (c >= 0x0391 && c <= 0x03C9) || (c >= 0x0401 && c <= 0x0451) ||
         (c >= 0x2010 && c <= 0x266F);
}

bool asciiLetter(char16_t c) {
  return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z');
}

// Whether text[i] is a letter of a Latin word: not the conversion of a
// printf format (%s, %lld, %li), which Japanese messages put right before
// their words.
bool wordLetter(const char16_t* text, std::size_t i) {
  if (!asciiLetter(text[i])) return false;
  for (std::size_t k = i; k > 0 && i - k < 6;) {
    const char16_t c = text[--k];
    if (c == u'%') return false;
    if (!asciiLetter(c) && !(c >= u'0' && c <= u'9') && c != u'.' && c != u'-') break;
  }
  return true;
}

// Whether the Japanese characters of the run [begin, end) of characters
// beyond ASCII in `text` stand alone among Latin letters, as accented
// letters read as pairs do.
bool runStandsAlone(const char16_t* text, std::size_t size, std::size_t begin, std::size_t end) {
  if (end - begin > 3) return false;
  // Alone when its run stands beside a Latin word, or, two or three long,
  // inside one (F排牌rigt from Förövrigt read as cp437).
  const bool left = begin > 0 && wordLetter(text, begin - 1);
  const bool right = end < size && asciiLetter(text[end]);
  // Two or three kanji or symbols at the start of a word that goes on in
  // small letters are its accented first letters (迅穫ements from
  // Évènements read as cp850, 罵〟lendirilebilir from ölçülendirilebilir
  // read as cp437); Japanese puts a Latin word right after kana (不正な
  // dumpId), after kanji mostly with a space.
  const bool wordStart = begin == 0 || !asciiLetter(text[begin - 1]);
  const bool smallAfter = end + 1 < size && text[end] >= u'a' && text[end] <= u'z' &&
                          text[end + 1] >= u'a' && text[end + 1] <= u'z';
  const bool kanjiLast = !(text[end - 1] >= 0x3040 && text[end - 1] <= 0x30FF);
  // So are two or three after a word of one letter (t排婆 from török, N夫核
  // from Nòvèj read as cp437): Japanese puts kanji after a Latin word
  // (DB設定), seldom after one letter alone.
  const bool oneLetter =
      begin > 0 && asciiLetter(text[begin - 1]) && (begin == 1 || !asciiLetter(text[begin - 2]));
  // And two or three kanji that end a word after small letters are its
  // accented last letters (ucra杵郭 from ucraïnès read as cp437).
  bool kanjiOnly = true;
  for (std::size_t k = begin; k < end; ++k)
    kanjiOnly = kanjiOnly && text[k] >= 0x4E00 && text[k] <= 0x9FFF;
  const bool smallBefore = begin > 1 && text[begin - 1] >= u'a' && text[begin - 1] <= u'z' &&
                           text[begin - 2] >= u'a' && text[begin - 2] <= u'z' && left;
  const bool wordEnd = end == size || !asciiLetter(text[end]);
  return (end - begin == 1 && (left || right)) || (left && right) ||
         (wordStart && smallAfter && kanjiLast) || oneLetter ||
         (smallBefore && wordEnd && kanjiOnly);
}

// Only the characters beyond ASCII are scored: ASCII reads as itself in
// every chain but one and weighs nothing in the scorer, so it would only
// thin out the difference. (The chain of stripped escapes turns ASCII into
// Japanese; its line then scores 0.)
Weighed weigh(const char16_t* text, std::size_t size) {
  ReadingTally tally;
  Weighed w;
  // The run of characters beyond ASCII that holds text[i], found once.
  std::size_t begin = 0;
  std::size_t end = 0;
  bool besideLetter = false;  // a run of at most three with a Latin letter beside it
  bool alone = false;         // its Japanese characters stand alone (runStandsAlone)
  for (std::size_t i = 0; i < size; ++i) {
    const char16_t c = text[i];
    if (c < 0x80) {
      ++w.ascii;
      continue;
    }
    if (i >= end) {
      begin = i;
      end = i + 1;
      while (end < size && text[end] >= 0x80) ++end;
      besideLetter = end - begin <= 3 && ((begin > 0 && asciiLetter(text[begin - 1])) ||
                                          (end < size && asciiLetter(text[end])));
      if (end - begin >= 2) ++w.long_runs;
      alone = runStandsAlone(text, size, begin, end);
    }
    if (c == 0xFFFD) {
      ++w.replaced;
      continue;
    }
    tally.add(c);
    ++w.beyond_ascii;
    if (c <= 0x9F) ++w.controls;
    if (!japaneseForm(c)) ++w.foreign;
    if (besideLetter) ++w.beside_letter;
    if (latinCharacter(c)) ++w.western;
    if (c >= 0xFF61 && c <= 0xFF9F) ++w.half_width;
    if (c >= 0x4E00 && c <= 0x9FFF) {
      ++w.kanji;
      w.common += kanjiGrade(c);
    }
    if (characterWeight(c) < kJapaneseWeight) continue;
    ++w.japanese;
    if (c >= 0x3040 && c <= 0x30FF) ++w.kana;
    const int beyond = kanaBeyondUtf8(c);
    if (beyond != 0) ++w.kana_beyond_utf8;
    if (beyond == 2) ++w.kana_beyond_bmp;
    // 、 and 。 end Latin words in Japanese text too.
    if (c == u'、' || c == u'。') continue;
    if (alone) ++w.alone;
  }
  w.score = tally.score();
  w.text = countsAsText(tally.characters, tally.noise, false);
  return w;
}

// What a reading gave: the turns, what was lost and how many bytes beyond
// ASCII fell into place around the losses in the readings of UTF-8.
struct Candidate {
  Chain outer = Chain::none;
  Chain inner = Chain::none;
  std::size_t lost = 0;
  std::size_t known = 0;
  std::size_t odd = 0;
  // A reading of UTF-8 lost the bytes (rather than a reading of cp932 or
  // EUC-JP, whose characters of two bytes leave little to check).
  bool utf8_lost = false;
  bool utf8 = false;    // the first code was UTF-8
  bool jis = false;     // the first turn stripped the escapes of ISO-2022-JP
  bool framed = false;  // and its stretches are no variables (Decoded::framed)
};

// Whether the candidate's last turn read UTF-8 as cp932 or EUC-JP and
// what lay beneath was Japanese text in UTF-8: no turn before it, or such a
// turn (and no Western one, whose UTF-8 holds the leads of Latin letters).
bool japaneseBeneath(const Candidate& c) {
  const auto readsUtf8 = [](Chain chain) {
    return chain == Chain::utf8_as_cp932 || chain == Chain::utf8_as_eucjp;
  };
  return readsUtf8(c.outer) && (c.inner == Chain::none || readsUtf8(c.inner));
}

// For a candidate whose last turn read UTF-8 as cp932 or EUC-JP: the share
// of hiragana that no such reading gives (kanaBeyondUtf8) from which its line
// is a damaged Japanese line (one in the share answered), or 0 where the
// text beneath may give them (cp932 read as Latin-1, in UTF-8).
std::int64_t damagedShare(const Candidate& c) {
  if (japaneseBeneath(c)) return kDamagedShare;
  const bool western = c.inner == Chain::utf8_as_cp1252 || c.inner == Chain::utf8_as_latin1;
  const bool readsUtf8 = c.outer == Chain::utf8_as_cp932 || c.outer == Chain::utf8_as_eucjp;
  return western && readsUtf8 ? kDamagedShareBeneathWestern : 0;
}

// Whether `repaired` reads clearly better as Japanese text than `line`
// does. The figures were chosen on the corpus of tools/mojibake_eval.py.
// With `dense`, the rule of few bytes in place for a line that is mostly
// U+FFFD (which ranks such a repair behind the others).
bool clearlyBetter(const Weighed& line, const Weighed& repaired, const Candidate& c,
                   bool dense = false) {
  // Bytes beyond ASCII turn into ASCII only where cp932 read a continuation
  // byte of UTF-8 and the ASCII byte after it as a pair (Ы, 84 5C); no
  // other turn makes ASCII of them.
  const bool cp932Pairs = c.outer == Chain::utf8_as_cp932 || c.inner == Chain::utf8_as_cp932;
  if (!cp932Pairs && repaired.ascii > line.ascii) return false;
  // UTF-8 that lost bytes: the bytes that came through must fall into
  // place around the lost ones, enough of them that chance does not explain
  // it, and what came through whole beyond ASCII must be mostly Japanese.
  // (Through EUC-JP most characters are lost; what is left may be ASCII.)
  if (c.lost != 0 && c.utf8_lost) {
    if (!dense && c.known < kMinKnown) return false;
    // Read as cp932 or EUC-JP, UTF-8 of Japanese text gives none of the
    // commonest hiragana (kanaBeyondUtf8): a line of U+FFFD that holds them
    // is a Japanese line a reader damaged before, whose bytes fall into
    // place around the U+FFFD by chance (に弱い as C9 8E and ア).
    const std::int64_t share = damagedShare(c);
    if (share != 0 && line.replaced != 0 && line.kana_beyond_utf8 != 0 &&
        line.kana_beyond_utf8 * share >= line.beyond_ascii) {
      return false;
    }
    if (dense && c.odd != 0) return false;
    if (repaired.beyond_ascii == 0) return true;
    // Half-width katakana alone (a ledger) counts as Japanese here.
    if (repaired.half_width == repaired.beyond_ascii) return true;
    return repaired.text && repaired.japanese * 100 >= repaired.beyond_ascii * kJapaneseShare &&
           repaired.alone * 100 <= repaired.japanese * kAloneShare;
  }
  if (!repaired.text || repaired.japanese == 0) return false;
  // CJK symbols alone are no Japanese text: ü and a letter read as a cp932
  // pair give them (büyük read as cp437 is b【〔). Only UTF-8, whose bytes
  // must fall into place, may give them alone.
  if (!c.utf8 && repaired.kana + repaired.kanji == 0) return false;
  // Nor are kanji that each stand alone without kana (în read as cp437 is
  // 系, a word of one kanji among Western words).
  if (!c.utf8 && !c.jis && repaired.kana == 0 && repaired.long_runs == 0) return false;
  if (static_cast<std::int64_t>(c.lost) * kLostShare > repaired.japanese) return false;
  // Most of what is not ASCII must be Japanese.
  if (repaired.japanese * 100 < repaired.beyond_ascii * kJapaneseShare) return false;
  // An accented Western letter read as a cp932 lead byte takes the letter
  // after it as its trail byte, and gives a kanji alone inside a word
  // (gr批er from größer read as cp437); the characters of Japanese text
  // stand in runs.
  // (UTF-8 takes no ASCII byte into a character.)
  if (!c.utf8 && repaired.alone * 100 > repaired.japanese * kAloneShare) return false;
  // One Japanese character but from UTF-8 (three bytes of its form) must
  // have come from two characters or more, none of them ASCII, stand alone
  // and be kana: two accented letters in a row read as EUC-JP or cp932 give
  // a kanji often enough (ï» as EUC-JP is 怯). Stripped escapes around one
  // kana ($B$O(B) are no shell or Perl text.
  if (!c.utf8 && repaired.japanese < kMinJapanese &&
      !(c.jis && ((repaired.kana == 1 && repaired.beyond_ascii == 1) || c.framed)) &&
      (line.beyond_ascii < 2 || repaired.beyond_ascii != 1 || line.ascii != repaired.ascii ||
       repaired.kana != 1)) {
    return false;
  }
  // UTF-8 read in another code is undone only when the bytes form valid
  // multi-byte UTF-8, which the bytes of other text seldom do; its mojibake
  // is itself kanji (縺薙ｓ from こん), so it need only score no worse.
  return repaired.score - line.score >= (c.utf8 ? kUtf8RepairMargin : kRepairMargin);
}

// Whether the CJK brackets of `text` pair up: each closing one after an
// opening one of its kind, none left open. An accented letter and the
// letter after it read as a cp932 pair give them alone (ömür read as cp437
// is 芭〉).
bool bracketsPair(const char16_t* text, std::size_t size) {
  static constexpr std::u16string_view kOpen = u"〈《「『【〔（［｛";
  static constexpr std::u16string_view kClose = u"〉》」』】〕）］｝";
  int open[kOpen.size()] = {};
  for (std::size_t i = 0; i < size; ++i) {
    const std::size_t o = kOpen.find(text[i]);
    if (o != std::u16string_view::npos) {
      ++open[o];
      continue;
    }
    const std::size_t c = kClose.find(text[i]);
    if (c != std::u16string_view::npos && open[c]-- == 0) return false;
  }
  for (const int n : open) {
    if (n != 0) return false;
  }
  return true;
}

// Whether `line` is Western text in cp1252 read as Latin-1 (It\x92s, a
// \x93quote\x94): nothing but Latin-1, with C1 controls that are each a
// typographic mark of cp1252 where such a mark stands: quotes, dashes,
// bullets, the ellipsis, the euro and trade marks. A Japanese text in
// cp932 read so has lead bytes there, and its commonest (81..83, 88..90:
// symbols, kana, the first kanji) are none of these; the others stand
// where such marks do not (\x94é, \x95b). It is left as it stands: Western
// mojibake of Western text.
bool westernCp1252(const char16_t* line, std::size_t size) {
  const auto space = [&](std::size_t i) {
    return i >= size || line[i] == u' ' || line[i] == u'\t' || line[i] == 0xA0;
  };
  bool marks = false;
  for (std::size_t i = 0; i < size; ++i) {
    const char16_t c = line[i];
    if (c > 0xFF) return false;  // not read as Latin-1
    if (c < 0x80 || c > 0x9F) continue;
    const bool before = i == 0 || space(i - 1);  // nothing or a space before it
    bool fits;
    switch (c) {
      case 0x80:  // €
      case 0x85:  // …
      case 0x92:  // ’
      case 0x96:  // –
      case 0x97:  // —
      case 0x99:  // ™
        fits = true;
        break;
      case 0x91:  // ‘
      case 0x93:  // “
        fits = !space(i + 1);
        break;
      case 0x94:  // ”
        fits = !before;
        break;
      case 0x95:  // •
        fits = space(i + 1);
        break;
      default:
        fits = false;
    }
    // Nor does a mark come right before an accented letter or a sign of
    // Latin-1, as a lead byte before its trail byte does.
    if (!fits || (i + 1 < size && line[i + 1] >= 0xA0)) return false;
    marks = true;
  }
  return marks;
}

// Whether `repaired` explains the C1 controls of `line`, which are no
// characters of any text: the line was read in a code that has none there
// (Latin-1, or the five holes of cp1252). A repair from cp932 or EUC-JP
// that leaves none, loses nothing and gives characters of the Japanese
// repertoire only, none of them in a short run beside a Latin letter, needs
// no more ([\x90V as [新, \x8Dš as 忽); it is taken when no candidate is
// clearly better. Western text in cp1252 read as Latin-1 (It\x92s,
// DESCRIPCIÃ\x93N) gives kanji beside letters.
bool explainsControls(const Weighed& line, const Weighed& repaired, const Candidate& c) {
  // (Half-width katakana alone is no such text: × in UTF-8 read as Latin-1
  // is Ã\x97, which cp932 reads as ﾗ.)
  return !c.utf8 && c.lost == 0 && line.controls != 0 && repaired.controls == 0 &&
         repaired.kana + repaired.kanji != 0 && repaired.foreign == 0 &&
         repaired.beside_letter == 0;
}

// The script of a letter beyond ASCII, roughly: the range of its
// alphabet; -1 for marks and punctuation, which any script uses.
int scriptOf(char16_t c) {
  struct Range {
    char16_t first;
    char16_t last;
  };
  static constexpr Range kScripts[] = {
      {0x00C0, 0x02AF},  // Latin
      {0x0370, 0x03FF},  // Greek
      {0x0400, 0x052F},  // Cyrillic
      {0x0530, 0x058F},  // Armenian
      {0x0590, 0x05FF},  // Hebrew
      {0x0600, 0x077F},  // Arabic
      {0x0900, 0x0DFF},  // the Indic scripts, which share their danda (।)
      {0x10A0, 0x10FF},  // Georgian
      {0x1100, 0x11FF},  // Hangul jamo
      {0x1200, 0x139F},  // Ethiopic
      {0x13A0, 0x13FF},  // Cherokee
      {0x1400, 0x167F},  // Canadian syllabics
      {0x1E00, 0x1EFF},  // Latin (Vietnamese)
      {0xAC00, 0xD7AF},  // Hangul
  };
  if ((c >= 0x80 && c <= 0xBF) || (c >= 0x02B0 && c <= 0x036F) || (c >= 0x2000 && c <= 0x2BFF)) {
    return -1;
  }
  for (std::size_t i = 0; i < std::size(kScripts); ++i) {
    if (c >= kScripts[i].first && c <= kScripts[i].last)
      return kScripts[i].first == 0x1E00 ? 0 : static_cast<int>(i);
  }
  return 64 + (c >> 7);  // Thai and the rest, one block each
}

// Whether `text` is text of one script but Japanese: three letters or
// more beyond ASCII, all of one script that is not of the Japanese
// repertoire, and nothing else beyond ASCII but marks and punctuation
// (Cyrillic in UTF-8 read as cp1252 is Ð°Ð¼). Two EUC-JP kanji may read as
// two such letters in UTF-8 (両両 is Î¾Î¾, ξξ), seldom as three of one
// script, or as two of three bytes (Ethiopic ገጽ).
bool oneOtherScript(const char16_t* text, std::size_t size, bool latin = true) {
  int script = -1;
  std::size_t count = 0;
  bool wide = true;  // every letter three bytes long in UTF-8
  for (std::size_t i = 0; i < size; ++i) {
    const char16_t c = text[i];
    if (c < 0x80 || c == 0xFFFD) continue;
    if (c <= 0x9F || japaneseForm(c) || (c >= 0xD800 && c <= 0xDFFF)) return false;
    const int s = scriptOf(c);
    if (s < 0) continue;
    if (script >= 0 && s != script) return false;
    script = s;
    ++count;
    wide = wide && c >= 0x800;
  }
  if (script == 0 && !latin) return false;
  return count >= 3 || (count == 2 && wide);
}

// Whether `line`, read back into bytes as `reading` read them, is UTF-8 of
// one other script than Latin (oneOtherScript): file names of Cyrillic or
// Ethiopic in UTF-8 read as cp437 (╨╡╨╕ for еи), which are no Japanese
// text's. (Latin so read is also what cp932 read as cp437 becomes when
// its UTF-8 is read as cp1252.)
bool otherScriptBeneath(const char16_t* line, std::size_t size, Reading reading,
                        RepairScratch& scratch) {
  bool twice_coded = false;
  const long bytes = invertReading(reading, line, size, scratch.bytes, Twins::jis, twice_coded);
  if (bytes < 0) return false;
  const Decoded d =
      readUtf8(scratch.bytes, static_cast<std::size_t>(bytes), scratch.second, false, false, false);
  return d.size >= 0 && d.lost == 0 &&
         oneOtherScript(scratch.second, static_cast<std::size_t>(d.size), false);
}

// Whether every half-width voiced mark (ﾞ, ﾟ) of `text` follows a kana that
// takes it, or a character lost: a mark that follows anything else is a
// byte of other text (Þ, read as cp932, is ﾞ).
bool voicedMarksPlaced(const char16_t* text, std::size_t size) {
  for (std::size_t i = 0; i < size; ++i) {
    const char16_t c = text[i];
    if (c != u'ﾞ' && c != u'ﾟ') continue;
    const char16_t base = i == 0 ? u' ' : text[i - 1];
    if (base == 0xFFFD) continue;
    const bool ha = base >= u'ﾊ' && base <= u'ﾎ';
    const bool voiced = base == u'ｳ' || (base >= u'ｶ' && base <= u'ﾄ') || ha;
    if (!(c == u'ﾞ' ? voiced : ha)) return false;
  }
  return true;
}

// Whether `repaired` (nothing lost) is half-width katakana text, which the
// scorer does not count as Japanese (its bytes are what À..ß and the
// symbols of Latin-1 read as): every character beyond ASCII is half-width
// katakana, three or more, and none stands alone beside a Latin letter.
// From UTF-8 that is enough. From the other codes the line must also hold
// a run of four or more characters beyond ASCII (ｲﾄｺｵ as cp932 read as
// cp1252 is ²Äºµ, where Western words have one accented letter at a time),
// whose kana come from both halves, the symbols (ｰ..ｿ) and the capitals
// (ﾀ..ﾟ), as words of kana do and a row of accented capitals (ÀÁÂÃ) or
// guillemets around a letter (»ß«) do not. Box drawings read as cp437 or
// cp850 give half-width katakana too (╔══ as ﾉﾍﾍ): the caller leaves those
// readings out.
bool halfWidthKanaText(const char16_t* repaired, std::size_t size, std::size_t lost, bool utf8) {
  if (lost != 0) return false;
  std::size_t kana = 0;
  bool mixedRun = false;
  std::size_t run = 0;
  bool symbols = false;
  bool capitals = false;
  for (std::size_t i = 0; i < size; ++i) {
    const char16_t c = repaired[i];
    if (c < 0x80) {
      run = 0;
      symbols = capitals = false;
      continue;
    }
    if (c < 0xFF61 || c > 0xFF9F) return false;
    ++kana;
    ++run;
    (c < 0xFF80 ? symbols : capitals) = true;
    mixedRun = mixedRun || (run >= 4 && symbols && capitals);
    const char16_t left = i == 0 ? u' ' : repaired[i - 1];
    const char16_t right = i + 1 == size ? u' ' : repaired[i + 1];
    if (left < 0x80 && right < 0x80 && (asciiLetter(left) || asciiLetter(right))) return false;
  }
  return kana >= 3 && (utf8 || mixedRun);
}

// Whether the half-width katakana `text` holds voiced marks (ﾞ, ﾟ), each
// right after a kana that takes it, and kMinMarkedKana kana or more: names
// in half-width katakana do (ｽﾞｲｾﾝ), whereas EUC-JP text whose bytes all
// lie in A1..DF, read as cp932, puts them after anything (み, A4 DF, as
// ､ﾟ), but for a few characters, where chance fits them (橋爪 as ｶｶﾄﾞ).
bool voicedMarksFit(const char16_t* text, std::size_t size) {
  bool marks = false;
  std::size_t kana = 0;
  for (std::size_t i = 0; i < size; ++i) {
    const char16_t c = text[i];
    kana += c >= 0xFF61 && c <= 0xFF9F;
    marks = marks || c == u'ﾞ' || c == u'ﾟ';
  }
  return marks && kana >= kMinMarkedKana && voicedMarksPlaced(text, size);
}

// Whether a line read as cp437 or cp850 looks like box drawing: a
// character three times in a row (╔═══╗, which reads as ﾉﾍﾍﾍｻ), or a run of
// box pieces from a left end to a right end (╚══╩══╝). A tree (├── tox.ini,
// ﾃﾄﾄ) has no kana of the symbol half; kana read as cp437 give pieces in
// any order (ｲﾄｺｵ as ▓─║╡).
bool drawing(const char16_t* line, std::size_t size) {
  for (std::size_t i = 0; i + 2 < size; ++i) {
    if (line[i] >= 0x80 && line[i] == line[i + 1] && line[i] == line[i + 2]) return true;
  }
  static constexpr std::u16string_view kLeftEnds = u"┌└├╒╓╔╘╙╚╞╟╠";
  static constexpr std::u16string_view kRightEnds = u"┐┘┤╕╖╗╛╜╝╡╢╣";
  static constexpr std::u16string_view kAcross = u"─═┬┴┼╤╥╦╧╨╩╪╫╬";
  for (std::size_t i = 0; i < size; ++i) {
    if (kLeftEnds.find(line[i]) == std::u16string_view::npos) continue;
    std::size_t k = i + 1;
    while (k < size && kAcross.find(line[k]) != std::u16string_view::npos) ++k;
    if (k > i + 1 && k < size && kRightEnds.find(line[k]) != std::u16string_view::npos) {
      return true;
    }
  }
  return false;
}

// Whether the line holds kListing characters beyond ASCII in a row, each the
// one after the one before (or the one after that: Ö Ø skip ×).
bool listing(const char16_t* line, std::size_t size) {
  std::size_t run = 1;
  for (std::size_t i = 1; i < size; ++i) {
    const bool next =
        line[i - 1] >= 0x80 && (line[i] == line[i - 1] + 1 || line[i] == line[i - 1] + 2);
    run = next ? run + 1 : 1;
    if (run >= kListing) return true;
  }
  return false;
}

// Whether `line` holds a run of one to three accented Latin letters (and
// nothing else beyond ASCII) beside an ASCII letter, as a Western word does.
bool accentedBesideLetter(const char16_t* line, std::size_t size) {
  for (std::size_t i = 0; i < size;) {
    if (line[i] < 0x80) {
      ++i;
      continue;
    }
    std::size_t end = i;
    bool letters = true;
    while (end < size && line[end] >= 0x80) {
      const char16_t c = line[end++];
      letters = letters && c >= 0xC0 && c <= 0x24F && c != 0xD7 && c != 0xF7;
    }
    const bool beside =
        (i > 0 && asciiLetter(line[i - 1])) || (end < size && asciiLetter(line[end]));
    if (letters && end - i <= 3 && beside) return true;
    i = end;
  }
  return false;
}

// Whether `repaired` (from `line`) is what the turns the last repaired line
// took make of a line that does not read as Japanese text by itself:
// symbols, Cyrillic or a lone kanji in a dictionary, half-width katakana, a
// lone character that UTF-8 lost bytes of. The lines of one text took one
// turn, so less evidence is needed: from UTF-8, the bytes form valid
// multi-byte UTF-8 (around lost bytes, with `lossy`), which always gives
// fewer characters beyond ASCII; from the other codes, every character
// beyond ASCII is of the Japanese repertoire. With `japanese`, the result
// must also hold a character of that repertoire, or a lost one.
bool sameTurnFits(const char16_t* line, std::size_t size, const char16_t* repaired,
                  std::size_t repairedSize, bool utf8, bool lossy, bool japanese, bool jis) {
  std::int64_t was = 0;  // the line's characters beyond ASCII, U+FFFD too
  for (std::size_t i = 0; i < size; ++i) was += line[i] >= 0x80;
  // ASCII reads as itself but through the stripped escapes.
  if (was == 0 && !jis) return false;
  if (repairedSize == size && std::memcmp(line, repaired, size * sizeof(char16_t)) == 0) {
    return false;
  }
  std::int64_t beyond = 0;
  bool repertoire = true;
  bool seen = false;
  // Only a line whose mojibake holds accented letters beside a Latin letter
  // can hold such a word (DeleteÊ¸, with ¸, is no Western word).
  const bool pairsLikeLetters = accentedBesideLetter(line, size);
  for (std::size_t i = 0; i < repairedSize; ++i) {
    const char16_t c = repaired[i];
    if (c < 0x80) continue;
    ++beyond;
    if (c == 0xFFFD) {
      if (!lossy) return false;
      seen = true;
      continue;
    }
    const bool form = japaneseForm(c);
    // Beside the text of the line before, the symbols, Greek and Cyrillic
    // of JIS X 0208 (☆, ≠, ‥, б) belong to it too (a dictionary's entries).
    repertoire = repertoire && (form || jisSymbol(c));
    seen = seen || form;
    // A kanji alone inside a Latin word is an accented letter and the
    // letter after it read as a pair (Ação as cp932 read as cp1252); a
    // printf conversion (%lld日) is no word.
    const bool left = i > 0 && repaired[i - 1] < 0x80 && wordLetter(repaired, i - 1);
    const bool right =
        i + 1 < repairedSize && repaired[i + 1] < 0x80 && asciiLetter(repaired[i + 1]);
    const bool leftAscii = i == 0 || repaired[i - 1] < 0x80;
    const bool rightAscii = i + 1 == repairedSize || repaired[i + 1] < 0x80;
    // A kana is no such pair (OldestMultiのDB): Western text seldom holds
    // the bytes before a kana's (¤, ‚ or é, and one more beyond ASCII).
    const bool kana = c >= 0x3041 && c <= 0x30FF;
    if (!utf8 && pairsLikeLetters && leftAscii && rightAscii && (left || right) && !kana) {
      return false;
    }
  }
  if (beyond == 0 || (japanese && !seen)) return false;
  return utf8 ? beyond < was : repertoire;
}

bool fromUtf8(Chain chain) {
  return chain != Chain::jis_without_esc &&
         kChainInfo[static_cast<int>(chain)].original == Original::utf8;
}

// Undoes the turns (outer, then inner when there is one) into `text`,
// which points into the scratch.
Decoded undoTurns(Chain outer, Chain inner, const char16_t* line, std::size_t size,
                  RepairScratch& scratch, const char16_t*& text, Candidate& c) {
  c = Candidate{outer, inner};
  const Decoded once = undo(outer, line, size, scratch.first, scratch);
  text = scratch.first;
  if (once.size < 0 || inner == Chain::none) {
    c.lost = once.lost;
    c.known = once.known;
    c.odd = once.odd;
    c.utf8 = fromUtf8(outer);
    c.utf8_lost = once.lost != 0 && once.dropped == 0 && c.utf8;
    c.jis = outer == Chain::jis_without_esc;
    c.framed = once.framed;
    return once;
  }
  if (static_cast<std::size_t>(once.size) > kMaxRepairLine) return {};
  const Decoded twice = undo(inner, scratch.first, static_cast<std::size_t>(once.size),
                             scratch.second, scratch, once.lost != 0);
  text = scratch.second;
  c.lost = twice.lost;
  c.known = once.known + twice.known;
  c.odd = once.odd + twice.odd;
  c.utf8 = fromUtf8(inner);
  c.utf8_lost = once.dropped == 0 && twice.dropped == 0 &&
                ((once.lost != 0 && fromUtf8(outer)) || (twice.lost != 0 && c.utf8));
  c.jis = inner == Chain::jis_without_esc;
  c.framed = twice.framed;
  return twice;
}

// The same-turn rule for the turns (outer, inner): the line repaired into
// `out`, or nothing.
LineRepair sameTurns(Chain outer, Chain inner, const char16_t* line, std::size_t size,
                     char16_t* out, RepairScratch& scratch, const Weighed& before) {
  const char16_t* text = nullptr;
  Candidate c;
  const Decoded d = undoTurns(outer, inner, line, size, scratch, text, c);
  if (d.size < 0) return {};
  const bool lossy = c.lost != 0;
  if (lossy && (!c.utf8_lost || (c.known < kMinSameTurnKnown && before.beyond_ascii != 0))) {
    return {};
  }
  if (!sameTurnFits(line, size, text, static_cast<std::size_t>(d.size), c.utf8, lossy, false,
                    c.jis)) {
    return {};
  }
  LineRepair done{outer, inner, static_cast<std::size_t>(d.size), c.lost};
  std::memcpy(out, text, done.size * sizeof(char16_t));
  return done;
}

bool asciiOnly(const char16_t* line, std::size_t size) {
  for (std::size_t i = 0; i < size; ++i) {
    if (line[i] >= 0x80) return false;
  }
  return true;
}

}  // namespace

const char* chainName(Chain chain) {
  return kChainInfo[static_cast<int>(chain)].name;
}

std::string turnsName(Chain outer, Chain inner) {
  if (inner == Chain::none) return chainName(outer);
  if (inner == outer) return std::string(chainName(outer)) + " twice";
  return std::string(chainName(inner)) + ", then " + chainName(outer);
}

LineRepair repairWithTurns(const char16_t* line, std::size_t size, char16_t* out,
                           RepairScratch& scratch, Chain outer, Chain inner) {
  if (size == 0 || size > kMaxRepairLine || outer == Chain::none) return {};
  if (asciiOnly(line, size) != (outer == Chain::jis_without_esc)) return {};
  return sameTurns(outer, inner, line, size, out, scratch, weigh(line, size));
}

LineRepair repairLine(const char16_t* line, std::size_t size, char16_t* out, RepairScratch& scratch,
                      const LineRepair& previous) {
  LineRepair best;
  if (size == 0 || size > kMaxRepairLine) return best;
  const bool ascii = asciiOnly(line, size);
  if (listing(line, size)) return best;
  if (westernCp1252(line, size)) {
    // UTF-8 read as Latin-1 holds such controls too, but its bytes form
    // UTF-8 again.
    const Decoded d = undo(Chain::utf8_as_latin1, line, size, scratch.first, scratch);
    if (d.size < 0 || d.lost != 0) return best;
  }
  const Weighed before = weigh(line, size);
  // A line that the turns of the line repaired last undo exactly is taken
  // back by them, before any other turns are weighed: the lines of one text
  // took one turn. (So is Western mojibake inside such a text: CafÃ© among
  // lines of UTF-8 read as cp1252 took that turn too.)
  if (previous.repaired() && ascii == (previous.outer == Chain::jis_without_esc)) {
    const LineRepair done =
        sameTurns(previous.outer, previous.inner, line, size, out, scratch, before);
    if (done.repaired()) return done;
  }
  // Western mojibake of Western text (Café read as cp1252: CafÃ©), or of
  // text in any other script but Japanese (Cyrillic: Ð°Ð¼ for ам), is not
  // Japanese text that took a wrong turn: it stays as it stands. Only the
  // pairs that begin by undoing that Western turn may still find Japanese
  // text beneath it (EUC-JP read as Latin-1, then as cp1252).
  Chain western_turn = Chain::none;
  if (!ascii) {
    for (const Chain western : {Chain::utf8_as_cp1252, Chain::utf8_as_latin1}) {
      const Decoded d = undo(western, line, size, scratch.first, scratch);
      if (d.size < 0 || d.lost != 0) continue;
      const Weighed w = weigh(scratch.first, static_cast<std::size_t>(d.size));
      // (U+FFFD too: UTF-8 of U+FFFD read as cp1252 is ï¿½.)
      const bool other = oneOtherScript(scratch.first, static_cast<std::size_t>(d.size));
      if (w.beyond_ascii + w.replaced != 0 && (w.western == w.beyond_ascii || other)) {
        western_turn = western;
      }
    }
  }
  // UTF-8 of another script read as cp437 stays as it stands too: no turn
  // is weighed. Read as cp850, no turn through cp850 or cp437 is: EUC-JP's
  // hiragana read as Latin-1 (¤) and back through cp850 (CF) is Greek in
  // UTF-8.
  const bool dos_other = !ascii && otherScriptBeneath(line, size, Reading::cp437, scratch);
  const bool dos850_other = !ascii && otherScriptBeneath(line, size, Reading::cp850, scratch);
  std::int64_t best_score = 0;
  std::int64_t best_common = 0;
  bool pending = false;
  bool best_dense = false;
  // `beneath`: the text that the reading of UTF-8 as EUC-JP undid, weighed,
  // where the candidate undoes that turn over Japanese text (null where
  // not); `known` the bytes in place of that reading.
  const auto consider = [&](const Candidate& c, const char16_t* text, const Decoded& d,
                            const Weighed* beneath, std::size_t known) {
    const Chain outer = c.outer;
    const Chain inner = c.inner;
    if (western_turn != Chain::none && (inner == Chain::none || outer != western_turn)) return;
    if (dos_other) return;
    if (dos850_other && (outer == Chain::cp932_as_cp437 || outer == Chain::cp932_as_cp850)) return;
    const auto n = static_cast<std::size_t>(d.size);
    const Weighed after = weigh(text, n);
    // Beneath a Western turn, a reading that gives back no character but
    // U+FFFD tells nothing (ï¿½, U+FFFD read as cp1252, stays as it is).
    if (western_turn != Chain::none && after.beyond_ascii == 0) return;
    if (!voicedMarksPlaced(text, n)) return;
    // Undoing UTF-8 read as EUC-JP, a reading that gives back nothing but
    // U+FFFD beyond ASCII explains nothing of a kana that the UTF-8 beneath
    // never gives: that is a Japanese line a reader damaged before (を
    // among U+FFFD). Beneath the reading is Japanese text, or Japanese
    // mojibake, unless a Western turn came first.
    if (outer == Chain::utf8_as_eucjp && after.beyond_ascii == 0 &&
        (japaneseBeneath(c) ? before.kana_beyond_utf8 : before.kana_beyond_bmp) != 0) {
      return;
    }
    const bool boxes = outer == Chain::cp932_as_cp437 || outer == Chain::cp932_as_cp850 ||
                       inner == Chain::cp932_as_cp437 || inner == Chain::cp932_as_cp850;
    const bool halfWidth =
        halfWidthKanaText(text, n, d.lost, c.utf8) && (!boxes || !drawing(line, size));
    const bool beneathDense = beneath != nullptr && beneath->replaced != 0 &&
                              beneath->replaced >= beneath->beyond_ascii * kDenseLoss;
    // A line mostly U+FFFD beneath a Western turn read exactly: the bytes
    // of that turn tell nothing of the reading as EUC-JP beneath it, which
    // must keep a byte in place (ï¿½ alone is U+FFFD read as cp1252).
    const bool westernDense = beneathDense && outer != Chain::utf8_as_eucjp;
    if (westernDense && known < kMinDenseKnown) return;
    // (Japanese text splits brackets over lines; a line with kana may hold
    // one alone.)
    const bool clear =
        clearlyBetter(before, after, c) && (c.utf8 || after.kana != 0 || bracketsPair(text, n));
    const bool controls = !clear && !halfWidth && explainsControls(before, after, c);
    const bool dense = !clear && !halfWidth && !controls && beneathDense &&
                       known >= kMinDenseKnown && clearlyBetter(before, after, c, true);
    if (!clear && !halfWidth && !controls && !dense) {
      // Not clear by itself, but a later line repaired with these turns
      // would take it back by the same-turn rule: a later line decides.
      const bool lossy = c.lost != 0;
      if (!pending &&
          (!lossy || (c.utf8_lost && (c.known >= kMinSameTurnKnown || before.beyond_ascii == 0)))) {
        pending = sameTurnFits(line, size, text, n, c.utf8, lossy, true, c.jis);
      }
      return;
    }
    // The best score wins; at a tie one turn before two, then the one that
    // lost less, then the first in the table. Half-width katakana from
    // EUC-JP comes first: each kana was two bytes, 8E and one of A1..DF,
    // which no other text gives (8E is a C1 control in Latin-1), while the
    // same bytes read as cp932 pairs give kanji that score well.
    const bool same = outer == previous.outer && inner == previous.inner;
    // Half-width katakana from cp932 with its voiced marks in place comes
    // next: read as Latin-1, its bytes are also those of EUC-JP pairs, which
    // give kanji that score well (ｺｽﾞｴ, º½Þ´, as 砂浚).
    const Original original =
        kChainInfo[static_cast<int>(inner == Chain::none ? outer : inner)].original;
    const bool eucjpKana = halfWidth && !c.jis && original == Original::eucjp;
    const bool cp932Kana =
        halfWidth && !c.jis && original == Original::cp932 && voicedMarksFit(text, n);
    std::int64_t kanaBonus = 0;
    if (eucjpKana) {
      kanaBonus = kEucjpKanaBonus;
    } else if (cp932Kana) {
      kanaBonus = kEucjpKanaBonus / 2;
    }
    std::int64_t score = after.score + (same ? kSameTurnsBonus : 0) + kanaBonus;
    if (controls) score -= kControlsBehind;
    if (dense && outer == Chain::utf8_as_eucjp) score -= kDenseBehind;
    // After a Western turn read exactly, a line mostly U+FFFD beneath it
    // is no text: the reading of it as UTF-8 read as EUC-JP goes ahead of
    // that turn alone.
    if (westernDense) score = std::max(score, beneath->score + 1);
    // Then, of readings alike so far, the one with the commoner kanji: the
    // same bytes read through cp437 and cp850 differ only where ¢ and ¥
    // stand (不明 and 不慢), and EUC-JP and cp932 pairs read as Latin-1
    // and as cp850 give kanji of the same levels (宣誓書 and 冨疋宕).
    const bool single = inner == Chain::none;
    const bool alike = single == (best.inner == Chain::none);
    bool replaces;
    if (score != best_score) {
      replaces = score > best_score;
    } else if (!alike) {
      replaces = single;
    } else if (d.lost != best.lost) {
      replaces = d.lost < best.lost;
    } else {
      replaces = after.common > best_common;
    }
    if (best.repaired() && !replaces) return;
    best = {outer, inner, n, d.lost};
    best_score = score;
    best_common = after.common;
    best_dense = dense;
    std::memcpy(scratch.best, text, n * sizeof(char16_t));
  };
  for (int o = 1; o < kChains; ++o) {
    const auto outer = static_cast<Chain>(o);
    // ASCII reads as itself in every chain but the stripped escapes.
    if (ascii != (outer == Chain::jis_without_esc)) continue;
    const Decoded once = undo(outer, line, size, scratch.first, scratch);
    if (once.size < 0) continue;
    const auto n = static_cast<std::size_t>(once.size);
    Candidate single{outer, Chain::none, once.lost, once.known, once.odd};
    single.utf8 = fromUtf8(outer);
    single.utf8_lost = once.lost != 0 && once.dropped == 0 && single.utf8;
    single.jis = outer == Chain::jis_without_esc;
    single.framed = once.framed;
    consider(single, scratch.first, once, outer == Chain::utf8_as_eucjp ? &before : nullptr,
             once.known);
    Weighed once_weighed;  // the text beneath a Western turn, weighed once
    bool weighed = false;
    // What the last turn lost stays lost (U+FFFD) through the one before.
    if (n > kMaxRepairLine) continue;
    for (int i = 1; i < kChains; ++i) {
      const auto inner = static_cast<Chain>(i);
      const Decoded twice = undo(inner, scratch.first, n, scratch.second, scratch, once.lost != 0);
      if (twice.size < 0) continue;
      Candidate pair{outer, inner, twice.lost, once.known + twice.known, once.odd + twice.odd};
      pair.utf8 = fromUtf8(inner);
      pair.utf8_lost = once.dropped == 0 && twice.dropped == 0 &&
                       ((once.lost != 0 && single.utf8) || (twice.lost != 0 && pair.utf8));
      pair.jis = inner == Chain::jis_without_esc;
      pair.framed = twice.framed;
      const Weighed* beneath = nullptr;
      std::size_t known = twice.known;
      if (outer == Chain::utf8_as_eucjp && inner == Chain::utf8_as_cp932) {
        beneath = &before;
        known = once.known;
      } else if (inner == Chain::utf8_as_eucjp && once.lost == 0) {
        if (!weighed) once_weighed = weigh(scratch.first, n);
        weighed = true;
        beneath = &once_weighed;
      }
      consider(pair, scratch.second, twice, beneath, known);
    }
  }
  if (best.repaired()) {
    std::memcpy(out, scratch.best, best.size * sizeof(char16_t));
    best.weak = best_dense;
  }
  best.pending = pending;
  return best;
}

}  // namespace mek
