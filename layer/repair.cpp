// mek::repair: mojibake taken back line by line (detect/mojibake.h).

#include <memory>

#include "detect/mojibake.h"
#include "mek/mek.h"

namespace mek {

Repaired repair(std::u32string_view text) {
  Repaired result;
  result.text.reserve(text.size());
  auto scratch = std::make_unique<RepairScratch>();
  std::u16string line;
  std::u16string repaired;
  std::size_t line_number = 1;
  std::size_t last_repaired = 0;  // the line of the last repair
  LineRepair previous;
  for (std::size_t begin = 0; begin < text.size();) {
    // A line ends at LF, CR or CRLF; the line end is kept as it is.
    std::size_t end = begin;
    while (end < text.size() && text[end] != U'\n' && text[end] != U'\r') ++end;
    std::size_t next = end;
    if (next < text.size())
      next += text[next] == U'\r' && next + 1 < text.size() && text[next + 1] == U'\n' ? 2 : 1;
    line.clear();
    for (std::size_t i = begin; i < end; ++i) {
      char32_t c = text[i];
      if (c >= 0x10000) {
        c -= 0x10000;
        line.push_back(static_cast<char16_t>(0xD800 + (c >> 10)));
        line.push_back(static_cast<char16_t>(0xDC00 + (c & 0x3FF)));
      } else {
        line.push_back(static_cast<char16_t>(c));
      }
    }
    repaired.resize(2 * line.size());
    const LineRepair done =
        repairLine(line.data(), line.size(), repaired.data(), *scratch, previous);
    if (!done.repaired()) {
      result.text.append(text.substr(begin, next - begin));
    } else {
      for (std::size_t i = 0; i < done.size; ++i) {
        char32_t c = repaired[i];
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < done.size) {
          c = 0x10000 + ((c - 0xD800) << 10) + (repaired[++i] - 0xDC00);
        }
        result.text.push_back(c);
      }
      result.text.append(text.substr(end, next - end));
      // Lines in a row that took the same turns are one stretch.
      std::string chain = turnsName(done.outer, done.inner);
      if (!result.repairs.empty() && last_repaired == line_number - 1 &&
          result.repairs.back().chain == chain) {
        result.repairs.back().end = end;
        result.repairs.back().lost += done.lost;
        result.repairs.back().last_line = line_number;
      } else {
        result.repairs.push_back(
            {std::move(chain), begin, end, line_number, done.lost, line_number});
      }
      last_repaired = line_number;
      previous = done;
    }
    ++line_number;
    begin = next;
  }
  return result;
}

}  // namespace mek
