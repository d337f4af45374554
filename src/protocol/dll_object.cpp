#include "protocol/dll_object.h"

#include <cmath>
#include <span>

#include "engine/library_values.h"
#include "engine/run_log.h"
#include "platform/clock.h"
#include "platform/gbk.h"
#include "platform/local_time.h"
#include "protocol/reply_text.h"
#include "protocol/selected_device.h"

namespace tk571 {

namespace {

// Every controller answer that confirms a command contains one of these.
constexpr std::string_view kYes = "YES";
constexpr std::string_view kRefused = "NO ?";
// Markers of a weighing reply: one of the states, one of the weight kinds.
constexpr std::string_view kWeightStates[] = {"OL", "ST", "US"};
constexpr std::string_view kWeightKinds[] = {"NT", "GS"};
// The status line is fetched only for a gross weight reply.
constexpr std::string_view kGross = "GS";
// Offset of the eight value characters inside a field of a reply.
constexpr int64_t kValueOffset = 6;
constexpr int64_t kValueChars = 8;

bool ContainsAny(std::string_view text, std::span<const std::string_view> parts) {
  for (std::string_view part : parts)
    if (Contains(text, part)) return true;
  return false;
}

}  // namespace

// ---- Command building ----

int32_t TDLLObject::GetInterval() {
  TCustomDLLObject::GetInterval();
  return 10;
}

CommandPtr TDLLObject::CreatCommand(TDLLTag& tag, std::vector<CommandPtr>& list, bool is_write) {
  CommandPtr command = TCustomDLLObject::CreatCommand(tag, list, is_write);
  try {
    // The controller takes whole numbers: the value queued, and later given
    // back to the tag, is the rounded integer.
    if (command && is_write && tag.Value.IsDouble()) {
      if (const auto rounded = RoundToInt32(tag.Value.AsDouble())) {
        tag.Value = TagValue::Integer(*rounded);
        command->Value = tag.Value;
      }
    }
  } catch (...) {
    LogException("CreatCommand", "TDLLObject");
  }
  return command;
}

bool TDLLObject::NeedCreatCommand(std::vector<CommandPtr>& list, TDLLTag& tag, bool is_write) {
  try {
    SetpointKind kind;
    switch (tag.TypeIndex) {
      case kTypeM_FINAL:
        kind = SetpointKind::kFinal;
        break;
      case kTypeM_COARSE:
        kind = SetpointKind::kCoarse;
        break;
      case kTypeM_FINE:
        kind = SetpointKind::kFine;
        break;
      default:
        return TCustomDLLObject::NeedCreatCommand(list, tag, is_write);
    }
    // Set-points are collected in the driver and go down as one recipe
    // (LOAD_SETM); they never make a command of their own.
    if (is_write && tag.Channel >= 1 && tag.Channel <= kMaterials) {
      if (TSetpoints* table = SetpointsOf(tag.DevNo))
        Entry(*table, kind, tag.Channel) = static_cast<float>(tag.Value.AsDouble());
    }
    return false;
  } catch (...) {
    LogException("NeedCreatCommand", "TDLLObject");
    return false;
  }
}

void TDLLObject::GetAskStr(TCommand& command, TDLLTag& tag, std::string& out, bool is_write) {
  try {
    if (is_write && tag.TypeIndex == kTypeSTART_UP) {
      const std::string body = tag.Value.AsBoolean() ? "ST" : "ABO";
      std::string framed;
      CheckCRC(body, framed);
      out = framed + std::string(TerminatorOf(tag.TypeIndex));
      return;
    }
    TCustomDLLObject::GetAskStr(command, tag, out, is_write);
  } catch (...) {
    out.clear();
    LogException("GetAskStr", "TCustomDLLObject");
  }
}

// ---- One exchange ----

void TDLLObject::RealComm(TCommand* command) {
  try {
    TCustomDLLObject::RealComm(command);
  } catch (...) {
    LogException("RealComm", "TDLLObject");
  }
}

bool TDLLObject::GetResult() {
  try {
    return TCustomDLLObject::GetResult();
  } catch (...) {
    LogException("GetResult", "TDLLObject");
    return false;
  }
}

bool TDLLObject::CheckResult(const std::string& reply) {
  try {
    const TCommand* command = CurrentCommand();
    if (!command) return false;
    const std::string_view terminator = TerminatorOf(command->TypeIndex);
    if (!terminator.empty() && !Contains(reply, terminator)) return false;
    switch (command->TypeIndex) {
      case kTypeREAD:
        return ContainsAny(reply, kWeightStates) && ContainsAny(reply, kWeightKinds);
      case kTypeM_FINAL:
      case kTypeM_COARSE:
      case kTypeM_FINE:
      case kTypeM_MEDIUM: {
        const std::string label =
            "M" + std::to_string(command->StartAddr) + " " +
            (command->TypeName.size() > 2 ? command->TypeName.substr(2) : std::string());
        if (Contains(reply, label) && Contains(reply, command->Request)) return true;
        SendText("R" + std::string(kCrLf));
        return false;
      }
      case kTypeLOAD_SETM:
      // The read-out has already happened in the dialogue; "YES" confirms the
      // controller is back at its main display.
      case kTypeREAD_SETM:
        return Contains(reply, kYes);
      case kTypeSTART_UP:
        return Contains(reply, kYes) || Contains(reply, kRefused);
      default:
        return false;
    }
  } catch (...) {
    LogException("CheckResult", "TCustomDLLObject");
    return false;
  }
}

bool TDLLObject::CommAnalyze(const std::string& reply, TCommand& command,
                             const std::vector<std::unique_ptr<TDLLTag>>& tags) {
  try {
    std::string data;
    GetEchoDataStr(reply, command, data);
    if (data.size() > 255) data.resize(255);
    std::string status;
    GetEchoStatusStr(reply, command, status);
    if (!command.HasFlag(command_flags::kTagBound)) return false;

    bool visited = false;
    bool status_fetched = false;
    std::string status_line;
    const double now = platform::HostDateNow();
    for (int32_t index : command.Indexes) {
      if (index < 0 || static_cast<std::size_t>(index) >= tags.size()) continue;
      TDLLTag* tag = tags[static_cast<std::size_t>(index)].get();
      if (!tag) continue;
      const ControllerTypeRow* row = ControllerTypeRowAt(tag->TypeIndex);
      const int64_t width = row ? row->ValueWidth : -1;
      const int64_t position = width * (static_cast<int64_t>(tag->Channel) - command.StartAddr) + 1;

      if (tag->DataKind == TK571_VALUE_STRING) {
        tag->Value = TagValue::Text(data);
      } else if (tag->TypeIndex == kTypeENQ) {
        if (Contains(data, kGross)) {
          if (!status_fetched) {
            status_line = GetStatusLine();
            status_fetched = true;
          }
          if (!status_line.empty()) {
            const auto number = ParseDecimal(
                RemoveSpaces(SubText(status_line, position + kValueOffset, kValueChars)));
            if (number) tag->Value = TagValue::Double(*number);
          }
        }
      } else if (tag->TypeIndex == kTypeREAD) {
        const auto number =
            ParseDecimal(RemoveSpaces(SubText(data, position + kValueOffset, kValueChars)));
        if (tag->DataKind == TK571_VALUE_FLOAT) {
          if (number) tag->Value = TagValue::Double(*number);
        } else {
          const double current = tag->Value.AsBoolean() ? 1.0 : 0.0;
          const double read = number ? *number : current;
          tag->Value = TagValue::Boolean(std::trunc(read) == 1.0);
        }
      } else if (tag->DataKind == TK571_VALUE_BOOL) {
        const auto word = ParseHexWord(SubText(data, position, 4));
        const auto work = RoundToInt32(tag->WorkValue);
        const uint32_t bits = word ? *word : static_cast<uint32_t>(work ? *work : 0);
        if (tag->BitNo >= 0 && tag->BitNo <= 15)
          tag->Value = TagValue::Boolean(((bits >> tag->BitNo) & 1u) != 0);
      }
      tag->UpdateTime = now;
      visited = true;
    }
    return visited;
  } catch (...) {
    LogException("CommAnalyze", "TCustomDLLObject");
    return false;
  }
}

// ---- Run events ----

void TDLLObject::GetRunEvent() {
  try {
    if (RunEvent() != opNone) return;
    const TCommand* command = CurrentCommand();
    switch (RunState()) {
      case rsReady:
        if (command) {
          Raise(command->IsWrite ? opWriteCmd : opReadCmd);
        } else {
          EnterState(rsIdle, opInit);
        }
        break;
      case rsIniting: {
        const std::string received = ReceiveText();
        // The controller's answer to a select is the whole line ACK nn CR LF.
        // It may arrive in pieces; until its LF is in, the controller is still
        // driving the two-wire line, and the tail of its answer would land in
        // front of the next request's reply.
        const bool acknowledged =
            command && Contains(received, std::string(1, kAck) + TwoDigits(command->DevNo) +
                                              std::string(kCrLf));
        if (acknowledged) {
          Raise(opInitACK);
        } else if (ReplyOverdue(kSelectTimeoutMs)) {
          Raise(opInitNAK);
        }
        break;
      }
      case rsReading:
        if (GetResult()) {
          Raise(opReadACK);
        } else if (ReplyOverdue(ReplyTimeout)) {
          Raise(opReadNAK);
        }
        break;
      case rsWriting:
        if (GetResult()) {
          Raise(opWriteACK);
        } else if (ReplyOverdue(ReplyTimeout)) {
          Raise(opWriteNAK);
        }
        break;
      default:
        break;
    }
    if (ExchangeEnded()) UpdateLinkStatus();
  } catch (...) {
    LogException("GetRunEvent", "TDLLObject");
  }
}

void TDLLObject::opInit_Exec() {
  try {
    if (!KeepChosenCommand_ || !CurrentCommand()) GetNextCommand();
    KeepChosenCommand_ = false;
    const TCommand* command = CurrentCommand();
    if (!command) {
      EnterState(rsIdle, opInit);
      return;
    }
    // The controller answers only after it has been selected; it stays
    // selected until another controller on the line is.
    if (LineSelectedDevice() != command->DevNo) {
      MarkSent();
      if (SendText(std::string(1, kEnq) + "ID" + TwoDigits(command->DevNo) + std::string(kCrLf))) {
        SetLineSelectedDevice(static_cast<int16_t>(command->DevNo));
        EnterState(rsIniting);
      } else {
        // The select request never reached the line (the port is gone), so
        // whichever controller was selected before still is, and it would
        // answer this command's request. Nothing is sent: the exchange runs
        // out as an unanswered one, and the next command selects again.
        SetLineSelectedDevice(kNoDeviceSelected);
        if (command->IsWrite) SpendWriteRepeat();
        EnterState(command->IsWrite ? rsWriting : rsReading);
      }
    } else {
      EnterState(rsReady);
    }
    ReadExecute();
  } catch (...) {
    LogException("opInit_Exec", "TDLLObject");
  }
}

void TDLLObject::opInitACK_Exec() {
  try {
    EnterState(rsReady);
    ReadExecute();
  } catch (...) {
    LogException("opInitACK_Exec", "TDLLObject");
  }
}

void TDLLObject::opInitNAK_Exec() {
  try {
    KeepChosenCommand_ = CurrentCommand() != nullptr;
    EnterState(rsIdle, opInit);
  } catch (...) {
    LogException("opInitNAK_Exec", "TDLLObject");
  }
}

void TDLLObject::opWriteCmd_Exec() {
  try {
    TCommand* command = CurrentCommand();
    // A write repeated after a select that never reached the line must not
    // go to the controller still selected: select first.
    if (command && LineSelectedDevice() != command->DevNo) {
      KeepChosenCommand_ = true;
      EnterState(rsIdle, opInit);
      ReadExecute();
      return;
    }
    if (command) {
      bool dialogue_ok = true;
      if (command->TypeIndex == kTypeLOAD_SETM) {
        dialogue_ok = SendSetpoints();
      } else if (command->TypeIndex == kTypeREAD_SETM) {
        dialogue_ok = ReadSetpoints();
      }
      if (!dialogue_ok) {
        if (command->RetryMode == retry_mode::kSendAgain) {
          command->RetryMode = retry_mode::kGiveUp;
          EnterState(rsReady, opWriteCmd);
        } else {
          // Given up like a write without answer, so the line goes on serving
          // the other commands.
          EnterState(rsWriting, opClrWriteError);
          opClrWriteError_Exec();
        }
        return;
      }
    }
    TCustomDLLObject::opWriteCmd_Exec();
  } catch (...) {
    EnterState(rsReady);
    LogException("opWriteCmd_Exec", "TBaseDLLObject");
  }
}

void TDLLObject::opWriteACK_Exec() {
  try {
    ReturnToMainDisplay();
  } catch (...) {
    LogException("opWriteACK_Exec", "TDLLObject");
  }
  TCustomDLLObject::opWriteACK_Exec();
}

void TDLLObject::opWriteNAK_Exec() {
  try {
    ReturnToMainDisplay();
  } catch (...) {
    LogException("opWriteNAK_Exec", "TDLLObject");
  }
  TCustomDLLObject::opWriteNAK_Exec();
}

// ---- Line helpers ----

bool TDLLObject::SendText(const std::string& text) {
  return Comm_ && Comm_->Send(text);
}

std::string TDLLObject::ReceiveText() {
  return Comm_ ? Comm_->Receive() : std::string();
}

void TDLLObject::ReturnToMainDisplay() {
  platform::SleepMs(kMenuPauseMs);
  SendText("R" + std::string(kCrLf));
  // Lets the controller's "YES" arrive before the next request clears the
  // receive text, so it cannot end up in front of that request's reply.
  platform::SleepMs(kMenuPauseMs);
}

int16_t TDLLObject::LineSelectedDevice() const {
  return SelectedDevice(Comm_ ? Comm_->LineKey() : std::string());
}

void TDLLObject::SetLineSelectedDevice(int16_t device) {
  SetSelectedDevice(Comm_ ? Comm_->LineKey() : std::string(), device);
}

std::string TDLLObject::GetStatusLine() {
  try {
    if (!Comm_) return std::string();
    Comm_->ClearBuffer();
    SendText(std::string(1, kAck) + std::string(kCrLf));
    // The answer is complete with its last field and CR LF: the rest of the
    // longest wait would only idle the line.
    AwaitReply(kStatusWaitMs, [](const std::string& text) {
      return text.size() >= kStatusLineLength && text.ends_with(kCrLf);
    });
    const std::string line = ReceiveText();
    const std::string_view terminator =
        TerminatorOf(CurrentCommand() ? CurrentCommand()->TypeIndex : kTypeENQ);
    const bool valid = line.size() == kStatusLineLength && Contains(line, "M1") &&
                       Contains(line, "M2") && Contains(line, "M3") && Contains(line, "M4") &&
                       line.ends_with(terminator);
    return valid ? line : std::string();
  } catch (...) {
    LogException("GetStatusLine", "TDLLObject");
    return std::string();
  }
}

}  // namespace tk571
