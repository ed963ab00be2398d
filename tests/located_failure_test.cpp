// Where a failed conversion says it failed. One table plants an invalid
// sequence in a multi-line text of every input code, at the first character,
// in the middle of a line and as the last bytes, and one plants a character
// that the output code cannot carry; every piece size, including pieces that
// end right at or inside the planted bytes, must give the same message.
// Then --guess, --verbose and the plain messages through the executable.

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "app/command_line.h"
#include "app/driver.h"
#include "mek/codes.h"
#include "mek/detail/conversion_stream.h"
#include "mek/detail/in_memory.h"
#include "tests/test_support.h"

namespace mek::test {
namespace {

// The whole conversion in memory; the output, or empty on failure.
Bytes convertWhole(const Bytes& input, int from, int to, int lineEnding) {
  ConversionBuffer buffer;
  buffer.out = static_cast<std::uint8_t*>(std::malloc(input.size() + 1));
  if (!input.empty()) std::memcpy(buffer.out, input.data(), input.size());
  buffer.size = static_cast<std::int32_t>(input.size());
  Bytes result;
  if (convertInMemory(buffer, from, to, lineEnding))
    result.assign(buffer.out, buffer.out + buffer.size);
  if (buffer.in_begin != buffer.out) std::free(const_cast<std::uint8_t*>(buffer.in_begin));
  std::free(buffer.out);
  return result;
}

// The --verbose message of a streamed conversion in pieces of `piece` bytes,
// or "ok".
std::string located(const Bytes& input, int from, int to, std::size_t piece) {
  ConversionStream::Options options;
  options.piece_size = piece;
  options.locate = true;
  ConversionStream stream(
      codeOfNumber(from), codeOfNumber(to), LineEnding::lf,
      [](const std::uint8_t*, std::size_t) { return true; }, options);
  stream.feed(input.data(), input.size());
  if (stream.finish()) return "ok";
  return failureMessage(stream.error(), codeOfNumber(from), codeOfNumber(to));
}

// Internal form of UTF-8 text.
Bytes internal(const std::string& utf8) {
  return convertWhole(Bytes(utf8.begin(), utf8.end()), kCodeUtf8, kCodeUtf16Be, kLineEndingLf);
}

struct InputCase {
  int code;
  int plain;         // the code the text is made in (no mark)
  const char* mark;  // hex, put before the text
  const char* bad;   // hex: an invalid sequence
  // hex: the bytes the message shows, when fewer (a byte read only to reject
  // the sequence is kept, and not shown)
  const char* shown = nullptr;
};

// Two lines with CR LF and kanji, and the start of a third (which leaves
// ISO-2022-JP in ASCII, where 0x80 alone is invalid).
constexpr const char* kHead = "line one\r\n\u65E5\u672C\u8A9E\r\nxy";

TEST(LocatedFailureTest, InvalidInputInEveryCode) {
  const InputCase cases[] = {
      {kCodeSjis, kCodeSjis, "", "85 40"},
      {kCodeEucJp, kCodeEucJp, "", "A9 A1"},
      {kCodeJis, kCodeJis, "", "80"},
      {kCodeUtf8, kCodeUtf8, "", "E3 81 41", "E3 81"},
      {kCodeUtf16Be, kCodeUtf16Be, "", "DC 00"},
      {kCodeUtf16Le, kCodeUtf16Le, "", "00 DC"},
      {kCodeUtf16BeBom, kCodeUtf16Be, "FE FF", "DC 00"},
      {kCodeUtf16LeBom, kCodeUtf16Le, "FF FE", "00 DC"},
      {kCodeUtf32Be, kCodeUtf32Be, "", "00 11 00 00"},
      {kCodeUtf32Le, kCodeUtf32Le, "", "00 00 11 00"},
      {kCodeUtf32BeBom, kCodeUtf32Be, "00 00 FE FF", "00 11 00 00"},
      {kCodeUtf32LeBom, kCodeUtf32Le, "FF FE 00 00", "00 00 11 00"},
      {kCodeCp932, kCodeCp932, "", "85 40"},
      {kCodeUtf8Bom, kCodeUtf8, "EF BB BF", "F8"},
  };
  for (const InputCase& c : cases) {
    const Bytes head = convertWhole(internal(kHead), kCodeUtf16Be, c.plain, kLineEndingLf);
    const Bytes rest = convertWhole(internal("\u6F22z\r\nend\r\n"), kCodeUtf16Be, c.plain, 1);
    const Bytes mark = hex(c.mark);
    const Bytes bad = hex(c.bad);
    const std::string badHex = c.shown != nullptr ? c.shown : toHex(bad);
    struct Plant {
      Bytes text;
      std::size_t at;
      const char* place;  // "(line L, column C)"
    };
    Bytes start = mark, middle = mark, last = mark;
    start.insert(start.end(), bad.begin(), bad.end());
    start.insert(start.end(), head.begin(), head.end());
    middle.insert(middle.end(), head.begin(), head.end());
    middle.insert(middle.end(), bad.begin(), bad.end());
    middle.insert(middle.end(), rest.begin(), rest.end());
    last.insert(last.end(), head.begin(), head.end());
    last.insert(last.end(), rest.begin(), rest.end());
    last.insert(last.end(), bad.begin(), bad.end());
    const Plant plants[] = {
        {start, mark.size(), "(line 1, column 1)"},
        {middle, mark.size() + head.size(), "(line 3, column 3)"},
        {last, mark.size() + head.size() + rest.size(), "(line 5, column 1)"},
    };
    for (const Plant& plant : plants) {
      const std::string expected = "cannot convert bytes at byte " + std::to_string(plant.at) +
                                   " " + plant.place + ": invalid " + describeCode(c.code)->name +
                                   " bytes " + badHex;
      for (const std::size_t piece :
           {std::size_t{1}, std::size_t{2}, std::size_t{3}, std::size_t{5}, std::size_t{4096},
            plant.at, plant.at + 1, plant.at + bad.size() - 1}) {
        if (piece == 0) continue;
        EXPECT_EQ(located(plant.text, c.code, kCodeUtf8, piece), expected)
            << "piece " << piece << ": " << toHex(plant.text);
      }
    }
  }
}

TEST(LocatedFailureTest, CharactersTheOutputCannotCarry) {
  // UTF-8 input with CR LF line ends, rewritten to LF on the way.
  const std::string head = "line one\r\n\u65E5\u672C\r\nab\u3042";
  struct OutputCase {
    int code;
    const char* character;  // UTF-8
    const char* name;       // U+XXXX
    const char* bytes;      // what the message would show for malformed input
  };
  const OutputCase cases[] = {
      {kCodeSjis, "\u2603", "U+2603", ""}, {kCodeEucJp, "\U00020B9F", "U+20B9F", ""},
      {kCodeJis, "\u2603", "U+2603", ""},  {kCodeCp932, "\U00020B9F", "U+20B9F", ""},
      {kCodeSjis, "\u301C", "U+301C", ""},  // a twin: only --fallback writes it
  };
  for (const OutputCase& c : cases) {
    const std::string text = head + c.character + "z\r\n";
    const std::string expected = "cannot convert bytes at byte " + std::to_string(head.size()) +
                                 " (line 3, column 4): " + c.name + " has no " +
                                 describeCode(c.code)->name + " code";
    for (const std::size_t piece : {std::size_t{1}, std::size_t{2}, std::size_t{7}, head.size(),
                                    head.size() + 1, std::size_t{4096}}) {
      EXPECT_EQ(located(Bytes(text.begin(), text.end()), kCodeUtf8, c.code, piece), expected)
          << describeCode(c.code)->name << " piece " << piece;
    }
  }
  // A UTF-8 sequence beyond U+10FFFF is malformed input at its own place,
  // whatever the output code; the decoder tells it by its second byte, which
  // is no part of the sequence it rejects (F4 alone).
  const std::string beyond = head + "\xF4\x90\x80\x80" + "z";
  for (int to = 1; to < kCodeCount; ++to) {
    for (const std::size_t piece : {std::size_t{1}, std::size_t{3}, std::size_t{4096}}) {
      EXPECT_EQ(located(Bytes(beyond.begin(), beyond.end()), kCodeUtf8, to, piece),
                "cannot convert bytes at byte " + std::to_string(head.size()) +
                    " (line 3, column 4): invalid utf8 bytes F4")
          << describeCode(to)->name << " piece " << piece;
    }
  }
}

TEST(LocatedFailureTest, ConvertersLeaveWhereAndWhy) {
  // The converter itself, over the whole text: `stop` at the first byte of
  // the offending sequence or unit, `size` the kind.
  struct ConverterCase {
    const Converter* converter;
    const char* input;
    std::ptrdiff_t stop;
    std::int32_t kind;
  };
  const ConverterCase cases[] = {
      {describeCode(kCodeSjis)->decoder, "41 42 85 40 41", 2, kMalformedInput},
      {describeCode(kCodeEucJp)->decoder, "41 A4 A2 A9 A1", 3, kMalformedInput},
      {describeCode(kCodeUtf8)->decoder, "41 E3 81 41", 1, kMalformedInput},
      {describeCode(kCodeUtf32Be)->decoder, "00 00 00 41 00 11 00 00", 4, kMalformedInput},
      {describeCode(kCodeSjis)->encoder, "00 41 26 03 00 41", 2, kUnmappable},
      {describeCode(kCodeJis)->encoder, "30 42 D8 42 DF 9F", 2, kUnmappable},
      {describeCode(kCodeEucJp)->encoder, "00 41 D8 00 FF FF", 2, kMalformedInput},
      {describeCode(kCodeUtf8)->encoder, "00 41 D8 00 FF FF", 2, kMalformedInput},
  };
  for (const ConverterCase& c : cases) {
    const Bytes input = hex(c.input);
    ConversionBuffer buffer;
    buffer.in_begin = input.data();
    buffer.in_end = input.data() + input.size();
    ASSERT_FALSE(c.converter->measure(buffer)) << c.input;
    EXPECT_EQ(buffer.stop - input.data(), c.stop) << c.input;
    EXPECT_EQ(buffer.size, c.kind) << c.input;
  }
}

TEST(LocatedFailureTest, GuessAndVerboseThroughTheTool) {
  ScratchDir dir;
  const std::string examples = std::string(MEK_SOURCE_DIR) + "/examples/";
  const std::pair<const char*, const char*> samples[] = {{"sample-sjis.txt", "sjis LF\n"},
                                                         {"sample-eucjp.txt", "euc_jp LF\n"},
                                                         {"sample-jis.txt", "jis LF\n"},
                                                         {"sample-utf8.txt", "utf8 LF\n"}};
  for (const auto& [name, line] : samples) {
    const Process p = runMek(dir, "--guess " + shellQuote(examples + name));
    EXPECT_EQ(p.status, 0) << name;
    EXPECT_EQ(p.out, line) << name;
    EXPECT_EQ(p.err, "") << name;
  }
  // One text per code, made by mek from UTF-8 with CR LF; marked codes are
  // found by their marks, the others guessed as the detection steps allow.
  writeFile(dir / "text.txt", std::string("\u65E5\u672C\r\nab\r\n"));
  for (int code = 1; code < kCodeCount; ++code) {
    const std::string name = describeCode(code)->name;
    ASSERT_EQ(runMek(dir, "-iutf8 text.txt -o" + name + " made.txt -win").status, 0) << name;
    const Process named = runMek(dir, "--guess -i" + name + " made.txt");
    EXPECT_EQ(named.out, name + " CRLF\n") << name;
    // Without a mark, UTF-16 and UTF-32 are not always told apart from the
    // Japanese codes; the line is still one code and one kind.
    const Process guessed = runMek(dir, "--guess", "< made.txt");
    EXPECT_EQ(guessed.status, 0) << name;
    const std::size_t space = guessed.out.find(' ');
    ASSERT_NE(space, std::string::npos) << name;
    EXPECT_TRUE(codeFor(guessed.out.substr(0, space)).has_value()) << guessed.out;
  }
  // Line endings of each kind, and none.
  writeFile(dir / "mixed.txt", std::string("a\rb\nc\r\n"));
  EXPECT_EQ(runMek(dir, "--guess mixed.txt").out, "utf8 MIXED\n");
  writeFile(dir / "cr.txt", std::string("line one\rline two\r"));
  EXPECT_EQ(runMek(dir, "--guess cr.txt").out, "utf8 CR\n");
  writeFile(dir / "none.txt", std::string("abcd"));
  EXPECT_EQ(runMek(dir, "--guess none.txt").out, "utf8 NONE\n");
  EXPECT_EQ(runMek(dir, "--guess --detect=first none.txt").out, "sjis NONE\n");
  // Half-width katakana is Shift_JIS; input nothing reads is refused.
  writeFile(dir / "kana.txt", hex("B1 B2 B3 0D 0A 82 A0 0D 0A"));
  EXPECT_EQ(runMek(dir, "--guess kana.txt").out, "sjis CRLF\n");
  writeFile(dir / "ff.txt", hex("FF FF FF FF"));
  const Process ff = runMek(dir, "--guess", "< ff.txt");
  EXPECT_EQ(ff.status, 1);
  EXPECT_EQ(ff.err, "cannot detect the input code\n");

  // A planted error: the file and the place with or without --verbose, from
  // a file (read again to place it) or a pipe (placed as it goes).
  writeFile(dir / "bad.txt", hex("61 0D 0A 62 85 40 0A"));
  const std::string place = " at byte 4 (line 2, column 2): invalid sjis bytes 85 40\n";
  for (const char* arguments :
       {"-isjis bad.txt -outf8 out.txt", "-isjis bad.txt -outf8 out.txt --verbose"}) {
    const Process told = runMek(dir, arguments);
    EXPECT_EQ(told.status, 1);
    EXPECT_EQ(told.err, "cannot convert bytes in 'bad.txt'" + place) << arguments;
  }
  // From a pipe: what was read is kept in a temporary file to be read again,
  // or, where none can be made, the pipe is placed as it is read.
  for (const char* tmp : {"", "TMPDIR=missing "}) {
    const Process piped =
        runScript(dir, std::string("cat bad.txt | ") + tmp + "\"$MEK\" -isjis -outf8");
    EXPECT_EQ(piped.err, "cannot convert bytes" + place) << tmp;
  }
  const Process checked = runMek(dir, "--guess --verbose -isjis", "< bad.txt");
  EXPECT_EQ(checked.status, 1);
  EXPECT_EQ(checked.out, "");
  EXPECT_EQ(checked.err, "cannot convert bytes" + place);
  EXPECT_FALSE(std::filesystem::exists(dir / "out.txt"));
  const Process detected =
      runMek(dir, "--verbose " + shellQuote(examples + "sample-eucjp.txt") + " -outf8");
  EXPECT_EQ(detected.status, 0);
  EXPECT_EQ(detected.err, "detected euc_jp\nscore 92.94, runner-up sjis2004 score 29.83\n");
}

}  // namespace
}  // namespace mek::test
