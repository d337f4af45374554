// tk571-gateway as a program against a real broker and the simulator:
// retained values and meta data, writes from /on onto the wire and the
// writes the policy refuses, a silent controller greyed out, the broker
// restarted or stalled, bad configurations.
#include "gateway/gateway_fixture.h"

namespace tk571::gateway_test {
namespace {

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
  WaitForLog("scale2: link 1 (normal)");
  const std::vector<WriteCase> cases = {
      // A set-point stays in the driver's recipe: nothing is queued.
      {"scale2/controls/target_1", "120",
       "write scale2/target_1 = 120: not queued (OnDataWrite answered false)"},
      {"scale1/controls/weight", "5",
       "mqtt: write scale1/weight = \"5\": refused, the control is read-only"},
      {"scale1/controls/run", "maybe",
       "mqtt: write scale1/run = \"maybe\": refused, not a value of the control (not 0/1"},
      {"scale9/controls/run", "1", "mqtt: write \"scale9/run\" = \"1\": refused, no such control"},
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
                           R"("material":4,)", R"("time":"20)", R"("unit":"kg")"}) {
    EXPECT_NE(line.find(part), std::string::npos) << part << " in " << line;
  }
}

struct RefusedCase {
  const char* what;
  const char* control;
  std::string payload;
  const char* logged;
};

TEST_F(Gateway, WritesThePolicyRefusesPutNothingOnTheWireAndLogOneShortLine) {
  StartSimulator();
  // Each control may be written once a minute; scale2 takes no commands.
  StartGateway(Config(R"({"enabled": true, "commands": true, "min_interval_ms": 60000})",
                      DeviceJson(2, R"({"commands": false})")));
  WaitForLog("line1: line link 1 (normal)");
  WaitForLog("scale2: link 1 (normal)");
  const std::vector<RefusedCase> cases = {
      {"negative", "scale1/controls/target_1", "-5",
       "mqtt: write scale1/target_1 = \"-5\": refused, out of range (-5 is outside 0..9999)"},
      {"beyond the display", "scale1/controls/target_1", "70000",
       "refused, out of range (70000 is outside 0..9999)"},
      {"huge", "scale1/controls/target_1", "1e300",
       "refused, out of range (1e+300 is outside 0..9999)"},
      {"1 MB", "scale1/controls/run", std::string(1 << 20, '1'),
       "(1048576 bytes): refused, the payload is too large (1048576 bytes, at most 32)"},
      {"a forged log line", "scale1/controls/run", "1\n12:00:00.000  forged",
       "= \"1\\x0a12:00:00.000  forged\": refused, not a value of the control"},
      {"commands off", "scale2/controls/run", "1",
       "mqtt: write scale2/run = \"1\": refused, commands are switched off"},
  };
  for (const RefusedCase& c : cases) {
    SCOPED_TRACE(c.what);
    Publish(std::string("tk571/devices/") + c.control + "/on", c.payload);
    WaitForLog(c.logged);
    const std::string& out = gateway_->Output();
    const std::size_t at = out.find(c.logged);
    if (at == std::string::npos) continue;
    const std::size_t start = out.rfind('\n', at) + 1;
    EXPECT_LT(out.find('\n', at) - start, 200u) << out.substr(start, 300);
  }
  EXPECT_EQ(gateway_->Output().find("\n12:00:00.000  forged"), std::string::npos);

  // A flood: the first write goes, the rest are dropped, and the log holds
  // a few lines and their summary, not a thousand.
  std::string flood;
  for (int i = 0; i < 1000; ++i) flood += std::to_string(100 + i % 7) + "\n";
  Publish("tk571/devices/scale2/controls/target_1/on", flood, true);
  WaitForLog("write scale2/target_1 = 100: not queued");
  WaitForLog("mqtt: write scale2/target_1 refused: ");
  const std::string& out = gateway_->Output();
  std::size_t lines = 0;
  for (std::size_t at = out.find("scale2/target_1"); at != std::string::npos;
       at = out.find("scale2/target_1", at + 1)) {
    ++lines;
  }
  EXPECT_LE(lines, 10u) << out;
  EXPECT_NE(out.find("refused: 99"), std::string::npos) << out;

  // Writes switched off: the meta data says read-only and Home Assistant is
  // offered no command.
  std::string config = Config(R"({"enabled": false, "commands": true})");
  config.replace(config.find(R"("writes")"), 0, R"("homeassistant": {"discovery": true}, )");
  std::ofstream(dir_ + "/gateway.json") << config;
  kill(gateway_->Pid(), SIGHUP);
  WaitForLog("connected,", 2);
  WaitForLog("scale1: link 1 (normal)", 2);
  Publish("tk571/devices/scale1/controls/run/on", "1");
  WaitForLog("mqtt: write scale1/run = \"1\": refused, writes are switched off");
  const std::string retained =
      RetainedWith({"homeassistant/sensor/gw-test_scale1/target_1/config {"}, "#");
  EXPECT_NE(
      retained.find(
          R"(tk571/devices/scale1/controls/target_1/meta {"address":"M_FINAL1:1.-1","max":9999.0,"min":0.0)"),
      std::string::npos)
      << retained;
  EXPECT_EQ(retained.find("command_topic"), std::string::npos) << retained;
  EXPECT_EQ(retained.find(R"("readonly":false)"), std::string::npos) << retained;

  // No start (ST), abort (ABO) or recipe menu (SET) went to the controllers.
  const std::string trace = ReadFile(Trace());
  for (const char* frame : {">> 53 54 0D 0A", ">> 41 42 4F 0D 0A", ">> 53 45 54 0D 0A"}) {
    EXPECT_EQ(trace.find(frame), std::string::npos) << frame;
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

TEST_F(Gateway, AfterAStalledBrokerEveryTopicHoldsItsLatestValue) {
  StartSimulator();
  // A short keep-alive: the stall also ends the connection.
  std::string config = Config();
  const std::string anchor = R"("reconnect_max_s": 2)";
  config.replace(config.find(anchor), anchor.size(), anchor + R"(, "keepalive_s": 5)");
  StartGateway(config);
  WaitForLog("line1: line link 1 (normal)");
  Publish("tk571/devices/scale1/controls/run/on", "1");
  WaitForLog("write scale1/run = 1: queued");
  // The whole batch runs while the broker takes nothing.
  kill(broker_->Pid(), SIGSTOP);
  WaitForLog("scale1: batch finished,");
  WaitForLog("connection lost");
  kill(broker_->Pid(), SIGCONT);
  WaitForLog("connected,", 2);

  const std::string& out = gateway_->Output();
  const std::size_t at = out.find("scale1: batch finished,");
  std::istringstream amounts(out.substr(at, out.find('\n', at) - at));
  std::vector<std::string> expected = {R"("writes":{"done":1,"failed":0,"refused":0})"};
  for (std::string word; amounts >> word;) {
    if (word.size() > 3 && word[0] == 'M' && word[2] == '=') {
      expected.push_back("tk571/devices/scale1/controls/final_" + word.substr(1, 1) + " " +
                         word.substr(3) + "\n");
    }
  }
  ASSERT_EQ(expected.size(), 5u) << out;
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
  const auto modbus = [](std::string text) {
    return text.insert(1, R"("modbus": {"port": 5020}, )");
  };
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
      {"Modbus unit of a line that is not there",
       R"({"broker": {"url": "mqtt://h"}, "modbus": {"units": [{"unit": 1, "line": "l2"}]},
          "lines": [{"name": "l1", "port": "Com1", "devices": [{"number": 1, "name": "s1",
          "tags": [)" +
           weight + "]}]}]}",
       "gateway.json: /modbus/units/0/line: no line is named \"l2\""},
      {"two tags on the same Modbus registers",
       modbus(line("", weight + R"(, {"name": "w2", "address": "read1:1"})")),
       "gateway.json: /modbus: s1/w2 would have the registers of s1/w (both READ1:1.-1)"},
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

}  // namespace
}  // namespace tk571::gateway_test
