#pragma once

// Helpers shared by the tests: running one converter over a byte string, and
// running the real executable with files in a scratch folder.

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "mek/converter.h"
#include "mek/mek.h"

namespace mek::test {

// The code number a typed name finds, as the command line takes it; 0
// (auto) for none.
inline int findCode(const char* name) {
  return numberOf(codeFor(name).value_or(Code::autodetect));
}

using Bytes = std::vector<std::uint8_t>;

// Bytes from a string of hex digits, white space ignored ("00 41 d8 3d").
Bytes hex(const std::string& digits);
// Hex digits of bytes, separated by spaces, for readable failures.
std::string toHex(const Bytes& bytes);

Bytes readFile(const std::filesystem::path& path);
void writeFile(const std::filesystem::path& path, const Bytes& bytes);
void writeFile(const std::filesystem::path& path, const std::string& text);

// A fresh scratch folder, removed when the object goes away.
class ScratchDir {
 public:
  ScratchDir();
  ~ScratchDir();
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;
  const std::filesystem::path& path() const { return path_; }
  std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

 private:
  std::filesystem::path path_;
};

struct Process {
  int status = -1;  // exit status, or -1 when it did not exit normally
  std::string out;
  std::string err;
};

// Runs the mek executable with `arguments` (shell words, quoted as needed)
// in `dir`. `shellSuffix` is appended verbatim (e.g. "< in.txt"), and
// `environment` (e.g. "MEK_WORKERS=0 ") put before the executable.
Process runMek(const ScratchDir& dir, const std::string& arguments,
               const std::string& shellSuffix = "", const std::string& environment = "");

// Runs `script`, shell text that starts the tool as "$MEK", from a script
// file in `dir`, so that the command line may be longer than one shell
// argument can be. The status is the script's (128 + N for a command the
// script ran last that ended by signal N).
Process runScript(const ScratchDir& dir, const std::string& script);

// Quotes one word for the shell.
std::string shellQuote(const std::string& word);

}  // namespace mek::test
