// Encoded words of mail headers: what --mime-decode reads, what
// --mime-encode writes and that the two give the text back, the error
// policies and the places they name, and the tool around them. Pieces of
// every size are in the stream harness (stream_test.cpp); Python's email
// package and nkf are the judges in python/tests/test_mime_words.py.

#include <gtest/gtest.h>

#include <string>

#include "mek/mek.h"
#include "tests/test_support.h"

namespace mek {
namespace {

using namespace std::string_literals;

Options decoding(Errors errors = Errors::strict) {
  Options options;
  options.errors = errors;
  options.mime_decode = true;
  return options;
}

std::string fromBase64(const std::string& letters) {
  static const std::string kLetters =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string bytes;
  unsigned bits = 0;
  int count = 0;
  for (const char c : letters) {
    if (c == '=') break;
    bits = bits << 6 | static_cast<unsigned>(kLetters.find(c));
    if ((count += 6) >= 8) bytes += static_cast<char>(bits >> (count -= 8));
  }
  return bytes;
}

std::string outcome(const Result& result) {
  if (result.ok()) return result.bytes;
  return "failed at " + std::to_string(result.error.line) + ":" +
         std::to_string(result.error.column);
}

TEST(MimeWordsTest, WordsRead) {
  struct Case {
    std::string header, text;
    Errors errors = Errors::strict;
  };
  const std::string sjisWord = "=?Shift_JIS?B?k/qWe4zq?=";  // 日本語
  const Case cases[] = {
      {"Subject: =?ISO-2022-JP?B?GyRCRnxLXDhsGyhC?=\n", "Subject: 日本語\n"},
      // Adjacent words join over white space and folds; other text stays.
      {"Subject: =?UTF-8?B?5pel?=\n =?utf-8?b?5pys?=\tx =?UTF-8?Q?=E8=AA=9E?=\n",
       "Subject: 日本\tx 語\n"},
      // ISO-2022-JP cut inside a character, and left in its two-byte mode.
      {"S: =?ISO-2022-JP?B?GyRCRg==?= =?ISO-2022-JP?B?fBsoQg==?=\n", "S: 日\n"},
      {"S: =?ISO-2022-JP?B?GyRCRnw=?=\n =?ISO-2022-JP?B?S1wbKEI=?=\n", "S: 日本\n"},
      // Q: `_` is a space, =3F a question mark; a language suffix.
      {"S: =?UTF-8?Q?a_b=3F=E6=97=A5?= =?ISO-2022-JP*ja?B?GyRCRnwbKEI=?=\n", "S: a b?日日\n"},
      // The Western charsets, the names and aliases of the codes in any case.
      {"S: =?ISO-8859-1?Q?caf=E9?= =?windows-1252?Q?=80?= =?US-ASCII?Q?ok?=\n", "S: café€ok\n"},
      {"S: " + sjisWord + " =?sjis?B?k/o=?= =?euc-jp?q?=C6=FC?= =?CP932?B?h0A=?=\n",
       "S: 日本語日日①\n"},
      // Charsets mek does not read, and what is no word, stay as they stand.
      {"S: =?KOI8-R?B?5pel?= =?UTF-8?X?a?= =?UTF-8?B?5p!l?=\n",
       "S: =?KOI8-R?B?5pel?= =?UTF-8?X?a?= =?UTF-8?B?5p!l?=\n"},
      // The body after the first empty line stays; CR LF lines.
      {"S: =?UTF-8?B?5pel?=\r\n =?UTF-8?B?5pys?=\r\n\r\n=?UTF-8?B?5pel?=\r\n",
       "S: 日本\r\n\r\n=?UTF-8?B?5pel?=\r\n"},
      // Bytes not valid in the charset, under each policy.
      {"From: a\nS: x =?UTF-8?B?5pel/w==?= y\n", "failed at 2:6"},
      {"S: =?ISO-2022-JP?B?GyRCRg==?=\n", "failed at 1:4"},
      {"S: =?US-ASCII?Q?a=FF?=\n", "S: a\uFFFD\n", Errors::replace},
      {"S: x =?UTF-8?B?5pel/w==?= y\n", "S: x 日 y\n", Errors::skip},
      {"S: x =?UTF-8?B?5pel/w==?= y\n", "S: x 日\uFFFD y\n", Errors::html},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(
        outcome(convert(c.header, Code::utf8, Code::utf8, LineEnding::keep, decoding(c.errors))),
        c.text)
        << c.header;
  }
  // A field longer than the stages hold passes as it stands.
  std::string words;
  for (int i = 0; i < 600; ++i) words += " =?UTF-8?B?5pel?=";
  const std::string longField = "S:" + words + "\n";
  EXPECT_EQ(outcome(convert(longField, Code::utf8, Code::utf8, LineEnding::keep, decoding())),
            longField);
  const std::string shorter = "S:" + words.substr(0, words.size() / 2) + "\n";
  std::string kanji;
  for (int i = 0; i < 300; ++i) kanji += "日";
  EXPECT_EQ(outcome(convert(shorter, Code::utf8, Code::utf8, LineEnding::keep, decoding())),
            "S: " + kanji + "\n");
}

// The words that --mime-encode writes: exact bytes for a few lines, and for
// real subjects the rules every line keeps and the text read back.
TEST(MimeWordsTest, WordsWrittenAndReadBack) {
  Options b;
  b.mime_encode = Transfer::base64;
  Options q;
  q.mime_encode = Transfer::quoted_printable;
  EXPECT_EQ(outcome(convert("Subject: 日本語\nTo: a\n\n本文\n", Code::utf8, Code::iso2022jp,
                            LineEnding::keep, b)),
            "Subject: =?ISO-2022-JP?B?GyRCRnxLXDhsGyhC?=\nTo: a\n\n\x1b$BK\\J8\x1b(B\n");
  EXPECT_EQ(outcome(convert("Subject: a b?日\n", Code::utf8, Code::utf8, LineEnding::keep, q)),
            "Subject: =?UTF-8?Q?a_b=3F=E6=97=A5?=\n");
  EXPECT_EQ(outcome(convert("Subject: ☃\n", Code::utf8, Code::iso2022jp, LineEnding::keep, b)),
            "failed at 1:10");
  const std::string subjects[] = {
      "Subject: 日本語のメールの件名がとても長い場合にはどうなるのでしょうか。テストです。",
      "X-A-Very-Long-Field-Name-That-Leaves-Little-Room-On-Its-Line: 漢字とｶﾀｶﾅ and ASCII",
      "  続きの行、空白で始まる",
      "件名なし 𠮟る",
  };
  for (const std::string& subject : subjects) {
    for (const Code code : {Code::iso2022jp, Code::utf8, Code::sjis, Code::euc_jp}) {
      for (const Options& options : {b, q}) {
        const Result encoded =
            convert(subject + "\n\nbody\n", Code::utf8, code, LineEnding::keep, options);
        if (code != Code::utf8 && subject.find("𠮟") != std::string::npos) continue;
        ASSERT_TRUE(encoded.ok()) << subject;
        const std::string header = encoded.bytes.substr(0, encoded.bytes.find("\n\n") + 1);
        std::size_t start = 0;
        for (std::size_t end; (end = header.find('\n', start)) != std::string::npos;) {
          EXPECT_LE(end - start, 76u) << header;
          start = end + 1;
        }
        if (code == Code::iso2022jp && options.mime_encode == Transfer::base64) {
          // Every word ends in ASCII: its last bytes are ESC ( B.
          for (std::size_t at = header.find("?B?"); at != std::string::npos;
               at = header.find("?B?", at + 1)) {
            const std::string letters = header.substr(at + 3, header.find("?=", at) - at - 3);
            const std::string bytes = fromBase64(letters);
            EXPECT_EQ(bytes.substr(bytes.rfind('\x1b'), 3), "\x1b(B") << letters;
          }
        }
        Options back = decoding();
        back.folds = Fold::wide_kana;
        Options widened;
        widened.folds = Fold::wide_kana;
        EXPECT_EQ(convert(encoded.bytes, code, Code::utf8, LineEnding::keep, back).bytes,
                  convert(subject + "\n\nbody\n", Code::utf8, Code::utf8, LineEnding::keep, widened)
                      .bytes)
            << header;
      }
    }
  }
}

TEST(MimeWordsTest, TheToolTellsAndChecks) {
  test::ScratchDir dir;
  test::writeFile(dir / "mail.txt", "From: a\nS: x =?UTF-8?B?5pel/w==?= =?KOI8-R?B?5pel?=\n\nb\n"s);
  test::Process p = test::runMek(dir, "--mime-decode -iutf8 mail.txt -outf8");
  EXPECT_EQ(p.status, 1);
  EXPECT_EQ(p.err,
            "cannot convert bytes in 'mail.txt' at byte 13 (line 2, column 6): an encoded word "
            "that is not valid in its charset\n");
  p = test::runMek(dir, "--check --mime-decode -iutf8 -outf8 mail.txt");
  EXPECT_EQ(p.out,
            "byte 13 (line 2, column 6): an encoded word that is not valid in "
            "its charset\n");
  p = test::runMek(dir, "--in-place --mime-decode --errors=replace -iutf8 -outf8 mail.txt");
  EXPECT_EQ(p.status, 0);
  EXPECT_EQ(p.err,
            "mail.txt: 1 encoded word left as they stand: mek does not read charset KOI8-R\n"
            "mail.txt: 1 changed; the first at byte 13 (line 2, column 6): an encoded word that "
            "is not valid in its charset\n");
  const test::Bytes decoded = test::readFile(dir / "mail.txt");
  EXPECT_EQ(std::string(decoded.begin(), decoded.end()),
            "From: a\nS: x 日\uFFFD =?KOI8-R?B?5pel?=\n\nb\n");
  // A character of a word that the output code cannot carry is placed at
  // the word.
  test::writeFile(dir / "dash.txt", "From: a\nS: x =?UTF-8?B?4oCU?=\n"s);
  p = test::runMek(dir, "--mime-decode -iutf8 dash.txt -oeuc_jp");
  EXPECT_EQ(p.err,
            "cannot convert bytes in 'dash.txt' at byte 13 (line 2, column 6): U+2014 has no "
            "euc_jp code\n");
  p = test::runMek(dir, "--mime-encode=X -outf8", "< mail.txt");
  EXPECT_TRUE(p.err.starts_with("unknown word encoding: X\n")) << p.err;
}

}  // namespace
}  // namespace mek
