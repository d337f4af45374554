// A module of the driver that lies in the directory of the driver's own
// library and is loaded only when first needed. A loaded module stays for
// the life of the process, and so does the driver's library: the module's
// toolkit cannot be unloaded, and the module calls back into the driver.
#pragma once

#include <string>

namespace tk571::platform {

struct SiblingSymbol {
  void* address = nullptr;
  // Why there is no address, in plain words; empty when there is one.
  std::string reason;
};

// Loads `file_name` from the driver library's directory and looks up
// `symbol` in it.
SiblingSymbol LoadSiblingSymbol(const std::string& file_name, const char* symbol);

}  // namespace tk571::platform
