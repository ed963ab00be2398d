// Shift_JIS as Windows writes it (cp932), the twins that --fallback writes in
// every Japanese encoder, and UTF-8 with a mark. The expected bytes of the
// tables were checked against glibc iconv's CP932.

#include <gtest/gtest.h>

#include <map>
#include <tuple>
#include <vector>

#include "japanese/twins.h"
#include "mek/registry.h"
#include "tests/codec_check.h"
#include "tests/test_support.h"

namespace mek::test {
namespace {

const Converter& decoder(int code) {
  return *findDecoder(code);
}
const Converter& encoder(int code) {
  return *findEncoder(code);
}

// The policy that writes twins and is strict otherwise.
const ErrorPolicy* twins() {
  static const ErrorPolicy policy{Errors::strict, true};
  return &policy;
}

Bytes unitBytes(unsigned unit) {
  return {static_cast<std::uint8_t>(unit >> 8), static_cast<std::uint8_t>(unit)};
}

Bytes codeBytes(unsigned code) {
  if (code < 0x100) return {static_cast<std::uint8_t>(code)};
  return {static_cast<std::uint8_t>(code >> 8), static_cast<std::uint8_t>(code)};
}

// Characters whose cp932 bytes differ from the sjis code's, or that only
// cp932 has: duplicates as Windows picks them, characters without a code of
// their own, and the user-defined area.
TEST(Cp932Test, WindowsBytes) {
  const std::pair<unsigned, const char*> rows[] = {
      {0x2252, "81 E0"}, {0x2235, "81 E6"}, {0x2160, "87 54"}, {0x3231, "87 8A"}, {0x2116, "87 82"},
      {0x2121, "87 84"}, {0x221A, "81 E3"}, {0x222A, "81 BE"}, {0x2170, "FA 40"}, {0x00AC, "81 CA"},
      {0xFFE2, "81 CA"}, {0xFFE4, "FA 55"}, {0xFF07, "FA 56"}, {0x7E8A, "FA 5C"}, {0x301C, "81 60"},
      {0x2016, "81 61"}, {0x2212, "81 7C"}, {0x00A2, "81 91"}, {0x00A3, "81 92"}, {0x2014, "81 5C"},
      {0x00A5, "5C"},    {0x203E, "7E"},    {0xE000, "F0 40"}, {0xE0BB, "F0 FC"}, {0xE0BC, "F1 40"},
      {0xE757, "F9 FC"}, {0xFF5E, "81 60"}, {0x2015, "81 5C"},
  };
  for (const auto& [unit, bytes] : rows) {
    SCOPED_TRACE(unit);
    const Converted got = convertAll(encoder(kCodeCp932), unitBytes(unit));
    ASSERT_TRUE(got.ok);
    EXPECT_EQ(toHex(got.bytes), bytes);
  }
  for (unsigned unit : {0xE758u, 0xFEFFu, 0x00A6u, 0xD800u}) {
    EXPECT_FALSE(convertAll(encoder(kCodeCp932), unitBytes(unit)).ok) << unit;
  }
  // Reading: the user-defined area in order, everything else as sjis reads it.
  const std::pair<const char*, const char*> reads[] = {
      {"F0 40", "E0 00"}, {"F0 7E", "E0 3E"}, {"F0 80", "E0 3F"},
      {"F0 FC", "E0 BB"}, {"F9 FC", "E7 57"}, {"87 8A", "32 31"},
  };
  for (const auto& [in, out] : reads) {
    const Converted got = convertAll(decoder(kCodeCp932), hex(in));
    ASSERT_TRUE(got.ok) << in;
    EXPECT_EQ(toHex(got.bytes), out) << in;
  }
  for (const char* in : {"F0 7F", "F0 FD", "F0 3F", "80 41", "A0 41", "FD 41"}) {
    EXPECT_FALSE(convertAll(decoder(kCodeCp932), hex(in)).ok) << in;
  }
  EXPECT_FALSE(convertAll(decoder(kCodeSjis), hex("F0 40")).ok);
}

// Every code cp932 reads, through UTF-8 and back, gives the same code, except
// where several codes read as one character: then the lowest, but an IBM
// extension before a NEC-selected one.
TEST(Cp932Test, EveryCodeRoundTripsOrGoesToItsGroupsChoice) {
  std::map<unsigned, std::vector<unsigned>> codesOfUnit;
  for (unsigned code = 0; code < 0x10000; ++code) {
    if (code >= 0x100 && code < 0x8100) continue;
    const Converted unit = convertAll(decoder(kCodeCp932), codeBytes(code));
    if (!unit.ok || unit.bytes.size() != 2) continue;
    codesOfUnit[static_cast<unsigned>(unit.bytes[0] << 8 | unit.bytes[1])].push_back(code);
  }
  ASSERT_EQ(codesOfUnit.size(), 7517u + 1880u);  // sjis characters and the user-defined area
  int groups = 0;
  for (const auto& [unit, codes] : codesOfUnit) {
    SCOPED_TRACE(unit);
    const auto isNecSelected = [](unsigned c) { return c >= 0xED40 && c <= 0xEEFC; };
    unsigned expected = codes.front();  // codes are in ascending order
    for (unsigned c : codes) {
      if (isNecSelected(expected) && !isNecSelected(c)) expected = c;
    }
    groups += codes.size() > 1;
    const Converted utf8 = convertAll(encoder(kCodeUtf8), unitBytes(unit));
    const Converted back = convertAll(decoder(kCodeUtf8), utf8.bytes);
    ASSERT_TRUE(back.ok);
    const Converted got = convertAll(encoder(kCodeCp932), back.bytes);
    ASSERT_TRUE(got.ok);
    EXPECT_EQ(toHex(got.bytes), toHex(codeBytes(expected)));
  }
  EXPECT_EQ(groups, 396);
}

// Every twin in every Japanese encoder, without and with fallback ("" fails).
// A character keeps its own code where it has one.
TEST(FallbackTest, EveryTwinInEveryEncoder) {
  struct Row {
    unsigned unit;
    const char* sjis;
    const char* sjisFallback;
    const char* euc;
    const char* eucFallback;
  };
  const Row rows[] = {
      {0x301C, "", "81 60", "A1 C1", "A1 C1"}, {0xFF5E, "81 60", "81 60", "", "A1 C1"},
      {0x2016, "", "81 61", "A1 C2", "A1 C2"}, {0x2225, "81 61", "81 61", "", "A1 C2"},
      {0x2212, "", "81 7C", "A1 DD", "A1 DD"}, {0xFF0D, "81 7C", "81 7C", "", "A1 DD"},
      {0x00A2, "", "81 91", "A1 F1", "A1 F1"}, {0xFFE0, "81 91", "81 91", "", "A1 F1"},
      {0x00A3, "", "81 92", "A1 F2", "A1 F2"}, {0xFFE1, "81 92", "81 92", "", "A1 F2"},
      {0x00AC, "", "81 CA", "A2 CC", "A2 CC"}, {0xFFE2, "FA 54", "FA 54", "", "A2 CC"},
      {0x2014, "", "81 5C", "", "A1 BD"},      {0xFF3C, "81 5F", "81 5F", "", "A1 C0"},
  };
  // ISO-2022-JP writes the same JIS X 0208 position as EUC-JP, 7-bit.
  const auto jisOf = [](const char* euc) {
    Bytes bytes = hex(euc);
    if (bytes.empty()) return std::string();
    for (std::uint8_t& b : bytes) b = static_cast<std::uint8_t>(b - 0x80);
    return "1B 24 42 " + toHex(bytes);
  };
  const auto mailOf = [](const std::string& jis) { return jis.empty() ? jis : jis + " 1B 28 42"; };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.unit);
    const std::tuple<const Converter*, const ErrorPolicy*, std::string> expectations[] = {
        {&encoder(kCodeSjis), nullptr, r.sjis},
        {&encoder(kCodeSjis), twins(), r.sjisFallback},
        {&encoder(kCodeEucJp), nullptr, r.euc},
        {&encoder(kCodeEucJp), twins(), r.eucFallback},
        {&encoder(kCodeJis), nullptr, jisOf(r.euc)},
        {&encoder(kCodeJis), twins(), jisOf(r.eucFallback)},
        // The mail form: the same, then back to ASCII at the end.
        {&encoder(kCodeIso2022jp), nullptr, mailOf(jisOf(r.euc))},
        {&encoder(kCodeIso2022jp), twins(), mailOf(jisOf(r.eucFallback))},
        {&encoder(kCodeCp932), nullptr, r.unit == 0xFFE2 ? "81 CA" : r.sjisFallback},
    };
    for (const auto& [converter, policy, bytes] : expectations) {
      const Converted got = convertAll(*converter, unitBytes(r.unit), policy);
      EXPECT_EQ(got.ok, !bytes.empty());
      if (got.ok) {
        EXPECT_EQ(toHex(got.bytes), bytes);
      }
    }
  }
  // No other character changes.
  for (unsigned unit = 0; unit < 0x10000; ++unit) {
    bool twin = false;
    for (const Row& r : rows) twin = twin || r.unit == unit;
    if (twin) continue;
    for (int code : {kCodeSjis, kCodeEucJp, kCodeJis, kCodeIso2022jp}) {
      const Converted plain = convertAll(encoder(code), unitBytes(unit));
      const Converted fallback = convertAll(encoder(code), unitBytes(unit), twins());
      ASSERT_EQ(plain.ok, fallback.ok) << code << " " << unit;
      ASSERT_EQ(plain.bytes, fallback.bytes) << code << " " << unit;
    }
  }
  // The list of twins is the one the tables are built from.
  for (unsigned unit = 0; unit < 0x10000; ++unit) {
    bool listed = false;
    for (std::uint16_t t : kTwinUnits) listed = listed || t == unit;
    EXPECT_EQ(twinJisX0208(static_cast<std::uint16_t>(unit)) != kNoMapping, listed) << unit;
  }
}

TEST(Utf8BomTest, MarkWrittenFirstAndDroppedOnInput) {
  const Converted out = convertAll(encoder(kCodeUtf8Bom), hex("30 42 00 41"));
  ASSERT_TRUE(out.ok);
  EXPECT_EQ(toHex(out.bytes), "EF BB BF E3 81 82 41");
  EXPECT_EQ(toHex(convertAll(encoder(kCodeUtf8Bom), Bytes()).bytes), "EF BB BF");
  EXPECT_EQ(findDecoder(kCodeUtf8Bom), findDecoder(kCodeUtf8));
  EXPECT_EQ(toHex(convertAll(decoder(kCodeUtf8Bom), out.bytes).bytes), "30 42 00 41");
}

}  // namespace
}  // namespace mek::test
