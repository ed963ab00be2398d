#pragma once

// Helpers shared by the fuzz targets: a check that aborts with a message (so
// that libFuzzer records the input), running one converter over bytes with
// the measure/convert contract checked, and internal-form text built from
// arbitrary bytes.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <vector>

#include "mek/converter.h"

namespace mek::fuzz {

using Bytes = std::vector<std::uint8_t>;

[[noreturn]] void fail(const char* file, int line, const char* condition);

#define MEK_FUZZ_CHECK(condition) \
  ((condition) ? static_cast<void>(0) : ::mek::fuzz::fail(__FILE__, __LINE__, #condition))

// Stage 0 decoder, 1 encoder, 2 line-ending converter, 3 encoder (run with
// fallback, see stagePolicy), by code number; null when the registry has no
// converter there.
const Converter* stageConverter(int stage, int code);

// The error policy a converter target runs under, from one input byte: its
// action from the low two bits, fallback from the next one (always in stage
// 3), for output code `code`.
ErrorPolicy stagePolicy(int stage, int code, std::uint8_t byte);

struct StageResult {
  bool ok = false;
  std::size_t stop = 0;  // offset of `stop` from the input's start
  Bytes output;
};

// Measures twice (same answer, same `size` and `stop`, `out` never touched),
// then converts into an area of exactly the measured size and checks that
// convert succeeds, writes exactly that size and stops at the same place.
// After a failed measure, checks that convert into a generous area fails too.
StageResult runChecked(const Converter& converter, const std::uint8_t* data, std::size_t size,
                       const ErrorPolicy* policy = nullptr);

// Internal-form text (UTF-16 big-endian, whole characters, surrogates only as
// proper pairs) made from arbitrary bytes: a byte below 0x80 is that ASCII
// character, any other byte takes the next two as a code unit, and a high
// surrogate unit takes two more for its low half. Lone low surrogates are
// skipped. One entry of 2 or 4 bytes per character.
std::vector<Bytes> internalCharacters(const std::uint8_t* data, std::size_t size);

// Points `stderr` at a memory stream over `buffer`, so that the driver's
// messages land there while libFuzzer and the sanitizers keep writing to
// descriptor 2 (the C library lets a program assign the stream; glibc
// documents it). Answers the stream; aborts when it cannot be made.
std::FILE* captureMessages(char* buffer, std::size_t size);

// The whole conversion in memory (convertInMemory) of [data, data + size),
// with every area it held released: whether it succeeded, and its output.
struct WholeResult {
  bool ok = false;
  Bytes output;
  std::int32_t changes = 0;
  std::int32_t failure = 0;  // after a failure, its kind (see convertInMemory)
};
WholeResult convertWhole(const std::uint8_t* data, std::size_t size, int inputCode, int outputCode,
                         int lineEnding, bool fallback = false, Errors errors = Errors::strict,
                         Fold folds = Fold::none);

}  // namespace mek::fuzz
