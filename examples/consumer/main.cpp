// A program built against an installed mek through <mek/mek.h> alone:
// names codes as the command line does, converts Shift_JIS to UTF-8 whole,
// into its own memory at the exact size and in pieces, detects a code,
// reports a failure with its place and checks a text. Exits with 0 when
// every step gave what it should.
#include <mek/mek.h>

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

  // Names as the command line takes them, and what a code can carry.
  ok = check(mek::codeFor("Shift_JIS") == mek::Code::sjis && !mek::codeFor("sjis2") &&
                 mek::carries(mek::Code::sjis, U'\u3042') &&
                 !mek::carries(mek::Code::sjis, U'\u2603'),
             "naming") &&
       ok;

  // The exact size first, then the conversion into memory of that size.
  const mek::Sized size = mek::measure(sjis, mek::Code::sjis, mek::Code::utf8);
  std::string out(size.size, '\0');
  const mek::Sized written =
      mek::convertInto(sjis, mek::Code::sjis, mek::Code::utf8,
                       std::span<std::byte>(reinterpret_cast<std::byte*>(out.data()), out.size()));
  ok = check(size.ok() && written.ok() && written.size == size.size && out == utf8,
             "converting at the exact size") &&
       ok;

  // Every problem at once; with the fallback, U+301C has a code in sjis.
  mek::Options fallback;
  fallback.fallback = true;
  const std::string wave = "\xe3\x80\x9c\xe2\x98\x83"s;  // U+301C U+2603
  const std::vector<mek::Error> strict =
      mek::check(wave, mek::Code::utf8, mek::Code::sjis, mek::Options{});
  const std::vector<mek::Error> kind = mek::check(wave, mek::Code::utf8, mek::Code::sjis, fallback);
  ok =
      check(strict.size() == 2 && kind.size() == 1 && kind[0].character == U'\u2603', "checking") &&
      ok;
  if (ok) std::printf("mek_consumer: ok\n");
  return ok ? 0 : 1;
}
