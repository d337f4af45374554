// Construction, parameter loading, start, stop and destruction.
#include "engine/base_dll_object.h"

namespace tk571 {

TBaseDLLObject::TBaseDLLObject(bool first_instance) : FirstInstance_(first_instance) {
  DevLinkStatus_.fill(0);
  DevFailCount_.fill(0xFFFFFFFFu);
  DevInUse_.fill(1);
}

TBaseDLLObject::~TBaseDLLObject() {
  if (!Stopped_) Stop();
}

bool TBaseDLLObject::IniParm(const TDevicePDB* block) {
  if (!block) return false;
  Pdb_.CopyFrom(*block);
  DefaultDevNo_ = 99;
  for (int i = 0; i < kDeviceCount; ++i)
    if (Pdb_.InUse(i) && static_cast<int32_t>(Pdb_.DeviceNumber(i)) < DefaultDevNo_)
      DefaultDevNo_ = static_cast<int32_t>(Pdb_.DeviceNumber(i));
  ParmLoaded_ = true;
  return true;
}

bool TBaseDLLObject::IniDLLObj(const TDevicePDB* block, const std::vector<const TTagInfo*>& tags) {
  if (Initialized_) Stop();
  if (!IniParm(block)) return false;
  if (!IniTagList(tags)) return false;
  RunEvent_ = opInit;
  return true;
}

void TBaseDLLObject::Stop() {
  Stopped_ = true;
  Initialized_ = false;
  TagCount_ = 0;
}

}  // namespace tk571
