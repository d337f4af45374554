#include "start_rules.h"

#include <algorithm>
#include <array>

#include "parameter_block.h"
#include "tokens.h"

namespace tk571::host {
namespace {

struct ChannelRange {
  std::string_view type;
  int first;
  int last;
};

// The controller's channel ranges (the README's table of tag addresses).
constexpr std::array<ChannelRange, 9> kChannelRanges = {{{"ENQ", 1, 4},
                                                         {"READ", 1, 1},
                                                         {"M_FINAL", 1, 4},
                                                         {"M_COARSE", 1, 4},
                                                         {"M_FINE", 1, 4},
                                                         {"M_MEDIUM", 1, 4},
                                                         {"LOAD_SETM", 1, 1},
                                                         {"START_UP", 1, 1},
                                                         {"READ_SETM", 1, 1}}};

std::optional<int> SignedNumber(std::string_view text) {
  const std::optional<int64_t> n = ParseInteger(text);
  if (!n || *n < -1 || *n > 1000000) return std::nullopt;
  return static_cast<int>(*n);
}

}  // namespace

std::optional<NormalAddress> ParseNormalAddress(std::string_view text) {
  const std::size_t colon = text.find(':');
  const std::size_t dot = text.find('.', colon == std::string_view::npos ? 0 : colon);
  if (colon == std::string_view::npos || dot == std::string_view::npos) return std::nullopt;
  const std::string_view head = text.substr(0, colon);
  const std::size_t digits = head.find_first_of("-0123456789");
  if (digits == 0 || digits == std::string_view::npos) return std::nullopt;
  const std::optional<int> device = SignedNumber(head.substr(digits));
  const std::optional<int> channel = SignedNumber(text.substr(colon + 1, dot - colon - 1));
  if (!device || !channel) return std::nullopt;
  return NormalAddress{std::string(head.substr(0, digits)), *device, *channel};
}

bool IsInternalAddress(std::string_view address) {
  const std::string upper = ToUpperAscii(address);
  for (const std::string_view prefix :
       {"ENLOG", "COMMLINK", "ENCOMMLINK", "DEVICELINK", "ENDEVICELINK"}) {
    if (upper.rfind(prefix, 0) == 0) return true;
  }
  return false;
}

std::string StartRuleProblem(const NormalAddress& address, std::span<const uint8_t> block) {
  const std::vector<int> devices = DevicesInUse(block);
  if (std::find(devices.begin(), devices.end(), address.device) == devices.end()) {
    return "device " + std::to_string(address.device) +
           " is not configured in the parameter block (--devices)";
  }
  const auto range = std::find_if(kChannelRanges.begin(), kChannelRanges.end(),
                                  [&](const ChannelRange& r) { return r.type == address.type; });
  if (range == kChannelRanges.end()) return "no tag kind " + address.type;
  if (address.channel < range->first || address.channel > range->last) {
    return "channel " + std::to_string(address.channel) + " is outside " +
           std::to_string(range->first) + ".." + std::to_string(range->last) + " of " +
           address.type;
  }
  return std::string();
}

}  // namespace tk571::host
