// mek::repair: mojibake taken back line by line (detect/mojibake.h), each
// line decided as detect/repair_lines.h tells.

#include <deque>

#include "detect/repair_lines.h"
#include "mek/mek.h"

namespace mek {

namespace {

// A line of the text given: its characters [begin, end) and its line end
// [end, next).
struct TextLine {
  std::size_t begin;
  std::size_t end;
  std::size_t next;
  std::size_t number;
};

}  // namespace

Repaired repair(std::u32string_view text) {
  Repaired result;
  result.text.reserve(text.size());
  RepairLines lines;
  std::deque<TextLine> held;
  std::u16string line;
  std::size_t last_repaired = 0;  // the line of the last repair
  // Writes the lines decided, repaired or as they stand.
  const auto write = [&] {
    for (; lines.decided() != 0; lines.pop(), held.pop_front()) {
      const TextLine& at = held.front();
      const LineRepair& done = lines.repair();
      if (!done.repaired()) {
        result.text.append(text.substr(at.begin, at.next - at.begin));
        continue;
      }
      const char16_t* repaired = lines.repaired();
      for (std::size_t i = 0; i < done.size; ++i) {
        char32_t c = repaired[i];
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < done.size) {
          c = 0x10000 + ((c - 0xD800) << 10) + (repaired[++i] - 0xDC00);
        }
        result.text.push_back(c);
      }
      result.text.append(text.substr(at.end, at.next - at.end));
      // Lines in a row that took the same turns are one stretch.
      std::string chain = turnsName(done.outer, done.inner);
      if (!result.repairs.empty() && last_repaired == at.number - 1 &&
          result.repairs.back().chain == chain) {
        result.repairs.back().end = at.end;
        result.repairs.back().lost += done.lost;
        result.repairs.back().last_line = at.number;
      } else {
        result.repairs.push_back(
            {std::move(chain), at.begin, at.end, at.number, done.lost, at.number});
      }
      last_repaired = at.number;
    }
  };
  std::size_t line_number = 1;
  for (std::size_t begin = 0; begin < text.size(); ++line_number) {
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
    held.push_back({begin, end, next, line_number});
    lines.add(line.data(), line.size());
    write();
    begin = next;
  }
  lines.settle();
  write();
  return result;
}

}  // namespace mek
