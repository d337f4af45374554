#include "protocol/selected_device.h"

#include <map>
#include <mutex>

namespace tk571 {

namespace {

struct Selections {
  std::mutex mutex;
  std::map<std::string, int16_t> by_line;
};

Selections& TheSelections() {
  static Selections selections;
  return selections;
}

}  // namespace

int16_t SelectedDevice(const std::string& line) {
  Selections& s = TheSelections();
  std::lock_guard lock(s.mutex);
  const auto it = s.by_line.find(line);
  return it == s.by_line.end() ? kNoDeviceSelected : it->second;
}

void SetSelectedDevice(const std::string& line, int16_t device) {
  Selections& s = TheSelections();
  std::lock_guard lock(s.mutex);
  s.by_line[line] = device;
}

void ResetSelectedDevices() {
  Selections& s = TheSelections();
  std::lock_guard lock(s.mutex);
  s.by_line.clear();
}

}  // namespace tk571
