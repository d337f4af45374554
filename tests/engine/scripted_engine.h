// A driver engine with the protocol hooks scripted by the test and a clock
// the test moves: replies come when the test says so, requests are recorded
// instead of sent, log lines are collected.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "engine/base_dll_object.h"
#include "engine/library_values.h"
#include "engine/link_texts.h"
#include "platform/clock.h"
#include "platform/gbk.h"
#include "protocol/tag_type_table.h"
#include "support/fake_clock.h"

namespace tk571::testing {

inline std::string G(const char* utf8) {
  return platform::ToGbk(utf8);
}

struct TagSpec {
  std::string name;
  std::string type_name;  // type name, or the internal address in upper case
  int32_t type_index = -1;
  int32_t dev_no = 1;
  int32_t channel = 0;
  uint8_t data_kind = TK571_VALUE_FLOAT;
  uint32_t scan_time = 1000;
  TagValue value = TagValue::Integer(0);
  bool internal = false;
  uint8_t writable = 0;
};

class ScriptedEngine : public TBaseDLLObject {
 public:
  ScriptedEngine() : TBaseDLLObject(true) {
    for (int i = 0; i < kDeviceCount; ++i) block_.SetTypeCode(i, kEmptyTypeCode);
    BeginTagList(0);
  }

  // The run state as a device layer steps it.
  using TBaseDLLObject::EnterState;
  using TBaseDLLObject::QueuedWrites;
  using TBaseDLLObject::Raise;
  using TBaseDLLObject::RunEvent;
  using TBaseDLLObject::RunState;
  using TBaseDLLObject::SetCurrentCommand;

  // --- Script.

  // While set, every poll of an outstanding request finds its reply.
  bool answering = false;
  // Values the reply carries, by tag position.
  std::map<int32_t, TagValue> reply_values;
  // Thrown from RealComm for the next request sent, when set.
  bool throw_on_send = false;

  std::vector<std::string> sent;
  std::vector<uint32_t> sent_ticks;
  std::vector<std::string> log;

  // --- Set-up.

  TDLLTag& AddTag(const TagSpec& spec) {
    auto tag = std::make_unique<TDLLTag>();
    const int32_t position = TagCount();
    tag->TagID = static_cast<uint32_t>(100 + position);
    tag->Name = spec.name;
    tag->Address = spec.name;
    tag->DataKind = spec.data_kind;
    tag->TypeName = spec.type_name;
    tag->TypeIndex = spec.type_index;
    tag->DevNo = spec.dev_no;
    tag->Channel = spec.channel;
    tag->ScanTime = spec.scan_time;
    tag->Value = spec.value;
    tag->ReportedValue = spec.value;
    tag->SavedValue = spec.value;
    tag->Internal = spec.internal ? 1 : 0;
    tag->Writable = spec.writable;
    if (!spec.internal && spec.type_index >= 0)
      tag->Writable = ControllerTagTypes()[static_cast<std::size_t>(spec.type_index)].Writable;
    if (spec.dev_no >= 0 && spec.dev_no < kDeviceCount) {
      block_.SetTypeCode(spec.dev_no, 0);
      block_.SetTypeName(spec.dev_no, "TK571");
    }
    AppendTag(std::move(tag));
    return *TagAt(position);
  }
  // A READ tag of a device: one read command per device.
  TDLLTag& AddRead(const std::string& name, int32_t dev_no, uint32_t scan_time = 1000) {
    return AddTag({.name = name,
                   .type_name = "READ",
                   .type_index = kTypeREAD,
                   .dev_no = dev_no,
                   .scan_time = scan_time});
  }
  // A writable analog tag that is also read (M_MEDIUM).
  TDLLTag& AddMedium(const std::string& name, int32_t dev_no, uint32_t scan_time = 1000) {
    return AddTag({.name = name,
                   .type_name = "M_MEDIUM",
                   .type_index = kTypeM_MEDIUM,
                   .dev_no = dev_no,
                   .scan_time = scan_time});
  }
  TDLLTag& AddStartUp(const std::string& name, int32_t dev_no) {
    return AddTag({.name = name,
                   .type_name = "START_UP",
                   .type_index = kTypeSTART_UP,
                   .dev_no = dev_no,
                   .data_kind = TK571_VALUE_BOOL,
                   .value = TagValue::Boolean(false)});
  }
  TDLLTag& AddInternal(const std::string& address, uint8_t data_kind, int32_t dev_no = -1) {
    TagValue initial = data_kind == TK571_VALUE_FLOAT  ? TagValue::Integer(0)
                       : data_kind == TK571_VALUE_BOOL ? TagValue::Boolean(false)
                                                       : TagValue::Text("");
    return AddTag({.name = address,
                   .type_name = address,
                   .dev_no = dev_no,
                   .data_kind = data_kind,
                   .value = initial,
                   .internal = true});
  }

  struct Switches {
    bool log_errors = true;
    bool trace = false;
    bool debug = false;
    uint8_t write_retries = 2;
  };
  // The state IniDLLObj leaves: block loaded, lists built, opInit pending.
  void Start(Switches s) {
    block_.SetLogErrors(s.log_errors ? 1 : 0);
    block_.SetLogTrace(s.trace ? 1 : 0);
    block_.SetDebugEnabled(s.debug ? 1 : 0);
    block_.SetWriteRetries(s.write_retries);
    IniParm(&block_);
    Refresh();
    Raise(opInit);
    log.clear();
  }
  void Start() { Start(Switches{}); }

  // --- Inspection.

  std::string LogText() const {
    std::string all;
    for (const std::string& line : log) all += line;
    return all;
  }
  int CountInLog(const std::string& gbk) const {
    const std::string all = LogText();
    int n = 0;
    for (std::size_t at = all.find(gbk); at != std::string::npos; at = all.find(gbk, at + 1)) ++n;
    return n;
  }
  TDLLTag& Tag(int32_t position) { return *TagAt(position); }
  uint32_t IdOf(const TDLLTag& tag) const { return tag.TagID; }
  std::string LinkText(uint8_t code) const { return tk571::LinkStatusText(code, CommEnabled()); }
  // A device layer's end of the current exchange with `event`.
  void EndExchange(uint8_t event) {
    Raise(event);
    UpdateLinkStatus();
  }

  // --- Hooks.

  void SetLogMsg(const std::string& text) override { log.push_back(text); }
  void RealComm(TCommand* command) override {
    TBaseDLLObject::RealComm(command);
    if (throw_on_send) {
      throw_on_send = false;
      throw std::runtime_error("port gone");
    }
    if (!command) return;
    sent.push_back(command->Request);
    sent_ticks.push_back(platform::Tick());
  }
  bool GetResult() override {
    TCommand* command = CurrentCommand();
    if (!answering || !command) return false;
    command->Response = "ok";
    for (int32_t index : command->Indexes) {
      const auto it = reply_values.find(index);
      if (it != reply_values.end()) TagAt(index)->Value = it->second;
    }
    return true;
  }

 protected:
  TagTypeTable TagTypes() const override { return ControllerTagTypes(); }

 private:
  TDevicePDB block_;
};

// Fixture: fake clock, an engine, helpers to poll and move time.
class EngineTest : public ::testing::Test {
 protected:
  void SetUp() override {
    WriteRepeatBudget.store(2);
    // Close to the wrap of the 32-bit counter, so that every test also
    // crosses it.
    clock.SetTick(0xFFFFFFFFu - 30000u);
  }

  // One host poll.
  void Poll() { e.ReadExecute(); }
  // Moves time by `ms` and polls.
  void After(uint32_t ms) {
    clock.Advance(ms);
    Poll();
  }
  // Polls every `step` ms for `total` ms.
  void Run(uint32_t total, uint32_t step = 1) {
    for (uint32_t t = 0; t < total; t += step) After(step);
  }
  uint32_t Now() { return clock.TickMs(); }
  // Stops the engine; the log then holds its stop report alone.
  void StopWithReport() {
    e.log.clear();
    e.Stop();
  }

  // A request's text as the engine's default hooks compose it.
  static std::string ReadRequest(const std::string& name) {
    return G("向设备发送读标签") + name + G("命令");
  }
  static std::string WriteRequest(const std::string& name) {
    return G("向设备发送写标签") + name + G("命令");
  }

  FakeClock clock;
  ScriptedEngine e;
};

}  // namespace tk571::testing
