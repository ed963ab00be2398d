#include "detect/mojibake_readings.h"

#include <algorithm>
#include <string>

#include "japanese/flat_tables.h"
#include "japanese/shift_jis.h"
#include "japanese/tables/western_codes.h"

namespace mek::mojibake {
namespace {

// An inverted reading is a run of bytes, some of them lost: the character
// that stood for them was U+FFFD, which says nothing of the bytes. A `?` or
// `・` may stand for lost bytes too, but is also itself; the first code's
// reader takes it as lost only where it cannot be read as itself.
constexpr std::uint16_t kLost = 0x100;
constexpr std::uint16_t kMaybeLost = 0x200;  // with the bytes of the character itself
// A byte of 80..BF, or the one 0x40 above it: a letter of Latin-1 whose
// lead byte in UTF-8 (C2 or C3) was lost, and whose continuation byte was
// read. UTF-8 read as EUC-JP loses C2 and C3 before 8E and 8F, which then
// read as SS2 and SS3 with the next lead (C2 8E C2 BA as U+FFFD ﾂ): of
// EUC-JP read as Latin-1, that is SS2 itself (8E) or the trail of の, は
// (A4 CE, A4 CF). Carried between the readings as a character of its own
// (kEitherUnit, mojibake_readings.h).
constexpr std::uint16_t kEither = 0x800;

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
                   Twins twins, bool& twice_coded, bool halves = false) {
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
    if (byte < 0) {
      if (!eitherUnit(unit)) return -1;
      // Only Latin-1 has both its values, at their own bytes, and only
      // EUC-JP tells them apart (`halves`); elsewhere the letter is lost.
      out[n++] = halves && reading == Reading::latin1 ? (unit & 0xFF) | kEither : kLost;
      continue;
    }
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

bool lost(std::uint16_t b) {
  return (b & kLost) != 0;
}
// Whether the byte is one of two (kEither).
bool either(std::uint16_t b) {
  return (b & kEither) != 0;
}
// The byte, or of two (kEither) the one that a trail byte of EUC-JP can be.
std::uint8_t trailValue(std::uint16_t b) {
  return static_cast<std::uint8_t>(either(b) ? (b & 0xFF) + 0x40 : b & 0xFF);
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
// (as Japanese characters are), or with `latin` of two (as the letters of
// Latin-1 are: the text beneath was Western mojibake). With `pairs` (a
// reading in pairs, cp932 or EUC-JP, which may have kept a lead byte at the
// end without its partner), a run that the end of the line cuts off may end
// in a shorter character.
// With `unsized` each lost unit stands for one byte or more (a
// character that an earlier turn lost), so a character may be a single lost
// unit. A reading that dropped the bytes it had no character for (cp1252,
// as its readers often do) gives a character with too few continuation
// bytes that lost its last ones.
struct Run {
  std::size_t begin = 0;
  std::size_t end = 0;
  int lead = 0;  // the length its first byte gives when that was read, or 0
};

// The characters of the split of `run`, or 0 when there is none; adds
// those not of the `even` length to `uneven`.
std::size_t splitRun(const std::uint16_t* bytes, std::size_t size, const Run& run, bool unsized,
                     bool pairs, std::size_t even, std::size_t& uneven) {
  // best[k % 5]: the split of the first k bytes as (characters not of the
  // even length) * 2^32 + characters, or kNone.
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
      const std::uint64_t value = from + (l == even ? 0 : std::uint64_t{1} << 32) + 1;
      std::uint64_t& to = best[(k + l) % 5];
      if (to == kNone || value < to) to = value;
    }
  }
  const std::uint64_t all = best[length % 5];
  if (all == kNone) return 0;
  uneven += static_cast<std::size_t>(all >> 32);
  return static_cast<std::size_t>(all & 0xFFFFFFFF);
}

// A reader of cp932 that has no pair for a lead byte may lose that byte
// alone and read the next as a byte of its own: EF, which leads the
// full-width and half-width forms in UTF-8 and nothing in cp932, is lost
// before BC..BF, which read as ｼ..ｿ (Ｄ, EF BC A4, as U+FFFD ｼ､). The
// character is taken back whole where it is of those forms, which a Japanese
// text holds, or U+FFFD, which an earlier reader wrote (as U+FFFD ｿｽ); any
// other lead before BC..BF would give Hangul or Yi.
bool leadLostBeforeForms(const std::uint16_t* bytes, std::size_t size, std::size_t i, char32_t& c) {
  if (i + 2 >= size || maybeLost(bytes[i]) || maybeLost(bytes[i + 1]) || maybeLost(bytes[i + 2]) ||
      !continuation(bytes[i + 1]) || byteOf(bytes[i + 1]) < 0xBC || !continuation(bytes[i + 2]) ||
      (i + 3 < size && continuation(bytes[i + 3]))) {
    return false;
  }
  c = 0xF000 | (byteOf(bytes[i + 1]) & 0x3F) << 6 | (byteOf(bytes[i + 2]) & 0x3F);
  return (c >= 0xFF01 && c <= 0xFF9F) || (c >= 0xFFE0 && c <= 0xFFE5) || c == 0xFFFD;
}

Decoded readUtf8(const std::uint16_t* bytes, std::size_t size, char16_t* out, Reading reading,
                 bool unsized, bool latin) {
  const bool dropped = reading == Reading::cp1252;
  const bool pairs = reading == Reading::cp932 || reading == Reading::eucjp;
  Decoded d;
  long n = 0;
  std::size_t i = 0;
  // Ends the run of lost characters [run.begin, i): false when it does not
  // split into characters.
  const auto lose = [&](const Run& run) {
    const std::size_t characters = splitRun(bytes, size, run, unsized, pairs, latin ? 2 : 3, d.odd);
    if (characters == 0) return false;
    for (std::size_t k = 0; k < characters; ++k) out[n++] = 0xFFFD;
    d.lost += characters;
    return true;
  };
  // A lost lead of a letter whose continuation byte read as SS2 or SS3
  // with the lead after it (kEither), where letters are of two bytes
  // beneath a reading of EUC-JP.
  const auto leadLostBeforeShift = [&](std::size_t j) {
    return latin && reading == Reading::eucjp && lost(bytes[j]) && j + 2 < size &&
           (bytes[j + 1] == 0x8E || bytes[j + 1] == 0x8F) &&
           (bytes[j + 2] == 0xC2 || bytes[j + 2] == 0xC3);
  };
  // The run from `begin`: every lost byte and continuation byte after it.
  const auto extend = [&](Run run, std::size_t from) {
    std::size_t j = from;
    while (j < size) {
      if (j > run.begin && leadLostBeforeShift(j)) break;
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
    char32_t form = 0;
    if (lost(b) && reading == Reading::cp932 && !unsized &&
        leadLostBeforeForms(bytes, size, i, form)) {
      put(out, n, form);
      d.known += 2;
      i += 3;
      continue;
    }
    if (leadLostBeforeShift(i)) {
      out[n++] = static_cast<char16_t>(kEitherUnit | bytes[i + 1]);
      ++d.known;
      i += 2;
      continue;
    }
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
    const bool odd =
        latin ? lead != 0xC2 && lead != 0xC3 : !(lead >= 0xE3 && lead <= 0xE9) && lead != 0xEF;
    // A line cut in the middle of a character (a field cut to its width)
    // lost the rest of it; one cut in a character no text of the chain
    // holds is no such UTF-8 (藏語 in EUC-JP, E0 A2 B8 EC, ends so).
    if (j == size && odd) return {};
    d.known += j - i;
    d.odd += odd;
    // A `?` where a continuation byte belongs stands for lost bytes.
    const std::size_t from = j < size && maybeLost(bytes[j]) && byteOf(bytes[j]) < 0x80 ? j + 1 : j;
    const Run run = extend(Run{i, j, length}, from);
    if (!lose(run)) return {};
    i = run.end;
  }
  d.size = n;
  return d;
}

// The character of cp932 bytes beyond ASCII (`trail` 0 for a single
// byte), or kNoMapping where there is none or it is private use (no text).
std::uint16_t cp932Character(std::uint8_t lead, std::uint8_t trail) {
  const std::uint16_t unit = kCp932HighToUnicode[sjisHighIndex(lead, trail)];
  return unit >= 0xE000 && unit <= 0xF8FF ? kNoMapping : unit;
}

// Whether bytes[i] leads a cp932 pair with the byte after it.
bool cp932PairAt(const std::uint16_t* bytes, std::size_t size, std::size_t i) {
  const std::uint8_t lead = byteOf(bytes[i]);
  if (!((lead >= 0x81 && lead <= 0x9F) || (lead >= 0xE0 && lead <= 0xFC))) return false;
  if (i + 1 >= size || lost(bytes[i + 1])) return false;
  const std::uint8_t trail = byteOf(bytes[i + 1]);
  if (trail < 0x40 || trail == 0x7F || trail > 0xFC) return false;
  return cp932Character(lead, trail) != kNoMapping;
}

// Lost bytes in a row from bytes[i] in a code of pairs were characters of
// two bytes, as Japanese characters are: one U+FFFD for each pair; an odd
// one out is a lead byte that takes the byte after it along when that is a
// trail byte (from `trail_first` up, 7F aside); but as `runs` says for
// runs that count no bytes (one U+FFFD), where an ASCII byte so taken
// counts as known.
// Moves i past them.
void losePairs(const std::uint16_t* bytes, std::size_t size, std::size_t& i,
               std::uint8_t trail_first, char16_t* out, long& n, Decoded& d, LostRun runs) {
  std::size_t run = 0;
  while (i < size && lost(bytes[i])) ++run, ++i;
  const std::size_t chars = runs == LostRun::counted ? (run + 1) / 2 : 1;
  for (std::size_t k = 0; k < chars; ++k) out[n++] = 0xFFFD;
  d.lost += chars;
  if (i >= size || trailValue(bytes[i]) < trail_first || byteOf(bytes[i]) == 0x7F) return;
  const bool ascii = byteOf(bytes[i]) < 0x80;
  bool takes = run % 2 == 1;
  if (runs == LostRun::ascii || runs == LostRun::any) {
    const bool pairs = cp932PairAt(bytes, size, i);
    if (ascii) {
      takes = true;
      ++d.known;
    } else if (runs == LostRun::ascii && pairs && byteOf(bytes[i + 1]) < 0x80) {
      // A lead byte of a pair with an ASCII trail byte (、 81 41, フ 83 74)
      // begins a character: cp437 and cp850 keep both bytes whole.
      takes = false;
    } else if (byteOf(bytes[i]) >= 0xE0) {
      takes = true;
    } else if (runs == LostRun::any) {
      takes = !pairs;
    }
  }
  if (takes) ++i;
}

// cp932 with lost bytes: a lost byte is a lead byte (the bytes that cp1252
// has no character for all are), and takes its trail byte with it.
Decoded readCp932(const std::uint16_t* bytes, std::size_t size, char16_t* out, LostRun runs) {
  Decoded d;
  long n = 0;
  for (std::size_t i = 0; i < size;) {
    const std::uint16_t b = bytes[i];
    if (lost(b)) {
      losePairs(bytes, size, i, 0x40, out, n, d, runs);
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
    const std::uint16_t unit = cp932Character(lead, single ? 0 : byteOf(bytes[i + 1]));
    if (unit == kNoMapping) return {};
    out[n++] = unit;
    i += single ? 1 : 2;
  }
  d.size = n;
  return d;
}

// EUC-JP with lost bytes: a lost byte loses the character it is part of.
// A byte of two values (kEither) is the one that fits where it stands: a
// trail byte is CE or CF (8E and 8F trail nothing); a lead byte is SS2
// before a kana's byte where the line holds SS2 whole (half-width
// katakana), else CE or CF. Where neither fits, its character is lost.
Decoded readEucjp(const std::uint16_t* bytes, std::size_t size, char16_t* out, LostRun runs) {
  Decoded d;
  long n = 0;
  // Whether the line holds SS2 whole; asked only at a byte of two values.
  int kana = -1;
  for (std::size_t i = 0; i < size;) {
    const std::uint16_t b = bytes[i];
    const auto lose = [&](std::size_t skip) {
      out[n++] = 0xFFFD;
      ++d.lost;
      i += skip;
    };
    if (lost(b)) {
      losePairs(bytes, size, i, 0xA1, out, n, d, runs);
      continue;
    }
    std::uint8_t lead = byteOf(b);
    if (lead < 0x80) {
      out[n++] = lead;
      ++i;
      continue;
    }
    if (either(b)) {
      if (kana < 0) kana = std::find(bytes, bytes + size, std::uint16_t{0x8E}) != bytes + size;
      const bool ss2 = lead == 0x8E && kana == 1 && i + 1 < size && !lost(bytes[i + 1]) &&
                       !either(bytes[i + 1]) && byteOf(bytes[i + 1]) >= 0xA1 &&
                       byteOf(bytes[i + 1]) <= 0xDF;
      if (!ss2) lead = trailValue(b);
    }
    const std::size_t length = lead == 0x8F ? 3 : 2;
    if (i + length > size) return {};
    bool broken = false;
    for (std::size_t j = i + 1; j < i + length; ++j) broken = broken || lost(bytes[j]);
    if (broken) {
      lose(length);
      continue;
    }
    const std::uint8_t b1 = trailValue(bytes[i + 1]);
    std::uint16_t unit = kNoMapping;
    if (lead == 0x8E) {
      if (b1 >= 0xA1 && b1 <= 0xDF) unit = kJisX0201ToUnicode[b1];
    } else if (lead == 0x8F) {
      const std::uint8_t b2 = trailValue(bytes[i + 2]);
      if (b1 >= 0xA1 && b1 <= 0xFE && b2 >= 0xA1 && b2 <= 0xFE) {
        unit = kJisX0212ToUnicode[(b1 - 0xA1) * kJisSide + (b2 - 0xA1)];
      }
    } else if (lead >= 0xA1 && lead <= 0xFE && b1 >= 0xA1 && b1 <= 0xFE) {
      unit = kJisX0208ToUnicode[(lead - 0xA1) * kJisSide + (b1 - 0xA1)];
    }
    if (unit == kNoMapping) {
      bool guessed = false;
      for (std::size_t j = i; j < i + length; ++j) guessed = guessed || either(bytes[j]);
      if (!guessed) return {};
      lose(length);
      continue;
    }
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

// Whether the pairs from i on are JIS X 0208 characters up to a `(B` or
// `(J` at a pair's place. `failed[parity]` is where the last such stretch
// of pairs at that parity of i ended without one: a stretch that begins
// before it ends there too, and is not read again (a line of `$B$B…` stays
// linear).
bool kanjiStretch(const char16_t* text, std::size_t size, std::size_t i, std::size_t failed[2]) {
  std::size_t& end = failed[i % 2];
  if (i < end) return false;
  for (; i + 1 < size; i += 2) {
    const char16_t c = text[i];
    const char16_t next = text[i + 1];
    if (c == u'(' && (next == u'B' || next == u'J')) return true;
    if (c < 0x21 || c > 0x7E || next < 0x21 || next > 0x7E ||
        kJisX0208ToUnicode[(c - 0x21) * kJisSide + (next - 0x21)] == kNoMapping) {
      break;
    }
  }
  end = i;
  return false;
}

Decoded readJisWithoutEsc(const char16_t* text, std::size_t size, char16_t* out) {
  Decoded d;
  long n = 0;
  bool kanji = false;
  bool switched = false;
  bool framed = true;
  bool named = true;  // the stretch so far could be a variable's name
  std::size_t failed[2] = {0, 0};
  for (std::size_t i = 0; i < size;) {
    const char16_t c = text[i];
    if (c >= 0x80) return {};
    if (i + 1 < size) {
      const char16_t next = text[i + 1];
      // In kanji mode `$B` and `$@` are ぢ and だ, at a pair's place.
      // (Where no such stretch follows, `$@` is itself: "$@" of a shell.)
      if (!kanji && c == u'$' && (next == u'B' || next == u'@') &&
          kanjiStretch(text, size, i + 2, failed)) {
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

}  // namespace

// The inverse of one chain over [text, text + size) into `out`.
Decoded undo(Chain chain, const char16_t* text, std::size_t size, char16_t* out,
             RepairScratch& scratch, bool unsized, bool latin, LostRun runs) {
  if (chain == Chain::jis_without_esc) return readJisWithoutEsc(text, size, out);
  const ChainInfo& info = kChainInfo[static_cast<int>(chain)];
  // Which of its two codes a symbol had is not known: the line is read with
  // the JIS codes, and when that fails and such a symbol occurs, by their
  // place, then with the NEC ones (UTF-8 read as cp932 gives 87 95 for √
  // where a continuation byte 87 meets 95).
  bool twice_coded = false;
  for (const Twins twins : {Twins::jis, Twins::context, Twins::nec}) {
    const long bytes = invertReading(info.reading, text, size, scratch.bytes, twins, twice_coded,
                                     info.original == Original::eucjp);
    if (bytes < 0) return {};
    const auto count = static_cast<std::size_t>(bytes);
    Decoded d;
    switch (info.original) {
      case Original::utf8:
        d = readUtf8(scratch.bytes, count, out, info.reading, unsized, latin);
        break;
      case Original::cp932:
        d = readCp932(scratch.bytes, count, out, runs);
        break;
      case Original::eucjp:
        d = readEucjp(scratch.bytes, count, out, runs);
        break;
    }
    if (d.size >= 0 || !twice_coded) return d;
  }
  return {};
}

Original originalOf(Chain chain) {
  return kChainInfo[static_cast<int>(chain)].original;
}

bool fromUtf8(Chain chain) {
  return chain != Chain::jis_without_esc &&
         kChainInfo[static_cast<int>(chain)].original == Original::utf8;
}

Decoded utf8Beneath(Reading reading, const char16_t* line, std::size_t size,
                    RepairScratch& scratch) {
  bool twice_coded = false;
  const long bytes = invertReading(reading, line, size, scratch.bytes, Twins::jis, twice_coded);
  if (bytes < 0) return {};
  return readUtf8(scratch.bytes, static_cast<std::size_t>(bytes), scratch.second, reading, false,
                  false);
}

}  // namespace mek::mojibake

namespace mek {

const char* chainName(Chain chain) {
  return mojibake::kChainInfo[static_cast<int>(chain)].name;
}

std::string turnsName(Chain outer, Chain inner) {
  if (inner == Chain::none) return chainName(outer);
  if (inner == outer) return std::string(chainName(outer)) + " twice";
  return std::string(chainName(inner)) + ", then " + chainName(outer);
}

}  // namespace mek
