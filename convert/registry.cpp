#include "mek/registry.h"

#include "unicode/utf16.h"
#include "unicode/utf32.h"
#include "unicode/utf8.h"

namespace mek {
namespace {

// Reads on after the start of a text, where a mark is an ordinary character.
constinit const UTF8Decoder kUtf8RestDecoder{0};

}  // namespace

const Converter* findDecoder(int code) {
  const CodeDescriptor* d = describeCode(code);
  return d != nullptr ? d->decoder : nullptr;
}

const Converter* findEncoder(int code, bool fallback) {
  const CodeDescriptor* d = describeCode(code);
  if (d == nullptr) return nullptr;
  return fallback ? d->fallback_encoder : d->encoder;
}

const Converter* findDecoderAfterStart(int code, const std::uint8_t* begin,
                                       const std::uint8_t* end) {
  switch (code) {
    case kCodeUtf8:
    case kCodeUtf8Bom:
      return &kUtf8RestDecoder;
    case kCodeUtf16BeBom:
    case kCodeUtf16LeBom:
      return findDecoder(startsWithUtf16LeMark(begin, end) ? kCodeUtf16Le : kCodeUtf16Be);
    case kCodeUtf32BeBom:
    case kCodeUtf32LeBom:
      return findDecoder(startsWithUtf32LeMark(begin, end) ? kCodeUtf32Le : kCodeUtf32Be);
    default:
      return nullptr;
  }
}

const Converter* findEncoderAfterStart(int code, const std::uint8_t*, const std::uint8_t*) {
  switch (code) {
    case kCodeUtf16BeBom:
      return findEncoder(kCodeUtf16Be);
    case kCodeUtf16LeBom:
      return findEncoder(kCodeUtf16Le);
    case kCodeUtf32BeBom:
      return findEncoder(kCodeUtf32Be);
    case kCodeUtf32LeBom:
      return findEncoder(kCodeUtf32Le);
    case kCodeUtf8Bom:
      return findEncoder(kCodeUtf8);
    default:
      return nullptr;
  }
}

const EndOfLineConverter* findLineEndConverter(int code) {
  return code >= 1 && code < kLineEndingCount ? kLineEndings[code].converter : nullptr;
}

}  // namespace mek
