#include "simd/utf8_shuffle.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "simd/utf8_blocks.h"
#include "tests/codec_check.h"
#include "tests/test_support.h"
#include "unicode/utf8.h"

namespace mek::test {
namespace {

const UTF8Decoder kDecoder{UTF8Decoder::kDropMark};
const UTF8Encoder kEncoder{UTF8Encoder::kNoMark};

// Text as code points, written out by an independent, plain encoder of each
// form, so that no path is checked only against itself.
using Text = std::vector<std::uint32_t>;

Bytes utf8Of(const Text& text) {
  Bytes out;
  for (std::uint32_t v : text) {
    if (v < 0x80) {
      out.push_back(static_cast<std::uint8_t>(v));
    } else if (v < 0x800) {
      out.insert(out.end(), {static_cast<std::uint8_t>(0xC0 | (v >> 6)),
                             static_cast<std::uint8_t>(0x80 | (v & 0x3F))});
    } else if (v < 0x10000) {
      out.insert(out.end(), {static_cast<std::uint8_t>(0xE0 | (v >> 12)),
                             static_cast<std::uint8_t>(0x80 | ((v >> 6) & 0x3F)),
                             static_cast<std::uint8_t>(0x80 | (v & 0x3F))});
    } else {
      out.insert(out.end(), {static_cast<std::uint8_t>(0xF0 | (v >> 18)),
                             static_cast<std::uint8_t>(0x80 | ((v >> 12) & 0x3F)),
                             static_cast<std::uint8_t>(0x80 | ((v >> 6) & 0x3F)),
                             static_cast<std::uint8_t>(0x80 | (v & 0x3F))});
    }
  }
  return out;
}

Bytes internalOf(const Text& text) {
  Bytes out;
  auto unit = [&](std::uint32_t u) {
    out.insert(out.end(), {static_cast<std::uint8_t>(u >> 8), static_cast<std::uint8_t>(u)});
  };
  for (std::uint32_t v : text) {
    if (v < 0x10000) {
      unit(v);
    } else {
      unit(0xD800 | ((v - 0x10000) >> 10));
      unit(0xDC00 | ((v - 0x10000) & 0x3FF));
    }
  }
  return out;
}

// A character of each UTF-8 length, varied by `salt` so that every payload
// bit is exercised.
std::uint32_t ofLength(int length, std::uint32_t salt) {
  switch (length) {
    case 1:
      return salt % 0x80;
    case 2:
      return 0x80 + salt % 0x780;
    case 3: {
      const std::uint32_t v = 0x800 + salt % 0xF000;  // 0x800-0xFFFF less the surrogates
      return v >= 0xD800 ? v + 0x800 : v;
    }
    default:
      return 0x10000 + salt % 0x100000;
  }
}

// Random text; `weights` gives the odds of lengths 1 to 4. It never begins
// with U+FEFF, which the decoder would take for a mark.
Text randomText(std::mt19937& rng, std::size_t n, const std::vector<int>& weights) {
  std::discrete_distribution<int> pick(weights.begin(), weights.end());
  Text text;
  for (std::size_t i = 0; i < n; ++i) text.push_back(ofLength(pick(rng) + 1, rng()));
  if (!text.empty() && text[0] == 0xFEFF) text[0] = 0x3042;
  return text;
}

std::vector<Utf8Path> supportedPaths() {
  std::vector<Utf8Path> paths;
  for (Utf8Path path : {Utf8Path::kPlain, Utf8Path::kSsse3, Utf8Path::kAvx2}) {
    if (utf8PathSupported(path)) paths.push_back(path);
  }
  return paths;
}

constexpr std::size_t kGuard = 32;

// Runs the decoding writer of `path` over a stretch copied to an area of
// its own size, into an area of exactly the expected size followed by guard
// bytes; a read or write beyond either shows up here (and under ASan).
void expectSequencesWritten(Utf8Path path, const Bytes& utf8, const Bytes& want) {
  const Bytes in(utf8);
  Bytes out(want.size() + kGuard, 0xAA);
  std::uint8_t* const end =
      writeShortSequencesOn(path, in.data(), in.data() + in.size(), out.data());
  ASSERT_EQ(end - out.data(), static_cast<std::ptrdiff_t>(want.size()));
  EXPECT_EQ(toHex(Bytes(out.begin(), out.begin() + static_cast<std::ptrdiff_t>(want.size()))),
            toHex(want));
  for (std::size_t i = want.size(); i < out.size(); ++i) ASSERT_EQ(out[i], 0xAA) << "overrun";
}

void expectUnitsWritten(Utf8Path path, const Bytes& internal, const Bytes& want) {
  const Bytes in(internal);
  Bytes out(want.size() + kGuard, 0xAA);
  std::uint8_t* const end = writeUnitsUtf8On(path, in.data(), in.size() / 2, out.data());
  ASSERT_EQ(end - out.data(), static_cast<std::ptrdiff_t>(want.size()));
  EXPECT_EQ(toHex(Bytes(out.begin(), out.begin() + static_cast<std::ptrdiff_t>(want.size()))),
            toHex(want));
  for (std::size_t i = want.size(); i < out.size(); ++i) ASSERT_EQ(out[i], 0xAA) << "overrun";
}

// Both writers on every path over one text of characters below U+10000.
void expectAllPaths(const Text& text) {
  const Bytes utf8 = utf8Of(text);
  const Bytes internal = internalOf(text);
  for (Utf8Path path : supportedPaths()) {
    SCOPED_TRACE("path " + std::to_string(static_cast<int>(path)));
    expectSequencesWritten(path, utf8, internal);
    expectUnitsWritten(path, internal, utf8);
  }
}

TEST(Utf8ShuffleTest, BestPathIsSupported) {
  EXPECT_TRUE(utf8PathSupported(Utf8Path::kPlain));
  EXPECT_TRUE(utf8PathSupported(bestUtf8Path()));
}

// Every pattern of four lengths (one encoding group, half a decoding window)
// at every offset within a step, after and before filler of each length, so
// that each lane and each straddle of a window edge is taken.
TEST(Utf8ShuffleTest, EveryLengthPatternAtEveryOffset) {
  for (int filler = 1; filler <= 3; ++filler) {
    for (int pattern = 0; pattern < 81; ++pattern) {
      for (std::size_t offset = 0; offset < 20; ++offset) {
        Text text;
        std::uint32_t salt = static_cast<std::uint32_t>(pattern * 977 + offset * 131);
        for (std::size_t i = 0; i < offset; ++i) text.push_back(ofLength(filler, salt++));
        for (int k = 0, rest = pattern; k < 4; ++k, rest /= 3) {
          text.push_back(ofLength(rest % 3 + 1, salt++ * 7919));
        }
        for (std::size_t i = 0; i < 28; ++i) text.push_back(ofLength(filler, salt++));
        SCOPED_TRACE("filler " + std::to_string(filler) + " pattern " + std::to_string(pattern) +
                     " offset " + std::to_string(offset));
        expectAllPaths(text);
        if (HasFatalFailure()) return;
      }
    }
  }
}

// Short texts and the last bytes of longer ones: every length up to where
// the steps start, and tails of 0 to 31 bytes after whole steps.
TEST(Utf8ShuffleTest, EveryLengthAndTail) {
  std::mt19937 rng(1);
  for (std::size_t n = 0; n < 120; ++n) {
    for (const std::vector<int>& weights :
         {std::vector<int>{1, 0, 0}, {0, 1, 0}, {0, 0, 1}, {4, 1, 2}, {1, 1, 1}}) {
      SCOPED_TRACE("length " + std::to_string(n));
      expectAllPaths(randomText(rng, n, weights));
      if (HasFatalFailure()) return;
    }
  }
}

// ASCII runs just shorter and longer than the 32 that switch to the plain
// loops, ending at every position, between multi-byte characters.
TEST(Utf8ShuffleTest, AsciiRunsAroundTheSwitch) {
  for (std::size_t before = 0; before < 18; ++before) {
    for (std::size_t run = 28; run < 100; ++run) {
      Text text;
      for (std::size_t i = 0; i < before; ++i) text.push_back(ofLength(3, 40 * i + run));
      for (std::size_t i = 0; i < run; ++i) text.push_back(ofLength(1, i));
      text.push_back(ofLength(2, run));
      for (std::size_t i = 0; i < 40; ++i) text.push_back(ofLength(i % 3 + 1, i * 31));
      SCOPED_TRACE("before " + std::to_string(before) + " run " + std::to_string(run));
      expectAllPaths(text);
      if (HasFatalFailure()) return;
    }
  }
}

// The run-time choice and the plain path agree on long random text of
// several mixes.
TEST(Utf8ShuffleTest, PathsAgreeOnRandomText) {
  std::mt19937 rng(7);
  for (const std::vector<int>& weights :
       {std::vector<int>{8, 0, 2}, {1, 0, 4}, {5, 2, 3}, {20, 1, 1}, {1, 1, 0}}) {
    for (int round = 0; round < 20; ++round) {
      const std::size_t n = std::uniform_int_distribution<std::size_t>(100, 3000)(rng);
      expectAllPaths(randomText(rng, n, weights));
      if (HasFatalFailure()) return;
    }
  }
}

// Whole conversions, which split the text into stretches at four-byte
// sequences and surrogate pairs: a pair at every position around the
// windows, in mixed text, decodes and encodes as the plain writers do.
TEST(Utf8ShuffleCodecTest, FourByteCharacterAtEveryPosition) {
  std::mt19937 rng(3);
  const Text around = randomText(rng, 90, {3, 1, 2, 0});
  for (std::size_t at = 0; at <= around.size(); ++at) {
    Text text = around;
    text.insert(text.begin() + static_cast<std::ptrdiff_t>(at), 0x1F600 + at);
    const Bytes utf8 = utf8Of(text);
    const Bytes internal = internalOf(text);
    SCOPED_TRACE("at " + std::to_string(at));
    const Outcome decoded = runConverter(kDecoder, utf8);
    ASSERT_TRUE(decoded.ok);
    EXPECT_EQ(toHex(decoded.out), toHex(internal));
    const Outcome encoded = runConverter(kEncoder, internal);
    ASSERT_TRUE(encoded.ok);
    EXPECT_EQ(toHex(encoded.out), toHex(utf8));
  }
}

TEST(Utf8ShuffleCodecTest, RandomTextConverts) {
  std::mt19937 rng(11);
  for (int round = 0; round < 60; ++round) {
    const std::size_t n = std::uniform_int_distribution<std::size_t>(0, 2000)(rng);
    const Text text = randomText(rng, n, {6, 1, 3, round % 3 == 0 ? 1 : 0});
    const Bytes utf8 = utf8Of(text);
    const Bytes internal = internalOf(text);
    EXPECT_EQ(convertAll(kDecoder, utf8).bytes, internal) << round;
    EXPECT_EQ(convertAll(kEncoder, internal).bytes, utf8) << round;
  }
}

// A fault at each position of two windows of mixed text is found by both
// passes, whatever the bytes around it.
TEST(Utf8ShuffleCodecTest, BadByteAtEveryPosition) {
  std::mt19937 rng(5);
  const Text text = randomText(rng, 40, {3, 1, 2, 0});
  const Bytes utf8 = utf8Of(text);
  for (std::size_t at = 0; at < utf8.size(); ++at) {
    const bool continuation = (utf8[at] & 0xC0) == 0x80;
    // A lead or ASCII byte where a continuation is due; a continuation or
    // F8 where a sequence begins.
    for (std::uint8_t bad : continuation ? std::vector<std::uint8_t>{0x41, 0xC3, 0xE3}
                                         : std::vector<std::uint8_t>{0x80, 0xBF, 0xF8, 0xFF}) {
      Bytes in = utf8;
      in[at] = bad;
      SCOPED_TRACE("at " + std::to_string(at) + " byte " + std::to_string(bad));
      EXPECT_FALSE(runConverter(kDecoder, in).ok);
    }
  }
  const Bytes internal = internalOf(text);
  for (std::size_t at = 0; at + 1 < internal.size(); at += 2) {
    for (std::uint8_t high : {0xD8, 0xDC}) {
      Bytes in = internal;
      in[at] = high;
      // A high surrogate in the last unit is cut off, not wrong.
      const bool cutOff = high == 0xD8 && at + 2 == internal.size();
      SCOPED_TRACE("unit " + std::to_string(at / 2) + " high " + std::to_string(high));
      const Outcome run = runConverter(kEncoder, in);
      EXPECT_EQ(run.ok, cutOff);
    }
  }
}

// Overlong forms, encoded surrogates and values beyond U+10FFFF between
// any two characters of mixed text fail decoding at their first byte, and no
// path's stretch reaches past them; their nearest allowed neighbours decode.
TEST(Utf8ShuffleCodecTest, ExcludedFormsAtEveryPosition) {
  std::mt19937 rng(7);
  const Text text = randomText(rng, 40, {3, 1, 2, 0});
  struct Form {
    const char* bytes;
    const char* internal;  // empty: malformed
  };
  const Form forms[] = {{"C0 AF", ""},
                        {"C1 BF", ""},
                        {"E0 80 AF", ""},
                        {"E0 9F BF", ""},
                        {"ED A0 80", ""},
                        {"ED BF BF", ""},
                        {"F0 8F BF BF", ""},
                        {"F4 90 80 80", ""},
                        {"C2 80", "0080"},
                        {"E0 A0 80", "0800"},
                        {"ED 9F BF", "D7FF"},
                        {"EE 80 80", "E000"},
                        {"F4 8F BF BF", "DBFF DFFF"}};
  for (std::size_t i = 0; i <= text.size(); ++i) {
    const Text before(text.begin(), text.begin() + static_cast<std::ptrdiff_t>(i));
    const Text after(text.begin() + static_cast<std::ptrdiff_t>(i), text.end());
    const Bytes head = utf8Of(before);
    const Bytes tail = utf8Of(after);
    for (const Form& form : forms) {
      Bytes in = head;
      const Bytes middle = hex(form.bytes);
      in.insert(in.end(), middle.begin(), middle.end());
      in.insert(in.end(), tail.begin(), tail.end());
      SCOPED_TRACE("at " + std::to_string(head.size()) + ": " + form.bytes);
      const Outcome run = runConverter(kDecoder, in);
      if (*form.internal == '\0') {
        EXPECT_FALSE(run.ok);
        ConversionBuffer buffer;
        buffer.in_begin = in.data();
        buffer.in_end = in.data() + in.size();
        EXPECT_FALSE(kDecoder.measure(buffer));
        EXPECT_EQ(buffer.stop - in.data(), static_cast<std::ptrdiff_t>(head.size()));
        for (Utf8Path path : supportedPaths()) {
          EXPECT_LE(shortSequencePrefixOn(path, in.data(), in.data() + in.size()) - in.data(),
                    static_cast<std::ptrdiff_t>(head.size()));
        }
      } else {
        Bytes want = internalOf(before);
        const Bytes unit = hex(form.internal);
        want.insert(want.end(), unit.begin(), unit.end());
        const Bytes rest = internalOf(after);
        want.insert(want.end(), rest.begin(), rest.end());
        EXPECT_TRUE(run.ok);
        EXPECT_EQ(toHex(run.out), toHex(want));
      }
    }
  }
}

}  // namespace
}  // namespace mek::test
