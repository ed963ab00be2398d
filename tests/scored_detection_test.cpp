#include "detect/scored_detection.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>

#include "mek/detect.h"
#include "mek/mek.h"
#include "tests/test_support.h"

namespace mek::test {
namespace {

// The bytes of `text` (UTF-8) in `code`, by the library itself.
Bytes encoded(const std::string& text, Code code) {
  const Result result = convert(text, Code::utf8, code);
  EXPECT_TRUE(result.ok()) << text;
  return Bytes(result.bytes.begin(), result.bytes.end());
}

// Scored detection fed in pieces of `piece` bytes.
ScoredAnswer inPieces(const Bytes& text, std::size_t piece) {
  ScoredDetector detector;
  Area area;
  EXPECT_TRUE(area.reserve(piece));
  for (std::size_t at = 0; at < text.size() && !detector.settled(); at += piece) {
    const std::size_t n = std::min(piece, text.size() - at);
    std::memcpy(area.data(), text.data() + at, n);
    detector.feed(area.data(), area.data() + n);
  }
  return detector.finish();
}

// The same answer and scores whatever the pieces, and the answer expected.
void expectScored(const Bytes& text, int code, const std::string& what) {
  const ScoredAnswer whole = ScoredDetector::detect(text.data(), text.data() + text.size());
  EXPECT_EQ(whole.code, code) << what << ": " << (text.size() < 64 ? toHex(text) : "");
  for (const std::size_t piece : {1, 3, 4096}) {
    const ScoredAnswer got = inPieces(text, piece);
    EXPECT_EQ(got.code, whole.code) << what << " piece " << piece;
    EXPECT_EQ(got.runner_up, whole.runner_up) << what << " piece " << piece;
    EXPECT_EQ(got.score, whole.score) << what << " piece " << piece;
    EXPECT_EQ(got.runner_up_score, whole.runner_up_score) << what << " piece " << piece;
  }
}

struct ScoredCase {
  const char* text;  // UTF-8; written in `written`
  Code written;
  Code first;  // what the fixed order answers
};

// The short texts where the fixed order goes wrong, and texts it gets right,
// which score must get right too: score answers the code each was written in.
TEST(ScoredDetectionTest, ShortTextsAreTakenForTheCodeTheyWereWrittenIn) {
  const ScoredCase cases[] = {
      // One-word UTF-8 that is also valid Shift_JIS or EUC-JP.
      {"東京", Code::utf8, Code::utf8},
      {"鳴尾", Code::utf8, Code::euc_jp},
      {"大阪", Code::utf8, Code::utf8},
      {"日本", Code::utf8, Code::utf8},
      {"漢字", Code::utf8, Code::utf8},
      {"鈴木", Code::utf8, Code::utf8},
      {"設定", Code::utf8, Code::utf8},
      {"はい", Code::utf8, Code::utf8},
      {"名前", Code::utf8, Code::sjis},
      {"テスト", Code::utf8, Code::utf8},
      // UTF-16 without a mark, which the fixed order reads as Shift_JIS or
      // takes for UTF-16 little-endian only when nothing else fits (and
      // refuses when that reading is noise).
      {"テスト", Code::utf16_le, Code::sjis},
      {"ファイル", Code::utf16_le, Code::utf16_le},
      {"こんにちは", Code::utf16_le, Code::utf16_le},
      {"日本語のテキスト", Code::utf16_le, Code::sjis},
      {"エラー: 開けません", Code::utf16_le, Code::utf16_le},
      {"テスト", Code::utf16_be, Code::sjis},
      {"ファイル", Code::utf16_be, Code::autodetect},
      {"こんにちは", Code::utf16_be, Code::autodetect},
      {"設定ファイルを読みます", Code::utf16_be, Code::autodetect},
      // Half-width katakana Shift_JIS, whose pairs EUC-JP also takes but for
      // a cut-off last byte.
      {"ｱｲｳｴｵ", Code::sjis, Code::sjis},
      {"ﾃｽﾄ", Code::sjis, Code::sjis},
      {"0001,ﾔﾏﾀﾞ ﾀﾛｳ,ﾄｳｷｮｳ\r\n0002,ｽｽﾞｷ ﾊﾅｺ,ｵｵｻｶ\r\n", Code::sjis, Code::sjis},
      // The same ledger line in EUC-JP, which Shift_JIS reads as kanji that
      // all lie in one row (8E A1..DF), and one-word EUC-JP kanji, which
      // Shift_JIS reads as half-width katakana (B8 B5 CF B7 B1 A1).
      {"0001,ｶﾌﾞｼｷｶﾞｲｼｬ ﾔﾏﾀﾞ,1200", Code::euc_jp, Code::sjis},
      {"元老院", Code::euc_jp, Code::euc_jp},
      // EUC-JP, Shift_JIS and ISO-2022-JP sentences.
      {"日本語のテキストです。", Code::euc_jp, Code::euc_jp},
      {"東京都千代田区", Code::euc_jp, Code::euc_jp},
      {"設定ファイルを開けません", Code::euc_jp, Code::euc_jp},
      {"ｶﾅ混じりの文", Code::euc_jp, Code::euc_jp},
      {"日本語のテキストです。", Code::sjis, Code::sjis},
      {"日本語", Code::jis, Code::jis},
  };
  for (const ScoredCase& c : cases) {
    const Bytes text = encoded(c.text, c.written);
    const std::string what = std::string(c.text) + " in " + std::string(name(c.written));
    expectScored(text, static_cast<int>(c.written), what);
    const std::string_view view(reinterpret_cast<const char*>(text.data()), text.size());
    EXPECT_EQ(detect(view, Detection::score), c.written) << what;
    EXPECT_EQ(detect(view), c.written) << what;
    EXPECT_EQ(detect(view, Detection::first), c.first) << what;
  }
}

// Marks, ties, cp932, lengths, the end of the scored prefix and input that
// nothing decodes.
TEST(ScoredDetectionTest, MarksTiesAndWhatCannotWin) {
  const struct {
    const char* what;
    Bytes text;
    int code;
  } cases[] = {
      {"a mark decides", hex("FF FE 41 42 43"), kCodeUtf16LeBom},
      {"ASCII ties go to UTF-8", hex("68 65 6C 6C 6F 0A"), kCodeUtf8},
      {"empty", hex(""), kCodeUtf8},
      {"the user-defined area is cp932", hex("F0 40 82 A0 82 A2 82 A4 82 A6"), kCodeCp932},
      {"a cp932 reading that is mostly private use is noise, and so is a Shift_JIS-2004 one "
       "with one character in three beyond JIS X 0208 (𠂉)",
       hex("F0 40 82 A0 82 A2"), kCodeAuto},
      {"Shift_JIS-2004 read as cp932 gives NEC-selected codes (硃 ED 40), which Windows never "
       "writes",
       hex("93 FA 96 7B 8C EA 82 CC ED 40 82 C6 FA 40 81 42"), kCodeSjis2004},
      {"cp932 as Windows writes ①㈱纊ⅰ stays sjis", hex("87 40 87 8D FA 5C FA 40 82 CC 95 B6"),
       kCodeSjis},
      {"ASCII text with line ends is UTF-8, not UTF-16 kanji", hex("61 0A 62 0A"), kCodeUtf8},
      {"a UTF-16 word whose bytes are ASCII with a CR (不名)", hex("4E 0D 54 0D"), kCodeUtf16Be},
      {"noise is no text", hex("FF FF FF FF"), kCodeAuto},
      {"odd length rules out UTF-16", hex("C6 30 B9 30 C8 30 41"), kCodeSjis},
      {"a cut-off last sequence rules UTF-8 out, and UTF-8 cut short is no Shift_JIS-2004",
       hex("E6 97 A5 E6 9C AC E8 AA 9E E3 81 AE E3 83 86 E3 82 AD E3 82 B9 E3 83 88 E4 BA"),
       kCodeAuto},
      {"an ESC that ISO-2022-JP rejects", hex("1B 24 42 FF FF"), kCodeAuto},
      {"nothing decodes", hex("FF FF FF"), kCodeAuto},
  };
  for (const auto& c : cases) expectScored(c.text, c.code, c.what);

  // The answer is decided after the scored prefix (here a text without a
  // line end), or after the first line whose reading is clear: what comes
  // later does not count.
  const Bytes word = encoded("東京", Code::utf8);
  Bytes text;
  while (text.size() <= ScoredDetector::kScoredBytes + 7)
    text.insert(text.end(), word.begin(), word.end());
  expectScored(text, kCodeUtf8, "long UTF-8");
  for (const std::uint8_t b : {0xFF, 0x41, 0x42}) text.push_back(b);
  expectScored(text, kCodeUtf8, "long UTF-8, then FF 41 42");
  const Bytes line = encoded("東京都千代田区の日本語\n", Code::utf8);
  for (const char* after : {"\xFF", "\x82\xA0"}) {
    Bytes lines = line;
    lines.insert(lines.end(), after, after + std::strlen(after));
    expectScored(
        lines, kCodeUtf8,
        std::string("a clear UTF-8 line, then ") + toHex(Bytes(after, after + std::strlen(after))));
  }
  Bytes unclear = encoded("東京\n", Code::utf8);
  unclear.push_back(0xFF);
  expectScored(unclear, kCodeAuto, "two UTF-8 kanji are no clear reading");
}

// A code wins only on evidence. Texts in UTF-8, Shift_JIS and EUC-JP with
// one stray FF byte at every character boundary, padded to an even length
// (which UTF-16 reads whole): either no code takes them, under either
// detection, and the nearest reading names the code and the stray byte; or,
// by score, a line before the stray byte decided the code, and the
// conversion fails at the stray byte. The same texts whole, and in UTF-16
// and UTF-32 without a mark, are still taken for the code they are in.
TEST(ScoredDetectionTest, ACodeWinsOnlyOnEvidence) {
  const char* const texts[] = {
      "abc 日本語のテキスト。\n",
      "設定ファイル config.ini を開けません: %s\n",
      "/* 関数の説明 */\nint step(int n) {\n  return n * 2;  // 二倍\n}\n",
      "0001,山田 太郎,東京都千代田区,1200\r\n0002,鈴木 花子,大阪府大阪市,800\r\n",
  };
  for (const char* text : texts) {
    for (const Code written : {Code::utf8, Code::sjis, Code::euc_jp}) {
      const Bytes whole = encoded(text, written);
      EXPECT_EQ(detect(std::string_view(reinterpret_cast<const char*>(whole.data()), whole.size())),
                written)
          << text;
      const Bytes internal = encoded(text, Code::utf16_be);
      std::size_t at = 0;
      for (std::size_t unit = 0; unit + 1 < internal.size(); unit += 2) {
        const Bytes before =
            encoded(convert(std::string_view(reinterpret_cast<const char*>(internal.data()), unit),
                            Code::utf16_be, Code::utf8)
                        .bytes,
                    written);
        at = before.size();
        Bytes broken = whole;
        broken.insert(broken.begin() + static_cast<std::ptrdiff_t>(at), 0xFF);
        if (broken.size() % 2 != 0) broken.push_back(' ');
        const std::string_view view(reinterpret_cast<const char*>(broken.data()), broken.size());
        const std::string what = std::string(text) + " in " + std::string(name(written)) +
                                 ", FF at " + std::to_string(at);
        EXPECT_EQ(detect(view, Detection::first), Code::autodetect) << what;
        const Result result = convert(view, Code::autodetect, Code::utf8);
        EXPECT_EQ(result.error.offset, at) << what;
        if (detect(view, Detection::score) == written) {
          const auto lineEnd =
              std::find(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(at), '\n');
          EXPECT_NE(lineEnd, whole.begin() + static_cast<std::ptrdiff_t>(at)) << what;
          EXPECT_EQ(result.error.kind, ErrorKind::malformed) << what;
          continue;
        }
        EXPECT_EQ(detect(view, Detection::score), Code::autodetect) << what;
        const Undetected why = NearestReading::of(view);
        // Shift_JIS reads both cp932 and sjis; the first of them is told.
        EXPECT_EQ(why.code, written) << what;
        EXPECT_EQ(why.first.kind, ErrorKind::undetected) << what;
        EXPECT_EQ(why.first.offset, at) << what;
        EXPECT_EQ(why.first.bytes[0], 0xFF) << what;
        EXPECT_EQ(result.from, written) << what;
        EXPECT_EQ(result.error.kind, ErrorKind::undetected) << what;
      }
    }
    for (const Code written : {Code::utf16_le, Code::utf16_be, Code::utf32_le, Code::utf32_be}) {
      const Bytes bytes = encoded(text, written);
      const std::string_view view(reinterpret_cast<const char*>(bytes.data()), bytes.size());
      EXPECT_EQ(detect(view), written) << text << " in " << name(written);
    }
  }
}

// The command line: the option, its failure, what --verbose tells, and the
// same answer from a file, a pipe and in pieces.
TEST(ScoredDetectionTest, CommandLine) {
  ScratchDir dir;
  writeFile(dir / "word.txt", encoded("テスト", Code::utf16_le));
  for (const char* piece : {"4096", "1", "3"}) {
    setenv("MEK_PIECE_SIZE", piece, 1);  // the tool inherits it
    Process file = runMek(dir, "--guess --detect=score word.txt");
    EXPECT_EQ(file.out, "utf16_le NONE\n") << piece << file.err;
    Process pipe = runMek(dir, "--guess --detect=score", " < word.txt");
    EXPECT_EQ(pipe.out, "utf16_le NONE\n") << piece << pipe.err;
    unsetenv("MEK_PIECE_SIZE");
  }
  EXPECT_EQ(runMek(dir, "--guess word.txt").out, "utf16_le NONE\n");
  EXPECT_EQ(runMek(dir, "--guess --detect=first word.txt").out, "sjis NONE\n");
  Process converted = runMek(dir, "--detect=score word.txt -outf8");
  EXPECT_EQ(converted.out, "テスト");

  Process verbose = runMek(dir, "--guess --verbose --detect=score word.txt");
  EXPECT_EQ(verbose.status, 0);
  EXPECT_EQ(verbose.err, "detected utf16_le\nscore 100.00, runner-up sjis score 30.00\n");

  Process unknown = runMek(dir, "--detect=best word.txt -outf8");
  EXPECT_EQ(unknown.status, 2);
  EXPECT_EQ(unknown.err.rfind("unknown detection: best\nmek ", 0), 0u) << unknown.err;
  EXPECT_EQ(unknown.out, "");

  // Broken UTF-8 (one stray byte; UTF-16 would read its even length) is
  // refused in every mode, the file named and the stray byte placed.
  const std::string broken = "abc \xE6\x97\xA5\xFF\xE6\x9C\xAC\xE8\xAA\x9E ..\n";
  writeFile(dir / "bad.txt", broken);
  writeFile(dir / "out.txt", std::string("kept"));
  const std::string why =
      "cannot detect the input code%: it reads as utf8 except at byte 7 (line 1, column 6): "
      "invalid utf8 bytes FF\n";
  const auto told = [&why](const std::string& in, const std::string& label) {
    std::string message = why;
    return label + message.replace(message.find('%'), 1, in);
  };
  const std::pair<const char*, std::string> cases[] = {
      {"bad.txt -outf8 out.txt", told(" in 'bad.txt'", "")},
      {"--detect=first bad.txt -outf8 out.txt", told(" in 'bad.txt'", "")},
      {"-iauto -osjis", told("", "")},
      {"--guess bad.txt", told(" in 'bad.txt'", "")},
      {"--guess bad.txt word.txt", told("", "bad.txt: ")},
      {"--check bad.txt", told(" in 'bad.txt'", "")},
      {"--in-place -outf8 bad.txt", told("", "bad.txt: ")},
  };
  for (const auto& [args, message] : cases) {
    Process failed = runMek(dir, args, "< bad.txt");
    EXPECT_EQ(failed.status, 1) << args;
    EXPECT_EQ(failed.err, message) << args;
    EXPECT_EQ(failed.out.find("bad.txt"), std::string::npos) << args;
  }
  EXPECT_EQ(readFile(dir / "out.txt"), hex("6B 65 70 74"));
  EXPECT_EQ(readFile(dir / "bad.txt"), Bytes(broken.begin(), broken.end()));
  writeFile(dir / "noise.txt", hex("FF FF FF"));
  EXPECT_EQ(runMek(dir, "noise.txt -outf8").err, "cannot detect the input code in 'noise.txt'\n");
}

}  // namespace
}  // namespace mek::test
