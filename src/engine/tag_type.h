// The engine's view of a tag type: the columns that address checking and
// command scheduling read. The controller's rows live in the protocol layer.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

namespace tk571 {

inline constexpr int32_t kNoLimit = -1;

struct TagTypeRow {
  std::string_view Name;
  uint8_t Readable;
  uint8_t Writable;
  uint8_t FormatCode;  // value text kind of reads
  // Channel limits per device type code; the controller has type code 0 only,
  // every other code has no channel.
  int32_t ChannelMin;  // also the default channel
  int32_t ChannelMax;
  int32_t BitMin;  // also the default bit
  int32_t BitMax;
};

using TagTypeTable = std::span<const TagTypeRow>;

}  // namespace tk571
