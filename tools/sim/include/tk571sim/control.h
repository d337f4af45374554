// Commands of the simulator's control input, one a line, so that a test can
// change a running line without restarting it:
//
//   fault N|all NAME [VALUE...]   one fault of controller N (fault_names.h)
//   fault N|all clear             every fault of controller N off
//   faults N                      -> "faults 01: late-r 120, noise-byte 00"
//   overlaps                      -> "overlaps 3, sending 1, paused 0, pending 2"
//                                    (since the trace was cleared; trace.h)
//   clear-trace                   trace and overlaps start afresh
//   unplug | replug               the line goes away / comes back
//
// A command that changes something answers "ok"; a bad one "error: " and the
// reason, and changes nothing.
#pragma once

#include <string>
#include <string_view>

#include "tk571sim/line.h"

namespace tk571::sim {

std::string RunControlCommand(Line& line, std::string_view command);

}  // namespace tk571::sim
