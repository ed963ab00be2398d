#include "mek/registry.h"

#include "convert/after_start.h"
#include "convert/code_instances.h"

namespace mek {

const Converter* findDecoder(int code) {
  const CodeDescriptor* d = describeCode(code);
  return d != nullptr ? d->decoder : nullptr;
}

const Converter* findEncoder(int code) {
  const CodeDescriptor* d = describeCode(code);
  return d != nullptr ? d->encoder : nullptr;
}

bool carries(int outputCode, char32_t c) {
  const Converter* encoder = findEncoder(outputCode);
  if (encoder == nullptr || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) return false;
  std::uint8_t units[4];
  int n = 2;
  if (c < 0x10000) {
    units[0] = static_cast<std::uint8_t>(c >> 8);
    units[1] = static_cast<std::uint8_t>(c);
  } else {
    const char32_t high = 0xD800 | ((c - 0x10000) >> 10);
    const char32_t low = 0xDC00 | ((c - 0x10000) & 0x3FF);
    units[0] = static_cast<std::uint8_t>(high >> 8);
    units[1] = static_cast<std::uint8_t>(high);
    units[2] = static_cast<std::uint8_t>(low >> 8);
    units[3] = static_cast<std::uint8_t>(low);
    n = 4;
  }
  ConversionBuffer buffer;
  buffer.in_begin = units;
  buffer.in_end = units + n;
  return encoder->measure(buffer) && buffer.stop == buffer.in_end;
}

ErrorPolicy errorPolicyFor(Errors action, bool fallback, char32_t replacement, int outputCode) {
  ErrorPolicy policy;
  policy.action = action;
  policy.fallback = fallback;
  policy.replacement = replacement != 0 ? replacement : U'?';
  // What a decoder writes for a malformed sequence, so that the encoder
  // never meets it as a second change.
  char32_t substitute = U'\uFFFD';
  if (action == Errors::replace && replacement != 0) {
    substitute = replacement;
  } else if (!carries(outputCode, substitute)) {
    if (action == Errors::html) {
      const char* text = "&#65533;";
      policy.substitute_units = 0;
      for (const char* c = text; *c != '\0'; ++c) {
        policy.substitute[policy.substitute_units++] = static_cast<std::uint16_t>(*c);
      }
      return policy;
    }
    substitute = U'?';
  }
  if (substitute < 0x10000) {
    policy.substitute[0] = static_cast<std::uint16_t>(substitute);
    policy.substitute_units = 1;
  } else {
    policy.substitute[0] = static_cast<std::uint16_t>(0xD800 | ((substitute - 0x10000) >> 10));
    policy.substitute[1] = static_cast<std::uint16_t>(0xDC00 | ((substitute - 0x10000) & 0x3FF));
    policy.substitute_units = 2;
  }
  return policy;
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

int decoderNumber(const Converter* decoder) {
  if (decoder == nullptr) return 0;
  if (decoder == &kUtf8RestDecoder) return kCodeCount;
  for (int code = 1; code < kCodeCount; ++code) {
    if (findDecoder(code) == decoder) return code;
  }
  return 0;
}

const Converter* decoderOfNumber(int number) {
  if (number == kCodeCount) return &kUtf8RestDecoder;
  return number > 0 && number < kCodeCount ? findDecoder(number) : nullptr;
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
