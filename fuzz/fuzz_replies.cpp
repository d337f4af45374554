// Whatever a controller or a noisy line may answer: the run cycle must take
// any bytes, at any moment, through selection, polling and the set-point
// dialogues without a crash, a hang or a read past a reply.
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "fuzz_line.h"
#include "platform/clock.h"
#include "quiet_object.h"

namespace {

class FuzzObject final : public tk571::fuzz::QuietObject {
 public:
  FuzzObject(const uint8_t* data, size_t size) : bytes_(data, size) {}
  tk571::fuzz::FuzzLine* line = nullptr;

 protected:
  std::unique_ptr<tk571::SerialLine> CreateSerialLine() override {
    auto made = std::make_unique<tk571::fuzz::FuzzLine>(bytes_);
    line = made.get();
    return made;
  }

 private:
  tk571::fuzz::FuzzBytes bytes_;
};

TTagInfo Def(uint32_t id, const char* address, uint8_t kind) {
  TTagInfo info;
  std::memset(&info, 0, sizeof(info));
  info.TagID = id;
  std::strncpy(info.Address, address, sizeof(info.Address));
  info.DataKind = kind;
  return info;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  tk571::TDevicePDB block;
  block.FillDefaults();
  block.SetTypeCode(1, 0);
  block.SetTypeName(1, "TK571");
  block.SetLogErrors(1);
  block.SetLogTrace(1);
  block.SetDebugEnabled(1);
  const std::vector<TTagInfo> defs = {
      Def(1, "READ1:1", 0),      Def(2, "ENQ1:1", 0),       Def(3, "ENQ1:4", 0),
      Def(4, "M_FINAL1:1", 0),   Def(5, "M_COARSE1:1", 0),  Def(6, "M_FINE1:1", 0),
      Def(7, "LOAD_SETM1:1", 1), Def(8, "READ_SETM1:1", 1), Def(9, "START_UP1:1", 1),
      Def(10, "M_MEDIUM1:2", 0), Def(11, "READ0:1", 0),     Def(12, "COMMLINK", 2),
  };
  std::vector<const TTagInfo*> pointers;
  for (const auto& d : defs) pointers.push_back(&d);

  FuzzObject object(data, size);
  if (!object.IniDLLObj(&block, pointers)) return 0;
  object.WriteExecute(4, tk571::TagValue::Double(500));
  object.WriteExecute(5, tk571::TagValue::Double(100));
  object.WriteExecute(6, tk571::TagValue::Double(10));
  object.WriteExecute(7, tk571::TagValue::Boolean(true));
  object.WriteExecute(8, tk571::TagValue::Boolean(true));
  object.WriteExecute(9, tk571::TagValue::Boolean(true));
  object.WriteExecute(10, tk571::TagValue::Double(3));
  // Time moves by the input too, so answers arrive early, late and never.
  for (int step = 0; step < 400 && object.line && !object.line->Exhausted(); ++step) {
    object.ReadExecute();
    tk571::platform::SleepMs(size > 0 ? 7 + data[static_cast<size_t>(step) % size] : 50);
  }
  return 0;
}
