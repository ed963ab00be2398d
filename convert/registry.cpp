#include "convert/registry.h"

#include "convert/end_of_line.h"
#include "japanese/eucjp.h"
#include "japanese/jis.h"
#include "japanese/sjis.h"
#include "unicode/utf16.h"
#include "unicode/utf32.h"
#include "unicode/utf8.h"

namespace mek {
namespace {

// Every instance is constant-initialised: no code runs at start-up.
constinit const SjisDecoder kSjisDecoder;
constinit const SjisEncoder kSjisEncoder;
constinit const EucjpDecoder kEucjpDecoder;
constinit const EucjpEncoder kEucjpEncoder;
constinit const UTF8Decoder kUtf8Decoder{2};
// Reads on after the start of a text, where a mark is an ordinary character.
constinit const UTF8Decoder kUtf8RestDecoder{0};
constinit const UTF8Encoder kUtf8Encoder{0};

constinit const JisDecoder kJisDecoder;
constinit const JisEncoder kJisEncoder;

// One decoder per width reads both marked input codes: the mark, not the
// code's name, decides the byte order.
constinit const UTF16Decoder kUtf16BeDecoder{0};
constinit const UTF16Decoder kUtf16LeDecoder{1};
constinit const UTF16Decoder kUtf16MarkedDecoder{2};
constinit const UTF16Encoder kUtf16BeEncoder{0};
constinit const UTF16Encoder kUtf16LeEncoder{1};
constinit const UTF16Encoder kUtf16BeMarkEncoder{2};
constinit const UTF16Encoder kUtf16LeMarkEncoder{3};

constinit const UTF32Decoder kUtf32BeDecoder{0};
constinit const UTF32Decoder kUtf32LeDecoder{1};
constinit const UTF32Decoder kUtf32MarkedDecoder{2};
constinit const UTF32Encoder kUtf32BeEncoder{0};
constinit const UTF32Encoder kUtf32LeEncoder{1};
constinit const UTF32Encoder kUtf32BeMarkEncoder{2};
constinit const UTF32Encoder kUtf32LeMarkEncoder{3};

constinit const EndOfLineConverter kLf{1};
constinit const EndOfLineConverter kCrLf{2};
constinit const EndOfLineConverter kCr{0};

// Indexed by code number; slot 0 (auto) is never a converter.
constinit const Converter* const kDecoders[13] = {
    nullptr,
    &kSjisDecoder,         // 1 sjis
    &kEucjpDecoder,        // 2 euc_jp
    &kJisDecoder,          // 3 jis
    &kUtf8Decoder,         // 4 utf8
    &kUtf16BeDecoder,      // 5 utf16_be
    &kUtf16LeDecoder,      // 6 utf16_le
    &kUtf16MarkedDecoder,  // 7 utf16_be_bom
    &kUtf16MarkedDecoder,  // 8 utf16_le_bom
    &kUtf32BeDecoder,      // 9 utf32_be
    &kUtf32LeDecoder,      // 10 utf32_le
    &kUtf32MarkedDecoder,  // 11 utf32_be_bom
    &kUtf32MarkedDecoder,  // 12 utf32_le_bom
};

constinit const Converter* const kEncoders[13] = {
    nullptr,
    &kSjisEncoder,         // 1 sjis
    &kEucjpEncoder,        // 2 euc_jp
    &kJisEncoder,          // 3 jis
    &kUtf8Encoder,         // 4 utf8
    &kUtf16BeEncoder,      // 5 utf16_be
    &kUtf16LeEncoder,      // 6 utf16_le
    &kUtf16BeMarkEncoder,  // 7 utf16_be_bom
    &kUtf16LeMarkEncoder,  // 8 utf16_le_bom
    &kUtf32BeEncoder,      // 9 utf32_be
    &kUtf32LeEncoder,      // 10 utf32_le
    &kUtf32BeMarkEncoder,  // 11 utf32_be_bom
    &kUtf32LeMarkEncoder,  // 12 utf32_le_bom
};

}  // namespace

const Converter* findDecoder(int code) {
  return code >= 1 && code <= 12 ? kDecoders[code] : nullptr;
}

const Converter* findEncoder(int code) {
  return code >= 1 && code <= 12 ? kEncoders[code] : nullptr;
}

const Converter* findDecoderAfterStart(int code, const std::uint8_t* begin,
                                       const std::uint8_t* end) {
  switch (code) {
    case 4:
      return &kUtf8RestDecoder;
    case 7:
    case 8:
      return startsWithUtf16LeMark(begin, end) ? &kUtf16LeDecoder : &kUtf16BeDecoder;
    case 11:
    case 12:
      return startsWithUtf32LeMark(begin, end) ? &kUtf32LeDecoder : &kUtf32BeDecoder;
    default:
      return findDecoder(code);
  }
}

const Converter* findEncoderAfterStart(int code, const std::uint8_t*, const std::uint8_t*) {
  switch (code) {
    case 7:
      return &kUtf16BeEncoder;
    case 8:
      return &kUtf16LeEncoder;
    case 11:
      return &kUtf32BeEncoder;
    case 12:
      return &kUtf32LeEncoder;
    default:
      return findEncoder(code);
  }
}

const EndOfLineConverter* findLineEndConverter(int code) {
  switch (code) {
    case 1:
      return &kLf;
    case 2:
      return &kCrLf;
    case 3:
      return &kCr;
    default:
      return nullptr;
  }
}

}  // namespace mek
