// The version resource of the host program (the module that started the
// process). Windows programs carry one; a Linux program has none, and its
// texts come from elsewhere.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tk571::platform {

class HostVersionResource {
 public:
  // Reads the host program's resource once.
  HostVersionResource();
  bool Found() const { return !data_.empty(); }
  // The value of a string key in code page 936; nullopt when the resource
  // lacks the key.
  std::optional<std::string> Value(std::string_view key) const;

 private:
  std::vector<unsigned char> data_;
  // The string table the values come from: the resource's first language.
  std::wstring table_;
};

}  // namespace tk571::platform
