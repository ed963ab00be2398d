// One converter instance of the registry, chosen at build time by
// MEK_FUZZ_STAGE (0 decoder, 1 encoder, 2 line endings, 3 encoder with
// twins) and MEK_FUZZ_CODE, under the error policy that the first input
// byte chooses. Checks the measure/convert contract on the rest.

#include <cstdio>

#include "fuzz/fuzz_support.h"

namespace {

const mek::Converter* const kConverter = mek::fuzz::stageConverter(MEK_FUZZ_STAGE, MEK_FUZZ_CODE);

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  if (kConverter == nullptr) {
    std::fprintf(stderr, "no converter for stage %d code %d yet: every input is skipped\n",
                 MEK_FUZZ_STAGE, MEK_FUZZ_CODE);
  }
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (kConverter == nullptr || size == 0) return 0;
  const mek::ErrorPolicy policy = mek::fuzz::stagePolicy(MEK_FUZZ_STAGE, MEK_FUZZ_CODE, data[0]);
  const mek::fuzz::StageResult result = mek::fuzz::runChecked(
      *kConverter, data + 1, size - 1, MEK_FUZZ_STAGE == 2 ? nullptr : &policy);
  if (result.ok && (MEK_FUZZ_STAGE == 0 || MEK_FUZZ_STAGE == 2)) {
    // Decoders and the line-ending stage produce whole internal-form units.
    MEK_FUZZ_CHECK(result.output.size() % 2 == 0);
  }
  return 0;
}
