// The C++ layer: mek::convert, Stream (with and without locating, in pieces
// of a size the input chooses, flushed or not) and check, under every error
// policy, for codes, line ending, policy, transfer encodings, encoded words
// of mail headers, mojibake repair and piece size taken from the first four
// bytes. They must agree: the same output,
// the same kind of failure, and check() finds a problem exactly where a strict conversion fails.

#include <algorithm>
#include <string>
#include <string_view>

#include "fuzz/fuzz_support.h"
#include "mek/codes.h"
#include "mek/mek.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 4) return 0;
  const auto from = static_cast<mek::Code>((data[0] & 0x7F) % mek::kCodeCount);  // 0: detect
  const auto to = static_cast<mek::Code>(1 + data[1] % (mek::kCodeCount - 1));
  const auto eol = static_cast<mek::LineEnding>(1 + data[2] % 4);
  mek::Options options;
  options.errors = static_cast<mek::Errors>(data[3] % 4);
  options.fallback = (data[3] & 4) != 0;
  options.decode_transfer = static_cast<mek::Transfer>((data[2] >> 2) % 3);
  options.encode_transfer = static_cast<mek::Transfer>((data[2] >> 4) % 3);
  options.mime_decode = (data[2] & 0x40) != 0;
  options.mime_encode = static_cast<mek::Transfer>((data[1] >> 6) % 3);
  options.repair = (data[0] & 0x80) != 0;
  const std::size_t piece = 1 + (data[3] >> 3);
  const bool flushing = (data[2] & 0x80) != 0;
  const std::string_view text(reinterpret_cast<const char*>(data + 4), size - 4);

  const mek::Result whole = mek::convert(text, from, to, eol, options);
  MEK_FUZZ_CHECK(whole.ok() || whole.bytes.empty());
  if (from == mek::Code::autodetect && !whole.ok() &&
      whole.error.kind == mek::ErrorKind::undetected) {
    return 0;
  }
  const mek::Code source = from == mek::Code::autodetect ? whole.from : from;
  MEK_FUZZ_CHECK(source != mek::Code::autodetect);

  for (const bool locate : {false, true}) {
    mek::StreamSettings settings;
    settings.piece_size = piece;
    settings.locate = locate;
    std::string out;
    mek::Stream stream(
        source, to, eol,
        [&out](std::string_view bytes) {
          out.append(bytes);
          return true;
        },
        options, settings);
    bool ok = true;
    for (std::size_t at = 0; ok && at < text.size(); at += 7) {
      ok = stream.feed(text.substr(at, 7)) && (!flushing || stream.flush());
    }
    ok = ok && stream.finish();
    MEK_FUZZ_CHECK(ok == whole.ok());
    if (ok) {
      MEK_FUZZ_CHECK(out == whole.bytes);
      MEK_FUZZ_CHECK(stream.changeCount() == whole.changes);
    } else {
      // The kind of a failure does not depend on the pieces or on locating,
      // nor its place (a line or a header field held whole over many tiny
      // pieces included).
      MEK_FUZZ_CHECK(stream.error().kind == whole.error.kind);
      if (locate) MEK_FUZZ_CHECK(stream.error().offset == whole.error.offset);
    }
  }

  // Every problem check() lists lies inside the text, in the input's order;
  // a text that converts strictly has none.
  const std::vector<mek::Error> problems = mek::check(text, source, to, options, 64);
  for (std::size_t i = 0; i < problems.size(); ++i) {
    MEK_FUZZ_CHECK(problems[i].offset <= text.size());
    if (i > 0) MEK_FUZZ_CHECK(problems[i - 1].offset <= problems[i].offset);
  }
  if (options.errors == mek::Errors::strict && !options.fallback && whole.ok()) {
    MEK_FUZZ_CHECK(problems.empty());
  }
  return 0;
}
