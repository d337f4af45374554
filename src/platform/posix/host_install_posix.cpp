#include <cstdlib>

#include "platform/host_install.h"

namespace tk571::platform {

std::string HostProgramPath() {
  const char* value = std::getenv("KELDA_PATH");
  return value ? std::string(value) : std::string();
}

}  // namespace tk571::platform
