#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "codec/stream_stage.h"
#include "convert/repair_stage.h"
#include "mek/detail/conversion_stream.h"
#include "mek/types.h"

namespace mek {

// Where a stage stands in a ConversionStream's list, by what it takes and
// what it gives. The list runs the kinds in this order.
enum class StageKind : unsigned char {
  // Input bytes to input bytes (a transfer decoding): the decoder reads its
  // output, and the places of failures and changes count that output's
  // bytes.
  input_bytes,
  decoder,  // input bytes to text, the internal form (UTF-16BE units)
  text,     // text to text: the folds, the line endings
  encoder,  // text to output bytes
  output_bytes,
};

// One stage of a ConversionStream. Its contract is its converter's piece
// scan, as StreamStage runs it: convert a piece; leave unconsumed what a
// later piece can still change (a sequence cut off, a kana that a mark may
// join, a CR that an LF may follow), which is put back before the next
// piece; and convert everything when told that the piece is the last.
struct Stage {
  StageKind kind = StageKind::text;
  StreamStage stream;
  // A text stage that may hold back a character that a later stage then
  // refuses or changes: that failure or change is placed where the held
  // character was read, not where the text went on.
  bool holds_characters = false;
  // A text stage that holds whole lines or header fields (StreamStage::
  // holdUpTo): what it refuses or changes (ErrorKind::malformed or
  // unmapped) is placed at the character it names in what it holds;
  // ErrorKind::none for the other stages.
  ErrorKind holds_lines = ErrorKind::none;
  // For such a stage whose output is not its input: where in [begin, end),
  // what it held, the text that gave the (skip + 1)th character c of its
  // output begins; null when there is none. A character that a later stage
  // refuses is placed there.
  const std::uint8_t* (*source_of)(const std::uint8_t* begin, const std::uint8_t* end, char32_t c,
                                   std::size_t skip) = nullptr;
  // When not null and the stage carries nothing: whether the stage would
  // give [begin, end) back as it stands, so that it need not copy it.
  bool (*passes)(const Converter& converter, const std::uint8_t* begin, const std::uint8_t* end,
                 bool last) = nullptr;
  // A stage that holds whole lines (--repair) runs this instead of `stream`.
  std::optional<RepairStage> repair;
};

// What the stream was asked for, from which its stages are made.
struct StageRequest {
  int input_code = 0;
  int output_code = 0;
  int line_ending = 0;
  Fold folds = Fold::none;
  Transfer transfer_in = Transfer::none;   // taken off before decoding
  Transfer transfer_out = Transfer::none;  // put on after encoding
  bool mime_decode = false;                // encoded words of the header block read
  Transfer mime_encode = Transfer::none;   // and written, as B or Q words
  bool repair = false;                     // mojibake taken back (RepairStage)
  const ErrorPolicy* policy = nullptr;     // of the stages that decode or encode
};

// The list of a stream: the stages that `request` asks for (the list in
// stage_list.cpp) and the `added`
// ones (a maker that answers false adds none), placed around `decoder` and
// `encoder` by their kinds, in the order given within a kind. Throws
// std::bad_alloc.
std::vector<Stage> stageList(const StageRequest& request, Stage decoder, Stage encoder,
                             std::span<const StageMaker> added);

}  // namespace mek
