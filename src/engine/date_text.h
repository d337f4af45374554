// The date-time text that begins every run log line and tag message:
// "YYYY-MM-DD HH:MM:SS" in local time, the time left out at exactly midnight.
#pragma once

#include <string>

#include "platform/local_time.h"

namespace tk571 {

std::string DateTimeText(const platform::LocalTime& t);
// The text for the current moment of the driver's clock.
std::string DateTimeText();

}  // namespace tk571
