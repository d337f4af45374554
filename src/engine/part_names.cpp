#include "engine/part_names.h"

#include "config/module_info.h"

namespace tk571 {

const PartNames& DriverPartNames() {
  static const PartNames names = [] {
    const TfileInfo& info = DriverModuleInfo();
    return PartNames{info.DeviceName(),
                     info.DevTypeName(),
                     info.DevIDName(),
                     info.ChIDName(),
                     info.BitIDName(),
                     info[TfileInfo::kThirdSegIDName],
                     info[TfileInfo::kFourSegIDName],
                     info[TfileInfo::kFiveSegIDName]};
  }();
  return names;
}

}  // namespace tk571
