// tk571-gateway as a program, against a real broker (mosquitto on a free
// local port, started by the test) and tk571-sim on a pseudo-terminal:
// retained values and meta data, writes from /on onto the wire, a silent
// controller greyed out, the broker restarted, bad configurations.
#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <png.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <nlohmann/json.hpp>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "support/child_process.h"

namespace {

namespace fs = std::filesystem;
using std::chrono::seconds;
using tk571::test::Child;

// Guards against a hung program, not measured times.
constexpr seconds kStartLimit{60};
constexpr seconds kEventLimit{120};

int FreeLocalPort() {
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

bool Accepts(int port) {
  const int s = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(static_cast<uint16_t>(port));
  const bool ok = connect(s, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  close(s);
  return ok;
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// One device's tags in the configuration: the live weight, the four final
// amounts, a set-point and the start switch.
std::string DeviceJson(int number) {
  const std::string n = std::to_string(number);
  std::string tags = R"({"name": "weight", "address": "READ)" + n + R"(:1", "scan_ms": 100})";
  for (int m = 1; m <= 4; ++m) {
    tags += R"(, {"name": "final_)" + std::to_string(m) + R"(", "address": "ENQ)" + n + ":" +
            std::to_string(m) + R"("})";
  }
  tags += R"(, {"name": "target_1", "address": "M_FINAL)" + n + R"(:1", "writable": true})";
  tags += R"(, {"name": "run", "address": "START_UP)" + n + R"(:1"})";
  return R"({"number": )" + n + R"(, "name": "scale)" + n + R"(", "tags": [)" + tags + "]}";
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

  void StartBroker() {
    std::ofstream(dir_ + "/mosquitto.conf")
        << "listener " << port_ << " 127.0.0.1\nallow_anonymous true\n"
        << (persistent_broker_ ? "persistence true\npersistence_location " + dir_ + "/\n"
                               : "persistence false\n");
    broker_ = std::make_unique<Child>(
        std::vector<std::string>{TK571_MOSQUITTO, "-c", dir_ + "/mosquitto.conf"},
        std::vector<std::string>{}, dir_, true);
    const auto give_up = std::chrono::steady_clock::now() + kStartLimit;
    while (!Accepts(port_) && std::chrono::steady_clock::now() < give_up) {
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    ASSERT_TRUE(Accepts(port_)) << "mosquitto did not start";
  }

  // Controllers 1 and 2 at 115200 8N1; the controller's recipe for device 1
  // makes a batch that ends within seconds.
  void StartSimulator(std::vector<std::string> faults = {}) {
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
                                     Tty(),
                                     "--seed",
                                     "571",
                                     "--trace",
                                     Trace(),
                                     "--fast-rate",
                                     "200",
                                     "--slow-rate",
                                     "50",
                                     "--settle",
                                     "100",
                                     "--recipe",
                                     "1:20/4/1,10/2/1,10/2/1,5/1/0"};
    args.insert(args.end(), faults.begin(), faults.end());
    sim_ = std::make_unique<Child>(args, std::vector<std::string>{}, dir_, false);
    ASSERT_TRUE(sim_->ReadUntil("\n", kStartLimit)) << "simulator did not start";
  }

  std::string Tty() const { return dir_ + "/tty"; }
  std::string Trace() const { return dir_ + "/trace.txt"; }

  std::string Config(const std::string& devices = DeviceJson(1) + ", " + DeviceJson(2),
                     const std::string& settings = "") const {
    return R"({"library": ")" TK571_DRIVER_LIBRARY R"(",
      "broker": {"url": "mqtt://127.0.0.1:)" +
           std::to_string(port_) + R"(", "client_id": "gw-test", "topic_prefix": "tk571",
                 "reconnect_max_s": 2},)" +
           settings + R"(
      "lines": [{"name": "line1", "port": ")" +
           Tty() + R"(", "baud": 115200, "data_bits": 8, "parity": "none",
                 "devices": [)" +
           devices + "]}]}";
  }

  void StartGateway(const std::string& config = "") {
    std::ofstream(dir_ + "/gateway.json") << (config.empty() ? Config() : config);
    gateway_ = std::make_unique<Child>(
        std::vector<std::string>{TK571_GATEWAY_PROGRAM, "--config", dir_ + "/gateway.json"},
        std::vector<std::string>{}, dir_, true);
    ASSERT_TRUE(gateway_->ReadUntil("connected,", kStartLimit)) << gateway_->Output();
  }

  void WaitForLog(const std::string& text, int times = 1) {
    ASSERT_TRUE(gateway_->ReadUntil(text, kEventLimit, times)) << "no \"" << text << "\" in:\n"
                                                               << gateway_->Output();
  }

  // Every retained message under `filter`, one "topic payload" a line, as a
  // new subscriber gets them.
  std::string Retained(const std::string& filter = "tk571/#") {
    Child sub({TK571_MOSQUITTO_SUB, "-h", "127.0.0.1", "-p", std::to_string(port_), "-v", "-t",
               filter, "--retained-only", "-W", "3"},
              {}, dir_, false);
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

  void Publish(const std::string& topic, const std::string& payload) {
    Child pub({TK571_MOSQUITTO_PUB, "-h", "127.0.0.1", "-p", std::to_string(port_), "-t", topic,
               "-m", payload},
              {}, dir_, true);
    ASSERT_EQ(pub.Finish(), 0) << pub.Output();
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
  bool persistent_broker_ = false;
  std::unique_ptr<Child> broker_;
  std::unique_ptr<Child> sim_;
  std::unique_ptr<Child> gateway_;
};

TEST_F(Gateway, ValuesAndMetaAreRetainedAndANormalLinkHasNoError) {
  StartSimulator();
  StartGateway();
  WaitForLog("scale1: link 1 (normal)");
  WaitForLog("scale2: link 1 (normal)");
  WaitForLog("line1: line link 1 (normal)");
  const std::vector<std::string> expected = {
      "tk571/gateway/gw-test/status online\n",
      "tk571/devices/line1/controls/link 1\n",
      "tk571/devices/scale1/controls/link 1\n",
      "tk571/devices/scale2/controls/link_text 2号 智能仪表TK571通讯正常!\n",
      "tk571/devices/scale1/controls/weight ",
      "tk571/devices/scale2/controls/final_4 ",
      // The Chinese name is the driver's own description of the kind.
      R"(tk571/devices/scale1/controls/weight/meta {"address":"READ1:1.-1")",
      R"("readonly":true,"title":{"en":"live weight","zh":"读取实时计量值"},"type":"value","units":"kg"})",
      R"(tk571/devices/scale2/controls/target_1/meta {"address":"M_FINAL2:1.-1")",
      R"("readonly":false,"title":{"en":"target weight, material 1","zh":"目标重量设定 M1"})",
      R"(tk571/devices/scale1/controls/run/meta {"address":"START_UP1:1.-1")",
      "tk571/devices/scale1/controls/target_1 0\n",
  };
  const std::string retained = RetainedWith(expected);
  for (const std::string& text : expected) {
    EXPECT_NE(retained.find(text), std::string::npos) << text << "\nin:\n" << retained;
  }
  // The error flag of a device whose link is normal has been cleared.
  EXPECT_EQ(retained.find("/meta/error"), std::string::npos) << retained;
}

struct WriteCase {
  const char* control;
  const char* payload;
  const char* logged;  // the gateway's answer
};

TEST_F(Gateway, WritesFromOnReachTheDriverAndTheAnswerIsLogged) {
  StartSimulator();
  StartGateway();
  WaitForLog("line1: line link 1 (normal)");
  const std::vector<WriteCase> cases = {
      // A set-point stays in the driver's recipe: nothing is queued.
      {"scale2/controls/target_1", "120",
       "write scale2/target_1 = 120: not queued (OnDataWrite answered false)"},
      {"scale1/controls/weight", "5", "write scale1/weight: refused, it is read-only (5)"},
      {"scale1/controls/run", "maybe", "write scale1/run: refused, \"maybe\" is not 0/1 or on/off"},
      {"scale9/controls/run", "1", "write tk571/devices/scale9/controls/run/on: no such device"},
      {"scale1/controls/run", "1", "write scale1/run = 1: queued"},
  };
  for (const WriteCase& c : cases) {
    SCOPED_TRACE(c.control);
    Publish(std::string("tk571/devices/") + c.control + "/on", c.payload);
    WaitForLog(c.logged);
  }
  // "ST" CR LF on the wire, the controller's answer reported back, and the
  // batch the controller's recipe makes.
  EXPECT_TRUE(TraceShows(">> 53 54 0D 0A")) << ReadFile(Trace());
  WaitForLog("scale1/run = 1 (quality 0x0)");
  WaitForLog("scale1: batch finished, M1=");
  const std::string retained = RetainedWith(
      {"tk571/devices/scale2/controls/target_1 120\n", "tk571/devices/scale1/batch {"});
  EXPECT_NE(retained.find("tk571/devices/scale2/controls/target_1 120\n"), std::string::npos)
      << retained;
  const std::size_t batch = retained.find("tk571/devices/scale1/batch {");
  ASSERT_NE(batch, std::string::npos) << retained;
  const std::string line = retained.substr(batch, retained.find('\n', batch) - batch);
  for (const char* part : {R"("device":"scale1")", R"("number":1)", R"({"amount":)",
                           R"("material":4})", R"("time":"20)", R"("unit":"kg")"}) {
    EXPECT_NE(line.find(part), std::string::npos) << part << " in " << line;
  }
}

TEST_F(Gateway, ASilentControllerIsMarkedWithAReadError) {
  StartSimulator({"--silent", "2"});
  StartGateway();
  WaitForLog("scale1: link 1 (normal)");
  WaitForLog("driver: 通讯超时错，期待设备应答");
  std::vector<std::string> marked;
  for (const char* control : {"weight", "final_1", "final_4", "target_1", "run"}) {
    marked.push_back(std::string("tk571/devices/scale2/controls/") + control + "/meta/error r\n");
  }
  std::string retained = RetainedWith(marked, "tk571/devices/+/controls/+/meta/error");
  for (const std::string& text : marked) {
    EXPECT_NE(retained.find(text), std::string::npos) << text << " in:\n" << retained;
  }
  EXPECT_EQ(retained.find("scale1"), std::string::npos) << retained;

  // Controller 1 falls silent too (the simulator ends): its values are
  // marked as well.
  sim_.reset();
  WaitForLog("scale1: link ", 2);
  retained = RetainedWith({"tk571/devices/scale1/controls/weight/meta/error r\n"},
                          "tk571/devices/+/controls/+/meta/error");
  EXPECT_NE(retained.find("tk571/devices/scale1/controls/weight/meta/error r\n"), std::string::npos)
      << retained;
}

TEST_F(Gateway, WritesWhileTheLineIsDownAreRefused) {
  StartSimulator({"--silent", "1", "--silent", "2"});
  StartGateway();
  WaitForLog("driver: 通讯超时错，期待设备应答");
  Publish("tk571/devices/scale1/controls/run/on", "1");
  WaitForLog("write scale1/run: refused, the device does not answer (link 0 (never answered)): 1");
  const std::string marked = "tk571/devices/scale1/controls/run/meta/error rw\n";
  EXPECT_NE(RetainedWith({marked}).find(marked), std::string::npos);
  EXPECT_EQ(ReadFile(Trace()).find(">> 53 54 0D 0A"), std::string::npos);
}

TEST_F(Gateway, AnUnpluggedLineIsMarkedAndComesBack) {
  // The adapter disappears after 3 s of service, for 2 s, again and again.
  StartSimulator({"--flap", "3000:2000"});
  StartGateway();
  WaitForLog("scale1: link 1 (normal)");
  WaitForLog("scale1: link ", 2);  // a change from normal
  const std::string marked = "tk571/devices/scale1/controls/weight/meta/error r\n";
  EXPECT_NE(RetainedWith({marked}).find(marked), std::string::npos);
  WaitForLog("scale1: link 1 (normal)", 2);
  EXPECT_EQ(Retained().find(marked), std::string::npos);
}

TEST_F(Gateway, ARestartedBrokerGetsTheRetainedStateBack) {
  StartSimulator();
  StartGateway();
  WaitForLog("line1: line link 1 (normal)");
  WaitForLog("scale2: link 1 (normal)");
  const std::string weight = "tk571/devices/scale1/controls/weight ";
  ASSERT_NE(RetainedWith({weight}).find(weight), std::string::npos);

  // The broker keeps nothing on disk: all it has after the restart comes
  // from the gateway.
  broker_.reset();
  WaitForLog("connection lost");
  StartBroker();
  WaitForLog("connected,", 2);
  const std::vector<std::string> expected = {
      "tk571/gateway/gw-test/status online\n",  "tk571/devices/line1/controls/link 1\n",
      "tk571/devices/scale1/controls/weight ",  "tk571/devices/scale1/controls/weight/meta {",
      "tk571/devices/scale2/controls/final_2 ", "tk571/devices/scale2/controls/run/meta {"};
  const std::string retained = RetainedWith(expected);
  for (const std::string& text : expected) {
    EXPECT_NE(retained.find(text), std::string::npos) << text << " in:\n" << retained;
  }
}

TEST_F(Gateway, TerminateStopsTheDriverAndLeavesTheStatusOffline) {
  StartSimulator();
  StartGateway();
  WaitForLog("driver started on Com1");
  kill(gateway_->Pid(), SIGTERM);
  EXPECT_EQ(gateway_->Finish(), 0) << gateway_->Output();
  EXPECT_NE(gateway_->Output().find("line1: driver stopped (FreeDriver)"), std::string::npos);
  const std::string offline = "tk571/gateway/gw-test/status offline\n";
  EXPECT_NE(RetainedWith({offline}).find(offline), std::string::npos);
}

TEST_F(Gateway, HangupReloadsTheConfigurationAndClearsTopicsItNoLongerHas) {
  StartSimulator();
  StartGateway();
  WaitForLog("scale2: link 1 (normal)");
  const std::string scale2 = "tk571/devices/scale2/controls/weight/meta {";
  ASSERT_NE(RetainedWith({scale2}).find(scale2), std::string::npos);
  // The new configuration has device 1 only.
  std::string config = Config();
  config.replace(config.find(", " + DeviceJson(2)), DeviceJson(2).size() + 2, "");
  std::ofstream(dir_ + "/gateway.json") << config;
  kill(gateway_->Pid(), SIGHUP);
  WaitForLog("connected,", 2);
  WaitForLog("scale1: link 1 (normal)", 2);
  const std::string scale1 = "tk571/devices/scale1/controls/weight/meta {";
  const std::string retained = RetainedWith({scale1});
  EXPECT_NE(retained.find(scale1), std::string::npos);
  EXPECT_EQ(retained.find("tk571/devices/scale2/"), std::string::npos) << retained;

  // A broken file is reported and the running configuration stays.
  std::ofstream(dir_ + "/gateway.json") << "{";
  kill(gateway_->Pid(), SIGHUP);
  WaitForLog("the configuration has errors; the running one stays");
}

TEST_F(Gateway, TheDemoPlantConfigurationPassesTheCheck) {
  Child check({TK571_GATEWAY_PROGRAM, "--config", TK571_GATEWAY_DEMO_CONFIG, "--check"},
              {std::string("TK571_LIBRARY=") + TK571_DRIVER_LIBRARY}, dir_, true);
  EXPECT_EQ(check.Finish(), 0) << check.Output();
  // Two controllers of 20 tags with their link and link text, and the line's link.
  EXPECT_NE(check.Output().find("configuration is good: 1 lines, 45 controls"), std::string::npos)
      << check.Output();
}

struct BadConfig {
  const char* what;
  std::string text;
  const char* expected;
};

TEST_F(Gateway, BadConfigurationsAreRefusedWithThePlaceInTheFile) {
  const std::string broker = R"("broker": {"url": "mqtt://127.0.0.1:1883"})";
  const auto line = [&](const std::string& settings, const std::string& tags) {
    return R"({"library": ")" TK571_DRIVER_LIBRARY R"(", )" + broker +
           R"(, "lines": [{"name": "l1", "port": "Com1", )" + settings +
           R"("devices": [{"number": 1, "name": "s1", "tags": [)" + tags + "]}]}]}";
  };
  const std::string weight = R"({"name": "w", "address": "READ1:1"})";
  const std::vector<BadConfig> cases = {
      {"not JSON", "{\"broker\": ", "gateway.json: not JSON: parse error at line 1, column 12"},
      {"no broker", R"({"lines": []})", "gateway.json: /: Missing required property 'broker'."},
      {"unknown baud rate", line(R"("baud": 9601, )", weight), "gateway.json: /lines/0/baud: "},
      {"misspelt parity", line(R"("parity": "evn", )", weight), "gateway.json: /lines/0/parity: "},
      {"unknown setting", line(R"("bauds": 9600, )", weight), "gateway.json: /lines/0: "},
      {"tag name not a topic level", line("", R"({"name": "a/b", "address": "READ1:1"})"),
       "gateway.json: /lines/0/devices/0/tags/0/name: "},
      {"address the driver refuses", line("", weight + R"(, {"name": "x", "address": "XYZ1:1"})"),
       "gateway.json: /lines/0/devices/0/tags/1/address: \"XYZ1:1\" is not a tag address of the "
       "driver"},
      {"address of another device", line("", R"({"name": "w", "address": "READ2:1"})"),
       "gateway.json: /lines/0/devices/0/tags/0/address: \"READ2:1\" names device 2, not device "
       "1 it is listed under"},
      {"material out of range", line("", R"({"name": "f", "address": "ENQ1:5"})"),
       "gateway.json: /lines/0/devices/0/tags/0/address: \"ENQ1:5\": the ENQ tags of a "
       "controller are channel 1 to 4"},
      {"writable weight", line("", R"({"name": "w", "address": "READ1:1", "writable": true})"),
       "gateway.json: /lines/0/devices/0/tags/0/writable: \"READ1:1\" cannot be written"},
      {"tag name twice", line("", weight + ", " + weight),
       "gateway.json: /lines/0/devices/0/tags/1/name: tag name \"w\" is already used at "
       "/lines/0/devices/0/tags/0/name"},
      {"the link control's name", line("", R"({"name": "link", "address": "READ1:1"})"),
       "gateway.json: /lines/0/devices/0/tags/0/name: tag name \"link\" is already used"},
      {"TLS url without TLS files",
       R"({"broker": {"url": "mqtts://broker.plant"}, "lines": [{"name": "l1", "port": "Com1",
          "devices": [{"number": 1, "name": "s1", "tags": [{"name": "w", "address": "READ1"}]}]}]})",
       "gateway.json: /broker/url: mqtts:// needs /broker/tls with a ca_file"},
      {"one port for two lines",
       R"({"broker": {"url": "mqtt://h"}, "lines": [
          {"name": "a", "port": "Com2", "devices": [{"number": 1, "name": "s1", "tags": [)" +
           weight + R"(]}]},
          {"name": "b", "port": "com2", "devices": [{"number": 1, "name": "s2", "tags": [)" +
           weight + R"(]}]}]})",
       "gateway.json: /lines/1/port: port \"com2\" is already used at /lines/0/port"},
  };
  for (const BadConfig& c : cases) {
    SCOPED_TRACE(c.what);
    std::ofstream(dir_ + "/gateway.json") << c.text;
    Child check({TK571_GATEWAY_PROGRAM, "--config", "gateway.json", "--check"}, {}, dir_, true);
    EXPECT_EQ(check.Finish(), 2) << check.Output();
    EXPECT_NE(check.Output().find(c.expected), std::string::npos) << check.Output();
  }
  Child missing({TK571_GATEWAY_PROGRAM, "--config", "none.json"}, {}, dir_, true);
  EXPECT_EQ(missing.Finish(), 2);
  EXPECT_NE(missing.Output().find("none.json: cannot open none.json"), std::string::npos);
}

// Device 1 with the whole recipe writable (f1 = M_FINAL1:1, c1 = M_COARSE1:1,
// i1 = M_FINE1:1, ...), LOAD_SETM, and tolerances for three materials.
std::string RecipeDeviceJson() {
  std::string tags = R"({"name": "weight", "address": "READ1:1", "scan_ms": 100})";
  for (int m = 1; m <= 4; ++m) {
    const std::string n = std::to_string(m);
    tags += R"(, {"name": "final_)" + n + R"(", "address": "ENQ1:)" + n + R"("})";
    for (const auto& [name, kind] : {std::pair{"f", "FINAL"}, {"c", "COARSE"}, {"i", "FINE"}}) {
      tags += R"(, {"name": ")" + std::string(name) + n + R"(", "address": "M_)" + kind + "1:" + n +
              R"(", "writable": true})";
    }
  }
  tags +=
      R"(, {"name": "load", "address": "LOAD_SETM1:1"}, {"name": "run", "address": "START_UP1:1"})";
  return R"({"number": 1, "name": "scale1", "tolerances": [{"material": 1, "kg": 0.001},
             {"material": 2, "percent": 1}, {"material": 3, "kg": 0.05}], "tags": [)" +
         tags + "]}";
}

constexpr const char* kJournalSettings =
    R"("journal": {"directory": ".", "shifts": ["06:00", "14:00", "22:00"]},)";

class Journal : public Gateway {
 protected:
  // A batch takes a few seconds, so that its fill curve has points.
  void StartSlowSimulator(std::vector<std::string> more = {}) {
    std::vector<std::string> args = {"--fast-rate", "20", "--slow-rate", "5", "--settle", "200"};
    args.insert(args.end(), more.begin(), more.end());
    StartSimulator(args);
  }
  void StartJournalGateway() { StartGateway(Config(RecipeDeviceJson(), kJournalSettings)); }

  // tk571-gateway report/verify with the test's configuration.
  std::pair<int, std::string> Command(std::vector<std::string> args) {
    args.insert(args.begin(), TK571_GATEWAY_PROGRAM);
    args.insert(args.begin() + 2, {"--config", dir_ + "/gateway.json"});
    Child command(args, {"TZ=UTC"}, dir_, false);
    const int code = command.Finish();
    return {code, command.Output()};
  }
  nlohmann::json Report(std::vector<std::string> args = {}) {
    args.insert(args.begin(), {"report", "--format", "json"});
    const auto [code, output] = Command(args);
    EXPECT_EQ(code, 0) << output;
    return nlohmann::json::parse(output, nullptr, false);
  }

  void SendControl(const std::string& command) {
    const int fd = open(Control().c_str(), O_WRONLY);
    ASSERT_GE(fd, 0);
    const std::string line = command + "\n";
    ASSERT_EQ(write(fd, line.data(), line.size()), static_cast<ssize_t>(line.size()));
    close(fd);
  }
  std::string Control() const { return dir_ + "/control"; }
};

struct Recipe {
  std::array<int, 4> final_kg, coarse_kg, fine_kg;
};

TEST_F(Journal, ThreeBatchesAreReportedWithDeviationsVerdictsTotalsAndAPlot) {
  StartSlowSimulator();
  StartJournalGateway();
  WaitForLog("scale1: link 1 (normal)");
  // Material 1 has no FINE: nothing is in flight and it lands exactly on target.
  const std::vector<Recipe> recipes = {{{20, 12, 10, 8}, {4, 3, 2, 2}, {0, 1, 1, 1}},
                                       {{30, 12, 10, 8}, {5, 3, 2, 2}, {0, 2, 1, 1}},
                                       {{25, 14, 10, 6}, {5, 4, 2, 2}, {0, 2, 1, 1}}};
  for (std::size_t b = 0; b < recipes.size(); ++b) {
    for (int m = 0; m < 4; ++m) {
      const std::string n = std::to_string(m + 1);
      Publish("tk571/devices/scale1/controls/f" + n + "/on",
              std::to_string(recipes[b].final_kg[m]));
      Publish("tk571/devices/scale1/controls/c" + n + "/on",
              std::to_string(recipes[b].coarse_kg[m]));
      Publish("tk571/devices/scale1/controls/i" + n + "/on", std::to_string(recipes[b].fine_kg[m]));
    }
    // The line sends the recipe, then the start.
    Publish("tk571/devices/scale1/controls/load/on", "1");
    Publish("tk571/devices/scale1/controls/run/on", "1");
    WaitForLog("scale1: batch finished", static_cast<int>(b) + 1);
  }

  const nlohmann::json batches = Report();
  ASSERT_EQ(batches.size(), 3u) << batches.dump(2);
  const double tolerance[] = {0.001, 0, 0.05};  // material 2: 1 % of its target
  std::map<int, double> sums;
  for (std::size_t b = 0; b < 3; ++b) {
    SCOPED_TRACE("batch " + std::to_string(b + 1));
    const nlohmann::json& batch = batches[b];
    EXPECT_EQ(batch["sequence"], b + 1);
    EXPECT_EQ(batch["origin"]["control"], "run");
    EXPECT_EQ(batch["origin"]["topic"], "tk571/devices/scale1/controls/run/on");
    ASSERT_EQ(batch["materials"].size(), 4u);
    for (int m = 0; m < 4; ++m) {
      const nlohmann::json& row = batch["materials"][m];
      const Recipe& r = recipes[b];
      EXPECT_EQ(row["target"], r.final_kg[m]);
      EXPECT_EQ(row["coarse"], r.coarse_kg[m]);
      EXPECT_EQ(row["fine"], r.fine_kg[m]);
      const double amount = row["amount"];
      sums[m + 1] += amount;
      // What lands after the feed closes is FINE give or take 10 %.
      EXPECT_NEAR(amount, r.final_kg[m], 0.1 * r.fine_kg[m] + 0.01);
      EXPECT_NEAR(row["deviation"].get<double>(), amount - r.final_kg[m], 1e-9);
      if (m == 3) {
        EXPECT_EQ(row["verdict"], "none");
        continue;
      }
      const double allowed = m == 1 ? 0.01 * r.final_kg[m] : tolerance[m];
      EXPECT_NEAR(row["tolerance"].get<double>(), allowed, 1e-9);
      EXPECT_EQ(row["verdict"], std::abs(amount - r.final_kg[m]) <= allowed + 1e-9 ? "in" : "out");
    }
    EXPECT_EQ(batches[b]["materials"][0]["deviation"], 0);
  }
  // CSV: a header and one line per material.
  const auto [csv_code, csv] = Command({"report"});
  EXPECT_EQ(csv_code, 0);
  EXPECT_EQ(std::count(csv.begin(), csv.end(), '\n'), 13) << csv;

  const nlohmann::json totals = Report({"--totals", "shift"});
  std::map<int, double> totalled;
  std::map<int, int> counted;
  for (const nlohmann::json& row : totals) {
    totalled[row["material"].get<int>()] += row["amount"].get<double>();
    counted[row["material"].get<int>()] += row["batches"].get<int>();
  }
  for (int m = 1; m <= 4; ++m) {
    EXPECT_NEAR(totalled[m], sums[m], 0.005) << "material " << m;
    EXPECT_EQ(counted[m], 3);
  }

  // The plot of the last batch renders to a picture with a curve in it.
  const std::string svg = dir_ + "/batch.svg";
  const std::string png = dir_ + "/batch.png";
  EXPECT_EQ(
      Command({"report", "--batch", std::to_string(batches[2]["batch"].get<int>()), "--plot", svg})
          .first,
      0);
  Child render({TK571_RSVG_CONVERT, "-o", png, svg}, {}, dir_, true);
  ASSERT_EQ(render.Finish(), 0) << render.Output();
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  ASSERT_TRUE(png_image_begin_read_from_file(&image, png.c_str()));
  image.format = PNG_FORMAT_RGB;
  std::vector<png_byte> pixels(PNG_IMAGE_SIZE(image));
  ASSERT_TRUE(png_image_finish_read(&image, nullptr, pixels.data(), 0, nullptr));
  EXPECT_EQ(image.width, 800u);
  EXPECT_EQ(image.height, 480u);
  // The curve's blue (#1f5fbf) in most columns of the plot area.
  std::set<png_uint_32> columns;
  for (png_uint_32 y = 0; y < image.height; ++y) {
    for (png_uint_32 x = 0; x < image.width; ++x) {
      const png_byte* p = &pixels[(y * image.width + x) * 3];
      if (std::abs(p[0] - 0x1f) < 24 && std::abs(p[1] - 0x5f) < 24 && std::abs(p[2] - 0xbf) < 24) {
        columns.insert(x);
      }
    }
  }
  EXPECT_GT(columns.size(), 400u) << "the curve covers " << columns.size() << " columns";

  const auto [verify_code, verify] = Command({"verify"});
  EXPECT_EQ(verify_code, 0) << verify;
  EXPECT_NE(verify.find("audit trail good: "), std::string::npos) << verify;
}

struct Tampering {
  const char* what;
  const char* sql;
  const char* named;
};

TEST_F(Journal, VerifyNamesTheFirstChangedOrRemovedAuditEntry) {
  StartSimulator();
  StartJournalGateway();
  WaitForLog("scale1: link 1 (normal)");
  for (int i = 0; i < 4; ++i) {
    Publish("tk571/devices/scale1/controls/f1/on", std::to_string(10 + i));
    WaitForLog("write scale1/f1 = " + std::to_string(10 + i) + ": not queued");
  }
  Publish("tk571/devices/scale1/controls/weight/on", "5");
  WaitForLog("write scale1/weight: refused, it is read-only (5)");
  kill(gateway_->Pid(), SIGTERM);
  ASSERT_EQ(gateway_->Finish(), 0);
  const auto [good_code, good] = Command({"verify"});
  ASSERT_EQ(good_code, 0) << good;
  const std::string db = dir_ + "/journal.db";
  const std::string original = ReadFile(db);
  const std::vector<Tampering> cases = {
      {"a value changed",
       "DROP TRIGGER audit_append_only; UPDATE audit SET after = '99' WHERE id = 3;",
       "audit trail broken: entry 3 was changed"},
      {"an entry removed", "DROP TRIGGER audit_prune_prefix; DELETE FROM audit WHERE id = 2;",
       "audit trail broken: entry 2 was removed"},
      {"the newest entry removed",
       "DROP TRIGGER audit_prune_prefix; DELETE FROM audit WHERE id = (SELECT max(id) FROM audit);",
       " was removed"},
      {"the refusal's reason changed",
       "DROP TRIGGER audit_append_only; UPDATE audit SET reason = '' WHERE outcome = 'refused';",
       " was changed"},
  };
  for (const Tampering& c : cases) {
    SCOPED_TRACE(c.what);
    std::ofstream(db, std::ios::binary | std::ios::trunc) << original;
    Child sqlite({TK571_SQLITE3, db, c.sql}, {}, dir_, true);
    ASSERT_EQ(sqlite.Finish(), 0) << sqlite.Output();
    const auto [code, output] = Command({"verify"});
    EXPECT_EQ(code, 1) << output;
    EXPECT_NE(output.find(c.named), std::string::npos) << output;
  }
}

TEST_F(Journal, AGatewayKilledDuringBatchesNeitherLosesNorDoublesOne) {
  StartSlowSimulator();
  StartJournalGateway();
  WaitForLog("scale1: link 1 (normal)");
  Child events({TK571_MOSQUITTO_SUB, "-h", "127.0.0.1", "-p", std::to_string(port_), "-q", "1",
                "-v", "-t", "tk571/devices/scale1/batch/events"},
               {}, dir_, false);
  std::mt19937 random(std::random_device{}());
  // The controller's batch takes a few seconds.
  std::uniform_int_distribution<int> delay_ms(0, 4000);
  for (int b = 1; b <= 3; ++b) {
    const int delay = delay_ms(random);
    SCOPED_TRACE("kill " + std::to_string(delay) + " ms after the start of batch " +
                 std::to_string(b));
    Publish("tk571/devices/scale1/controls/run/on", "1");
    WaitForLog("scale1/run = 1 (quality 0x0)");
    const std::size_t started = gateway_->Output().size();
    std::this_thread::sleep_for(std::chrono::milliseconds(delay));
    kill(gateway_->Pid(), SIGKILL);
    gateway_->Finish();
    const bool seen =
        gateway_->Output().find("scale1: batch finished", started) != std::string::npos;
    StartJournalGateway();
    WaitForLog("scale1: link 1 (normal)");
    if (!seen) WaitForLog("scale1: batch finished");
  }
  ASSERT_TRUE(events.ReadUntil("batch/events", kEventLimit, 3)) << events.Output();
  const nlohmann::json batches = Report();
  ASSERT_EQ(batches.size(), 3u) << batches.dump(2);
  for (std::size_t b = 0; b < 3; ++b) {
    EXPECT_EQ(batches[b]["sequence"], b + 1);
    EXPECT_EQ(batches[b]["materials"].size(), 4u);
    EXPECT_NE(events.Output().find(R"("sequence":)" + std::to_string(b + 1) + ","),
              std::string::npos)
        << events.Output();
  }
  // One more look after a restart: nothing new, nothing again.
  kill(gateway_->Pid(), SIGKILL);
  gateway_->Finish();
  StartJournalGateway();
  std::this_thread::sleep_for(seconds(3));
  EXPECT_EQ(Report().size(), 3u);
  events.ReadUntil("batch/events", seconds(0), 4);
  EXPECT_EQ(std::count(events.Output().begin(), events.Output().end(), '\n'), 3) << events.Output();
}

TEST_F(Journal, BatchesOverABrokerOutageArriveOnceInOrder) {
  persistent_broker_ = true;
  broker_.reset();
  StartBroker();  // a second time: now with a store, for the waiting subscriber
  StartSimulator({"--control", Control()});
  StartJournalGateway();
  WaitForLog("scale1: link 1 (normal)");
  // A subscriber whose session the broker keeps across its restart.
  Child events({TK571_MOSQUITTO_SUB, "-h", "127.0.0.1", "-p", std::to_string(port_), "-q", "1",
                "-c", "-i", "journal-test", "-v", "-t", "tk571/devices/scale1/batch/events"},
               {}, dir_, false);
  std::this_thread::sleep_for(seconds(1));
  kill(broker_->Pid(), SIGTERM);
  broker_->Finish();
  WaitForLog("connection lost");
  for (int b = 1; b <= 3; ++b) {
    SendControl("start 1");  // the panel's Start key: no broker needed
    WaitForLog("scale1: batch finished", b);
  }
  StartBroker();
  ASSERT_TRUE(events.ReadUntil("batch/events", kEventLimit, 3)) << events.Output();
  const std::string& got = events.Output();
  std::size_t at = 0;
  for (int b = 1; b <= 3; ++b) {
    at = got.find(R"("sequence":)" + std::to_string(b) + ",", at);
    EXPECT_NE(at, std::string::npos) << "batch " << b << " in order in:\n" << got;
  }
  EXPECT_NE(got.find(R"("origin":{"client":"","control":"")"), std::string::npos) << got;
  kill(gateway_->Pid(), SIGHUP);
  WaitForLog("connected,", 3);
  std::this_thread::sleep_for(seconds(3));
  events.ReadUntil("batch/events", seconds(0), 4);
  EXPECT_EQ(std::count(got.begin(), got.end(), '\n'), 3) << got;
}

}  // namespace
