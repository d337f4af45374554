#include "engine/changed_tags.h"

#include <algorithm>

namespace tk571 {

void ChangedTags::Note(const std::vector<std::unique_ptr<TDLLTag>>& tags) {
  // A rebuilt tag list makes the noted positions meaningless.
  if (noted_.size() != tags.size()) Reset(tags.size());
  for (std::size_t i = 0; i < tags.size(); ++i) {
    const TDLLTag* tag = tags[i].get();
    if (!tag || (tag->Value == tag->ReportedValue && tag->Quality == tag->ReportedQuality &&
                 !tag->FailureUnreported))
      continue;
    Mark(i);
  }
}

void ChangedTags::Reset(std::size_t count) {
  noted_.assign(count, 0);
  positions_.clear();
}

void ChangedTags::Mark(std::size_t position) {
  if (position >= noted_.size() || noted_[position]) return;
  noted_[position] = 1;
  positions_.push_back(static_cast<int32_t>(position));
}

const std::vector<int32_t>& ChangedTags::Take() {
  taken_.swap(positions_);
  positions_.clear();
  std::vector<int32_t>& taken = taken_;
  for (int32_t position : taken) noted_[static_cast<std::size_t>(position)] = 0;
  // The host has always received its changes in the order of its tag list.
  // One note walks the list in order, so the positions are mostly in order
  // already.
  if (!std::is_sorted(taken.begin(), taken.end())) std::sort(taken.begin(), taken.end());
  return taken;
}

}  // namespace tk571
