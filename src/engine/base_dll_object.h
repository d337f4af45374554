// The driver engine: one object holds everything one running driver instance
// knows. The protocol layer derives from it; the entry points create one per
// host polling thread. Implemented one concern per file:
//   base_lifecycle.cpp   construction, IniParm, IniDLLObj, Stop, destruction
//   base_tags.cpp        tag records, addresses, tag list
//   base_log.cpp         run log properties
//   base_run_state.cpp   run-state machine and link status
//   base_scheduler.cpp   read commands and the scheduler
//   base_read_write.cpp  read/write cycle
#pragma once

#include <array>
#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "config/device_pdb.h"
#include "engine/changed_tags.h"
#include "engine/command.h"
#include "engine/dll_tag.h"
#include "engine/guarded.h"
#include "engine/host_mailbox.h"
#include "engine/run_log.h"
#include "engine/run_state.h"
#include "engine/tag_address.h"
#include "engine/tag_type.h"
#include "engine/write_verdict.h"
#include "tk571/driver.h"

namespace tk571 {

// Host tag id → position in the tag list. Dense up to a bound, so a host id
// such as 0xFFFFFFF0 costs no memory.
class TagIdIndex {
 public:
  void Reset(std::size_t reserve);
  void Set(uint32_t id, int32_t position);
  // Position of the tag with this id, or -1 when no accepted tag has it.
  int32_t Find(uint32_t id) const;

 private:
  static constexpr uint32_t kDenseLimit = 1u << 20;
  std::vector<int32_t> dense_;
  std::unordered_map<uint32_t, int32_t> sparse_;
};

// The internal tags that show the state of the line: the overall link
// status (COMMLINK), the enable switch (ENCOMMLINK) and a device's link
// status (DEVICELINK n).
enum class LinkTagKind : uint8_t { kComm, kEnComm, kDevice };

class TBaseDLLObject {
 public:
  explicit TBaseDLLObject(bool first_instance);
  virtual ~TBaseDLLObject();
  TBaseDLLObject(const TBaseDLLObject&) = delete;
  TBaseDLLObject& operator=(const TBaseDLLObject&) = delete;

  // Published properties.
  // The pending message for the host, which lives in the mailbox.
  std::string sErrEvent() const { return Mailbox_.Message(); }
  int32_t TagCount() const { return TagCount_; }
  int32_t ScanTime() const { return ScanTime_; }
  bool FirstInstance() const { return FirstInstance_; }
  const std::string& DevMsg() const { return DevMsg_; }
  bool EnLog() const { return Log_.EnLog(); }
  // The line is open for exchanges (ENCOMMLINK).
  bool CommEnabled() const { return CommEnabled_; }

  // The operations of the engine, in the order of its operation table.
  // Virtual are those a lower class (or a test's) replaces.
  virtual bool IniParm(const TDevicePDB* block);
  void Refresh();
  virtual void OptimizeCommParm();
  virtual int32_t GetInterval();
  int32_t GetChID(const std::string& name, const std::string& address, uint8_t dev_type);
  int32_t GetBitID(const std::string& name, const std::string& address, uint8_t dev_type);
  int32_t GetThirdSegID(const std::string& name, const std::string& address, uint8_t dev_type);
  int32_t GetFourSegID(const std::string& name, const std::string& address, uint8_t dev_type);
  int32_t GetFiveSegID(const std::string& name, const std::string& address, uint8_t dev_type);
  std::unique_ptr<TDLLTag> CreatInternalTag(const TTagInfo& info);
  void GetTagTypeStr(const std::string& name, const std::string& address, std::string& out);
  void CheckAddrValid(std::unique_ptr<TDLLTag>& tag);
  virtual void SyncTagValue(TCommand& command);
  virtual CommandPtr CreatCommand(TDLLTag& tag, std::vector<CommandPtr>& list, bool is_write);
  virtual bool NeedCreatCommand(std::vector<CommandPtr>& list, TDLLTag& tag, bool is_write);
  // The channels a new command serves (0 to 0 unless the device groups them).
  virtual int32_t GetCommandStartAddr(const TCommand& command, const TDLLTag& tag);
  virtual int32_t GetCommandEndAddr(const TCommand& command, const TDLLTag& tag);
  virtual void GetAskStr(TCommand& command, TDLLTag& tag, std::string& out, bool is_write);
  virtual void GetAnswerMainStr(TCommand& command, TDLLTag& tag, std::string& out, bool is_write);
  virtual void RealComm(TCommand* command);
  void FreeCommand(CommandPtr& command);
  virtual bool GetResult();
  void GetRunEvent();
  void SwitchRunStatus();
  void UpdateLinkStatus();
  // The handlers of the run events the driver raises (the transition table
  // of base_run_state.cpp).
  virtual void opInit_Exec();
  virtual void opInitACK_Exec();
  virtual void opInitNAK_Exec();
  void opReadCmd_Exec();
  void opReadACK_Exec();
  void opReadNAK_Exec();
  void opClrReadError_Exec();
  virtual void opWriteCmd_Exec();
  virtual void opWriteACK_Exec();
  virtual void opWriteNAK_Exec();
  virtual void opClrWriteError_Exec();
  void GetNextCommand();
  void GetCommandNext();
  void MaintainLogFiles();
  void WriteCommEvent(const std::string& text);
  void WriteDevMsg(const std::string& text);
  virtual void SetLogMsg(const std::string& text);
  void SetEnLog(bool value);
  void SetCommLink(bool value) { LastCommOK_ = value; }
  void SetCommEnabled(bool value) { CommEnabled_ = value; }
  bool IniDLLObj(const TDevicePDB* block, const std::vector<const TTagInfo*>& tags);
  bool WriteExecute(uint32_t tag_id, const TagValue& value);
  bool ReadExecute();
  virtual void Stop();
  bool CheckTagAddr(const TDevicePDB& block, std::string& address);
  bool AddTagLists(const std::vector<const TTagInfo*>& tags, std::vector<int32_t>& rejected);

  // The class that the exception lines of this class's operations name.
  static std::string_view ExceptionClass(std::string_view) { return "TBaseDLLObject"; }

  // The tag list, for the host interface.
  // The tag at a position of the tag list, or null outside it.
  TDLLTag* TagAt(int32_t position) const;
  TDLLTag* FindTag(uint32_t tag_id);
  // Prepares the object for destruction while the library unloads: by then
  // the library's texts, log settings and clock may already be gone, so the
  // object closes its port and frees its lists without a stop report or log
  // maintenance. A host that wants the report calls FreeDriver first.
  void ReleaseAtUnload() {
    Initialized_ = false;
    Unloading_ = true;
  }
  // Event handle given by the host (IniDriverEx); 0 for none.
  void SetFailEvent(uint32_t handle) { Mailbox_.SetFailEvent(handle); }

  // What the device test window shows and steps.
  const std::vector<CommandPtr>& ReadCommands() const { return ReadCommands_; }
  TCommand* CurrentCommand() const { return CurrentCommand_; }
  bool LastCommOK() const { return LastCommOK_; }

  // The exchange counters since the lists were last built, as the stop
  // report gives them.
  struct ExchangeTotals {
    uint32_t reads = 0;
    double read_timeouts = 0;
    uint32_t read_failures = 0;
    uint32_t writes = 0;
    double write_timeouts = 0;
    uint32_t write_failures = 0;
  };
  ExchangeTotals Totals() const;

  // --- The line thread's view (base_line_step.cpp).
  // Where the host's calls meet the object's owner: the line thread, or the
  // caller that steps the object itself.
  HostMailbox& Mailbox() { return Mailbox_; }
  // One run step, taken by the line thread instead of the host's poll, and
  // what it changed published for the host.
  LineStepOutcome StepForLine();
  // Carries out what the host posted, in the order of its calls, and
  // publishes the outcome. Only between exchanges.
  void TakeHostPosts();
  // Publishes the tags whose value or quality changed, and what a write
  // needs to know, to the mailbox.
  void PublishForHost();

 protected:
  // GetRunEvent's choice of an event for the current state, before the link
  // status follows an exchange that ended; a device layer adds the events of
  // its own states.
  virtual uint8_t ChooseRunEvent();
  // A tag that only joins a command another tag of its request opens (its
  // own type is never answered); the read commands are built from the other
  // tags first, so the host's order of tags does not matter.
  virtual bool JoinsOnly(const TDLLTag&) const { return false; }
  // What a write of the tag comes to, as far as the device layer decides it
  // (a command to the device, a set-point collected in the driver, whole
  // numbers); the engine fills in the rest.
  virtual void DescribeWrite(const TDLLTag&, WriteTag&) const {}
  // The tag types of the device layer; the engine itself knows none.
  virtual TagTypeTable TagTypes() const { return {}; }

  // The object as the exception helper and the system report see it: its
  // error switch and its (overridable) SetLogMsg.
  class Sink final : public LogSink {
   public:
    explicit Sink(TBaseDLLObject& object) : object_(object) {}
    bool LogErrors() const override { return object_.LogErrorsOn(); }
    void SetLogMsg(std::string_view text) override { object_.SetLogMsg(std::string(text)); }

   private:
    TBaseDLLObject& object_;
  };

  // Runs an operation of the class `Self` (the caller passes `this`) that must
  // not let an exception escape: on one, the line "D：<class>.<op>异常！" is
  // logged under the error switch and `failure` is returned; <class> is
  // Self::ExceptionClass(op), the class whose code the operation is. Thread
  // cancellation passes through.
  template <class Self, class F, class R = std::invoke_result_t<F>>
  R Guarded(const Self*, std::string_view op, std::type_identity_t<R> failure, F&& body) {
    Sink sink(*this);
    return tk571::Guarded(sink, Self::ExceptionClass(op), op, std::move(failure),
                          std::forward<F>(body));
  }
  // The same without a result: true when the body ran to its end.
  template <class Self, class F>
  bool Guarded(const Self*, std::string_view op, F&& body) {
    Sink sink(*this);
    return tk571::Guarded(sink, Self::ExceptionClass(op), op, std::forward<F>(body));
  }
  // The exception line of an operation of `Self` for a fault that the
  // operation finds itself.
  template <class Self>
  void LogExceptionLine(const Self*, std::string_view op) {
    Sink sink(*this);
    WriteExceptionLine(sink, Self::ExceptionClass(op), op);
  }

  bool IniTagList(const std::vector<const TTagInfo*>& tags);
  int32_t GetTagTypeIndex(const std::string& name, const std::string& address);
  int32_t GetDevID(const std::string& name, const std::string& address);

  // Helpers of the tag and address operations.
  std::string TagPrefix(const std::string& name) const;
  // Logs the reason in `DevMsg` and the drop line, and releases the tag.
  void DropTag(std::unique_ptr<TDLLTag>& tag);
  const TagTypeRow* TypeRow(int32_t type_index) const;
  int32_t ChannelMinOf(uint8_t dev_type, int32_t type_index) const;
  int32_t ChannelMaxOf(uint8_t dev_type, int32_t type_index) const;
  void HintMissing(const std::string& name, const std::string& address, const std::string& part,
                   int32_t fallback);
  void ReportIllegal(const std::string& name, const std::string& address, const std::string& joiner,
                     const std::string& part);
  // Logs what the address parser noted about one part and gives its value.
  int32_t NotedPart(const std::string& name, const std::string& address, const AddressPart& part,
                    const std::string& part_name, const std::string& joiner);
  void SetUpInternalTag(TDLLTag& tag, bool full_setup);

  // The kind of link tag a tag record is, if it is one.
  static std::optional<LinkTagKind> LinkTagKindOf(const TDLLTag& tag);
  // The value a link tag of `kind` and `data_kind` shows now; `device` is the
  // device of a DEVICELINK tag (0..99).
  TagValue LinkTagValue(LinkTagKind kind, uint8_t data_kind, int32_t device) const;

  // Parts of the stop report and of the release of the lists.
  void WriteTagReport(uint32_t run_ms);
  void WriteTotals();
  void ReleaseLists();

  // Switches of the loaded parameter block (all off before a block is loaded).
  bool DebugOn() const { return Log_.DebugEnabled(); }
  bool LogErrorsOn() const { return Log_.LogErrors(); }
  bool LogTraceOn() const { return Log_.LogTrace(); }
  // Writers of detailed trace lines ask before each group of lines.
  bool TakeTraceLine() { return Log_.TakeTraceLine(); }

  // --- The run state as the device layer steps it.
  uint8_t RunState() const { return RunState_; }
  uint8_t RunEvent() const { return RunEvent_; }
  // The pending event ends a read or write exchange (answered or not).
  bool ExchangeEnded() const;
  // `event` is dispatched at the next step.
  void Raise(uint8_t event) { RunEvent_ = event; }
  // Enters `state` with `event` pending.
  void EnterState(uint8_t state, uint8_t event = opNone) {
    RunState_ = state;
    RunEvent_ = event;
  }
  // The exchange runs for `command` (the head of its chain) from now on.
  void SetCurrentCommand(TCommand* command) { CurrentCommand_ = CurrentHead_ = command; }
  // The current request left now: its reply is awaited from this moment,
  // for at most `limit_ms` (the library's reply time-out when 0).
  void MarkSent(uint32_t limit_ms = 0);
  // The reply of the current exchange is complete but cannot be used: the
  // exchange fails at once instead of waiting for the time-out.
  void RejectReply() { ReplyRejected_ = true; }
  bool ReplyRejected() const { return ReplyRejected_; }
  // Whether an exchange ended without its answer since the last call: the
  // controller may still send it late.
  bool TakeAnswerOverdue() { return std::exchange(AnswerOverdue_, false); }
  // Bytes the line carried that belong to no answer (noise, late answers,
  // tails), counted for `dev_no` and traced in hexadecimal.
  void NoteDiscarded(int32_t dev_no, std::string_view bytes);
  // More than `limit_ms` have passed since the request left.
  bool ReplyOverdue(uint32_t limit_ms) const;
  // More than the limit MarkSent gave have passed since the request left.
  bool WaitedOut() const { return ReplyOverdue(AnswerLimitMs_); }
  // The exchange is refused because the line carried what is not the
  // device's answer (line errors, another device's output): the link story
  // counts it as interference, not as a device that fails to answer.
  void NoteInterference() { ExchangeInterfered_ = true; }

  // --- What the device layer reads of the engine's lists and block.
  const TDevicePDB& ParameterBlock() const { return Pdb_; }
  const std::vector<std::unique_ptr<TDLLTag>>& Tags() const { return Tags_; }
  bool Initialized() const { return Initialized_; }
  bool Stopped() const { return Stopped_; }
  bool DeviceInUse(int32_t dev_no) const;
  const std::deque<CommandPtr>& QueuedWrites() const { return WriteQueue_; }
  // A write of the tag's present value already waits in the queue.
  bool WriteQueued(const TDLLTag& tag) const;

  // --- Building the lists.
  // An empty tag list for `count` definitions, the object started.
  void BeginTagList(std::size_t count);
  // Adds a tag at the end of the tag list.
  void AppendTag(std::unique_ptr<TDLLTag> tag);
  // The read commands of the tag list, built afresh by the device layer's hooks.
  void BuildReadCommands();
  // Puts a built write at the end of the write queue.
  void QueueWrite(CommandPtr command) { WriteQueue_.push_back(std::move(command)); }

  // --- Communication cycle helpers (base_run_state.cpp, base_scheduler.cpp,
  // base_read_write.cpp).

  // Guard of the read and write handlers: an exception also ends the current
  // command's turn (FallBackToReady).
  template <class F>
  void GuardExchange(std::string_view op, F&& body) {
    if (!Guarded(this, op, std::forward<F>(body))) FallBackToReady();
  }
  // Back to rsReady with no event and no current command; a write that was
  // running is given up with its failure quality rather than dropped.
  void FallBackToReady();
  // One run step from inside a handler.
  void Step() { ReadExecute(); }
  // RunEvent := 0, RunState := state, then one step.
  void ClearAndStep(uint8_t state);
  // The handler of `event` that only clears it, enters the state the
  // transition table gives and runs one step.
  void RunSimpleHandler(uint8_t event);
  // Handlers that complete an exchange find no current command: the machine
  // goes back to rsReady, and the next command is chosen.
  void EnterMissingCommand();
  // Timeout bookkeeping shared by reads and writes: the severe-failure
  // message, the host's event and logging switched back on.
  void CheckSevereFailure();
  // Failure log entries of an exchange: `what` names the failure
  // ("通讯读超时错", "通讯写失败", ...).
  void LogExchangeFailure(const std::string& what, const TCommand& command);
  void LogReplyEntries(const TCommand& command);
  // Gives up the running write: failure quality on its first tag, counters,
  // release. Used by opClrWriteError_Exec and the exception fall-back;
  // `line_failure` adds the failure entries of an exchange to the log.
  void GiveUpRunningWrite(TCommand& command, bool line_failure);
  // Ends the current write with the write-failed quality, without another
  // attempt and without a line failure in the log: the write cannot be
  // carried out as given, and the caller has logged why.
  void RefuseCurrentWrite();
  void EndCurrentWrite(const char* operation, bool line_failure);
  // Releases the chain that begins at `head`, wherever it is owned.
  void ReleaseChain(TCommand* head);
  // Releases every command list and clears the current command; for Stop.
  void ReleaseCommandLists();
  // A tag value as the log writes it, by the tag's data kind.
  static std::string ValueText(const TDLLTag& tag, const TagValue& value);
  // The beginning of a command's listing up to its tags:
  // "D：<DevTypeName>类型=<type>，<DevIDName>=<n>[" and, for each tag, its
  // name and address; `written` adds the value a write carries.
  std::string CommandListingHead(const TCommand& command, const TagValue* written);
  // One refused write: D + "：标签写入请求未执行：" + name + reason + address and value.
  void LogWriteRefused(const TDLLTag& tag, const std::string& reason, const TagValue& value);

 private:
  bool FirstInstance_;
  // Switches, trace allowance and EnLog of this object's run log.
  RunLog Log_;
  int32_t ScanTime_ = 500;
  int32_t TagCount_ = 0;
  bool ParmLoaded_ = false;
  HostMailbox Mailbox_;
  bool CommEnabled_ = true;
  bool LastCommOK_ = false;
  uint32_t StartTick_ = 0;
  uint32_t StopTick_ = 0;
  uint8_t RunState_ = rsIdle;
  uint8_t RunEvent_ = opNone;
  uint32_t WriteFailTotal_ = 0;
  // The host has been told once that the run log cannot be written.
  bool LogUnwritableReported_ = false;
  uint32_t ReadFailTotal_ = 0;
  std::array<uint8_t, kDeviceCount> DevLinkStatus_{};
  std::array<uint32_t, kDeviceCount> DevFailCount_{};
  std::array<uint8_t, kDeviceCount> DevInUse_{};
  uint8_t LinkStatus_ = 0;
  uint32_t ReadCommCount_ = 0;
  uint32_t WriteCommCount_ = 0;
  double WriteTimeoutCount_ = 0;
  double ReadTimeoutCount_ = 0;
  uint32_t SendTick_ = 0;
  // The longest wait for the answer to the request sent last.
  uint32_t AnswerLimitMs_ = 0;
  // Time until the soonest command falls due, as the scheduler last found
  // it; kWaitForever without commands.
  uint32_t NextDueMs_ = 0;
  // Tags published with a queued or running write, for the next publish.
  std::vector<int32_t> PublishedWrites_;
  bool ReplyRejected_ = false;
  bool ExchangeInterfered_ = false;
  bool AnswerOverdue_ = false;
  std::array<uint64_t, kDeviceCount> DevDiscarded_{};
  // Devices and the line whose link tags have shown their first outcome.
  std::array<bool, kDeviceCount> DevLinkShown_{};
  bool LinkShown_ = false;
  // Requests sent so far: a step that sent one moved the exchange on.
  uint32_t Requests_ = 0;
  ChangedTags Changed_;
  // The write facts of a tag and of the object, as they stand.
  WriteTag WriteFactsOf(const TDLLTag& tag) const;
  WriteObject WriteObjectFacts() const;
  // Time until the machine has work without bytes or posts.
  uint32_t NextStepInMs(bool awaiting) const;
  // What the host may write, published once the lists are built.
  void PublishStart();
  // WriteExecute for a write the host posted: `told` is what its call was
  // told the write comes to.
  bool CarryOutWrite(uint32_t tag_id, const TagValue& value, std::optional<WriteVerdict> told);
  std::string DevMsg_;
  bool HasEnLogTag_ = false;
  bool Initialized_ = false;
  bool Stopped_ = false;
  std::vector<CommandPtr> ReadCommands_;
  std::vector<std::unique_ptr<TDLLTag>> Tags_;
  // Positions of the link tags in the tag list, found when the lists are built.
  struct LinkTagEntry {
    int32_t position;
    LinkTagKind kind;
  };
  std::vector<LinkTagEntry> LinkTags_;
  TagIdIndex TagIndex_;
  TDevicePDB Pdb_;
  int32_t DefaultDevNo_ = 0;
  TCommand* CurrentCommand_ = nullptr;
  TCommand* CurrentHead_ = nullptr;
  std::deque<CommandPtr> WriteQueue_;
  // The write chain taken from the queue while it runs.
  CommandPtr RunningWrite_;
  // Set while the library unloads (ReleaseAtUnload).
  bool Unloading_ = false;
};

}  // namespace tk571
