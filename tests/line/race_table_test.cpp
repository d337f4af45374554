// Host calls at chosen points of every dialogue the line thread runs, on the
// test clock: a recipe load, a recipe read-back, a batch start and the status
// query behind a reading. Each cell checks what the controller ends with and
// what the host is told and shown. The line thread takes posted work only
// between exchanges, so a host call never changes a dialogue under way: its
// effect comes after it, in the order of the host's calls.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "driver/thread_objects.h"
#include "protocol/fake_controller.h"
#include "protocol/selected_device.h"
#include "protocol/test_driver.h"
#include "support/tag_defs.h"
#include "tk571/driver.h"

namespace tk571::test {
namespace {

using testing::TagDef;

constexpr uint32_t kRead = 1;
constexpr uint32_t kEnq = 2;
constexpr uint32_t kFinal = 10;   // + material
constexpr uint32_t kCoarse = 20;  // + material
constexpr uint32_t kFine = 30;    // + material
constexpr uint32_t kLoad = 40;
constexpr uint32_t kStart = 41;
constexpr uint32_t kReadBack = 42;
constexpr uint32_t kEnComm = 43;
constexpr uint32_t kStepMs = 20;

enum class Dialogue { kLoad, kReadBack, kStart, kStatus };
enum class Call {
  kSetpoint,
  kLoad,
  kReadBack,
  kStart,
  kReadOnly,
  kEnCommOff,
  kFree,
  kStatus,
  kLog
};

const char* Name(Dialogue d) {
  switch (d) {
    case Dialogue::kLoad:
      return "LOAD_SETM";
    case Dialogue::kReadBack:
      return "READ_SETM";
    case Dialogue::kStart:
      return "START_UP";
    default:
      return "status query";
  }
}

const char* Name(Call c) {
  static const char* kNames[] = {"OnDataWrite M_FINE1:4",
                                 "OnDataWrite LOAD_SETM",
                                 "OnDataWrite READ_SETM",
                                 "OnDataWrite START_UP",
                                 "OnDataWrite READ",
                                 "OnDataWrite ENCOMMLINK 0",
                                 "FreeDriver",
                                 "GetDeviceStatus",
                                 "WriteLog"};
  return kNames[static_cast<int>(c)];
}

std::shared_ptr<LineState> g_line;

std::unique_ptr<TDLLObject> MakeObject() {
  return std::make_unique<TestDriver>(g_line);
}

// One controller on a scripted line behind the entry points, with its line
// thread on the test clock.
class Rig {
 public:
  Rig() {
    ResetSelectedDevices();
    line_->responder = [this](const std::string& sent) {
      std::string answer = plant_.Answer(sent);
      // The status line can be held back, to put a host call between the
      // status request and its answer.
      if (hold_status && sent == "\x06\r\n") {
        held_ = answer;
        return std::string();
      }
      return answer;
    };
    plant_.controllers[1];
    g_line = line_;
    SetObjectMaker(&MakeObject);
    std::vector<uint8_t> block(TK571_PDB_SIZE, 0);
    FullPDB(block.data());
    block[TK571_PDB_ENTRIES + TK571_PDB_ENTRY_TYPE_CODE] = 1;  // entry 0 unused
    uint8_t* entry = &block[TK571_PDB_ENTRIES + TK571_PDB_ENTRY_SIZE];
    entry[TK571_PDB_ENTRY_DEVICE_NUMBER] = 1;
    entry[TK571_PDB_ENTRY_TYPE_CODE] = 0;
    entry[TK571_PDB_ENTRY_TYPE_NAME] = 5;
    std::memcpy(entry + TK571_PDB_ENTRY_TYPE_NAME + 1, "TK571", 5);
    block[TK571_PDB_LOG_ERRORS] = 1;
    defs_ = {TagDef(kRead, "READ1:1", 0, 1000),
             TagDef(kEnq, "ENQ1:1", 0, 1000),
             TagDef(kLoad, "LOAD_SETM1:1", TK571_VALUE_BOOL),
             TagDef(kStart, "START_UP1:1", TK571_VALUE_BOOL),
             TagDef(kReadBack, "READ_SETM1:1", TK571_VALUE_BOOL),
             TagDef(kEnComm, "ENCOMMLINK")};
    for (uint32_t m = 1; m <= 4; ++m) {
      const std::string ch = "1:" + std::to_string(m);
      defs_.push_back(TagDef(kFinal + m, "M_FINAL" + ch));
      defs_.push_back(TagDef(kCoarse + m, "M_COARSE" + ch));
      defs_.push_back(TagDef(kFine + m, "M_FINE" + ch));
    }
    std::vector<TTagInfo*> pointers;
    for (TTagInfo& d : defs_) pointers.push_back(&d);
    char* message = nullptr;
    started_ = IniDriver(static_cast<int32_t>(pointers.size()), pointers.data(), block.data(),
                         &message) != 0;
    std::free(message);
    Settle();
  }
  ~Rig() {
    FreeDriver();
    DestroyThreadObject();
    SetObjectMaker(nullptr);
  }
  Rig(const Rig&) = delete;
  Rig& operator=(const Rig&) = delete;

  bool Started() const { return started_; }
  void Settle() {
    if (LineThread* line = ThreadLine()) line->RunUntilIdle();
  }
  // Lets `ms` of the test's time pass in small steps, the host polling.
  void Run(uint32_t ms) {
    for (uint32_t t = 0; t < ms; t += kStepMs) {
      clock_.Advance(kStepMs);
      Settle();
      Poll();
    }
  }
  void Poll() {
    TTagValueRec records[32];
    int32_t count = 0;
    char* message = nullptr;
    OnDataRead(&count, records, &message);
    std::free(message);
    for (int32_t i = 0; i < count; ++i) {
      const TTagValueRec& r = records[i];
      if (r.ValueType == TK571_VALUE_STRING) std::free(r.Value.String);
      shown_[r.TagID] = r.ValueType == TK571_VALUE_BOOL ? r.Value.Bool : r.Value.Float;
      quality_[r.TagID] = r.Quality;
    }
  }
  bool Write(uint32_t id, double value, uint8_t type = TK571_VALUE_FLOAT) {
    TTagValueRec r{};
    r.TagID = id;
    r.ValueType = type;
    if (type == TK571_VALUE_BOOL)
      r.Value.Bool = value != 0 ? 1 : 0;
    else
      r.Value.Float = value;
    char* message = nullptr;
    const bool told = OnDataWrite(1, &r, &message) != 0;
    std::free(message);
    Settle();
    return told;
  }
  void WriteRecipe(double final_kg, double coarse_kg, double fine_kg) {
    for (uint32_t m = 1; m <= 4; ++m) {
      Write(kFinal + m, final_kg);
      Write(kCoarse + m, coarse_kg);
      Write(kFine + m, fine_kg);
    }
  }
  // The held status line reaches the driver.
  void ReleaseStatus() {
    hold_status = false;
    line_->Deliver(held_);
  }

  FakeController& Controller() { return plant_.controllers[1]; }
  const std::vector<std::string>& Sent() const { return line_->sent; }
  int SentCount(const std::string& request) const {
    int n = 0;
    for (const std::string& s : line_->sent) n += s == request;
    return n;
  }
  double Shown(uint32_t id) { return shown_.count(id) ? shown_[id] : -1; }
  uint32_t Quality(uint32_t id) { return quality_.count(id) ? quality_[id] : 0xFFFFFFFFu; }

  bool hold_status = false;

 private:
  testing::FakeClock clock_;
  FakeLineOfControllers plant_;
  std::shared_ptr<LineState> line_ = std::make_shared<LineState>();
  std::string held_;
  std::vector<TTagInfo> defs_;
  std::map<uint32_t, double> shown_;
  std::map<uint32_t, uint32_t> quality_;
  bool started_ = false;
};

// Starts the dialogue; returns with the line thread inside it (a pause, or
// the wait for the status answer).
void Begin(Rig& rig, Dialogue d) {
  switch (d) {
    case Dialogue::kLoad:
      rig.WriteRecipe(200, 100, 10);
      ASSERT_TRUE(rig.Write(kLoad, 1, TK571_VALUE_BOOL));
      break;
    case Dialogue::kReadBack:
      ASSERT_TRUE(rig.Write(kReadBack, 1, TK571_VALUE_BOOL));
      break;
    case Dialogue::kStart:
      ASSERT_TRUE(rig.Write(kStart, 1, TK571_VALUE_BOOL));
      break;
    case Dialogue::kStatus: {
      rig.hold_status = true;
      // The next reading falls due within its scan period of a second.
      for (int i = 0; i < 150 && !(rig.Sent().back() == "\x06\r\n"); ++i) rig.Run(kStepMs);
      ASSERT_EQ(rig.Sent().back(), "\x06\r\n");
      break;
    }
  }
}

// What a cell expects; everything else follows from the rule that the call
// acts after the dialogue.
struct Cell {
  Dialogue dialogue;
  uint32_t at_ms;
  Call call;
  bool told;
};

TEST(RaceTableTest, AHostCallActsOnlyBetweenExchanges) {
  std::vector<Cell> cells;
  const std::map<Dialogue, std::vector<uint32_t>> points = {{Dialogue::kLoad, {0, 240, 1200}},
                                                            {Dialogue::kReadBack, {240, 1040}},
                                                            {Dialogue::kStart, {0, 80}},
                                                            {Dialogue::kStatus, {0, 100}}};
  for (const auto& [dialogue, at] : points)
    for (uint32_t ms : at)
      for (int c = 0; c <= static_cast<int>(Call::kLog); ++c) {
        const Call call = static_cast<Call>(c);
        // A write of a tag whose own dialogue runs is refused, as a write of
        // a tag whose write is on the line has always been; set-points and
        // READ tags are never carried out as writes.
        bool told = true;
        if (call == Call::kSetpoint || call == Call::kReadOnly) told = false;
        if (call == Call::kLoad && dialogue == Dialogue::kLoad) told = false;
        if (call == Call::kReadBack && dialogue == Dialogue::kReadBack) told = false;
        if (call == Call::kStart && dialogue == Dialogue::kStart) told = false;
        cells.push_back({dialogue, ms, call, told});
      }

  for (const Cell& cell : cells) {
    SCOPED_TRACE(std::string(Name(cell.dialogue)) + " at " + std::to_string(cell.at_ms) + " ms, " +
                 Name(cell.call));
    Rig rig;
    ASSERT_TRUE(rig.Started());
    // The controller holds the recipe of an earlier load.
    rig.WriteRecipe(100, 50, 5);
    ASSERT_TRUE(rig.Write(kLoad, 1, TK571_VALUE_BOOL));
    rig.Run(1600);
    ASSERT_EQ(rig.Controller().setpoints[11], "0005");

    Begin(rig, cell.dialogue);
    if (::testing::Test::HasFatalFailure()) return;
    rig.Run(cell.at_ms);
    const std::size_t sent_before = rig.Sent().size();
    const int sets_before = rig.SentCount("SET\r\n");
    const int starts_before = rig.SentCount("ST\r\n");

    bool told = true;
    switch (cell.call) {
      case Call::kSetpoint:
        told = rig.Write(kFine + 4, 500);
        break;
      case Call::kLoad:
        told = rig.Write(kLoad, 1, TK571_VALUE_BOOL);
        break;
      case Call::kReadBack:
        told = rig.Write(kReadBack, 1, TK571_VALUE_BOOL);
        break;
      case Call::kStart:
        told = rig.Write(kStart, 1, TK571_VALUE_BOOL);
        break;
      case Call::kReadOnly:
        told = rig.Write(kRead, 5);
        break;
      case Call::kEnCommOff:
        told = rig.Write(kEnComm, 0);
        break;
      case Call::kFree:
        FreeDriver();
        break;
      case Call::kStatus: {
        char* message = nullptr;
        EXPECT_EQ(GetDeviceStatus(&message), 1);
        std::free(message);
        break;
      }
      case Call::kLog: {
        char* message = nullptr;
        WriteLog(1, &message);
        std::free(message);
        break;
      }
    }
    EXPECT_EQ(told, cell.told);
    if (cell.dialogue == Dialogue::kStatus) rig.ReleaseStatus();
    rig.Run(3000);

    if (cell.call == Call::kFree) {
      // A stop cuts the dialogue short: nothing more goes out.
      EXPECT_EQ(rig.Sent().size(), sent_before);
      continue;
    }
    // The dialogue ran to its end as if no call had come.
    switch (cell.dialogue) {
      case Dialogue::kLoad:
        EXPECT_EQ(rig.Controller().setpoints[11], "0010") << "the recipe the load took";
        EXPECT_EQ(rig.Quality(kLoad), 0u);
        break;
      case Dialogue::kReadBack:
        if (cell.call != Call::kSetpoint) {
          EXPECT_EQ(rig.Shown(kFine + 4), 5);
        }
        break;
      case Dialogue::kStart:
        EXPECT_EQ(rig.Quality(kStart), 0u);
        break;
      case Dialogue::kStatus:
        EXPECT_EQ(rig.Shown(kEnq), 1.0) << "the final amount of material 1";
        break;
    }
    EXPECT_EQ(rig.Controller().menu, -1) << "back at the main display";

    // Then the call took effect.
    const int sets_after = rig.SentCount("SET\r\n") - sets_before;
    const int starts_after = rig.SentCount("ST\r\n") - starts_before;
    // A set-point dialogue stopped in its first pause sends its own SET later.
    const int own_sets =
        (cell.dialogue == Dialogue::kLoad || cell.dialogue == Dialogue::kReadBack) &&
        cell.at_ms < TDLLObject::kMenuPauseMs;
    switch (cell.call) {
      case Call::kSetpoint:
        // The host's value is the tag's, also over a read-back, and waits for
        // the next load.
        EXPECT_EQ(rig.Shown(kFine + 4), 500);
        if (cell.dialogue != Dialogue::kLoad) {
          EXPECT_EQ(rig.Controller().setpoints[11], "0005");
        }
        break;
      case Call::kLoad:
      case Call::kReadBack:
        EXPECT_EQ(sets_after, own_sets + (cell.told ? 1 : 0))
            << "one more dialogue exactly when told so";
        break;
      case Call::kStart:
        EXPECT_EQ(starts_after, cell.told ? 1 : 0);
        break;
      case Call::kEnCommOff: {
        EXPECT_EQ(rig.Shown(kEnComm), 0);
        const std::size_t quiet_from = rig.Sent().size();
        rig.Run(1500);
        EXPECT_EQ(rig.Sent().size(), quiet_from) << "nothing goes out once the line is paused";
        break;
      }
      default:
        EXPECT_EQ(sets_after, own_sets);
        EXPECT_EQ(starts_after, 0);
        break;
    }
  }
}

// The issue behind the table: a set-point written after the load was taken
// (here in the same call, right behind it) must not reach the controller in
// that load, and the recipe check judges what the load sends.
TEST(RaceTableTest, ALoadSendsTheRecipeItTookAndIsCheckedOnIt) {
  Rig rig;
  ASSERT_TRUE(rig.Started());
  rig.WriteRecipe(100, 50, 5);
  TTagValueRec records[2] = {};
  records[0].TagID = kLoad;
  records[0].ValueType = TK571_VALUE_BOOL;
  records[0].Value.Bool = 1;
  records[1].TagID = kFine + 4;
  records[1].ValueType = TK571_VALUE_FLOAT;
  records[1].Value.Float = 500;
  char* message = nullptr;
  EXPECT_EQ(OnDataWrite(2, records, &message), 0) << "the last record is a set-point";
  std::free(message);
  rig.Run(2000);
  EXPECT_EQ(rig.Controller().setpoints[11], "0005");
  EXPECT_EQ(rig.Quality(kLoad), 0u);
  EXPECT_EQ(rig.Shown(kFine + 4), 500);
  // The next load takes FINE 500, which the check refuses: nothing is sent.
  const int sets = rig.SentCount("SET\r\n");
  EXPECT_TRUE(rig.Write(kLoad, 1, TK571_VALUE_BOOL));
  rig.Run(2000);
  EXPECT_EQ(rig.SentCount("SET\r\n"), sets);
  EXPECT_EQ(rig.Quality(kLoad), static_cast<uint32_t>(TK571_QUALITY_WRITE_FAILED));
  EXPECT_EQ(rig.Controller().setpoints[11], "0005");
}

}  // namespace
}  // namespace tk571::test
