#include "mek/detail/text_position.h"

namespace mek {

void TextTally::add(const std::uint8_t* units, std::size_t bytes) {
  const std::uint8_t* const end = units + (bytes & ~std::size_t{1});
  for (const std::uint8_t* p = units; p != end; p += 2) {
    const std::uint8_t high = p[0];
    const std::uint8_t low = p[1];
    if (high == 0 && (low == 0x0A || low == 0x0D)) {
      if (low == 0x0A && after_cr_) {
        // The LF of a CR LF: the CR has ended the line already.
        seen_ |= kSeenCrLf;
        after_cr_ = false;
        continue;
      }
      if (after_cr_) seen_ |= kSeenCr;
      if (low == 0x0A) seen_ |= kSeenLf;
      after_cr_ = low == 0x0D;
      ++line_;
      before_ = 0;
      continue;
    }
    if (after_cr_) seen_ |= kSeenCr;
    after_cr_ = false;
    // The low half of a surrogate pair belongs to the character before.
    if (high < 0xDC || high > 0xDF) ++before_;
  }
}

void TextTally::finish() {
  if (after_cr_) seen_ |= kSeenCr;
  after_cr_ = false;
}

}  // namespace mek
