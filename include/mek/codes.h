// The converter interface, beneath <mek/mek.h>: kept as it stands for the
// callers that drive converters and manage their own memory.
#pragma once

#include <cstddef>

#include "mek/converter.h"
#include "mek/end_of_line.h"
#include "mek/types.h"

namespace mek {

// Code numbers: the numbers of the converter interface, which names codes
// as integers. They are the values of Code (mek/types.h): 0 to 12 are the
// numbers every caller of the library knows; later codes come after them.
// They convert to int wherever a code number is taken as one.
enum CodeNumber : int {
  kCodeAuto = static_cast<int>(Code::autodetect),  // detect; input only, never a converter
  kCodeSjis = static_cast<int>(Code::sjis),
  kCodeEucJp = static_cast<int>(Code::euc_jp),
  kCodeJis = static_cast<int>(Code::jis),
  kCodeUtf8 = static_cast<int>(Code::utf8),
  kCodeUtf16Be = static_cast<int>(Code::utf16_be),
  kCodeUtf16Le = static_cast<int>(Code::utf16_le),
  kCodeUtf16BeBom = static_cast<int>(Code::utf16_be_bom),
  kCodeUtf16LeBom = static_cast<int>(Code::utf16_le_bom),
  kCodeUtf32Be = static_cast<int>(Code::utf32_be),
  kCodeUtf32Le = static_cast<int>(Code::utf32_le),
  kCodeUtf32BeBom = static_cast<int>(Code::utf32_be_bom),
  kCodeUtf32LeBom = static_cast<int>(Code::utf32_le_bom),
  kCodeCp932 = static_cast<int>(Code::cp932),
  kCodeUtf8Bom = static_cast<int>(Code::utf8_bom),
  kCodeIso2022jp = static_cast<int>(Code::iso2022jp),
  kCodeSjis2004 = static_cast<int>(Code::sjis2004),
  kCodeEucjis2004 = static_cast<int>(Code::eucjis2004),
  kCodeIso2022jp2004 = static_cast<int>(Code::iso2022jp2004),
  kCodeEucjpms = static_cast<int>(Code::eucjpms),
  kCodeCp51932 = static_cast<int>(Code::cp51932),
};
inline constexpr int kCodeCount = 21;  // code numbers are 0 .. kCodeCount - 1

// Line-ending codes: the values of LineEnding, as the interface numbers them.
enum LineEndingCode : int {
  kLineEndingLf = static_cast<int>(LineEnding::lf),
  kLineEndingCrLf = static_cast<int>(LineEnding::crlf),
  kLineEndingCr = static_cast<int>(LineEnding::cr),
  kLineEndingKeep = static_cast<int>(LineEnding::keep),  // every line ending stays as it stands
};
inline constexpr int kLineEndingCount = 5;  // codes are 1 .. kLineEndingCount - 1

// What one code is: its full name, a line of description, and its converters.
// Twins and the other ways round an unconvertible character are a matter of
// the error policy (ErrorPolicy), not of the converter.
struct CodeDescriptor {
  CodeNumber code;
  const char* name;
  const char* description;
  const Converter* decoder;
  const Converter* encoder;
};

// Indexed by code number; slot 0 (auto) has no converters.
extern const CodeDescriptor kCodes[kCodeCount];

struct LineEndingDescriptor {
  LineEndingCode code;
  const char* description;
  const EndOfLineConverter* converter;
};
// Indexed by line-ending code; slot 0 is empty.
extern const LineEndingDescriptor kLineEndings[kLineEndingCount];

// The descriptor of a code number, or null outside 0 .. kCodeCount - 1.
const CodeDescriptor* describeCode(int code);

}  // namespace mek
