#include "platform/host_version.h"

namespace tk571::platform {

HostVersionResource::HostVersionResource() = default;

std::optional<std::string> HostVersionResource::Value(std::string_view) const {
  return std::nullopt;
}

}  // namespace tk571::platform
