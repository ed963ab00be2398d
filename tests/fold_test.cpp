// The text folds against their reference: tests/vectors/folds.txt, written
// by tools/gen_fold_vectors.py from Python's unicodedata (NFKC for wide kana
// and narrow ASCII, NFC for composed kana, with the two departures of wide
// kana), over every character of each fold's range alone and before each
// mark. Every case runs through the whole streamed conversion in pieces of
// 1, 2, 3 and 4096 bytes, with its own folds and with all three; every other
// character is left as it is; the tool folds in one fixed order.

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "japanese/text_fold.h"
#include "mek/codes.h"
#include "mek/detail/conversion_stream.h"
#include "mek/mek.h"
#include "tests/test_support.h"

namespace mek::test {
namespace {

struct FoldCase {
  Fold folds = Fold::none;
  Bytes input;
  Bytes expected;
  std::string line;
};

// "30AB FF9E" as UTF-16BE bytes.
Bytes units(const std::string& text) {
  Bytes bytes;
  std::istringstream in(text);
  std::string word;
  while (in >> word) {
    const auto u = static_cast<std::uint16_t>(std::stoul(word, nullptr, 16));
    bytes.push_back(static_cast<std::uint8_t>(u >> 8));
    bytes.push_back(static_cast<std::uint8_t>(u));
  }
  return bytes;
}

std::vector<FoldCase> readVectors() {
  std::ifstream in(std::string(MEK_SOURCE_DIR) + "/tests/vectors/folds.txt");
  std::vector<FoldCase> cases;
  std::string line;
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '#') continue;
    const std::size_t tab1 = line.find('\t');
    const std::size_t tab2 = line.find('\t', tab1 + 1);
    FoldCase c;
    for (const char flag : line.substr(0, tab1)) {
      c.folds = c.folds | (flag == 'w'   ? Fold::wide_kana
                           : flag == 'c' ? Fold::compose_kana
                                         : Fold::narrow_ascii);
    }
    c.input = units(line.substr(tab1 + 1, tab2 - tab1 - 1));
    c.expected = units(line.substr(tab2 + 1));
    c.line = line;
    cases.push_back(c);
  }
  return cases;
}

// UTF-16BE through the streamed conversion with `folds`.
Bytes folded(const Bytes& input, Fold folds, std::size_t piece) {
  Bytes out;
  ConversionStream::Options options;
  options.piece_size = piece;
  options.folds = folds;
  ConversionStream stream(
      Code::utf16_be, Code::utf16_be, LineEnding::lf,
      [&](const std::uint8_t* data, std::size_t size) {
        out.insert(out.end(), data, data + size);
        return true;
      },
      options);
  EXPECT_TRUE(stream.feed(input.data(), input.size()) && stream.finish());
  return out;
}

TEST(FoldTest, EveryCharacterOfEachRangeAsItsReferenceSays) {
  const std::vector<FoldCase> cases = readVectors();
  // Each fold's whole range: 63 half-width, 96 kana, 95 ASCII and U+3000.
  ASSERT_GT(cases.size(), 1000u);
  Fold seen = Fold::none;
  for (const FoldCase& c : cases) {
    seen = seen | c.folds;
    for (const Fold folds : {c.folds, Fold::all}) {
      for (const std::size_t piece : {1, 2, 3, 4096}) {
        ASSERT_EQ(toHex(folded(c.input, folds, piece)), toHex(c.expected))
            << c.line << " folds " << static_cast<unsigned>(folds) << " piece " << piece;
      }
    }
  }
  EXPECT_EQ(seen, Fold::all);
}

// Everything outside the folds' ranges passes unchanged, alone and between
// kana that wait for a mark.
TEST(FoldTest, EveryOtherCharacterIsLeftAlone) {
  Bytes text;
  Bytes expected;
  for (std::uint32_t u = 0; u < 0x10000; ++u) {
    const bool folds = (u >= 0xFF01 && u <= 0xFF5E) || (u >= 0xFF61 && u <= 0xFF9F) ||
                       u == 0x3000 || u == 0x3099 || u == 0x309A;
    // CR would become LF: the line endings are rewritten after the folds.
    if (folds || u == 0x0D || (u >= 0xD800 && u <= 0xDFFF)) continue;
    for (const std::uint16_t unit : {static_cast<std::uint16_t>(u), std::uint16_t{0x30AB}}) {
      text.push_back(static_cast<std::uint8_t>(unit >> 8));
      text.push_back(static_cast<std::uint8_t>(unit));
    }
  }
  text.insert(text.end(), {0xD8, 0x42, 0xDF, 0x9F});  // a surrogate pair
  for (const std::size_t piece : {3, 4096}) {
    const Bytes got = folded(text, Fold::all, piece);
    const auto [a, b] = std::mismatch(got.begin(), got.end(), text.begin(), text.end());
    EXPECT_TRUE(a == got.end() && b == text.end())
        << "piece " << piece << " at byte " << (b - text.begin());
  }
}

// The C++ layer and the tool: the fixed order whatever the order given,
// folds with any output code, --guess unchanged by them, a failure placed at
// the character in the input even when it was composed across pieces.
TEST(FoldTest, LibraryAndToolFoldInOneOrder) {
  // ｶﾞ, か + U+3099, Ａ１ and an ideographic space, in UTF-8.
  const std::string text = "\uFF76\uFF9E\u304B\u3099\uFF21\uFF11\u3000!";
  const auto folding = [](Fold folds) {
    Options options;
    options.folds = folds;
    return options;
  };
  const Result all = convert(text, Code::utf8, Code::utf8, LineEnding::lf,
                             folding(Fold::narrow_ascii | Fold::compose_kana | Fold::wide_kana));
  EXPECT_EQ(all.bytes, "\u30AC\u304CA1 !");
  EXPECT_EQ(
      convert(text, Code::utf8, Code::sjis, LineEnding::lf, folding(Fold::wide_kana)).error.kind,
      ErrorKind::unmapped);  // U+3099 stays without compose_kana
  // う + U+3099 is ゔ, which Shift_JIS cannot carry: placed at う.
  const Result vu = convert("ab\n\u3046\u3099", Code::utf8, Code::sjis, LineEnding::lf,
                            folding(Fold::compose_kana));
  EXPECT_EQ(vu.error.kind, ErrorKind::unmapped);
  EXPECT_EQ(vu.error.offset, 3u);
  EXPECT_EQ(vu.error.line, 2u);
  EXPECT_EQ(vu.error.column, 1u);
  std::string streamed;
  Stream stream(
      Code::utf8, Code::utf16_be, LineEnding::crlf,
      [&](std::string_view bytes) {
        streamed += bytes;
        return true;
      },
      folding(Fold::wide_kana));
  for (const char c : std::string("\uFF8A\uFF9F\n"))
    ASSERT_TRUE(stream.feed(std::string_view(&c, 1)));
  ASSERT_TRUE(stream.finish());
  EXPECT_EQ(streamed, std::string("\x30\xD1\x00\x0D\x00\x0A", 6));

  ScratchDir dir;
  writeFile(dir / "in.txt", text);
  for (const char* order :
       {"--wide-kana --compose-kana --narrow-ascii", "--narrow-ascii --compose-kana --wide-kana"}) {
    const Process run = runMek(dir, std::string("-iutf8 in.txt -outf8 ") + order);
    EXPECT_EQ(run.status, 0) << order;
    EXPECT_EQ(run.out, "\u30AC\u304CA1 !") << order;
  }
  const Process failed = runMek(dir, "-iutf8 in.txt -osjis --wide-kana --verbose");
  EXPECT_EQ(failed.status, 1);
  EXPECT_NE(failed.err.find("U+3099 has no sjis code"), std::string::npos) << failed.err;
  EXPECT_EQ(runMek(dir, "--guess in.txt --wide-kana").out, "utf8 NONE\n");
}

}  // namespace
}  // namespace mek::test
