#include "convert/fused_paths.h"

#include "codec/utf8_sink.h"
#include "japanese/cp932.h"
#include "japanese/eucjp.h"
#include "japanese/jis.h"
#include "japanese/sjis.h"
#include "mek/codes.h"

namespace mek {
namespace {

// A decoder whose scan writes UTF-8 through a Utf8Sink: the decoder, the
// line endings (kept, or all LF) and the UTF-8 encoder in one pass. A CR as
// the last character carries into the next piece in a bit of the state,
// beside the decoder's own.
template <class Codec, LineRule kRule>
class DecodeToUtf8 final : public Converter {
 public:
  explicit constexpr DecodeToUtf8(const Codec& codec) : codec_(codec) {}

  // A byte gives at most three (a half-width katakana); CR LF gives less.
  std::size_t outputBound(std::size_t n) const override { return 3 * n; }

  bool measure(ConversionBuffer& buffer) const override {
    Piece piece;
    return measurePiece(buffer, piece);
  }
  bool convert(ConversionBuffer& buffer) const override {
    Piece piece;
    return convertPiece(buffer, piece);
  }
  bool measurePiece(ConversionBuffer& buffer, Piece& piece) const override {
    Utf8Sink<false, kRule> sink(nullptr, buffer.policy, (piece.state & kAfterCr) != 0);
    return run(buffer, piece, sink);
  }
  bool convertPiece(ConversionBuffer& buffer, Piece& piece) const override {
    Utf8Sink<true, kRule> sink(buffer.out, buffer.policy, (piece.state & kAfterCr) != 0);
    return run(buffer, piece, sink);
  }

 private:
  static constexpr std::int32_t kAfterCr = 0x100;
  static constexpr bool kCarriesState = requires(const Codec& codec, ConversionBuffer& buffer,
                                                 Piece& piece, Utf8Sink<true, kRule>& sink) {
    codec.scanPiece(buffer, piece, sink);
  };

  template <class Sink>
  bool run(ConversionBuffer& buffer, Piece& piece, Sink& sink) const {
    bool ok;
    if constexpr (kCarriesState) {
      Piece own{piece.state & ~kAfterCr, 0, piece.last};
      ok = codec_.scanPiece(buffer, own, sink);
      piece.end_state = own.end_state;
    } else {
      ok = codec_.scan(buffer, sink);
      piece.end_state = 0;
    }
    if (!ok) return false;
    // A sequence cut off by the end of the text: the strict policy leaves
    // it for the stream stage to fail on; a forgiving one writes its
    // substitute here, where the output is UTF-8.
    if (piece.last && buffer.stop != buffer.in_end && forgiveMalformed(sink, buffer.stop) &&
        !finishScan(buffer, buffer.in_end, sink)) {
      return false;
    }
    if (sink.afterCr()) piece.end_state |= kAfterCr;
    return true;
  }

  const Codec& codec_;
};

constinit const SjisDecoder kSjis;
constinit const Cp932Decoder kCp932;
constinit const EucjpDecoder kEucjp;
constinit const JisDecoder kJis;

template <LineRule kRule>
struct ToUtf8 {
  static constexpr DecodeToUtf8<SjisDecoder, kRule> sjis{kSjis};
  static constexpr DecodeToUtf8<Cp932Decoder, kRule> cp932{kCp932};
  static constexpr DecodeToUtf8<EucjpDecoder, kRule> eucjp{kEucjp};
  static constexpr DecodeToUtf8<JisDecoder, kRule> jis{kJis};

  static const Converter* from(int inputCode) {
    switch (inputCode) {
      case kCodeSjis:
        return &sjis;
      case kCodeCp932:
        return &cp932;
      case kCodeEucJp:
        return &eucjp;
      case kCodeJis:
      case kCodeIso2022jp:
        return &jis;
      default:
        return nullptr;
    }
  }
};

}  // namespace

const Converter* findFusedPath(int inputCode, int outputCode, int lineEnding) {
  if (outputCode != kCodeUtf8) return nullptr;
  if (lineEnding == kLineEndingLf) return ToUtf8<LineRule::kLf>::from(inputCode);
  if (lineEnding == kLineEndingKeep) return ToUtf8<LineRule::kKeep>::from(inputCode);
  return nullptr;
}

}  // namespace mek
