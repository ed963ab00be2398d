#pragma once

#include "codec/piece.h"
#include "codec/sink.h"
#include "mek/converter.h"

namespace mek {

// Gives a codec its `measure` and `convert` from one scan: the codec's
// `scan(buffer, sink)` runs with a CountingSink to measure and with a
// WritingSink to convert, so the two passes are one rule and cannot
// disagree. A codec whose shift state carries from piece to piece also has
// `scanPiece(buffer, piece, sink)` instead, which gives `measurePiece` and
// `convertPiece` the same way, and `measure` and `convert` as one piece.
//
// The scans are member templates defined in the codec's source, which
// instantiates this class explicitly; its header declares the instantiation
// extern.
template <class Self, class Base>
class ScanningConverter : public Base {
 public:
  using Base::Base;

  bool measure(ConversionBuffer& buffer) const override {
    CountingSink sink(buffer.policy);
    return scanWhole(buffer, sink);
  }
  bool convert(ConversionBuffer& buffer) const override {
    WritingSink sink(buffer.out, buffer.policy);
    return scanWhole(buffer, sink);
  }
  bool measurePiece(ConversionBuffer& buffer, Piece& piece) const override {
    if constexpr (kCarriesState) {
      CountingSink sink(buffer.policy);
      return self().scanPiece(buffer, piece, sink);
    } else {
      return Base::measurePiece(buffer, piece);
    }
  }
  bool convertPiece(ConversionBuffer& buffer, Piece& piece) const override {
    if constexpr (kCarriesState) {
      WritingSink sink(buffer.out, buffer.policy);
      return self().scanPiece(buffer, piece, sink);
    } else {
      return Base::convertPiece(buffer, piece);
    }
  }

 private:
  static constexpr bool kCarriesState =
      requires(const Self& codec, ConversionBuffer& buffer, Piece& piece, CountingSink& sink) {
    codec.scanPiece(buffer, piece, sink);
  };

  const Self& self() const { return static_cast<const Self&>(*this); }

  // A whole text is one piece that is also the last, from the first state.
  template <class Sink>
  bool scanWhole(ConversionBuffer& buffer, Sink& sink) const {
    if constexpr (kCarriesState) {
      Piece piece;
      return self().scanPiece(buffer, piece, sink);
    } else {
      return self().scan(buffer, sink);
    }
  }
};

}  // namespace mek

// Compiles a codec's two passes and its scan over both sinks once, in the
// codec's own source file; the header declares them extern. MEK_SCANS is for
// a codec that scans whole texts (scan), MEK_PIECE_SCANS for one with a state
// that carries from piece to piece (scanPiece).
#define MEK_SCANS(Codec, Base)                                                     \
  template class ScanningConverter<Codec, Base>;                                   \
  template bool Codec::scan<CountingSink>(ConversionBuffer&, CountingSink&) const; \
  template bool Codec::scan<WritingSink>(ConversionBuffer&, WritingSink&) const
#define MEK_PIECE_SCANS(Codec, Base)                                                            \
  template class ScanningConverter<Codec, Base>;                                                \
  template bool Codec::scanPiece<CountingSink>(ConversionBuffer&, Piece&, CountingSink&) const; \
  template bool Codec::scanPiece<WritingSink>(ConversionBuffer&, Piece&, WritingSink&) const
