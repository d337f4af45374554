// Why a serial device cannot be used, found without opening it: a missing
// device, missing permission, a live UUCP lock file (the convention of
// minicom, picocom and other serial tools: LCK..<device name> in the lock
// directory, holding the owner's process id), or another process that has the
// device open. The driver's port and the reference host's port list share it.
// Windows knows only what opening the port answers: missing, held by another
// program (access denied), not a serial device.
#pragma once

#include <string>
#include <vector>

namespace tk571::platform {

enum class SerialOpenResult : unsigned char {
  kOpened,
  kMissing,    // no such device
  kNoAccess,   // this user may not read and write it
  kNotSerial,  // the path names something that is not a terminal device
  kBusy,       // another program holds it exclusively; which one is unknown
  kHeld,       // another process has it open (that process is the holder)
  kLocked,     // a live UUCP lock file names another process
  kFailed,     // any other refusal
};

// The result of an attempt or a check, with the process that holds the
// device when it could be found.
struct SerialOpenOutcome {
  SerialOpenResult result = SerialOpenResult::kOpened;
  int holder_pid = 0;     // kHeld, kLocked
  std::string lock_file;  // kLocked
  int error = 0;          // errno of kFailed (Windows: GetLastError)
};

#ifndef _WIN32
// TK571_LOCK_DIR when set and not empty, else /var/lock.
std::string UucpLockDirectory();

struct UucpLock {
  int pid = 0;  // 0: no live lock of another process
  std::string file;
};

// The live lock file for the device in `lock_dir`, under the device's own
// name or the name its symbolic links lead to. A lock whose process no longer
// exists is stale and a lock of this process is its own: neither counts. The
// file holds the process id as ten ASCII characters or as a binary int.
UucpLock FindUucpLock(const std::string& device_path, const std::string& lock_dir);

// Processes that have the device open, as far as this user may look into
// them through /proc: other processes first, then this one when asked for.
// The process that holds the master side of a pseudo-terminal is its far end
// (a simulator, socat), not a competitor, and is left out.
std::vector<int> DeviceHolders(const std::string& device_path, bool include_self = false);

// The command name of a process, empty when it is gone or hidden.
std::string ProcessName(int pid);

// Whether the device could be opened now, without opening it: existence,
// permission, terminal device, lock file, other holders.
SerialOpenOutcome CheckSerialDevice(const std::string& device_path);
#endif

// The reason in plain words (ASCII), e.g. "permission denied, add the user
// to group dialout" or "held by process 1234 (picocom)"; "free" for kOpened.
std::string SerialOpenReason(const std::string& device_path, const SerialOpenOutcome& outcome);

}  // namespace tk571::platform
