#pragma once

#include <cstdint>

#include "mek/converter.h"

namespace mek {

// Base of the UTF decoders; `mode` selects byte order and mark handling and
// is fixed when the instance is built.
class UTFDecoder : public Decoder {
 public:
  explicit constexpr UTFDecoder(std::int32_t m) : mode(m) {}
  const std::int32_t mode;
};

// Base of the UTF encoders; `mode` selects byte order and whether a mark is
// written.
class UTFEncoder : public Encoder {
 public:
  explicit constexpr UTFEncoder(std::int32_t m) : mode(m) {}
  const std::int32_t mode;
};

}  // namespace mek
