#include "app/driver.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <new>
#include <span>
#include <vector>

#include "app/input.h"
#include "app/repair_report.h"
#include "app/signal_guard.h"
#include "app/word_notice.h"
#include "files/output.h"
#include "files/quoting.h"
#include "files/temporary_file.h"
#include "mek/mek.h"

namespace mek {
namespace {

// A positive whole number from the environment, or `fallback`. These settings
// exist for tests and benchmarks: the piece size, whether a worker thread
// may help and whether a fused path may take the place of the three stages.
std::size_t setting(const char* name, std::size_t fallback) {
  const char* text = std::getenv(name);
  if (text == nullptr || *text == '\0') return fallback;
  char* end = nullptr;
  const unsigned long long value = std::strtoull(text, &end, 10);
  return *end == '\0' ? static_cast<std::size_t>(value) : fallback;
}

// The full name of a code, for messages.
const char* codeName(Code code) {
  return name(code).data();
}

// The name of a transfer encoding, for messages.
const char* transferName(Transfer transfer) {
  return transfer == Transfer::base64 ? "base64" : "quoted-printable";
}

enum class Failure { kNone, kRead, kNoMemory, kConvert, kWrite, kUndetected, kSpool };

// Reads the input piece by piece into `detector` until it is settled, then
// gives the input again from its start for the conversion (from a pipe, what
// was read is kept in a temporary file meanwhile).
Failure detectInput(InputReader& input, std::size_t pieceSize, StreamDetector& detector) {
  if (input.keep() != InputReader::Status::kOk) return Failure::kSpool;
  while (!detector.settled()) {
    const std::span<std::byte> room = detector.space(pieceSize);
    if (room.empty()) return Failure::kNoMemory;
    std::size_t got = 0;
    const InputReader::Status status =
        input.fill(reinterpret_cast<std::uint8_t*>(room.data()), room.size(), got);
    if (status != InputReader::Status::kOk) {
      return status == InputReader::Status::kRead ? Failure::kRead : Failure::kSpool;
    }
    if (got == 0) break;
    detector.commit(got);
  }
  switch (input.replay()) {
    case InputReader::Status::kOk:
      return Failure::kNone;
    case InputReader::Status::kRead:
      return Failure::kRead;
    default:
      return Failure::kSpool;
  }
}

}  // namespace

void endByBrokenPipe() {
  // Nothing is held then: a pipe gets the text as it comes.
  signal(SIGPIPE, SIG_DFL);
  raise(SIGPIPE);
  _exit(128 + SIGPIPE);
}

std::string scoreText(std::int64_t hundredths) {
  const std::uint64_t magnitude = hundredths < 0 ? 0 - static_cast<std::uint64_t>(hundredths)
                                                 : static_cast<std::uint64_t>(hundredths);
  char text[32];
  std::snprintf(text, sizeof text, "%s%llu.%02llu", hundredths < 0 ? "-" : "",
                static_cast<unsigned long long>(magnitude / 100),
                static_cast<unsigned long long>(magnitude % 100));
  return text;
}

namespace {

// With --verbose: how close the scored call was.
void tellScores(const DetectionScores& scores, const char* label) {
  if (scores.by_mark) return;
  if (label != nullptr) std::fprintf(stderr, "%s: ", labelText(label).c_str());
  std::fprintf(stderr, "score %s", scoreText(scores.score).c_str());
  if (scores.runner_up == Code::autodetect) {
    std::fputs(", no runner-up\n", stderr);
    return;
  }
  std::fprintf(stderr, ", runner-up %s score %s\n", name(scores.runner_up).data(),
               scoreText(scores.runner_up_score).c_str());
}

// What a conversion found besides its result: the input code (after
// detection), where it failed, and the line endings of the decoded text.
struct Findings {
  Code inputCode = Code::autodetect;
  // When no code could be detected: the code that reads the input all but a
  // few places, and the first of them.
  Undetected undetected;
  DetectionScores scores;  // of a guess from a pipe
  // A descriptor of all that was read from a pipe, to place a failure, or -1.
  int history = -1;
  int readError = 0;  // errno of a failed read
  Error failure;
  unsigned lineEndings = 0;
  std::vector<Error> changes;  // the first of them, placed
  std::uint64_t changeCount = 0;
  std::vector<Repair> repairs;  // with --repair
  // When set, takes the changes as they are placed, piece by piece, instead
  // of `changes` (--check tells every problem in bounded memory).
  std::function<void(const std::vector<Error>&)> tell;
  // With --mime-decode: the encoded words that stayed as they stand.
  WordNotice words;
};

// With --verbose, the most changes told one by one.
constexpr std::size_t kChangesListed = 1000;

// Reads the rest of `input` into the nearest reading, to tell why detection
// found no code.
// Reads the rest of `input` piece by piece into `take`.
template <class Take>
Failure readPieces(InputReader& input, std::size_t pieceSize, Take take) {
  std::vector<std::uint8_t> piece(pieceSize);
  for (;;) {
    std::size_t got = 0;
    const InputReader::Status status = input.fill(piece.data(), piece.size(), got);
    if (status != InputReader::Status::kOk) {
      return status == InputReader::Status::kRead ? Failure::kRead : Failure::kSpool;
    }
    if (got == 0) return Failure::kNone;
    take(std::string_view(reinterpret_cast<const char*>(piece.data()), got));
  }
}

Failure readNearest(InputReader& input, std::size_t pieceSize, Transfer decoding,
                    Undetected& undetected) {
  NearestReading nearest(decoding);
  const Failure failure =
      readPieces(input, pieceSize, [&nearest](std::string_view bytes) { nearest.feed(bytes); });
  if (failure != Failure::kNone) return failure;
  undetected = nearest.finish();
  return Failure::kNone;
}

// --guess from a pipe, which can be read once: detection, the nearest
// reading, and the decoding in every code that detection may answer (for the
// line endings), over each piece as it comes, so that nothing is kept.
Failure guessInOnePass(InputReader& input, std::size_t pieceSize, const Options& options,
                       Findings& found) {
  StreamDetector detector(options.detection, options.decode_transfer);
  NearestReading nearest(options.decode_transfer);
  Options decoding;
  decoding.decode_transfer = options.decode_transfer;
  decoding.repair = options.repair;
  decoding.errors = options.errors;
  StreamSettings settings;
  settings.piece_size = pieceSize;
  // The byte-order mark codes and every code scored.
  static constexpr Code kAnswers[] = {
      Code::sjis,         Code::euc_jp,       Code::jis,          Code::utf8,     Code::utf16_be,
      Code::utf16_le,     Code::utf16_be_bom, Code::utf16_le_bom, Code::utf32_be, Code::utf32_le,
      Code::utf32_be_bom, Code::utf32_le_bom, Code::cp932,        Code::sjis2004, Code::eucjis2004,
      Code::eucjpms,      Code::cp51932};
  std::vector<Stream> readings;
  for (const Code code : kAnswers) {
    readings.emplace_back(
        code, Code::utf16_be, LineEnding::keep, [](std::string_view) { return true; }, decoding,
        settings);
  }
  const Failure failure = readPieces(input, pieceSize, [&](std::string_view bytes) {
    detector.feed(bytes);
    nearest.feed(bytes);
    for (Stream& reading : readings) (void)reading.feed(bytes);
  });
  if (failure != Failure::kNone) return failure;
  found.inputCode = detector.finish();
  found.scores = detector.scores();
  if (found.inputCode == Code::autodetect) {
    found.undetected = nearest.finish();
    return Failure::kUndetected;
  }
  Stream& chosen = readings[static_cast<std::size_t>(
      std::find(std::begin(kAnswers), std::end(kAnswers), found.inputCode) - kAnswers)];
  const bool ok = chosen.finish();
  found.failure = chosen.error();
  found.lineEndings = chosen.lineEndingsSeen();
  found.repairs = chosen.repairs();
  if (ok && chosen.changeCount() != 0) {
    found.failure = chosen.firstChange();
    return Failure::kConvert;
  }
  return ok ? Failure::kNone : Failure::kConvert;
}

// Streams the input through the conversion into `output` (null: decode only,
// for --guess, or to `outputCode` with `locate`, to place a failure).
Failure convertInput(int fd, Code outputCode, LineEnding lineEnding, const RunOptions& run,
                     Output* output, Findings& found, bool locate = false) {
  StreamSettings settings;
  settings.piece_size = setting("MEK_PIECE_SIZE", settings.piece_size);
  if (settings.piece_size == 0) settings.piece_size = StreamSettings{}.piece_size;
  settings.threads = setting("MEK_WORKERS", 1) != 0;
  settings.fused = setting("MEK_FUSED", 1) != 0;
  Options options;
  options.fallback = run.fallback;
  // Decoding only (--guess) tells the input as it is.
  options.errors = run.guess ? Errors::strict : run.errors;
  options.replacement = run.replacement;
  options.folds = run.guess ? Fold::none : run.folds;
  options.decode_transfer = run.transfer_in;
  options.encode_transfer = run.guess ? Transfer::none : run.transfer_out;
  options.mime_decode = run.mime_decode && !run.guess;
  options.mime_encode = run.guess ? Transfer::none : run.mime_encode;
  options.detection = run.score ? Detection::score : Detection::first;
  options.repair = run.repair;
  // Guessing with --repair reads a character that the wrong turns lost as
  // lost; a malformed sequence of the input still fails the guess (below).
  if (run.guess && run.repair) options.errors = Errors::replace;
  settings.locate = locate || run.verbose || run.guess || options.errors != Errors::strict;
  settings.changes_listed = run.verbose ? kChangesListed + 1 : 1;
  if (run.check) {
    // Every problem is replaced (so that it counts as a column), counted
    // and placed.
    options.errors = Errors::replace;
    options.replacement = 0;
    settings.locate = true;
    settings.changes_listed = SIZE_MAX;
    // The problems of a piece are kept until it is done, one record each:
    // small pieces keep the memory small however bad the input.
    settings.piece_size = std::min<std::size_t>(settings.piece_size, std::size_t{1} << 16);
  }

  // The whole file is converted, wherever its position was left.
  InputReader input(fd);
  // A failure is told with its place. A file is read again to place it;
  // what comes from a pipe is kept in a temporary file as it is read, to be
  // read again from there (or, where none can be made, placed as it goes).
  // A failed read or temporary file is told with its reason.
  const auto reading = [&found](Failure failure) {
    if (failure == Failure::kRead || failure == Failure::kSpool) found.readError = errno;
    return failure;
  };
  if (run.guess && found.inputCode == Code::autodetect && !input.seekable()) {
    try {
      const Failure failure = reading(guessInOnePass(input, settings.piece_size, options, found));
      if (failure == Failure::kNone && run.verbose) {
        if (run.label != nullptr) std::fprintf(stderr, "%s: ", labelText(run.label).c_str());
        std::fprintf(stderr, "detected %s\n", codeName(found.inputCode));
        if (run.score) tellScores(found.scores, run.label);
      }
      return failure;
    } catch (const std::bad_alloc&) {
      return Failure::kNoMemory;
    }
  }
  // Input that arrives as it is written (a pipe, a socket) is converted read
  // by read, and each read's output goes out at once: a filter in a pipeline
  // shows each line as it comes. Detection too takes each read as it comes,
  // and decides after the first lines that make the code clear. The bytes
  // are those of the whole conversion; only when they are written differs.
  const bool streaming = output != nullptr && !run.buffered && !run.check && !input.seekable();
  if (streaming) input.readSome();
  if (found.inputCode == Code::autodetect) {
    StreamDetector detector(options.detection, options.decode_transfer);
    const Failure failure = reading(detectInput(input, settings.piece_size, detector));
    if (failure != Failure::kNone) return failure;
    try {
      found.inputCode = detector.finish();
    } catch (const std::bad_alloc&) {
      return Failure::kNoMemory;
    }
    if (found.inputCode == Code::autodetect) {
      const Failure failure = reading(
          readNearest(input, settings.piece_size, options.decode_transfer, found.undetected));
      return failure != Failure::kNone ? failure : Failure::kUndetected;
    }
    if (run.verbose) {
      if (run.label != nullptr) std::fprintf(stderr, "%s: ", labelText(run.label).c_str());
      std::fprintf(stderr, "detected %s\n", codeName(found.inputCode));
      if (run.score) tellScores(detector.scores(), run.label);
    }
  }
  if (!input.seekable() && !settings.locate && !input.keepHistory()) settings.locate = true;
  if (streaming) output->writeAsItComes();
  // The first output error stops the conversion, and with it the reading.
  // Decoding only, the text goes through the UTF-16 encoder, which takes
  // every character, and is dropped.
  const Code to = output != nullptr || run.check || locate ? outputCode : Code::utf16_be;
  Stream stream(
      found.inputCode, to, lineEnding,
      [output, &found, watch = options.mime_decode](std::string_view bytes) {
        if (watch) found.words.feed(bytes);
        return output == nullptr ||
               output->write(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
      },
      options, settings);
  bool more = true;
  while (more) {
    const std::span<std::byte> space = stream.space();
    if (space.empty()) break;
    std::size_t got = 0;
    const InputReader::Status status =
        input.fill(reinterpret_cast<std::uint8_t*>(space.data()), space.size(), got);
    if (status != InputReader::Status::kOk) {
      return reading(status == InputReader::Status::kRead ? Failure::kRead : Failure::kSpool);
    }
    if (got == 0) break;
    more = stream.commit(got);
    // A short read: nothing more has come yet, so what the text so far
    // gives is written now.
    if (more && streaming && got < space.size()) more = stream.flush();
    if (found.tell) found.tell(stream.takeChanges());
  }
  if (more) (void)stream.finish();
  if (found.tell) found.tell(stream.takeChanges());
  found.failure = stream.error();
  found.lineEndings = stream.lineEndingsSeen();
  found.changes = stream.changes();
  found.changeCount = stream.changeCount();
  found.repairs = stream.repairs();
  if (run.guess && run.repair && found.failure.kind == ErrorKind::none && found.changeCount != 0 &&
      !found.changes.empty()) {
    found.failure = found.changes.front();
    found.failure.kind = ErrorKind::malformed;
  }
  if (found.failure.kind != ErrorKind::none && found.failure.line == 0) {
    found.history = input.history();
  }
  switch (found.failure.kind) {
    case ErrorKind::none:
      return Failure::kNone;
    case ErrorKind::no_memory:
    case ErrorKind::too_large:
      return Failure::kNoMemory;
    case ErrorKind::output:
      return Failure::kWrite;
    default:
      return Failure::kConvert;
  }
}

std::string placeAndDetail(const Error& failure, Code inputCode, Code outputCode,
                           Transfer decoded = Transfer::none);

// " in 'NAME'" after the opening words of a message about the input, when a
// file is named and the message has no "NAME: " before it.
std::string inName(const RunOptions& run) {
  if (run.label != nullptr || run.input_name == nullptr) return "";
  std::string in = " in ";
  in += quotedName(run.input_name);
  return in;
}

// The message for a failed conversion, without its newline.
std::string failureText(Failure failure, const Findings& found, Code outputCode,
                        const RunOptions& run) {
  if (failure == Failure::kRead) {
    std::string message = "cannot read input file";
    if (run.input_name != nullptr) {
      message += ' ';
      message += quotedName(run.input_name);
    }
    return message + ": " + std::strerror(found.readError);
  }
  if (failure == Failure::kNoMemory) return "cannot allocate enough memory";
  if (failure == Failure::kUndetected) {
    std::string message = "cannot detect the input code" + inName(run);
    const Undetected& why = found.undetected;
    if (why.code != Code::autodetect && why.first.line != 0) {
      const Code near = why.code;
      message += std::string(": it reads as ") + codeName(near) + " except at " +
                 placeAndDetail(why.first, near, outputCode, run.transfer_in);
    }
    return message;
  }
  if (failure == Failure::kSpool) return temporaryFailure(found.readError);
  // Lines count from 1: a failure without a line was not traced back.
  std::string message = "cannot convert bytes" + inName(run);
  if (found.failure.line == 0) return message;
  // --repair fails at the end of a line whose wrong turns lost a
  // character, under the strict policy: no input bytes are at fault.
  if (run.repair && found.failure.kind == ErrorKind::malformed && found.failure.byte_count == 0) {
    return message + " at the end of line " + std::to_string(found.failure.line) +
           ": mojibake repaired there lost a character (--errors=replace writes U+FFFD)";
  }
  return message + " at " +
         placeAndDetail(found.failure, found.inputCode, outputCode, run.transfer_in);
}

}  // namespace

namespace {

// "byte N (line L, column C): DETAIL" for a failure or a change.
std::string placeAndDetail(const Error& failure, Code inputCode, Code outputCode,
                           Transfer decoded) {
  char text[200];
  std::snprintf(text, sizeof text, "byte %llu%s (line %llu, column %llu): ",
                static_cast<unsigned long long>(failure.offset),
                decoded == Transfer::none
                    ? ""
                    : (std::string(" of the ") + transferName(decoded) + "-decoded input").c_str(),
                static_cast<unsigned long long>(failure.line),
                static_cast<unsigned long long>(failure.column));
  std::string message = text;
  if (failure.kind == ErrorKind::unmapped) {
    std::snprintf(text, sizeof text, "U+%04X has no %s code",
                  static_cast<unsigned>(failure.character), codeName(outputCode));
    return message + text;
  }
  // A malformed place without bytes is an encoded word (--mime-decode).
  if (failure.byte_count == 0) return message + "an encoded word that is not valid in its charset";
  message += "invalid ";
  message += codeName(inputCode);
  message += " bytes";
  for (std::size_t i = 0; i < failure.byte_count; ++i) {
    std::snprintf(text, sizeof text, " %02X", failure.bytes[i]);
    message += text;
  }
  return message;
}

}  // namespace

namespace {

// Tells each line of `report` on standard error, after "`label`: " when set.
void tellLines(const std::string& report, const char* label) {
  std::size_t at = 0;
  while (at <= report.size()) {
    const std::size_t line = std::min(report.find('\n', at), report.size());
    if (label != nullptr) std::fprintf(stderr, "%s: ", labelText(label).c_str());
    std::fprintf(stderr, "%.*s\n", static_cast<int>(line - at), report.c_str() + at);
    at = line + 1;
  }
}

}  // namespace

std::string failureMessage(const Error& failure, Code inputCode, Code outputCode) {
  return "cannot convert bytes at " + placeAndDetail(failure, inputCode, outputCode);
}

std::string changeReport(const std::vector<Error>& changes, std::uint64_t count, Code inputCode,
                         Code outputCode, bool verbose, const std::string& where,
                         Transfer decoded) {
  std::string report;
  if (!verbose) {
    report = std::to_string(count) + " changed" + where;
    if (!changes.empty()) {
      report += "; the first at " + placeAndDetail(changes.front(), inputCode, outputCode, decoded);
    }
    return report;
  }
  std::size_t told = 0;
  for (const Error& change : changes) {
    if (told == kChangesListed) break;
    if (told++ != 0) report += '\n';
    report += "changed at " + placeAndDetail(change, inputCode, outputCode, decoded);
  }
  if (count > told) report += "\n... and " + std::to_string(count - told) + " more";
  return report;
}

int runCheck(std::FILE* input, Code inputCode, Code outputCode, LineEnding lineEnding,
             const RunOptions& options) {
  Findings found;
  found.inputCode = inputCode;
  RunOptions run = options;
  run.check = true;
  // Each problem is told as it is found.
  std::uint64_t told = 0;
  found.tell = [&](const std::vector<Error>& problems) {
    for (const Error& problem : problems) {
      if (options.label != nullptr) std::printf("%s: ", labelText(options.label).c_str());
      std::printf(
          "%s\n",
          placeAndDetail(problem, found.inputCode, outputCode, options.transfer_in).c_str());
    }
    told += problems.size();
  };
  const Failure failure =
      convertInput(fileno(input), outputCode == Code::autodetect ? Code::utf16_be : outputCode,
                   lineEnding, run, nullptr, found);
  // The stretches --repair would repair, after the problems.
  if (failure == Failure::kNone) {
    for (const Repair& stretch : found.repairs) {
      if (options.label != nullptr) std::printf("%s: ", labelText(options.label).c_str());
      std::printf("%s\n", stretchProblem(stretch).c_str());
    }
    told += found.repairs.size();
  }
  if (failure != Failure::kNone) {
    if (options.label != nullptr) std::fprintf(stderr, "%s: ", labelText(options.label).c_str());
    std::fprintf(stderr, "%s\n", failureText(failure, found, outputCode, run).c_str());
    return failure == Failure::kUndetected || failure == Failure::kConvert ? 1 : 2;
  }
  if (std::fflush(stdout) != 0) {
    if (errno == EPIPE) endByBrokenPipe();
    return 2;
  }
  return told == 0 ? 0 : 1;
}

bool runConversion(std::FILE* input, int inputCodeNumber, const char* outputPath,
                   int outputCodeNumber, int lineEndingCode, const RunOptions& options) {
  const Code inputCode = codeOfNumber(inputCodeNumber);
  const Code outputCode = codeOfNumber(outputCodeNumber);
  const LineEnding lineEnding = lineEndingOfNumber(lineEndingCode);
  Findings found;
  found.inputCode = inputCode;
  std::string message;
  if (options.guess) {
    // Nothing is written, so there is nothing to guard.
    const Failure failure =
        convertInput(fileno(input), outputCode, lineEnding, options, nullptr, found);
    if (failure == Failure::kNone) {
      if (options.label != nullptr) std::printf("%s: ", labelText(options.label).c_str());
      std::printf("%s %s", codeName(found.inputCode), lineEndingsName(found.lineEndings).data());
      const std::string mojibake = mojibakeSummary(found.repairs);
      std::printf("%s%s\n", mojibake.empty() ? "" : ", ", mojibake.c_str());
      if (std::fflush(stdout) == 0) return true;
      if (errno == EPIPE) endByBrokenPipe();
      message = std::string("cannot write output file: ") + std::strerror(errno);
    } else {
      message = failureText(failure, found, outputCode, options);
    }
  } else {
    Output output(outputPath, options.guard);
    output.releaseReplacedPages(fileno(input));
    // A target that cannot be written is told before the input is read.
    const Failure failure =
        output.error() != OutputError::kNone
            ? Failure::kWrite
            : convertInput(fileno(input), outputCode, lineEnding, options, &output, found);
    if (failure == Failure::kWrite || (failure == Failure::kNone && !output.commit())) {
      output.abandon();
      if (outputPath == nullptr && output.systemError() == EPIPE) endByBrokenPipe();
      message = output.message();
    } else if (failure != Failure::kNone) {
      output.abandon();
      if (failure == Failure::kConvert && found.failure.line == 0 &&
          (found.history >= 0 || rewind(fileno(input)))) {
        // Converted without counting lines, for speed: the input is read
        // again (a pipe from what was kept of it), counting, to tell where
        // it failed.
        Findings placed;
        placed.inputCode = found.inputCode;
        const int again = found.history >= 0 ? found.history : fileno(input);
        if (convertInput(again, outputCode, lineEnding, options, nullptr, placed, true) ==
                Failure::kConvert &&
            placed.failure.line != 0) {
          found.failure = placed.failure;
        }
      }
      message = failureText(failure, found, outputCode, options);
    }
    if (found.history >= 0) close(found.history);
    if (options.guard != nullptr) {
      options.guard->finished(options.label, message.empty(), options.last);
    }
  }
  if (message.empty()) {
    if (const std::string notice = found.words.notice(); !notice.empty()) {
      if (options.label != nullptr) std::fprintf(stderr, "%s: ", labelText(options.label).c_str());
      std::fprintf(stderr, "%s\n", notice.c_str());
    }
    if (!found.repairs.empty() && !options.guess) {
      tellLines(repairReport(found.repairs, options.errors, options.replacement, options.verbose),
                options.label);
    }
    if (found.changeCount != 0) {
      const std::string report =
          changeReport(found.changes, found.changeCount, found.inputCode, outputCode,
                       options.verbose, inName(options), options.transfer_in);
      std::size_t at = 0;
      while (at <= report.size()) {
        const std::size_t line = std::min(report.find('\n', at), report.size());
        if (options.label != nullptr)
          std::fprintf(stderr, "%s: ", labelText(options.label).c_str());
        std::fprintf(stderr, "%.*s\n", static_cast<int>(line - at), report.c_str() + at);
        at = line + 1;
      }
    }
    return true;
  }
  if (options.label != nullptr) std::fprintf(stderr, "%s: ", labelText(options.label).c_str());
  std::fprintf(stderr, "%s\n", message.c_str());
  return false;
}

}  // namespace mek
