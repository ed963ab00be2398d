#include "tests/test_support.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>

namespace mek::test {

Bytes hex(const std::string& digits) {
  Bytes bytes;
  int high = -1;
  for (char c : digits) {
    int v;
    if (c >= '0' && c <= '9') {
      v = c - '0';
    } else if (c >= 'a' && c <= 'f') {
      v = c - 'a' + 10;
    } else if (c >= 'A' && c <= 'F') {
      v = c - 'A' + 10;
    } else {
      continue;
    }
    if (high < 0) {
      high = v;
    } else {
      bytes.push_back(static_cast<std::uint8_t>(high * 16 + v));
      high = -1;
    }
  }
  return bytes;
}

std::string toHex(const Bytes& bytes) {
  static const char* digits = "0123456789ABCDEF";
  std::string s;
  for (std::uint8_t b : bytes) {
    if (!s.empty()) s += ' ';
    s += digits[b >> 4];
    s += digits[b & 15];
  }
  return s;
}

Bytes readFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void writeFile(const std::filesystem::path& path, const Bytes& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
}

void writeFile(const std::filesystem::path& path, const std::string& text) {
  writeFile(path, Bytes(text.begin(), text.end()));
}

ScratchDir::ScratchDir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "mek-test-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) std::abort();
  path_ = pattern;
}

ScratchDir::~ScratchDir() {
  std::error_code ignored;
  std::filesystem::permissions(path_, std::filesystem::perms::owner_all,
                               std::filesystem::perm_options::add, ignored);
  std::filesystem::remove_all(path_, ignored);
}

std::string shellQuote(const std::string& word) {
  std::string quoted = "'";
  for (char c : word) {
    if (c == '\'') {
      quoted += "'\\''";
    } else {
      quoted += c;
    }
  }
  return quoted + "'";
}

namespace {

std::string slurp(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

}  // namespace

Process runMek(const ScratchDir& dir, const std::string& arguments, const std::string& shellSuffix,
               const std::string& environment) {
  const auto out = dir / ".stdout";
  const auto err = dir / ".stderr";
  std::string command = "cd " + shellQuote(dir.path().string()) + " && " + environment +
                        shellQuote(MEK_EXECUTABLE) + " " + arguments + " " + shellSuffix;
  if (shellSuffix.find('>') == std::string::npos) command += " >" + shellQuote(out.string());
  command += " 2>" + shellQuote(err.string());
  int raw = std::system(command.c_str());
  Process p;
  if (raw != -1 && WIFEXITED(raw)) p.status = WEXITSTATUS(raw);
  p.out = slurp(out);
  p.err = slurp(err);
  std::filesystem::remove(out);
  std::filesystem::remove(err);
  return p;
}

Process runScript(const ScratchDir& dir, const std::string& script) {
  writeFile(dir / ".run.sh", "MEK=" + shellQuote(MEK_EXECUTABLE) + "\n" + script + "\n");
  const std::string command =
      "cd " + shellQuote(dir.path().string()) + " && sh .run.sh > .out 2> .err";
  const int raw = std::system(command.c_str());
  Process p;
  if (raw != -1 && WIFEXITED(raw)) p.status = WEXITSTATUS(raw);
  p.out = slurp(dir / ".out");
  p.err = slurp(dir / ".err");
  for (const char* name : {".run.sh", ".out", ".err"}) std::filesystem::remove(dir / name);
  return p;
}

}  // namespace mek::test
