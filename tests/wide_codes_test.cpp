// The five codes of the wide tables against the reference vectors that
// tools/gen_tables.py writes from the published maps: every code decodes to
// its characters, and every character that is written back (r) goes from
// UTF-8 to its code and back, byte for byte, in its own code and in
// ISO-2022-JP-2004 for the JIS X 0213 ones. Then vectors checked by hand
// against the published tables for the rows that the peers cannot check
// (CP51932 has no peer, eucJP-ms none in Python): the NEC and IBM rows, the
// kana, the user-defined areas, and the decode-only codes.

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>

#include "mek/codes.h"
#include "mek/detail/in_memory.h"
#include "mek/registry.h"
#include "tests/test_support.h"

namespace mek::test {
namespace {

struct Vector {
  Bytes code;
  std::u32string chars;
  bool written;  // the characters are written back as this code
};

std::vector<Vector> load(const std::string& name) {
  std::ifstream in(std::string(MEK_SOURCE_DIR) + "/tests/data/" + name + ".txt");
  std::vector<Vector> vectors;
  for (std::string line; std::getline(in, line);) {
    if (line.empty() || line[0] == '#') continue;
    std::istringstream fields(line);
    std::string code, chars, mark;
    fields >> code >> chars >> mark;
    Vector v{hex(code), {}, mark == "r"};
    for (std::size_t at = 0; at < chars.size();) {
      const std::size_t plus = chars.find('+', at);
      const std::string one = chars.substr(at, plus == std::string::npos ? plus : plus - at);
      v.chars += static_cast<char32_t>(std::stoul(one, nullptr, 16));
      at = plus == std::string::npos ? chars.size() : plus + 1;
    }
    vectors.push_back(v);
  }
  return vectors;
}

void putUtf8(Bytes& out, char32_t c) {
  if (c < 0x80) {
    out.push_back(static_cast<std::uint8_t>(c));
  } else if (c < 0x800) {
    out.push_back(static_cast<std::uint8_t>(0xC0 | c >> 6));
    out.push_back(static_cast<std::uint8_t>(0x80 | (c & 0x3F)));
  } else if (c < 0x10000) {
    out.push_back(static_cast<std::uint8_t>(0xE0 | c >> 12));
    out.push_back(static_cast<std::uint8_t>(0x80 | (c >> 6 & 0x3F)));
    out.push_back(static_cast<std::uint8_t>(0x80 | (c & 0x3F)));
  } else {
    out.push_back(static_cast<std::uint8_t>(0xF0 | c >> 18));
    out.push_back(static_cast<std::uint8_t>(0x80 | (c >> 12 & 0x3F)));
    out.push_back(static_cast<std::uint8_t>(0x80 | (c >> 6 & 0x3F)));
    out.push_back(static_cast<std::uint8_t>(0x80 | (c & 0x3F)));
  }
}

// The whole conversion of `input`, lines kept as they are; "fail" when it
// fails.
std::string convert(const Bytes& input, int from, int to) {
  ConversionBuffer buffer;
  buffer.out = static_cast<std::uint8_t*>(std::malloc(input.size() + 1));
  std::memcpy(buffer.out, input.data(), input.size());
  buffer.size = static_cast<std::int32_t>(input.size());
  const bool ok = convertInMemory(buffer, from, to, kLineEndingKeep, ErrorPolicy{}, Fold::none);
  std::string out = ok ? std::string(buffer.out, buffer.out + buffer.size) : "fail";
  if (buffer.in_begin != buffer.out) std::free(const_cast<std::uint8_t*>(buffer.in_begin));
  std::free(buffer.out);
  return out;
}

std::string text(const Bytes& bytes) {
  return std::string(bytes.begin(), bytes.end());
}

// Every vector of `name`, one a line (the line ends themselves left out):
// the codes decode to the characters in one text, and the characters that
// are written back go from UTF-8 to the codes and back in another.
void checkVectors(const std::string& name, int code, std::size_t count, int isoCode = 0) {
  const std::vector<Vector> vectors = load(name);
  ASSERT_EQ(vectors.size(), count) << name;
  Bytes codes, decoded, written, writtenUtf8;
  for (const Vector& v : vectors) {
    if (v.code == Bytes{0x0A} || v.code == Bytes{0x0D}) continue;
    codes.insert(codes.end(), v.code.begin(), v.code.end());
    codes.push_back(0x0A);
    for (const char32_t c : v.chars) putUtf8(decoded, c);
    decoded.push_back(0x0A);
    if (!v.written) continue;
    // ESC, SO and SI would read back as controls in ISO-2022-JP-2004.
    if (isoCode != 0 && (v.chars == U"\x1B" || v.chars == U"\x0E" || v.chars == U"\x0F")) continue;
    written.insert(written.end(), v.code.begin(), v.code.end());
    written.push_back(0x0A);
    for (const char32_t c : v.chars) putUtf8(writtenUtf8, c);
    writtenUtf8.push_back(0x0A);
  }
  EXPECT_TRUE(convert(codes, code, kCodeUtf8) == text(decoded)) << name << ": decoding";
  EXPECT_TRUE(convert(writtenUtf8, kCodeUtf8, code) == text(written)) << name << ": encoding";
  if (isoCode != 0) {
    const std::string iso = convert(writtenUtf8, kCodeUtf8, isoCode);
    ASSERT_NE(iso, "fail");
    EXPECT_TRUE(convert(Bytes(iso.begin(), iso.end()), isoCode, kCodeUtf8) == text(writtenUtf8))
        << name << ": through ISO-2022-JP-2004";
  }
}

TEST(WideCodesTest, EveryMapEntryBothWays) {
  checkVectors("sjis2004", kCodeSjis2004, 11424, kCodeIso2022jp2004);
  checkVectors("eucjis2004", kCodeEucjis2004, 11424);
  checkVectors("eucjpms", kCodeEucjpms, 15236);
  checkVectors("cp51932", kCodeCp51932, 7527);
}

// Code, bytes (hex), text (UTF-8 hex), and which ways hold: "<>" both, "<"
// the bytes decode to the text but the text is written otherwise, ">" the
// text is written so only with the fallback, "x" the bytes are malformed or
// the text has no code.
struct HandCase {
  int code;
  const char* bytes;
  const char* text;
  const char* ways;
};

TEST(WideCodesTest, HandCheckedRows) {
  const HandCase cases[] = {
      // CP51932: NEC row 13 at AD, the NEC-selected IBM rows at F9..FC, the
      // IBM extensions written at those codes, the JIS X 0208 code before
      // NEC's, cp932's U+FF5E at A1 C1, katakana after 8E, no 8F.
      {kCodeCp51932, "ad a1", "e2 91 a0", "<>"},    // ① U+2460
      {kCodeCp51932, "ad ea", "e3 88 b1", "<>"},    // ㈱ U+3231
      {kCodeCp51932, "ad e2", "e2 84 96", "<>"},    // № U+2116
      {kCodeCp51932, "f9 a1", "e7 ba 8a", "<>"},    // 纊 U+7E8A (cp932 ED 40, FA 5C)
      {kCodeCp51932, "fc f1", "e2 85 b0", "<>"},    // ⅰ U+2170 (cp932 EE EF, FA 40)
      {kCodeCp51932, "a2 cc", "ef bf a2", "<>"},    // ￢ U+FFE2 (cp932 81 CA)
      {kCodeCp51932, "fc fb", "ef bf a2", "<"},     // ￢ again (cp932 EE F9)
      {kCodeCp51932, "a2 e2", "e2 89 92", "<>"},    // ≒ U+2252 (cp932 81 E0)
      {kCodeCp51932, "ad f0", "e2 89 92", "<"},     // ≒ again (cp932 87 90)
      {kCodeCp51932, "a1 c1", "ef bd 9e", "<>"},    // ～ U+FF5E
      {kCodeCp51932, "a1 c1", "e3 80 9c", ">"},     // 〜 U+301C, its twin
      {kCodeCp51932, "8e b6", "ef bd b6", "<>"},    // ｶ U+FF76
      {kCodeCp51932, "8f b0 a1", "e4 b8 82", "x"},  // no JIS X 0212
      {kCodeCp51932, "f5 a1", "ee 80 80", "x"},     // no user-defined area
      // eucJP-ms: the IBM extensions in JIS X 0212 rows 83 and 84, the
      // NEC-selected rows left to the user-defined area, the C1 controls.
      {kCodeEucjpms, "ad a1", "e2 91 a0", "<>"},     // ①
      {kCodeEucjpms, "8f d4 e3", "e7 ba 8a", "<>"},  // 纊 in JIS X 0212
      {kCodeEucjpms, "8f f3 f3", "e2 85 b0", "<>"},  // ⅰ
      {kCodeEucjpms, "ad b5", "e2 85 a0", "<>"},     // Ⅰ U+2160
      {kCodeEucjpms, "8f f3 fd", "e2 85 a0", "<"},   // Ⅰ again
      {kCodeEucjpms, "8f a2 c3", "ef bf a4", "<>"},  // ￤ U+FFE4
      {kCodeEucjpms, "f5 a1", "ee 80 80", "<>"},     // U+E000
      {kCodeEucjpms, "fe fe", "ee 8e ab", "<>"},     // U+E3AB
      {kCodeEucjpms, "8f f5 a1", "ee 8e ac", "<>"},  // U+E3AC
      {kCodeEucjpms, "8f fe fe", "ee 9d 97", "<>"},  // U+E757
      {kCodeEucjpms, "85", "c2 85", "<>"},           // a C1 control
      {kCodeEucjpms, "8e b6", "ef bd b6", "<>"},     // ｶ
      {kCodeEucjpms, "a1 c1", "ef bd 9e", "<>"},     // ～
      // The JIS X 0213 codes: ASCII 5C and 7E; U+00A5 and U+203E only with
      // the fallback, in full width; the pairs and the lone base and mark.
      {kCodeSjis2004, "5c 7e", "5c 7e", "<>"},
      {kCodeSjis2004, "81 8f 81 50", "c2 a5 e2 80 be", ">"},
      {kCodeSjis2004, "82 f5", "e3 81 8b e3 82 9a", "<>"},  // か゚
      {kCodeSjis2004, "82 a9 82 f5", "e3 81 8b e3 81 8b e3 82 9a", "<>"},
      {kCodeSjis2004, "86 84 86 80", "cb a9 cb a5", "<"},  // ˩˥ is one code ...
      {kCodeSjis2004, "86 85", "cb a9 cb a5", "<>"},       // ... 86 85
      {kCodeSjis2004, "86 85 86 80", "cb a9 cb a5 cb a5", "<>"},
      {kCodeSjis2004, "98 73 82 e9", "f0 a0 ae 9f e3 82 8b", "<>"},  // 𠮟る
      {kCodeSjis2004, "f0 40", "f0 a0 82 89", "<>"},                 // 𠂉, plane 2
      {kCodeSjis2004, "ed 40 fa 40", "e7 a1 83 e8 b1 97", "<>"},     // 硃豗, cp932's 纊 and ⅰ
      {kCodeEucjis2004, "a4 f7", "e3 81 8b e3 82 9a", "<>"},
      {kCodeEucjis2004, "8f a1 a1", "f0 a0 82 89", "<>"},
      {kCodeEucjis2004, "a1 ef a1 b1", "c2 a5 e2 80 be", ">"},
      {kCodeIso2022jp2004, "1b 24 42 24 22 1b 24 28 51 4f 54 1b 28 42 0a",
       "e3 81 82 f0 a0 ae 9f 0a", "<>"},  // あ𠮟 LF
      {kCodeIso2022jp2004, "1b 24 42 21 3d 1b 24 28 51 21 3d 1b 28 42", "e2 80 95 e2 80 94",
       "<>"},  // ―, then — EM DASH, which JIS X 0208 reads as ―
      {kCodeIso2022jp2004, "1b 24 28 4f 24 77 1b 24 28 50 21 21 1b 28 42",
       "e3 81 8b e3 82 9a f0 a0 82 89", "<"},  // ISO-2022-JP-3's plane 1
  };
  for (const HandCase& c : cases) {
    const Bytes bytes = hex(c.bytes);
    const Bytes utf8 = hex(c.text);
    const std::string ways = c.ways;
    const std::string decoded = convert(bytes, c.code, kCodeUtf8);
    const std::string encoded = convert(utf8, kCodeUtf8, c.code);
    if (ways == "x") {
      EXPECT_TRUE(decoded != text(utf8) && encoded != text(bytes)) << c.bytes;
      continue;
    }
    if (ways != ">") {
      EXPECT_EQ(toHex(Bytes(decoded.begin(), decoded.end())), toHex(utf8)) << c.bytes;
    }
    if (ways == "<>") {
      EXPECT_EQ(toHex(Bytes(encoded.begin(), encoded.end())), toHex(bytes)) << c.text;
    }
    if (ways == ">") {
      EXPECT_EQ(encoded, "fail") << c.text;
      ConversionBuffer buffer;
      buffer.out = static_cast<std::uint8_t*>(std::malloc(utf8.size()));
      std::memcpy(buffer.out, utf8.data(), utf8.size());
      buffer.size = static_cast<std::int32_t>(utf8.size());
      ASSERT_TRUE(convertInMemory(buffer, kCodeUtf8, c.code, kLineEndingKeep,
                                  errorPolicyFor(Errors::strict, true, 0, c.code), Fold::none));
      EXPECT_EQ(toHex(Bytes(buffer.out, buffer.out + buffer.size)), toHex(bytes)) << c.text;
      if (buffer.in_begin != buffer.out) std::free(const_cast<std::uint8_t*>(buffer.in_begin));
      std::free(buffer.out);
    }
  }
}

}  // namespace
}  // namespace mek::test
