// Run-state machine of the engine: event choice, dispatch, the handlers of
// every run event and the link status.
#include <algorithm>
#include <array>
#include <cstdint>
#include <string>

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

// Matches every event, including none: the system-error states replay or
// clear whatever is pending.
constexpr uint8_t kAnyEvent = 0xFF;

struct Transition {
  uint8_t state;
  uint8_t event;
  Handler handler;
};

using B = TBaseDLLObject;

// (state, event) → handler. Every pair not listed does nothing and leaves the
// event pending.
constexpr Transition kTransitions[] = {
    {rsIdle, opInit, &B::opInit_Exec},

    {rsUnlinked, opInit, &B::opStop_Exec},
    {rsUnlinked, opLink, &B::opLink_Exec},
    {rsUnlinked, opUnLink, &B::opUnLink_Exec},
    {rsUnlinked, opStop, &B::opStop_Exec},

    {rsSysErrorLinked, kAnyEvent, &B::opClrSystemError_Exec},
    {rsSysErrorUnlinked, kAnyEvent, &B::opClrSystemError_Exec},

    {rsReady, opInit, &B::opUnLink_Exec},
    {rsReady, opUnLink, &B::opUnLink_Exec},
    {rsReady, opStop, &B::opUnLink_Exec},
    {rsReady, opLink, &B::opLink_Exec},
    {rsReady, opReadCmd, &B::opReadCmd_Exec},
    {rsReady, opWriteCmd, &B::opWriteCmd_Exec},
    {rsReady, opParmCmd, &B::opParmCmd_Exec},
    {rsReady, opRailCmd, &B::opRailCmd_Exec},

    {rsStopping, opStopACK, &B::opStopACK_Exec},
    {rsStopping, opStopNAK, &B::opStopNAK_Exec},
    {rsStopping, opClrStopError, &B::opClrStopError_Exec},

    {rsIniting, opInitACK, &B::opInitACK_Exec},
    {rsIniting, opInitNAK, &B::opInitNAK_Exec},
    {rsIniting, opClrInitError, &B::opClrInitError_Exec},

    {rsLinking, opLinkACK, &B::opLinkACK_Exec},
    {rsLinking, opLinkNAK, &B::opLinkNAK_Exec},
    {rsLinking, opClrLinkError, &B::opClrLinkError_Exec},

    {rsUnlinking, opUnLinkACK, &B::opUnLinkACK_Exec},
    {rsUnlinking, opUnLinkNAK, &B::opUnLinkNAK_Exec},
    {rsUnlinking, opClrUnLinkError, &B::opClrUnLinkError_Exec},

    {rsReading, opReadACK, &B::opReadACK_Exec},
    {rsReading, opReadNAK, &B::opReadNAK_Exec},
    {rsReading, opClrReadError, &B::opClrReadError_Exec},

    {rsWriting, opWriteACK, &B::opWriteACK_Exec},
    {rsWriting, opWriteNAK, &B::opWriteNAK_Exec},
    {rsWriting, opClrWriteError, &B::opClrWriteError_Exec},

    {rsParm, opParmACK, &B::opParmACK_Exec},
    {rsParm, opParmNAK, &B::opParmNAK_Exec},
    {rsParm, opClrParmError, &B::opClrParmError_Exec},

    {rsRail, opRailACK, &B::opRailACK_Exec},
    {rsRail, opRailNAK, &B::opRailNAK_Exec},
    {rsRail, opClrRailError, &B::opClrRailError_Exec},

    {rsResvLink1, opResvLink1ACK, &B::opResvLink1ACK_Exec},
    {rsResvLink1, opResvLink1NAK, &B::opResvLink1NAK_Exec},
    {rsResvLink1, opClrResvLink1Error, &B::opClrResvLink1Error_Exec},

    {rsResvLink2, opResvLink2ACK, &B::opResvLink2ACK_Exec},
    {rsResvLink2, opResvLink2NAK, &B::opResvLink2NAK_Exec},
    {rsResvLink2, opClrResvLink2Error, &B::opClrResvLink2Error_Exec},

    {rsResvLink3, opResvLink3ACK, &B::opResvLink3ACK_Exec},
    {rsResvLink3, opResvLink3NAK, &B::opResvLink3NAK_Exec},
    {rsResvLink3, opClrResvLink3Error, &B::opClrResvLink3Error_Exec},
};

struct DispatchTable {
  std::array<std::array<Handler, kRunEventCount>, kRunStateCount> exact{};
  // For event codes beyond the last event (a device layer's mistake).
  std::array<Handler, kRunStateCount> any{};
};

constexpr DispatchTable BuildDispatchTable() {
  DispatchTable table{};
  for (const Transition& t : kTransitions) {
    if (t.event == kAnyEvent) {
      for (Handler& h : table.exact[t.state]) h = t.handler;
      table.any[t.state] = t.handler;
    } else {
      table.exact[t.state][t.event] = t.handler;
    }
  }
  return table;
}

constexpr DispatchTable kDispatch = BuildDispatchTable();

Handler HandlerOf(uint8_t state, uint8_t event) {
  if (state >= kRunStateCount) return nullptr;
  return event < kRunEventCount ? kDispatch.exact[state][event] : kDispatch.any[state];
}

bool EndsExchange(uint8_t event) {
  return event == opReadACK || event == opReadNAK || event == opWriteACK || event == opWriteNAK;
}

}  // namespace

// --- Helpers shared by the handlers.

void TBaseDLLObject::LogException(const char* op, const char* class_name) noexcept {
  try {
    Sink sink(*this);
    WriteExceptionLine(sink, class_name, op);
  } catch (...) {
    // The exception line is the last resort; losing it must not end the step.
  }
}

void TBaseDLLObject::ClearAndStep(uint8_t state) {
  RunEvent_ = opNone;
  if (state != rsKeep) RunState_ = state;
  Step();
}

void TBaseDLLObject::EnterMissingCommand() {
  RunState_ = rsSysErrorLinked;
  RunEvent_ = opLink;
}

void TBaseDLLObject::CheckSevereFailure() {
  if (!(ReadTimeoutCount_ > kSevereTimeoutCount)) return;
  WriteCommEvent(TK571_GBK("严重故障：连续通讯失败，请检查线路和设备"));
  if (FailEvent_ != 0) platform::SignalHostEvent(FailEvent_);
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

void TBaseDLLObject::GiveUpRunningWrite(TCommand& command) {
  if (command.HasFlag(command_flags::kTagBound) && !command.Indexes.empty())
    if (TDLLTag* first = TagAt(command.Indexes.front())) first->Quality = kQualityWriteFailed;
  for (int32_t index : command.Indexes) {
    if (TDLLTag* tag = TagAt(index)) {
      ++tag->WriteCount;
      ++tag->WriteFailCount;
    }
  }
  if (LogErrorsOn()) LogExchangeFailure(TK571_GBK("通讯写失败"), command);
}

void TBaseDLLObject::FallBackToReady() noexcept {
  RunEvent_ = opNone;
  RunState_ = rsReady;
  if (RunningWrite_) {
    try {
      ++WriteFailTotal_;
      TCommand* write =
          (CurrentCommand_ && CurrentCommand_->IsWrite) ? CurrentCommand_ : RunningWrite_.get();
      GiveUpRunningWrite(*write);
    } catch (...) {
      LogException("opClrWriteError_Exec");
    }
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
  Guarded("TBaseDLLObject", "GetRunEvent", [&] {
    if (RunEvent_ != opNone) return;
    if (!CommEnabled_) return;
    const auto exchange_event = [&](uint8_t ack, uint8_t nak) -> uint8_t {
      if (GetResult()) return ack;
      return ReplyOverdue(ReplyTimeout) ? nak : uint8_t{opNone};
    };
    switch (RunState_) {
      case rsReady:
        GetNextCommand();
        if (!CurrentCommand_) break;
        if (!CurrentCommand_->IsWrite)
          RunEvent_ = opReadCmd;
        else if (CurrentCommand_->Request.find("ATH0") != std::string::npos)
          RunEvent_ = opRailCmd;
        else
          RunEvent_ = opWriteCmd;
        break;
      case rsReading:
        RunEvent_ = exchange_event(opReadACK, opReadNAK);
        break;
      case rsWriting:
        RunEvent_ = exchange_event(opWriteACK, opWriteNAK);
        break;
      default:
        break;
    }
    if (ExchangeEnded()) UpdateLinkStatus();
  });
}

void TBaseDLLObject::SwitchRunStatus() {
  Guarded("TBaseDLLObject", "SwitchRunStatus", [&] {
    if (const Handler handler = HandlerOf(RunState_, RunEvent_)) (this->*handler)();
  });
}

void TBaseDLLObject::UpdateLinkStatus() {
  // The exception line of this operation has always named SwitchRunStatus.
  Guarded("TBaseDLLObject", "SwitchRunStatus", [&] {
    if (!CurrentCommand_) return;
    const int32_t d = CurrentCommand_->DevNo;
    const bool known = d >= 0 && d < kDeviceCount;
    const std::size_t di = known ? static_cast<std::size_t>(d) : 0;

    LastCommOK_ = RunEvent_ == opReadACK || RunEvent_ == opWriteACK;
    if (LastCommOK_ && CommEnabled_) {
      LinkStatus_ = lsNormal;
      if (known) DevFailCount_[di] = 0;
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
        else if (fails <= 3)
          status = lsInterference;
        else if (fails <= 8)
          status = lsFault;
        else
          status = lsBroken;
      }
      DevLinkStatus_[di] = status;
    }

    const auto linked = [](uint8_t code) {
      return code == lsNormal || code == lsInterference || code == lsFault;
    };
    for (const auto& tag : Tags_) {
      if (!tag || !tag->Internal) continue;
      const std::string& address = tag->TypeName;
      if (address == "COMMLINK") {
        switch (tag->DataKind) {
          case TK571_VALUE_FLOAT:
            tag->Value = TagValue::Integer(LinkStatus_);
            break;
          case TK571_VALUE_BOOL:
            tag->Value = TagValue::Boolean(linked(LinkStatus_));
            break;
          default:
            tag->Value = TagValue::Text(DriverPartNames().DeviceName +
                                        tk571::LinkStatusText(LinkStatus_, CommEnabled_));
            break;
        }
      } else if (address == "ENCOMMLINK") {
        switch (tag->DataKind) {
          case TK571_VALUE_FLOAT:
            tag->Value = TagValue::Integer(CommEnabled_ ? 1 : 0);
            break;
          case TK571_VALUE_BOOL:
            tag->Value = TagValue::Boolean(CommEnabled_);
            break;
          default:
            tag->Value = TagValue::Text(CommEnabled_ ? TK571_GBK("打开通信线路")
                                                     : TK571_GBK("关闭通信线路"));
            break;
        }
      } else if (known && address.starts_with("DEVICELINK") && tag->DevNo == d) {
        // A device's tag shows that device's status, as its text does.
        const uint8_t status = DevLinkStatus_[di];
        switch (tag->DataKind) {
          case TK571_VALUE_FLOAT:
            tag->Value = TagValue::Integer(status);
            break;
          case TK571_VALUE_BOOL:
            tag->Value = TagValue::Boolean(linked(status));
            break;
          default:
            tag->Value =
                TagValue::Text(std::to_string(d) + TK571_GBK("号") + DriverPartNames().DevTypeName +
                               Pdb_.TypeName(d) + tk571::LinkStatusText(status, CommEnabled_));
            break;
        }
      }
    }
  });
}

// --- Hook handlers: the base only enters or leaves their waiting states.

void TBaseDLLObject::opSystemError_Exec() {
  Guarded("TBaseDLLObject", "opSystemError_Exec", [&] { RunEvent_ = opNone; });
}
void TBaseDLLObject::opInit_Exec() {
  Guarded("TBaseDLLObject", "opInit_Exec", [&] { ClearAndStep(rsReady); });
}
void TBaseDLLObject::opInitACK_Exec() {
  Guarded("TBaseDLLObject", "opInitACK_Exec", [&] { ClearAndStep(rsReady); });
}
void TBaseDLLObject::opInitNAK_Exec() {
  Guarded("TBaseDLLObject", "opInitNAK_Exec", [&] { ClearAndStep(rsKeep); });
}
void TBaseDLLObject::opClrInitError_Exec() {
  Guarded("TBaseDLLObject", "opClrInitError_Exec", [&] { ClearAndStep(rsIdle); });
}
void TBaseDLLObject::opStop_Exec() {
  Guarded("TBaseDLLObject", "opStop_Exec", [&] {
    RunEvent_ = opNone;
    RunState_ = rsStopping;
    Stop();
  });
}
void TBaseDLLObject::opStopACK_Exec() {
  Guarded("TBaseDLLObject", "opStopACK_Exec", [&] {
    RunEvent_ = opNone;
    RunState_ = rsIdle;
    SetCommEnabled(false);
    Step();
  });
}
void TBaseDLLObject::opStopNAK_Exec() {
  Guarded("TBaseDLLObject", "opStopNAK_Exec", [&] { ClearAndStep(rsKeep); });
}
void TBaseDLLObject::opClrStopError_Exec() {
  Guarded("TBaseDLLObject", "opClrStopError_Exec", [&] { ClearAndStep(rsUnlinked); });
}
void TBaseDLLObject::opLink_Exec() {
  Guarded("TBaseDLLObject", "opLink_Exec", [&] { ClearAndStep(rsLinking); });
}
void TBaseDLLObject::opLinkACK_Exec() {
  Guarded("TBaseDLLObject", "opLinkACK_Exec", [&] { ClearAndStep(rsReady); });
}
void TBaseDLLObject::opLinkNAK_Exec() {
  Guarded("TBaseDLLObject", "opLinkNAK_Exec", [&] { ClearAndStep(rsKeep); });
}
void TBaseDLLObject::opClrLinkError_Exec() {
  Guarded("TBaseDLLObject", "opClrLinkError_Exec", [&] { ClearAndStep(rsUnlinked); });
}
void TBaseDLLObject::opUnLink_Exec() {
  Guarded("TBaseDLLObject", "opUnLink_Exec", [&] { ClearAndStep(rsUnlinking); });
}
void TBaseDLLObject::opUnLinkACK_Exec() {
  Guarded("TBaseDLLObject", "opUnLinkACK_Exec", [&] { ClearAndStep(rsUnlinked); });
}
void TBaseDLLObject::opUnLinkNAK_Exec() {
  Guarded("TBaseDLLObject", "opUnLinkNAK_Exec", [&] { ClearAndStep(rsKeep); });
}
void TBaseDLLObject::opClrUnLinkError_Exec() {
  Guarded("TBaseDLLObject", "opClrUnLinkError_Exec", [&] { ClearAndStep(rsUnlinked); });
}
void TBaseDLLObject::opParmCmd_Exec() {
  Guarded("TBaseDLLObject", "opParmCmd_Exec", [&] { ClearAndStep(rsParm); });
}
void TBaseDLLObject::opParmACK_Exec() {
  Guarded("TBaseDLLObject", "opParmACK_Exec", [&] { ClearAndStep(rsReady); });
}
void TBaseDLLObject::opParmNAK_Exec() {
  Guarded("TBaseDLLObject", "opParmNAK_Exec", [&] { ClearAndStep(rsKeep); });
}
void TBaseDLLObject::opClrParmError_Exec() {
  Guarded("TBaseDLLObject", "opClrParmError_Exec", [&] { ClearAndStep(rsReady); });
}
void TBaseDLLObject::opRailCmd_Exec() {
  Guarded("TBaseDLLObject", "opRailCmd_Exec", [&] { ClearAndStep(rsRail); });
}
void TBaseDLLObject::opRailACK_Exec() {
  // The line is up: the current command goes out as a write.
  Guarded("TBaseDLLObject", "opRailACK_Exec", [&] {
    RunEvent_ = opWriteCmd;
    RunState_ = rsReady;
    Step();
  });
}
void TBaseDLLObject::opRailNAK_Exec() {
  Guarded("TBaseDLLObject", "opRailNAK_Exec", [&] { ClearAndStep(rsReady); });
}
void TBaseDLLObject::opClrRailError_Exec() {
  Guarded("TBaseDLLObject", "opClrRailError_Exec", [&] { ClearAndStep(rsReady); });
}
void TBaseDLLObject::opResvLink1_Exec() {
  Guarded("TBaseDLLObject", "opResvLink1_Exec", [&] { ClearAndStep(rsResvLink1); });
}
void TBaseDLLObject::opResvLink1ACK_Exec() {
  Guarded("TBaseDLLObject", "opResvLink1ACK_Exec", [&] { ClearAndStep(rsReady); });
}
void TBaseDLLObject::opResvLink1NAK_Exec() {
  Guarded("TBaseDLLObject", "opResvLink1NAK_Exec", [&] { ClearAndStep(rsKeep); });
}
void TBaseDLLObject::opClrResvLink1Error_Exec() {
  Guarded("TBaseDLLObject", "opClrResvLink1Error_Exec", [&] { ClearAndStep(rsIdle); });
}
void TBaseDLLObject::opResvLink2_Exec() {
  Guarded("TBaseDLLObject", "opResvLink2_Exec", [&] { ClearAndStep(rsResvLink2); });
}
void TBaseDLLObject::opResvLink2ACK_Exec() {
  Guarded("TBaseDLLObject", "opResvLink2ACK_Exec", [&] { ClearAndStep(rsReady); });
}
void TBaseDLLObject::opResvLink2NAK_Exec() {
  Guarded("TBaseDLLObject", "opResvLink2NAK_Exec", [&] { ClearAndStep(rsKeep); });
}
void TBaseDLLObject::opClrResvLink2Error_Exec() {
  Guarded("TBaseDLLObject", "opClrResvLink2Error_Exec", [&] { ClearAndStep(rsIdle); });
}
void TBaseDLLObject::opResvLink3_Exec() {
  Guarded("TBaseDLLObject", "opResvLink3_Exec", [&] { ClearAndStep(rsResvLink3); });
}
void TBaseDLLObject::opResvLink3ACK_Exec() {
  Guarded("TBaseDLLObject", "opResvLink3ACK_Exec", [&] { ClearAndStep(rsReady); });
}
void TBaseDLLObject::opResvLink3NAK_Exec() {
  Guarded("TBaseDLLObject", "opResvLink3NAK_Exec", [&] { ClearAndStep(rsKeep); });
}
void TBaseDLLObject::opClrResvLink3Error_Exec() {
  Guarded("TBaseDLLObject", "opClrResvLink3Error_Exec", [&] { ClearAndStep(rsIdle); });
}

void TBaseDLLObject::opClrSystemError_Exec() {
  Guarded("TBaseDLLObject", "opClrSystemError_Exec", [&] {
    const uint8_t event = RunEvent_;
    const bool leaves_link = event == opInit || event == opUnLink || event == opStop;
    bool replayable = true;
    if (RunState_ == rsSysErrorLinked) {
      if (leaves_link)
        RunState_ = rsReady;
      else if (event == opLink)
        RunState_ = rsUnlinked;
      else
        replayable = false;
    } else if (RunState_ == rsSysErrorUnlinked) {
      if (leaves_link)
        RunState_ = rsUnlinked;
      else
        replayable = false;
    } else {
      RunEvent_ = opNone;
    }
    if (!replayable) {
      // Replaying from the same state would dispatch this handler again for
      // ever: the event is dropped and the machine starts over from ready.
      if (LogErrorsOn())
        SetLogMsg(DateTimeText() + TK571_GBK("：运行状态") + std::to_string(RunState_) +
                  TK571_GBK("下的运行事件") + std::to_string(event) +
                  TK571_GBK("无法恢复，已清除并转入就绪状态。") + kCrLf);
      RunEvent_ = opNone;
      RunState_ = rsReady;
    }
    Step();
  });
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
  GuardExchange("opClrWriteError_Exec", [&] {
    RunEvent_ = opNone;
    ++WriteFailTotal_;
    if (!CurrentCommand_) return EnterMissingCommand();
    GiveUpRunningWrite(*CurrentCommand_);
    ReleaseChain(CurrentHead_ ? CurrentHead_ : CurrentCommand_);
    CurrentCommand_ = nullptr;
    CurrentHead_ = nullptr;
    RunState_ = rsReady;
    Step();
  });
}

}  // namespace tk571
