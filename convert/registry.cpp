#include "convert/registry.h"

namespace mek {

const Converter* findDecoder(int code) {
  const CodeDescriptor* d = describeCode(code);
  return d != nullptr ? d->decoder : nullptr;
}

const Converter* findEncoder(int code, bool fallback) {
  const CodeDescriptor* d = describeCode(code);
  if (d == nullptr) return nullptr;
  return fallback ? d->fallback_encoder : d->encoder;
}

const EndOfLineConverter* findLineEndConverter(int code) {
  return code >= 1 && code < kLineEndingCount ? kLineEndings[code].converter : nullptr;
}

}  // namespace mek
