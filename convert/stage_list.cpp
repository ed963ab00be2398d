#include "convert/stage_list.h"

#include <algorithm>
#include <utility>

namespace mek {

// The stages the options can ask for, in the order they run within their
// kind. Each is made by a function in a file of its own; adding a stage is
// that file and its line here.
bool repairStage(const StageRequest& request, Stage& stage);            // repair_stage.cpp
bool foldStage(const StageRequest& request, Stage& stage);              // fold_stage.cpp
bool lineEndingStage(const StageRequest& request, Stage& stage);        // line_ending_stage.cpp
bool mimeDecodingStage(const StageRequest& request, Stage& stage);      // mime_stages.cpp
bool mimeEncodingStage(const StageRequest& request, Stage& stage);      // mime_stages.cpp
bool transferDecodingStage(const StageRequest& request, Stage& stage);  // transfer_stages.cpp
bool transferEncodingStage(const StageRequest& request, Stage& stage);  // transfer_stages.cpp
constexpr StageMaker kStageMakers[] = {
    &transferDecodingStage, &mimeDecodingStage, &repairStage,          &foldStage,
    &mimeEncodingStage,     &lineEndingStage,   &transferEncodingStage};

std::vector<Stage> stageList(const StageRequest& request, Stage decoder, Stage encoder,
                             std::span<const StageMaker> added) {
  std::vector<Stage> stages;
  decoder.kind = StageKind::decoder;
  encoder.kind = StageKind::encoder;
  stages.push_back(std::move(decoder));
  stages.push_back(std::move(encoder));
  const auto add = [&](StageMaker make) {
    Stage stage;
    if (make(request, stage)) stages.push_back(std::move(stage));
  };
  for (const StageMaker make : kStageMakers) add(make);
  for (const StageMaker make : added) add(make);
  std::stable_sort(stages.begin(), stages.end(),
                   [](const Stage& a, const Stage& b) { return a.kind < b.kind; });
  return stages;
}

}  // namespace mek
