// The host program: loads the driver and runs the configuration commands or
// the polling loop.
#pragma once

#include "host_options.h"

namespace tk571::host {

inline constexpr int kExitOk = 0;
inline constexpr int kExitFailure = 1;  // the driver refused or a command failed
inline constexpr int kExitUsage = 2;    // bad command line or input file
// Plus the signal number: configuration commands ended by Ctrl-C or SIGTERM.
inline constexpr int kExitSignal = 128;

int RunHost(const HostOptions& options);

}  // namespace tk571::host
