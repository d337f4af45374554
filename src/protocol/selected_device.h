// The controller that each serial line has selected last. A controller stays
// selected until another one is, whichever driver object sent the request, so
// the number belongs to the line, not to a driver object.
#pragma once

#include <cstdint>
#include <string>

namespace tk571 {

inline constexpr int16_t kNoDeviceSelected = -1;

int16_t SelectedDevice(const std::string& line);
void SetSelectedDevice(const std::string& line, int16_t device);
// Forgets every line's selection.
void ResetSelectedDevices();

}  // namespace tk571
