// A parameter block as a host may store it, damaged or foreign: the block
// operations and a driver start must never index past a table.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

#include "quiet_object.h"
#include "tk571/driver.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // The input is laid over a default block so that short inputs still reach
  // the entries and the serial settings.
  tk571::TDevicePDB block;
  block.FillDefaults();
  for (size_t i = 0; i + 2 < size; i += 3) {
    const size_t at = ((static_cast<size_t>(data[i]) << 8 | data[i + 1]) * 7) % tk571::kPdbSize;
    block.data()[at] = data[i + 2];
  }
  tk571::TDevicePDB copy;
  copy.CopyFrom(block);
  block.Normalize();
  block.FirstUsedEntry();
  for (int i = 0; i < tk571::kDeviceCount; ++i) block.TypeName(i);

  TTagInfo info;
  std::memset(&info, 0, sizeof(info));
  std::strcpy(info.Address, "READ1:1");
  tk571::fuzz::QuietObject object;
  const std::vector<const TTagInfo*> tags = {&info};
  object.IniDLLObj(&copy, tags);
  return 0;
}
