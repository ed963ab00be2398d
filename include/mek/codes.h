#pragma once

#include <cstddef>

#include "mek/converter.h"
#include "mek/end_of_line.h"

namespace mek {

// Code numbers. 0 to 12 are the numbers every caller of the library knows;
// later codes come after them. They convert to int wherever a code number is
// taken as one.
enum CodeNumber : int {
  kCodeAuto = 0,  // detect; input only, never a converter
  kCodeSjis = 1,
  kCodeEucJp = 2,
  kCodeJis = 3,
  kCodeUtf8 = 4,
  kCodeUtf16Be = 5,
  kCodeUtf16Le = 6,
  kCodeUtf16BeBom = 7,
  kCodeUtf16LeBom = 8,
  kCodeUtf32Be = 9,
  kCodeUtf32Le = 10,
  kCodeUtf32BeBom = 11,
  kCodeUtf32LeBom = 12,
  kCodeCp932 = 13,
  kCodeUtf8Bom = 14,
  kCodeIso2022jp = 15,
};
inline constexpr int kCodeCount = 16;  // code numbers are 0 .. kCodeCount - 1

// Line-ending codes.
enum LineEndingCode : int {
  kLineEndingLf = 1,
  kLineEndingCrLf = 2,
  kLineEndingCr = 3,
  kLineEndingKeep = 4,  // every line ending stays as it stands
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

// One name a code is known by. The `listed` names are the classic table:
// matched exactly and first, in this order, and shown in the usage grid; the
// others are only found by the forgiving match (case, '-' and '_' ignored).
struct CodeName {
  CodeNumber code;
  const char* name;
  bool listed;
};
extern const CodeName kCodeNames[];
extern const std::size_t kCodeNameCount;

struct LineEndingDescriptor {
  LineEndingCode code;
  const char* description;
  const EndOfLineConverter* converter;
};
// Indexed by line-ending code; slot 0 is empty.
extern const LineEndingDescriptor kLineEndings[kLineEndingCount];

// Line-ending names, matched exactly; the `listed` ones in the order the
// usage grid shows them.
struct LineEndingName {
  LineEndingCode code;
  const char* name;
  bool listed = true;
};
extern const LineEndingName kLineEndingNames[];
extern const std::size_t kLineEndingNameCount;

// The descriptor of a code number, or null outside 0 .. kCodeCount - 1.
const CodeDescriptor* describeCode(int code);

}  // namespace mek
