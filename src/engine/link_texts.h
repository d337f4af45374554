// Texts of the link status codes and of the enable switch.
#pragma once

#include <cstdint>
#include <string>

namespace tk571 {

// Code 0 reads "never succeeded" while communication is enabled and
// "paused" otherwise.
const std::string& LinkStatusText(uint8_t code, bool comm_enabled);
const std::string& CommEnabledText(bool comm_enabled);

}  // namespace tk571
