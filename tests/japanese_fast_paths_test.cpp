// The Japanese codecs take ASCII in whole blocks and other characters in
// tight loops while they are far from the end of the input, and one character
// at a time near it. Long random texts, cut off at random places, must give
// exactly what the plain rules give, worked out here character by character
// straight from the code tables.

#include <gtest/gtest.h>

#include <random>

#include "japanese/code_table.h"
#include "japanese/eucjp.h"
#include "japanese/jis.h"
#include "japanese/shift_jis.h"
#include "japanese/tables/jis_x0201_to_unicode.h"
#include "japanese/tables/jis_x0208_to_unicode.h"
#include "japanese/tables/jis_x0212_to_unicode.h"
#include "japanese/tables/sjis_to_unicode.h"
#include "japanese/tables/unicode_to_jis_x0201.h"
#include "japanese/tables/unicode_to_jis_x0208.h"
#include "japanese/tables/unicode_to_jis_x0212.h"
#include "japanese/tables/unicode_to_sjis.h"
#include "tests/codec_check.h"

namespace mek::test {
namespace {

std::uint16_t at(const CodeTable& table, unsigned hi, unsigned lo) {
  return lookup(table, static_cast<std::uint8_t>(hi), static_cast<std::uint8_t>(lo));
}

// What a codec must answer: success, output and stop offset.
struct Expected {
  bool ok = true;
  Bytes out;
  std::size_t stop = 0;
};

void unit(Expected& e, std::uint16_t u) {
  e.out.push_back(static_cast<std::uint8_t>(u >> 8));
  e.out.push_back(static_cast<std::uint8_t>(u));
}

Expected failed() {
  Expected e;
  e.ok = false;
  return e;
}

Expected decodeSjis(const Bytes& in) {
  Expected e;
  std::size_t i = 0;
  while (i < in.size()) {
    const unsigned b = in[i];
    std::uint16_t u;
    if (b < 0x80 || (b >= 0xA1 && b <= 0xDF)) {
      u = at(SjisToUnicode(), 0x00, b);
      i += 1;
    } else {
      if (i + 2 > in.size()) break;
      u = at(SjisToUnicode(), b, in[i + 1]);
      i += 2;
    }
    if (u == kNoMapping) return failed();
    unit(e, u);
  }
  e.stop = i;
  return e;
}

Expected decodeEucjp(const Bytes& in) {
  Expected e;
  std::size_t i = 0;
  const auto seven = [](unsigned b) { return (b - 0x80) & 0xFF; };
  while (i < in.size()) {
    const unsigned b = in[i];
    std::uint16_t u;
    if (b < 0x80) {
      u = static_cast<std::uint16_t>(b);
      i += 1;
    } else if (b >= 0xA1 && b <= 0xFE) {
      if (i + 2 > in.size()) break;
      u = at(JisX0208ToUnicode(), seven(b), seven(in[i + 1]));
      i += 2;
    } else if (b == 0x8F) {
      if (i + 3 > in.size()) break;
      u = at(JisX0212ToUnicode(), seven(in[i + 1]), seven(in[i + 2]));
      i += 3;
    } else if (b == 0x8E) {
      if (i + 2 > in.size()) break;
      u = at(JisX0201ToUnicode(), 0x00, in[i + 1]);
      i += 2;
    } else {
      return failed();
    }
    if (u == kNoMapping) return failed();
    unit(e, u);
  }
  e.stop = i;
  return e;
}

Expected decodeJis(const Bytes& in) {
  Expected e;
  const std::uint8_t* p = in.data();
  const std::uint8_t* const end = in.data() + in.size();
  int state = 0;
  while (p < end) {
    const int next = JisDecoder::readEscape(p, end);
    if (next != JisDecoder::kNoControl) {
      state = next;
      continue;
    }
    const unsigned b = *p;
    std::uint16_t u;
    if (state == 0) {
      u = b < 0x80 ? static_cast<std::uint16_t>(b) : at(JisX0201ToUnicode(), 0x00, b);
      p += 1;
    } else if (state == 1) {
      u = at(JisX0201ToUnicode(), 0x00, b >= 0x21 && b <= 0x5F ? b + 0x80 : b);
      p += 1;
    } else {
      if (end - p < 2) break;
      u = at(state == 2 ? JisX0208ToUnicode() : JisX0212ToUnicode(), b, p[1]);
      p += 2;
    }
    if (u == kNoMapping) return failed();
    unit(e, u);
  }
  e.stop = static_cast<std::size_t>(p - in.data());
  return e;
}

// Runs an encoder's rules over the units of `in`; `put` writes one unit or
// answers false.
template <class Put>
Expected encodeUnits(const Bytes& in, Put put) {
  Expected e;
  std::size_t i = 0;
  for (; i + 2 <= in.size(); i += 2) {
    const unsigned hi = in[i], lo = in[i + 1];
    if (hi >= 0xD8 && hi <= 0xDF) return failed();
    if (!put(e.out, hi, lo)) return failed();
  }
  e.stop = i;
  return e;
}

Expected encodeSjis(const Bytes& in) {
  return encodeUnits(in, [](Bytes& out, unsigned hi, unsigned lo) {
    const std::uint16_t code = at(UnicodeToSjis(), hi, lo);
    if (code == kNoMapping) return false;
    if (code >= 0x100) out.push_back(static_cast<std::uint8_t>(code >> 8));
    out.push_back(static_cast<std::uint8_t>(code));
    return true;
  });
}

Expected encodeEucjp(const Bytes& in) {
  return encodeUnits(in, [](Bytes& out, unsigned hi, unsigned lo) {
    const auto put = [&](unsigned b) { out.push_back(static_cast<std::uint8_t>(b)); };
    if (hi == 0 && lo < 0x80) {
      put(lo);
    } else if (std::uint16_t v = at(UnicodeToJisX0208(), hi, lo); v != kNoMapping) {
      put((v >> 8) + 0x80);
      put((v & 0xFF) + 0x80);
    } else if (v = at(UnicodeToJisX0212(), hi, lo); v != kNoMapping) {
      put(0x8F);
      put((v >> 8) + 0x80);
      put((v & 0xFF) + 0x80);
    } else if (v = at(UnicodeToJisX0201(), hi, lo); v != kNoMapping) {
      if (v >= 0x80) put(0x8E);
      put(v);
    } else {
      return false;
    }
    return true;
  });
}

Expected encodeJis(const Bytes& in) {
  int state = 0;
  return encodeUnits(in, [&](Bytes& out, unsigned hi, unsigned lo) {
    const auto put = [&](unsigned b) { out.push_back(static_cast<std::uint8_t>(b)); };
    const auto enter = [&](int wanted) {
      if (state == wanted) return;
      const char* const designations[] = {"\x1B(B", "\x1B(I", "\x1B$B", "\x1B$(D"};
      for (const char* d = designations[wanted]; *d != 0; ++d) put(static_cast<unsigned char>(*d));
      state = wanted;
    };
    if (hi == 0 && (lo == 0x1B || lo == 0x0E || lo == 0x0F)) {
      return false;  // no set holds ESC, SO and SI
    } else if (hi == 0 && lo < 0x80) {
      enter(0);
      put(lo);
    } else if (std::uint16_t v = at(UnicodeToJisX0208(), hi, lo); v != kNoMapping) {
      enter(2);
      put(v >> 8);
      put(v & 0xFF);
    } else if (v = at(UnicodeToJisX0212(), hi, lo); v != kNoMapping) {
      enter(3);
      put(v >> 8);
      put(v & 0xFF);
    } else if (v = at(UnicodeToJisX0201(), hi, lo); v != kNoMapping) {
      enter(v < 0x80 ? 0 : 1);
      put(v < 0x80 ? v : v - 0x80);
    } else {
      return false;
    }
    return true;
  });
}

// Keys of a table that hold a mapping, index hi * 256 + lo.
std::vector<unsigned> mappedKeys(const CodeTable& table) {
  std::vector<unsigned> keys;
  for (unsigned k = 0; k < 0x10000; ++k) {
    if (at(table, k >> 8, k & 0xFF) != kNoMapping) keys.push_back(k);
  }
  return keys;
}

// Builds texts from pieces: ASCII runs of 0 to 40 bytes between short runs
// of other characters, and now and then a byte that may break the text.
class TextMaker {
 public:
  explicit TextMaker(unsigned seed) : random_(seed) {}

  unsigned below(unsigned n) { return std::uniform_int_distribution<unsigned>(0, n - 1)(random_); }
  template <class T>
  const T& pick(const std::vector<T>& items) {
    return items[below(static_cast<unsigned>(items.size()))];
  }

  // `other` appends one non-ASCII piece; `ascii` one ASCII byte or unit.
  // `width` is the size of the random piece: a byte, or a unit.
  template <class Ascii, class Other>
  Bytes make(std::size_t size, Ascii ascii, Other other, unsigned width = 1) {
    Bytes text;
    while (text.size() < size) {
      for (unsigned n = below(41); n > 0; --n) ascii(text);
      for (unsigned n = 1 + below(6); n > 0; --n) other(text);
      if (below(60) == 0) {
        for (unsigned n = 0; n < width; ++n) text.push_back(static_cast<std::uint8_t>(below(256)));
      }
    }
    return text;
  }

 private:
  std::mt19937 random_;
};

void append(Bytes& text, std::initializer_list<unsigned> bytes) {
  for (unsigned b : bytes) text.push_back(static_cast<std::uint8_t>(b));
}

void expectSame(const Converter& converter, Expected (*rules)(const Bytes&), const Bytes& text) {
  for (int cut = 0; cut < 4; ++cut) {
    // The whole text, then prefixes that end near or inside the fast part.
    const std::size_t shorter = text.size() * cut / 5 + static_cast<std::size_t>(cut);
    const std::size_t size = text.size() > shorter ? text.size() - shorter : 0;
    const Bytes in(text.begin(), text.begin() + static_cast<std::ptrdiff_t>(size));
    const Expected want = rules(in);
    const Outcome got = runConverter(converter, in);
    ASSERT_EQ(got.ok, want.ok) << toHex(in);
    if (!want.ok) continue;
    ASSERT_EQ(toHex(got.out), toHex(want.out)) << toHex(in);
    ASSERT_EQ(static_cast<std::size_t>(got.stop), want.stop) << toHex(in);
  }
}

constexpr int kTexts = 300;
constexpr std::size_t kLongest = 700;

TEST(JapaneseFastPathsTest, DecodersFollowThePlainRules) {
  const std::vector<unsigned> sjis = mappedKeys(SjisToUnicode());
  const std::vector<unsigned> x0208 = mappedKeys(JisX0208ToUnicode());
  const std::vector<unsigned> x0212 = mappedKeys(JisX0212ToUnicode());
  const SjisDecoder sjisDecoder;
  const EucjpDecoder eucjpDecoder;
  const JisDecoder jisDecoder;
  TextMaker maker(1);
  const auto ascii = [&](Bytes& t) {
    t.push_back(static_cast<std::uint8_t>(0x20 + maker.below(0x5F)));
  };
  for (int i = 0; i < kTexts; ++i) {
    const std::size_t size = maker.below(kLongest);
    expectSame(sjisDecoder, decodeSjis, maker.make(size, ascii, [&](Bytes& t) {
      const unsigned k = maker.pick(sjis);
      if (k >= 0x100) t.push_back(static_cast<std::uint8_t>(k >> 8));
      t.push_back(static_cast<std::uint8_t>(k));
    }));
    expectSame(eucjpDecoder, decodeEucjp, maker.make(size, ascii, [&](Bytes& t) {
      const unsigned kind = maker.below(10);
      if (kind == 0) {
        // Half-width katakana or the Roman set.
        append(t,
               {0x8E, maker.below(2) == 0 ? 0xA1 + maker.below(0x3F) : 0x20 + maker.below(0x5F)});
      } else if (kind == 1) {
        const unsigned k = maker.pick(x0212);
        append(t, {0x8F, (k >> 8) + 0x80, (k & 0xFF) + 0x80});
      } else {
        const unsigned k = maker.pick(x0208);
        append(t, {(k >> 8) + 0x80, (k & 0xFF) + 0x80});
      }
    }));
    // ISO-2022-JP: a designation, then characters of its set.
    expectSame(jisDecoder, decodeJis, maker.make(size, ascii, [&](Bytes& t) {
      const unsigned kind = maker.below(12);
      if (kind == 0) {
        append(t, {0x1B, '(', 'I', 0x21 + maker.below(0x3F), 0xA1 + maker.below(0x3F)});
      } else if (kind == 1) {
        append(t, {0x0E, 0x21 + maker.below(0x3F), 0x0F});
      } else if (kind == 2) {
        const unsigned k = maker.pick(x0212);
        append(t, {0x1B, '$', '(', 'D', k >> 8, k & 0xFF});
      } else if (kind == 3) {
        append(t, {0x1B, '(', maker.below(2) == 0 ? 0x42u : 0x4Au});
      } else {
        const unsigned k = maker.pick(x0208);
        append(t, {0x1B, '$', maker.below(2) == 0 ? 0x42u : 0x40u, k >> 8, k & 0xFF});
        if (maker.below(2) == 0) append(t, {0x1B, '(', 'B'});
      }
    }));
  }
}

TEST(JapaneseFastPathsTest, EncodersFollowThePlainRules) {
  // Every character of the three JIS sets and of code page 932.
  std::vector<unsigned> chars;
  for (const CodeTable* table :
       {&UnicodeToJisX0201(), &UnicodeToJisX0208(), &UnicodeToJisX0212(), &UnicodeToSjis()}) {
    const std::vector<unsigned> keys = mappedKeys(*table);
    chars.insert(chars.end(), keys.begin(), keys.end());
  }
  const SjisEncoder sjisEncoder;
  const EucjpEncoder eucjpEncoder;
  const JisEncoder jisEncoder;
  TextMaker maker(2);
  const auto ascii = [&](Bytes& t) { append(t, {0x00, maker.below(0x80)}); };
  const auto other = [&](Bytes& t) {
    const unsigned u = maker.pick(chars);
    append(t, {u >> 8, u & 0xFF});
  };
  for (int i = 0; i < kTexts; ++i) {
    const Bytes text = maker.make(maker.below(kLongest), ascii, other, 2);
    expectSame(sjisEncoder, encodeSjis, text);
    expectSame(eucjpEncoder, encodeEucjp, text);
    expectSame(jisEncoder, encodeJis, text);
  }
}

}  // namespace
}  // namespace mek::test
