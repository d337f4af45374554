#include <vector>

#include "platform/system_info.h"
#include "platform/win32/windows_api.h"

namespace tk571::platform {
namespace {

constexpr char kProcessorKey[] = "HARDWARE\\DESCRIPTION\\System\\CentralProcessor\\0";

std::optional<std::string> ProcessorValue(HKEY key, const char* name) {
  DWORD type = 0;
  DWORD size = 0;
  if (RegQueryValueExA(key, name, nullptr, &type, nullptr, &size) != ERROR_SUCCESS ||
      type != REG_SZ || size == 0) {
    return std::nullopt;
  }
  std::vector<char> buffer(size + 1, '\0');
  if (RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(buffer.data()), &size) !=
      ERROR_SUCCESS) {
    return std::nullopt;
  }
  std::string value(buffer.data());
  // The system pads the name with blanks on some processors.
  const std::size_t first = value.find_first_not_of(' ');
  if (first == std::string::npos) return std::string();
  const std::size_t last = value.find_last_not_of(' ');
  return value.substr(first, last - first + 1);
}

}  // namespace

std::optional<std::string> ProcessorDescription() {
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kProcessorKey, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) {
    return std::nullopt;
  }
  std::optional<std::string> description = ProcessorValue(key, "ProcessorNameString");
  if (!description || description->empty()) {
    // No model name: the vendor followed by the family identifier.
    const std::optional<std::string> vendor = ProcessorValue(key, "VendorIdentifier");
    const std::optional<std::string> family = ProcessorValue(key, "Identifier");
    if (vendor || family) description = vendor.value_or("") + family.value_or("");
  }
  RegCloseKey(key);
  return description;
}

std::string ArchitectureName() {
  SYSTEM_INFO info{};
  GetSystemInfo(&info);
  switch (info.wProcessorArchitecture) {
    case PROCESSOR_ARCHITECTURE_INTEL:
      return "Intel";
    case PROCESSOR_ARCHITECTURE_MIPS:
      return "MIPS";
    case PROCESSOR_ARCHITECTURE_ALPHA:
      return "Aplha";
    case PROCESSOR_ARCHITECTURE_PPC:
      return "PPC";
    default:
      return std::to_string(info.wProcessorArchitecture);
  }
}

MemoryStatus ReadMemoryStatus() {
  MemoryStatus status;
  // The extended call, so that more than 4 GB of physical memory is counted.
  MEMORYSTATUSEX memory{};
  memory.dwLength = sizeof(memory);
  if (!GlobalMemoryStatusEx(&memory)) return status;
  status.load_percent = memory.dwMemoryLoad;
  status.total_physical = memory.ullTotalPhys;
  status.available_physical = memory.ullAvailPhys;
  status.total_virtual = memory.ullTotalVirtual;
  status.available_virtual = memory.ullAvailVirtual;
  return status;
}

}  // namespace tk571::platform
