#include "app/word_notice.h"

#include "convert/mime_words.h"

namespace mek {
namespace {

// A header line longer than this is not watched (the stage passes it as it
// stands too).
constexpr std::size_t kLineLimit = kMimeFieldLimit / 2;

bool isWordByte(char c) {
  return c > 0x20 && c < 0x7F && c != '?';
}

}  // namespace

void WordNotice::feed(std::string_view bytes) {
  while (!body_ && !bytes.empty()) {
    const std::size_t end = bytes.find('\n');
    if (end == std::string_view::npos) {
      if (pending_.size() < kLineLimit) pending_.append(bytes.substr(0, kLineLimit));
      return;
    }
    if (pending_.size() < kLineLimit) pending_.append(bytes.substr(0, end));
    line(pending_);
    pending_.clear();
    bytes.remove_prefix(end + 1);
  }
}

void WordNotice::line(std::string_view text) {
  if (!text.empty() && text.back() == '\r') text.remove_suffix(1);
  if (text.empty()) {
    body_ = true;
    return;
  }
  for (std::size_t at = text.find("=?"); at != std::string_view::npos;
       at = text.find("=?", at + 2)) {
    std::size_t p = at + 2;
    while (p < text.size() && isWordByte(text[p])) ++p;
    const std::string_view charset = text.substr(at + 2, p - at - 2);
    if (charset.empty() || text.size() - p < 3 || text[p] != '?' || text[p + 2] != '?') continue;
    const char kind = static_cast<char>(text[p + 1] | 0x20);
    if (kind != 'b' && kind != 'q') continue;
    const std::size_t close = text.find("?=", p + 3);
    if (close == std::string_view::npos) continue;
    if (knownMimeCharset(charset)) continue;
    if (count_++ == 0) first_ = charset.substr(0, charset.find('*'));
    at = close;
  }
}

std::string WordNotice::notice() const {
  if (count_ == 0) return "";
  return std::to_string(count_) + (count_ == 1 ? " encoded word" : " encoded words") +
         " left as they stand: mek does not read charset " + first_ +
         (count_ == 1 ? "" : " (the first)");
}

}  // namespace mek
