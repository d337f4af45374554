// One communication command: a ready-made request for one device, the tags
// it serves and its scheduling state. A command owns the commands chained
// behind it, so releasing the head releases the whole chain exactly once.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "engine/tag_value.h"

namespace tk571 {

// Requests, type names and expected answers are short strings: a length
// byte and at most 255 characters.
inline constexpr std::size_t kShortStringMax = 255;
inline void CutToShortString(std::string& text) {
  if (text.size() > kShortStringMax) text.resize(kShortStringMax);
}

using TIndexArray = std::vector<int32_t>;
using TValueArray = std::vector<TagValue>;

namespace command_flags {
inline constexpr uint16_t kWrite = 1;
inline constexpr uint16_t kTagBound = 2;
inline constexpr uint16_t kReleaseAfterRun = 8;
inline constexpr uint16_t kRead = kTagBound;
inline constexpr uint16_t kWriteCommand = kWrite | kTagBound | kReleaseAfterRun;
}  // namespace command_flags

namespace retry_mode {
inline constexpr uint8_t kSendAgain = 1;
inline constexpr uint8_t kGiveUp = 2;
inline constexpr uint8_t kNextInChain = 3;
}  // namespace retry_mode

struct TCommand {
  uint16_t Flags = 0;
  uint8_t RetryMode = 0;
  TIndexArray Indexes;
  std::string Request;
  std::string Answer;
  std::string TypeName;
  int32_t TypeIndex = 0;
  uint8_t IsWrite = 0;
  int32_t StartAddr = 0;
  int32_t EndAddr = 0;
  int32_t HighChannel = 0;
  int32_t LowChannel = 0;
  uint8_t Sealed = 0;
  std::string Response;
  int32_t DevNo = 0;
  int32_t Interval = 0;
  int32_t Wait = 0;
  uint32_t LastTick = 0;
  int32_t RawValue = 0;
  TagValue Value;
  float Quality = 0.0f;
  std::unique_ptr<TCommand> Next;
  uint32_t QueuedTick = 0;
  TValueArray Values;
  int32_t FailCount = 0;

  bool HasFlag(uint16_t flag) const { return (Flags & flag) != 0; }

  // Releases a long chain without deep recursion.
  ~TCommand() {
    std::unique_ptr<TCommand> next = std::move(Next);
    while (next) next = std::move(next->Next);
  }
};

using CommandPtr = std::unique_ptr<TCommand>;

}  // namespace tk571
