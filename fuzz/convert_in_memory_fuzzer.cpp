// The whole conversion in memory (detection when the input code is 0, then
// decoder, line endings and encoder) for input code, output code and line
// ending taken from the first three bytes. Every area is released (the leak
// checker runs), and the driver prints nothing on success and exactly one
// known message on failure.

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "fuzz/fuzz_support.h"
#include "mek/codes.h"

namespace {

char messages[256];
std::FILE* messageStream = nullptr;

bool isMessage(const char* text) {
  return std::strcmp(text, "cannot convert bytes\n") == 0 ||
         std::strcmp(text, "cannot detect the input code\n") == 0 ||
         std::strcmp(text, "cannot allocate enough memory\n") == 0;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  messageStream = mek::fuzz::captureMessages(messages, sizeof messages);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 3) return 0;
  const int inputCode = data[0] % mek::kCodeCount;  // 0 asks for detection
  const int outputCode = 1 + data[1] % (mek::kCodeCount - 1);
  const int lineEnding = 1 + data[2] % 3;

  std::rewind(messageStream);
  std::memset(messages, 0, sizeof messages);
  // Copying the output reads it to its last byte.
  const mek::fuzz::WholeResult whole =
      mek::fuzz::convertWhole(data + 3, size - 3, inputCode, outputCode, lineEnding);
  std::fflush(messageStream);
  MEK_FUZZ_CHECK(whole.ok ? messages[0] == '\0' : isMessage(messages));
  return 0;
}
