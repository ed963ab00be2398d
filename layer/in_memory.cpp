#include "mek/detail/in_memory.h"

#include "japanese/text_fold.h"
#include "mek/detect.h"
#include "mek/registry.h"
#include "mek/stage.h"

namespace mek {
namespace {

// The three stages over the whole text at once; the decoder and the encoder
// under `policy`, whose changes are added up in `buffer.changes`.
bool convertStages(ConversionBuffer& buffer, int inputCode, int outputCode, int lineEnding,
                   const ErrorPolicy& policy, Fold folds) {
  if (inputCode == kCodeAuto) {
    inputCode = detectEncoding(buffer.out, buffer.out + buffer.size);
    if (inputCode == kCodeAuto) {
      buffer.size = kUndetected;
      return false;
    }
  }
  const Converter* decoder = findDecoder(inputCode);
  const EndOfLineConverter* lineEnd = findLineEndConverter(lineEnding);
  const Converter* encoder = findEncoder(outputCode);
  if (decoder == nullptr || lineEnd == nullptr || encoder == nullptr) {
    // A code whose converter is not available cannot be converted.
    buffer.size = kMalformedInput;
    return false;
  }
  buffer.policy = &policy;
  buffer.changes = 0;
  buffer.first_change = nullptr;
  if (!runStageQuietly(&buffer, decoder)) return false;
  const std::int32_t decoded = buffer.changes;
  if (const Converter* fold = findTextFold(folds); fold != nullptr) {
    buffer.policy = nullptr;
    if (!runStageQuietly(&buffer, fold)) return false;
  }
  // Most text already has the line endings asked for; copying it into a
  // fresh area would change nothing.
  buffer.policy = nullptr;
  if (lineEnd->leavesUnchanged(buffer.out, buffer.out + buffer.size)) {
    skipStage(&buffer);
  } else if (!runStageQuietly(&buffer, lineEnd)) {
    return false;
  }
  buffer.policy = &policy;
  const bool ok = runStageQuietly(&buffer, encoder);
  buffer.policy = nullptr;
  buffer.changes += decoded;
  return ok;
}

}  // namespace

bool convertInMemory(ConversionBuffer& buffer, int inputCode, int outputCode, int lineEnding,
                     bool fallback, Fold folds) {
  return convertInMemory(buffer, inputCode, outputCode, lineEnding,
                         errorPolicyFor(Errors::strict, fallback, 0, outputCode), folds);
}

bool convertInMemory(ConversionBuffer& buffer, int inputCode, int outputCode, int lineEnding,
                     const ErrorPolicy& policy, Fold folds) {
  return convertStages(buffer, inputCode, outputCode, lineEnding, policy, folds);
}

const char* inMemoryMessage(std::int32_t size) {
  if (size == kUndetected) return "cannot detect the input code";
  if (size == kOutputTooLarge) return "cannot allocate enough memory";
  return "cannot convert bytes";
}

}  // namespace mek
