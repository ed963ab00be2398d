#include "convert/registry.h"

#include "convert/end_of_line.h"
#include "japanese/eucjp.h"
#include "japanese/sjis.h"
#include "unicode/utf8.h"

namespace mek {
namespace {

// Every instance is constant-initialised: no code runs at start-up.
constinit const SjisDecoder kSjisDecoder;
constinit const SjisEncoder kSjisEncoder;
constinit const EucjpDecoder kEucjpDecoder;
constinit const EucjpEncoder kEucjpEncoder;
constinit const UTF8Decoder kUtf8Decoder{2};
constinit const UTF8Encoder kUtf8Encoder{0};

constinit const EndOfLineConverter kLf{1};
constinit const EndOfLineConverter kCrLf{2};
constinit const EndOfLineConverter kCr{0};

// Indexed by code number; slot 0 (auto) is never a converter.
constinit const Converter* const kDecoders[13] = {
    nullptr,
    &kSjisDecoder,  // 1 sjis
    &kEucjpDecoder,  // 2 euc_jp
    nullptr,  // 3 jis
    &kUtf8Decoder,  // 4 utf8
    nullptr,  // 5 utf16_be
    nullptr,  // 6 utf16_le
    nullptr,  // 7 utf16_be_bom
    nullptr,  // 8 utf16_le_bom
    nullptr,  // 9 utf32_be
    nullptr,  // 10 utf32_le
    nullptr,  // 11 utf32_be_bom
    nullptr,  // 12 utf32_le_bom
};

constinit const Converter* const kEncoders[13] = {
    nullptr,
    &kSjisEncoder,  // 1 sjis
    &kEucjpEncoder,  // 2 euc_jp
    nullptr,  // 3 jis
    &kUtf8Encoder,  // 4 utf8
    nullptr,  // 5 utf16_be
    nullptr,  // 6 utf16_le
    nullptr,  // 7 utf16_be_bom
    nullptr,  // 8 utf16_le_bom
    nullptr,  // 9 utf32_be
    nullptr,  // 10 utf32_le
    nullptr,  // 11 utf32_be_bom
    nullptr,  // 12 utf32_le_bom
};

}  // namespace

const Converter* findDecoder(int code) {
  return code >= 1 && code <= 12 ? kDecoders[code] : nullptr;
}

const Converter* findEncoder(int code) {
  return code >= 1 && code <= 12 ? kEncoders[code] : nullptr;
}

const Converter* findLineEndConverter(int code) {
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
