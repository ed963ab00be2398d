// Round trips through every encoding: internal-form text built from the input
// and restricted to the encoding's repertoire is encoded and decoded again.
// The UTF codes give the text back exactly. The Japanese codes may map
// several characters to one code (NEC-selected IBM extensions, the yen sign
// and overline of EUC-JP and so on), so for them the decoded text must
// encode to the same bytes again, one character for one.

#include <cstring>

#include "fuzz/fuzz_support.h"
#include "mek/registry.h"

namespace {

using mek::fuzz::Bytes;

bool isUtf(int code) {
  return code >= 4;
}

// Whether the encoder accepts this one character on its own. ISO-2022-JP
// writes ESC, SO and SI unprotected, and its decoder reads them as control
// sequences, so those three are outside its round-trip repertoire.
bool inRepertoire(int code, const mek::Converter& encoder, const Bytes& character) {
  if (code == 3 && character[0] == 0x00 &&
      (character[1] == 0x1B || character[1] == 0x0E || character[1] == 0x0F)) {
    return false;
  }
  mek::ConversionBuffer buffer;
  buffer.in_begin = character.data();
  buffer.in_end = character.data() + character.size();
  return encoder.measure(buffer) && buffer.stop == buffer.in_end;
}

void roundTrip(int code, const std::vector<Bytes>& characters) {
  const mek::Converter* encoder = mek::findEncoder(code);
  const mek::Converter* decoder = mek::findDecoder(code);
  if (encoder == nullptr || decoder == nullptr) return;

  Bytes text;
  for (const Bytes& character : characters) {
    if (inRepertoire(code, *encoder, character))
      text.insert(text.end(), character.begin(), character.end());
  }
  const auto encoded = mek::fuzz::runChecked(*encoder, text.data(), text.size());
  MEK_FUZZ_CHECK(encoded.ok);
  MEK_FUZZ_CHECK(encoded.stop == text.size());
  const auto decoded =
      mek::fuzz::runChecked(*decoder, encoded.output.data(), encoded.output.size());
  MEK_FUZZ_CHECK(decoded.ok);
  MEK_FUZZ_CHECK(decoded.stop == encoded.output.size());

  if (isUtf(code)) {
    Bytes expected = text;
    // The UTF-8 decoder drops a leading EF BB BF as a mark, which is what a
    // leading U+FEFF encodes to.
    if (code == 4 && expected.size() >= 2 && expected[0] == 0xFE && expected[1] == 0xFF) {
      expected.erase(expected.begin(), expected.begin() + 2);
    }
    MEK_FUZZ_CHECK(decoded.output == expected);
    return;
  }
  // Every Japanese code is a single BMP unit in the internal form.
  MEK_FUZZ_CHECK(decoded.output.size() == text.size());
  const auto again = mek::fuzz::runChecked(*encoder, decoded.output.data(), decoded.output.size());
  MEK_FUZZ_CHECK(again.ok);
  MEK_FUZZ_CHECK(again.output == encoded.output);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::vector<Bytes> characters = mek::fuzz::internalCharacters(data, size);
  for (int code = 1; code <= 12; ++code) roundTrip(code, characters);
  return 0;
}
