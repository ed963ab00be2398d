#include "app/driver.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <span>
#include <vector>

#include "app/input.h"
#include "app/output.h"
#include "app/signal_guard.h"
#include "detect/scored_detection.h"
#include "mek/conversion_stream.h"
#include "mek/detect.h"
#include "mek/detector.h"
#include "mek/registry.h"

namespace mek {
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

enum class Failure { kNone, kRead, kNoMemory, kConvert, kWrite, kUndetected };

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

// The same with every code scored (--detect=score).
Failure scoreInput(int fd, bool seekable, std::size_t pieceSize, std::vector<std::uint8_t>& held,
                   ScoredAnswer& answer) {
  if (!seekable) {
    bool noMemory = false;
    if (!readAll(fd, held, noMemory)) return noMemory ? Failure::kNoMemory : Failure::kRead;
    answer = ScoredDetector::detect(held.data(), held.data() + held.size());
  } else {
    ScoredDetector detector;
    Area area;
    if (!area.reserve(pieceSize)) return Failure::kNoMemory;
    while (!detector.settled()) {
      std::size_t got = 0;
      if (!readFill(fd, area.data(), pieceSize, got)) return Failure::kRead;
      if (got == 0) break;
      detector.feed(area.data(), area.data() + got);
    }
    answer = detector.finish();
    if (!rewind(fd)) return Failure::kRead;
  }
  if (answer.no_memory) return Failure::kNoMemory;
  return answer.code == kCodeAuto ? Failure::kUndetected : Failure::kNone;
}

// With --verbose: how close the scored call was.
void tellScores(const ScoredAnswer& answer, const char* label) {
  if (answer.by_mark) return;
  if (label != nullptr) std::fprintf(stderr, "%s: ", label);
  std::fprintf(stderr, "score %lld.%02lld", static_cast<long long>(answer.score / 100),
               static_cast<long long>(answer.score % 100));
  if (answer.runner_up == kCodeAuto) {
    std::fputs(", no runner-up\n", stderr);
    return;
  }
  std::fprintf(stderr, ", runner-up %s score %lld.%02lld\n", describeCode(answer.runner_up)->name,
               static_cast<long long>(answer.runner_up_score / 100),
               static_cast<long long>(answer.runner_up_score % 100));
}

// What a conversion found besides its result: the input code (after
// detection), where it failed, and the line endings of the decoded text.
struct Findings {
  int inputCode = kCodeAuto;
  ConversionFailure failure;
  unsigned lineEndings = 0;
};

// Streams the input through the conversion into `output` (null: decode only,
// for --guess).
Failure convertInput(int fd, int outputCode, int lineEnding, const RunOptions& run, Output* output,
                     Findings& found) {
  ConversionStream::Options options;
  options.piece_size = setting("MEK_PIECE_SIZE", ConversionStream::kDefaultPieceSize);
  if (options.piece_size == 0) options.piece_size = ConversionStream::kDefaultPieceSize;
  options.worker = setting("MEK_WORKERS", 1) != 0;
  options.fallback = run.fallback;
  options.locate = run.verbose || run.guess;
  options.folds = run.guess ? 0 : run.folds;

  // The whole file is converted, wherever its position was left.
  const bool seekable = rewind(fd);
  const bool wasDetected = found.inputCode == kCodeAuto;
  std::vector<std::uint8_t> held;
  if (wasDetected) {
    ScoredAnswer scored;
    const Failure failure =
        run.score ? scoreInput(fd, seekable, options.piece_size, held, scored)
                  : detectInput(fd, seekable, options.piece_size, held, found.inputCode);
    if (failure != Failure::kNone) return failure;
    if (run.score) found.inputCode = scored.code;
    if (run.verbose) {
      if (run.label != nullptr) std::fprintf(stderr, "%s: ", run.label);
      std::fprintf(stderr, "detected %s\n", describeCode(found.inputCode)->name);
      if (run.score) tellScores(scored, run.label);
    }
  }
  // The first output error stops the conversion, and with it the reading.
  // Decoding only, the text goes through the UTF-16 encoder, which takes
  // every character, and is dropped.
  ConversionStream stream(
      found.inputCode, output != nullptr ? outputCode : kCodeUtf16Be, lineEnding,
      [output](const std::uint8_t* data, std::size_t size) {
        return output == nullptr || output->write(data, size);
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
  found.failure = stream.failure();
  found.lineEndings = stream.lineEndingsSeen();
  switch (stream.error()) {
    case StreamError::kNone:
      return Failure::kNone;
    case StreamError::kNoMemory:
    case StreamError::kTooLarge:
      return Failure::kNoMemory;
    case StreamError::kOutput:
      return Failure::kWrite;
    default:
      return Failure::kConvert;
  }
}

// The message for a failed conversion, without its newline.
std::string failureText(Failure failure, const Findings& found, int outputCode, bool verbose) {
  if (failure == Failure::kRead) return "cannot read input file";
  if (failure == Failure::kNoMemory) return "cannot allocate enough memory";
  if (failure == Failure::kUndetected) return "cannot detect the input code";
  if (!verbose || found.failure.error == StreamError::kNone) return "cannot convert bytes";
  return failureMessage(found.failure, found.inputCode, outputCode);
}

}  // namespace

std::string failureMessage(const ConversionFailure& failure, int inputCode, int outputCode) {
  char text[160];
  std::snprintf(text, sizeof text, "cannot convert bytes at byte %llu (line %llu, column %llu): ",
                static_cast<unsigned long long>(failure.offset),
                static_cast<unsigned long long>(failure.line),
                static_cast<unsigned long long>(failure.column));
  std::string message = text;
  if (failure.error == StreamError::kUnmapped) {
    std::snprintf(text, sizeof text, "U+%04X has no %s code",
                  static_cast<unsigned>(failure.character), describeCode(outputCode)->name);
    return message + text;
  }
  message += "invalid ";
  message += describeCode(inputCode)->name;
  message += " bytes";
  for (std::size_t i = 0; i < failure.byte_count; ++i) {
    std::snprintf(text, sizeof text, " %02X", failure.bytes[i]);
    message += text;
  }
  return message;
}

const char* lineEndingsName(unsigned seen) {
  switch (seen) {
    case 0:
      return "NONE";
    case kSeenLf:
      return "LF";
    case kSeenCrLf:
      return "CRLF";
    case kSeenCr:
      return "CR";
    default:
      return "MIXED";
  }
}

bool runConversion(std::FILE* input, int inputCode, const char* outputPath, int outputCode,
                   int lineEnding, const RunOptions& options) {
  Findings found;
  found.inputCode = inputCode;
  std::string message;
  if (options.guess) {
    // Nothing is written, so there is nothing to guard.
    const Failure failure =
        convertInput(fileno(input), outputCode, lineEnding, options, nullptr, found);
    if (failure == Failure::kNone) {
      if (options.label != nullptr) std::printf("%s: ", options.label);
      std::printf("%s %s\n", describeCode(found.inputCode)->name,
                  lineEndingsName(found.lineEndings));
      if (std::fflush(stdout) == 0) return true;
      message = std::string("cannot write output file: ") + std::strerror(errno);
    } else {
      message = failureText(failure, found, outputCode, options.verbose);
    }
  } else {
    Output output(outputPath, options.guard);
    // A target that cannot be written is told before the input is read.
    const Failure failure =
        output.error() != OutputError::kNone
            ? Failure::kWrite
            : convertInput(fileno(input), outputCode, lineEnding, options, &output, found);
    if (failure == Failure::kWrite || (failure == Failure::kNone && !output.commit())) {
      output.abandon();
      message = output.message();
    } else if (failure != Failure::kNone) {
      output.abandon();
      message = failureText(failure, found, outputCode, options.verbose);
    }
    if (options.guard != nullptr) {
      options.guard->finished(options.label, message.empty(), options.last);
    }
  }
  if (message.empty()) return true;
  if (options.label != nullptr) std::fprintf(stderr, "%s: ", options.label);
  std::fprintf(stderr, "%s\n", message.c_str());
  return false;
}

}  // namespace mek
