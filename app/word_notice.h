#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace mek {

// Watches the output of --mime-decode for encoded words that stayed as they
// stand because their charset is none that mek reads, so that the tool can
// tell of them. It reads the header block only (up to the first empty line)
// and finds words in output codes that write ASCII as ASCII.
class WordNotice {
 public:
  void feed(std::string_view bytes);
  // "" when no word stayed; else the notice, without a line ending.
  std::string notice() const;

 private:
  void line(std::string_view text);

  bool body_ = false;
  std::string pending_;  // the header line so far
  std::size_t count_ = 0;
  std::string first_;  // the charset of the first word that stayed
};

}  // namespace mek
