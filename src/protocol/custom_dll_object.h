// The table-driven protocol layer between the engine and the controller:
// request framing from the tag type table, the checksum stage, address
// arithmetic, grouping of tags into commands, and reply collection and
// analysis. The controller class replaces the parts that are its own.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "engine/base_dll_object.h"
#include "protocol/line_thread.h"
#include "protocol/serial_line.h"
#include "protocol/tag_type_table.h"

namespace tk571 {

class TCustomDLLObject : public TBaseDLLObject, public LineDriven {
 public:
  explicit TCustomDLLObject(bool first_instance);
  ~TCustomDLLObject() override;

  bool IniParm(const TDevicePDB* block) override;
  void OptimizeCommParm() override;
  int32_t GetInterval() override;
  CommandPtr CreatCommand(TDLLTag& tag, std::vector<CommandPtr>& list, bool is_write) override;
  bool NeedCreatCommand(std::vector<CommandPtr>& list, TDLLTag& tag, bool is_write) override;
  void GetAskStr(TCommand& command, TDLLTag& tag, std::string& out, bool is_write) override;
  void GetAnswerMainStr(TCommand& command, TDLLTag& tag, std::string& out, bool is_write) override;
  void RealComm(TCommand* command) override;
  bool GetResult() override;
  void Stop() override;

  LineStepOutcome LineStep() override { return StepForLine(); }
  const platform::SerialPort* LinePort() const override { return Comm_ ? Comm_->Port() : nullptr; }

  virtual void CreateValueStr(TDLLTag& tag, bool is_write, std::string& out);
  virtual int32_t GetCommandStartAddr(const TCommand& command, const TDLLTag& tag);
  virtual int32_t GetCommandEndAddr(const TCommand& command, const TDLLTag& tag);
  virtual int32_t GetCommandAddrLength(const TCommand& command, const TDLLTag& tag);
  virtual std::string GetCrcSourceStr(const std::string& text, std::string& out);
  virtual bool CompareCRC(const std::string& text, const std::string& checksum);
  virtual std::string CheckCRC(const std::string& text, std::string& out);
  virtual bool CheckResult(const std::string& reply);
  virtual bool CommAnalyze(const std::string& reply, TCommand& command,
                           const std::vector<std::unique_ptr<TDLLTag>>& tags);
  virtual void GetEchoDataStr(const std::string& reply, const TCommand& command, std::string& out);
  virtual void GetEchoStatusStr(const std::string& reply, const TCommand& command,
                                std::string& out);

 protected:
  TagTypeTable TagTypes() const override;
  const char* ClassName() const override { return "TCustomDLLObject"; }

  // Creates the serial port object; tests put a scripted line here.
  virtual std::unique_ptr<SerialLine> CreateSerialLine();

  // D + text + CR LF, whatever the switches.
  void LogLine(const std::string& text);
  // The listing of one command: its device, its tags and its request.
  std::string CommandListing(const TCommand& command, const std::string& closing);
  // Its beginning up to the tags; `written` adds the value a write carries.
  std::string CommandListingHead(const TCommand& command, const TagValue* written);
  // The current command's terminator, CR LF for every type of the table.
  std::string_view TerminatorOf(int32_t type_index) const;
  int32_t LargestCommandSize() const;

  SerialLine* Comm() { return Comm_.get(); }
  // Collects the answer until `complete` holds for the received text or
  // `limit_ms` passed; the received text.
  const std::string& AwaitReply(uint32_t limit_ms,
                                const std::function<bool(const std::string&)>& complete);

  std::unique_ptr<SerialLine> Comm_;
  bool CommCreated_ = false;
};

}  // namespace tk571
