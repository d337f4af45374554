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
#include <string>
#include <unordered_map>
#include <vector>

#include "config/device_pdb.h"
#include "engine/changed_tags.h"
#include "engine/command.h"
#include "engine/dll_tag.h"
#include "engine/guarded.h"
#include "engine/run_log.h"
#include "engine/run_state.h"
#include "engine/tag_type.h"
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

class TBaseDLLObject {
 public:
  explicit TBaseDLLObject(bool first_instance);
  virtual ~TBaseDLLObject();
  TBaseDLLObject(const TBaseDLLObject&) = delete;
  TBaseDLLObject& operator=(const TBaseDLLObject&) = delete;

  // Published properties.
  const std::string& sErrEvent() const { return sErrEvent_; }
  int32_t TagCount() const { return TagCount_; }
  int32_t ScanTime() const { return ScanTime_; }
  bool FirstInstance() const { return FirstInstance_; }
  const std::string& DevMsg() const { return DevMsg_; }
  bool EnLog() const { return Log_.EnLog(); }
  // The line is open for exchanges (ENCOMMLINK).
  bool CommEnabled() const { return CommEnabled_; }

  // Virtual operations, in the order of the engine's operation table.
  virtual bool IniParm(const TDevicePDB* block);
  virtual void Refresh();
  virtual void OptimizeCommParm();
  virtual int32_t GetInterval();
  virtual bool ValidTagValFrm(uint8_t first, uint8_t second);
  virtual int32_t GetChID(const std::string& name, const std::string& address, uint8_t dev_type);
  virtual int32_t GetBitID(const std::string& name, const std::string& address, uint8_t dev_type);
  virtual int32_t GetThirdSegID(const std::string& name, const std::string& address,
                                uint8_t dev_type);
  virtual int32_t GetFourSegID(const std::string& name, const std::string& address,
                               uint8_t dev_type);
  virtual int32_t GetFiveSegID(const std::string& name, const std::string& address,
                               uint8_t dev_type);
  virtual std::unique_ptr<TDLLTag> CreatInternalTag(const TTagInfo& info);
  virtual void GetTagTypeStr(const std::string& name, const std::string& address, std::string& out);
  virtual void CheckAddrValid(std::unique_ptr<TDLLTag>& tag);
  virtual void SyncTagValue(TCommand& command);
  virtual CommandPtr CreatCommand(TDLLTag& tag, std::vector<CommandPtr>& list, bool is_write);
  virtual bool NeedCreatCommand(std::vector<CommandPtr>& list, TDLLTag& tag, bool is_write);
  virtual void GetAskStr(TCommand& command, TDLLTag& tag, std::string& out, bool is_write);
  virtual void GetAnswerMainStr(TCommand& command, TDLLTag& tag, std::string& out, bool is_write);
  virtual void RealComm(TCommand* command);
  virtual void FreeCommand(CommandPtr& command);
  virtual bool GetResult();
  virtual void GetRunEvent();
  virtual void SwitchRunStatus();
  virtual void UpdateLinkStatus();
  virtual void opSystemError_Exec();
  virtual void opInit_Exec();
  virtual void opInitACK_Exec();
  virtual void opInitNAK_Exec();
  virtual void opClrInitError_Exec();
  virtual void opStop_Exec();
  virtual void opStopACK_Exec();
  virtual void opStopNAK_Exec();
  virtual void opClrStopError_Exec();
  virtual void opLink_Exec();
  virtual void opLinkACK_Exec();
  virtual void opLinkNAK_Exec();
  virtual void opClrLinkError_Exec();
  virtual void opUnLink_Exec();
  virtual void opUnLinkACK_Exec();
  virtual void opUnLinkNAK_Exec();
  virtual void opClrUnLinkError_Exec();
  virtual void opReadCmd_Exec();
  virtual void opReadACK_Exec();
  virtual void opReadNAK_Exec();
  virtual void opClrReadError_Exec();
  virtual void opWriteCmd_Exec();
  virtual void opWriteACK_Exec();
  virtual void opWriteNAK_Exec();
  virtual void opClrWriteError_Exec();
  virtual void opParmCmd_Exec();
  virtual void opParmACK_Exec();
  virtual void opParmNAK_Exec();
  virtual void opClrParmError_Exec();
  virtual void opRailCmd_Exec();
  virtual void opRailACK_Exec();
  virtual void opRailNAK_Exec();
  virtual void opClrRailError_Exec();
  virtual void opResvLink1_Exec();
  virtual void opResvLink1ACK_Exec();
  virtual void opResvLink1NAK_Exec();
  virtual void opClrResvLink1Error_Exec();
  virtual void opResvLink2_Exec();
  virtual void opResvLink2ACK_Exec();
  virtual void opResvLink2NAK_Exec();
  virtual void opClrResvLink2Error_Exec();
  virtual void opResvLink3_Exec();
  virtual void opResvLink3ACK_Exec();
  virtual void opResvLink3NAK_Exec();
  virtual void opClrResvLink3Error_Exec();
  virtual void opClrSystemError_Exec();
  virtual void GetNextCommand();
  virtual void GetCommandNext();
  virtual void MaintainLogFiles();
  virtual void WriteCommEvent(const std::string& text);
  virtual void WriteDevMsg(const std::string& text);
  virtual void SetLogMsg(const std::string& text);
  virtual void SetEnLog(bool value);
  virtual void SetCommLink(bool value) { LastCommOK_ = value; }
  virtual void SetCommEnabled(bool value) { CommEnabled_ = value; }
  virtual bool IniDLLObj(const TDevicePDB* block, const std::vector<const TTagInfo*>& tags);
  virtual bool WriteExecute(uint32_t tag_id, const TagValue& value);
  virtual bool ReadExecute();
  virtual bool ReadExecuteEx();
  virtual void Stop();
  virtual bool CheckTagAddr(const TDevicePDB& block, std::string& address);
  virtual bool AddTagLists(const std::vector<const TTagInfo*>& tags,
                           std::vector<int32_t>& rejected);

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
  void SetFailEvent(uint32_t handle) { FailEvent_ = handle; }

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
  // One run step, taken by the line thread instead of the host's poll.
  LineStepOutcome StepForLine();
  // Notes the tags changed outside a step (the host's switches).
  void NoteChangedTags();
  // Positions of the tags changed since the last call, in tag-list order;
  // valid until the next call.
  const std::vector<int32_t>& TakeChangedTags();

 protected:
  // The tag types of the device layer; the engine itself knows none.
  virtual TagTypeTable TagTypes() const { return {}; }
  // Class name written in the exception lines of the operations.
  virtual const char* ClassName() const { return "TBaseDLLObject"; }

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

  // Runs an operation that must not let an exception escape: on one, the
  // line "D：<cls>.<op>异常！" is logged under the error switch and
  // `failure` is returned.
  template <class F, class R = std::invoke_result_t<F>>
  R Guarded(std::string_view cls, std::string_view op, std::type_identity_t<R> failure, F&& body) {
    Sink sink(*this);
    return tk571::Guarded(sink, cls, op, std::move(failure), std::forward<F>(body));
  }
  template <class F>
  void Guarded(std::string_view cls, std::string_view op, F&& body) {
    Sink sink(*this);
    tk571::Guarded(sink, cls, op, std::forward<F>(body));
  }

  bool IniTagList(const std::vector<const TTagInfo*>& tags);
  int32_t GetTagTypeIndex(const std::string& name, const std::string& address);
  int32_t GetDevID(const std::string& name, const std::string& address);

  // Helpers of the tag and address operations.
  std::string TagPrefix(const std::string& name) const;
  const TagTypeRow* TypeRow(int32_t type_index) const;
  int32_t ChannelMinOf(uint8_t dev_type, int32_t type_index) const;
  int32_t ChannelMaxOf(uint8_t dev_type, int32_t type_index) const;
  std::string AfterTypeName(const std::string& name, const std::string& address);
  void HintMissing(const std::string& name, const std::string& address, const std::string& part,
                   int32_t fallback);
  void ReportIllegal(const std::string& name, const std::string& address, const std::string& joiner,
                     const std::string& part);
  int32_t SegmentAfterDots(const std::string& name, const std::string& address, uint8_t dev_type,
                           int dots, const std::string& part);
  void SetUpInternalTag(TDLLTag& tag, bool full_setup);

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
  // The current request left now: its reply is awaited from this moment.
  void MarkSent();
  // More than `limit_ms` have passed since the request left.
  bool ReplyOverdue(uint32_t limit_ms) const;

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

  // Writes the exception line of an operation under the error switch.
  void LogException(const char* op, const char* class_name = "TBaseDLLObject") noexcept;
  // Guard of the read and write handlers: an exception also ends the current
  // command's turn (FallBackToReady).
  template <class F>
  void GuardExchange(const char* op, F&& body) noexcept {
    try {
      body();
    } catch (...) {
      LogException(op);
      FallBackToReady();
    }
  }
  // Back to rsReady with no event and no current command; a write that was
  // running is given up with its failure quality rather than dropped.
  void FallBackToReady() noexcept;
  // One run step from inside a handler.
  void Step() { ReadExecute(); }
  // RunEvent := 0, RunState := state (unchanged for rsKeep), then one step.
  void ClearAndStep(uint8_t state);
  // Handlers that complete an exchange find no current command: the machine
  // parks in rsSysErrorLinked with opLink pending.
  void EnterMissingCommand();
  // Timeout bookkeeping shared by reads and writes: the severe-failure
  // message, the host's event and logging switched back on.
  void CheckSevereFailure();
  // Failure log entries of an exchange: `what` names the failure
  // ("通讯读超时错", "通讯写失败", ...).
  void LogExchangeFailure(const std::string& what, const TCommand& command);
  void LogReplyEntries(const TCommand& command);
  // Gives up the running write: failure quality on its first tag, counters,
  // release. Used by opClrWriteError_Exec and the exception fall-back.
  void GiveUpRunningWrite(TCommand& command);
  // Releases the chain that begins at `head`, wherever it is owned.
  void ReleaseChain(TCommand* head);
  // Releases every command list and clears the current command; for Stop.
  void ReleaseCommandLists();
  // A tag value as the log writes it, by the tag's data kind.
  static std::string ValueText(const TDLLTag& tag, const TagValue& value);
  // Header of a command listing: "D：<DevTypeName>类型=<type>，<DevIDName>=<n>[".
  void LogCommandHeader(int32_t dev_no);
  // One refused write: D + "：标签写入请求未执行：" + name + reason + address and value.
  void LogWriteRefused(const TDLLTag& tag, const std::string& reason, const TagValue& value);
  static constexpr uint8_t rsKeep = 0xFF;

 private:
  bool FirstInstance_;
  // Switches, trace allowance and EnLog of this object's run log.
  RunLog Log_;
  int32_t ScanTime_ = 500;
  int32_t TagCount_ = 0;
  bool ParmLoaded_ = false;
  std::string sErrEvent_;
  bool CommEnabled_ = true;
  bool LastCommOK_ = false;
  uint32_t StartTick_ = 0;
  uint32_t StopTick_ = 0;
  uint8_t RunState_ = rsIdle;
  uint8_t RunEvent_ = opNone;
  uint32_t WriteFailTotal_ = 0;
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
  // Requests sent so far: a step that sent one moved the exchange on.
  uint32_t Requests_ = 0;
  ChangedTags Changed_;
  std::string DevMsg_;
  bool HasEnLogTag_ = false;
  bool Initialized_ = false;
  bool Stopped_ = false;
  std::vector<CommandPtr> ReadCommands_;
  std::vector<std::unique_ptr<TDLLTag>> Tags_;
  TagIdIndex TagIndex_;
  TDevicePDB Pdb_;
  int32_t DefaultDevNo_ = 0;
  uint32_t FailEvent_ = 0;
  TCommand* CurrentCommand_ = nullptr;
  TCommand* CurrentHead_ = nullptr;
  std::deque<CommandPtr> WriteQueue_;
  // The write chain taken from the queue while it runs.
  CommandPtr RunningWrite_;
  // Set while the library unloads (ReleaseAtUnload).
  bool Unloading_ = false;
};

}  // namespace tk571
