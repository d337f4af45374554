// What the user interface takes from the rest of the driver: the labels of
// the driver's module information, the host directory, the run log path and
// the library-wide write repeat budget. Kept in this one place so that the
// dialogs do not depend on how the driver finds them.
#pragma once

#include <cstdint>
#include <string>

namespace tk571::ui {

// Texts are GBK, as every text of the driver.
struct DriverInfo {
  std::string DeviceName;
  std::string DevTypeName;
  std::string DevIDName;
  std::string InternalName;
  std::string FileVersion;
  std::string FileDescription;
  // Branding text shown in the page footers; empty when the driver has none.
  std::string ProductText;
  // Directory of the host program, ending with a separator.
  std::string HostDirectory;
  // The driver's file name without directory and extension.
  std::string DriverFileStem;
};

DriverInfo CurrentDriverInfo();
// The run log file that the driver objects of this process write.
std::string RunLogPath();
// The write repeat budget shared by the driver objects of this process.
int32_t CurrentWriteRepeatBudget();

}  // namespace tk571::ui
