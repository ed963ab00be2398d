#include "app/driver.h"

#include <cstdlib>
#include <cstring>

#include "convert/area.h"
#include "convert/registry.h"
#include "convert/stage.h"
#include "detect/detect.h"

namespace mek {
namespace {

constexpr std::size_t kMaxInput = 0x7FFFFFFF;  // sizes are signed 32-bit counts

enum class ReadResult { kOk, kTooLarge, kNoMemory, kReadError };

// Reads the whole stream into one std::malloc'd area. A positionable input is
// read with one read into an area of its size (plus one byte, which catches a
// file that grew); anything else, such as a pipe, is read to its end.
ReadResult readAll(std::FILE* input, std::uint8_t*& data, std::size_t& size) {
  std::size_t capacity = 1 << 16;
  if (std::fseek(input, 0, SEEK_END) == 0) {
    long end = std::ftell(input);
    std::fseek(input, 0, SEEK_SET);
    if (end >= 0) {
      if (static_cast<unsigned long>(end) > kMaxInput) {
        // A directory reports a huge size but cannot be read at all.
        return std::fgetc(input) == EOF && std::ferror(input) ? ReadResult::kReadError
                                                               : ReadResult::kTooLarge;
      }
      capacity = static_cast<std::size_t>(end) + 1;
    }
  }
  data = allocateArea(capacity);
  if (data == nullptr) return ReadResult::kNoMemory;
  size = 0;
  for (;;) {
    size += std::fread(data + size, 1, capacity - size, input);
    if (size < capacity) break;  // end of input or error
    if (capacity > kMaxInput) return ReadResult::kTooLarge;
    std::size_t grown = capacity * 2;
    auto* bigger = static_cast<std::uint8_t*>(std::realloc(data, grown));
    if (bigger == nullptr) return ReadResult::kNoMemory;
    data = bigger;
    capacity = grown;
  }
  if (std::ferror(input)) return ReadResult::kReadError;
  if (size > kMaxInput) return ReadResult::kTooLarge;
  return ReadResult::kOk;
}

// Writes the result in one write; a failed write, flush or close is reported.
bool writeAll(const char* outputPath, const std::uint8_t* data, std::size_t size) {
  std::FILE* output = stdout;
  if (outputPath != nullptr) {
    output = std::fopen(outputPath, "wb");
    if (output == nullptr) {
      std::fputs("cannot open output file\n", stderr);
      return false;
    }
  }
  bool ok = std::fwrite(data, 1, size, output) == size;
  if (output == stdout) {
    ok = std::fflush(output) == 0 && ok;
  } else {
    ok = std::fclose(output) == 0 && ok;
  }
  if (!ok) std::fputs("cannot write output file\n", stderr);
  return ok;
}

void release(ConversionBuffer& buffer) {
  if (buffer.out != buffer.in_begin) std::free(buffer.out);
  std::free(const_cast<std::uint8_t*>(buffer.in_begin));
  buffer.out = nullptr;
  buffer.in_begin = nullptr;
}

}  // namespace

bool convertInMemory(ConversionBuffer& buffer, int inputCode, int outputCode, int lineEnding) {
  if (inputCode == 0) inputCode = detectEncoding(buffer.out, buffer.out + buffer.size);
  const Converter* stages[] = {findDecoder(inputCode), findLineEndConverter(lineEnding),
                               findEncoder(outputCode)};
  for (const Converter* stage : stages) {
    if (stage == nullptr) {
      // A code whose converter is not available cannot be converted.
      std::fputs("cannot convert bytes\n", stderr);
      return false;
    }
  }
  for (const Converter* stage : stages) {
    if (!runStage(&buffer, stage)) return false;
  }
  return true;
}

bool runConversion(std::FILE* input, int inputCode, const char* outputPath, int outputCode,
                   int lineEnding) {
  std::uint8_t* data = nullptr;
  std::size_t size = 0;
  switch (readAll(input, data, size)) {
    case ReadResult::kOk:
      break;
    case ReadResult::kTooLarge:
      std::free(data);
      std::fputs("cannot get file size\n", stderr);
      return false;
    case ReadResult::kNoMemory:
      std::free(data);
      std::fputs("cannot allocate enough memory\n", stderr);
      return false;
    case ReadResult::kReadError:
      std::free(data);
      std::fputs("cannot read input file\n", stderr);
      return false;
  }
  ConversionBuffer buffer;
  buffer.out = data;
  buffer.size = static_cast<std::int32_t>(size);
  bool ok = convertInMemory(buffer, inputCode, outputCode, lineEnding) &&
            writeAll(outputPath, buffer.out, static_cast<std::size_t>(buffer.size));
  release(buffer);
  return ok;
}

}  // namespace mek
