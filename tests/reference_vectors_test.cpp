// The Japanese codecs against reference vectors that tools/gen_tables.py
// writes from the published mapping files, apart from the tables the codecs
// are built from: every code of every file decodes to its value, and every
// value encodes to the code the rules choose (the highest of a Shift_JIS
// duplicate group; ASCII, then JIS X 0208, JIS X 0212 and JIS X 0201 in
// EUC-JP and ISO-2022-JP).

#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <map>
#include <sstream>
#include <string>

#include "mek/codes.h"
#include "mek/registry.h"
#include "tests/codec_check.h"

namespace mek::test {
namespace {

struct Vectors {
  std::map<std::uint32_t, std::uint32_t> forward;  // code to value
  std::map<std::uint32_t, std::uint32_t> reverse;  // value to the code written
};

Vectors load(const std::string& name) {
  std::ifstream in(std::string(MEK_SOURCE_DIR) + "/tests/data/" + name + ".txt");
  Vectors v;
  std::map<std::uint32_t, std::uint32_t>* part = nullptr;
  for (std::string line; std::getline(in, line);) {
    if (line.empty() || line[0] == '#') continue;
    if (line == "forward" || line == "reverse") {
      part = line == "forward" ? &v.forward : &v.reverse;
      continue;
    }
    std::istringstream fields(line);
    std::uint32_t a = 0, b = 0;
    fields >> std::hex >> a >> b;
    if (part != nullptr) (*part)[a] = b;
  }
  return v;
}

Bytes unitOf(std::uint32_t value) {
  return {static_cast<std::uint8_t>(value >> 8), static_cast<std::uint8_t>(value)};
}

Bytes join(Bytes a, std::initializer_list<std::uint8_t> b) {
  a.insert(a.end(), b);
  return a;
}

Bytes pairOf(std::uint32_t code, std::uint8_t high = 0) {
  return {static_cast<std::uint8_t>((code >> 8) | high), static_cast<std::uint8_t>(code | high)};
}

// Decoding `in` gives `value`; encoding `value` gives `out` (when not empty).
void expectBoth(const Converter* decoder, const Bytes& in, std::uint32_t value) {
  const Converted got = convertAll(*decoder, in);
  ASSERT_TRUE(got.ok) << toHex(in);
  ASSERT_EQ(toHex(got.bytes), toHex(unitOf(value))) << toHex(in);
}

void expectEncodes(const Converter* encoder, std::uint32_t value, const Bytes& out) {
  const Converted got = convertAll(*encoder, unitOf(value));
  ASSERT_TRUE(got.ok) << std::hex << value;
  ASSERT_EQ(toHex(got.bytes), toHex(out)) << std::hex << value;
}

TEST(ReferenceVectorsTest, ShiftJis) {
  const Vectors sjis = load("sjis");
  ASSERT_EQ(sjis.forward.size(), 7915u);
  for (const auto& [code, value] : sjis.forward) {
    expectBoth(findDecoder(kCodeSjis), code <= 0xFF ? Bytes{std::uint8_t(code)} : pairOf(code),
               value);
  }
  for (const auto& [value, code] : sjis.reverse) {
    expectEncodes(findEncoder(kCodeSjis), value,
                  code <= 0xFF ? Bytes{std::uint8_t(code)} : pairOf(code));
  }
}

TEST(ReferenceVectorsTest, EucJpAndIso2022Jp) {
  const Vectors x0208 = load("jis_x0208");
  const Vectors x0212 = load("jis_x0212");
  const Vectors x0201 = load("jis_x0201");
  ASSERT_EQ(x0208.forward.size(), 6879u);
  ASSERT_EQ(x0212.forward.size(), 6067u);
  ASSERT_EQ(x0201.forward.size(), 158u);
  const Converter* eucDecoder = findDecoder(kCodeEucJp);
  const Converter* eucEncoder = findEncoder(kCodeEucJp);
  const Converter* jisDecoder = findDecoder(kCodeJis);
  const Converter* jisEncoder = findEncoder(kCodeJis);
  const Bytes to0208 = {0x1B, '$', 'B'};
  const Bytes to0212 = {0x1B, '$', '(', 'D'};
  const Bytes toKatakana = {0x1B, '(', 'I'};
  const Bytes toAscii = {0x1B, '(', 'B'};

  for (const auto& [code, value] : x0208.forward) {
    expectBoth(eucDecoder, pairOf(code, 0x80), value);
    expectBoth(jisDecoder, join(to0208, {std::uint8_t(code >> 8), std::uint8_t(code)}), value);
  }
  for (const auto& [code, value] : x0212.forward) {
    expectBoth(eucDecoder,
               join({0x8F}, {std::uint8_t(code >> 8 | 0x80), std::uint8_t(code | 0x80)}), value);
    expectBoth(jisDecoder, join(to0212, {std::uint8_t(code >> 8), std::uint8_t(code)}), value);
  }
  for (const auto& [code, value] : x0201.forward) {
    if (code < 0xA1) continue;  // the Roman half is ASCII in these codes
    expectBoth(eucDecoder, {0x8E, std::uint8_t(code)}, value);
    expectBoth(jisDecoder, join(toKatakana, {std::uint8_t(code - 0x80)}), value);
  }

  // Every value goes to the first set that has it.
  std::map<std::uint32_t, std::pair<Bytes, Bytes>> expected;  // value: EUC-JP, ISO-2022-JP
  for (const auto& [value, code] : x0201.reverse) {
    if (code < 0x80) {
      expected[value] = {{std::uint8_t(code)}, {std::uint8_t(code)}};
    } else {
      expected[value] = {{0x8E, std::uint8_t(code)}, join(toKatakana, {std::uint8_t(code - 0x80)})};
    }
  }
  for (const auto& [value, code] : x0212.reverse) {
    expected[value] = {join({0x8F}, {std::uint8_t(code >> 8 | 0x80), std::uint8_t(code | 0x80)}),
                       join(to0212, {std::uint8_t(code >> 8), std::uint8_t(code)})};
  }
  for (const auto& [value, code] : x0208.reverse) {
    expected[value] = {pairOf(code, 0x80),
                       join(to0208, {std::uint8_t(code >> 8), std::uint8_t(code)})};
  }
  for (std::uint32_t value = 0; value < 0x80; ++value) {
    expected[value] = {{std::uint8_t(value)}, {std::uint8_t(value)}};
  }
  for (const auto& [value, forms] : expected) {
    expectEncodes(eucEncoder, value, forms.first);
    // The encoder starts in ASCII and does not return to it at the end.
    Bytes jis = forms.second;
    if (jis.size() == 1 && jis[0] >= 0x80) jis = join(toAscii, {jis[0]});
    // ESC, SO and SI would read back as escapes and shifts: jis refuses them.
    if (value == 0x1B || value == 0x0E || value == 0x0F) continue;
    expectEncodes(jisEncoder, value, jis);
  }
}

}  // namespace
}  // namespace mek::test
