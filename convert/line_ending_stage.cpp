#include "convert/stage_list.h"
#include "mek/end_of_line.h"
#include "mek/registry.h"

namespace mek {
namespace {

// Most text has the line endings asked for already; then the stage would
// copy it unchanged. A CR at the end of a piece may still pair with an LF.
bool linesPass(const Converter& converter, const std::uint8_t* begin, const std::uint8_t* end,
               bool last) {
  const bool endsWithCr = end - begin >= 2 && end[-2] == 0 && end[-1] == 0x0D;
  return static_cast<const EndOfLineConverter&>(converter).leavesUnchanged(begin, end) &&
         (last || !endsWithCr);
}

}  // namespace

// Every line ending written as the one asked for (or kept), after the folds.
// A CR at the end of a piece is held back for the LF that may follow.
bool lineEndingStage(const StageRequest& request, Stage& stage) {
  const EndOfLineConverter* lines = findLineEndConverter(request.line_ending);
  if (lines == nullptr) return false;
  stage.kind = StageKind::text;
  stage.stream = StreamStage(lines, ErrorKind::malformed);
  stage.passes = &linesPass;
  return true;
}

}  // namespace mek
