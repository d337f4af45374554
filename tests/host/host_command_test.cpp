// Commands from the command line, typed lines and scripts; the program's
// options; the write records built from typed values.
#include "host_command.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "host_options.h"
#include "tag_file.h"
#include "tag_records.h"

namespace tk571::host {
namespace {

struct LineCase {
  const char* line;
  std::vector<Command> commands;
  const char* error;
};

const LineCase kLines[] = {
    {"write M_FINAL1:1 500", {WriteCommand{"M_FINAL1:1", "500"}}, ""},
    {"WRITE LOAD_SETM1:1 1", {WriteCommand{"LOAD_SETM1:1", "1"}}, ""},
    {"write Note \"two words\"", {WriteCommand{"Note", "two words"}}, ""},
    {"  check   read2:3  ", {CheckCommand{"read2:3"}}, ""},
    {"kinds", {KindsCommand{}}, ""},
    {"probe # is anybody there", {ProbeCommand{}}, ""},
    {"configure", {ConfigureCommand{}}, ""},
    {"ports", {PortsCommand{}}, ""},
    {"scan", {ScanCommand{0, 99}}, ""},
    {"scan 1-10", {ScanCommand{1, 10}}, ""},
    {"scan 7", {ScanCommand{7, 7}}, ""},
    {"scan 0-99", {ScanCommand{0, 99}}, ""},
    {"scan 5-100", {}, "scan takes a range of device numbers 0..99: scan 1-10"},
    {"scan 9-3", {}, "scan takes a range of device numbers 0..99: scan 1-10"},
    {"scan 1-", {}, "scan takes a range of device numbers 0..99: scan 1-10"},
    {"status", {StatusCommand{}}, ""},
    {"log on", {LogCommand{true}}, ""},
    {"log OFF", {LogCommand{false}}, ""},
    {"say \"装入配方 (recipe)\"", {SayCommand{"装入配方 (recipe)"}}, ""},
    {"say", {}, "say needs a text: say \"loading the recipe\""},
    {"quit", {QuitCommand{}}, ""},
    {"help", {HelpCommand{}}, ""},
    {"", {}, ""},
    {"# nothing", {}, ""},
    {"write M_FINAL1:1", {}, "write needs a tag and a value: write M_FINAL1:1 500"},
    {"write", {}, "write needs a tag and a value: write M_FINAL1:1 500"},
    {"check", {}, "check needs an address: check READ1:1"},
    {"log", {}, "log needs on or off"},
    {"log loud", {}, "log needs on or off, not \"loud\""},
    {"start", {}, "unknown command \"start\" (try help)"},
    {"kinds probe", {}, "one command a line"},
    {"write Note \"open", {}, "unterminated quote"},
};

TEST(Commands, TypedLines) {
  for (const LineCase& c : kLines) {
    SCOPED_TRACE(c.line);
    const CommandsResult result = ParseCommandLine(c.line);
    EXPECT_EQ(result.error, c.error);
    EXPECT_EQ(result.commands, c.commands);
  }
}

TEST(Commands, CommandLineWordsHoldSeveralCommands) {
  const CommandsResult result =
      ParseCommandWords({"check", "READ1:1", "kinds", "write", "START_UP1:1", "0", "probe"});
  ASSERT_EQ(result.error, "");
  EXPECT_EQ(result.commands,
            (std::vector<Command>{CheckCommand{"READ1:1"}, KindsCommand{},
                                  WriteCommand{"START_UP1:1", "0"}, ProbeCommand{}}));
  EXPECT_EQ(ParseCommandWords({"scan", "ports", "scan", "2-4", "kinds"}).commands,
            (std::vector<Command>{ScanCommand{0, 99}, PortsCommand{}, ScanCommand{2, 4},
                                  KindsCommand{}}));
  const CommandsResult bad = ParseCommandWords({"kinds", "check"});
  EXPECT_EQ(bad.error, "check needs an address: check READ1:1");
  EXPECT_TRUE(bad.commands.empty());
}

TEST(Commands, ScriptRunsInTimeOrderAndReportsBadLinesByNumber) {
  const Script script = ParseScript(
      "# demo\n"
      "at 4s write LOAD_SETM1:1 1\n"
      "at 2s write M_FINAL1:1 500\n"
      "at 2000ms write M_COARSE1:1 50\n"
      "at 1.5 status\n"
      "at 30s quit\n");
  ASSERT_TRUE(script.errors.empty()) << script.errors.front();
  ASSERT_EQ(script.entries.size(), 5u);
  const std::vector<std::pair<long, int>> order = {
      {1500, 5}, {2000, 3}, {2000, 4}, {4000, 2}, {30000, 6}};
  for (std::size_t i = 0; i < order.size(); ++i) {
    EXPECT_EQ(script.entries[i].at.count(), order[i].first);
    EXPECT_EQ(script.entries[i].line, order[i].second);
  }
  EXPECT_EQ(script.entries[1].command, Command(WriteCommand{"M_FINAL1:1", "500"}));

  const Script bad = ParseScript(
      "at 1s kinds\n"
      "write M_FINAL1:1 500\n"
      "at soon status\n"
      "at 2s jump\n"
      "at 3s\n"
      "at -1s status\n");
  EXPECT_EQ(bad.errors, (std::vector<std::string>{
                            "line 2: expected \"at TIME COMMAND\", e.g. at 2s write M_FINAL1:1 500",
                            "line 3: \"soon\" is not a time such as 2s or 1500ms",
                            "line 4: unknown command \"jump\" (try help)",
                            "line 5: expected \"at TIME COMMAND\", e.g. at 2s write M_FINAL1:1 500",
                            "line 6: \"-1s\" is not a time such as 2s or 1500ms"}));
}

struct OptionCase {
  std::vector<std::string_view> args;
  const char* error;
};

const OptionCase kBadOptions[] = {
    {{"--bogus"}, "unknown option --bogus"},
    {{"--port"}, "--port needs a value"},
    {{"--port", "Com17"}, "--port: \"Com17\" is not a port Com1..Com16"},
    {{"--port", "0"}, "--port: \"0\" is not a port Com1..Com16"},
    {{"--baud", "9601"}, "--baud: \"9601\" is not a baud rate of the driver's table (see --help)"},
    {{"--data-bits", "9"}, "--data-bits: \"9\" is not 4..8"},
    {{"--parity", "both"}, "--parity: \"both\" is not none, odd, even, mark or space"},
    {{"--stop-bits", "3"}, "--stop-bits: \"3\" is not 1, 1.5 or 2"},
    {{"--devices", "1,1"},
     "--devices: \"1,1\" is not a list of distinct device numbers 0..99, e.g. 1,2"},
    {{"--devices", "100"},
     "--devices: \"100\" is not a list of distinct device numbers 0..99, e.g. 1,2"},
    {{"--devices", "1,"},
     "--devices: \"1,\" is not a list of distinct device numbers 0..99, e.g. 1,2"},
    {{"--write-retries", "1"}, "--write-retries: \"1\" is not 2..10"},
    {{"--duration", "0"}, "--duration: \"0\" is not a time such as 40s or 2m"},
    {{"--duration", "forever"}, "--duration: \"forever\" is not a time such as 40s or 2m"},
    {{"write", "M_FINAL1:1", "500"},
     "write, status and log need a running driver: give --tags FILE"},
    {{"status"}, "write, status and log need a running driver: give --tags FILE"},
    {{"--script", "s.txt"}, "--script needs --tags FILE"},
    {{"kinds", "frobnicate"}, "unknown command \"frobnicate\" (try help)"},
    {{"--format", "xml"}, "--format: \"xml\" is not text, json or csv"},
    {{"--device"}, "--device needs a value"},
    {{"--device", ""}, "--device: \"\" is not a device path"},
    {{"--once"}, "--once needs --tags FILE"},
    {{"--tags", "t.txt", "--once", "--keep-running"},
     "--once and --keep-running exclude each other"},
    {{"scan", "3-1"}, "scan takes a range of device numbers 0..99: scan 1-10"},
};

TEST(Options, BadCommandLinesAreRefusedWithAReason) {
  for (const OptionCase& c : kBadOptions) {
    SCOPED_TRACE(std::string(c.args[0]));
    EXPECT_EQ(ParseHostOptions(c.args).error, c.error);
  }
}

TEST(Options, RunOptionsAndCommands) {
  const HostOptionsResult r =
      ParseHostOptions({"--tags",    "demo.txt",       "--script",   "s.txt",      "--duration",
                        "40s",       "--keep-running", "--no-table", "--no-stdin", "--library",
                        "/x/lib.so", "--pdb",          "in.pdb",     "--save-pdb", "out.pdb",
                        "write",     "M_FINAL1:1",     "500",        "--",         "status"});
  ASSERT_EQ(r.error, "");
  const HostOptions& o = r.options;
  EXPECT_EQ(o.tags_file, "demo.txt");
  EXPECT_EQ(o.script_file, "s.txt");
  EXPECT_EQ(o.duration, std::chrono::milliseconds(40000));
  EXPECT_TRUE(o.keep_running);
  EXPECT_EQ(o.table, TableMode::kOff);
  EXPECT_FALSE(o.read_stdin);
  EXPECT_EQ(o.library, "/x/lib.so");
  EXPECT_EQ(o.pdb_file, "in.pdb");
  EXPECT_EQ(o.save_pdb_file, "out.pdb");
  EXPECT_EQ(o.commands, (std::vector<Command>{WriteCommand{"M_FINAL1:1", "500"}, StatusCommand{}}));
  EXPECT_TRUE(o.block.Empty());
  EXPECT_FALSE(o.once);
  EXPECT_EQ(o.format, OutputFormat::kText);
  EXPECT_EQ(o.device, "");
}

TEST(Options, SerialToolHabits) {
  const HostOptionsResult r = ParseHostOptions(
      {"--tags", "t.txt", "--once", "--format", "JSON", "--device", "/dev/ttyUSB0", "--version"});
  ASSERT_EQ(r.error, "");
  EXPECT_TRUE(r.options.once);
  EXPECT_EQ(r.options.format, OutputFormat::kJson);
  EXPECT_EQ(r.options.device, "/dev/ttyUSB0");
  EXPECT_TRUE(r.options.version);
  EXPECT_EQ(ParseHostOptions({"--format", "csv"}).options.format, OutputFormat::kCsv);
}

std::vector<TagDefinition> Tags() {
  const TagFile file = ParseTagFile(
      "1 Weight READ1:1 float 100\n"
      "2 Start START_UP1:1 bool 100\n"
      "3 Note ENCOMMLINK string 100\n"
      "4 目标 M_FINAL1:1 float 100\n");
  EXPECT_TRUE(file.errors.empty());
  return file.tags;
}

TEST(WriteRecords, TypedValuesBecomeRecordsOfTheTagsKind) {
  const std::vector<TagDefinition> tags = Tags();
  std::string text;
  TTagValueRec record;

  ASSERT_EQ(FindTag(tags, "m_final1:1"), &tags[3]);
  ASSERT_EQ(FindTag(tags, "目标"), &tags[3]);
  EXPECT_EQ(FindTag(tags, "M_FINAL2:1"), nullptr);

  ASSERT_EQ(MakeWriteRecord(tags[3], "12.3", &text, &record), "");
  EXPECT_EQ(record.TagID, 4u);
  EXPECT_EQ(record.ValueType, TK571_VALUE_FLOAT);
  const double written = record.Value.Float;  // packed: no reference into the record
  EXPECT_EQ(written, 12.3);

  ASSERT_EQ(MakeWriteRecord(tags[1], "on", &text, &record), "");
  EXPECT_EQ(record.ValueType, TK571_VALUE_BOOL);
  uint32_t on = record.Value.Bool;
  EXPECT_EQ(on, 1u);
  ASSERT_EQ(MakeWriteRecord(tags[1], "0", &text, &record), "");
  on = record.Value.Bool;
  EXPECT_EQ(on, 0u);

  ASSERT_EQ(MakeWriteRecord(tags[2], "关闭", &text, &record), "");
  EXPECT_EQ(record.ValueType, TK571_VALUE_STRING);
  EXPECT_STREQ(record.Value.String, "\xB9\xD8\xB1\xD5");

  EXPECT_EQ(MakeWriteRecord(tags[0], "heavy", &text, &record), "\"heavy\" is not a number");
  EXPECT_EQ(MakeWriteRecord(tags[0], "0x10", &text, &record), "\"0x10\" is not a number");
  EXPECT_EQ(MakeWriteRecord(tags[1], "2", &text, &record), "\"2\" is not 0/1 or on/off");
}

}  // namespace
}  // namespace tk571::host
