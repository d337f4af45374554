// tk571-gateway as a program, for the tests: a real broker (mosquitto on a
// free local port, started by the test), tk571-sim on a pseudo-terminal, the
// gateway with a configuration of the test, and what a subscriber sees.
#pragma once

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <pwd.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "support/child_process.h"

namespace tk571::gateway_test {

namespace fs = std::filesystem;
using std::chrono::seconds;
using tk571::test::Child;

// Guards against a hung program, not measured times.
constexpr seconds kStartLimit{60};
constexpr seconds kEventLimit{120};

inline int FreeLocalPort() {
  const int s = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t size = sizeof address;
  bind(s, reinterpret_cast<sockaddr*>(&address), size);
  getsockname(s, reinterpret_cast<sockaddr*>(&address), &size);
  close(s);
  return ntohs(address.sin_port);
}

// A connected socket to 127.0.0.1:port, or -1.
inline int ConnectLocal(int port) {
  const int s = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(static_cast<uint16_t>(port));
  if (connect(s, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) return s;
  close(s);
  return -1;
}

inline bool Accepts(int port) {
  const int s = ConnectLocal(port);
  if (s >= 0) close(s);
  return s >= 0;
}

inline std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// One device's tags in the configuration: the live weight, the four final
// amounts, a set-point and the start switch; `writes` its write switches.
inline std::string DeviceJson(int number, const std::string& writes = "") {
  const std::string n = std::to_string(number);
  std::string tags = R"({"name": "weight", "address": "READ)" + n + R"(:1", "scan_ms": 100})";
  for (int m = 1; m <= 4; ++m) {
    tags += R"(, {"name": "final_)" + std::to_string(m) + R"(", "address": "ENQ)" + n + ":" +
            std::to_string(m) + R"("})";
  }
  tags += R"(, {"name": "target_1", "address": "M_FINAL)" + n + R"(:1", "writable": true})";
  tags += R"(, {"name": "run", "address": "START_UP)" + n + R"(:1"})";
  return R"({"number": )" + n + R"(, "name": "scale)" + n + R"(", )" +
         (writes.empty() ? "" : R"("writes": )" + writes + ", ") + R"("tags": [)" + tags + "]}";
}

// Controllers 1 and 2 at 115200 8N1 on `dir`/tty, traced to `dir`/trace.txt;
// controller 1's recipe makes a batch that ends within seconds. `extra`
// follows the common options (faults, a seed).
inline std::unique_ptr<Child> StartSimulatorIn(const std::string& dir,
                                               const std::vector<std::string>& extra) {
  std::vector<std::string> args = {TK571_SIM_PROGRAM,
                                   "--controllers",
                                   "1,2",
                                   "--baud",
                                   "115200",
                                   "--data-bits",
                                   "8",
                                   "--parity",
                                   "none",
                                   "--link",
                                   dir + "/tty",
                                   "--trace",
                                   dir + "/trace.txt",
                                   "--fast-rate",
                                   "200",
                                   "--settle",
                                   "100",
                                   "--recipe",
                                   "1:20/4/1,10/2/1,10/2/1,5/1/0"};
  args.insert(args.end(), extra.begin(), extra.end());
  return std::make_unique<Child>(args, std::vector<std::string>{}, dir, false);
}

class Gateway : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/tk571-gateway-test-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
    port_ = FreeLocalPort();
    StartBroker();
  }
  void TearDown() override {
    gateway_.reset();
    sim_.reset();
    broker_.reset();
    fs::remove_all(dir_);
  }

  // With the settings of `broker_settings_` (anonymous clients by default).
  // Started by root, mosquitto would become the user mosquitto, which cannot
  // read the test's files.
  void StartBroker() {
    const passwd* self = getpwuid(getuid());
    std::ofstream(dir_ + "/mosquitto.conf")
        << "listener " << port_ << " 127.0.0.1\npersistence false\nuser "
        << (self != nullptr ? self->pw_name : "root") << "\n"
        << broker_settings_;
    broker_ = std::make_unique<Child>(
        std::vector<std::string>{TK571_MOSQUITTO, "-c", dir_ + "/mosquitto.conf"},
        std::vector<std::string>{}, dir_, true);
    const auto give_up = std::chrono::steady_clock::now() + kStartLimit;
    while (!Accepts(port_) && std::chrono::steady_clock::now() < give_up) {
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    if (!Accepts(port_)) broker_->ReadUntil("\n\n", seconds(2));
    ASSERT_TRUE(Accepts(port_)) << "mosquitto did not start: " << broker_->Output();
  }

  void StartSimulator(std::vector<std::string> faults = {}) {
    std::vector<std::string> extra = {"--seed", "571", "--slow-rate", "50"};
    extra.insert(extra.end(), faults.begin(), faults.end());
    sim_ = StartSimulatorIn(dir_, extra);
    ASSERT_TRUE(sim_->ReadUntil("\n", kStartLimit)) << "simulator did not start";
  }

  std::string Tty() const { return dir_ + "/tty"; }
  std::string Trace() const { return dir_ + "/trace.txt"; }

  std::string Config(const std::string& writes = R"({"enabled": true, "commands": true})",
                     const std::string& device2 = DeviceJson(2)) const {
    return R"({"library": ")" TK571_DRIVER_LIBRARY R"(",
      "broker": {"url": "mqtt://127.0.0.1:)" +
           std::to_string(port_) + R"(", "client_id": "gw-test", "topic_prefix": "tk571",
                 "reconnect_max_s": 2},
      "writes": )" +
           writes + R"(,
      "lines": [{"name": "line1", "port": ")" +
           Tty() + R"(", "baud": 115200, "data_bits": 8, "parity": "none",
                 "devices": [)" +
           DeviceJson(1) + ", " + device2 + "]}]}";
  }

  void StartGateway(const std::string& config = "", const std::string& awaited = "connected,") {
    std::ofstream(dir_ + "/gateway.json") << (config.empty() ? Config() : config);
    gateway_ = std::make_unique<Child>(
        std::vector<std::string>{TK571_GATEWAY_PROGRAM, "--config", dir_ + "/gateway.json"},
        std::vector<std::string>{}, dir_, true);
    ASSERT_TRUE(gateway_->ReadUntil(awaited, kStartLimit)) << gateway_->Output();
  }

  void WaitForLog(const std::string& text, int times = 1) {
    ASSERT_TRUE(gateway_->ReadUntil(text, kEventLimit, times)) << "no \"" << text << "\" in:\n"
                                                               << gateway_->Output();
  }

  // Every retained message under `filter`, one "topic payload" a line, as a
  // new subscriber gets them.
  std::string Retained(const std::string& filter = "tk571/#") {
    std::vector<std::string> args = {TK571_MOSQUITTO_SUB,   "-h", "127.0.0.1", "-p",
                                     std::to_string(port_), "-v", "-t",        filter,
                                     "--retained-only",     "-W", "3"};
    args.insert(args.end(), reader_login_.begin(), reader_login_.end());
    Child sub(args, {}, dir_, false);
    sub.Finish();
    return sub.Output();
  }

  // The retained messages once all of `texts` are among them (they may still
  // be on their way from the gateway), or the last look when the guard ends.
  std::string RetainedWith(const std::vector<std::string>& texts,
                           const std::string& filter = "tk571/#") {
    const auto give_up = std::chrono::steady_clock::now() + kEventLimit;
    std::string retained;
    do {
      retained = Retained(filter);
      bool all = true;
      for (const std::string& text : texts) all = all && retained.find(text) != std::string::npos;
      if (all) break;
    } while (std::chrono::steady_clock::now() < give_up);
    return retained;
  }

  // The payload goes through a file: it may hold anything and be larger
  // than an argument can be. With `lines` each line is one message; `login`
  // is "-u USER -P PASSWORD" or empty.
  void Publish(const std::string& topic, const std::string& payload, bool lines = false,
               const std::string& login = "") {
    std::ofstream(dir_ + "/payload", std::ios::binary) << payload;
    const std::string pub = std::string(TK571_MOSQUITTO_PUB) + " -h 127.0.0.1 -p " +
                            std::to_string(port_) + " " + login + " -t " + topic +
                            (lines ? " -l <payload" : " -f payload");
    Child child({"/bin/sh", "-c", pub}, {}, dir_, true);
    ASSERT_EQ(child.Finish(), 0) << child.Output();
  }

  // The bytes the simulator saw, until `text` shows up.
  bool TraceShows(const std::string& text) {
    const auto give_up = std::chrono::steady_clock::now() + kEventLimit;
    while (ReadFile(Trace()).find(text) == std::string::npos) {
      if (std::chrono::steady_clock::now() > give_up) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return true;
  }

  std::string dir_;
  int port_ = 0;
  std::string broker_settings_ = "allow_anonymous true\n";
  std::vector<std::string> reader_login_;  // for Retained: {"-u", USER, "-P", PASSWORD}
  std::unique_ptr<Child> broker_;
  std::unique_ptr<Child> sim_;
  std::unique_ptr<Child> gateway_;
};

}  // namespace tk571::gateway_test
