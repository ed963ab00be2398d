#pragma once

// Table-driven cases for one converter: input bytes, whether it is accepted,
// the output and where the scan stopped.

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <ostream>
#include <utility>

#include "tests/test_support.h"

namespace mek::test {

struct CodecCase {
  const char* input;  // hex
  bool ok;
  const char* output;  // hex
  std::size_t stop;    // offset of `stop`; SIZE_MAX: the whole input
};

inline void PrintTo(const CodecCase& c, std::ostream* os) {
  *os << '"' << c.input << '"';
}

inline void expectCodecCase(const Converter& converter, const CodecCase& c) {
  const Bytes input = hex(c.input);
  ConverterRun run = runConverter(converter, input);
  ASSERT_EQ(run.measured, c.ok) << c.input;
  if (!c.ok) {
    // convert applies the same checks as measure. No output is larger than
    // twice the input.
    Bytes area(2 * input.size() + 1);
    ConversionBuffer buffer;
    buffer.out = area.data();
    buffer.in_begin = input.data();
    buffer.in_end = input.data() + input.size();
    EXPECT_FALSE(converter.convert(buffer)) << c.input;
    return;
  }
  ASSERT_TRUE(run.converted) << c.input;
  EXPECT_EQ(toHex(run.output), toHex(hex(c.output))) << c.input;
  EXPECT_EQ(run.stop, c.stop == SIZE_MAX ? input.size() : c.stop) << c.input;
}

// Runs one converter over the whole of `input`; `ok` is false when it fails
// or leaves bytes unconsumed.
struct Converted {
  bool ok = false;
  Bytes bytes;
};

inline Converted convertAll(const Converter& converter, const Bytes& input) {
  ConverterRun run = runConverter(converter, input);
  Converted result;
  result.ok = run.measured && run.converted && run.stop == input.size();
  result.bytes = std::move(run.output);
  return result;
}

}  // namespace mek::test
