// Names of the address parts and of the device, as the driver's module
// information gives them; messages about tags are composed from them.
#pragma once

#include <string>

namespace tk571 {

struct PartNames {
  std::string DeviceName;
  std::string DevTypeName;
  std::string DevIDName;
  std::string ChIDName;
  std::string BitIDName;
  std::string ThirdSegIDName;
  std::string FourSegIDName;
  std::string FiveSegIDName;
};

const PartNames& DriverPartNames();

}  // namespace tk571
