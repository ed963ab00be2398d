#include "app/driver.h"

#include <cstdlib>
#include <cstring>
#include <span>
#include <vector>

#include "app/input.h"
#include "app/output.h"
#include "app/signal_guard.h"
#include "convert/conversion_stream.h"
#include "convert/registry.h"
#include "convert/stage.h"
#include "detect/detect.h"
#include "detect/detector.h"

namespace mek {
namespace {

// The three stages over the whole text at once.
bool convertStages(ConversionBuffer& buffer, int inputCode, int outputCode, int lineEnding,
                   bool fallback) {
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
  return convertStages(buffer, inputCode, outputCode, lineEnding, fallback);
}

namespace {

// A positive whole number from the environment, or `fallback`. These settings
// exist for tests and benchmarks: the piece size and whether a worker thread
// may help.
std::size_t setting(const char* name, std::size_t fallback) {
  const char* text = std::getenv(name);
  if (text == nullptr || *text == '\0') return fallback;
  char* end = nullptr;
  const unsigned long long value = std::strtoull(text, &end, 10);
  return *end == '\0' ? static_cast<std::size_t>(value) : fallback;
}

enum class Failure { kNone, kRead, kNoMemory, kConvert };

// The code number of the input by detection. Input that can be positioned is
// read once for detection, piece by piece, and then again from the start;
// anything else is held in memory whole (`held`), so that it can be
// converted after detection has read it.
Failure detectInput(int fd, bool seekable, std::size_t pieceSize, std::vector<std::uint8_t>& held,
                    int& code) {
  if (!seekable) {
    bool noMemory = false;
    if (!readAll(fd, held, noMemory)) return noMemory ? Failure::kNoMemory : Failure::kRead;
    code = detectEncoding(held.data(), held.data() + held.size());
    return Failure::kNone;
  }
  Detector detector;
  Area area;
  if (!area.reserve(pieceSize)) return Failure::kNoMemory;
  while (!detector.settled()) {
    std::size_t got = 0;
    if (!readFill(fd, area.data(), pieceSize, got)) return Failure::kRead;
    if (got == 0) break;
    detector.feed(area.data(), area.data() + got);
  }
  code = detector.finish();
  return rewind(fd) ? Failure::kNone : Failure::kRead;
}

// Streams the input through the conversion into `output`.
Failure convertInput(int fd, int inputCode, int outputCode, int lineEnding, bool fallback,
                     Output& output) {
  ConversionStream::Options options;
  options.piece_size = setting("MEK_PIECE_SIZE", ConversionStream::kDefaultPieceSize);
  if (options.piece_size == 0) options.piece_size = ConversionStream::kDefaultPieceSize;
  options.worker = setting("MEK_WORKERS", 1) != 0;
  options.fallback = fallback;

  // The whole file is converted, wherever its position was left.
  const bool seekable = rewind(fd);
  const bool wasDetected = inputCode == kCodeAuto;
  std::vector<std::uint8_t> held;
  if (wasDetected) {
    const Failure failure = detectInput(fd, seekable, options.piece_size, held, inputCode);
    if (failure != Failure::kNone) return failure;
  }
  // Output errors are kept by `output` and reported after the conversion,
  // whose own failure comes first.
  ConversionStream stream(
      inputCode, outputCode, lineEnding,
      [&output](const std::uint8_t* data, std::size_t size) {
        output.write(data, size);
        return true;
      },
      options);
  bool more = true;
  if (wasDetected && !seekable) {
    more = stream.feed(held.data(), held.size());
  } else {
    while (more) {
      const std::span<std::uint8_t> space = stream.space();
      if (space.empty()) break;
      std::size_t got = 0;
      if (!readFill(fd, space.data(), space.size(), got)) return Failure::kRead;
      if (got == 0) break;
      more = stream.commit(got);
    }
  }
  if (more) stream.finish();
  switch (stream.error()) {
    case StreamError::kNone:
      return Failure::kNone;
    case StreamError::kNoMemory:
    case StreamError::kTooLarge:
      return Failure::kNoMemory;
    default:
      return Failure::kConvert;
  }
}

}  // namespace

bool runConversion(std::FILE* input, int inputCode, const char* outputPath, int outputCode,
                   int lineEnding, bool fallback, const char* label) {
  Output output(outputPath);
  SignalGuard guard(output);
  const Failure failure =
      convertInput(fileno(input), inputCode, outputCode, lineEnding, fallback, output);
  const char* message = nullptr;
  if (failure != Failure::kNone) {
    output.abandon();
    message = failure == Failure::kRead       ? "cannot read input file\n"
              : failure == Failure::kNoMemory ? "cannot allocate enough memory\n"
                                              : "cannot convert bytes\n";
  } else if (!output.commit()) {
    message = output.error() == OutputError::kOpen ? "cannot open output file\n"
                                                   : "cannot write output file\n";
  }
  if (message == nullptr) return true;
  if (label != nullptr) std::fprintf(stderr, "%s: ", label);
  std::fputs(message, stderr);
  return false;
}

}  // namespace mek
