// One step of the run-state machine as the line thread takes it, and the
// changed tags it leaves for the host.
#include <tuple>

#include "engine/base_dll_object.h"

namespace tk571 {

LineStepOutcome TBaseDLLObject::StepForLine() {
  const auto progress = [this] {
    return std::tuple(RunState_, RunEvent_, CurrentCommand_, Requests_);
  };
  const auto before = progress();
  ReadExecute();
  const bool moved = progress() != before;
  // Values change only where the machine moves: at the end of an exchange.
  if (moved) Changed_.Note(Tags_);
  const bool awaiting = RunState_ == rsIniting || RunState_ == rsReading || RunState_ == rsWriting;
  return {moved, awaiting && CommEnabled_ && !Stopped_};
}

void TBaseDLLObject::NoteChangedTags() {
  Changed_.Note(Tags_);
}

const std::vector<int32_t>& TBaseDLLObject::TakeChangedTags() {
  return Changed_.Take();
}

}  // namespace tk571
