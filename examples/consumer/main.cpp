// Decodes UTF-8 text into a TextBuffer, edits it by character position, sends
// it through every encoding whose converters are present and back, and
// encodes it as UTF-8 again; then streams Shift_JIS to UTF-8 in pieces of
// one byte. Exits with 0 when every step gave what it should.
#include <cstdint>
#include <cstdio>
#include <string>

#include "mek/conversion_stream.h"
#include "mek/registry.h"
#include "mek/text_buffer.h"

namespace {

constexpr int kUtf8 = 4;

bool check(bool ok, const char* what) {
  if (!ok) std::fprintf(stderr, "mek_consumer: %s failed\n", what);
  return ok;
}

// The buffer's text as UTF-8: measure, then convert into an area of that size.
std::string toUtf8(const mek::TextBuffer* text) {
  const mek::Converter* encoder = mek::findEncoder(kUtf8);
  const std::int32_t size = mek::measuredSize(text, encoder);
  if (size < 0) return "<rejected>";
  std::string out(static_cast<std::size_t>(size), '\0');
  if (mek::convertInto(text, reinterpret_cast<std::uint8_t*>(out.data()), encoder) != size) {
    return "<failed>";
  }
  return out;
}

// Encodes a copy of `text` with code number `code` and decodes it again.
bool roundTrips(const mek::TextBuffer* text, int code) {
  mek::TextBuffer* scratch = mek::createTextBuffer(0);
  bool ok = scratch != nullptr && mek::copy(scratch, text) &&
            mek::convertInPlace(scratch, mek::findEncoder(code)) &&
            mek::convertInPlace(scratch, mek::findDecoder(code)) &&
            scratch->length == text->length && mek::prefixEqual(scratch, text);
  mek::destroyTextBuffer(scratch);
  return ok;
}

// "日本語\r\n" in Shift_JIS, fed one byte at a time, comes out as UTF-8
// with an LF.
bool streams() {
  const std::uint8_t sjis[] = {0x93, 0xFA, 0x96, 0x7B, 0x8C, 0xEA, 0x0D, 0x0A};
  std::string out;
  mek::ConversionStream::Options options;
  options.piece_size = 1;  // every byte is converted as it comes
  mek::ConversionStream stream(
      1, kUtf8, 1,
      [&out](const std::uint8_t* data, std::size_t size) {
        out.append(reinterpret_cast<const char*>(data), size);
        return true;
      },
      options);
  for (std::uint8_t byte : sjis) stream.feed(&byte, 1);
  return stream.finish() && out == "\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E\n";
}

}  // namespace

int main() {
  const mek::Converter* decoder = mek::findDecoder(kUtf8);
  if (!check(decoder != nullptr && mek::findEncoder(kUtf8) != nullptr, "finding UTF-8")) return 1;

  // "日本語 text\r\n" and "文字" in UTF-8.
  mek::TextBuffer* text =
      mek::createFromString("\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E text\r\n", decoder);
  mek::TextBuffer* word = mek::createFromString("\xE6\x96\x87\xE5\xAD\x97", decoder);
  bool ok = check(text != nullptr && word != nullptr, "decoding");
  ok = ok && check(mek::characterCount(text) == 10, "counting characters");

  // Put "文字" in place of the four characters "text"; they come back in `word`.
  ok = ok && check(mek::exchange(text, word, 4, 4), "exchange");
  ok = ok && check(toUtf8(word) == "text", "taking back the replaced text");
  ok = ok &&
       check(toUtf8(text) == "\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E \xE6\x96\x87\xE5\xAD\x97\r\n",
             "editing");

  int codes = 0;
  for (int code = 1; ok && code <= 12; ++code) {
    if (mek::findDecoder(code) == nullptr || mek::findEncoder(code) == nullptr) continue;
    ok = check(roundTrips(text, code), "a round trip");
    ++codes;
  }
  ok = ok && check(streams(), "streaming");
  if (ok) std::printf("mek_consumer: ok, %d encodings round-tripped\n", codes);

  mek::destroyTextBuffer(word);
  mek::destroyTextBuffer(text);
  return ok ? 0 : 1;
}
