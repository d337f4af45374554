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
  BeginTagList(0);
  return open;
}

TDLLTag& TestDriver::AddTag(int32_t type, int32_t device, int32_t channel, uint8_t kind,
                            uint32_t scan_ms) {
  auto tag = std::make_unique<TDLLTag>();
  const ControllerTypeRow& row = *ControllerTypeRowAt(type);
  tag->Index = TagCount();
  tag->TagID = 100 + static_cast<uint32_t>(TagCount());
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
  tag->Value = kind == TK571_VALUE_FLOAT
                   ? TagValue::Integer(0)
                   : (kind == TK571_VALUE_BOOL ? TagValue::Boolean(false) : TagValue::Text(""));
  tag->ReportedValue = tag->SavedValue = tag->Value;
  AppendTag(std::move(tag));
  return *TagAt(TagCount() - 1);
}

void TestDriver::BuildCommands() {
  BuildReadCommands();
  OptimizeCommParm();
}

bool TestDriver::Write(TDLLTag& tag, const TagValue& value) {
  tag.SavedValue = tag.Value;
  tag.Value = value;
  std::vector<CommandPtr> none;
  CommandPtr command = CreatCommand(tag, none, true);
  if (!command) return false;
  command->Interval = -10000;
  command->QueuedTick = platform::Tick();
  command->Values = {tag.Value};
  SyncTagValue(*command);
  tag.Value = tag.SavedValue;
  QueueWrite(std::move(command));
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
