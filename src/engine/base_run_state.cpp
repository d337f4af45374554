// Run-state machine of the engine: event choice, dispatch, the handlers of
// every run event and the link status.
#include <algorithm>
#include <array>
#include <cstdint>
#include <string>
#include <utility>

#include "engine/base_dll_object.h"
#include "engine/library_values.h"
#include "engine/link_texts.h"
#include "engine/part_names.h"
#include "engine/run_log.h"
#include "platform/clock.h"
#include "platform/gbk.h"
#include "platform/host_event.h"

namespace tk571 {

namespace {

using Handler = void (TBaseDLLObject::*)();

struct Transition {
  uint8_t state;
  uint8_t event;
  Handler handler;
};

using B = TBaseDLLObject;

// (state, event) → handler: the rows the driver enters. Every pair not
// listed does nothing and leaves the event pending. The codes of the states
// and events that no row names stay in run_state.h, as the log lines give
// them.
constexpr Transition kTransitions[] = {
    {rsIdle, opInit, &B::opInit_Exec},
    {rsIniting, opInitACK, &B::opInitACK_Exec},
    {rsIniting, opInitNAK, &B::opInitNAK_Exec},
    {rsReady, opReadCmd, &B::opReadCmd_Exec},
    {rsReady, opWriteCmd, &B::opWriteCmd_Exec},
    {rsReading, opReadACK, &B::opReadACK_Exec},
    {rsReading, opReadNAK, &B::opReadNAK_Exec},
    {rsReading, opClrReadError, &B::opClrReadError_Exec},
    {rsWriting, opWriteACK, &B::opWriteACK_Exec},
    {rsWriting, opWriteNAK, &B::opWriteNAK_Exec},
    {rsWriting, opClrWriteError, &B::opClrWriteError_Exec},
};

// The engine's own handlers of selection only clear the event, enter the
// state of this column and run one step; kKeep leaves the state as it is.
// The device layer replaces them with its device selection.
struct SimpleHandler {
  uint8_t event;
  uint8_t next;
  const char* name;
};

constexpr uint8_t kKeep = 0xFF;

constexpr SimpleHandler kSimpleHandlers[] = {
    {opInit, rsReady, "opInit_Exec"},
    {opInitACK, rsReady, "opInitACK_Exec"},
    {opInitNAK, kKeep, "opInitNAK_Exec"},
};

using DispatchTable = std::array<std::array<Handler, kRunEventCount>, kRunStateCount>;

constexpr DispatchTable BuildDispatchTable() {
  DispatchTable table{};
  for (const Transition& t : kTransitions) table[t.state][t.event] = t.handler;
  return table;
}

constexpr DispatchTable kDispatch = BuildDispatchTable();

const SimpleHandler* SimpleHandlerOf(uint8_t event) {
  for (const SimpleHandler& h : kSimpleHandlers)
    if (h.event == event) return &h;
  return nullptr;
}

Handler HandlerOf(uint8_t state, uint8_t event) {
  if (state >= kRunStateCount || event >= kRunEventCount) return nullptr;
  return kDispatch[state][event];
}

bool EndsExchange(uint8_t event) {
  return event == opReadACK || event == opReadNAK || event == opWriteACK || event == opWriteNAK;
}

}  // namespace

// --- Helpers shared by the handlers.

void TBaseDLLObject::ClearAndStep(uint8_t state) {
  RunEvent_ = opNone;
  RunState_ = state;
  Step();
}

void TBaseDLLObject::RunSimpleHandler(uint8_t event) {
  const SimpleHandler* handler = SimpleHandlerOf(event);
  Guarded(this, handler->name,
          [&] { ClearAndStep(handler->next == kKeep ? RunState_ : handler->next); });
}

void TBaseDLLObject::EnterMissingCommand() {
  // Without a command there is no exchange to finish: the next one is chosen.
  RunState_ = rsReady;
  RunEvent_ = opNone;
}

void TBaseDLLObject::CheckSevereFailure() {
  if (!(ReadTimeoutCount_ > kSevereTimeoutCount)) return;
  WriteCommEvent(TK571_GBK("严重故障：连续通讯失败，请检查线路和设备"));
  if (const uint32_t event = Mailbox_.FailEvent(); event != 0) platform::SignalHostEvent(event);
  if (static_cast<int64_t>(ReadTimeoutCount_) % kEnLogTimeoutPeriod == kEnLogTimeoutCount)
    Log_.AssignEnLog(true);
}

void TBaseDLLObject::LogReplyEntries(const TCommand& command) {
  if (command.Response.empty()) {
    SetLogMsg(DateTimeText() + TK571_GBK("：没有接收到应答信息！") + kCrLf);
    return;
  }
  SetLogMsg(DateTimeText() + TK571_GBK("：接收到应答信息= ") + command.Response + kCrLf);
  SetLogMsg(DateTimeText() + TK571_GBK("：应答信息没有通过校验检查。") + kCrLf);
}

void TBaseDLLObject::LogExchangeFailure(const std::string& what, const TCommand& command) {
  SetLogMsg(kCrLf);
  SetLogMsg(kCrLf + DateTimeText() + TK571_GBK("：") + what + TK571_GBK("，执行操作=") +
            command.Request + kCrLf);
  SetLogMsg(kCrLf + DateTimeText() + TK571_GBK("：") + what + TK571_GBK("，期待应答=") +
            command.Answer + kCrLf);
  LogReplyEntries(command);
}

void TBaseDLLObject::GiveUpRunningWrite(TCommand& command, bool line_failure) {
  if (command.HasFlag(command_flags::kTagBound) && !command.Indexes.empty())
    if (TDLLTag* first = TagAt(command.Indexes.front())) {
      first->Quality = kQualityWriteFailed;
      first->FailureUnreported = true;
    }
  for (int32_t index : command.Indexes) {
    if (TDLLTag* tag = TagAt(index)) {
      ++tag->WriteCount;
      ++tag->WriteFailCount;
    }
  }
  if (line_failure && LogErrorsOn()) LogExchangeFailure(TK571_GBK("通讯写失败"), command);
}

void TBaseDLLObject::FallBackToReady() {
  RunEvent_ = opNone;
  RunState_ = rsReady;
  if (RunningWrite_) {
    Guarded(this, "opClrWriteError_Exec", [&] {
      ++WriteFailTotal_;
      TCommand* write =
          (CurrentCommand_ && CurrentCommand_->IsWrite) ? CurrentCommand_ : RunningWrite_.get();
      GiveUpRunningWrite(*write, true);
    });
    RunningWrite_.reset();
  }
  CurrentCommand_ = nullptr;
  CurrentHead_ = nullptr;
}

// --- Event choice and dispatch.

bool TBaseDLLObject::ExchangeEnded() const {
  return EndsExchange(RunEvent_);
}

bool TBaseDLLObject::GetResult() {
  return false;
}

void TBaseDLLObject::GetRunEvent() {
  Guarded(this, "GetRunEvent", [&] {
    if (RunEvent_ != opNone) return;
    if (!CommEnabled_) return;
    RunEvent_ = ChooseRunEvent();
    if (ExchangeEnded()) UpdateLinkStatus();
  });
}

uint8_t TBaseDLLObject::ChooseRunEvent() {
  const auto exchange_event = [&](uint8_t ack, uint8_t nak) -> uint8_t {
    if (GetResult()) return ack;
    if (ReplyRejected_) return nak;
    if (!WaitedOut()) return opNone;
    AnswerOverdue_ = true;
    return nak;
  };
  switch (RunState_) {
    case rsReady:
      GetNextCommand();
      if (!CurrentCommand_) return opNone;
      return CurrentCommand_->IsWrite ? opWriteCmd : opReadCmd;
    case rsReading:
      return exchange_event(opReadACK, opReadNAK);
    case rsWriting:
      return exchange_event(opWriteACK, opWriteNAK);
    default:
      return opNone;
  }
}

void TBaseDLLObject::SwitchRunStatus() {
  Guarded(this, "SwitchRunStatus", [&] {
    if (const Handler handler = HandlerOf(RunState_, RunEvent_)) (this->*handler)();
  });
}

void TBaseDLLObject::UpdateLinkStatus() {
  // The exception line of this operation has always named SwitchRunStatus.
  Guarded(this, "SwitchRunStatus", [&] {
    if (!CurrentCommand_) return;
    const int32_t d = CurrentCommand_->DevNo;
    const bool known = d >= 0 && d < kDeviceCount;
    const std::size_t di = known ? static_cast<std::size_t>(d) : 0;

    LastCommOK_ = RunEvent_ == opReadACK || RunEvent_ == opWriteACK;
    if (LastCommOK_ && CommEnabled_) {
      LinkStatus_ = lsNormal;
      if (known) DevFailCount_[di] = 0;
    } else if (ExchangeInterfered_ && CommEnabled_) {
      // The device may well answer: however long the line is disturbed, it
      // shows interference, never a broken link.
      if (known && DevFailCount_[di] != kNeverAnswered)
        DevFailCount_[di] = std::min(DevFailCount_[di] + 1, kInterferenceFails);
      if (LinkStatus_ != lsNeverAnswered) LinkStatus_ = lsInterference;
    } else {
      // Saturates one below "never answered" so that a device that once
      // answered never reads as one that did not.
      if (known && DevFailCount_[di] < kNeverAnswered - 1) ++DevFailCount_[di];
      if (!CommEnabled_)
        LinkStatus_ = lsPaused;
      else if (LinkStatus_ != lsNeverAnswered)
        LinkStatus_ = lsFault;
    }

    if (known) {
      const uint32_t fails = DevFailCount_[di];
      uint8_t status = lsPaused;
      if (DevInUse_[di] && CommEnabled_) {
        if (fails == kNeverAnswered)
          status = lsNeverAnswered;
        else if (fails == 0)
          status = lsNormal;
        else if (fails <= kInterferenceFails)
          status = lsInterference;
        else if (fails <= 8)
          status = lsFault;
        else
          status = lsBroken;
      }
      DevLinkStatus_[di] = status;
    }

    // The first outcome is reported even when the status stays "never
    // answered": a host must see that a device is silent, not nothing.
    const bool first_of_line = !std::exchange(LinkShown_, true);
    const bool first_of_device = known && !std::exchange(DevLinkShown_[di], true);
    for (const LinkTagEntry& link : LinkTags_) {
      TDLLTag* tag = TagAt(link.position);
      if (!tag) continue;
      // A device's tag shows that device's status, as its text does.
      if (link.kind == LinkTagKind::kDevice && !(known && tag->DevNo == d)) continue;
      tag->Value = LinkTagValue(link.kind, tag->DataKind, tag->DevNo);
      const bool first = link.kind == LinkTagKind::kDevice ? first_of_device
                         : link.kind == LinkTagKind::kComm ? first_of_line
                                                           : false;
      if (first) tag->ReportedValue = TagValue();
    }
  });
}

std::optional<LinkTagKind> TBaseDLLObject::LinkTagKindOf(const TDLLTag& tag) {
  if (!tag.Internal) return std::nullopt;
  // The internal address as set up; COMMLINK and ENCOMMLINK count only
  // without a suffix.
  const std::string& address = tag.TypeName;
  if (address == "COMMLINK") return LinkTagKind::kComm;
  if (address == "ENCOMMLINK") return LinkTagKind::kEnComm;
  if (address.starts_with("DEVICELINK")) return LinkTagKind::kDevice;
  return std::nullopt;
}

TagValue TBaseDLLObject::LinkTagValue(LinkTagKind kind, uint8_t data_kind, int32_t device) const {
  const auto linked = [](uint8_t code) {
    return code == lsNormal || code == lsInterference || code == lsFault;
  };
  switch (kind) {
    case LinkTagKind::kComm:
      if (data_kind == 0) return TagValue::Integer(LinkStatus_);
      if (data_kind == 1) return TagValue::Boolean(linked(LinkStatus_));
      return TagValue::Text(DriverPartNames().DeviceName +
                            tk571::LinkStatusText(LinkStatus_, CommEnabled_));
    case LinkTagKind::kEnComm:
      if (data_kind == 0) return TagValue::Integer(CommEnabled_ ? 1 : 0);
      if (data_kind == 1) return TagValue::Boolean(CommEnabled_);
      return TagValue::Text(CommEnabledText(CommEnabled_));
    case LinkTagKind::kDevice:
      break;
  }
  const uint8_t status = DevLinkStatus_[static_cast<std::size_t>(device)];
  if (data_kind == 0) return TagValue::Integer(status);
  if (data_kind == 1) return TagValue::Boolean(linked(status));
  return TagValue::Text(std::to_string(device) + TK571_GBK("号") + DriverPartNames().DevTypeName +
                        Pdb_.TypeName(device) + tk571::LinkStatusText(status, CommEnabled_));
}

// --- The engine's selection handlers: the device layer selects.

void TBaseDLLObject::opInit_Exec() {
  RunSimpleHandler(opInit);
}
void TBaseDLLObject::opInitACK_Exec() {
  RunSimpleHandler(opInitACK);
}
void TBaseDLLObject::opInitNAK_Exec() {
  RunSimpleHandler(opInitNAK);
}

// --- Read and write exchanges.

void TBaseDLLObject::opReadCmd_Exec() {
  GuardExchange("opReadCmd_Exec", [&] {
    if (CurrentCommand_) RealComm(CurrentCommand_);
    RunEvent_ = opNone;
    RunState_ = rsReading;
  });
}

void TBaseDLLObject::opReadACK_Exec() {
  GuardExchange("opReadACK_Exec", [&] {
    if (!CurrentCommand_) return EnterMissingCommand();
    TCommand& command = *CurrentCommand_;
    command.FailCount = 0;
    command.Quality += (1.0f - command.Quality) / 2.0f;
    if (command.HasFlag(command_flags::kTagBound)) {
      for (int32_t index : command.Indexes) {
        if (TDLLTag* tag = TagAt(index)) {
          ++tag->ReadCount;
          tag->Quality = kQualityGood;
        }
      }
    }
    ++ReadCommCount_;
    LinkStatus_ = lsNormal;
    LastCommOK_ = true;
    if (LogTraceOn()) {
      SetLogMsg(DateTimeText() + TK571_GBK("：发送读标签命令= ") + command.Request + kCrLf);
      SetLogMsg(DateTimeText() + TK571_GBK("：接收到应答信息= ") + command.Response + kCrLf);
      SetLogMsg(DateTimeText() + TK571_GBK("：应答信息通过校验检查。") + kCrLf);
    }
    GetCommandNext();
    RunEvent_ = opNone;
    if (CurrentCommand_) {
      opReadCmd_Exec();
    } else {
      RunState_ = rsReady;
      Step();
    }
  });
}

namespace {

void AddFailures(TCommand& command, int32_t count) {
  command.FailCount = command.FailCount > INT32_MAX - count ? INT32_MAX : command.FailCount + count;
}

}  // namespace

void TBaseDLLObject::opReadNAK_Exec() {
  GuardExchange("opReadNAK_Exec", [&] {
    if (!CurrentCommand_) return EnterMissingCommand();
    TCommand& command = *CurrentCommand_;
    ++ReadCommCount_;
    LastCommOK_ = false;
    ReadTimeoutCount_ += 1;
    WriteCommEvent(TK571_GBK("通讯超时错，期待设备应答"));
    AddFailures(command, 1);
    CheckSevereFailure();
    if (LogErrorsOn()) LogExchangeFailure(TK571_GBK("通讯读超时错"), command);
    AddFailures(command, 1);
    switch (command.RetryMode) {
      case retry_mode::kSendAgain:
        command.RetryMode = retry_mode::kGiveUp;
        RunState_ = rsReady;
        RunEvent_ = opReadCmd;
        break;
      case retry_mode::kNextInChain:
        GetCommandNext();
        RunEvent_ = opNone;
        if (CurrentCommand_) {
          opReadCmd_Exec();
        } else {
          RunState_ = rsReady;
          Step();
        }
        break;
      default:
        RunEvent_ = opClrReadError;
        break;
    }
    Step();
  });
}

void TBaseDLLObject::opClrReadError_Exec() {
  GuardExchange("opClrReadError_Exec", [&] {
    ++ReadFailTotal_;
    if (!CurrentCommand_) return EnterMissingCommand();
    TCommand& command = *CurrentCommand_;
    for (int32_t index : command.Indexes) {
      if (TDLLTag* tag = TagAt(index)) {
        ++tag->ReadCount;
        ++tag->ReadFailCount;
      }
    }
    command.Quality = std::max(command.Quality / 2.0f, 0.01f);
    if (LogErrorsOn()) LogExchangeFailure(TK571_GBK("通讯读失败"), command);
    // The read stays in the read list and comes back by its interval and
    // back-off; its turn ends here so that other commands get theirs.
    CurrentCommand_ = nullptr;
    CurrentHead_ = nullptr;
    ClearAndStep(rsReady);
  });
}

void TBaseDLLObject::opWriteCmd_Exec() {
  GuardExchange("opWriteCmd_Exec", [&] {
    if (CurrentCommand_) {
      RealComm(CurrentCommand_);
      SpendWriteRepeat();
    }
    RunEvent_ = opNone;
    RunState_ = rsWriting;
    if (LogTraceOn())
      SetLogMsg(DateTimeText() + TK571_GBK("：发送写标签命令= ") +
                (CurrentCommand_ ? CurrentCommand_->Request : std::string()) + kCrLf);
  });
}

void TBaseDLLObject::opWriteACK_Exec() {
  GuardExchange("opWriteACK_Exec", [&] {
    if (!CurrentCommand_) return EnterMissingCommand();
    TCommand& command = *CurrentCommand_;
    if (command.HasFlag(command_flags::kTagBound)) {
      for (std::size_t i = 0; i < command.Indexes.size(); ++i) {
        TDLLTag* tag = TagAt(command.Indexes[i]);
        if (!tag) continue;
        ++tag->WriteCount;
        tag->Quality = kQualityGood;
        if (i < command.Values.size()) tag->Value = command.Values[i];
      }
    }
    ++WriteCommCount_;
    LinkStatus_ = lsNormal;
    WriteRepeatBudget.store(Pdb_.WriteRetries(), std::memory_order_relaxed);
    LastCommOK_ = true;
    if (LogTraceOn()) {
      SetLogMsg(DateTimeText() + TK571_GBK("：接收到应答信息= ") + command.Response + kCrLf);
      SetLogMsg(DateTimeText() + TK571_GBK("：应答信息通过校验检查。") + kCrLf);
    }
    GetCommandNext();
    RunEvent_ = opNone;
    if (CurrentCommand_) {
      opWriteCmd_Exec();
    } else {
      RunState_ = rsReady;
      Step();
    }
  });
}

void TBaseDLLObject::opWriteNAK_Exec() {
  GuardExchange("opWriteNAK_Exec", [&] {
    if (!CurrentCommand_) return EnterMissingCommand();
    TCommand& command = *CurrentCommand_;
    ++WriteCommCount_;
    LastCommOK_ = false;
    WriteTimeoutCount_ += 1;
    WriteCommEvent(TK571_GBK("通讯超时错，期待设备应答"));
    CheckSevereFailure();
    if (LogErrorsOn()) LogExchangeFailure(TK571_GBK("通讯写超时错"), command);
    switch (command.RetryMode) {
      case retry_mode::kSendAgain:
        if (WriteRepeatBudget.load(std::memory_order_relaxed) <= 0) {
          command.RetryMode = retry_mode::kGiveUp;
          WriteRepeatBudget.store(Pdb_.WriteRetries(), std::memory_order_relaxed);
        }
        RunState_ = rsReady;
        RunEvent_ = opWriteCmd;
        break;
      case retry_mode::kNextInChain:
        GetCommandNext();
        RunEvent_ = opNone;
        if (CurrentCommand_) {
          opWriteCmd_Exec();
        } else {
          RunState_ = rsReady;
          Step();
        }
        break;
      default:
        RunEvent_ = opClrWriteError;
        break;
    }
    Step();
  });
}

void TBaseDLLObject::opClrWriteError_Exec() {
  EndCurrentWrite("opClrWriteError_Exec", true);
}

void TBaseDLLObject::RefuseCurrentWrite() {
  EndCurrentWrite("RefuseCurrentWrite", false);
}

void TBaseDLLObject::EndCurrentWrite(const char* operation, bool line_failure) {
  GuardExchange(operation, [&] {
    RunEvent_ = opNone;
    ++WriteFailTotal_;
    if (!CurrentCommand_) return EnterMissingCommand();
    GiveUpRunningWrite(*CurrentCommand_, line_failure);
    ReleaseChain(CurrentHead_ ? CurrentHead_ : CurrentCommand_);
    CurrentCommand_ = nullptr;
    CurrentHead_ = nullptr;
    RunState_ = rsReady;
    Step();
  });
}

}  // namespace tk571
