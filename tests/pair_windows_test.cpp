// The window kernels of the two-byte codes: the plain kernel and the one on
// this processor's best path take the same windows and write the same bytes,
// wherever in a window something stops them. (The stream test checks the
// fused paths that use them against the three stages.)

#include "simd/pair_windows.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "japanese/flat_tables.h"
#include "japanese/shift_jis.h"
#include "tests/codec_check.h"

namespace mek::test {
namespace {

struct Code {
  PairCode kind;
  const std::uint16_t* decoding;
  const std::uint16_t* encoding;
  Bytes pairs;   // eight pairs that a window takes
  Bytes others;  // one byte or pair each that stops a window
};

std::vector<Code> codes() {
  return {{PairCode::kSjis, kSjisHighToUnicode.data(), kUnicodeToSjisCode.data(),
           hex("88 9f 82 a0 83 41 93 fa 88 9f 82 a0 83 41 93 fa"), hex("41 b1 85 40 81 7e 80 fd")},
          {PairCode::kEucjp, kEucjpHighToUnicode.data(), kUnicodeToJisCode.data(),
           hex("b0 a1 a4 a2 a5 a2 c6 fc b0 a1 a4 a2 a5 a2 c6 fc"), hex("41 8f 8e 41 a9 a1 a1 df")},
          {PairCode::kJis, nullptr, kUnicodeToJisCode.data(), {}, {}}};
}

// Runs of windows' worth of pairs with one byte of `others` put at `at`.
Bytes textWith(const Code& code, std::size_t at, std::uint8_t other) {
  Bytes text;
  for (int i = 0; i < 4; ++i) text.insert(text.end(), code.pairs.begin(), code.pairs.end());
  text.insert(text.begin() + static_cast<std::ptrdiff_t>(16 + at), other);
  text.resize(text.size() + 32, 'x');
  return text;
}

TEST(PairWindowsTest, DecodingPathsAgree) {
  const Utf8Path best = bestUtf8Path();
  for (const Code& code : codes()) {
    if (code.decoding == nullptr) continue;  // encoding only
    for (std::size_t at = 0; at < 17; ++at) {
      for (const std::uint8_t other : code.others) {
        const Bytes text = textWith(code, at, other);
        const std::uint8_t* last = text.data() + text.size() - 32;
        Bytes plain(text.size() * 3 + 32), fast(text.size() * 3 + 32);
        const PairRun a =
            decodePairWindows(code.kind, code.decoding, text.data(), last, plain.data());
        const PairRun b =
            decodePairWindowsOn(best, code.kind, code.decoding, text.data(), last, fast.data());
        ASSERT_EQ(a.in - text.data(), b.in - text.data()) << toHex(text);
        plain.resize(static_cast<std::size_t>(a.out - plain.data()));
        fast.resize(static_cast<std::size_t>(b.out - fast.data()));
        ASSERT_EQ(toHex(plain), toHex(fast)) << toHex(text);
      }
    }
  }
}

TEST(PairWindowsTest, EncodingPathsAgree) {
  const Utf8Path best = bestUtf8Path();
  // Kanji, kana, half-width katakana and ASCII, then units that stop a
  // window: JIS X 0212 in EUC-JP, no code, a surrogate. ISO-2022-JP's
  // windows take JIS X 0208 only: ASCII and kana stop them too.
  const std::vector<unsigned> all = {0x4E9C, 0x3042, 0x30A2, 0xFF71, 0x0041, 0x00D7};
  for (const Code& code : codes()) {
    std::vector<unsigned> units;
    std::vector<unsigned> stops = {0x4E02, 0xFFFF, 0xD842, 0x0E01};
    for (const unsigned u : all) {
      (packPairCode(code.kind, code.encoding[u]) != 0 ? units : stops).push_back(u);
    }
    for (std::size_t at = 0; at < 24; ++at) {
      for (const unsigned stop : stops) {
        Bytes text;
        for (std::size_t i = 0; i < 40; ++i) {
          const unsigned u = i == at ? stop : units[i % units.size()];
          text.push_back(static_cast<std::uint8_t>(u >> 8));
          text.push_back(static_cast<std::uint8_t>(u));
        }
        const std::uint8_t* last = text.data() + text.size() - 16;
        Bytes plain(text.size() + 32), fast(text.size() + 32);
        const PairRun a =
            encodePairWindows(code.kind, code.encoding, text.data(), last, plain.data());
        const PairRun b =
            encodePairWindowsOn(best, code.kind, code.encoding, text.data(), last, fast.data());
        ASSERT_EQ(a.in - text.data(), b.in - text.data()) << toHex(text);
        plain.resize(static_cast<std::size_t>(a.out - plain.data()));
        fast.resize(static_cast<std::size_t>(b.out - fast.data()));
        ASSERT_EQ(toHex(plain), toHex(fast)) << toHex(text);
      }
    }
  }
}

}  // namespace
}  // namespace mek::test
