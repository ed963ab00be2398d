// A program built against an installed mek through <mek/mek.h> alone:
// converts Shift_JIS to UTF-8 whole and in pieces, detects a code, reports a
// failure with its place, and edits text held in a mek::Text. Exits with 0
// when every step gave what it should.
#include <mek/mek.h>
#include <mek/text.h>

#include <cstdio>
#include <string>

namespace {

bool check(bool ok, const char* what) {
  if (!ok) std::fprintf(stderr, "mek_consumer: %s failed\n", what);
  return ok;
}

}  // namespace

int main() {
  using namespace std::string_literals;
  const std::string sjis = "\x93\xfa\x96\x7b\x8c\xea\r\n"s;  // 日本語 CR LF
  const std::string utf8 = "\xe6\x97\xa5\xe6\x9c\xac\xe8\xaa\x9e\n"s;

  const mek::Result whole = mek::convert(sjis, mek::Code::autodetect, mek::Code::utf8);
  bool ok = check(whole.ok() && whole.bytes == utf8, "converting");
  ok = check(mek::detect(sjis) == mek::Code::sjis, "detecting") && ok;

  std::string pieces;
  mek::Stream stream(mek::Code::sjis, mek::Code::utf8, mek::LineEnding::lf,
                     [&pieces](std::string_view bytes) {
                       pieces += bytes;
                       return true;
                     });
  for (char c : sjis) stream.feed(std::string_view(&c, 1));
  ok = check(stream.finish() && pieces == utf8, "streaming") && ok;

  const mek::Result bad = mek::convert("ab\r\ncd\x85\x40"s, mek::Code::sjis, mek::Code::utf8);
  ok = check(!bad.ok() && bad.error.kind == mek::ErrorKind::malformed && bad.error.offset == 6 &&
                 bad.error.line == 2 && bad.error.column == 3,
             "locating a failure") &&
       ok;

  // 日本語 → 語 with the text-buffer operations on the Text's buffer.
  std::optional<mek::Text> text = mek::Text::decode(utf8, mek::Code::utf8);
  ok = check(text && mek::erase(text->get(), 0, 2) &&
                 text->encode(mek::Code::utf8) == "\xe8\xaa\x9e\n"s,
             "editing") &&
       ok;
  if (ok) std::printf("mek_consumer: ok\n");
  return ok ? 0 : 1;
}
