// The faults of one controller by name, as the program's command line and its
// control input spell them:
//
//   silent | select-only | garbage | drop-crlf | bare-echo   [on|off]
//   late MS | late-r MS | noise COUNT | noise-byte XX (hex)
//   split PARTS [GAP_MS] | status-pause MS [AFTER_CHARS]
//
// and "off" after any name. A switch without a value is switched on.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "tk571sim/sim_types.h"

namespace tk571::sim {

bool IsFaultName(std::string_view name);

// Sets one fault in `faults`, the others stay. Returns why it cannot ("" when
// done); `faults` is then unchanged.
std::string SetFault(Faults& faults, std::string_view name,
                     const std::vector<std::string_view>& values);

// The faults that are on, in the same spelling, e.g. "late-r 120, noise-byte
// 00"; "none" when there are none.
std::string DescribeFaults(const Faults& faults);

}  // namespace tk571::sim
