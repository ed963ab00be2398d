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
#include "mek/in_memory.h"

namespace {

// The driver's messages go to `stderr`. The C library lets a program assign
// that stream (glibc documents it), so the messages land in this memory
// stream while libFuzzer and the sanitizers keep writing to descriptor 2.
char messages[256];
std::FILE* messageStream = nullptr;

void release(mek::ConversionBuffer& buffer) {
  if (buffer.out != buffer.in_begin) std::free(buffer.out);
  std::free(const_cast<std::uint8_t*>(buffer.in_begin));
}

bool isMessage(const char* text) {
  return std::strcmp(text, "cannot convert bytes\n") == 0 ||
         std::strcmp(text, "cannot allocate enough memory\n") == 0;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  messageStream = fmemopen(messages, sizeof messages, "w");
  if (messageStream == nullptr) std::abort();
  stderr = messageStream;
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 3) return 0;
  const int inputCode = data[0] % mek::kCodeCount;  // 0 asks for detection
  const int outputCode = 1 + data[1] % (mek::kCodeCount - 1);
  const int lineEnding = 1 + data[2] % 3;
  const std::size_t length = size - 3;

  mek::ConversionBuffer buffer;
  buffer.out = static_cast<std::uint8_t*>(std::malloc(length == 0 ? 1 : length));
  if (length != 0) std::memcpy(buffer.out, data + 3, length);
  buffer.size = static_cast<std::int32_t>(length);

  std::rewind(messageStream);
  std::memset(messages, 0, sizeof messages);
  const bool ok = mek::convertInMemory(buffer, inputCode, outputCode, lineEnding);
  std::fflush(messageStream);
  if (ok) {
    MEK_FUZZ_CHECK(messages[0] == '\0');
    MEK_FUZZ_CHECK(buffer.size >= 0);
    MEK_FUZZ_CHECK(buffer.out != nullptr);
    // The result is readable to its last byte.
    volatile std::uint8_t sink = 0;
    for (std::int32_t i = 0; i < buffer.size; ++i) sink = sink ^ buffer.out[i];
  } else {
    MEK_FUZZ_CHECK(isMessage(messages));
  }
  release(buffer);
  return 0;
}
