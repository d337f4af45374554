// tk571-host: a reference SCADA host for the TK571 driver library.
#include <iostream>
#include <string_view>
#include <vector>

#include "host_app.h"
#include "host_options.h"

int main(int argc, char** argv) {
  const std::vector<std::string_view> args(argv + 1, argv + argc);
  const tk571::host::HostOptionsResult parsed = tk571::host::ParseHostOptions(args);
  if (!parsed.error.empty()) {
    std::cerr << "tk571-host: " << parsed.error << "\nTry tk571-host --help.\n";
    return tk571::host::kExitUsage;
  }
  if (parsed.options.version) {
    std::cout << "tk571-host " << TK571_HOST_VERSION << "\n";
    return tk571::host::kExitOk;
  }
  if (parsed.options.help) {
    std::cout << tk571::host::HostUsage();
    return tk571::host::kExitOk;
  }
  try {
    return tk571::host::RunHost(parsed.options);
  } catch (const std::exception& e) {
    std::cerr << "tk571-host: " << e.what() << "\n";
    return tk571::host::kExitFailure;
  }
}
