// Module information and the run log path as the user interface sees them.
// The driver's own labels are compiled in (a Linux library has no version
// resource); the host directory follows the host's KELDA_PATH setting.
#include "ui/driver_info.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "platform/gbk.h"

namespace tk571::ui {

namespace {

constexpr const char* kDriverStem = "TK571_485";
constexpr const char* kHostIniName = "Tesmark.ini";

std::string Trim(const std::string& text) {
  const auto first = text.find_first_not_of(" \t\r\n");
  if (first == std::string::npos) return std::string();
  const auto last = text.find_last_not_of(" \t\r\n");
  return text.substr(first, last - first + 1);
}

// Everything up to and including the last separator; '\' is accepted so that
// a Windows-style setting still works.
std::string DirectoryPart(const std::string& path) {
  const auto cut = path.find_last_of("/\\");
  return cut == std::string::npos ? std::string() : path.substr(0, cut + 1);
}

bool FileExists(const std::string& path) {
  std::error_code ec;
  return std::filesystem::is_regular_file(path, ec);
}

// The host's project file names its default project under [WORKING].
std::string DefaultProject(const std::string& ini_path) {
  std::ifstream in(ini_path);
  std::string line;
  bool in_section = false;
  while (std::getline(in, line)) {
    line = Trim(line);
    if (line.empty() || line[0] == ';') continue;
    if (line.front() == '[') {
      in_section = line == "[WORKING]";
      continue;
    }
    const auto eq = line.find('=');
    if (in_section && eq != std::string::npos && Trim(line.substr(0, eq)) == "DefaultPROJECT")
      return Trim(line.substr(eq + 1));
  }
  return "./";
}

std::string HostDirectory() {
  const char* setting = std::getenv("KELDA_PATH");
  std::string dir = Trim(DirectoryPart(setting ? setting : ""));
  if (!FileExists(dir + kHostIniName)) dir = "../";
  return dir;
}

}  // namespace

DriverInfo CurrentDriverInfo() {
  DriverInfo info;
  info.DeviceName = platform::ToGbk("TK571配料控制器(RS485)");
  info.DevTypeName = platform::ToGbk(" 智能仪表");
  info.DevIDName = platform::ToGbk("设备号");
  info.InternalName = "libtk571_485.so";
  info.FileVersion = TK571_VERSION_TEXT;
  info.FileDescription = platform::ToGbk("TK571配料控制器通讯驱动程序");
  info.HostDirectory = HostDirectory();
  info.DriverFileStem = kDriverStem;
  return info;
}

std::string RunLogPath() {
  const std::string host = HostDirectory();
  const std::string ini = host + kHostIniName;
  if (!FileExists(ini)) return std::string("./Debug/") + kDriverStem + ".Log";
  return DirectoryPart(DefaultProject(ini)) + "Debug/" + kDriverStem + ".Log";
}

int32_t CurrentWriteRepeatBudget() {
  return 2;
}

}  // namespace tk571::ui
