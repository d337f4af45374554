// What each line publishes: the configuration's tags checked by the driver
// itself (TagEdAddr, GetTagAddrList) and turned into the records IniDriver
// takes, plus the link tags every line and device gets.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "driver_library.h"
#include "gateway_config.h"
#include "parameter_block.h"
#include "tag_file.h"
#include "write_verdict.h"

namespace tk571::gateway {

enum class ControlRole {
  kTag,             // a controller's value or command
  kLineLink,        // COMMLINK: link status of the line, 0..5
  kDeviceLink,      // DEVICELINKn: link status of a device, 0..5
  kDeviceLinkText,  // DEVICELINKn as the driver's own status text
};

struct Control {
  ControlRole role = ControlRole::kTag;
  std::string device;       // topic level: a device's or the line's name
  int device_number = -1;   // -1 for the line's own controls
  std::string name;         // topic level of the control
  std::string type;         // "READ", "ENQ", "M_FINAL", ... "COMMLINK", "DEVICELINK"
  int channel = 0;          // the material 1..4 where the kind has several
  host::TagDefinition tag;  // what IniDriver gets; its id keys OnDataRead's records
  bool command = false;     // START_UP, LOAD_SETM, READ_SETM: written, never read
  // kAllowed when the configuration lets writes through, else which switch
  // keeps the control read-only.
  WriteVerdict write_permission = WriteVerdict::kNotWritable;
  bool writable = false;  // write_permission is kAllowed
  std::string unit;
  TagTitle title;  // UTF-8; zh from the driver's own kind description
  // A value's range; for a set-point the values a write may set.
  bool has_range = false;
  double min = 0;
  double max = 0;
  // Published before the driver's first report: the value the driver starts
  // with, for tags that it reports only when they change from it.
  std::string initial_payload;
};

struct LinePlan {
  LineConfig config;
  int com = 0;              // 1..16: the driver's ComN
  std::string device_path;  // set when the configuration named a path (TK571_COMn)
  host::ParameterBlock block;
  std::vector<Control> controls;
};

// Checks every address with the driver and builds the plans; errors name the
// place in the file ("/lines/0/devices/0/tags/2/address: ...").
std::vector<LinePlan> PlanLines(const GatewayConfig& config, host::DriverLibrary& library,
                                std::vector<std::string>* errors);

}  // namespace tk571::gateway
