#include "tag_kinds.h"

#include <array>

namespace tk571::gateway {
namespace {

using HA = HomeAssistantComponent;

constexpr std::array<KindInfo, 9> kKinds = {{
    {"READ", "live weight", 1, HA::kSensor},
    {"ENQ", "final amount, material %d", 4, HA::kSensor},
    {"M_FINAL", "target weight, material %d", 4, HA::kNumber},
    {"M_COARSE", "coarse feed set-point, material %d", 4, HA::kNumber},
    {"M_FINE", "overshoot set-point, material %d", 4, HA::kNumber},
    {"M_MEDIUM", "medium set-point, material %d", 4, HA::kNone},
    {"LOAD_SETM", "load the recipe into the controller", 1, HA::kButton},
    {"READ_SETM", "read the controller's recipe", 1, HA::kButton},
    {"START_UP", "start (1) or abort (0) a batch", 1, HA::kSwitch},
}};

}  // namespace

const KindInfo* FindKind(std::string_view type) {
  for (const KindInfo& kind : kKinds) {
    if (kind.type == type) return &kind;
  }
  return nullptr;
}

std::string KindTitle(const KindInfo& kind, int channel) {
  std::string title(kind.title_en);
  if (const std::size_t at = title.find("%d"); at != std::string::npos) {
    title.replace(at, 2, std::to_string(channel));
  }
  return title;
}

}  // namespace tk571::gateway
