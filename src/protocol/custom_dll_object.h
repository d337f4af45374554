// The table-driven protocol layer between the engine and the controller:
// request framing from the tag type table, the checksum stage, address
// arithmetic, grouping of tags into commands, and reply collection and
// analysis. The controller class replaces the parts that are its own.
#pragma once

#include <array>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/base_dll_object.h"
#include "platform/line_errors.h"
#include "protocol/line_thread.h"
#include "protocol/serial_line.h"
#include "protocol/tag_type_table.h"

namespace tk571 {

class TCustomDLLObject : public TBaseDLLObject, public LineDriven {
 public:
  static std::string_view ExceptionClass(std::string_view) { return "TCustomDLLObject"; }

  explicit TCustomDLLObject(bool first_instance);
  ~TCustomDLLObject() override;

  bool IniParm(const TDevicePDB* block) override;
  void OptimizeCommParm() override;
  int32_t GetInterval() override;
  bool NeedCreatCommand(std::vector<CommandPtr>& list, TDLLTag& tag, bool is_write) override;
  void GetAskStr(TCommand& command, TDLLTag& tag, std::string& out, bool is_write) override;
  void GetAnswerMainStr(TCommand& command, TDLLTag& tag, std::string& out, bool is_write) override;
  void RealComm(TCommand* command) override;
  bool GetResult() override;
  void Stop() override;

  LineStepOutcome LineStep() override { return StepForLine(); }
  void TakeHostWork() override { TakeHostPosts(); }
  const platform::SerialPort* LinePort() const override { return Comm_ ? Comm_->Port() : nullptr; }

  virtual void CreateValueStr(TDLLTag& tag, bool is_write, std::string& out);
  int32_t GetCommandStartAddr(const TCommand& command, const TDLLTag& tag) override;
  int32_t GetCommandEndAddr(const TCommand& command, const TDLLTag& tag) override;
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

  // A reply under analysis, as the step for each of its tags sees it.
  struct ReplyUnderAnalysis {
    const TCommand& command;
    // The data part, at most 255 characters.
    std::string data;
    // Text that a device layer fetches once per reply, when a tag needs it.
    std::optional<std::string> fetched;
  };
  // Stores the value that a reply carries for one of its tags; text tags
  // take the whole data part and never come here.
  virtual void StoreTagValue(TDLLTag& tag, ReplyUnderAnalysis& reply);
  // 1-based position of a tag's field in the data part of its command's
  // reply.
  static int64_t FieldStart(const TDLLTag& tag, const TCommand& command);

  // Creates the serial port object; tests put a scripted line here.
  virtual std::unique_ptr<SerialLine> CreateSerialLine();

  // D + text + CR LF, whatever the switches.
  void LogLine(const std::string& text);
  // The listing of one command: its device, its tags and its request.
  std::string CommandListing(const TCommand& command, const std::string& closing);
  // The current command's terminator, CR LF for every type of the table.
  std::string_view TerminatorOf(int32_t type_index) const;
  int32_t LargestCommandSize() const;

  SerialLine* Comm() { return Comm_.get(); }
  // The physical line behind the port (its device path), empty without one.
  std::string LineKey() const { return Comm_ ? Comm_->LineKey() : std::string(); }
  // Collects the answer until `complete` holds for the received text or
  // `limit_ms` passed; the received text.
  const std::string& AwaitReply(uint32_t limit_ms,
                                const std::function<bool(const std::string&)>& complete);

  // Sends a request once the line is free: what arrived after the last
  // answer and what is still arriving is read, counted for the device of the
  // current command and dropped first. False when it did not reach the port.
  bool SendRequest(const std::string& text);
  // The text received since the last request. `Consume` marks it as used
  // (a prompt, an echo); `AcceptAnswer` marks [begin, end) of it as the
  // answer, and what lies in front of it as noise.
  std::string ReceiveText(bool consume);
  void AcceptAnswer(const std::string& received, std::size_t begin, std::size_t end);
  // The answer that CheckResult accepted, out of the whole reply.
  std::string_view AcceptedAnswer(std::string_view reply) const;
  // The error switch's line for a reply that ended its exchange unused.
  void LogUnusableReply(const TCommand& command, const std::string& reply);

  // --- Whether an answer belongs to the request just sent.
  // The longest wait for an answer of `answer_chars` characters to a
  // request of `request_chars`: both on the line at its rate, a quarter of
  // that for pauses between characters, and the controller's turnaround; never less than
  // `floor_ms`, the wait of a fast line.
  uint32_t AnswerWaitMs(std::size_t request_chars, std::size_t answer_chars,
                        uint32_t floor_ms) const;
  // The longest answer the device gives to the command's request.
  virtual std::size_t LongestAnswerChars(const TCommand&) const { return 0; }
  // Bytes that the line carried between exchanges and that are output of a
  // device nobody asked (a controller in continuous output).
  virtual bool IsUnsolicitedOutput(std::string_view) const { return false; }
  // The port was opened anew: what the devices on the line were told before
  // may be lost.
  virtual void LineReopened() {}
  // An answer found at `begin` of the received text that began before the
  // request had ended: it answers something else.
  bool BeganEarly(std::size_t begin) const;
  // Unsolicited output was seen on the line; the run log names it once, with
  // its bytes.
  void NoteUnsolicited(std::string_view bytes);
  // Unsolicited output was seen lately: no reading on the line can be told
  // from it.
  bool UnsolicitedOutputGoingOn();
  // Takes the line errors the port counted; true when any was counted since
  // the request went out.
  bool LineErrorsInExchange();
  // A complete reply that the line spoilt: unusable, and the link story
  // counts interference.
  void RefuseInterfered(const TCommand& command, const std::string& reply);

 private:
  // The run-log lines of the stop report about the line itself.
  void WriteLineReport();

  std::unique_ptr<SerialLine> Comm_;
  bool CommCreated_ = false;
  // Bytes of the receive text since the last request that an answer or a
  // dialogue has used; the rest belongs to no request.
  std::size_t Consumed_ = 0;
  std::size_t AnswerBegin_ = 0;
  std::size_t AnswerEnd_ = 0;
  // Line errors by device, and those since the request sent last.
  std::array<platform::LineErrors, kDeviceCount> LineErrors_{};
  platform::LineErrors ExchangeErrors_;
  // Framing errors since an answer was last understood.
  uint32_t FramingUnanswered_ = 0;
  bool FramingLogged_ = false;
  bool UnsolicitedSeen_ = false;
  uint32_t UnsolicitedTick_ = 0;
  bool UnsolicitedLogged_ = false;
};

}  // namespace tk571
