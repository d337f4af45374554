// Building the host's tag definitions in tests.
#pragma once

#include <cstring>
#include <string>
#include <vector>

#include "tk571/driver.h"

namespace tk571::testing {

inline TTagInfo TagDef(uint32_t id, const std::string& address, uint8_t kind = 0,
                       uint32_t scan_ms = 100, const std::string& name = "") {
  TTagInfo info;
  std::memset(&info, 0, sizeof(info));
  info.TagID = id;
  const std::string tag_name = name.empty() ? "T" + std::to_string(id) : name;
  std::memcpy(info.Name, tag_name.data(), std::min(tag_name.size(), sizeof(info.Name)));
  std::memcpy(info.Address, address.data(), std::min(address.size(), sizeof(info.Address)));
  info.DataKind = kind;
  info.ScanTime = scan_ms;
  return info;
}

// Pointers to the records, as IniDriver takes them.
inline std::vector<const TTagInfo*> Pointers(const std::vector<TTagInfo>& defs) {
  std::vector<const TTagInfo*> out;
  for (const auto& d : defs) out.push_back(&d);
  return out;
}

}  // namespace tk571::testing
