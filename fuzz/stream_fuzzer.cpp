// The streamed conversion against the conversion of the whole text: input
// code, output code, line ending, --fallback, the error policy, piece size
// and the worker thread come from the first four bytes; the output and the result must be
// the same. A failure must be traced to the same place, kind and bytes in
// pieces as in one piece. Detection fed the same pieces must give the whole
// text's answer.

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "detect/detector.h"
#include "fuzz/fuzz_support.h"
#include "mek/codes.h"
#include "mek/detail/conversion_stream.h"
#include "mek/detect.h"

namespace {

// A located conversion of `text` in pieces of `piece` bytes; answers its
// failure record (kNone when it converted).
mek::Error locatedFailure(const std::uint8_t* text, std::size_t length, int from, int to,
                          int lineEnding, bool fallback, std::size_t piece,
                          mek::Errors errors = mek::Errors::strict) {
  mek::ConversionStream::Options options;
  options.piece_size = piece;
  options.fallback = fallback;
  options.locate = true;
  options.errors = errors;
  mek::ConversionStream stream(
      mek::codeOfNumber(from), mek::codeOfNumber(to), mek::lineEndingOfNumber(lineEnding),
      [](const std::uint8_t*, std::size_t) { return true; }, options);
  for (std::size_t at = 0; at < length; at += piece) {
    if (!stream.feed(text + at, std::min(piece, length - at))) break;
  }
  stream.finish();
  // Under a forgiving policy, the first change stands for the failure.
  if (errors != mek::Errors::strict && !stream.changes().empty()) {
    return stream.changes().front();
  }
  return stream.error();
}

// The driver's messages, which are not checked here.
char messages[256];

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  mek::fuzz::captureMessages(messages, sizeof messages);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 4) return 0;
  const int from = 1 + data[0] % (mek::kCodeCount - 1);
  const int to = 1 + data[1] % (mek::kCodeCount - 1);
  const int lineEnding = 1 + data[2] % 4;
  const bool fallback = (data[2] & 0x80) != 0;
  const auto errors = static_cast<mek::Errors>((data[2] >> 4) & 3);
  const mek::Fold folds{((data[2] >> 2) & 3u) | ((data[3] >> 4) & 4u)};
  const std::size_t piece = 1 + data[3] % 64;
  const bool worker = (data[3] & 0x80) != 0;
  const std::uint8_t* const text = data + 4;
  const std::size_t length = size - 4;

  const mek::fuzz::WholeResult whole =
      mek::fuzz::convertWhole(text, length, from, to, lineEnding, fallback, errors, folds);

  std::vector<std::uint8_t> streamed;
  mek::ConversionStream::Options options;
  options.piece_size = piece;
  options.worker = worker;
  options.fallback = fallback;
  options.errors = errors;
  options.folds = folds;
  mek::ConversionStream stream(
      mek::codeOfNumber(from), mek::codeOfNumber(to), mek::lineEndingOfNumber(lineEnding),
      [&](const std::uint8_t* bytes, std::size_t n) {
        streamed.insert(streamed.end(), bytes, bytes + n);
        return true;
      },
      options);
  for (std::size_t at = 0; at < length; at += piece) {
    if (!stream.feed(text + at, std::min(piece, length - at))) break;
  }
  const bool ok = stream.finish();
  MEK_FUZZ_CHECK(ok == whole.ok);
  if (ok) MEK_FUZZ_CHECK(streamed == whole.output);
  if (ok) MEK_FUZZ_CHECK(stream.changeCount() == static_cast<std::uint64_t>(whole.changes));
  if (ok && whole.changes != 0) {
    // The first change is placed the same in pieces as in one piece.
    const mek::Error a =
        locatedFailure(text, length, from, to, lineEnding, fallback, piece, errors);
    const mek::Error b =
        locatedFailure(text, length, from, to, lineEnding, fallback, length + 1, errors);
    MEK_FUZZ_CHECK(a.kind != mek::ErrorKind::none && a.kind == b.kind);
    MEK_FUZZ_CHECK(a.offset == b.offset && a.offset < length);
    MEK_FUZZ_CHECK(a.line == b.line && a.column == b.column);
    MEK_FUZZ_CHECK(a.byte_count == b.byte_count && a.character == b.character);
  }
  if (!ok) {
    const mek::Error a = locatedFailure(text, length, from, to, lineEnding, fallback, piece);
    const mek::Error b = locatedFailure(text, length, from, to, lineEnding, fallback, length + 1);
    MEK_FUZZ_CHECK(a.kind != mek::ErrorKind::none && a.kind == b.kind);
    MEK_FUZZ_CHECK(a.offset == b.offset && a.offset < length);
    MEK_FUZZ_CHECK(a.line == b.line && a.column == b.column);
    MEK_FUZZ_CHECK(a.byte_count == b.byte_count && a.character == b.character);
    MEK_FUZZ_CHECK(a.bytes == b.bytes);
  }

  mek::Detector detector;
  mek::Area area;
  MEK_FUZZ_CHECK(area.reserve(piece));
  for (std::size_t at = 0; at < length && !detector.settled(); at += piece) {
    const std::size_t n = std::min(piece, length - at);
    std::memcpy(area.data(), text + at, n);
    detector.feed(area.data(), area.data() + n);
  }
  MEK_FUZZ_CHECK(detector.finish() == mek::detectEncoding(text, text + length));
  return 0;
}
