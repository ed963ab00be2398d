#pragma once

// Runs one converter over a byte string the way the stage runner does and
// checks that `measure` and `convert` agree. Shared by the codec tests.

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <vector>

#include "convert/converter.h"
#include "tests/test_support.h"

namespace mek::test {

using Bytes = std::vector<std::uint8_t>;

// The outcome of one conversion: whether it succeeded, the bytes written and
// the offset of `stop` from the start of the input.
struct Outcome {
  bool ok = false;
  Bytes out;
  std::ptrdiff_t stop = -1;
};

inline Outcome runConverter(const Converter& converter, const Bytes& in) {
  Outcome result;
  ConversionBuffer buffer;
  buffer.in_begin = in.data();
  buffer.in_end = in.data() + in.size();
  result.ok = converter.measure(buffer);
  const std::int32_t measured = buffer.size;
  const std::uint8_t* const stop = buffer.stop;

  // A second measure gives the same answer.
  ConversionBuffer again = buffer;
  EXPECT_EQ(converter.measure(again), result.ok);

  // `convert` gets exactly the measured size (or room for any output after a
  // failed measure), followed by guard bytes that must stay untouched.
  constexpr std::size_t kGuard = 16;
  const std::size_t room = result.ok ? static_cast<std::size_t>(measured) : 2 * in.size() + 8;
  Bytes area(room + kGuard, 0xAA);
  buffer.out = area.data();
  const bool converted = converter.convert(buffer);
  EXPECT_EQ(converted, result.ok);
  for (std::size_t i = room; i < area.size(); ++i) EXPECT_EQ(area[i], 0xAA) << "overrun at " << i;
  if (!result.ok || !converted) return result;

  EXPECT_EQ(again.size, measured);
  EXPECT_EQ(again.stop, stop);
  EXPECT_EQ(buffer.size, measured);
  EXPECT_EQ(buffer.stop, stop);
  result.out.assign(area.begin(), area.begin() + buffer.size);
  result.stop = stop - in.data();
  return result;
}

// One row of a codec table. `stop` is the expected offset of `stop`; -1
// means the end of the input. Only `ok` matters for a failing row.
struct CodecCase {
  const char* name;
  const Converter* converter;
  Bytes in;
  bool ok;
  Bytes out;
  std::ptrdiff_t stop = -1;
};

inline void checkCases(const std::vector<CodecCase>& cases) {
  for (const CodecCase& c : cases) {
    SCOPED_TRACE(c.name);
    const Outcome got = runConverter(*c.converter, c.in);
    ASSERT_EQ(got.ok, c.ok);
    if (!c.ok) continue;
    EXPECT_EQ(got.out, c.out);
    EXPECT_EQ(got.stop, c.stop < 0 ? static_cast<std::ptrdiff_t>(c.in.size()) : c.stop);
  }
}

// One row written as hex strings: input, whether it is accepted, the output
// and the offset of `stop` (kWholeInput: the end of the input).
inline constexpr std::size_t kWholeInput = SIZE_MAX;
struct HexCase {
  const char* input;
  bool ok;
  const char* output;
  std::size_t stop;
};

inline void PrintTo(const HexCase& c, std::ostream* os) {
  *os << '"' << c.input << '"';
}

inline void expectHexCase(const Converter& converter, const HexCase& c) {
  const Bytes input = hex(c.input);
  const Outcome got = runConverter(converter, input);
  ASSERT_EQ(got.ok, c.ok) << c.input;
  if (!c.ok) return;
  EXPECT_EQ(toHex(got.out), toHex(hex(c.output))) << c.input;
  EXPECT_EQ(static_cast<std::size_t>(got.stop), c.stop == kWholeInput ? input.size() : c.stop)
      << c.input;
}

}  // namespace mek::test
