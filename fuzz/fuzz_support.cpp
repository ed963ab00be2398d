#include "fuzz/fuzz_support.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "mek/detail/in_memory.h"
#include "mek/registry.h"

namespace mek::fuzz {

void fail(const char* file, int line, const char* condition) {
  // Straight to descriptor 2: a target may have redirected the stderr stream.
  dprintf(2, "%s:%d: check failed: %s\n", file, line, condition);
  std::abort();
}

const Converter* stageConverter(int stage, int code) {
  switch (stage) {
    case 0:
      return findDecoder(code);
    case 1:
      return findEncoder(code);
    case 3:
      return findEncoder(code);
    default:
      return findLineEndConverter(code);
  }
}

ErrorPolicy stagePolicy(int stage, int code, std::uint8_t byte) {
  const bool fallback = stage == 3 || (byte & 4) != 0;
  return errorPolicyFor(static_cast<Errors>(byte & 3), fallback, 0,
                        stage == 1 || stage == 3 ? code : kCodeUtf8);
}

namespace {

bool stopInRange(const ConversionBuffer& buffer, const std::uint8_t* begin,
                 const std::uint8_t* end) {
  return buffer.stop >= begin && buffer.stop <= end;
}

}  // namespace

StageResult runChecked(const Converter& converter, const std::uint8_t* data, std::size_t size,
                       const ErrorPolicy* policy) {
  const std::uint8_t* end = data + size;
  ConversionBuffer first;
  first.in_begin = data;
  first.in_end = end;
  first.policy = policy;
  first.size = 0;
  const bool measured = converter.measure(first);

  ConversionBuffer second;
  second.in_begin = data;
  second.in_end = end;
  second.size = INT32_MAX;  // measure must not depend on what `size` held
  second.policy = policy;
  MEK_FUZZ_CHECK(converter.measure(second) == measured);

  StageResult result;
  if (!measured) {
    // Nothing a converter writes can be larger than a few bytes per input
    // byte plus a mark; the area is ample for any partial output.
    const std::size_t room = 4 * size + 16;
    auto* area = static_cast<std::uint8_t*>(std::malloc(room));
    ConversionBuffer buffer;
    buffer.out = area;
    buffer.in_begin = data;
    buffer.in_end = end;
    buffer.policy = policy;
    MEK_FUZZ_CHECK(!converter.convert(buffer));
    std::free(area);
    return result;
  }
  MEK_FUZZ_CHECK(first.size == second.size);
  MEK_FUZZ_CHECK(first.stop == second.stop);
  MEK_FUZZ_CHECK(first.size >= 0);
  MEK_FUZZ_CHECK(stopInRange(first, data, end));

  // Exactly the measured size: the sanitizer flags any byte written past it.
  const std::size_t bytes = static_cast<std::size_t>(first.size);
  auto* area = static_cast<std::uint8_t*>(std::malloc(bytes));
  ConversionBuffer buffer;
  buffer.out = area;
  buffer.in_begin = data;
  buffer.in_end = end;
  buffer.stop = nullptr;
  buffer.size = -1;
  buffer.policy = policy;
  MEK_FUZZ_CHECK(converter.convert(buffer));
  MEK_FUZZ_CHECK(buffer.size == first.size);
  MEK_FUZZ_CHECK(buffer.stop == first.stop);
  // Both passes change the same sequences.
  MEK_FUZZ_CHECK(buffer.changes == first.changes);
  MEK_FUZZ_CHECK(buffer.first_change == first.first_change);
  if (policy == nullptr || policy->action == Errors::strict) {
    MEK_FUZZ_CHECK(buffer.changes == 0);
  }
  result.ok = true;
  result.stop = static_cast<std::size_t>(buffer.stop - data);
  result.output.assign(area, area + bytes);
  std::free(area);
  return result;
}

std::vector<Bytes> internalCharacters(const std::uint8_t* data, std::size_t size) {
  std::vector<Bytes> characters;
  std::size_t i = 0;
  while (i < size) {
    const std::uint8_t b = data[i++];
    if (b < 0x80) {
      characters.push_back({0x00, b});
      continue;
    }
    if (size - i < 2) break;
    const std::uint8_t high = data[i];
    const std::uint8_t low = data[i + 1];
    i += 2;
    if (high >= 0xDC && high <= 0xDF) continue;  // a lone low surrogate
    if (high >= 0xD8 && high <= 0xDB) {
      if (size - i < 2) break;
      // Any two bytes make a low half: keep their low ten bits.
      const std::uint8_t high2 = static_cast<std::uint8_t>(0xDC | (data[i] & 0x03));
      const std::uint8_t low2 = data[i + 1];
      i += 2;
      characters.push_back({high, low, high2, low2});
      continue;
    }
    characters.push_back({high, low});
  }
  return characters;
}

std::FILE* captureMessages(char* buffer, std::size_t size) {
  std::FILE* stream = fmemopen(buffer, size, "w");
  if (stream == nullptr) std::abort();
  stderr = stream;
  return stream;
}

WholeResult convertWhole(const std::uint8_t* data, std::size_t size, int inputCode, int outputCode,
                         int lineEnding, bool fallback, Errors errors, Fold folds) {
  ConversionBuffer buffer;
  buffer.out = static_cast<std::uint8_t*>(std::malloc(size == 0 ? 1 : size));
  if (size != 0) std::memcpy(buffer.out, data, size);
  buffer.size = static_cast<std::int32_t>(size);
  WholeResult result;
  const ErrorPolicy policy = errorPolicyFor(errors, fallback, 0, outputCode);
  result.ok = convertInMemory(buffer, inputCode, outputCode, lineEnding, policy, folds);
  if (!result.ok) result.failure = buffer.size;
  if (result.ok) {
    result.changes = buffer.changes;
    MEK_FUZZ_CHECK(buffer.size >= 0 && buffer.out != nullptr);
    result.output.assign(buffer.out, buffer.out + buffer.size);
  }
  if (buffer.out != buffer.in_begin) std::free(buffer.out);
  std::free(const_cast<std::uint8_t*>(buffer.in_begin));
  return result;
}

}  // namespace mek::fuzz
