// The controller class with a scripted line, a captured run log and direct
// access to its tags and commands.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "fake_line.h"
#include "platform/gbk.h"
#include "protocol/dll_object.h"
#include "protocol/tag_type_table.h"

namespace tk571::test {

class TestDriver : public TDLLObject {
 public:
  explicit TestDriver(std::shared_ptr<LineState> line = std::make_shared<LineState>());

  std::shared_ptr<LineState> line;
  std::string log;

  // Loads a block with one TK571 controller per given device number and
  // opens the scripted line.
  bool Start(std::initializer_list<int> devices = {1}, bool debug = false, bool errors = true);
  // Adds a tag as the tag list would hold it.
  TDLLTag& AddTag(int32_t type, int32_t device, int32_t channel, uint8_t kind = 0,
                  uint32_t scan_ms = 1000);
  // Builds the read commands from the tags.
  void BuildCommands();
  // One host poll.
  void Poll() { ReadExecute(); }
  // Queues a write as the host's OnDataWrite would.
  bool Write(TDLLTag& tag, const TagValue& value);

  TDLLTag& Tag(int32_t index) { return *TagAt(index); }
  const std::vector<CommandPtr>& Reads() const { return ReadCommands(); }
  const std::deque<CommandPtr>& Queue() const { return QueuedWrites(); }
  TCommand* Current() { return CurrentCommand(); }
  void SetCurrent(TCommand* command) { SetCurrentCommand(command); }
  uint8_t State() const { return RunState(); }
  uint8_t Event() const { return RunEvent(); }
  void SetState(uint8_t state, uint8_t event) { EnterState(state, event); }
  uint32_t WriteFails() const { return Totals().write_failures; }
  bool IsInitialized() const { return Initialized(); }
  SerialLine* Line() { return Comm(); }
  TSetpoints& MutableSetpoints(int32_t device) {
    return const_cast<TSetpoints&>(Setpoints(device));
  }
  int clr_write_error_calls = 0;

  // Engine operations the tests watch.
  void SetLogMsg(const std::string& text) override { log += text; }
  void opClrWriteError_Exec() override;

 protected:
  std::unique_ptr<SerialLine> CreateSerialLine() override {
    return std::make_unique<ScriptedLine>(line);
  }
};

// A GBK text from UTF-8, for comparisons with the log.
inline std::string Gbk(const char* utf8) {
  return platform::ToGbk(utf8);
}

// Compares a trace with a committed file under tests/protocol/golden;
// TK571_UPDATE_GOLDEN=1 rewrites the file instead.
void ExpectGolden(const std::string& name, const std::string& trace);

}  // namespace tk571::test
