#include "convert/fused_paths.h"

#include "codec/encoding_sink.h"
#include "codec/utf8_sink.h"
#include "convert/code_instances.h"
#include "mek/codes.h"
#include "mek/registry.h"

namespace mek {
namespace {

// The passes every fused path shares: a sink that counts or writes, set up
// from the piece state, Self's scan over it, and what follows the scan, so
// that measure and convert cannot disagree:
// - a sequence cut off by the end of the text: under the strict policy the
//   stream stage fails on it as malformed, as the three stages' decoder does
//   before their encoder sees the piece; a forgiving policy writes its
//   substitute here, in the output code;
// - a CR as the last character carries in a bit of the piece state;
// - an encoder that failed inside the scan fails the piece.
template <class Self>
class FusedPath : public Converter {
 public:
  bool measure(ConversionBuffer& buffer) const override {
    Piece piece;
    return measurePiece(buffer, piece);
  }
  bool convert(ConversionBuffer& buffer) const override {
    Piece piece;
    return convertPiece(buffer, piece);
  }
  bool measurePiece(ConversionBuffer& buffer, Piece& piece) const override {
    auto sink = self().template sink<false>(nullptr, buffer.policy, piece.state);
    return pass(buffer, piece, sink);
  }
  bool convertPiece(ConversionBuffer& buffer, Piece& piece) const override {
    auto sink = self().template sink<true>(buffer.out, buffer.policy, piece.state);
    return pass(buffer, piece, sink);
  }

 protected:
  static bool afterCr(std::int32_t state) { return (state & kFusedAfterCr) != 0; }

 private:
  const Self& self() const { return static_cast<const Self&>(*this); }

  // An encoder that failed inside the scan failed on a character before
  // anything the decoder found after it (the sink converts nothing once it
  // failed): its failure comes first, whatever the decoder met later.
  template <class Sink>
  bool pass(ConversionBuffer& buffer, Piece& piece, Sink& sink) const {
    if (!self().scan(buffer, piece, sink)) {
      if (sink.failed()) return failScan(buffer, buffer.in_begin, sink.failedKind());
      return false;
    }
    const bool cutOff = piece.last && buffer.stop != buffer.in_end;
    if (cutOff &&
        forgiveMalformed(sink, buffer.stop,
                         static_cast<std::size_t>(buffer.in_end - buffer.stop)) &&
        !finishScan(buffer, buffer.in_end, sink)) {
      return false;
    }
    if (sink.afterCr()) piece.end_state |= kFusedAfterCr;
    if (sink.failed()) return failScan(buffer, buffer.in_begin, sink.failedKind());
    return true;
  }
};

// A decoder whose scan writes UTF-8 through a Utf8Sink: the decoder, the
// line endings (kept, or all LF) and the UTF-8 encoder in one pass. The
// decoder's own state (ISO-2022-JP's) carries in the low bits of the piece
// state.
template <class Codec, LineEnding kRule>
class DecodeToUtf8 final : public FusedPath<DecodeToUtf8<Codec, kRule>> {
 public:
  explicit constexpr DecodeToUtf8(const Codec& codec) : codec_(codec) {}

  // A byte gives at most three (a half-width katakana); CR LF gives less.
  // UTF-16 and UTF-32 give less too.
  std::size_t outputBound(std::size_t n) const override { return 3 * n; }

  template <bool kWrite>
  Utf8Sink<kWrite, kRule> sink(std::uint8_t* out, const ErrorPolicy* policy,
                               std::int32_t state) const {
    return Utf8Sink<kWrite, kRule>(out, policy, this->afterCr(state));
  }

  // The decoder's scan; sets the decoder's part of the state at `stop`.
  template <class Sink>
  bool scan(ConversionBuffer& buffer, Piece& piece, Sink& sink) const {
    if constexpr (kCarriesState) {
      Piece own{piece.state & (kFusedAfterCr - 1), 0, piece.last};
      const bool ok = codec_.scanPiece(buffer, own, sink);
      piece.end_state = own.end_state;
      return ok;
    } else {
      piece.end_state = 0;
      return codec_.scan(buffer, sink);
    }
  }

 private:
  static constexpr bool kCarriesState = requires(const Codec& codec, ConversionBuffer& buffer,
                                                 Piece& piece, Utf8Sink<true, kRule>& sink) {
    codec.scanPiece(buffer, piece, sink);
  };

  const Codec& codec_;
};

// UTF-16 or UTF-32 with a mark, to UTF-8: the marked decoder reads the
// start of the text, and once the text has begun (kFusedStarted), the
// decoder of the byte order its first bytes named (kFusedLittle) reads the
// rest, as the three stages hand over after the start.
template <class Codec, LineEnding kRule>
class MarkedToUtf8 final : public FusedPath<MarkedToUtf8<Codec, kRule>> {
 public:
  using LittleMark = bool (*)(const std::uint8_t* begin, const std::uint8_t* end);

  constexpr MarkedToUtf8(const Codec& start, const Codec& little, const Codec& big,
                         LittleMark littleMark)
      : start_(start), little_(little), big_(big), little_mark_(littleMark) {}

  // Two bytes give at most three (a unit of U+0800 or beyond).
  std::size_t outputBound(std::size_t n) const override { return 3 * n / 2 + 3; }

  template <bool kWrite>
  Utf8Sink<kWrite, kRule> sink(std::uint8_t* out, const ErrorPolicy* policy,
                               std::int32_t state) const {
    return Utf8Sink<kWrite, kRule>(out, policy, this->afterCr(state));
  }

  template <class Sink>
  bool scan(ConversionBuffer& buffer, Piece& piece, Sink& sink) const {
    const std::int32_t order = piece.state & (kFusedStarted | kFusedLittle);
    const Codec& codec = (order & kFusedStarted) == 0  ? start_
                         : (order & kFusedLittle) != 0 ? little_
                                                       : big_;
    if (!codec.scan(buffer, sink)) return false;
    piece.end_state = order;
    if ((order & kFusedStarted) == 0 && buffer.stop != buffer.in_begin) {
      piece.end_state =
          kFusedStarted | (little_mark_(buffer.in_begin, buffer.in_end) ? kFusedLittle : 0);
    }
    return true;
  }

 private:
  const Codec& start_;
  const Codec& little_;
  const Codec& big_;
  LittleMark little_mark_;
};

// UTF-8 through an EncodingSink into a stateless encoder: the decoder, the
// line endings and the encoder in one pass, the internal form only in a
// small buffer between a stretch's decoding and its encoding. The first
// piece drops a leading mark, as the UTF-8 decoder does at the start of a
// text; once a piece has consumed input or written output, the rest keep
// marks, as the decoder for the rest of a text does. Both facts carry in
// bits of the piece state.
template <LineEnding kRule>
class Utf8ToEncoder final : public FusedPath<Utf8ToEncoder<kRule>> {
 public:
  // `stateful`: the encoder has a shift state (ISO-2022-JP), which carries
  // from piece to piece in the low bits of the piece state; it is back in
  // ASCII after every line end, so pieces cut after line ends start from 0.
  constexpr Utf8ToEncoder(const UTF8Decoder& start, const UTF8Decoder& rest,
                          const Converter& encoder, bool stateful = false)
      : start_(start), rest_(rest), encoder_(encoder), stateful_(stateful) {}

  // A UTF-8 byte gives at most two bytes (ASCII in UTF-16; a two-byte
  // sequence in EUC-JP's JIS X 0212 gives three), and an LF as CR LF in
  // UTF-16 four. In ISO-2022-JP a two-byte sequence gives at most six (its
  // escape and its pair), and a CR after it five (ESC ( B, CR, LF): at
  // most eleven from three bytes. A piece that begins in another set than
  // ASCII may first write the ESC ( B that its first character needs.
  std::size_t outputBound(std::size_t n) const override {
    if (stateful_) return 4 * n + 3;
    return (kRule == LineEnding::crlf ? 4 : 2) * n;
  }

  template <bool kWrite>
  EncodingSink<kWrite, kRule> sink(std::uint8_t* out, const ErrorPolicy* policy,
                                   std::int32_t state) const {
    return EncodingSink<kWrite, kRule>(out, policy, this->afterCr(state), encoder_, stateful_,
                                       state & kEncoderState);
  }

  // The decoder's scan, from the start of the text or from the rest of it;
  // the state tells which the next piece takes.
  template <class Sink>
  bool scan(ConversionBuffer& buffer, Piece& piece, Sink& sink) const {
    const bool started = (piece.state & kFusedStarted) != 0;
    if (!(started ? rest_ : start_).scan(buffer, sink)) return false;
    const bool begun = started || buffer.stop != buffer.in_begin || sink.count() != 0;
    piece.end_state = (begun ? kFusedStarted : 0) | sink.encoderState();
    return true;
  }

 private:
  // The bits of the piece state that hold a stateful encoder's set.
  static constexpr std::int32_t kEncoderState = kFusedAfterCr - 1;

  const UTF8Decoder& start_;
  const UTF8Decoder& rest_;
  const Converter& encoder_;
  bool stateful_;
};

// A fused path beside the converter of the code table whose work it does: the
// decoder of its input code or the encoder of its output code. A code finds
// its path through its converter in the table, so codes that share one (jis
// and iso2022jp, the two marked UTF-16 codes) share the path.
struct Route {
  const Converter* codec;
  const Converter* path;
};

template <std::size_t N>
const Converter* routeOf(const Route (&routes)[N], const Converter* codec) {
  for (const Route& route : routes) {
    if (route.codec == codec) return route.path;
  }
  return nullptr;
}

template <LineEnding kRule>
struct FromUtf8 {
  static constexpr Utf8ToEncoder<kRule> sjis{kUtf8Decoder, kUtf8RestDecoder, kSjisEncoder};
  static constexpr Utf8ToEncoder<kRule> cp932{kUtf8Decoder, kUtf8RestDecoder, kCp932Encoder};
  static constexpr Utf8ToEncoder<kRule> eucjp{kUtf8Decoder, kUtf8RestDecoder, kEucjpEncoder};
  static constexpr Utf8ToEncoder<kRule> utf16le{kUtf8Decoder, kUtf8RestDecoder, kUtf16LeEncoder};
  static constexpr Utf8ToEncoder<kRule> jis{kUtf8Decoder, kUtf8RestDecoder, kJisEncoder, true};
  static constexpr Route kRoutes[] = {
      {&kSjisEncoder, &sjis},       {&kCp932Encoder, &cp932}, {&kEucjpEncoder, &eucjp},
      {&kUtf16LeEncoder, &utf16le}, {&kJisEncoder, &jis},
  };

  static const Converter* find(int outputCode) { return routeOf(kRoutes, findEncoder(outputCode)); }
};

template <LineEnding kRule>
struct ToUtf8 {
  static constexpr DecodeToUtf8<SjisDecoder, kRule> sjis{kSjisDecoder};
  static constexpr DecodeToUtf8<Cp932Decoder, kRule> cp932{kCp932Decoder};
  static constexpr DecodeToUtf8<EucjpDecoder, kRule> eucjp{kEucjpDecoder};
  static constexpr DecodeToUtf8<JisDecoder, kRule> jis{kJisDecoder};
  static constexpr DecodeToUtf8<Sjis2004Decoder, kRule> sjis2004{kSjis2004Decoder};
  static constexpr DecodeToUtf8<Eucjis2004Decoder, kRule> eucjis2004{kEucjis2004Decoder};
  static constexpr DecodeToUtf8<Iso2022jp2004Decoder, kRule> iso2022jp2004{kIso2022jp2004Decoder};
  static constexpr DecodeToUtf8<EucjpmsDecoder, kRule> eucjpms{kEucjpmsDecoder};
  static constexpr DecodeToUtf8<Cp51932Decoder, kRule> cp51932{kCp51932Decoder};
  static constexpr DecodeToUtf8<UTF16Decoder, kRule> utf16be{kUtf16BeDecoder};
  static constexpr DecodeToUtf8<UTF16Decoder, kRule> utf16le{kUtf16LeDecoder};
  static constexpr MarkedToUtf8<UTF16Decoder, kRule> utf16marked{
      kUtf16MarkedDecoder, kUtf16LeDecoder, kUtf16BeDecoder, &startsWithUtf16LeMark};
  static constexpr DecodeToUtf8<UTF32Decoder, kRule> utf32be{kUtf32BeDecoder};
  static constexpr DecodeToUtf8<UTF32Decoder, kRule> utf32le{kUtf32LeDecoder};
  static constexpr MarkedToUtf8<UTF32Decoder, kRule> utf32marked{
      kUtf32MarkedDecoder, kUtf32LeDecoder, kUtf32BeDecoder, &startsWithUtf32LeMark};
  static constexpr Route kRoutes[] = {
      {&kSjisDecoder, &sjis},
      {&kCp932Decoder, &cp932},
      {&kEucjpDecoder, &eucjp},
      {&kJisDecoder, &jis},
      {&kSjis2004Decoder, &sjis2004},
      {&kEucjis2004Decoder, &eucjis2004},
      {&kIso2022jp2004Decoder, &iso2022jp2004},
      {&kEucjpmsDecoder, &eucjpms},
      {&kCp51932Decoder, &cp51932},
      {&kUtf16BeDecoder, &utf16be},
      {&kUtf16LeDecoder, &utf16le},
      {&kUtf16MarkedDecoder, &utf16marked},
      {&kUtf32BeDecoder, &utf32be},
      {&kUtf32LeDecoder, &utf32le},
      {&kUtf32MarkedDecoder, &utf32marked},
  };

  static const Converter* find(int inputCode) { return routeOf(kRoutes, findDecoder(inputCode)); }
};

// The fused path of Paths for a line-ending code and the code on the other
// side of UTF-8.
template <template <LineEnding> class Paths>
const Converter* forLineEnding(int lineEnding, int code) {
  switch (lineEnding) {
    case kLineEndingLf:
      return Paths<LineEnding::lf>::find(code);
    case kLineEndingCrLf:
      return Paths<LineEnding::crlf>::find(code);
    case kLineEndingCr:
      return Paths<LineEnding::cr>::find(code);
    case kLineEndingKeep:
      return Paths<LineEnding::keep>::find(code);
    default:
      return nullptr;
  }
}

}  // namespace

const Converter* findFusedPath(int inputCode, int outputCode, int lineEnding) {
  if (findEncoder(outputCode) == &kUtf8Encoder) return forLineEnding<ToUtf8>(lineEnding, inputCode);
  if (findDecoder(inputCode) == &kUtf8Decoder) {
    return forLineEnding<FromUtf8>(lineEnding, outputCode);
  }
  return nullptr;
}

}  // namespace mek
