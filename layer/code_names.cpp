// The names of the codes and of the line endings, and what each stands for.

#include <algorithm>
#include <array>
#include <string>
#include <string_view>
#include <vector>

#include "mek/codes.h"
#include "mek/mek.h"
#include "mek/registry.h"

namespace mek {
namespace {

constexpr CodeName kCodeNames[] = {
    // The classic table, in its order.
    {Code::autodetect, "auto", true},
    {Code::sjis, "sjis", true},
    {Code::euc_jp, "euc_jp", true},
    {Code::jis, "jis", true},
    {Code::utf8, "utf8", true},
    {Code::utf16_be, "utf16_be", true},
    {Code::utf16_le, "utf16_le", true},
    {Code::utf16_be_bom, "utf16_be_bom", true},
    {Code::utf16_le_bom, "utf16_le_bom", true},
    {Code::utf32_be, "utf32_be", true},
    {Code::utf32_le, "utf32_le", true},
    {Code::utf32_be_bom, "utf32_be_bom", true},
    {Code::utf32_le_bom, "utf32_le_bom", true},
    {Code::sjis, "s", true},
    {Code::euc_jp, "e", true},
    {Code::jis, "j", true},
    {Code::utf16_le_bom, "u", true},
    {Code::utf8, "u8", true},
    {Code::utf16_le_bom, "u16", true},
    {Code::utf16_le_bom, "u16l", true},
    {Code::utf16_be_bom, "u16b", true},
    {Code::utf32_le_bom, "u32", true},
    {Code::utf32_le_bom, "u32l", true},
    {Code::utf32_be_bom, "u32b", true},
    // Later codes, and the names other tools and people use.
    {Code::cp932, "cp932", false},
    {Code::cp932, "windows-31j", false},
    {Code::cp932, "ms932", false},
    {Code::utf8_bom, "utf8_bom", false},
    {Code::utf8_bom, "utf-8-bom", false},
    {Code::utf8, "utf-8", false},
    {Code::sjis, "shift_jis", false},
    {Code::sjis, "shiftjis", false},
    {Code::euc_jp, "euc-jp", false},
    {Code::euc_jp, "eucjp", false},
    {Code::iso2022jp, "iso2022jp", false},
    {Code::iso2022jp, "iso-2022-jp", false},
    {Code::iso2022jp, "csiso2022jp", false},
    {Code::utf16_be, "utf-16be", false},
    {Code::utf16_le, "utf-16le", false},
    {Code::utf16_le_bom, "utf-16", false},
    {Code::utf32_be, "utf-32be", false},
    {Code::utf32_le, "utf-32le", false},
    {Code::utf32_le_bom, "utf-32", false},
    {Code::sjis2004, "sjis2004", false},
    {Code::sjis2004, "shift_jis-2004", false},
    {Code::sjis2004, "shift_jisx0213", false},
    {Code::eucjis2004, "eucjis2004", false},
    {Code::eucjis2004, "euc-jis-2004", false},
    {Code::eucjis2004, "euc-jisx0213", false},
    {Code::iso2022jp2004, "iso2022jp2004", false},
    {Code::iso2022jp2004, "iso-2022-jp-2004", false},
    {Code::eucjpms, "eucjpms", false},
    {Code::eucjpms, "eucjp-open", false},
    {Code::eucjpms, "eucjp-win", false},
    {Code::cp51932, "cp51932", false},
};

constexpr LineEndingName kLineEndingNames[] = {
    {LineEnding::lf, "unix", true},    {LineEnding::crlf, "win", true},
    {LineEnding::cr, "mac", true},     {LineEnding::lf, "u", true},
    {LineEnding::crlf, "w", true},     {LineEnding::cr, "m", true},
    {LineEnding::keep, "keep", false},
};

// The byte `name` would be compared with at `i` when case, '-' and '_' do
// not count: skips those marks and folds ASCII capitals; 0 at the end.
char foldedAt(std::string_view name, std::size_t& i) {
  while (i < name.size() && (name[i] == '-' || name[i] == '_')) ++i;
  if (i >= name.size()) return '\0';
  const char c = name[i];
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool sameLoosely(std::string_view typed, std::string_view name) {
  std::size_t i = 0;
  std::size_t j = 0;
  for (;; ++i, ++j) {
    const char a = foldedAt(typed, i);
    const char b = foldedAt(name, j);
    if (a != b) return false;
    if (a == '\0') return true;
  }
}

// `name` lower-cased without '-' and '_', as sameLoosely compares names.
std::string folded(std::string_view name) {
  std::string out;
  for (std::size_t i = 0; i < name.size(); ++i) {
    const char c = foldedAt(name, i);
    if (c == '\0') break;
    out += c;
  }
  return out;
}

// Edits (a letter added, dropped, changed, or two swapped) between a and b.
std::size_t editDistance(const std::string& a, const std::string& b) {
  std::vector<std::vector<std::size_t>> d(a.size() + 1, std::vector<std::size_t>(b.size() + 1));
  for (std::size_t i = 0; i <= a.size(); ++i) d[i][0] = i;
  for (std::size_t j = 0; j <= b.size(); ++j) d[0][j] = j;
  for (std::size_t i = 1; i <= a.size(); ++i) {
    for (std::size_t j = 1; j <= b.size(); ++j) {
      d[i][j] = std::min(
          {d[i - 1][j] + 1, d[i][j - 1] + 1, d[i - 1][j - 1] + (a[i - 1] == b[j - 1] ? 0 : 1)});
      if (i > 1 && j > 1 && a[i - 1] == b[j - 2] && a[i - 2] == b[j - 1]) {
        d[i][j] = std::min(d[i][j], d[i - 2][j - 2] + 1);
      }
    }
  }
  return d[a.size()][b.size()];
}

}  // namespace

std::optional<Code> codeNear(std::string_view typed, bool input) {
  const std::string word = folded(typed);
  if (word.empty()) return std::nullopt;
  // At most two edits, and fewer than the word has letters, so that a short
  // word is not close to every short name.
  std::size_t best = std::min<std::size_t>(2, word.size() - 1) + 1;
  const CodeName* found = nullptr;
  bool several = false;
  for (const CodeName& entry : kCodeNames) {
    if (!input && entry.code == Code::autodetect) continue;
    const std::size_t distance = editDistance(word, folded(entry.name));
    if (distance < best) {
      best = distance;
      found = &entry;
      several = false;
    } else if (distance == best && found != nullptr && entry.code != found->code) {
      several = true;
    }
  }
  if (found == nullptr || several) return std::nullopt;
  return found->code;
}

std::span<const CodeName> codeNames() noexcept {
  return kCodeNames;
}

std::span<const Code> codes() noexcept {
  static constexpr auto kAll = [] {
    std::array<Code, kCodeCount> all{};
    for (int i = 0; i < kCodeCount; ++i) all[static_cast<std::size_t>(i)] = codeOfNumber(i);
    return all;
  }();
  return kAll;
}

std::optional<Code> codeFor(std::string_view name) noexcept {
  // A name with a zero byte in it is no name: the tables' names have none.
  if (name.find('\0') != std::string_view::npos) return std::nullopt;
  for (const CodeName& entry : kCodeNames) {
    if (entry.listed && name == entry.name) return entry.code;
  }
  for (const CodeName& entry : kCodeNames) {
    if (sameLoosely(name, entry.name)) return entry.code;
  }
  return std::nullopt;
}

std::string_view name(Code code) noexcept {
  const CodeDescriptor* descriptor = describeCode(numberOf(code));
  return descriptor != nullptr ? descriptor->name : "";
}

std::string_view describe(Code code) noexcept {
  const CodeDescriptor* descriptor = describeCode(numberOf(code));
  return descriptor != nullptr ? descriptor->description : "";
}

bool carries(Code to, char32_t c) noexcept {
  return carries(numberOf(to), c);
}

std::span<const LineEndingName> lineEndingNames() noexcept {
  return kLineEndingNames;
}

std::optional<LineEnding> lineEndingFor(std::string_view name) noexcept {
  for (const LineEndingName& entry : kLineEndingNames) {
    if (name == entry.name) return entry.line_ending;
  }
  return std::nullopt;
}

std::string_view describe(LineEnding eol) noexcept {
  const int number = numberOf(eol);
  return number >= 1 && number < kLineEndingCount ? kLineEndings[number].description : "";
}

std::string_view lineEndingsName(unsigned seen) noexcept {
  switch (seen) {
    case 0:
      return "NONE";
    case kSeenLf:
      return "LF";
    case kSeenCrLf:
      return "CRLF";
    case kSeenCr:
      return "CR";
    default:
      return "MIXED";
  }
}

}  // namespace mek
