// eucJP-ms and CP51932, over their generated tables
// (japanese/tables/eucjp_ms.h, japanese/tables/cp51932.h). Both hold
// characters of the BMP alone and no pairs, so their encoders take the plain
// scan of the stateless codes.

#include "japanese/tables/eucjp_ms.h"

#include "codec/sink.h"
#include "codec/utf8_sink.h"
#include "japanese/tables/cp51932.h"
#include "japanese/wide_codes.h"
#include "japanese/wide_scan.h"

namespace mek {
namespace {

constexpr WideSets kMsSets{tables::eucjp_ms::kSet1,
                           tables::eucjp_ms::kSet2,
                           true,
                           tables::eucjp_ms::kPairs,
                           tables::eucjp_ms::kDecodeOnly,
                           std::size(tables::eucjp_ms::kDecodeOnly),
                           true};
constexpr WideSets kCp51932Sets{tables::cp51932::kSet1,
                                tables::cp51932::kSet2,
                                false,
                                tables::cp51932::kPairs,
                                tables::cp51932::kDecodeOnly,
                                std::size(tables::cp51932::kDecodeOnly),
                                false};

constexpr std::array<std::uint16_t, 0x10000> kMsFromUnicode = wideFromUnicode(kMsSets);
constexpr std::array<std::uint16_t, 0x10000> kCp51932FromUnicode = wideFromUnicode(kCp51932Sets);

// Writes the EUC form of the unit at p (its twin's with the fallback), or
// fails.
template <class Sink>
inline bool encodeOne(const std::array<std::uint16_t, 0x10000>& table, const std::uint8_t* p,
                      Sink& sink, bool fallback) {
  const std::uint16_t unit = wideUnitAt(p);
  std::uint16_t code = table[unit];
  if (code == kNoMapping && fallback) [[unlikely]]
    code = wideTwin(unit);
  if (code == kNoMapping) return false;
  putEucWide(code, sink);
  return true;
}

template <class Sink>
bool encodeEuc(ConversionBuffer& buffer, Sink& sink,
               const std::array<std::uint16_t, 0x10000>& table) {
  const bool fallback = sink.fallback();
  return encodeStateless(buffer, sink, kFastMargin,
                         [&table, fallback](const std::uint8_t* p, Sink& out) {
                           return encodeOne(table, p, out, fallback);
                         });
}

}  // namespace

template <class Sink>
bool EucjpmsDecoder::scan(ConversionBuffer& buffer, Sink& sink) const {
  return decodeEucWide(buffer, sink, kMsSets);
}

template <class Sink>
bool EucjpmsEncoder::scan(ConversionBuffer& buffer, Sink& sink) const {
  return encodeEuc(buffer, sink, kMsFromUnicode);
}

template <class Sink>
bool Cp51932Decoder::scan(ConversionBuffer& buffer, Sink& sink) const {
  return decodeEucWide(buffer, sink, kCp51932Sets);
}

template <class Sink>
bool Cp51932Encoder::scan(ConversionBuffer& buffer, Sink& sink) const {
  return encodeEuc(buffer, sink, kCp51932FromUnicode);
}

// Both passes and their scans are compiled here, once.
MEK_SCANS(EucjpmsDecoder, Decoder);
MEK_UTF8_SCANS(EucjpmsDecoder);
MEK_SCANS(EucjpmsEncoder, Encoder);
MEK_SCANS(Cp51932Decoder, Decoder);
MEK_UTF8_SCANS(Cp51932Decoder);
MEK_SCANS(Cp51932Encoder, Encoder);

}  // namespace mek
