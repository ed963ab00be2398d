#include "app/driver.h"

#include <cstdlib>
#include <cstring>

#include "app/input.h"
#include "app/output.h"
#include "app/signal_guard.h"
#include "convert/registry.h"
#include "convert/stage.h"
#include "detect/detect.h"

namespace mek {
namespace {

// Writes the result through `output` and makes it the output; a failure
// leaves the old output as it was.
bool writeAll(Output& output, const std::uint8_t* data, std::size_t size) {
  output.write(data, size);
  if (output.commit()) return true;
  std::fputs(output.error() == OutputError::kOpen ? "cannot open output file\n"
                                                  : "cannot write output file\n",
             stderr);
  return false;
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
                   const InputBytes* input) {
  if (inputCode == 0) inputCode = detectEncoding(buffer.out, buffer.out + buffer.size);
  const Converter* decoder = findDecoder(inputCode);
  const EndOfLineConverter* lineEnd = findLineEndConverter(lineEnding);
  const Converter* encoder = findEncoder(outputCode);
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

bool convertInMemory(ConversionBuffer& buffer, int inputCode, int outputCode, int lineEnding) {
  return convertStages(buffer, inputCode, outputCode, lineEnding, nullptr);
}

bool runConversion(std::FILE* input, int inputCode, const char* outputPath, int outputCode,
                   int lineEnding) {
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
  Output output(outputPath);
  SignalGuard guard(output);
  ConversionBuffer buffer;
  buffer.out = bytes.data;
  buffer.size = static_cast<std::int32_t>(bytes.size);
  bool ok = convertStages(buffer, inputCode, outputCode, lineEnding, &bytes) &&
            writeAll(output, buffer.out, static_cast<std::size_t>(buffer.size));
  release(buffer, bytes);
  return ok;
}

}  // namespace mek
