#include "platform/system_time.h"

namespace tk571::platform {

bool SystemLocalParts(time_t t, tm& parts) {
  return localtime_s(&parts, &t) == 0;
}

}  // namespace tk571::platform
