#include <dirent.h>
#include <errno.h>
#include <grp.h>
#include <signal.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cctype>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <optional>

#include "platform/serial_diagnosis.h"

namespace tk571::platform {
namespace {

constexpr const char* kDefaultLockDirectory = "/var/lock";
constexpr std::size_t kLockFileMaxBytes = 64;
// Unix98 pseudo-terminal slaves: majors 136 to 143, 256 minors each.
constexpr unsigned kPtySlaveMajorFirst = 136;
constexpr unsigned kPtySlaveMajorLast = 143;

std::string BaseName(const std::string& path) {
  const std::size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::optional<std::string> ReadSmallFile(const std::string& path, std::size_t max_bytes) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  std::string bytes(max_bytes, '\0');
  in.read(bytes.data(), static_cast<std::streamsize>(max_bytes));
  bytes.resize(static_cast<std::size_t>(in.gcount()));
  return bytes;
}

// minicom and picocom write the process id as ten ASCII characters and a
// line end; older tools wrote it as a binary int.
int LockFilePid(const std::string& bytes) {
  const bool ascii = bytes.find_first_not_of(" \t\r\n0123456789") == std::string::npos;
  if (!ascii && bytes.size() == sizeof(int)) {
    int pid = 0;
    std::memcpy(&pid, bytes.data(), sizeof pid);
    return pid;
  }
  if (!ascii) return 0;
  const long pid = std::strtol(bytes.c_str(), nullptr, 10);
  return pid > 0 && pid <= INT32_MAX ? static_cast<int>(pid) : 0;
}

bool ProcessExists(int pid) {
  return kill(pid, 0) == 0 || errno == EPERM;
}

std::vector<int> ProcessIds() {
  std::vector<int> pids;
  DIR* proc = opendir("/proc");
  if (proc == nullptr) return pids;
  while (const dirent* entry = readdir(proc)) {
    char* end = nullptr;
    const long pid = std::strtol(entry->d_name, &end, 10);
    if (pid > 0 && end != entry->d_name && *end == '\0') pids.push_back(static_cast<int>(pid));
  }
  closedir(proc);
  return pids;
}

// The pseudo-terminal index of a master descriptor (kernels since 2018
// show it in fdinfo), or -1.
int MasterTtyIndex(const std::string& fdinfo_path) {
  std::ifstream in(fdinfo_path);
  std::string line;
  static constexpr std::string_view kKey = "tty-index:";
  while (std::getline(in, line)) {
    if (line.compare(0, kKey.size(), kKey) == 0) return std::atoi(line.c_str() + kKey.size());
  }
  return -1;
}

struct ProcessUse {
  bool has_device = false;
  bool has_master = false;  // of the pseudo-terminal the device is
};

ProcessUse UseOf(int pid, dev_t device, int pty_index) {
  ProcessUse use;
  const std::string base = "/proc/" + std::to_string(pid);
  DIR* fds = opendir((base + "/fd").c_str());
  if (fds == nullptr) return use;
  while (const dirent* entry = readdir(fds)) {
    if (entry->d_name[0] == '.') continue;
    const std::string link = base + "/fd/" + entry->d_name;
    struct stat st {};
    if (stat(link.c_str(), &st) != 0 || !S_ISCHR(st.st_mode)) continue;
    if (st.st_rdev == device) use.has_device = true;
    if (pty_index >= 0 && !use.has_master) {
      char target[64] = {};
      const ssize_t n = readlink(link.c_str(), target, sizeof target - 1);
      if (n > 0 && BaseName(target) == "ptmx" &&
          MasterTtyIndex(base + "/fdinfo/" + entry->d_name) == pty_index) {
        use.has_master = true;
      }
    }
  }
  closedir(fds);
  return use;
}

std::string GroupOf(const std::string& path) {
  struct stat st {};
  if (stat(path.c_str(), &st) == 0) {
    if (const group* g = getgrgid(st.st_gid); g != nullptr && g->gr_name != nullptr) {
      return g->gr_name;
    }
  }
  return "dialout";
}

std::string WithName(int pid) {
  const std::string name = ProcessName(pid);
  return std::to_string(pid) + (name.empty() ? "" : " (" + name + ")");
}

// A character device of the terminal subsystem, told apart without opening it
// (opening a serial port raises its modem lines): sysfs names the subsystem
// of every device that exists, but not of pseudo-terminal slaves, nor of a
// node whose device is absent; for those the driver name of the major in
// /proc/devices tells ("pts", "ttyS", "ttyUSB", ...). Without either nothing
// can be told, and the device counts as a terminal.
bool IsTerminalDevice(dev_t device) {
  const std::string numbers = std::to_string(major(device)) + ":" + std::to_string(minor(device));
  char target[256];
  const ssize_t length =
      readlink(("/sys/dev/char/" + numbers + "/subsystem").c_str(), target, sizeof target - 1);
  if (length > 0) {
    target[length] = '\0';
    const char* name = std::strrchr(target, '/');
    return std::strcmp(name ? name + 1 : target, "tty") == 0;
  }
  std::ifstream devices("/proc/devices");
  if (!devices) return true;
  std::string line;
  bool character = false;
  while (std::getline(devices, line)) {
    if (line.rfind("Character", 0) == 0) character = true;
    if (line.rfind("Block", 0) == 0) character = false;
    unsigned number = 0;
    char name[64] = "";
    if (!character || std::sscanf(line.c_str(), "%u %63s", &number, name) != 2 ||
        number != major(device))
      continue;
    const std::string driver = name;
    if (driver == "pts" || driver.rfind("tty", 0) == 0 || driver.rfind("/dev/tty", 0) == 0)
      return true;
  }
  return false;
}

}  // namespace

std::string UucpLockDirectory() {
  const char* dir = getenv("TK571_LOCK_DIR");
  return dir != nullptr && *dir != '\0' ? dir : kDefaultLockDirectory;
}

UucpLock FindUucpLock(const std::string& device_path, const std::string& lock_dir) {
  std::vector<std::string> names = {BaseName(device_path)};
  if (char* real = realpath(device_path.c_str(), nullptr); real != nullptr) {
    const std::string name = BaseName(real);
    free(real);
    if (name != names.front()) names.push_back(name);
  }
  for (const std::string& name : names) {
    const std::string file = lock_dir + "/LCK.." + name;
    const std::optional<std::string> bytes = ReadSmallFile(file, kLockFileMaxBytes);
    if (!bytes) continue;
    const int pid = LockFilePid(*bytes);
    if (pid > 0 && pid != getpid() && ProcessExists(pid)) return UucpLock{pid, file};
  }
  return UucpLock{};
}

std::vector<int> DeviceHolders(const std::string& device_path, bool include_self) {
  std::vector<int> holders;
  struct stat st {};
  if (stat(device_path.c_str(), &st) != 0 || !S_ISCHR(st.st_mode)) return holders;
  const unsigned dev_major = major(st.st_rdev);
  const int pty_index =
      dev_major >= kPtySlaveMajorFirst && dev_major <= kPtySlaveMajorLast
          ? static_cast<int>((dev_major - kPtySlaveMajorFirst) * 256 + minor(st.st_rdev))
          : -1;
  const int self = getpid();
  for (const int pid : ProcessIds()) {
    if (pid == self) continue;
    const ProcessUse use = UseOf(pid, st.st_rdev, pty_index);
    if (use.has_device && !use.has_master) holders.push_back(pid);
  }
  if (include_self && UseOf(self, st.st_rdev, -1).has_device) holders.push_back(self);
  return holders;
}

std::string ProcessName(int pid) {
  const std::optional<std::string> comm =
      ReadSmallFile("/proc/" + std::to_string(pid) + "/comm", 64);
  if (!comm) return std::string();
  std::string name = *comm;
  while (!name.empty() && std::isspace(static_cast<unsigned char>(name.back()))) name.pop_back();
  return name;
}

SerialOpenOutcome CheckSerialDevice(const std::string& device_path) {
  SerialOpenOutcome outcome;
  struct stat st {};
  if (stat(device_path.c_str(), &st) != 0) {
    outcome.result = errno == EACCES ? SerialOpenResult::kNoAccess : SerialOpenResult::kMissing;
    return outcome;
  }
  if (!S_ISCHR(st.st_mode) || !IsTerminalDevice(st.st_rdev)) {
    outcome.result = SerialOpenResult::kNotSerial;
    return outcome;
  }
  if (access(device_path.c_str(), R_OK | W_OK) != 0) {
    outcome.result = SerialOpenResult::kNoAccess;
    return outcome;
  }
  if (UucpLock lock = FindUucpLock(device_path, UucpLockDirectory()); lock.pid != 0) {
    outcome.result = SerialOpenResult::kLocked;
    outcome.holder_pid = lock.pid;
    outcome.lock_file = std::move(lock.file);
    return outcome;
  }
  if (const std::vector<int> holders = DeviceHolders(device_path); !holders.empty()) {
    outcome.result = SerialOpenResult::kHeld;
    outcome.holder_pid = holders.front();
  }
  return outcome;
}

std::string SerialOpenReason(const std::string& device_path, const SerialOpenOutcome& outcome) {
  switch (outcome.result) {
    case SerialOpenResult::kOpened:
      return "free";
    case SerialOpenResult::kMissing:
      return "does not exist";
    case SerialOpenResult::kNoAccess:
      return "permission denied, add the user to group " + GroupOf(device_path);
    case SerialOpenResult::kNotSerial:
      return "not a serial device";
    case SerialOpenResult::kBusy:
      return "held by another program";
    case SerialOpenResult::kHeld:
      return "held by process " + WithName(outcome.holder_pid);
    case SerialOpenResult::kLocked:
      return "locked by process " + WithName(outcome.holder_pid) + " through " + outcome.lock_file;
    case SerialOpenResult::kFailed:
      break;
  }
  return std::string("cannot be opened: ") + std::strerror(outcome.error);
}

}  // namespace tk571::platform
