#include "platform/system_time.h"

namespace tk571::platform {

bool SystemLocalParts(time_t t, tm& parts) {
  return localtime_r(&t, &parts) != nullptr;
}

}  // namespace tk571::platform
