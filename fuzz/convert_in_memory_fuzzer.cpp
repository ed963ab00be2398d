// The whole conversion in memory (detection when the input code is 0, then
// decoder, line endings and encoder) for input code, output code and line
// ending taken from the first three bytes. Every area is released (the leak
// checker runs), nothing is printed, and a failure has a known kind.

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "fuzz/fuzz_support.h"
#include "mek/codes.h"
#include "mek/detail/in_memory.h"

namespace {

char messages[256];
std::FILE* messageStream = nullptr;

bool isFailureKind(std::int32_t kind) {
  return kind == mek::kMalformedInput || kind == mek::kUnmappable || kind == mek::kUndetected ||
         kind == mek::kOutputTooLarge;
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
  MEK_FUZZ_CHECK(messages[0] == '\0');
  MEK_FUZZ_CHECK(whole.ok || isFailureKind(whole.failure));
  return 0;
}
