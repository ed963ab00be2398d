// Stages of bytes in a ConversionStream's list: one before the decoder (a
// percent decoding, "%82" for the byte 82, which holds back a "%" or "%8"
// that a piece cuts off) and two after the encoder (bytes from 80 up written
// as "=XX", and a stage that holds back the last byte of every piece but the
// last). Every piece size, with and without the worker and with places
// located, gives the same output and the same failure; places count the
// decoder's input, the percent decoding's output.

#include "convert/stage_list.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "mek/codes.h"
#include "mek/detail/conversion_stream.h"
#include "tests/test_support.h"

namespace mek::test {
namespace {

int hexValue(std::uint8_t c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// "%XX" to the byte XX; a "%" without two hex digits after it is malformed.
class PercentDecoding : public Converter {
 public:
  bool measure(ConversionBuffer& buffer) const override { return scan(buffer, false); }
  bool convert(ConversionBuffer& buffer) const override { return scan(buffer, true); }
  std::size_t outputBound(std::size_t n) const override { return n; }

 private:
  static bool scan(ConversionBuffer& buffer, bool write) {
    const std::uint8_t* p = buffer.in_begin;
    std::int32_t size = 0;
    while (p < buffer.in_end) {
      std::uint8_t byte = *p;
      if (byte == '%') {
        if (buffer.in_end - p < 3) break;  // held back: the next piece may end it
        const int high = hexValue(p[1]);
        const int low = hexValue(p[2]);
        if (high < 0 || low < 0) {
          buffer.stop = p;
          buffer.size = kMalformedInput;
          return false;
        }
        byte = static_cast<std::uint8_t>(high << 4 | low);
        p += 2;
      }
      if (write) buffer.out[size] = byte;
      ++size;
      ++p;
    }
    buffer.stop = p;
    buffer.size = size;
    return true;
  }
};

// Bytes from 80 up, and "=", as "=XX".
class Quoting : public Converter {
 public:
  bool measure(ConversionBuffer& buffer) const override { return scan(buffer, false); }
  bool convert(ConversionBuffer& buffer) const override { return scan(buffer, true); }

 private:
  static bool scan(ConversionBuffer& buffer, bool write) {
    static const char kDigits[] = "0123456789ABCDEF";
    std::int32_t size = 0;
    for (const std::uint8_t* p = buffer.in_begin; p < buffer.in_end; ++p) {
      if (*p < 0x80 && *p != '=') {
        if (write) buffer.out[size] = *p;
        ++size;
        continue;
      }
      if (write) {
        buffer.out[size] = '=';
        buffer.out[size + 1] = static_cast<std::uint8_t>(kDigits[*p >> 4]);
        buffer.out[size + 2] = static_cast<std::uint8_t>(kDigits[*p & 15]);
      }
      size += 3;
    }
    buffer.stop = buffer.in_end;
    buffer.size = size;
    return true;
  }
};

// Gives every byte as it stands, but the last of a piece only with the next.
class Delay : public Converter {
 public:
  bool measure(ConversionBuffer& buffer) const override { return copy(buffer, false, true); }
  bool convert(ConversionBuffer& buffer) const override { return copy(buffer, true, true); }
  bool measurePiece(ConversionBuffer& buffer, Piece& piece) const override {
    piece.end_state = piece.state;
    return copy(buffer, false, piece.last);
  }
  bool convertPiece(ConversionBuffer& buffer, Piece& piece) const override {
    piece.end_state = piece.state;
    return copy(buffer, true, piece.last);
  }

 private:
  static bool copy(ConversionBuffer& buffer, bool write, bool last) {
    const std::uint8_t* end = buffer.in_end;
    if (!last && end > buffer.in_begin) --end;
    const auto size = static_cast<std::int32_t>(end - buffer.in_begin);
    for (std::int32_t i = 0; write && i < size; ++i) buffer.out[i] = buffer.in_begin[i];
    buffer.stop = end;
    buffer.size = size;
    return true;
  }
};

const PercentDecoding kPercentDecoding;
const Quoting kQuoting;
const Delay kDelay;

bool percentStage(const StageRequest&, Stage& stage) {
  stage.kind = StageKind::input_bytes;
  stage.stream = StreamStage(&kPercentDecoding, ErrorKind::malformed);
  return true;
}

bool quotingStage(const StageRequest&, Stage& stage) {
  stage.kind = StageKind::output_bytes;
  stage.stream = StreamStage(&kQuoting, ErrorKind::malformed);
  return true;
}

bool delayStage(const StageRequest&, Stage& stage) {
  stage.kind = StageKind::output_bytes;
  stage.stream = StreamStage(&kDelay, ErrorKind::malformed);
  return true;
}

TEST(StageListTest, BytesBeforeTheDecoderAndAfterTheEncoder) {
  struct Case {
    std::vector<StageMaker> stages;  // in the order added; the list places them by kind
    Code from, to;
    LineEnding eol;
    Fold folds;
    const char* input;
    const char* output;  // the bytes written, as text; "" after a failure
    Error error;         // kind, and with places located offset, line and column
  };
  const Case cases[] = {
      // Shift_JIS behind a percent decoding, to UTF-8: the decoder reads
      // 82 A0 61 0D 0A 62.
      {{&percentStage},
       Code::sjis,
       Code::utf8,
       LineEnding::lf,
       Fold::none,
       "%82%A0a%0D%0Ab",
       "\xE3\x81\x82"
       "a\nb",
       {}},
      // The same, quoted after the encoder, then held back a byte a piece;
      // the output stages run in the order added, whatever the order of kinds.
      {{&quotingStage, &percentStage, &delayStage},
       Code::sjis,
       Code::utf8,
       LineEnding::crlf,
       Fold::wide_kana,
       "=%B6%DE%0A",
       "=3D=E3=82=AC\r\n",
       {}},
      // The mail form's return to ASCII at the end of the text goes through.
      {{&delayStage},
       Code::utf8,
       Code::iso2022jp,
       LineEnding::lf,
       Fold::none,
       "a\xE3\x81\x82",
       "a\x1B$B$\"\x1B(B",
       {}},
      // A malformed sequence is placed in the decoder's input: offset 3, not
      // the 5 of the percent-encoded bytes.
      {{&percentStage, &quotingStage},
       Code::sjis,
       Code::utf8,
       LineEnding::lf,
       Fold::none,
       "ab%0A%82%20",
       "",
       {ErrorKind::malformed, 3, 2, 1}},
      // A character the encoder refuses, after a held-back byte.
      {{&percentStage, &delayStage},
       Code::utf8,
       Code::sjis,
       LineEnding::lf,
       Fold::none,
       "x%F0%9F%98%80",
       "",
       {ErrorKind::unmapped, 1, 1, 2}},
      // The percent decoding's own failures carry no place.
      {{&percentStage},
       Code::utf8,
       Code::utf8,
       LineEnding::lf,
       Fold::none,
       "ab%4G",
       "",
       {ErrorKind::malformed, 0, 0, 0}},
      {{&percentStage},
       Code::utf8,
       Code::utf8,
       LineEnding::lf,
       Fold::none,
       "ab%4",
       "",
       {ErrorKind::malformed, 0, 0, 0}},
  };
  for (const Case& c : cases) {
    const std::string input = c.input;
    for (std::size_t piece = 1; piece <= input.size() + 1; ++piece) {
      for (const bool locate : {false, true}) {
        for (const bool worker : {false, true}) {
          ConversionStream::Options options;
          options.piece_size = piece;
          options.locate = locate;
          options.worker = worker;
          options.folds = c.folds;
          options.added_stages = c.stages;
          std::string output;
          ConversionStream stream(
              c.from, c.to, c.eol,
              [&](const std::uint8_t* data, std::size_t size) {
                output.append(reinterpret_cast<const char*>(data), size);
                return true;
              },
              options);
          const auto* bytes = reinterpret_cast<const std::uint8_t*>(input.data());
          // In pieces of one size, flushed after each.
          for (std::size_t at = 0; at < input.size(); at += piece) {
            if (!stream.feed(bytes + at, std::min(piece, input.size() - at))) break;
            if (!stream.flush()) break;
          }
          const bool ok = stream.finish();
          const std::string where = std::string(c.input) + " piece " + std::to_string(piece) +
                                    (locate ? " located" : "") + (worker ? " worker" : "");
          EXPECT_EQ(ok, c.error.kind == ErrorKind::none) << where;
          if (ok) {
            EXPECT_EQ(output, c.output) << where;
          }
          const Error error = stream.error();
          EXPECT_EQ(error.kind, c.error.kind) << where;
          if (locate) {
            EXPECT_EQ(error.offset, c.error.offset) << where;
            EXPECT_EQ(error.line, c.error.line) << where;
            EXPECT_EQ(error.column, c.error.column) << where;
          }
        }
      }
    }
  }
}

// A stage before the decoder has a state of its own: the stream cannot tell
// the decoder's place as an incremental codec's, and the held bytes are the
// first stage's.
TEST(StageListTest, PlaceWithABytesStageBeforeTheDecoder) {
  ConversionStream::Options options;
  options.added_stages = {&percentStage};
  ConversionStream stream(
      Code::sjis, Code::utf8, LineEnding::lf, [](const std::uint8_t*, std::size_t) { return true; },
      options);
  const std::string input = "a%8";
  ASSERT_TRUE(stream.feed(reinterpret_cast<const std::uint8_t*>(input.data()), input.size()));
  ASSERT_TRUE(stream.flush());
  EXPECT_EQ(stream.place(), ConversionStream::kNoPlace);
  const std::vector<std::uint8_t> held = stream.held();
  EXPECT_EQ(std::string(held.begin(), held.end()), "%8");
  EXPECT_FALSE(stream.resumeAt(1));
}

}  // namespace
}  // namespace mek::test
