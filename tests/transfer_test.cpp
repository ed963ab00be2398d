// The transfer encodings of mail bodies: the bytes each writes and reads,
// the same bytes in pieces of any size, detection and places counted in the
// decoded bytes.

#include <gtest/gtest.h>

#include <random>
#include <string>

#include "mek/mek.h"
#include "tests/test_support.h"

namespace mek {
namespace {

using namespace std::string_literals;

Options with(Transfer in, Transfer out) {
  Options options;
  options.decode_transfer = in;
  options.encode_transfer = out;
  return options;
}

// The conversion through a Stream fed `piece` bytes at a time.
std::string inPieces(const std::string& input, Code from, Code to, const Options& options,
                     std::size_t piece, bool threads) {
  StreamSettings settings;
  settings.piece_size = piece;
  settings.threads = threads;
  Stream stream(from, to, LineEnding::keep, options, settings);
  std::string out;
  for (std::size_t at = 0; at < input.size(); at += piece) {
    if (!stream.feed(std::string_view(input).substr(at, piece))) return "failed";
    out += stream.takeOutput();
  }
  if (!stream.finish()) return "failed";
  return out + stream.takeOutput();
}

TEST(TransferTest, BytesWrittenAndRead) {
  const std::string line57(57, 'a');  // exactly one line of 76 letters
  struct Case {
    Transfer transfer;
    std::string text, encoded;
  };
  const Case cases[] = {
      {Transfer::base64, "", ""},
      {Transfer::base64, "a", "YQ==\n"},
      {Transfer::base64, "ab", "YWI=\n"},
      {Transfer::base64, "abc", "YWJj\n"},
      {Transfer::base64, line57 + "b", ""},  // 19 groups of YWFh, then Yg==
      {Transfer::quoted_printable, "a=b \nc\t\r\nd ", "a=3Db=20\nc=09\r\nd=20"},
      {Transfer::quoted_printable, "\xe6\x97\xa5\n"s, "=E6=97=A5\n"},
      {Transfer::quoted_printable, std::string(80, 'x'),
       std::string(75, 'x') + "=\n" + std::string(5, 'x')},
  };
  for (const Case& c : cases) {
    std::string encoded = c.encoded;
    if (c.text.size() == 58) {
      encoded.clear();
      for (int i = 0; i < 19; ++i) encoded += "YWFh";
      encoded += "\nYg==\n";
    }
    const Result out =
        convert(c.text, Code::utf8, Code::utf8, LineEnding::keep, with(Transfer::none, c.transfer));
    EXPECT_EQ(out.bytes, encoded) << c.text;
    const Result back = convert(encoded, Code::utf8, Code::utf8, LineEnding::keep,
                                with(c.transfer, Transfer::none));
    EXPECT_EQ(back.bytes, c.text) << encoded;
  }
  // Readers take what writers of real mail write: CR LF, soft breaks after
  // CR LF, a last group without its `=`, an `=` that begins nothing.
  const std::pair<std::string, std::string> read[] = {
      {"YW\r\nJj", "abc"}, {"YWI", "ab"}, {"a=\r\nb=3d=\n", "ab="}, {"a=zz", "a=zz"}};
  EXPECT_EQ(convert(read[0].first, Code::utf8, Code::utf8, LineEnding::keep,
                    with(Transfer::base64, Transfer::none))
                .bytes,
            read[0].second);
  EXPECT_EQ(convert(read[1].first, Code::utf8, Code::utf8, LineEnding::keep,
                    with(Transfer::base64, Transfer::none))
                .bytes,
            read[1].second);
  for (const auto& [input, text] : {read[2], read[3]}) {
    EXPECT_EQ(convert(input, Code::utf8, Code::utf8, LineEnding::keep,
                      with(Transfer::quoted_printable, Transfer::none))
                  .bytes,
              text)
        << input;
  }
  // Bytes outside the alphabet are skipped, and a letter alone at the end:
  // base64 decoding never fails.
  for (const char* skipped : {"Y!W\tJ j", "=YWJj", "YWJjZ"}) {
    EXPECT_EQ(convert(skipped, Code::utf8, Code::utf8, LineEnding::keep,
                      with(Transfer::base64, Transfer::none))
                  .bytes,
              "abc")
        << skipped;
  }
}

// Random bytes, encoded and decoded, whole and in pieces of any size with and
// without threads: the same bytes every way. A Shift_JIS text in base64 is
// detected as Shift_JIS, and a bad byte in it is placed among the decoded
// bytes.
TEST(TransferTest, PiecesDetectionAndPlaces) {
  std::mt19937 random(11);
  // UTF-16BE units of every kind but surrogates, with spaces and line ends.
  std::string bytes;
  for (int i = 0; i < 1500; ++i) {
    const int kind = static_cast<int>(random() % 8);
    unsigned unit = kind == 0 ? '\n' : kind == 1 ? ' ' : kind == 2 ? '\r' : random() % 0x10000;
    if (unit >= 0xD800 && unit <= 0xDFFF) unit -= 0x1000;
    bytes += static_cast<char>(unit >> 8);
    bytes += static_cast<char>(unit);
  }
  for (const Transfer transfer : {Transfer::base64, Transfer::quoted_printable}) {
    const Options encode = with(Transfer::none, transfer);
    const Options decode = with(transfer, Transfer::none);
    const Options both = with(transfer, transfer);
    const std::string encoded =
        convert(bytes, Code::utf16_be, Code::utf16_be, LineEnding::keep, encode).bytes;
    ASSERT_FALSE(encoded.empty());
    EXPECT_EQ(convert(encoded, Code::utf16_be, Code::utf16_be, LineEnding::keep, decode).bytes,
              bytes);
    for (const std::size_t piece : {1, 2, 3, 5, 64, 4096}) {
      for (const bool threads : {false, true}) {
        EXPECT_EQ(inPieces(bytes, Code::utf16_be, Code::utf16_be, encode, piece, threads), encoded)
            << piece;
        EXPECT_EQ(inPieces(encoded, Code::utf16_be, Code::utf16_be, decode, piece, threads), bytes)
            << piece;
        EXPECT_EQ(inPieces(encoded, Code::utf16_be, Code::utf16_be, both, piece, threads), encoded)
            << piece;
      }
    }
  }
  // 日本語のテキスト LF あ, then a bad byte, in Shift_JIS, in base64.
  const std::string base64 = "k/qWe4zqgsyDZYNMg1iDZwqCoIUK";
  StreamDetector detector(Detection::score, Transfer::base64);
  detector.feed(base64);
  EXPECT_EQ(detector.finish(), Code::sjis);
  const Result placed = convert(base64, Code::autodetect, Code::utf8, LineEnding::keep,
                                with(Transfer::base64, Transfer::none));
  EXPECT_EQ(placed.from, Code::sjis);
  EXPECT_EQ(placed.error.offset, 19u);
  EXPECT_EQ(placed.error.line, 2u);
}

// The tool: places count the decoded bytes and say so; the output in base64
// decodes to the text.
TEST(TransferTest, TheToolSaysWhatThePlacesCount) {
  test::ScratchDir dir;
  test::writeFile(dir / "body.b64", std::string("k/qWe4zqgsyDZYNMg1iDZwqCoIUK\n"));
  test::Process p = test::runMek(dir, "--base64-decode body.b64 -outf8");
  EXPECT_EQ(p.status, 1);
  EXPECT_EQ(p.err,
            "cannot convert bytes in 'body.b64' at byte 19 of the base64-decoded input (line 2, "
            "column 2): invalid sjis bytes 85\n");
  p = test::runMek(dir, "--base64-decode -outf8", "< body.b64 --errors=replace --base64-encode");
  EXPECT_EQ(p.out, "5pel5pys6Kqe44Gu44OG44Kt44K544OICuOBgu+/vQo=\n");
  EXPECT_EQ(p.err,
            "1 changed; the first at byte 19 of the base64-decoded input (line 2, column 2): "
            "invalid sjis bytes 85\n");
}

}  // namespace
}  // namespace mek
