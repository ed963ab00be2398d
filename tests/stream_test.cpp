// The streamed conversion against the conversion of the whole text at once:
// for every input code, output code and line ending, texts that exercise
// escape sequences, surrogate pairs, CR LF, byte-order marks, cut-off tails
// and malformed bytes, fed in pieces of 1, 2, 3, 5, 64 and 4096 bytes (and
// through the worker thread), with the folds of the decoded text in turn,
// give the same bytes and the same result.
// Detection fed in pieces gives the answer of detection over the whole text.

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "app/driver.h"
#include "convert/fused_paths.h"
#include "convert/line_cuts.h"
#include "detect/detector.h"
#include "detect/mojibake.h"
#include "japanese/text_fold.h"
#include "mek/detail/conversion_stream.h"
#include "mek/detail/in_memory.h"
#include "mek/detect.h"
#include "mek/mek.h"
#include "mek/registry.h"
#include "tests/codec_check.h"
#include "tests/test_support.h"

namespace mek::test {
namespace {

constexpr int kCodes = kCodeCount - 1;

// The reference: the three stages over the whole text. Answers "ok", the
// message of the failure, and the output.
struct Outcome {
  std::string result;
  Bytes bytes;
  bool operator==(const Outcome&) const = default;
};

// The result of a conversion that succeeded: "ok", and how many changes the
// error policy made.
std::string okWith(std::uint64_t changes) {
  return changes == 0 ? "ok" : "ok, " + std::to_string(changes) + " changed";
}

// The replacement of a run: to UTF-8 with kept line endings, one beyond the
// Basic Multilingual Plane (a surrogate pair in the internal form).
char32_t replacementFor(int to, int lineEnding, Errors errors) {
  return errors == Errors::replace && to == kCodeUtf8 && lineEnding == kLineEndingKeep
             ? U'\U00020B9F'
             : 0;
}

Outcome whole(const Bytes& input, int from, int to, int lineEnding, bool fallback = false,
              Errors errors = Errors::strict, Fold folds = Fold::none) {
  ConversionBuffer buffer;
  buffer.out = static_cast<std::uint8_t*>(std::malloc(input.size() + 1));
  if (!input.empty()) std::memcpy(buffer.out, input.data(), input.size());
  buffer.size = static_cast<std::int32_t>(input.size());
  const bool ok = convertInMemory(
      buffer, from, to, lineEnding,
      errorPolicyFor(errors, fallback, replacementFor(to, lineEnding, errors), to), folds);
  Outcome outcome{ok ? okWith(static_cast<std::uint64_t>(buffer.changes))
                     : std::string(inMemoryMessage(buffer.size)) + "\n",
                  {}};
  if (ok) outcome.bytes.assign(buffer.out, buffer.out + buffer.size);
  if (buffer.in_begin != buffer.out) std::free(const_cast<std::uint8_t*>(buffer.in_begin));
  std::free(buffer.out);
  return outcome;
}

Outcome streamed(const Bytes& input, int from, int to, int lineEnding, bool fallback, Errors errors,
                 Fold folds, std::size_t piece, bool worker, bool mimeDecode = false,
                 Transfer mimeEncode = Transfer::none) {
  Outcome outcome;
  ConversionStream::Options options;
  options.piece_size = piece;
  options.worker = worker;
  // Side by side pieces with more workers than this machine may have.
  options.piece_workers = piece == 64 ? 3 : 0;
  options.fallback = fallback;
  options.errors = errors;
  options.replacement = replacementFor(to, lineEnding, errors);
  options.folds = folds;
  options.mime_decode = mimeDecode;
  options.mime_encode = mimeEncode;
  ConversionStream stream(
      codeOfNumber(from), codeOfNumber(to), lineEndingOfNumber(lineEnding),
      [&](const std::uint8_t* data, std::size_t size) {
        outcome.bytes.insert(outcome.bytes.end(), data, data + size);
        return true;
      },
      options);
  // Uneven feeds: the stream cuts its own pieces.
  std::size_t at = 0;
  for (std::size_t step = 1; at < input.size(); step = step * 3 % 7 + 1) {
    const std::size_t n = std::min(step * piece, input.size() - at);
    if (!stream.feed(input.data() + at, n)) break;
    at += n;
    // Pieces of 2 and 5 are flushed after every feed, as an incremental
    // codec or a pipe does: the output is the same.
    if ((piece == 2 || piece == 5) && !stream.flush()) break;
  }
  const bool ok = stream.finish();
  switch (stream.error().kind) {
    case ErrorKind::none:
      outcome.result = ok ? okWith(stream.changeCount()) : "failed without an error";
      break;
    case ErrorKind::no_memory:
    case ErrorKind::too_large:
      outcome.result = "cannot allocate enough memory\n";
      break;
    default:
      outcome.result = "cannot convert bytes\n";
      break;
  }
  if (!ok) outcome.bytes.clear();
  return outcome;
}

void put16(Bytes& out, std::uint32_t unit) {
  out.push_back(static_cast<std::uint8_t>(unit >> 8));
  out.push_back(static_cast<std::uint8_t>(unit));
}

// Internal-form text from a pool of characters: ASCII, line ends of every
// kind, kana and kanji, half-width katakana and their marks, full-width
// ASCII, and with `wide`, characters that only some codes carry (JIS X 0212,
// U+FEFF, surrogate pairs, U+00A5, combining marks and the bases JIS X 0213
// pairs them with, ゔ).
Bytes randomText(std::mt19937& random, std::size_t length, bool wide) {
  static const std::uint32_t kCommon[] = {'a',    'Z',    ' ',    '\\',   '~',    '\r',
                                          '\n',   0x3042, 0x30AB, 0x6F22, 0x5B57, 0xFF71,
                                          0xFF9E, 0x3000, 0xFF21, 0x2212, 0x4E9C, 0xFF76,
                                          0xFF8A, 0xFF9F, 0xFF9C, 0x304B, 0x30A6};
  static const std::uint32_t kWide[] = {0x4E02, 0xFEFF, 0xD842, 0x00A5, 0x00E9, 0x1B,
                                        0x3099, 0x309A, 0x3094, 0x203E, 0x31F7, 0x02E5,
                                        0x02E9, 0x0300, 0x00E6, 0x309A, 0x309A};
  Bytes text;
  for (std::size_t i = 0; i < length; ++i) {
    std::uint32_t c = kCommon[random() % std::size(kCommon)];
    if (wide && random() % 4 == 0) c = kWide[random() % std::size(kWide)];
    if (c == '\r' && random() % 2 == 0) put16(text, '\r'), c = '\n';  // CR LF
    put16(text, c);
    if (c == 0xD842) put16(text, 0xDF9F);  // U+20B9F
  }
  return text;
}

// The texts of one input code: random texts in that code (made by the whole
// conversion from the internal form), the same with a cut-off tail, raw
// edge cases, and random bytes.
// Texts for the window kernels of the two-byte codes, which take eight
// pairs at a time far enough from the end: runs of pairs, each run with one
// character that a window does not take (`others`) at another place, so that
// over the text it falls on every byte of a window, and `tail` ASCII bytes
// after the last run, which move the last windows across the margin of the
// fast loop.
Bytes pairWindowText(const Bytes& pair, const std::vector<Bytes>& others, std::size_t tail) {
  Bytes text;
  std::size_t k = 0;
  for (std::size_t place = 0; place < 17; ++place) {
    for (std::size_t i = 0; i < 12; ++i) {
      if (i == place / 2) {
        const Bytes& other = others[k++ % others.size()];
        text.insert(text.end(), other.begin(), other.end());
      }
      text.insert(text.end(), pair.begin(), pair.end());
    }
    // An odd byte shifts the next run against the windows.
    text.push_back(place % 2 == 0 ? 'a' : ' ');
    if (place % 3 == 0) text.push_back('b');
  }
  text.insert(text.end(), tail, 'c');
  return text;
}

std::vector<Bytes> windowTexts(int code) {
  std::vector<Bytes> texts;
  // Kanji, kana, a pair with a trail byte below 0x80, and one whose
  // character has a two-byte UTF-8 form.
  const bool euc = code == kCodeEucJp;
  const Bytes pair = euc ? hex("b0 a1 a4 a2 a5 a2 c6 fc") : hex("88 9f 82 a0 83 41 93 fa");
  const std::vector<Bytes> others =
      euc ? std::vector<Bytes>{hex("41"),       hex("0d"),    hex("0a"),    hex("8e b1"),
                               hex("8f b0 a1"), hex("a9 a1"), hex("a1 df"), hex("8e 0d"),
                               hex("0d 0a"),    hex("ff")}
          : std::vector<Bytes>{hex("41"),    hex("0d"),    hex("0a"), hex("b1"), hex("85 40"),
                               hex("81 7e"), hex("0d 0a"), hex("80"), hex("fd"), hex("88 0a")};
  for (const std::size_t tail : {0, 5, 120, 128, 131}) {
    texts.push_back(pairWindowText(pair, others, tail));
  }
  return texts;
}

std::vector<Bytes> textsFor(int code) {
  std::mt19937 random(static_cast<unsigned>(code) * 7919u);
  std::vector<Bytes> texts;
  for (int i = 0; i < 6; ++i) {
    const bool wide = i % 2 == 1;
    const Outcome made = whole(randomText(random, 40 + 30 * i, wide), 5, code, 1 + i % 3);
    if (made.result != "ok") continue;
    texts.push_back(made.bytes);
    Bytes cut = made.bytes;
    cut.pop_back();
    texts.push_back(cut);
  }
  for (const char* raw : {"", "41", "0d", "41 0d 0a 0d 0d 0a 0a 0d",             // line ends
                          "ef bb bf 41 ef bb bf 42", "ef bb",                    // UTF-8 marks
                          "fe ff 00 41 fe ff 00 0d", "ff fe 41 00 0d 00 0a 00",  // UTF-16 marks
                          "ff fe 00 00 41 00 00 00 ff fe 00 00", "00 00 fe ff 00 00 00 41",
                          "1b 24 42 30 21 24 22 1b 28 42 41 1b 24 28 44 30 21 0e 31 0f 41",
                          "1b 24 42 30 21 0a 41 1b 28 49 21 1b 24", "41 1b 24 28", "1b 28 4a 5c 1b",
                          "93 fa 96 7b 8c ea 0d 0a b1 82", "a4 a2 8e b1 8f b0 a1 0d 0a a4",
                          "e6 97 a5 f0 a0 ae 9f 0d e3 81", "d8 42 df 9f 00 41 d8 42",
                          "00 00 d8 42 00 02 0b 9f 00 00 00 0d 00 00 00 0a 00 01",
                          // One byte that ends three sequences (EUC-JP 8F E3 95),
                          // JIS two-byte mode broken, kept bytes after a cut
                          // (E3 81 41), and kana the mail form cannot write.
                          "78 8f e3 95 79 0a", "1b 24 42 21 0a 30 1b 28 42", "e3 81 41 ff fe 62",
                          "78 e3 83 bf", "61 e3 83 bf 62 0a e3 82 94",
                          // JIS X 0213 pairs, plane 2 and U+20B9F in each form, cut
                          "82 f5 98 73 f0 40 86 85 0d 0a 82", "a4 f7 8f a1 a1 a4 a2 0a 8f a1",
                          "1b 24 28 51 25 7c 4f 54 1b 24 28 50 21 21 0a 1b 24 28"}) {
    texts.push_back(hex(raw));
  }
  if (code == kCodeSjis || code == kCodeCp932 || code == kCodeEucJp) {
    for (Bytes& text : windowTexts(code)) texts.push_back(std::move(text));
  }
  for (int i = 0; i < 4; ++i) {
    Bytes noise(20 + random() % 100);
    for (auto& b : noise) b = static_cast<std::uint8_t>(random() % 4 == 0 ? random() : 'a');
    texts.push_back(noise);
  }
  return texts;
}

// A flush hands over all that was fed but what a later byte could change:
// a cut-off sequence, and the return to ASCII of ISO-2022-JP.
TEST(StreamFlushTest, OutputAsInputArrives) {
  struct Case {
    int from, to;
    const char* fed;      // hex
    const char* flushed;  // hex: the output right after the flush
    const char* ended;    // hex: all the output after finish()
  };
  const Case cases[] = {
      {kCodeSjis, kCodeUtf8, "93 FA 96 7B 0A 93", "E6 97 A5 E6 9C AC 0A", "E6 97 A5 E6 9C AC 0A"},
      {kCodeUtf8, kCodeSjis, "E6 97 A5 E6 9C", "93 FA", "93 FA"},
      {kCodeUtf8, kCodeIso2022jp, "E6 97 A5 E6 9C AC", "1B 24 42 46 7C 4B 5C",
       "1B 24 42 46 7C 4B 5C 1B 28 42"},
      {kCodeUtf8, kCodeUtf8, "61 0D", "61", "61 0A"},
  };
  for (const Case& c : cases) {
    for (const bool worker : {false, true}) {
      Bytes out;
      ConversionStream::Options options;
      options.worker = worker;
      options.piece_size = 4;
      ConversionStream stream(
          codeOfNumber(c.from), codeOfNumber(c.to), LineEnding::lf,
          [&](const std::uint8_t* data, std::size_t size) {
            out.insert(out.end(), data, data + size);
            return true;
          },
          options);
      const Bytes fed = hex(c.fed);
      ASSERT_TRUE(stream.feed(fed.data(), fed.size()));
      ASSERT_TRUE(stream.flush());
      EXPECT_EQ(toHex(out), c.flushed) << c.fed;
      stream.finish();
      if (c.from == kCodeSjis || (c.from == kCodeUtf8 && c.to == kCodeSjis)) {
        EXPECT_EQ(stream.error().kind, ErrorKind::malformed) << c.fed;  // cut off at the end
      } else {
        EXPECT_EQ(toHex(out), c.ended) << c.fed;
      }
    }
  }
}

class StreamTest : public testing::TestWithParam<int> {};

// Under ThreadSanitizer only the runs with a worker thread tell anything
// that the other builds' runs do not.
#if defined(__SANITIZE_THREAD__)
constexpr bool kWorkerRunsOnly = true;
#else
constexpr bool kWorkerRunsOnly = false;
#endif

TEST_P(StreamTest, PiecesGiveTheWholeConversion) {
  const int from = GetParam();
  for (const Bytes& text : textsFor(from)) {
    for (int to = 1; to <= kCodes; ++to) {
      for (int lineEnding = 1; lineEnding <= 4; ++lineEnding) {
        const bool fallback = lineEnding == 2;  // twins in one run of three
        // The error policies take turns over the output codes, and every
        // combination of folds over the line endings and codes.
        std::vector<std::pair<Errors, Fold>> runs = {
            {static_cast<Errors>((to + lineEnding) % 4),
             Fold{static_cast<unsigned>(to + 2 * lineEnding) % 8}}};
        // A pair with a fused path, which the stream takes without folds,
        // runs it under every policy against the three stages.
        if (findFusedPath(from, to, lineEnding) != nullptr) {
          for (int action = 0; action < 4; ++action) {
            runs.emplace_back(static_cast<Errors>(action), Fold::none);
          }
        }
        for (const auto& [errors, folds] : runs) {
          const Outcome expected = whole(text, from, to, lineEnding, fallback, errors, folds);
          for (const std::size_t piece : {1, 2, 3, 5, 64, 4096}) {
            for (const bool worker : {false, true}) {
              if ((worker && piece != 3 && piece != 64) || (kWorkerRunsOnly && !worker)) continue;
              ASSERT_EQ(
                  streamed(text, from, to, lineEnding, fallback, errors, folds, piece, worker),
                  expected)
                  << "from " << from << " to " << to << " line ending " << lineEnding << " errors "
                  << static_cast<int>(errors) << " folds " << static_cast<unsigned>(folds)
                  << " piece " << piece << (worker ? " worker" : "") << ": " << toHex(text);
            }
          }
        }
      }
    }
  }
}

// With locate, the failure record (kind, offset, line, column, bytes,
// character) is the same whatever the piece size, and the result is the
// whole conversion's.
TEST_P(StreamTest, LocatedFailuresDoNotDependOnPieces) {
  const int from = GetParam();
  for (const Bytes& text : textsFor(from)) {
    for (int to = 1; to <= kCodes; ++to) {
      std::string expected;
      // A forgiving policy in one run of two: its changes are placed as
      // failures are, and the places and bytes do not depend on the policy
      // either (a dropped sequence still counts as a column).
      const Errors errors = to % 2 == 0   ? Errors::strict
                            : to % 4 == 1 ? Errors::replace
                            : to % 8 == 3 ? Errors::skip
                                          : Errors::html;
      const Fold folds{static_cast<unsigned>(to + from) % 8};
      for (const std::size_t piece : {4096, 1, 2, 3, 5, 64, 4095}) {
        if (piece == 4095 && errors == Errors::strict) continue;
        ConversionStream::Options options;
        // The last run lists under the replace policy what the others list.
        options.piece_size = piece == 4095 ? 4096 : piece;
        options.locate = true;
        options.errors = piece == 4095 ? Errors::replace : errors;
        options.changes_listed = 3;
        options.folds = folds;
        ConversionStream stream(
            codeOfNumber(from), codeOfNumber(to), LineEnding::lf,
            [](const std::uint8_t*, std::size_t) { return true; }, options);
        stream.feed(text.data(), text.size());
        const bool ok = stream.finish();
        std::string got =
            ok ? "ok" : failureMessage(stream.error(), codeOfNumber(from), codeOfNumber(to));
        for (const Error& change : stream.changes()) {
          got += "; " + failureMessage(change, codeOfNumber(from), codeOfNumber(to));
        }
        if (piece == 4096) {
          expected = got;
          ASSERT_EQ(ok, whole(text, from, to, 1, false, errors, folds).result.starts_with("ok"))
              << toHex(text);
          ASSERT_EQ(stream.changes().size(), std::min<std::uint64_t>(stream.changeCount(), 3));
        }
        ASSERT_EQ(got, expected) << "from " << from << " to " << to << " folds "
                                 << static_cast<unsigned>(folds) << " piece " << piece << ": "
                                 << toHex(text);
      }
    }
  }
}

// Mail headers with encoded words, read and written by the stages that hold
// whole fields and lines: pieces that cut a word, a field or a line
// anywhere give the bytes of one piece, and failures and changes are placed
// alike.
TEST(MailHeaderStreamTest, PiecesGiveTheWholeConversionAndPlaces) {
  std::string longField = "X-Long:";
  for (int i = 0; i < 12; ++i)
    longField += " =?ISO-2022-JP?B?GyRCRnw=?=\r\n =?ISO-2022-JP?B?S1wbKEI=?=";
  const std::string mail =
      "Subject: =?ISO-2022-JP?B?GyRCRnxLXDhsGyhC?= and =?UTF-8?Q?=E6=97=A5_x?=\r\n"
      " =?utf-8?b?5pys?=\n"
      "To: =?ISO-2022-JP?B?GyRCRg==?= =?ISO-2022-JP?B?fBsoQg==?= 日本語ｶﾀｶﾅ\r" +
      longField +
      "\n"
      "Bad: =?UTF-8?B?5pel/w==?= =?KOI8-R?B?5pel?= =?UTF-8?B?4oCU?=\n"
      "\n"
      "=?UTF-8?B?5pel?= 本文\n";
  std::vector<std::pair<int, Bytes>> texts;
  for (const int code : {kCodeUtf8, kCodeIso2022jp, kCodeSjis, kCodeUtf16Le}) {
    Bytes text;
    const Outcome made = whole(Bytes(mail.begin(), mail.end()), kCodeUtf8, code, kLineEndingKeep);
    ASSERT_EQ(made.result, "ok");
    texts.emplace_back(code, made.bytes);
    texts.emplace_back(code, Bytes(made.bytes.begin(), made.bytes.begin() + 150));
  }
  for (const auto& [from, text] : texts) {
    for (const int to : {kCodeUtf8, kCodeIso2022jp}) {
      for (const auto& [decode, encode] :
           {std::pair{true, Transfer::none}, std::pair{false, Transfer::base64},
            std::pair{true, Transfer::quoted_printable}}) {
        for (const Errors errors : {Errors::strict, Errors::replace}) {
          const Outcome expected = streamed(text, from, to, kLineEndingKeep, false, errors,
                                            Fold::wide_kana, 1 << 16, false, decode, encode);
          for (const std::size_t piece : {1, 2, 3, 5, 64}) {
            for (const bool worker : {false, true}) {
              if (worker && piece != 3) continue;
              ASSERT_EQ(streamed(text, from, to, kLineEndingKeep, false, errors, Fold::wide_kana,
                                 piece, worker, decode, encode),
                        expected)
                  << "from " << from << " to " << to << " piece " << piece;
            }
          }
          std::string placed;
          // Places are traced back through the pieces kept since the field
          // began, however many and however small.
          for (const std::size_t piece : {1 << 16, 7, 64, 1}) {
            ConversionStream::Options options;
            options.piece_size = piece;
            options.locate = true;
            options.errors = errors;
            options.changes_listed = 3;
            options.folds = Fold::wide_kana;
            options.mime_decode = decode;
            options.mime_encode = encode;
            ConversionStream stream(
                codeOfNumber(from), codeOfNumber(to), LineEnding::keep,
                [](const std::uint8_t*, std::size_t) { return true; }, options);
            stream.feed(text.data(), text.size());
            std::string got = stream.finish() ? "ok"
                                              : failureMessage(stream.error(), codeOfNumber(from),
                                                               codeOfNumber(to));
            for (const Error& change : stream.changes()) {
              got += "; " + failureMessage(change, codeOfNumber(from), codeOfNumber(to));
            }
            if (piece == 1 << 16) placed = got;
            ASSERT_EQ(got, placed) << "from " << from << " to " << to << " piece " << piece;
          }
        }
      }
    }
  }
}

TEST_P(StreamTest, DetectionInPiecesAgreesWithTheWholeText) {
  for (const Bytes& text : textsFor(GetParam())) {
    const int expected = detectEncoding(text.data(), text.data() + text.size());
    for (const std::size_t piece : {1, 2, 3, 5, 64}) {
      Detector detector;
      Area area;
      ASSERT_TRUE(area.reserve(piece));
      for (std::size_t at = 0; at < text.size() && !detector.settled(); at += piece) {
        const std::size_t n = std::min(piece, text.size() - at);
        std::memcpy(area.data(), text.data() + at, n);
        detector.feed(area.data(), area.data() + n);
      }
      ASSERT_EQ(detector.finish(), expected) << "piece " << piece << ": " << toHex(text);
    }
  }
}

INSTANTIATE_TEST_SUITE_P(EveryInputCode, StreamTest, testing::Range(1, kCodes + 1));

// Pieces side by side end only after a line end that leaves nothing open:
// not after a lead byte, an ISO-2022-JP line that stays in two-byte mode or
// ends in a broken escape, or an LF byte inside a UTF-16 or UTF-32 unit.
// Lines long and short, under every policy, in pieces small and large with
// three workers, give the whole conversion's bytes.
TEST(SideBySidePiecesTest, LinesThatLeaveSomethingOpen) {
  EXPECT_EQ(safeLineCut(nullptr, nullptr), nullptr);
  const Bytes lines = hex("41 0A 42 81 0A 43 0D 0A");
  EXPECT_EQ(safeLineCut(lines.data(), lines.data() + lines.size()), lines.data() + lines.size());
  EXPECT_EQ(safeLineCut(lines.data(), lines.data() + 5), lines.data() + 2);  // not after 81 0A
  const Bytes jis = hex("1B 24 42 30 21 1B 28 42 0A 1B 24 42 30 21 0A 30 21 1B 0A");
  EXPECT_EQ(asciiLineCut(jis.data(), jis.data() + jis.size(), 0), jis.data() + 9);
  const Bytes units = hex("0A 4E 0A 00 41 00");  // 上 LF A in UTF-16LE
  EXPECT_EQ((unitLineCut<2, true>(units.data(), units.data() + 6, 0)), units.data() + 4);
  EXPECT_EQ((unitLineCut<2, true>(units.data() + 1, units.data() + 6, 1)), units.data() + 4);
  EXPECT_EQ((unitLineCut<2, true>(units.data(), units.data() + 3, 0)), nullptr);

  std::mt19937 random(7);
  // Lines of UTF-8 text, some longer than a small piece; 上 and 《 hold a 0A byte in
  // UTF-16 and UTF-32.
  static const char* const kWords[] = {"abc ", "日本語", "かな", "上", "《", "ｶﾅ", "\r", "x"};
  std::string text;
  for (int line = 0; line < 300; ++line) {
    const int words = static_cast<int>(random() % (line % 7 == 0 ? 60 : 12));
    for (int i = 0; i < words; ++i) text += kWords[random() % std::size(kWords)];
    text += '\n';
  }
  // Raw lines: lead bytes before LF, and ISO-2022-JP lines that stay in a
  // two-byte set, in katakana or after a broken escape across their LF.
  Bytes raw;
  static const char* const kTails[] = {
      "81",    "8F",    "E3",       "A4", "8E",      "F0", "0D", "1B 24 42 30 21",
      "0E 31", "1B 24", "1B 28 42", "0F", "1B 28 4A"};
  for (int line = 0; line < 400; ++line) {
    for (int i = 0; i < static_cast<int>(random() % 40); ++i) raw.push_back('a' + random() % 26);
    if (random() % 2 == 0) {
      const Bytes tail = hex(kTails[random() % std::size(kTails)]);
      raw.insert(raw.end(), tail.begin(), tail.end());
    }
    raw.push_back('\n');
  }
  const Bytes utf8(text.begin(), text.end());
  const auto in = [&](int code) { return whole(utf8, kCodeUtf8, code, 4).bytes; };
  const std::pair<int, Bytes> inputs[] = {
      {kCodeSjis, raw},
      {kCodeCp932, raw},
      {kCodeEucJp, raw},
      {kCodeUtf8, raw},
      {kCodeJis, raw},
      {kCodeJis, in(kCodeJis)},
      {kCodeUtf16Le, in(kCodeUtf16Le)},
      {kCodeUtf16Be, in(kCodeUtf16Be)},
      {kCodeUtf32Le, in(kCodeUtf32Le)},
      {kCodeUtf32Be, in(kCodeUtf32Be)},
  };
  for (const auto& [from, input] : inputs) {
    ASSERT_FALSE(input.empty()) << from;
    const int to = from == kCodeUtf8 ? kCodeSjis : kCodeUtf8;
    for (int action = 0; action < 4; ++action) {
      const auto errors = static_cast<Errors>(action);
      const Outcome expected = whole(input, from, to, 1, false, errors);
      for (const std::size_t piece : {64, 4096}) {
        EXPECT_EQ(streamed(input, from, to, 1, false, errors, Fold::none, piece, true), expected)
            << "from " << from << " errors " << action << " piece " << piece;
      }
    }
  }
}

// What each policy writes: maximal subparts of UTF-8, one byte for a lead
// without its trail, two for a pair without a table entry, a cut-off tail,
// `?`, the replacement and &#N; for characters, well-formed escapes around
// them; the same in pieces of 1 and 3 bytes.
// Block stores write ahead of what counts; a forgiving policy that writes
// less than the input (skip, or `?` for a surrogate pair) must still stay
// inside the measured area, and both passes must agree.
TEST(ErrorPolicyTest, LongRunsOfChangesStayInsideTheArea) {
  Bytes junk(300, 0xFF);  // malformed in every Japanese decoder
  for (std::size_t i = 0; i < junk.size(); i += 7) junk[i] = 0x41;
  Bytes pairs;  // U+20B9F, which no Japanese encoder carries
  for (int i = 0; i < 150; ++i) pairs.insert(pairs.end(), {0xD8, 0x42, 0xDF, 0x9F});
  for (const Errors errors : {Errors::replace, Errors::skip, Errors::html}) {
    for (const int code : {kCodeSjis, kCodeCp932, kCodeEucJp, kCodeJis}) {
      const ErrorPolicy policy = errorPolicyFor(errors, false, 0, code);
      const Outcome decoded = [&] {
        const auto run = mek::test::runConverter(*findDecoder(code), junk, &policy);
        return Outcome{run.ok ? "ok" : "failed", run.out};
      }();
      EXPECT_EQ(decoded.result, "ok") << code;
      const auto encoded = mek::test::runConverter(*findEncoder(code), pairs, &policy);
      EXPECT_TRUE(encoded.ok) << code;
    }
  }
}

TEST(ErrorPolicyTest, BytesOfEachPolicy) {
  struct Case {
    int from;
    const char* input;  // hex
    int to;
    Errors errors;
    char32_t replacement;
    const char* output;  // hex
    int changes;
  };
  const Errors kReplace = Errors::replace;
  const Errors kSkip = Errors::skip;
  const Errors kHtml = Errors::html;
  const Case cases[] = {
      {kCodeUtf8, "E3 81 41", kCodeUtf8, kReplace, 0, "EF BF BD 41", 1},
      {kCodeUtf8, "FF 41 C0 AF", kCodeUtf8, kReplace, 0, "EF BF BD 41 EF BF BD EF BF BD", 3},
      {kCodeUtf8, "ED A0 BD ED B8 80", kCodeUtf16Be, kReplace, 0,
       "FF FD FF FD FF FD FF FD FF FD FF FD", 6},
      {kCodeUtf8, "F4 90 80 80 41", kCodeUtf16Be, kSkip, 0, "00 41", 4},
      {kCodeUtf8, "41 E3 81", kCodeUtf8, kReplace, 0, "41 EF BF BD", 1},
      {kCodeUtf8, "41 E3 81", kCodeUtf8, kSkip, 0, "41", 1},
      {kCodeUtf8, "E3 81", kCodeSjis, kHtml, 0, "26 23 36 35 35 33 33 3B", 1},
      {kCodeUtf8, "E3 81 41", kCodeSjis, kReplace, 0, "3F 41", 1},
      {kCodeUtf8, "E3 81 41", kCodeSjis, kReplace, U'\u3013', "81 AC 41", 1},
      {kCodeSjis, "82 20 82 A0", kCodeUtf16Be, kReplace, 0, "FF FD 00 20 30 42", 1},
      {kCodeSjis, "82 41 82 A0", kCodeUtf16Be, kReplace, 0, "FF FD 30 42", 1},
      {kCodeSjis, "85 40 41", kCodeUtf16Be, kReplace, 0, "FF FD 00 41", 1},
      {kCodeSjis, "41 82", kCodeUtf16Be, kReplace, 0, "00 41 FF FD", 1},
      {kCodeEucJp, "8F A1 41", kCodeUtf16Be, kReplace, 0, "FF FD FF FD 00 41", 2},
      {kCodeJis, "1B 24 42 30 21 7F 21 1B 28 42", kCodeUtf16Be, kReplace, 0, "4E 9C FF FD FF FD",
       2},
      {kCodeUtf16Be, "DC 00 00 41 D8 00", kCodeUtf8, kReplace, 0, "EF BF BD 41 EF BF BD", 2},
      {kCodeUtf32Be, "00 11 00 00 00 00 00 41 00 00", kCodeUtf8, kSkip, 0, "41", 2},
      {kCodeUtf8, "F0 9F 98 80 41", kCodeSjis, kReplace, 0, "3F 41", 1},
      {kCodeUtf8, "F0 9F 98 80 41", kCodeSjis, kSkip, 0, "41", 1},
      {kCodeUtf8, "F0 9F 98 80 41", kCodeSjis, kHtml, 0, "26 23 31 32 38 35 31 32 3B 41", 1},
      {kCodeUtf8, "E3 81 82 F0 9F 98 80 E3 81 82", kCodeJis, kReplace, 0,
       "1B 24 42 24 22 1B 28 42 3F 1B 24 42 24 22", 1},
      {kCodeUtf8, "E3 81 82 F0 9F 98 80 E3 81 82", kCodeJis, kReplace, U'\u3013',
       "1B 24 42 24 22 22 2E 24 22", 1},
      {kCodeUtf8, "E3 80 9C", kCodeEucJp, kReplace, 0, "A1 C1", 0},  // a twin, not changed
      {kCodeUtf8, "E2 88 92", kCodeEucJp, kReplace, 0, "A1 DD", 0},
      {kCodeUtf8, "E2 88 92", kCodeSjis, kReplace, 0, "3F", 1},
  };
  for (const Case& c : cases) {
    const Bytes input = hex(c.input);
    const ErrorPolicy policy = errorPolicyFor(c.errors, false, c.replacement, c.to);
    ConversionBuffer buffer;
    buffer.out = static_cast<std::uint8_t*>(std::malloc(input.size() + 1));
    if (!input.empty()) std::memcpy(buffer.out, input.data(), input.size());
    buffer.size = static_cast<std::int32_t>(input.size());
    ASSERT_TRUE(convertInMemory(buffer, c.from, c.to, 1, policy)) << c.input;
    EXPECT_EQ(toHex(Bytes(buffer.out, buffer.out + buffer.size)), c.output) << c.input;
    EXPECT_EQ(buffer.changes, c.changes) << c.input;
    if (buffer.in_begin != buffer.out) std::free(const_cast<std::uint8_t*>(buffer.in_begin));
    std::free(buffer.out);
    for (const std::size_t piece : {1, 3}) {
      ConversionStream::Options options;
      options.piece_size = piece;
      options.errors = c.errors;
      options.replacement = c.replacement;
      Bytes out;
      ConversionStream stream(
          codeOfNumber(c.from), codeOfNumber(c.to), LineEnding::lf,
          [&](const std::uint8_t* data, std::size_t size) {
            out.insert(out.end(), data, data + size);
            return true;
          },
          options);
      stream.feed(input.data(), input.size());
      ASSERT_TRUE(stream.finish()) << c.input;
      EXPECT_EQ(toHex(out), c.output) << c.input << " piece " << piece;
      EXPECT_EQ(stream.changeCount(), static_cast<std::uint64_t>(c.changes)) << c.input;
    }
  }
}

}  // namespace
}  // namespace mek::test

namespace mek::test {
namespace {

// The tool itself: every example, detected, from a file and from a pipe,
// converted in pieces of 1, 3 and 4096 bytes and on one thread, gives what
// the default run gives.
TEST(StreamToolTest, PieceSizeAndThreadsChangeNothing) {
  ScratchDir dir;
  // The output of one run, the input given as a file or through a pipe.
  const auto run = [&dir](const std::string& path, bool pipe) {
    const std::string tool = shellQuote(MEK_EXECUTABLE) + " -outf16_le -win";
    const std::string out = shellQuote((dir / "out").string());
    const std::string command =
        (pipe ? "cat " + path + " | " + tool : tool + " " + path) + " > " + out;
    EXPECT_EQ(std::system(command.c_str()), 0) << command;
    return readFile(dir / "out");
  };
  for (const char* example :
       {"sample-sjis.txt", "sample-eucjp.txt", "sample-jis.txt", "sample-utf8.txt"}) {
    const std::string path = shellQuote(std::string(MEK_SOURCE_DIR) + "/examples/" + example);
    for (const bool pipe : {false, true}) {
      const Bytes expected = run(path, pipe);
      ASSERT_FALSE(expected.empty()) << example;
      for (const auto& [name, value] :
           {std::pair{"MEK_PIECE_SIZE", "1"}, std::pair{"MEK_PIECE_SIZE", "3"},
            std::pair{"MEK_PIECE_SIZE", "4096"}, std::pair{"MEK_WORKERS", "0"}}) {
        setenv(name, value, 1);  // the tool inherits it
        EXPECT_EQ(run(path, pipe), expected) << example << " " << name << "=" << value;
        unsetenv(name);
      }
    }
  }
}

// --repair holds whole lines: the stretches it repairs and the bytes it
// gives do not depend on where the pieces cut a line, with any line ending,
// error policy and fold after it, and a line longer than the limit passes
// unrepaired. One piece gives what mek::repair gives.
std::string repairText(std::size_t which) {
  const std::string ok = "ok Café Ação\n";
  const std::string sjis1252 = "‚±‚ñ‚É‚¿‚Í";
  const std::string lossy = "縺薙ｓ縺ｫ縺｡縺ｯ縲∽ｸ也阜縲";
  // Lines mostly U+FFFD, repaired weakly: one that keeps its own repair
  // when a clean line follows, one that a later line of other turns takes
  // back.
  const std::string fffd = "\xEF\xBF\xBD";
  const std::string weak = "%s " + fffd + fffd + fffd + fffd + fffd + fffd + fffd + fffd + "若" +
                           fffd + fffd + fffd + fffd + fffd + fffd + fffd + "若" + fffd + fffd +
                           ": <%s>\n" + ok + ".SH " + fffd + fffd + "傑" + fffd + fffd + fffd +
                           fffd + fffd + "\n膵" + fffd + fffd + fffd + "盈" + fffd + "膵э衆膵" +
                           fffd + "鐔" + fffd + "膵" + fffd + "錚域" + fffd + fffd + "鐔臥" + fffd +
                           fffd + "鐔主減鐔睡孝絎" + fffd;
  std::string longLine;
  while (longLine.size() < 3 * 2 * kMaxRepairLine) longLine += sjis1252 + " ";
  switch (which) {
    case 0:  // stretches of two chains and clean lines, every line ending
      return ok + sjis1252 + "\r\n" + sjis1252 + "\r¤³¤ó¤Ë¤Á¤Ï\n" + ok +
             "é▒é±é╔é┐é═.txt\r\n\r\n$B$3$s$K$A$O(B";
    case 1:  // a lost character, a pair beyond the BMP, no final line end
      return "𠮟 ok\n" + lossy + "\n" + ok + lossy;
    case 2:  // lines over the limit pass, the ones around them do not
      return sjis1252 + "\n" + longLine + "\n" + sjis1252 + "\n" + longLine;
    case 4:  // lines that wait for a later line, which decides them or not
      return ".SH ŒŽ\r\n.PP\n\n‚±‚ñ‚É‚¿‚Í\nŒŽ\n" + ok + "ŒŽ\n.PP\n" + lossy + "\n" +
             ".\\\" 譛\xEF\xBF\xBD\r.PP\n縺薙ｓ縺ｫ縺｡縺ｯ\nŒŽ\n" + longLine + "\nŒŽ\n" + weak;
    default:  // Japanese and Western text only
      return "こんにちは、世界。\nnaïve Straße Ærø\r\nint main() { return 0; }  // 戻り値\n";
  }
}

TEST(StreamRepairTest, PiecesGiveTheWholeRepair) {
  for (std::size_t which = 0; which < 5; ++which) {
    const std::string text = repairText(which);
    const Bytes input(text.begin(), text.end());
    for (const int lineEnding : {1, 2, static_cast<int>(kLineEndingKeep)}) {
      for (const Errors errors : {Errors::strict, Errors::replace, Errors::skip, Errors::html}) {
        const Fold folds{static_cast<unsigned>(lineEnding) % 8};
        const auto run = [&](std::size_t piece, bool worker, std::vector<RepairedStretch>& found) {
          Outcome outcome;
          ConversionStream::Options options;
          options.piece_size = piece;
          options.worker = worker;
          options.errors = errors;
          options.folds = folds;
          options.repair = true;
          ConversionStream stream(
              Code::utf8, Code::utf8, lineEndingOfNumber(lineEnding),
              [&](const std::uint8_t* data, std::size_t size) {
                outcome.bytes.insert(outcome.bytes.end(), data, data + size);
                return true;
              },
              options);
          for (std::size_t at = 0; at < input.size(); at += piece) {
            if (!stream.feed(input.data() + at, std::min(piece, input.size() - at))) break;
            if (piece == 5 && !stream.flush()) break;
          }
          const bool ok = stream.finish();
          outcome.result = ok ? "ok" : std::to_string(static_cast<int>(stream.error().kind));
          if (!ok) outcome.bytes.clear();
          found = stream.repairs();
          return outcome;
        };
        std::vector<RepairedStretch> expectedRepairs;
        const Outcome expected = run(input.size() + 1, false, expectedRepairs);
        for (const std::size_t piece : {1, 2, 3, 5, 64, 4096}) {
          for (const bool worker : {false, true}) {
            if (worker && piece != 3 && piece != 64) continue;
            std::vector<RepairedStretch> repairs;
            ASSERT_EQ(run(piece, worker, repairs), expected)
                << "text " << which << " line ending " << lineEnding << " errors "
                << static_cast<int>(errors) << " piece " << piece;
            ASSERT_EQ(repairs.size(), expectedRepairs.size());
            for (std::size_t i = 0; i < repairs.size(); ++i) {
              EXPECT_EQ(repairs[i].chain, expectedRepairs[i].chain);
              EXPECT_EQ(repairs[i].first_line, expectedRepairs[i].first_line);
              EXPECT_EQ(repairs[i].last_line, expectedRepairs[i].last_line);
              EXPECT_EQ(repairs[i].end, expectedRepairs[i].end);
            }
          }
        }
        // A character that the output code refuses in a held line is placed
        // where it was read, whatever the pieces (here é and ç, in lines
        // that stay and lines repaired around them), a line held over many
        // tiny pieces included.
        std::vector<Error> placed;
        for (const std::size_t piece :
             {input.size() + 1, std::size_t{64}, std::size_t{7}, std::size_t{1}}) {
          ConversionStream::Options options;
          options.piece_size = piece;
          options.locate = true;
          options.errors = errors;
          options.changes_listed = 3;
          options.repair = true;
          ConversionStream stream(
              Code::utf8, Code::sjis, lineEndingOfNumber(lineEnding),
              [](const std::uint8_t*, std::size_t) { return true; }, options);
          for (std::size_t at = 0; at < input.size(); at += piece) {
            if (!stream.feed(input.data() + at, std::min(piece, input.size() - at))) break;
          }
          (void)stream.finish();
          std::vector<Error> found = stream.changes();
          found.insert(found.begin(), stream.error());
          if (placed.empty()) placed = found;
          ASSERT_EQ(found.size(), placed.size()) << which << " piece " << piece;
          for (std::size_t i = 0; i < found.size(); ++i) {
            EXPECT_EQ(found[i].kind, placed[i].kind) << which << " piece " << piece;
            EXPECT_EQ(found[i].offset, placed[i].offset) << which << " piece " << piece;
            EXPECT_EQ(found[i].column, placed[i].column) << which << " piece " << piece;
          }
        }
        if (which == 0) {
          // The first é of "ok Café" (byte 6, line 1, column 7).
          const Error& first = errors == Errors::strict ? placed[0] : placed[1];
          EXPECT_EQ(first.offset, 6u);
          EXPECT_EQ(first.column, 7u);
        }
        if (lineEnding != kLineEndingKeep || errors != Errors::replace) continue;
        // One piece is the whole text's repair.
        const Result wide = convert(text, Code::utf8, Code::utf32_le, LineEnding::keep);
        const Repaired done = repair(std::u32string_view(
            reinterpret_cast<const char32_t*>(wide.bytes.data()), wide.bytes.size() / 4));
        const Result back = convert(
            std::string_view(reinterpret_cast<const char*>(done.text.data()), 4 * done.text.size()),
            Code::utf32_le, Code::utf8, LineEnding::keep);
        EXPECT_EQ(std::string(expected.bytes.begin(), expected.bytes.end()), back.bytes) << which;
        ASSERT_EQ(expectedRepairs.size(), done.repairs.size()) << which;
        for (std::size_t i = 0; i < done.repairs.size(); ++i) {
          EXPECT_EQ(expectedRepairs[i].start, done.repairs[i].start);
          EXPECT_EQ(expectedRepairs[i].end, done.repairs[i].end);
          EXPECT_EQ(expectedRepairs[i].lost, done.repairs[i].lost);
        }
      }
    }
  }
}

}  // namespace
}  // namespace mek::test
