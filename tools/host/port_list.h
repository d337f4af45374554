// The serial devices of the machine as serial tools list them: every tty
// with a hardware device behind it (a legacy UART only when one answers at
// its address), the stable names udev gives them under /dev/serial/by-id,
// the ComN ports that name them, and whether they are free.
#pragma once

#include <string>
#include <vector>

namespace tk571::host {

struct PortEntry {
  std::string device;              // /dev/ttyUSB0
  std::vector<std::string> by_id;  // /dev/serial/by-id/usb-...
  std::vector<std::string> ports;  // "Com1" when TK571_COM1 (or the default) names it
  std::string state;               // "free", "held by process 1234 (picocom)", ...
};

// Where the lists come from; tests point them at a directory of their own.
struct PortRoots {
  std::string sys_class_tty = "/sys/class/tty";
  std::string by_id = "/dev/serial/by-id";
  std::string dev = "/dev";
};

// Sorted by device path. Devices named by TK571_COM1..16 are listed even
// when they are no hardware (a pseudo-terminal of a simulator).
std::vector<PortEntry> ListSerialPorts(const PortRoots& roots = PortRoots());

std::vector<std::string> FormatPorts(const std::vector<PortEntry>& ports);

}  // namespace tk571::host
