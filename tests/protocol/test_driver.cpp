#include "test_driver.h"

#include <cstdlib>
#include <fstream>
#include <sstream>

namespace tk571::test {

TestDriver::TestDriver(std::shared_ptr<LineState> state)
    : TDLLObject(true), line(std::move(state)) {}

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

void TestDriver::opClrWriteError_Exec() {
  ++clr_write_error_calls;
  TDLLObject::opClrWriteError_Exec();
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
