// Where the host program is installed. On Windows this is the registry value
// "PATH" of HKEY_LOCAL_MACHINE "Software\KELDA"; on Linux the environment
// variable KELDA_PATH carries the same text. Absent reads as empty.
#pragma once

#include <string>

namespace tk571::platform {

std::string HostProgramPath();

}  // namespace tk571::platform
