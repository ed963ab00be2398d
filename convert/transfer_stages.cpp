#include "convert/stage_list.h"
#include "convert/transfer_codecs.h"

namespace mek {

// A transfer encoding taken off the input before it is decoded: the decoder,
// and the places of failures and changes, see the decoded bytes.
bool transferDecodingStage(const StageRequest& request, Stage& stage) {
  const Converter* decoding = findTransferDecoder(request.transfer_in);
  if (decoding == nullptr) return false;
  stage.kind = StageKind::input_bytes;
  stage.stream = StreamStage(decoding, ErrorKind::malformed);
  return true;
}

// A transfer encoding put on the output after it is encoded.
bool transferEncodingStage(const StageRequest& request, Stage& stage) {
  const Converter* encoding = findTransferEncoder(request.transfer_out);
  if (encoding == nullptr) return false;
  stage.kind = StageKind::output_bytes;
  stage.stream = StreamStage(encoding, ErrorKind::malformed);
  return true;
}

}  // namespace mek
