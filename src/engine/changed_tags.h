// The tags whose value or quality differs from what was last reported to
// the host, noted by the line thread as the exchanges set them, so that a
// host poll costs what changed and not what the tag list holds.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "engine/dll_tag.h"

namespace tk571 {

class ChangedTags {
 public:
  // Notes the position of every tag whose value or quality is not the
  // reported one.
  void Note(const std::vector<std::unique_ptr<TDLLTag>>& tags);
  // Forgets every note and expects a list of `count` tags.
  void Reset(std::size_t count);
  // Notes the tag at `position` of a list of the size given to Reset.
  void Mark(std::size_t position);
  // The noted positions in tag-list order, each once, valid until the next
  // Take; the note starts afresh.
  const std::vector<int32_t>& Take();

 private:
  std::vector<int32_t> positions_;
  // The positions handed out last; the two buffers swap, so a poll after
  // the first allocates nothing.
  std::vector<int32_t> taken_;
  std::vector<uint8_t> noted_;
};

}  // namespace tk571
