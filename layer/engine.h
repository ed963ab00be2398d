#pragma once

// What the C++ layer's files share: the views between its byte types and
// the engine's, and the engine's options for a layer's Options.

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

#include "mek/detail/conversion_stream.h"
#include "mek/mek.h"

namespace mek {

inline const std::uint8_t* bytesOf(std::string_view text) noexcept {
  return reinterpret_cast<const std::uint8_t*>(text.data());
}

inline std::string_view viewOf(std::span<const std::byte> bytes) noexcept {
  return {reinterpret_cast<const char*>(bytes.data()), bytes.size()};
}

// The engine's options for `given`, locating failures and changes.
inline ConversionStream::Options locating(const Options& given = {}) noexcept {
  ConversionStream::Options options;
  options.locate = true;
  options.errors = given.errors;
  options.replacement = given.replacement;
  options.fallback = given.fallback;
  options.folds = given.folds;
  options.transfer_in = given.decode_transfer;
  options.transfer_out = given.encode_transfer;
  options.mime_decode = given.mime_decode;
  options.mime_encode = given.mime_encode;
  options.repair = given.repair;
  return options;
}

inline Error firstChangeOf(const ConversionStream& stream) noexcept {
  return stream.changes().empty() ? Error{} : stream.changes().front();
}

}  // namespace mek
