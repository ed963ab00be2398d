#include "app/driver.h"

#include <cstdlib>
#include <cstring>

#include "app/input.h"
#include "convert/registry.h"
#include "convert/stage.h"
#include "detect/detect.h"

namespace mek {
namespace {

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

// Releases what the record still holds; the input's own area goes back the
// way it came.
void release(ConversionBuffer& buffer, const InputBytes& input) {
  if (buffer.out != buffer.in_begin) input.release(buffer.out);
  input.release(buffer.in_begin);
  buffer.out = nullptr;
  buffer.in_begin = nullptr;
}

// The three stages. A mapped input is unmapped as soon as the decoder has
// read it, because the runner releases areas with std::free.
bool convertStages(ConversionBuffer& buffer, int inputCode, int outputCode, int lineEnding,
                   bool fallback, const InputBytes* input) {
  if (inputCode == kCodeAuto) inputCode = detectEncoding(buffer.out, buffer.out + buffer.size);
  const Converter* decoder = findDecoder(inputCode);
  const EndOfLineConverter* lineEnd = findLineEndConverter(lineEnding);
  const Converter* encoder = findEncoder(outputCode, fallback);
  if (decoder == nullptr || lineEnd == nullptr || encoder == nullptr) {
    // A code whose converter is not available cannot be converted.
    std::fputs("cannot convert bytes\n", stderr);
    return false;
  }
  if (!runStage(&buffer, decoder)) return false;
  if (input != nullptr && input->mapped) {
    input->release(buffer.in_begin);
    buffer.in_begin = nullptr;
  }
  // Most text already has the line endings asked for; copying it into a
  // fresh area would change nothing.
  if (lineEnd->leavesUnchanged(buffer.out, buffer.out + buffer.size)) {
    skipStage(&buffer);
  } else if (!runStage(&buffer, lineEnd)) {
    return false;
  }
  return runStage(&buffer, encoder);
}

}  // namespace

bool convertInMemory(ConversionBuffer& buffer, int inputCode, int outputCode, int lineEnding,
                     bool fallback) {
  return convertStages(buffer, inputCode, outputCode, lineEnding, fallback, nullptr);
}

bool runConversion(std::FILE* input, int inputCode, const char* outputPath, int outputCode,
                   int lineEnding, bool fallback) {
  InputBytes bytes;
  const ReadResult read = readInput(input, bytes);
  if (read != ReadResult::kOk) {
    bytes.release(bytes.data);
    std::fputs(read == ReadResult::kTooLarge   ? "cannot get file size\n"
               : read == ReadResult::kNoMemory ? "cannot allocate enough memory\n"
                                               : "cannot read input file\n",
               stderr);
    return false;
  }
  ConversionBuffer buffer;
  buffer.out = bytes.data;
  buffer.size = static_cast<std::int32_t>(bytes.size);
  bool ok = convertStages(buffer, inputCode, outputCode, lineEnding, fallback, &bytes) &&
            writeAll(outputPath, buffer.out, static_cast<std::size_t>(buffer.size));
  release(buffer, bytes);
  return ok;
}

}  // namespace mek
