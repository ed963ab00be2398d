// Detection answers a code number from the allowed set (or 0, no code) for
// any input, reads nothing outside it (the sanitizer sees the exact-size
// input), a content answer means that the named decoder accepts the whole
// input (to its last byte), input no code reads has a nearest reading placed
// inside it,
// and the last resort, UTF-16LE, takes only even-length input. Scored
// detection gives the same answer and scores in pieces (of a size the input
// chooses) as over the whole text.

#include <algorithm>
#include <vector>

#include "detect/scored_detection.h"
#include "fuzz/fuzz_support.h"
#include "mek/converter.h"
#include "mek/detect.h"
#include "mek/mek.h"
#include "mek/registry.h"

namespace {

bool allowed(int code) {
  return code >= 0 && code <= 12 && code != 5;
}

bool startsWith(const std::uint8_t* data, std::size_t size, std::initializer_list<int> mark) {
  if (size < mark.size()) return false;
  std::size_t i = 0;
  for (int b : mark) {
    if (data[i++] != b) return false;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const int code = mek::detectEncoding(data, data + size);
  MEK_FUZZ_CHECK(allowed(code));
  MEK_FUZZ_CHECK(mek::detectEncoding(data, data + size) == code);

  // Answers that only a content test gives (never a byte-order mark) promise
  // that the decoder of that code accepts the whole input: UTF-32 (9, 10),
  // ISO-2022-JP (3), Shift_JIS (1, by a stricter test) and EUC-JP (2).
  const bool content = code == 1 || code == 2 || code == 3 || code == 9 || code == 10;
  if (content) {
    const mek::Converter* decoder = mek::findDecoder(code);
    if (decoder != nullptr) {
      mek::ConversionBuffer buffer;
      buffer.in_begin = data;
      buffer.in_end = data + size;
      MEK_FUZZ_CHECK(decoder->measure(buffer));
      // A cut-off last sequence is no evidence: the code reads to the end.
      if (code != 3) MEK_FUZZ_CHECK(buffer.stop == buffer.in_end);
    }
  }
  // Input no code reads: the nearest reading, if any, is placed inside it.
  if (code == 0) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const mek::Undetected why = mek::NearestReading::of(text);
    MEK_FUZZ_CHECK(why.first.kind == mek::ErrorKind::undetected);
    if (why.code != mek::Code::autodetect) MEK_FUZZ_CHECK(why.first.offset < size);
  }
  if (code == 6) MEK_FUZZ_CHECK(size % 2 == 0);
  // Input that starts with a mark is answered by the mark.
  if (startsWith(data, size, {0xEF, 0xBB, 0xBF})) MEK_FUZZ_CHECK(code == 4);
  if (startsWith(data, size, {0xFE, 0xFF})) MEK_FUZZ_CHECK(code == 7);

  const mek::ScoredAnswer whole = mek::ScoredDetector::detect(data, data + size);
  const std::size_t piece = size == 0 ? 1 : 1 + data[0] % 37;
  mek::ScoredDetector detector;
  std::vector<std::uint8_t> copy(data, data + size);
  for (std::size_t at = 0; at < size && !detector.settled(); at += piece) {
    const std::size_t n = std::min(piece, size - at);
    detector.feed(copy.data() + at, copy.data() + at + n);
  }
  const mek::ScoredAnswer pieces = detector.finish();
  MEK_FUZZ_CHECK(pieces.code == whole.code && pieces.score == whole.score);
  // A scored content answer decodes the whole input (a cut-off tail aside).
  MEK_FUZZ_CHECK(whole.code == 0 || mek::findDecoder(whole.code) != nullptr);
  return 0;
}
