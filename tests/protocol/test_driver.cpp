#include "test_driver.h"

#include <cstdlib>
#include <fstream>
#include <sstream>

namespace tk571::test {

namespace {

class CycleProbe : public TDLLObject {
 public:
  CycleProbe() : TDLLObject(false) {}
  bool dispatched = false;
  void opInit_Exec() override { dispatched = true; }
  bool Run() {
    RunState_ = rsIdle;
    RunEvent_ = opInit;
    TBaseDLLObject::SwitchRunStatus();
    return dispatched;
  }
};

}  // namespace

bool EngineCycleMissing() {
  static const bool missing = [] {
    CycleProbe probe;
    return !probe.Run();
  }();
  return missing;
}

TestDriver::TestDriver(std::shared_ptr<LineState> state)
    : TDLLObject(true), line(std::move(state)), stand_in_(EngineCycleMissing()) {}

bool TestDriver::Start(std::initializer_list<int> devices, bool debug, bool errors) {
  TDevicePDB block;
  block.FillDefaults();
  const uint8_t tk571 = block.TypeCode(0);
  block.SetTypeCode(0, kEmptyTypeCode);
  for (int device : devices) {
    block.SetTypeCode(device, tk571);
    block.SetTypeName(device, DeviceTypeName(tk571));
    block.SetDeviceNumber(device, static_cast<uint32_t>(device));
  }
  block.SetDebugEnabled(debug ? 1 : 0);
  block.SetLogErrors(errors ? 1 : 0);
  const bool open = IniParm(&block);
  Initialized_ = true;
  Stopped_ = false;
  return open;
}

TDLLTag& TestDriver::AddTag(int32_t type, int32_t device, int32_t channel, uint8_t kind,
                            uint32_t scan_ms) {
  auto tag = std::make_unique<TDLLTag>();
  const ControllerTypeRow& row = *ControllerTypeRowAt(type);
  tag->Index = static_cast<int32_t>(Tags_.size());
  tag->TagID = 100 + static_cast<uint32_t>(Tags_.size());
  tag->TypeIndex = type;
  tag->TypeName = std::string(row.Engine.Name);
  tag->Name = "T" + std::to_string(tag->Index);
  tag->Address = tag->TypeName + std::to_string(device) + ":" + std::to_string(channel);
  tag->DevNo = device;
  tag->Channel = channel;
  tag->DataKind = kind;
  tag->ScanTime = scan_ms;
  tag->FormatCode = row.Engine.FormatCode;
  tag->Writable = row.Engine.Writable;
  tag->Value = kind == 0 ? TagValue::Integer(0)
                         : (kind == 1 ? TagValue::Boolean(false) : TagValue::Text(""));
  tag->ReportedValue = tag->SavedValue = tag->Value;
  Tags_.push_back(std::move(tag));
  TagCount_ = static_cast<int32_t>(Tags_.size());
  return *Tags_.back();
}

void TestDriver::BuildCommands() {
  ReadCommands_.clear();
  for (auto& tag : Tags_) {
    const ControllerTypeRow* row = ControllerTypeRowAt(tag->TypeIndex);
    if (row && !row->Engine.Readable && row->Engine.Writable) continue;
    if (CommandPtr command = CreatCommand(*tag, ReadCommands_, false))
      ReadCommands_.push_back(std::move(command));
  }
  OptimizeCommParm();
}

bool TestDriver::Write(TDLLTag& tag, const TagValue& value) {
  tag.SavedValue = tag.Value;
  tag.Value = value;
  CommandPtr command = CreatCommand(tag, ReadCommands_, true);
  if (!command) return false;
  command->Interval = -10000;
  command->QueuedTick = platform::Tick();
  command->Values = {tag.Value};
  tag.Value = tag.SavedValue;
  WriteQueue_.push_back(std::move(command));
  return true;
}

// ---- Stand-in for the engine's run cycle ----

bool TestDriver::ReadExecute() {
  if (!stand_in_) return TDLLObject::ReadExecute();
  if (Stopped_ || !CommEnabled_) return true;
  GetRunEvent();
  SwitchRunStatus();
  return true;
}

void TestDriver::SwitchRunStatus() {
  if (!stand_in_) return TDLLObject::SwitchRunStatus();
  switch (RunState_) {
    case rsIdle:
      if (RunEvent_ == opInit) opInit_Exec();
      break;
    case rsReady:
      if (RunEvent_ == opReadCmd) opReadCmd_Exec();
      if (RunEvent_ == opWriteCmd) opWriteCmd_Exec();
      break;
    case rsIniting:
      if (RunEvent_ == opInitACK) opInitACK_Exec();
      if (RunEvent_ == opInitNAK) opInitNAK_Exec();
      break;
    case rsReading:
      if (RunEvent_ == opReadACK) opReadACK_Exec();
      if (RunEvent_ == opReadNAK) opReadNAK_Exec();
      if (RunEvent_ == opClrReadError) opClrReadError_Exec();
      break;
    case rsWriting:
      if (RunEvent_ == opWriteACK) opWriteACK_Exec();
      if (RunEvent_ == opWriteNAK) opWriteNAK_Exec();
      if (RunEvent_ == opClrWriteError) opClrWriteError_Exec();
      break;
    default:
      break;
  }
}

void TestDriver::GetNextCommand() {
  if (!stand_in_) return TDLLObject::GetNextCommand();
  CurrentCommand_ = CurrentHead_ = nullptr;
  RunningWrite_.reset();
  const uint32_t now = platform::Tick();
  if (!WriteQueue_.empty()) {
    RunningWrite_ = std::move(WriteQueue_.front());
    WriteQueue_.pop_front();
    CurrentCommand_ = RunningWrite_.get();
  } else {
    int32_t best = 1;
    for (auto& command : ReadCommands_) {
      const int32_t wait = command->Interval - static_cast<int32_t>(now - command->LastTick);
      if (wait < best) {
        best = wait;
        CurrentCommand_ = command.get();
      }
    }
  }
  CurrentHead_ = CurrentCommand_;
  if (CurrentCommand_) CurrentCommand_->LastTick = now;
}

void TestDriver::GetCommandNext() {
  if (!stand_in_) return TDLLObject::GetCommandNext();
  if (!CurrentCommand_) return;
  if (CurrentCommand_->Next) {
    CurrentCommand_ = CurrentCommand_->Next.get();
    return;
  }
  if (CurrentCommand_->HasFlag(command_flags::kReleaseAfterRun)) RunningWrite_.reset();
  CurrentCommand_ = CurrentHead_ = nullptr;
}

void TestDriver::opReadCmd_Exec() {
  if (!stand_in_) return TDLLObject::opReadCmd_Exec();
  if (CurrentCommand_) RealComm(CurrentCommand_);
  RunEvent_ = opNone;
  RunState_ = rsReading;
}

void TestDriver::opReadACK_Exec() {
  if (!stand_in_) return TDLLObject::opReadACK_Exec();
  for (int32_t i : CurrentCommand_->Indexes) Tags_[static_cast<std::size_t>(i)]->Quality = 0;
  ++ReadCommCount_;
  GetCommandNext();
  RunEvent_ = opNone;
  if (CurrentCommand_) return opReadCmd_Exec();
  RunState_ = rsReady;
  ReadExecute();
}

void TestDriver::opReadNAK_Exec() {
  if (!stand_in_) return TDLLObject::opReadNAK_Exec();
  ++ReadCommCount_;
  ReadTimeoutCount_ += 1;
  RunEvent_ = opClrReadError;
  ReadExecute();
}

void TestDriver::opClrReadError_Exec() {
  if (!stand_in_) return TDLLObject::opClrReadError_Exec();
  ++ReadFailTotal_;
  // The command's chain is skipped; the scheduler chooses again.
  CurrentCommand_ = CurrentHead_ = nullptr;
  RunEvent_ = opNone;
  RunState_ = rsReady;
  ReadExecute();
}

void TestDriver::opWriteCmd_Exec() {
  if (!stand_in_) return TDLLObject::opWriteCmd_Exec();
  TCommand* command = CurrentCommand_;
  const uint8_t mode = command ? command->RetryMode : 0;
  const int gave_up = clr_write_error_calls;
  TDLLObject::opWriteCmd_Exec();
  if (gave_up != clr_write_error_calls || !command) return;
  if (RunState_ != rsReady || RunEvent_ != opWriteCmd || command->RetryMode != mode) return;
  // The engine's part: send the request and wait for its answer.
  RealComm(command);
  RunEvent_ = opNone;
  RunState_ = rsWriting;
}

void TestDriver::opWriteACK_Exec() {
  TDLLObject::opWriteACK_Exec();
  if (!stand_in_) return;
  TCommand* command = CurrentCommand_;
  for (std::size_t i = 0; i < command->Indexes.size(); ++i) {
    TDLLTag& tag = *Tags_[static_cast<std::size_t>(command->Indexes[i])];
    tag.Quality = 0;
    if (i < command->Values.size()) tag.Value = command->Values[i];
  }
  ++WriteCommCount_;
  GetCommandNext();
  RunEvent_ = opNone;
  if (CurrentCommand_) return opWriteCmd_Exec();
  RunState_ = rsReady;
  ReadExecute();
}

void TestDriver::opWriteNAK_Exec() {
  TDLLObject::opWriteNAK_Exec();
  if (!stand_in_) return;
  ++WriteCommCount_;
  WriteTimeoutCount_ += 1;
  if (CurrentCommand_->RetryMode == retry_mode::kSendAgain) {
    CurrentCommand_->RetryMode = retry_mode::kGiveUp;
    RunState_ = rsReady;
    RunEvent_ = opWriteCmd;
  } else {
    RunEvent_ = opClrWriteError;
  }
  ReadExecute();
}

void TestDriver::opClrWriteError_Exec() {
  ++clr_write_error_calls;
  if (!stand_in_) return TDLLObject::opClrWriteError_Exec();
  RunEvent_ = opNone;
  ++WriteFailTotal_;
  if (CurrentCommand_ && !CurrentCommand_->Indexes.empty())
    Tags_[static_cast<std::size_t>(CurrentCommand_->Indexes[0])]->Quality = 0x4000000;
  RunningWrite_.reset();
  CurrentCommand_ = CurrentHead_ = nullptr;
  RunState_ = rsReady;
  ReadExecute();
}

// ---- Golden traces ----

void ExpectGolden(const std::string& name, const std::string& trace) {
  const std::string path = std::string(TK571_PROTOCOL_GOLDEN_DIR) + "/" + name + ".trace";
  const char* update = std::getenv("TK571_UPDATE_GOLDEN");
  if (update && std::string(update) == "1") {
    std::ofstream(path, std::ios::binary) << trace;
    return;
  }
  std::ifstream in(path, std::ios::binary);
  ASSERT_TRUE(in) << "missing " << path << " (run with TK571_UPDATE_GOLDEN=1 to create it)";
  std::stringstream expected;
  expected << in.rdbuf();
  EXPECT_EQ(expected.str(), trace) << "trace differs from " << path;
}

}  // namespace tk571::test
