// Runs the real executable over a small sample in every UTF-16 and UTF-32
// form, directly and between each pair of forms, and compares the bytes with
// the sample's expected encodings.

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/test_support.h"

namespace mek {
namespace {

namespace fs = std::filesystem;
using test::Bytes;

const std::u32string kSample =
    U"Hello, mek!\n"
    U"ひらがな カタカナ 漢字 全角　ＡＢＣ ｶﾞ\n"
    U"😀 𠮷野家 𝄞 \U0010FFFF\n"
    U"mark \uFEFF, \uFFFE, \uE000, \uD7FF, \u00E9\n"
    U"last line without a line ending";

Bytes utf8Of(const std::u32string& text) {
  Bytes out;
  for (char32_t c : text) {
    if (c < 0x80) {
      out.push_back(static_cast<std::uint8_t>(c));
    } else if (c < 0x800) {
      out.insert(out.end(), {static_cast<std::uint8_t>(0xC0 | (c >> 6)),
                             static_cast<std::uint8_t>(0x80 | (c & 0x3F))});
    } else if (c < 0x10000) {
      out.insert(out.end(), {static_cast<std::uint8_t>(0xE0 | (c >> 12)),
                             static_cast<std::uint8_t>(0x80 | ((c >> 6) & 0x3F)),
                             static_cast<std::uint8_t>(0x80 | (c & 0x3F))});
    } else {
      out.insert(out.end(), {static_cast<std::uint8_t>(0xF0 | (c >> 18)),
                             static_cast<std::uint8_t>(0x80 | ((c >> 12) & 0x3F)),
                             static_cast<std::uint8_t>(0x80 | ((c >> 6) & 0x3F)),
                             static_cast<std::uint8_t>(0x80 | (c & 0x3F))});
    }
  }
  return out;
}

void putUnit(Bytes& out, std::uint32_t value, int width, bool little) {
  for (int i = 0; i < width; ++i) {
    const int shift = little ? 8 * i : 8 * (width - 1 - i);
    out.push_back(static_cast<std::uint8_t>(value >> shift));
  }
}

// The sample in UTF-16 or UTF-32 (`width` 2 or 4), optionally after a mark.
Bytes encoded(const std::u32string& text, int width, bool little, bool mark) {
  Bytes out;
  if (mark) putUnit(out, 0xFEFF, width, little);
  for (char32_t c : text) {
    if (width == 2 && c >= 0x10000) {
      putUnit(out, 0xD800 | ((c - 0x10000) >> 10), 2, little);
      putUnit(out, 0xDC00 | (c & 0x3FF), 2, little);
    } else {
      putUnit(out, c, width, little);
    }
  }
  return out;
}

struct Form {
  int code;
  const char* name;
  Bytes lead;  // how the output must begin: the mark, if any, then "H"
  Bytes bytes;
};

std::vector<Form> forms() {
  return {
      {5, "utf16_be", {0x00, 'H'}, encoded(kSample, 2, false, false)},
      {6, "utf16_le", {'H', 0x00}, encoded(kSample, 2, true, false)},
      {7, "utf16_be_bom", {0xFE, 0xFF, 0x00, 'H'}, encoded(kSample, 2, false, true)},
      {8, "utf16_le_bom", {0xFF, 0xFE, 'H', 0x00}, encoded(kSample, 2, true, true)},
      {9, "utf32_be", {0x00, 0x00, 0x00, 'H'}, encoded(kSample, 4, false, false)},
      {10, "utf32_le", {'H', 0x00, 0x00, 0x00}, encoded(kSample, 4, true, false)},
      {11,
       "utf32_be_bom",
       {0x00, 0x00, 0xFE, 0xFF, 0x00, 0x00, 0x00, 'H'},
       encoded(kSample, 4, false, true)},
      {12,
       "utf32_le_bom",
       {0xFF, 0xFE, 0x00, 0x00, 'H', 0x00, 0x00, 0x00},
       encoded(kSample, 4, true, true)},
  };
}

class UtfEndToEnd : public ::testing::Test {
 protected:
  fs::path path(const std::string& name) const { return dir_ / name; }
  static void write(const fs::path& file, const Bytes& bytes) { test::writeFile(file, bytes); }
  static Bytes read(const fs::path& file) { return test::readFile(file); }

  // Converts `from` (input code `in`) to a fresh file with output code `out`
  // and returns its bytes.
  Bytes run(const std::string& in, const fs::path& from, const std::string& out) {
    const fs::path to = path("out_" + std::to_string(runs_++));
    const std::string command = std::string("\"") + MEK_EXECUTABLE + "\" -i" + in + " \"" +
                                from.string() + "\" -o" + out + " \"" + to.string() + "\"";
    EXPECT_EQ(std::system(command.c_str()), 0) << command;
    return read(to);
  }

  test::ScratchDir dir_;
  int runs_ = 0;
};

TEST_F(UtfEndToEnd, FromUtf8AndBack) {
  const fs::path sample = path("sample.utf8");
  write(sample, utf8Of(kSample));
  for (const Form& form : forms()) {
    SCOPED_TRACE(form.name);
    const Bytes got = run("utf8", sample, form.name);
    ASSERT_GE(got.size(), form.lead.size());
    EXPECT_EQ(Bytes(got.begin(), got.begin() + form.lead.size()), form.lead);
    EXPECT_TRUE(got == form.bytes);
    const fs::path file = path(std::string("sample.") + form.name);
    write(file, got);
    EXPECT_TRUE(run(form.name, file, "utf8") == utf8Of(kSample));
  }
}

// A marked output code writes its mark even for empty input; the others
// write nothing.
TEST_F(UtfEndToEnd, MarkOnEmptyInput) {
  const fs::path empty = path("empty.utf8");
  write(empty, {});
  for (const Form& form : forms()) {
    // The lead less its "H" unit is the mark alone, or nothing.
    const std::size_t width = form.code <= 8 ? 2 : 4;
    EXPECT_EQ(run("utf8", empty, form.name), Bytes(form.lead.begin(), form.lead.end() - width))
        << form.name;
  }
}

// Every UTF-16/UTF-32 form converts straight into every other one. The two
// marked input names of one width are the same decoder, so each reads the
// other's output as well.
TEST_F(UtfEndToEnd, EveryPair) {
  const std::vector<Form> all = forms();
  for (const Form& from : all) {
    const fs::path file = path(std::string("pair.") + from.name);
    write(file, from.bytes);
    for (const Form& to : all) {
      SCOPED_TRACE(std::string(from.name) + " to " + to.name);
      EXPECT_TRUE(run(from.name, file, to.name) == to.bytes);
    }
  }
  const char* twins[][2] = {{"utf16_be_bom", "utf16_le_bom"}, {"utf32_be_bom", "utf32_le_bom"}};
  for (const auto& twin : twins) {
    for (int i = 0; i < 2; ++i) {
      SCOPED_TRACE(std::string(twin[i]) + " read as " + twin[1 - i]);
      EXPECT_TRUE(run(twin[1 - i], path(std::string("pair.") + twin[i]), "utf8") ==
                  utf8Of(kSample));
    }
  }
}

}  // namespace
}  // namespace mek
