#include "files/quoting.h"

#include <cstdint>
#include <cstdio>

namespace mek {
namespace {

// The length of the printable character at the start of `rest`: 1 for
// printable ASCII, the length of a valid UTF-8 sequence past the C1
// controls, 0 for anything else.
std::size_t printableAt(std::string_view rest) {
  const auto b = static_cast<std::uint8_t>(rest[0]);
  if (b < 0x80) return b >= 0x20 && b != 0x7F ? 1 : 0;
  const std::size_t length = b >= 0xF0 ? 4 : b >= 0xE0 ? 3 : b >= 0xC2 ? 2 : 0;
  if (length == 0 || b > 0xF4 || rest.size() < length) return 0;
  std::uint32_t c = b & (0x3F >> (length - 1));
  for (std::size_t i = 1; i < length; ++i) {
    const auto next = static_cast<std::uint8_t>(rest[i]);
    if ((next & 0xC0) != 0x80) return 0;
    c = c << 6 | (next & 0x3F);
  }
  const bool shortest = (length == 2 && c >= 0x80) || (length == 3 && c >= 0x800) ||
                        (length == 4 && c >= 0x10000 && c <= 0x10FFFF);
  if (!shortest || (c >= 0xD800 && c <= 0xDFFF) || c < 0xA0) return 0;
  return length;
}

bool printable(std::string_view name) {
  for (std::size_t i = 0; i < name.size();) {
    const std::size_t length = printableAt(name.substr(i));
    if (length == 0) return false;
    i += length;
  }
  return true;
}

}  // namespace

std::string quotedName(std::string_view name) {
  std::string shown;
  if (printable(name)) {
    shown = "'";
    for (const char c : name) shown += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return shown + "'";
  }
  shown = "$'";
  for (std::size_t i = 0; i < name.size();) {
    const std::size_t length = printableAt(name.substr(i));
    if (length != 0) {
      if (name[i] == '\'' || name[i] == '\\') shown += '\\';
      shown.append(name, i, length);
      i += length;
      continue;
    }
    const auto b = static_cast<std::uint8_t>(name[i++]);
    switch (b) {
      case '\n':
        shown += "\\n";
        break;
      case '\r':
        shown += "\\r";
        break;
      case '\t':
        shown += "\\t";
        break;
      case '\a':
        shown += "\\a";
        break;
      case '\b':
        shown += "\\b";
        break;
      case '\f':
        shown += "\\f";
        break;
      case '\v':
        shown += "\\v";
        break;
      case 0x1B:
        shown += "\\e";
        break;
      default: {
        char hex[8];
        std::snprintf(hex, sizeof hex, "\\x%02X", b);
        shown += hex;
      }
    }
  }
  return shown + "'";
}

std::string labelText(std::string_view name) {
  return printable(name) ? std::string(name) : quotedName(name);
}

}  // namespace mek
