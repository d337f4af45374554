#include <vector>

#include "platform/host_install.h"
#include "platform/win32/windows_api.h"

namespace tk571::platform {

std::string HostProgramPath() {
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software\\KELDA", 0, KEY_QUERY_VALUE, &key) !=
      ERROR_SUCCESS) {
    return std::string();
  }
  std::string value;
  DWORD type = 0;
  DWORD size = 0;
  if (RegQueryValueExA(key, "PATH", nullptr, &type, nullptr, &size) == ERROR_SUCCESS &&
      (type == REG_SZ || type == REG_EXPAND_SZ) && size > 0) {
    std::vector<char> buffer(size + 1, '\0');
    if (RegQueryValueExA(key, "PATH", nullptr, &type, reinterpret_cast<BYTE*>(buffer.data()),
                         &size) == ERROR_SUCCESS) {
      // The stored text may or may not carry its terminating zero.
      value.assign(buffer.data());
    }
  }
  RegCloseKey(key);
  return value;
}

}  // namespace tk571::platform
