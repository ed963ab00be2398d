#pragma once

// Runs one converter over a byte string the way the stage runner does and
// checks that `measure` and `convert` agree. Shared by the codec tests.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <vector>

#include "mek/converter.h"
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

inline Outcome runConverter(const Converter& converter, const Bytes& in,
                            const ErrorPolicy* policy = nullptr) {
  Outcome result;
  ConversionBuffer buffer;
  buffer.in_begin = in.data();
  buffer.in_end = in.data() + in.size();
  buffer.policy = policy;
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

// One character 'a' in the converter's input form, found by trying the
// forms of every code: the shortest input that it converts whole. Empty for a
// converter that writes something for empty input (a byte-order mark), whose
// output does not simply grow by what a prefix gives.
inline Bytes paddingUnit(const Converter& converter) {
  if (!runConverter(converter, {}).out.empty()) return {};
  for (const Bytes& unit : {Bytes{0x61}, Bytes{0x00, 0x61}, Bytes{0x61, 0x00},
                            Bytes{0x00, 0x00, 0x00, 0x61}, Bytes{0x61, 0x00, 0x00, 0x00}}) {
    const Outcome got = runConverter(converter, unit);
    if (got.ok && got.stop == static_cast<std::ptrdiff_t>(unit.size()) && !got.out.empty()) {
      return unit;
    }
  }
  return {};
}

// An input whose start means something of its own (a byte-order mark) does
// not take a prefix.
inline bool startMatters(const Bytes& in) {
  const auto startsWith = [&](std::initializer_list<std::uint8_t> mark) {
    return in.size() >= mark.size() && std::equal(mark.begin(), mark.end(), in.begin());
  };
  return startsWith({0xEF, 0xBB, 0xBF}) || startsWith({0xFE, 0xFF}) || startsWith({0xFF, 0xFE}) ||
         startsWith({0x00, 0x00, 0xFE, 0xFF});
}

// Checks one case as it stands and behind 0 to 160 characters of ASCII, so
// that every case also runs through the converters' fast loops and their
// tails: the result is what the padding gives followed by what the case
// gives, and `stop` moves by the padding.
inline void expectCase(const Converter& converter, const Bytes& in, bool ok, const Bytes& out,
                       std::size_t stop) {
  const Bytes unit = paddingUnit(converter);
  const std::size_t most = unit.empty() || startMatters(in) ? 0 : 160;
  Bytes padding;
  for (std::size_t n = 0; n <= most; ++n) {
    const Bytes padOut = n == 0 ? Bytes{} : runConverter(converter, padding).out;
    Bytes input = padding;
    input.insert(input.end(), in.begin(), in.end());
    const Outcome got = runConverter(converter, input);
    ASSERT_EQ(got.ok, ok) << "behind " << n << " characters of padding";
    if (ok) {
      Bytes expected = padOut;
      expected.insert(expected.end(), out.begin(), out.end());
      ASSERT_EQ(toHex(got.out), toHex(expected)) << "behind " << n << " characters of padding";
      ASSERT_EQ(static_cast<std::size_t>(got.stop), padding.size() + stop)
          << "behind " << n << " characters of padding";
    }
    padding.insert(padding.end(), unit.begin(), unit.end());
  }
}

inline void checkCases(const std::vector<CodecCase>& cases) {
  for (const CodecCase& c : cases) {
    SCOPED_TRACE(c.name);
    expectCase(*c.converter, c.in, c.ok, c.out,
               c.stop < 0 ? c.in.size() : static_cast<std::size_t>(c.stop));
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
  SCOPED_TRACE(c.input);
  const Bytes input = hex(c.input);
  expectCase(converter, input, c.ok, hex(c.output), c.stop == kWholeInput ? input.size() : c.stop);
}

// Runs one converter over the whole of `input`; `ok` is false when it fails
// or leaves bytes unconsumed.
struct Converted {
  bool ok = false;
  Bytes bytes;
};

inline Converted convertAll(const Converter& converter, const Bytes& input,
                            const ErrorPolicy* policy = nullptr) {
  Outcome run = runConverter(converter, input, policy);
  Converted result;
  result.ok = run.ok && run.stop == static_cast<std::ptrdiff_t>(input.size());
  result.bytes = std::move(run.out);
  return result;
}

}  // namespace mek::test
