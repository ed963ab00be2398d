#include "mek/in_memory.h"

#include <cstdio>

#include "mek/detect.h"
#include "mek/registry.h"
#include "mek/stage.h"
#include "mek/text_fold.h"

namespace mek {
namespace {

// The three stages over the whole text at once.
bool convertStages(ConversionBuffer& buffer, int inputCode, int outputCode, int lineEnding,
                   bool fallback, unsigned folds) {
  if (inputCode == kCodeAuto) inputCode = detectEncoding(buffer.out, buffer.out + buffer.size);
  const Converter* decoder = findDecoder(inputCode);
  const EndOfLineConverter* lineEnd = findLineEndConverter(lineEnding);
  const Converter* encoder = findEncoder(outputCode, fallback);
  if (decoder == nullptr || lineEnd == nullptr || encoder == nullptr) {
    // A code whose converter is not available cannot be converted.
    std::fputs("cannot convert bytes\n", stderr);
    return false;
  }
  if (!runStage(&buffer, decoder)) return false;
  if (const Converter* fold = findTextFold(folds); fold != nullptr && !runStage(&buffer, fold)) {
    return false;
  }
  // Most text already has the line endings asked for; copying it into a
  // fresh area would change nothing.
  if (lineEnd->leavesUnchanged(buffer.out, buffer.out + buffer.size)) {
    skipStage(&buffer);
  } else if (!runStage(&buffer, lineEnd)) {
    return false;
  }
  return runStage(&buffer, encoder);
}

}  // namespace

bool convertInMemory(ConversionBuffer& buffer, int inputCode, int outputCode, int lineEnding,
                     bool fallback, unsigned folds) {
  return convertStages(buffer, inputCode, outputCode, lineEnding, fallback, folds);
}

}  // namespace mek
