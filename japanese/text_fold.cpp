#include "japanese/text_fold.h"

#include <array>

#include "codec/sink.h"
#include "japanese/flat_tables.h"

namespace mek {
namespace {

constexpr std::uint16_t kHalfWidthFirst = 0xFF61;
constexpr std::uint16_t kHalfWidthLast = 0xFF9F;
constexpr std::uint16_t kVoiced = 0x3099;
constexpr std::uint16_t kSemiVoiced = 0x309A;

// U+FF61..U+FF9F in full width: the NFKC forms, except that the two marks
// give the spacing marks instead of the combining ones.
constexpr std::uint16_t kFullWidth[kHalfWidthLast - kHalfWidthFirst + 1] = {
    0x3002, 0x300C, 0x300D, 0x3001, 0x30FB, 0x30F2, 0x30A1, 0x30A3, 0x30A5, 0x30A7, 0x30A9,
    0x30E3, 0x30E5, 0x30E7, 0x30C3, 0x30FC, 0x30A2, 0x30A4, 0x30A6, 0x30A8, 0x30AA, 0x30AB,
    0x30AD, 0x30AF, 0x30B1, 0x30B3, 0x30B5, 0x30B7, 0x30B9, 0x30BB, 0x30BD, 0x30BF, 0x30C1,
    0x30C4, 0x30C6, 0x30C8, 0x30CA, 0x30CB, 0x30CC, 0x30CD, 0x30CE, 0x30CF, 0x30D2, 0x30D5,
    0x30D8, 0x30DB, 0x30DE, 0x30DF, 0x30E0, 0x30E1, 0x30E2, 0x30E4, 0x30E6, 0x30E8, 0x30E9,
    0x30EA, 0x30EB, 0x30EC, 0x30ED, 0x30EF, 0x30F3, 0x309B, 0x309C,
};

// Canonical compositions with the two combining marks, by the kana's place
// in its block (hiragana from U+3040, katakana from U+30A0; both blocks lay
// the syllables out alike): how far the precomposed kana lies beyond the
// base, 0 for none.
struct Composition {
  std::uint8_t voiced;
  std::uint8_t semi_voiced;
};
constexpr std::array<Composition, 0x60> kCompositions = [] {
  std::array<Composition, 0x60> table{};
  // Rows ka, sa, ta: the voiced kana follows its base.
  for (unsigned at :
       {0x0B, 0x0D, 0x0F, 0x11, 0x13, 0x15, 0x17, 0x19, 0x1B, 0x1D, 0x1F, 0x21, 0x24, 0x26, 0x28}) {
    table[at].voiced = 1;
  }
  // Row ha: voiced, then semi-voiced.
  for (unsigned at : {0x2F, 0x32, 0x35, 0x38, 0x3B}) table[at] = {1, 2};
  table[0x06].voiced = 0x4E;  // う to ゔ, ウ to ヴ
  table[0x5D].voiced = 1;     // ゝ to ゞ, ヽ to ヾ
  return table;
}();

bool inJisX0208(std::uint16_t unit) {
  const std::uint16_t code = kUnicodeToJisCode[unit];
  return code >= 0x100 && code < kJisX0212Flag;
}

std::uint16_t unitAt(const std::uint8_t* p) {
  return static_cast<std::uint16_t>(p[0] << 8 | p[1]);
}

}  // namespace

bool mayTakeMark(std::uint16_t unit, Fold folds) {
  if (!has(folds, Fold::wide_kana | Fold::compose_kana)) return false;
  return (unit >= 0x3040 && unit <= 0x30FF) ||
         (has(folds, Fold::wide_kana) && unit >= kHalfWidthFirst && unit <= kHalfWidthLast);
}

std::uint16_t widenKana(std::uint16_t unit) {
  return unit >= kHalfWidthFirst && unit <= kHalfWidthLast ? kFullWidth[unit - kHalfWidthFirst]
                                                           : unit;
}

std::uint16_t composeKana(std::uint16_t base, std::uint16_t mark) {
  if (mark != kVoiced && mark != kSemiVoiced) return 0;
  unsigned at;
  if (base >= 0x3040 && base < 0x30A0) {
    at = base - 0x3040u;
  } else if (base >= 0x30A0 && base <= 0x30FF) {
    at = base - 0x30A0u;
    // ワ ヰ ヱ ヲ have voiced forms; their hiragana have none.
    if (mark == kVoiced && at >= 0x4F && at <= 0x52) return static_cast<std::uint16_t>(base + 8);
  } else {
    return 0;
  }
  const unsigned offset =
      mark == kVoiced ? kCompositions[at].voiced : kCompositions[at].semi_voiced;
  return offset == 0 ? 0 : static_cast<std::uint16_t>(base + offset);
}

std::uint16_t foldHalfWidthPair(std::uint16_t base, std::uint16_t mark) {
  const std::uint16_t combining = combiningOfHalfWidthMark(mark);
  if (combining == 0) return 0;
  const std::uint16_t composed = composeKana(widenKana(base), combining);
  return composed != 0 && inJisX0208(composed) ? composed : 0;
}

template <class Sink>
bool TextFold::scanPiece(ConversionBuffer& buffer, Piece& piece, Sink& sink) const {
  piece.end_state = piece.state;
  const bool wide = has(folds, Fold::wide_kana);
  const bool compose = has(folds, Fold::compose_kana);
  const bool narrow = has(folds, Fold::narrow_ascii);
  const std::uint8_t* p = buffer.in_begin;
  const std::uint8_t* const end = buffer.in_end;
  while (end - p >= 2) {
    // Most text is ASCII, which no fold touches and after which no mark
    // combines.
    if (p[0] == 0) {
      const std::uint8_t* run = p + 2;
      while (end - run >= 2 && run[0] == 0) run += 2;
      sink.copy(p, static_cast<std::size_t>(run - p));
      p = run;
      continue;
    }
    std::uint16_t unit = unitAt(p);
    const bool hasNext = end - p >= 4;
    if (!hasNext && !piece.last && mayTakeMark(unit, folds)) break;
    const std::uint16_t next = hasNext ? unitAt(p + 2) : 0;
    std::ptrdiff_t taken = 2;
    // Wide kana first: a half-width mark joins the kana before it where
    // JIS X 0208 has the result.
    if (wide) {
      const std::uint16_t pair = foldHalfWidthPair(unit, next);
      if (pair != 0) {
        unit = pair;
        taken = 4;
      } else {
        unit = widenKana(unit);
      }
    }
    // Then composed kana, from what wide kana left.
    if (compose && taken == 2 && (next == kVoiced || next == kSemiVoiced)) {
      const std::uint16_t composed = composeKana(unit, next);
      if (composed != 0) {
        unit = composed;
        taken = 4;
      }
    }
    // Then narrow ASCII.
    if (narrow) {
      if (unit >= 0xFF01 && unit <= 0xFF5E) {
        unit = static_cast<std::uint16_t>(unit - 0xFEE0);
      } else if (unit == 0x3000) {
        unit = 0x0020;
      }
    }
    sink.unit(unit);
    p += taken;
  }
  return finishScan(buffer, p, sink);
}

MEK_PIECE_SCANS(TextFold, Converter);

namespace {

constexpr unsigned kFoldCount = static_cast<unsigned>(Fold::all) + 1;
constinit const TextFold kTextFolds[kFoldCount] = {
    TextFold{Fold{0}}, TextFold{Fold{1}}, TextFold{Fold{2}}, TextFold{Fold{3}},
    TextFold{Fold{4}}, TextFold{Fold{5}}, TextFold{Fold{6}}, TextFold{Fold{7}},
};

}  // namespace

const Converter* findTextFold(Fold folds) {
  const auto index = static_cast<unsigned>(folds);
  return index == 0 || index >= kFoldCount ? nullptr : &kTextFolds[index];
}

}  // namespace mek
