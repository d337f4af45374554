// Faults of a controller on an RS-485 line, one row each, through the entry
// points: what the host sees while the fault lasts (values, link tags,
// messages, run log), that no request starts while a controller is still
// sending, and how soon the weight follows again once the fault is switched
// off while the line runs.
#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <chrono>
#include <iostream>
#include <set>

#include "driver/thread_objects.h"
#include "e2e/plant_host.h"
#include "e2e/wire.h"
#include "engine/run_log.h"
#include "log/log_fixtures.h"
#include "platform/gbk.h"
#include "tk571sim/control.h"

namespace tk571 {
namespace {

using platform::ToGbk;
using testing::PlantHost;
using testing::SimSettings;
using testing::TagDef;

constexpr uint32_t kRead1 = 1;
constexpr uint32_t kRead2 = 2;
uint32_t EnqId(int material) {
  return 2 + static_cast<uint32_t>(material);  // ENQ1:1..4 are 3..6
}
constexpr uint32_t kCommLinkText = 7;
constexpr uint32_t kCommLinkCode = 8;
constexpr uint32_t kDeviceLink1Text = 9;
constexpr uint32_t kDeviceLink1Code = 10;
constexpr uint32_t kDeviceLink2Text = 11;
constexpr uint32_t kStartUp1 = 12;
constexpr uint32_t kLoad1 = 13;
uint32_t SetpointId(int material, int item) {
  return 20 + static_cast<uint32_t>(3 * (material - 1) + item);
}

constexpr double kNormalCode = 1;
const std::string kNormal1 = ToGbk("1号 智能仪表TK571通讯正常!");
const std::string kNormal2 = ToGbk("2号 智能仪表TK571通讯正常!");
const std::string kLineNormal = ToGbk("TK571配料控制器(RS485)通讯正常!");
const std::string kLineFault = ToGbk("TK571配料控制器(RS485)通讯出现故障!");
const std::string kTimeout = ToGbk("通讯超时错，期待设备应答");

std::vector<TTagInfo> PlantTags() {
  std::vector<TTagInfo> defs{TagDef(kRead1, "READ1:1", 0, 20), TagDef(kRead2, "READ2:1", 0, 20)};
  for (int m = 1; m <= 4; ++m) defs.push_back(TagDef(EnqId(m), "ENQ1:" + std::to_string(m), 0, 20));
  defs.push_back(TagDef(kCommLinkText, "COMMLINK", 2));
  defs.push_back(TagDef(kCommLinkCode, "COMMLINK", 0));
  defs.push_back(TagDef(kDeviceLink1Text, "DEVICELINK1", 2));
  defs.push_back(TagDef(kDeviceLink1Code, "DEVICELINK1", 0));
  defs.push_back(TagDef(kDeviceLink2Text, "DEVICELINK2", 2));
  defs.push_back(TagDef(kStartUp1, "START_UP1:1", TK571_VALUE_BOOL));
  defs.push_back(TagDef(kLoad1, "LOAD_SETM1:1", TK571_VALUE_BOOL));
  const char* items[] = {"M_FINAL", "M_COARSE", "M_FINE"};
  for (int m = 1; m <= 4; ++m)
    for (int i = 0; i < 3; ++i)
      defs.push_back(TagDef(SetpointId(m, i), items[i] + std::string("1:") + std::to_string(m)));
  return defs;
}

// The recipe LOAD_SETM sends, and the one controller 1 batched with before
// the driver started (quick rates: the batch is over in a fraction of a
// second, its final amounts stay on the status line).
constexpr sim::Recipe kLoadedRecipe = {{{500, 400, 20}, {300, 250, 5}, {120, 100, 1}, {60, 40, 2}}};
constexpr sim::Recipe kBatchedRecipe = {{{50, 20, 2}, {40, 15, 3}, {30, 10, 1}, {20, 8, 2}}};
constexpr sim::DosingRates kQuickRates{2000.0, 400.0, std::chrono::milliseconds(5)};

enum class Write { kNone, kStartUp, kLoad };

// Line errors cannot travel through a pseudo-terminal: the driver's port
// counts one framing error in every exchange while this is set.
std::atomic<bool> g_framing_errors{false};

class ErrorCountingLine final : public SerialLine {
 public:
  bool Open(const TDevicePDB& block, std::string& message) override {
    return line_->Open(block, message);
  }
  void Close() override { line_->Close(); }
  std::string Diagnosis() const override { return line_->Diagnosis(); }
  std::string LineKey() const override { return line_->LineKey(); }
  bool Send(const std::string& text) override { return line_->Send(text); }
  const std::string& Receive() override { return line_->Receive(); }
  void ClearBuffer() override { line_->ClearBuffer(); }
  std::string Settle(uint32_t limit_ms, bool stray_in, uint32_t guard_ms) override {
    return line_->Settle(limit_ms, stray_in, guard_ms);
  }
  void AwaitBytes(uint32_t ms) override { line_->AwaitBytes(ms); }
  const platform::SerialPort* Port() const override { return line_->Port(); }
  platform::LineErrors TakeLineErrors() override {
    platform::LineErrors errors = line_->TakeLineErrors();
    if (g_framing_errors) ++errors.framing;
    return errors;
  }
  std::string FramingDiagnosis(uint32_t errors) const override {
    return line_->FramingDiagnosis(errors);
  }
  uint32_t TransmitMs(std::size_t chars) const override { return line_->TransmitMs(chars); }
  std::size_t EarlyBytes() const override { return line_->EarlyBytes(); }
  uint32_t EchoesStripped() const override { return line_->EchoesStripped(); }
  bool TakeReopened() override { return line_->TakeReopened(); }

 private:
  std::unique_ptr<SerialLine> line_ = MakeSerialLine();
};

class ErrorCountingDriver final : public TDLLObject {
 public:
  ErrorCountingDriver() : TDLLObject(true) {}

 protected:
  std::unique_ptr<SerialLine> CreateSerialLine() override {
    return std::make_unique<ErrorCountingLine>();
  }
};

std::unique_ptr<TDLLObject> MakeErrorCountingDriver() {
  return std::make_unique<ErrorCountingDriver>();
}

struct Row {
  const char* name;
  // Control commands of the simulator that start and end the fault.
  std::vector<std::string> on = {};
  std::vector<std::string> off = {};
  // A write the host makes while the fault lasts, and whether the
  // controller confirms it.
  Write write = Write::kNone;
  bool write_confirmed = false;
  // Whether each controller's weight keeps reaching the host during the
  // fault; a controller that cannot be read shows it on its link tag.
  bool weight1_follows = false;
  bool weight2_follows = true;
  // A run log text (UTF-8) the fault leaves, empty for none.
  const char* log_text = "";
  // The line's rate.
  int baud = 9600;
  // Control commands given once the write's set-point dialogue has begun.
  std::vector<std::string> during_write = {};
  // The fault is line errors, counted by the driver's port.
  bool framing_errors = false;
  // What DEVICELINK1 shows while the fault lasts (UTF-8), when it is not
  // just anything but normal; the time-out message is then not asked for.
  const char* link1_shows = nullptr;
  // Controller 1 cannot be read for a while and is read again while the
  // fault lasts: its link shows that it was lost.
  bool link1_recovers = false;
  // What COMMLINK shows first when controller 2 cannot be read either.
  const char* line_shows = "TK571配料控制器(RS485)通讯出现故障!";
  // A second run log text, empty for none.
  const char* also_logs = "";
  // A controller in continuous output leaves the line gaps too short for
  // every request: some go out while it sends.
  bool line_never_quiet = false;
};

std::ostream& operator<<(std::ostream& out, const Row& row) {
  return out << row.name;
}

const std::vector<Row>& Rows() {
  static const std::vector<Row> rows = {
      {.name = "LateAnswerToRAfterStartUp",
       .on = {"fault 1 late-r 120"},
       .off = {"fault 1 clear"},
       .write = Write::kStartUp,
       .write_confirmed = true,
       .weight1_follows = true},
      {.name = "LateAnswerToRAfterLoadSetm",
       .on = {"fault 1 late-r 120"},
       .off = {"fault 1 clear"},
       .write = Write::kLoad,
       .write_confirmed = true,
       .weight1_follows = true},
      {.name = "StatusLinePausingMidLine",
       .on = {"fault 1 status-pause 250 18"},
       .off = {"fault 1 clear"},
       .log_text = "：应答无法使用，设备号=1"},
      {.name = "NoiseByteBeforeEveryReply",
       .on = {"fault all noise-byte FF"},
       .off = {"fault all clear"},
       .weight1_follows = true,
       .log_text = "：1号设备丢弃的字节总数= "},
      {.name = "EchoWithoutLabelDuringLoadSetm",
       .on = {"fault 1 bare-echo"},
       .off = {"fault 1 clear"},
       .write = Write::kLoad,
       .write_confirmed = false,
       .weight1_follows = true,
       .log_text = "：写操作失败总次数= 1\r\n"},
      {.name = "AnswersSelectOnly", .on = {"fault 1 select-only"}, .off = {"fault 1 clear"}},
      {.name = "Silent", .on = {"fault 1 silent"}, .off = {"fault 1 clear"}},
      {.name = "LaterThanTheDriverWaits", .on = {"fault 1 late 260"}, .off = {"fault 1 clear"}},
      {.name = "Garbage",
       .on = {"fault 1 garbage"},
       .off = {"fault 1 clear"},
       .log_text = "：应答信息没有通过校验检查。"},
      {.name = "SplitInThreePieces",
       .on = {"fault 1 split 3 15"},
       .off = {"fault 1 clear"},
       .weight1_follows = true},
      {.name = "CrLfDropped", .on = {"fault 1 drop-crlf"}, .off = {"fault 1 clear"}},
      {.name = "Unplugged", .on = {"unplug"}, .off = {"replug"}, .weight2_follows = false},
      {.name = "ContinuousOutputOfTheOtherController",
       .on = {"fault 2 continuous 30"},
       .off = {"fault 2 clear"},
       .weight2_follows = false,
       .log_text = "：线路上有未经请求的数据，可能有仪表处于连续发送方式，数据(HEX)=",
       .link1_shows = "1号 智能仪表TK571通讯出现干扰!",
       .line_shows = "TK571配料控制器(RS485)通讯出现干扰!",
       .line_never_quiet = true},
      {.name = "PowerCycleDuringLoadSetm",
       .write = Write::kLoad,
       .write_confirmed = false,
       .weight1_follows = true,
       .during_write = {"fault 1 power-cycle 1500"},
       .link1_recovers = true},
      {.name = "LocalEchoWithLoadSetm",
       .on = {"local-echo on"},
       .off = {"local-echo off"},
       .write = Write::kLoad,
       .write_confirmed = true,
       .weight1_follows = true,
       .log_text = "：线路有本地回显（收到的数据以刚发送的请求开头），已去除回显的请求数="},
      {.name = "StatusLineAt2400Baud7E1", .weight1_follows = true, .baud = 2400},
      {.name = "FramingErrorsThroughThePort",
       .weight2_follows = false,
       .log_text = "framing errors and no answer understood",
       .framing_errors = true,
       .link1_shows = "1号 智能仪表TK571通讯出现干扰!",
       .line_shows = "TK571配料控制器(RS485)通讯出现干扰!",
       .also_logs = "：1号设备的线路错误：奇偶校验错=0，帧错误="},
  };
  return rows;
}

// Two controllers on one line at 9600 7E1, the host polling at the driver's
// scan time. Every weight put on a scale is remembered, so that any value
// the host sees can be checked against what the controllers really showed.
class FaultTable : public ::testing::TestWithParam<Row> {
 protected:
  FaultTable() {
    if (GetParam().framing_errors) SetObjectMaker(&MakeErrorCountingDriver);
    SetLogFileName(log_dir_ / "TK571_485.Log");
    line_.AddController(1, kQuickRates);
    line_.AddController(2);
    line_.SetRecipe(1, kBatchedRecipe);
    line_.WithController(1, [](sim::Controller& c, auto now) { c.Handle("ST", now); });
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (line_.Batch(1).running && std::chrono::steady_clock::now() < end)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    amounts_ = line_.Batch(1).amounts_kg;
    // Without a recipe a start is refused, and the final amounts stay.
    line_.SetRecipe(1, {});
  }

  // The gross display shows `kg`, the last batch included.
  void SetWeights(double kg1, double kg2) {
    line_.WithController(1, [kg1](sim::Controller& c, auto now) {
      c.SetGrossWeight(0.0);
      c.SetGrossWeight(kg1 - c.Read(now).kg);
    });
    line_.WithController(2, [kg2](sim::Controller& c, auto) { c.SetGrossWeight(kg2); });
    weights1_.insert(kg1);
    weights2_.insert(kg2);
    weight1_ = kg1;
    weight2_ = kg2;
  }
  // The next pair of weights, none seen before.
  void StepWeights() {
    ++step_;
    SetWeights(100.25 + 1.5 * step_, 300.75 + 2.25 * step_);
  }

  bool Sees1() const { return host_.Number(kRead1) == weight1_; }
  bool Sees2() const { return host_.Number(kRead2) == weight2_; }
  bool LinksNormal() const {
    return host_.Text(kDeviceLink1Text) == kNormal1 &&
           host_.Number(kDeviceLink1Code) == kNormalCode &&
           host_.Text(kDeviceLink2Text) == kNormal2 && host_.Text(kCommLinkText) == kLineNormal &&
           host_.Number(kCommLinkCode) == kNormalCode;
  }

  bool StartPlant() {
    StepWeights();
    return host_.Start(PlantTags()) && host_.PollUntil([&] {
      bool amounts = true;
      for (int m = 1; m <= 4; ++m)
        amounts = amounts && host_.Number(EnqId(m)) == amounts_[static_cast<std::size_t>(m - 1)];
      return Sees1() && Sees2() && amounts && LinksNormal();
    });
  }

  void Control(const std::vector<std::string>& commands) {
    for (const std::string& command : commands)
      ASSERT_EQ(sim::RunControlCommand(line_, command), "ok") << command;
  }

  ~FaultTable() override {
    g_framing_errors = false;
    SetObjectMaker(nullptr);
  }

  testing::TempDir log_dir_;
  sim::Line line_{SimSettings(GetParam().baud)};
  PlantHost host_{line_, {1, 2}};
  std::array<double, 4> amounts_{};
  std::set<double> weights1_, weights2_;
  double weight1_ = 0, weight2_ = 0;
  int step_ = 0;
};

template <typename T>
std::vector<T> From(const std::vector<T>& history, std::size_t first) {
  return {history.begin() + static_cast<std::ptrdiff_t>(std::min(first, history.size())),
          history.end()};
}

TEST_P(FaultTable, HostSeesOnlyTrueValuesAndTheWeightFollowsOnceTheFaultEnds) {
  const Row& row = GetParam();
  ASSERT_TRUE(StartPlant());
  const std::size_t link1_before = host_.TextHistory(kDeviceLink1Text).size();
  const std::size_t code1_before = host_.NumberHistory(kDeviceLink1Code).size();
  const std::size_t line_before = host_.TextHistory(kCommLinkText).size();
  const std::size_t messages_before = host_.Messages().size();
  // Set-points go into the driver's table only; nothing is sent.
  for (int m = 1; m <= 4; ++m) {
    const sim::MaterialSetpoints& s = kLoadedRecipe[static_cast<std::size_t>(m - 1)];
    host_.Write(SetpointId(m, 0), s.final_kg);
    host_.Write(SetpointId(m, 1), s.coarse_kg);
    host_.Write(SetpointId(m, 2), s.fine_kg);
  }

  // The fault, a write while it lasts, and the scales moving twice.
  ASSERT_NO_FATAL_FAILURE(Control(row.on));
  g_framing_errors = row.framing_errors;
  const uint32_t write_tag = row.write == Write::kStartUp ? kStartUp1 : kLoad1;
  if (row.write != Write::kNone) {
    ASSERT_TRUE(host_.Write(write_tag, 1, TK571_VALUE_BOOL));
  }
  if (!row.during_write.empty()) {
    ASSERT_TRUE(host_.PollUntil(
        [&] { return testing::CountOf(testing::WriteRequests(line_.Trace()), "SET\r\n") > 0; }));
    ASSERT_NO_FATAL_FAILURE(Control(row.during_write));
  }
  const std::string link1_shows = row.link1_shows ? ToGbk(row.link1_shows) : std::string();
  const std::string line_shows = ToGbk(row.line_shows);
  for (int round = 0; round < 2; ++round) {
    StepWeights();
    const bool seen = host_.PollUntil(
        [&] {
          return (!row.weight1_follows || Sees1()) && (!row.weight2_follows || Sees2()) &&
                 (row.weight1_follows || host_.Text(kDeviceLink1Text) != kNormal1) &&
                 (!row.link1_shows || host_.Text(kDeviceLink1Text) == link1_shows) &&
                 (row.weight2_follows || host_.Text(kCommLinkText) == line_shows);
        },
        std::chrono::seconds(6));
    EXPECT_TRUE(seen) << "round " << round << ": READ1 " << host_.Number(kRead1) << " READ2 "
                      << host_.Number(kRead2) << " DEVICELINK1 "
                      << platform::FromGbk(host_.Text(kDeviceLink1Text));
  }
  if (row.write != Write::kNone) {
    // A confirmed write shows as the value written. A load that fails tells
    // the host nothing but that (its failure is counted in the run log); it
    // is over when its repeat has left the menu.
    const auto load_given_up = [&] {
      bool in_menu = true;
      line_.WithController(1, [&](sim::Controller& c, auto) { in_menu = c.InMenu(); });
      return testing::CountOf(testing::WriteRequests(line_.Trace()), "SET\r\n") == 2 && !in_menu;
    };
    EXPECT_TRUE(host_.PollUntil(
        [&] { return row.write_confirmed ? host_.Number(write_tag) == 1.0 : load_given_up(); },
        std::chrono::seconds(10)));
    EXPECT_EQ(host_.Number(write_tag) == 1.0, row.write_confirmed);
    if (row.write == Write::kLoad) {
      EXPECT_EQ(line_.GetRecipe(1) == kLoadedRecipe, row.write_confirmed);
    }
  }
  // Time for a wrong value to show.
  host_.PollFor(std::chrono::milliseconds(300));
  const std::vector<std::string> link1 = From(host_.TextHistory(kDeviceLink1Text), link1_before);
  const std::vector<double> code1 = From(host_.NumberHistory(kDeviceLink1Code), code1_before);
  const std::vector<std::string> messages = From(host_.Messages(), messages_before);
  const bool timeout_told = std::find(messages.begin(), messages.end(), kTimeout) != messages.end();
  if (row.weight1_follows && row.weight2_follows && !row.link1_recovers) {
    EXPECT_TRUE(std::all_of(link1.begin(), link1.end(), [](auto& t) { return t == kNormal1; }));
    EXPECT_TRUE(std::all_of(code1.begin(), code1.end(), [](double c) { return c == kNormalCode; }));
  } else {
    // The link tags tell the host what it cannot see in the values.
    EXPECT_TRUE(std::any_of(code1.begin(), code1.end(), [](double c) { return c > kNormalCode; }));
    if (row.link1_shows) {
      EXPECT_TRUE(std::all_of(link1.begin(), link1.end(),
                              [&](auto& t) { return t == kNormal1 || t == link1_shows; }));
    } else {
      EXPECT_TRUE(timeout_told);
    }
  }
  if (!row.weight2_follows) {
    const std::vector<std::string> line = From(host_.TextHistory(kCommLinkText), line_before);
    ASSERT_FALSE(line.empty());
    EXPECT_EQ(line.front(), line_shows);
  }

  // The fault ends while the line runs.
  ASSERT_NO_FATAL_FAILURE(Control(row.off));
  g_framing_errors = false;
  const auto ended = std::chrono::steady_clock::now();
  StepWeights();
  ASSERT_TRUE(host_.PollUntil([&] { return Sees1() && Sees2(); }, std::chrono::seconds(8)));
  const auto follows = std::chrono::duration_cast<std::chrono::milliseconds>(
      std::chrono::steady_clock::now() - ended);
  EXPECT_TRUE(host_.PollUntil([&] { return LinksNormal(); }));

  // Never a value the controllers did not show: no weight of the other
  // controller, no final amount, no half of a reply.
  for (double w : host_.NumberHistory(kRead1)) {
    EXPECT_TRUE(weights1_.count(w)) << "READ1 " << w;
  }
  for (double w : host_.NumberHistory(kRead2)) {
    EXPECT_TRUE(weights2_.count(w)) << "READ2 " << w;
  }
  for (int m = 1; m <= 4; ++m) {
    for (double a : host_.NumberHistory(EnqId(m))) {
      EXPECT_EQ(a, amounts_[static_cast<std::size_t>(m - 1)]) << "ENQ1:" << m;
    }
  }

  // No request went out while a controller was still sending.
  const std::vector<sim::Overlap> overlaps = line_.Overlaps();
  const auto count = [&](sim::OverlapKind kind) {
    return std::count_if(overlaps.begin(), overlaps.end(),
                         [kind](const sim::Overlap& o) { return o.kind == kind; });
  };
  if (!row.line_never_quiet) {
    EXPECT_EQ(count(sim::OverlapKind::kSending), 0) << line_.TraceText(true);
  }
  std::cout << "fault row " << row.name << ": sending " << count(sim::OverlapKind::kSending)
            << ", paused " << count(sim::OverlapKind::kPaused) << ", pending "
            << count(sim::OverlapKind::kPending) << "; weight followed " << follows.count()
            << " ms after the fault ended; timeout message " << (timeout_told ? "yes" : "no")
            << "\n";

  FreeDriver();
  for (const char* text : {row.log_text, row.also_logs}) {
    if (*text == '\0') continue;
    const std::string log = testing::ReadFile(log_dir_ / "TK571_485.Log");
    EXPECT_NE(log.find(ToGbk(text)), std::string::npos) << platform::FromGbk(log);
  }
}

INSTANTIATE_TEST_SUITE_P(Faults, FaultTable, ::testing::ValuesIn(Rows()),
                         [](const ::testing::TestParamInfo<Row>& info) { return info.param.name; });

}  // namespace
}  // namespace tk571
