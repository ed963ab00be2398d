// Times mek::convert over a whole file held in memory, as a caller of the
// C++ layer has it: prints the seconds of each of `runs` conversions (the
// file is read once, before the first).
//
// usage: in_memory FILE FROM TO [RUNS]

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>

#include "mek/codes.h"
#include "mek/mek.h"

namespace {

mek::Code codeNamed(const std::string& name) {
  for (int code = 1; code < mek::kCodeCount; ++code) {
    if (mek::name(static_cast<mek::Code>(code)) == name) return static_cast<mek::Code>(code);
  }
  std::fprintf(stderr, "unknown code %s\n", name.c_str());
  std::exit(2);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 4) {
    std::fputs("usage: in_memory FILE FROM TO [RUNS]\n", stderr);
    return 2;
  }
  std::ifstream file(argv[1], std::ios::binary);
  const std::string input((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  const mek::Code from = codeNamed(argv[2]);
  const mek::Code to = codeNamed(argv[3]);
  const int runs = argc > 4 ? std::atoi(argv[4]) : 1;
  for (int run = 0; run < runs; ++run) {
    const auto start = std::chrono::steady_clock::now();
    const mek::Result result = mek::convert(input, from, to);
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
    if (!result.ok()) {
      std::fputs("conversion failed\n", stderr);
      return 1;
    }
    std::printf("%.4f %zu\n", took.count(), result.bytes.size());
  }
  return 0;
}
