// tk571-gateway --config FILE [--check [--modbus-map[=csv]]] [--log-format text|json]
// tk571-gateway report|verify --config FILE ... (journal_commands.h)
//
// Publishes the tags of TK571 controllers on one or more serial lines to an
// MQTT broker and, when configured, as the registers of a Modbus TCP server,
// and passes writes from either to the driver. SIGTERM and
// SIGINT stop it cleanly; SIGHUP reloads the configuration (a configuration
// with errors is reported and the running one kept).
#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <cstring>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "driver_library.h"
#include "gateway.h"
#include "gateway_config.h"
#include "journal_commands.h"
#include "line_plan.h"
#include "log.h"
#include "mqtt_link.h"
#include "register_map.h"

namespace {

using namespace tk571;
using namespace tk571::gateway;

constexpr int kExitOk = 0;
constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;

constexpr const char* kUsage =
    "usage: tk571-gateway --config FILE [--check [--modbus-map[=csv]]] [--log-format text|json]\n"
    "  --config FILE  the gateway's configuration (JSON; schema: config_schema.json)\n"
    "  --check        check the configuration, with the driver's address check and the\n"
    "                 broker's credentials and TLS files, and end\n"
    "  --modbus-map   with --check: print the Modbus register map (text, or csv)\n"
    "  --log-format   text (default) or json: one JSON object a line\n"
    "Signals: SIGTERM/SIGINT stop, SIGHUP reloads the configuration.\n"
    "The journal of batches and writes:\n";

enum class MapPrint { kNone, kText, kCsv };

struct Options {
  std::string config;
  bool check = false;
  MapPrint map = MapPrint::kNone;
};

struct Loaded {
  GatewayConfig config;
  std::vector<LinePlan> plans;
  RegisterMap map;
  std::vector<std::string> errors;
  bool library_failed = false;
};

// The file's form first, then every address through the driver, then the
// broker's credentials and TLS files as the connection will use them.
Loaded Load(const std::string& path, std::unique_ptr<host::DriverLibrary>* library) {
  Loaded loaded;
  ConfigResult result = LoadConfig(path);
  for (const std::string& e : result.errors) loaded.errors.push_back(path + ": " + e);
  if (!loaded.errors.empty()) return loaded;
  loaded.config = std::move(result.config);
  if (!*library) {
    const std::string library_path =
        loaded.config.library.empty() ? host::DefaultLibraryPath() : loaded.config.library;
    std::string error;
    *library = host::DriverLibrary::Open(library_path, &error);
    if (!*library) {
      loaded.errors.push_back(error);
      loaded.library_failed = true;
      return loaded;
    }
  }
  std::vector<std::string> errors;
  loaded.plans = PlanLines(loaded.config, **library, &errors);
  if (errors.empty() && loaded.config.modbus) {
    loaded.map = BuildRegisterMap(*loaded.config.modbus, loaded.plans, &errors);
  }
  for (const std::string& e : errors) loaded.errors.push_back(path + ": " + e);
  if (std::string error;
      loaded.errors.empty() && !MqttLink::CheckSettings(loaded.config.broker, &error)) {
    loaded.errors.push_back(path + ": /broker: " + error);
  }
  return loaded;
}

class SignalFd {
 public:
  // Blocks the signals in every thread started later; they arrive here.
  SignalFd() {
    sigemptyset(&set_);
    for (int s : {SIGTERM, SIGINT, SIGHUP}) sigaddset(&set_, s);
    pthread_sigmask(SIG_BLOCK, &set_, nullptr);
    signal(SIGPIPE, SIG_IGN);
    fd_ = signalfd(-1, &set_, SFD_CLOEXEC);
  }
  ~SignalFd() {
    if (fd_ >= 0) close(fd_);
  }
  SignalFd(const SignalFd&) = delete;
  SignalFd& operator=(const SignalFd&) = delete;
  int Next() {
    signalfd_siginfo info{};
    while (read(fd_, &info, sizeof info) != sizeof info) {
    }
    return static_cast<int>(info.ssi_signo);
  }

 private:
  sigset_t set_;
  int fd_ = -1;
};

int Run(const Options& options) {
  SignalFd signals;
  MqttLibrary mqtt;
  std::unique_ptr<host::DriverLibrary> library;
  Loaded loaded = Load(options.config, &library);
  if (!loaded.errors.empty()) {
    for (const std::string& e : loaded.errors) std::cerr << "tk571-gateway: " << e << std::endl;
    return loaded.library_failed ? kExitFailure : kExitUsage;
  }
  if (options.map != MapPrint::kNone) {
    if (!loaded.config.modbus) {
      std::cerr << "tk571-gateway: " << options.config << ": there is no modbus section"
                << std::endl;
      return kExitUsage;
    }
    std::cout << RegisterMapTable(loaded.map, options.map == MapPrint::kCsv);
    return kExitOk;
  }
  if (options.check) {
    std::size_t tags = 0;
    for (const LinePlan& plan : loaded.plans) tags += plan.controls.size();
    std::cout << options.config << ": configuration is good: " << loaded.plans.size() << " lines, "
              << tags << " controls" << std::endl;
    return kExitOk;
  }

  Log("driver library " + library->Path());
  auto gateway = std::make_unique<Gateway>(loaded.config, std::move(loaded.plans),
                                           std::move(loaded.map), *library);
  std::string error;
  if (!gateway->Start(&error)) {
    std::cerr << "tk571-gateway: " << error << std::endl;
    return kExitFailure;
  }
  for (;;) {
    const int signal_number = signals.Next();
    if (signal_number != SIGHUP) {
      Log(std::string("stopping (") + strsignal(signal_number) + ")");
      break;
    }
    Log("reloading " + options.config);
    Loaded next = Load(options.config, &library);
    if (!next.errors.empty()) {
      for (const std::string& e : next.errors) Log(e);
      Log("the configuration has errors; the running one stays");
      continue;
    }
    if (!next.config.library.empty() && next.config.library != library->Path()) {
      Log("the driver library stays " + library->Path() + " until the next start");
    }
    const std::vector<std::string> earlier = gateway->RetainedTopics();
    gateway.reset();
    gateway = std::make_unique<Gateway>(next.config, std::move(next.plans), std::move(next.map),
                                        *library);
    if (!gateway->Start(&error)) {
      Log(error);
      return kExitFailure;
    }
    gateway->ClearStale(earlier);
  }
  gateway.reset();
  Log("stopped");
  return kExitOk;
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  const std::vector<std::string> args(argv + 1, argv + argc);
  if (!args.empty() && (args[0] == "report" || args[0] == "verify")) {
    return RunJournalCommand(args);
  }
  for (std::size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "--config" && i + 1 < args.size()) {
      options.config = args[++i];
    } else if (args[i] == "--check") {
      options.check = true;
    } else if (args[i] == "--modbus-map" || args[i] == "--modbus-map=text") {
      options.map = MapPrint::kText;
    } else if (args[i] == "--modbus-map=csv") {
      options.map = MapPrint::kCsv;
    } else if (args[i] == "--log-format" && i + 1 < args.size() &&
               (args[i + 1] == "text" || args[i + 1] == "json")) {
      SetLogFormat(args[++i] == "json" ? LogFormat::kJson : LogFormat::kText);
    } else if (args[i] == "--help" || args[i] == "-h") {
      std::cout << kUsage << kJournalUsage;
      return kExitOk;
    } else {
      std::cerr << "tk571-gateway: unknown option " << args[i] << "\n" << kUsage;
      return kExitUsage;
    }
  }
  if (options.map != MapPrint::kNone && !options.check) {
    std::cerr << "tk571-gateway: --modbus-map goes with --check\n" << kUsage;
    return kExitUsage;
  }
  if (options.config.empty()) {
    std::cerr << "tk571-gateway: --config FILE is needed\n" << kUsage;
    return kExitUsage;
  }
  return Run(options);
}
