#include "convert/mime_words.h"
#include "convert/stage_list.h"

namespace mek {

// The encoded words of the header block decoded, before the other text
// stages. A header field is held whole, up to kMimeFieldLimit bytes, so that
// the words of its continuation lines join.
bool mimeDecodingStage(const StageRequest& request, Stage& stage) {
  if (!request.mime_decode) return false;
  stage.kind = StageKind::text;
  stage.stream =
      StreamStage(findMimeWordDecoder(), ErrorKind::malformed, 0, nullptr, request.policy);
  stage.stream.holdUpTo(kMimeFieldLimit);
  stage.holds_characters = true;
  stage.holds_lines = ErrorKind::malformed;
  stage.source_of = &mimeWordSource;
  return true;
}

// The header lines written as encoded words of the output code, after the
// folds and before the line endings. A line is held whole, up to
// kMimeFieldLimit bytes.
bool mimeEncodingStage(const StageRequest& request, Stage& stage) {
  const Converter* words = findMimeWordEncoder(request.output_code, request.mime_encode);
  if (words == nullptr) return false;
  stage.kind = StageKind::text;
  stage.stream = StreamStage(words, ErrorKind::malformed, 0, nullptr, request.policy);
  stage.stream.holdUpTo(kMimeFieldLimit);
  stage.holds_characters = true;
  stage.holds_lines = ErrorKind::unmapped;
  return true;
}

}  // namespace mek
