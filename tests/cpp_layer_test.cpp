// The C++ layer over the converter interface: whole conversions with their
// errors, detection, streams, and the owning Text.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "mek/mek.h"
#include "mek/text.h"

namespace mek {
namespace {

using namespace std::string_literals;

const std::string kSjis = "\x93\xfa\x96\x7b\x8c\xea\r\n"s;  // 日本語 CR LF
const std::string kUtf8 = "\xe6\x97\xa5\xe6\x9c\xac\xe8\xaa\x9e\n"s;

TEST(CppLayerTest, ConvertsAndTellsWhereItFailed) {
  const Result ok = convert(kSjis, Code::sjis, Code::utf8);
  ASSERT_TRUE(ok.ok());
  EXPECT_EQ(ok.bytes, kUtf8);
  EXPECT_EQ(convert(kSjis, Code::autodetect, Code::utf8).bytes, kUtf8);
  EXPECT_EQ(convert(kSjis, Code::sjis, Code::utf8, LineEnding::crlf).bytes,
            "\xe6\x97\xa5\xe6\x9c\xac\xe8\xaa\x9e\r\n"s);
  const auto* raw = reinterpret_cast<const std::byte*>(kSjis.data());
  EXPECT_EQ(convert(std::span(raw, kSjis.size()), Code::sjis, Code::utf8).bytes, kUtf8);

  struct Case {
    std::string input;
    Code from, to;
    ErrorKind kind;
    std::uint64_t offset, line, column;
  };
  const Case cases[] = {
      {"ab\r\ncd\x85\x40"s, Code::sjis, Code::utf8, ErrorKind::malformed, 6, 2, 3},
      {"a\n\xe2\x98\x83"s, Code::utf8, Code::sjis, ErrorKind::unmapped, 2, 2, 1},
      {"\xe3\x81"s + "A"s, Code::utf8, Code::euc_jp, ErrorKind::malformed, 0, 1, 1},
  };
  for (const Case& c : cases) {
    const Result r = convert(c.input, c.from, c.to);
    EXPECT_FALSE(r.ok());
    EXPECT_TRUE(r.bytes.empty());
    EXPECT_EQ(r.error.kind, c.kind) << c.input;
    EXPECT_EQ(r.error.offset, c.offset) << c.input;
    EXPECT_EQ(r.error.line, c.line) << c.input;
    EXPECT_EQ(r.error.column, c.column) << c.input;
  }
}

TEST(CppLayerTest, DetectsAndNames) {
  EXPECT_EQ(detect(kSjis), Code::sjis);
  EXPECT_EQ(detect("\xef\xbb\xbfx"s), Code::utf8);
  EXPECT_EQ(name(Code::utf16_le_bom), "utf16_le_bom");
  EXPECT_EQ(name(Code::cp932), "cp932");
}

// measure() and convertInto() give what convert() gives, at its exact size,
// for texts that convert, change under a policy, fail and are not
// detected; memory one byte short fails as too large.
TEST(CppLayerTest, ExactSizeIsWhatConvertGives) {
  Options replace;
  replace.errors = Errors::replace;
  const struct {
    std::string input;
    Code from, to;
    Options options;
  } cases[] = {
      {"\x93\xfa\x96\x7b\r\n"s, Code::autodetect, Code::utf16_le_bom, {}},
      {"a\xff\xe3\x81\x82\r\n"s, Code::utf8, Code::sjis, replace},
      {"a\xff"s, Code::utf8, Code::sjis, {}},
      {"\x80\xff\x81\x80\xff\x81"s, Code::autodetect, Code::utf8, {}},
      {""s, Code::utf8, Code::jis, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.input);
    const Result whole = convert(c.input, c.from, c.to, LineEnding::crlf, c.options);
    const Sized size = measure(c.input, c.from, c.to, LineEnding::crlf, c.options);
    EXPECT_EQ(size.ok(), whole.ok());
    EXPECT_EQ(size.error.kind, whole.error.kind);
    EXPECT_EQ(size.error.offset, whole.error.offset);
    EXPECT_EQ(size.from, whole.from);
    EXPECT_EQ(size.changes, whole.changes);
    EXPECT_EQ(size.size, whole.bytes.size());
    std::string out(size.size, '\0');
    const auto area = [&out](std::size_t n) {
      return std::span<std::byte>(reinterpret_cast<std::byte*>(out.data()), n);
    };
    const Sized written =
        convertInto(c.input, c.from, c.to, area(out.size()), LineEnding::crlf, c.options);
    EXPECT_EQ(written.error.kind, whole.error.kind);
    if (whole.ok()) {
      EXPECT_EQ(out, whole.bytes);
    }
    if (whole.ok() && !out.empty()) {
      EXPECT_EQ(
          convertInto(c.input, c.from, c.to, area(out.size() - 1), LineEnding::crlf, c.options)
              .error.kind,
          ErrorKind::too_large);
    }
  }
  // check() takes the options' fallback, folds and detection, not their
  // policy: U+301C has its twin's code with the fallback, U+2603 none.
  Options fallback = replace;
  fallback.fallback = true;
  const std::string wave = "\xe3\x80\x9c\xe2\x98\x83"s;
  EXPECT_EQ(check(wave, Code::utf8, Code::sjis, Options{}).size(), 2u);
  ASSERT_EQ(check(wave, Code::utf8, Code::sjis, fallback).size(), 1u);
  EXPECT_EQ(check(wave, Code::utf8, Code::sjis, fallback)[0].character, U'\u2603');
  EXPECT_EQ(codeNear("sjsi", false), Code::sjis);
  EXPECT_EQ(codeNear("aut", false), std::nullopt);
  EXPECT_EQ(codeNear("aut", true), Code::autodetect);
}

TEST(CppLayerTest, StreamGivesTheWholeConversion) {
  std::string out;
  Stream stream(Code::sjis, Code::utf16_le_bom, LineEnding::lf, [&](std::string_view bytes) {
    out += bytes;
    return true;
  });
  for (char c : kSjis) ASSERT_TRUE(stream.feed(std::string_view(&c, 1)));
  ASSERT_TRUE(stream.finish());
  EXPECT_EQ(out, convert(kSjis, Code::sjis, Code::utf16_le_bom).bytes);

  Stream bad(Code::sjis, Code::utf8, LineEnding::lf, [](std::string_view) { return true; });
  bad.feed("ab\r\ncd\x85\x40"s);
  EXPECT_FALSE(bad.finish());
  EXPECT_EQ(bad.error().kind, ErrorKind::malformed);
  EXPECT_EQ(bad.error().line, 2u);

  // A writer that refuses stops the stream, and the error says so rather
  // than blaming the input.
  Stream refused(Code::sjis, Code::utf8, LineEnding::lf, [](std::string_view) { return false; });
  EXPECT_FALSE(refused.feed(kSjis) && refused.finish());
  EXPECT_EQ(refused.error().kind, ErrorKind::output);
}

// What the tool runs on: a stream read into through space() and commit()
// under every setting, and detection over pieces, give what the whole text
// gives; only a located stream tells places and line endings.
TEST(CppLayerTest, PiecesAndSettingsGiveWhatTheWholeGives) {
  std::string sjis;
  for (int i = 0; i < 300; ++i) sjis += kSjis + "abc\n";
  const std::string bad = sjis + "\x85\x40";
  const std::string texts[] = {sjis,   bad, kUtf8, "\x1b$B$\\\x1b(B"s, "\xff\xfe" + "a\0b\0"s,
                               "\x80"s};
  for (const std::string& text : texts) {
    for (const Detection how : {Detection::first, Detection::score}) {
      StreamDetector detector(how);
      for (std::size_t at = 0; at < text.size() && !detector.settled(); at += 7) {
        const std::size_t size = std::min<std::size_t>(7, text.size() - at);
        if (at % 2 == 0) {
          detector.feed(std::string_view(text).substr(at, size));
        } else {
          const std::span<std::byte> room = detector.space(size);
          ASSERT_EQ(room.size(), size);
          std::memcpy(room.data(), text.data() + at, size);
          detector.commit(size);
        }
      }
      EXPECT_EQ(detector.finish(), detect(text, how)) << text;
    }
  }
  const struct {
    StreamSettings settings;
  } cases[] = {{{1, false, true, 1, true}},
               {{3, true, false, 1, true}},
               {{4096, true, true, 1, false}},
               {{64, true, false, 1, true}}};
  for (const std::string& text : {sjis, bad}) {
    const Result whole = convert(text, Code::sjis, Code::utf8);
    for (const auto& c : cases) {
      std::string out;
      Stream stream(
          Code::sjis, Code::utf8, LineEnding::lf,
          [&out](std::string_view bytes) {
            out += bytes;
            return true;
          },
          {}, c.settings);
      bool ok = true;
      for (std::size_t at = 0; ok && at < text.size();) {
        const std::span<std::byte> room = stream.space();
        ASSERT_FALSE(room.empty());
        const std::size_t size = std::min(room.size(), text.size() - at);
        std::memcpy(room.data(), text.data() + at, size);
        ok = stream.commit(size);
        at += size;
      }
      ok = ok && stream.finish();
      EXPECT_EQ(ok, whole.ok());
      EXPECT_EQ(stream.error().kind, whole.error.kind);
      EXPECT_EQ(stream.error().offset, c.settings.locate ? whole.error.offset : 0u);
      if (!ok) continue;
      EXPECT_EQ(out, whole.bytes);
      EXPECT_EQ(stream.lineEndingsSeen(), c.settings.locate ? unsigned{kSeenCrLf | kSeenLf} : 0u);
    }
  }
}

// The error policies through every door of the layer: convert, Stream,
// Text and check agree on the bytes, the count and the first change, which
// carries its bytes or its character.
TEST(CppLayerTest, OptionsChangeAndTell) {
  // 😀 has no sjis code; C0 AF is an overlong '/'; E3 81 is cut off.
  const std::string text = "a\xF0\x9F\x98\x80\nb\xC0\xAF\xE3\x81"s;
  const struct {
    Options options;
    std::string sjis;
  } cases[] = {
      {{Errors::replace, 0, false}, "a?\nb???"},
      {{Errors::replace, U'\u3013', false}, "a\x81\xAC\nb\x81\xAC\x81\xAC\x81\xAC"},
      {{Errors::skip, 0, false}, "a\nb"},
      {{Errors::html, 0, true}, "a&#128512;\nb&#65533;&#65533;&#65533;"},
  };
  for (const auto& c : cases) {
    const Result r = convert(text, Code::utf8, Code::sjis, LineEnding::lf, c.options);
    ASSERT_TRUE(r.ok()) << c.sjis;
    EXPECT_EQ(r.bytes, c.sjis);
    EXPECT_EQ(r.changes, 4u);
    EXPECT_EQ(r.first_change.kind, ErrorKind::unmapped);
    EXPECT_EQ(r.first_change.offset, 1u);
    EXPECT_EQ(r.first_change.character, U'\U0001F600');

    std::string streamed;
    Stream stream(
        Code::utf8, Code::sjis, LineEnding::lf,
        [&](std::string_view bytes) {
          streamed += bytes;
          return true;
        },
        c.options);
    for (char b : text) ASSERT_TRUE(stream.feed(std::string_view(&b, 1)));
    ASSERT_TRUE(stream.finish());
    EXPECT_EQ(streamed, c.sjis);
    EXPECT_EQ(stream.changeCount(), 4u);
    EXPECT_EQ(stream.firstChange().offset, 1u);

    const std::optional<Text> decoded = Text::decode(text, Code::utf8, c.options);
    ASSERT_TRUE(decoded.has_value());
    EXPECT_EQ(decoded->encode(Code::sjis, c.options), c.sjis);
  }
  EXPECT_FALSE(convert(text, Code::utf8, Code::sjis).ok());
  EXPECT_FALSE(Text::decode(text, Code::utf8).has_value());  // strict: malformed

  // check lists every problem with its place, bytes or character.
  const std::vector<Error> problems = check(text, Code::utf8, Code::sjis);
  ASSERT_EQ(problems.size(), 4u);
  EXPECT_EQ(problems[0].kind, ErrorKind::unmapped);
  EXPECT_EQ(problems[0].character, U'\U0001F600');
  EXPECT_EQ(problems[1].kind, ErrorKind::malformed);
  EXPECT_EQ(problems[1].offset, 7u);
  EXPECT_EQ(problems[1].line, 2u);
  EXPECT_EQ(problems[1].column, 2u);
  EXPECT_EQ(problems[1].byte_count, 1u);  // C0 leads nothing
  EXPECT_EQ(problems[1].bytes[0], 0xC0);
  EXPECT_EQ(problems[3].offset, 9u);
  EXPECT_EQ(problems[3].byte_count, 2u);
  EXPECT_EQ(problems[3].bytes[1], 0x81);
  EXPECT_EQ(check(text, Code::utf8, Code::autodetect).size(), 3u);  // decoding only
  EXPECT_EQ(check(text, Code::utf8, Code::sjis, 2).size(), 2u);
  EXPECT_TRUE(check(kUtf8, Code::autodetect, Code::sjis).empty());
}

// Counts the blocks an allocator hands out and takes back.
struct Counts {
  int allocated = 0;
  int released = 0;
};

TEST(CppLayerTest, TextOwnsItsBlockAndRemembersItsAllocator) {
  Counts counts;
  const Allocator counting{[](void* context, std::size_t bytes) -> void* {
                             ++static_cast<Counts*>(context)->allocated;
                             return std::malloc(bytes == 0 ? 1 : bytes);
                           },
                           [](void* context, void* block) {
                             if (block != nullptr) ++static_cast<Counts*>(context)->released;
                             std::free(block);
                           },
                           &counts};
  {
    std::optional<Text> text = Text::decode(kUtf8, Code::utf8, counting);
    ASSERT_TRUE(text.has_value());
    EXPECT_EQ(text->characters(), 4u);
    EXPECT_EQ(text->bytes().size(), 8u);
    EXPECT_EQ(text->encode(Code::sjis), "\x93\xfa\x96\x7b\x8c\xea\n"s);
    EXPECT_FALSE(Text::decode("\xff"s, Code::utf8).has_value());

    Text moved = std::move(*text);
    EXPECT_TRUE(text->empty());
    EXPECT_EQ(moved.characters(), 4u);
    std::vector<Text> texts;
    texts.push_back(std::move(moved));
    texts.emplace_back();
    texts.back() = std::move(texts.front());
    EXPECT_EQ(texts.back().allocator().context, &counts);
  }
  EXPECT_GT(counts.allocated, 0);
  EXPECT_EQ(counts.released, counts.allocated);
}

// Threads that share one Stream take turns: four threads feed lines into
// one stream that keeps its output, and every line comes out whole.
TEST(SharedStreamTest, ThreadsTakeTurns) {
  Stream stream(Code::utf8, Code::sjis, LineEnding::lf);
  const std::string line = "\xE6\x97\xA5\xE6\x9C\xAC\n";  // 日本 LF
  std::string output;
  std::vector<std::thread> threads;
  std::mutex mutex;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&] {
      for (int i = 0; i < 500; ++i) {
        EXPECT_TRUE(stream.feed(line));
        EXPECT_TRUE(stream.flush());
        const std::string got = stream.takeOutput();
        const std::lock_guard<std::mutex> lock(mutex);
        output += got;
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_TRUE(stream.finish());
  output += stream.takeOutput();
  std::string expected;
  for (int i = 0; i < 4 * 500; ++i) expected += "\x93\xFA\x96\x7B\n";
  EXPECT_EQ(output, expected);
}

}  // namespace
}  // namespace mek
