// The driver's runtime record of one host tag.
#pragma once

#include <cstdint>
#include <string>

#include "engine/tag_value.h"
#include "tk571/driver.h"

namespace tk571 {

struct TDLLTag {
  uint32_t TagID = 0;
  int32_t Index = 0;
  std::string Name;
  std::string Address;
  uint8_t DataKind = TK571_VALUE_FLOAT;  // TK571_VALUE_*
  std::string TypeName;
  int32_t TypeIndex = -1;
  uint32_t ScanTime = 0;
  double UpdateTime = 0.0;
  uint32_t ChangeTick = 0;
  TagValue Value;
  TagValue ReportedValue;
  TagValue SavedValue;
  uint32_t ReportedQuality = 0;
  // A write to the tag failed since the last report: the host hears of each
  // failure, also when the tag already shows the failed quality.
  bool FailureUnreported = false;
  double WorkValue = 0.0;
  double AuxValue = 0.0;
  int32_t BitNo = -1;
  int32_t Channel = -1;
  int32_t DevNo = -1;
  int32_t Seg3 = 0;
  int32_t Seg4 = 0;
  int32_t Seg5 = 0;
  uint8_t DevType = 1;
  uint32_t Quality = 0;
  uint8_t FormatCode = 0;
  uint8_t Internal = 0;
  uint32_t ReadCount = 0;
  uint32_t ReadFailCount = 0;
  uint32_t WriteCount = 0;
  uint32_t WriteFailCount = 0;
  uint8_t Writable = 0;
};

}  // namespace tk571
