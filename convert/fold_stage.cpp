#include "convert/stage_list.h"
#include "japanese/text_fold.h"

namespace mek {

// The folds of the decoded text (Fold), before the line endings. A kana that
// a mark in the next piece may still join is held back for that piece.
bool foldStage(const StageRequest& request, Stage& stage) {
  const Converter* fold = findTextFold(request.folds);
  if (fold == nullptr) return false;
  stage.kind = StageKind::text;
  stage.stream = StreamStage(fold, ErrorKind::malformed);
  stage.holds_characters = true;
  return true;
}

}  // namespace mek
