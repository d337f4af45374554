// What the host reports around a run: the machine formats with ISO 8601 time
// stamps, the start rules that drop tags, the devices' link and figures, and
// the serial devices of the machine.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <time.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>

#include "device_watch.h"
#include "format.h"
#include "parameter_block.h"
#include "port_list.h"
#include "start_rules.h"
#include "tag_file.h"

namespace tk571::host {
namespace {

namespace fs = std::filesystem;

// The time zone for the length of a test.
class Zone {
 public:
  explicit Zone(const char* tz) {
    if (const char* old = getenv("TZ")) old_ = old;
    setenv("TZ", tz, 1);
    tzset();
  }
  ~Zone() {
    if (old_.empty()) {
      unsetenv("TZ");
    } else {
      setenv("TZ", old_.c_str(), 1);
    }
    tzset();
  }

 private:
  std::string old_;
};

// 2024-01-01 00:00 is day 45292 of the driver's calendar.
constexpr double kNewYear2024 = 45292.0;
constexpr double kMsPerDay = 86400000.0;

TEST(IsoTime, LocalTimeWithItsOffset) {
  struct Row {
    const char* tz;
    double days;
    const char* text;
  };
  const Row rows[] = {
      {"UTC0", kNewYear2024 + (12 * 3600000 + 34 * 60000 + 56789) / kMsPerDay,
       "2024-01-01T12:34:56.789+00:00"},
      {"CET-1CEST,M3.5.0,M10.5.0/3", kNewYear2024, "2024-01-01T00:00:00.000+01:00"},
      // Summer time: 2024-07-01 is day 45474.
      {"CET-1CEST,M3.5.0,M10.5.0/3", 45474.5, "2024-07-01T12:00:00.000+02:00"},
      {"<-0330>3:30", kNewYear2024 + 0.25, "2024-01-01T06:00:00.000-03:30"},
      {"UTC0", kNewYear2024 - 1.0 / kMsPerDay, "2023-12-31T23:59:59.999+00:00"},
      {"UTC0", -1.0, ""},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(std::string(row.tz) + " " + row.text);
    const Zone zone(row.tz);
    EXPECT_EQ(FormatIsoTime(row.days), row.text);
  }
}

TTagValueRec Record(uint32_t id, uint8_t type, uint32_t quality) {
  TTagValueRec r;
  std::memset(&r, 0, sizeof r);
  r.TagID = id;
  r.ValueType = type;
  r.Quality = quality;
  r.TimeStamp = kNewYear2024 + 0.5;
  return r;
}

TEST(MachineFormats, JsonAndCsvCarryEveryField) {
  const Zone zone("UTC0");
  const TagFile file = ParseTagFile(
      "10 \"秤1, 重量\" READ1:1 float 200\n"
      "1 Link COMMLINK string 500\n"
      "52 Start START_UP1:1 bool 1s\n");
  ASSERT_TRUE(file.errors.empty());
  TTagValueRec weight = Record(10, TK571_VALUE_FLOAT, TK571_QUALITY_GOOD);
  weight.Value.Float = 512.5;
  // "通讯正常!" in code page 936, with a quote in it.
  char text[] = "\xCD\xA8\xD1\xB6\"ok\"";
  TTagValueRec link = Record(1, TK571_VALUE_STRING, TK571_QUALITY_GOOD);
  link.Value.String = text;
  TTagValueRec start = Record(52, TK571_VALUE_BOOL, TK571_QUALITY_WRITE_FAILED);
  start.Value.Bool = 1;

  struct Row {
    const TTagValueRec* record;
    const TagDefinition* tag;
    const char* json;
    const char* csv;
  };
  const Row rows[] = {
      {&weight, &file.tags[0],
       R"({"type":"value","time":"2024-01-01T12:00:00.000+00:00","id":10,"name":"秤1, 重量","address":"READ1:1","value":512.5,"quality":0,"quality_text":"good"})",
       R"(2024-01-01T12:00:00.000+00:00,10,"秤1, 重量",READ1:1,512.5,0,good)"},
      {&link, &file.tags[1],
       R"({"type":"value","time":"2024-01-01T12:00:00.000+00:00","id":1,"name":"Link","address":"COMMLINK","value":"通讯\"ok\"","quality":0,"quality_text":"good"})",
       R"(2024-01-01T12:00:00.000+00:00,1,Link,COMMLINK,"通讯""ok""",0,good)"},
      {&start, &file.tags[2],
       R"({"type":"value","time":"2024-01-01T12:00:00.000+00:00","id":52,"name":"Start","address":"START_UP1:1","value":true,"quality":67108864,"quality_text":"write failed"})",
       R"(2024-01-01T12:00:00.000+00:00,52,Start,START_UP1:1,on,67108864,write failed)"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.csv);
    EXPECT_EQ(FormatChangeJson(*row.record, row.tag), row.json);
    EXPECT_EQ(FormatChangeCsv(*row.record, row.tag), row.csv);
  }
  EXPECT_EQ(std::string(kCsvHeader), "time,id,name,address,value,quality,quality_text");
}

ParameterBlock BlockWithDevices(std::vector<int> devices) {
  ParameterBlock block(TK571_PDB_SIZE, 0);
  BlockOptions options;
  options.devices = std::move(devices);
  ApplyBlockOptions(options, block);
  return block;
}

TEST(StartRules, TheStartDropsUnconfiguredDevicesAndChannelsOutOfRange) {
  const ParameterBlock block = BlockWithDevices({1, 2});
  struct Row {
    const char* normal;
    const char* problem;  // nullptr: not a normal form
  };
  const Row rows[] = {
      {"READ1:1.-1", ""},
      {"READ1:2.-1", "channel 2 is outside 1..1 of READ"},
      {"READ1:0.-1", "channel 0 is outside 1..1 of READ"},
      {"ENQ2:4.-1", ""},
      {"ENQ1:5.-1", "channel 5 is outside 1..4 of ENQ"},
      {"M_FINAL2:1.-1", ""},
      {"M_MEDIUM2:4.-1", ""},
      {"LOAD_SETM1:1.-1", ""},
      {"START_UP2:2.-1", "channel 2 is outside 1..1 of START_UP"},
      {"READ9:-1.-1", "device 9 is not configured in the parameter block (--devices)"},
      {"READ0:-1.-1", "device 0 is not configured in the parameter block (--devices)"},
      {"ENQ-1:-1.-1", "device -1 is not configured in the parameter block (--devices)"},
      {"READ1:1", nullptr},
      {"READ:1.-1", nullptr},
      {"1:1.-1", nullptr},
      {"READX:1.-1", nullptr},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.normal);
    const std::optional<NormalAddress> parts = ParseNormalAddress(row.normal);
    ASSERT_EQ(parts.has_value(), row.problem != nullptr);
    if (parts) {
      EXPECT_EQ(StartRuleProblem(*parts, block), row.problem);
    }
  }
  for (const char* internal : {"COMMLINK", "devicelink3", "ENDEVICELINK1", "ENCOMMLINK", "ENLOG"})
    EXPECT_TRUE(IsInternalAddress(internal)) << internal;
  EXPECT_FALSE(IsInternalAddress("READ1:1"));
}

TTagValueRec LinkRecord(uint32_t id, double status) {
  TTagValueRec r = Record(id, TK571_VALUE_FLOAT, TK571_QUALITY_GOOD);
  r.Value.Float = status;
  return r;
}

TEST(DeviceWatch, LinkTagsTellWhoAnsweredAndCountFaults) {
  // Tags 1 and 2 on device 1, tag 3 on device 4.
  DeviceWatch watch({{1, 1}, {2, 1}, {3, 4}}, 10);
  ASSERT_EQ(watch.LinkTags().size(), 2u);
  EXPECT_EQ(watch.LinkTags()[0].address, "DEVICELINK1");
  EXPECT_EQ(watch.LinkTags()[0].id, 10u);
  EXPECT_EQ(watch.LinkTags()[1].address, "DEVICELINK4");
  EXPECT_TRUE(watch.IsLinkTag(11));
  EXPECT_FALSE(watch.IsLinkTag(3));

  // Status sequence of device 1: never answered, normal, disturbed, normal,
  // faulty, paused; device 4 stays silent.
  for (const double status : {0.0, 1.0, 2.0, 1.0, 3.0, 5.0}) watch.Report(LinkRecord(10, status));
  watch.Report(LinkRecord(11, 0.0));
  watch.Report(Record(1, TK571_VALUE_FLOAT, TK571_QUALITY_GOOD));
  watch.Report(Record(2, TK571_VALUE_FLOAT, 0x10));
  watch.Report(Record(99, TK571_VALUE_FLOAT, TK571_QUALITY_GOOD));

  const DeviceFigures& one = watch.Figures().at(1);
  EXPECT_EQ(one.tags, 2);
  EXPECT_EQ(one.reports, 2u);
  EXPECT_EQ(one.bad_reports, 1u);
  EXPECT_TRUE(one.answered);
  EXPECT_EQ(one.link, 5);
  EXPECT_EQ(one.link_faults, 2u);
  EXPECT_FALSE(watch.AllAnswered());
  EXPECT_EQ(watch.Silent(), std::vector<int>{4});
  watch.Report(LinkRecord(11, 1.0));
  EXPECT_TRUE(watch.AllAnswered());

  const std::vector<std::string> lines = FormatFigures(watch.Figures());
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_EQ(
      lines[1],
      "  device 1: 2 tags, 2 value reports (1 not good), answered, link paused, 2 link faults");
  EXPECT_EQ(
      lines[2],
      "  device 4: 1 tags, 0 value reports (0 not good), answered, link normal, 0 link faults");
  const nlohmann::json first = nlohmann::json::parse(FormatFiguresJson(watch.Figures())[0]);
  EXPECT_EQ(first["device"], 1);
  EXPECT_EQ(first["link_faults"], 2);
  EXPECT_TRUE(first["timeouts"].is_null());
}

TEST(DeviceWatch, RangesJoinRuns) {
  EXPECT_EQ(DeviceRanges({}), "");
  EXPECT_EQ(DeviceRanges({3}), "3");
  EXPECT_EQ(DeviceRanges({0, 1, 2, 5, 7, 8}), "0-2 5 7-8");
}

TEST(PortList, HardwareTtysWithStableNamesAndTheirPorts) {
  char pattern[] = "/tmp/tk571-ports-XXXXXX";
  ASSERT_NE(mkdtemp(pattern), nullptr);
  const fs::path root = pattern;
  PortRoots roots{(root / "sys").string(), (root / "by-id").string(), (root / "dev").string()};
  fs::create_directories(roots.by_id);
  fs::create_directories(roots.dev);
  // A USB adapter, a legacy UART with a chip, one without, a console.
  fs::create_directories(root / "sys/ttyUSB0/device");
  fs::create_directories(root / "sys/ttyS0/device");
  std::ofstream(root / "sys/ttyS0/type") << "4\n";
  fs::create_directories(root / "sys/ttyS1/device");
  std::ofstream(root / "sys/ttyS1/type") << "0\n";
  fs::create_directories(root / "sys/tty1");
  std::ofstream(root / "dev/ttyUSB0") << "";
  fs::create_symlink(root / "dev/ttyUSB0", root / "by-id/usb-FTDI_FT232R-if00-port0");
  setenv("TK571_COM2", (root / "by-id/usb-FTDI_FT232R-if00-port0").c_str(), 1);
  setenv("TK571_COM3", (root / "dev/ttyACM9").c_str(), 1);

  const std::vector<PortEntry> ports = ListSerialPorts(roots);
  unsetenv("TK571_COM2");
  unsetenv("TK571_COM3");
  const std::vector<std::string> lines = FormatPorts(ports);
  fs::remove_all(root);

  const std::string dev = (root / "dev").string();
  EXPECT_EQ(lines, (std::vector<std::string>{
                       dev + "/ttyACM9  (Com3): does not exist",
                       dev + "/ttyS0: does not exist",
                       dev + "/ttyUSB0  (Com2): not a serial device",
                       "    " + roots.by_id + "/usb-FTDI_FT232R-if00-port0",
                   }));
}

}  // namespace
}  // namespace tk571::host
