// Module information, the run log path and the write repeat budget as the
// user interface sees them.
#include "ui/driver_info.h"

#include "config/module_info.h"
#include "engine/library_values.h"
#include "engine/run_log.h"

namespace tk571::ui {

DriverInfo CurrentDriverInfo() {
  const TfileInfo& driver = DriverModuleInfo();
  DriverInfo info;
  info.DeviceName = driver.DeviceName();
  info.DevTypeName = driver.DevTypeName();
  info.DevIDName = driver.DevIDName();
  info.InternalName = driver[TfileInfo::kInternalName];
  info.FileVersion = driver.FileVersion();
  info.FileDescription = driver.FileDescription();
  info.HostDirectory = HostModuleInfo().HostDirectory();
  info.DriverFileStem = std::string(kLogBaseName);
  return info;
}

std::string RunLogPath() {
  return LogFileName();
}

int32_t CurrentWriteRepeatBudget() {
  return WriteRepeatBudget.load();
}

}  // namespace tk571::ui
