#include "port_list.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>

#include "platform/serial_diagnosis.h"

namespace tk571::host {
namespace {

namespace fs = std::filesystem;

constexpr int kPortCount = 16;
// A legacy UART that no chip answers for has the type PORT_UNKNOWN.
constexpr std::string_view kUnknownUartType = "0";

std::string FirstLine(const fs::path& file) {
  std::ifstream in(file);
  std::string line;
  std::getline(in, line);
  return line;
}

std::string Canonical(const std::string& path) {
  std::error_code ec;
  const fs::path real = fs::canonical(path, ec);
  return ec ? path : real.string();
}

// ttys with a device behind them; virtual consoles and pseudo-terminals have
// none.
std::vector<std::string> HardwareTtys(const PortRoots& roots) {
  std::vector<std::string> devices;
  std::error_code ec;
  for (const fs::directory_entry& entry : fs::directory_iterator(roots.sys_class_tty, ec)) {
    std::error_code ignored;
    if (!fs::exists(entry.path() / "device", ignored)) continue;
    if (fs::exists(entry.path() / "type", ignored) &&
        FirstLine(entry.path() / "type") == kUnknownUartType) {
      continue;
    }
    devices.push_back((fs::path(roots.dev) / entry.path().filename()).string());
  }
  return devices;
}

std::string ComDevice(int port) {
  const std::string variable = "TK571_COM" + std::to_string(port);
  const char* path = std::getenv(variable.c_str());
  if (path != nullptr && *path != '\0') return path;
  return "/dev/ttyS" + std::to_string(port - 1);
}

}  // namespace

std::vector<PortEntry> ListSerialPorts(const PortRoots& roots) {
  std::map<std::string, PortEntry> by_device;
  for (const std::string& device : HardwareTtys(roots)) by_device[device].device = device;
  std::error_code ec;
  for (const fs::directory_entry& link : fs::directory_iterator(roots.by_id, ec)) {
    const std::string device = Canonical(link.path().string());
    PortEntry& entry = by_device[device];
    entry.device = device;
    entry.by_id.push_back(link.path().string());
  }
  for (int port = 1; port <= kPortCount; ++port) {
    const std::string path = ComDevice(port);
    const std::string device = Canonical(path);
    const bool named = path != "/dev/ttyS" + std::to_string(port - 1);
    const auto found = by_device.find(device);
    if (found == by_device.end() && !named) continue;
    PortEntry& entry = by_device[device];
    entry.device = device;
    entry.ports.push_back("Com" + std::to_string(port));
  }
  std::vector<PortEntry> ports;
  for (auto& [device, entry] : by_device) {
    std::sort(entry.by_id.begin(), entry.by_id.end());
    entry.state = platform::SerialOpenReason(device, platform::CheckSerialDevice(device));
    ports.push_back(std::move(entry));
  }
  return ports;
}

std::vector<std::string> FormatPorts(const std::vector<PortEntry>& ports) {
  std::vector<std::string> lines;
  if (ports.empty()) {
    lines.push_back("no serial devices found");
    return lines;
  }
  for (const PortEntry& port : ports) {
    std::string line = port.device;
    if (!port.ports.empty()) {
      line += "  (";
      for (std::size_t i = 0; i < port.ports.size(); ++i) line += (i ? ", " : "") + port.ports[i];
      line += ")";
    }
    lines.push_back(line + ": " + port.state);
    for (const std::string& name : port.by_id) lines.push_back("    " + name);
  }
  return lines;
}

}  // namespace tk571::host
