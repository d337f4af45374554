// Tag addresses from the host's tag editor and tag definitions: any bytes
// must be parsed, checked and normalised without a crash or a read past the text.
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "quiet_object.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string address(reinterpret_cast<const char*>(data), size);
  tk571::TDevicePDB block;
  block.FillDefaults();
  block.SetTypeCode(1, 0);
  block.SetLogErrors(1);
  block.SetLogTrace(1);

  std::string edited = address;
  tk571::fuzz::QuietObject checker;
  checker.CheckTagAddr(block, edited);

  TTagInfo info;
  std::memset(&info, 0, sizeof(info));
  std::memcpy(info.Address, address.data(), std::min(address.size(), sizeof(info.Address)));
  info.DataKind = size > 0 ? data[0] % 4 : 0;
  tk571::fuzz::QuietObject object;
  const std::vector<const TTagInfo*> tags = {&info};
  object.IniDLLObj(&block, tags);
  return 0;
}
