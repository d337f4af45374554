// The rules the driver applies to a tag when it starts, beyond the address
// check of TagEdAddr: the device must be configured in the parameter block
// and the channel must lie within the range of the tag's kind. A tag that
// breaks them is dropped at the start, with its reason only in the run log;
// the host tells it before the start.
#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace tk571::host {

// A normal form as TagEdAddr writes it: TYPE DEVICE ':' CHANNEL '.' BIT.
struct NormalAddress {
  std::string type;
  int device = -1;
  int channel = -1;
};
std::optional<NormalAddress> ParseNormalAddress(std::string_view text);

// The addresses the driver keeps for itself (link status and switches);
// TagEdAddr calls them invalid, the start accepts them.
bool IsInternalAddress(std::string_view address);

// Why the start drops a tag with this normal form, or empty.
std::string StartRuleProblem(const NormalAddress& address, std::span<const uint8_t> block);

}  // namespace tk571::host
