#include "protocol/dll_object.h"

#include <cmath>

#include "engine/library_values.h"
#include "engine/run_log.h"
#include "platform/clock.h"
#include "platform/gbk.h"
#include "platform/local_time.h"
#include "protocol/reply_shape.h"
#include "protocol/reply_text.h"
#include "protocol/selected_device.h"

namespace tk571 {

namespace {

// Every controller answer that confirms a command contains one of these.
constexpr std::string_view kYes = "YES";
constexpr std::string_view kRefused = "NO ?";
// The status line is fetched only for a gross weight reply.
constexpr std::string_view kGross = "GS";
// The longest answers: a reading with a four-character unit, a menu prompt
// or a confirmation ("NO ?"), the select's ACK nn, the status line.
constexpr std::size_t kLongestReading = 20;
constexpr std::size_t kLongestPrompt = 20;
constexpr std::size_t kLongestConfirmation = 6;
constexpr std::size_t kSelectChars = 7;
constexpr std::size_t kSelectAnswerChars = 5;
constexpr std::size_t kStatusLineChars = 72;
constexpr std::size_t kStatusFields = 4;
constexpr std::size_t kStatusFieldChars = 18;
// Offset of the eight value characters inside a field of a reply.
constexpr int64_t kValueOffset = 6;
constexpr int64_t kValueChars = 8;

// Operations whose controller version took over the code of a generic class
// and kept that class's exception line. Every other operation of this class
// names "TDLLObject".
struct TakenOver {
  std::string_view operation;
  std::string_view class_name;
};
constexpr TakenOver kTakenOver[] = {
    {"GetAskStr", "TCustomDLLObject"},
    {"CheckResult", "TCustomDLLObject"},
    // The dialogues run in front of the generic write, inside its handler.
    {"opWriteCmd_Exec", "TBaseDLLObject"},
};

}  // namespace

std::string_view TDLLObject::ExceptionClass(std::string_view op) {
  for (const TakenOver& row : kTakenOver)
    if (row.operation == op) return row.class_name;
  return "TDLLObject";
}

// ---- Command building ----

int32_t TDLLObject::GetInterval() {
  TCustomDLLObject::GetInterval();
  return 10;
}

CommandPtr TDLLObject::CreatCommand(TDLLTag& tag, std::vector<CommandPtr>& list, bool is_write) {
  CommandPtr command = TCustomDLLObject::CreatCommand(tag, list, is_write);
  Guarded(this, "CreatCommand", [&] {
    // The controller takes whole numbers: the value queued, and later given
    // back to the tag, is the rounded integer.
    if (command && is_write && tag.Value.IsDouble()) {
      if (const auto rounded = RoundToInt32(tag.Value.AsDouble())) {
        tag.Value = TagValue::Integer(*rounded);
        command->Value = tag.Value;
      }
    }
  });
  return command;
}

std::size_t TDLLObject::LongestAnswerChars(const TCommand& command) const {
  return command.IsWrite ? kLongestConfirmation : kLongestReading;
}

bool TDLLObject::IsUnsolicitedOutput(std::string_view bytes) const {
  return FindReading(bytes).has_value() || FindStatusLine(bytes).has_value();
}

void TDLLObject::DescribeWrite(const TDLLTag& tag, WriteTag& write) const {
  write.action = tag.TypeIndex == kTypeSTART_UP || tag.TypeIndex == kTypeLOAD_SETM ||
                 tag.TypeIndex == kTypeREAD_SETM;
  write.collected = tag.TypeIndex == kTypeM_FINAL || tag.TypeIndex == kTypeM_COARSE ||
                    tag.TypeIndex == kTypeM_FINE;
  // CreatCommand rounds every number it queues.
  write.whole_numbers = true;
}

bool TDLLObject::NeedCreatCommand(std::vector<CommandPtr>& list, TDLLTag& tag, bool is_write) {
  return Guarded(this, "NeedCreatCommand", false, [&] {
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
  });
}

void TDLLObject::GetAskStr(TCommand& command, TDLLTag& tag, std::string& out, bool is_write) {
  const bool done = Guarded(this, "GetAskStr", [&] {
    if (is_write && tag.TypeIndex == kTypeSTART_UP) {
      const std::string body = tag.Value.AsBoolean() ? "ST" : "ABO";
      std::string framed;
      CheckCRC(body, framed);
      out = framed + std::string(TerminatorOf(tag.TypeIndex));
      return;
    }
    TCustomDLLObject::GetAskStr(command, tag, out, is_write);
  });
  if (!done) out.clear();
}

// ---- One exchange ----

void TDLLObject::RealComm(TCommand* command) {
  Guarded(this, "RealComm", [&] { TCustomDLLObject::RealComm(command); });
}

bool TDLLObject::GetResult() {
  return Guarded(this, "GetResult", false, [&] { return TCustomDLLObject::GetResult(); });
}

bool TDLLObject::CheckResult(const std::string& reply) {
  return Guarded(this, "CheckResult", false, [&] {
    const TCommand* command = CurrentCommand();
    if (!command) return false;
    // An answer is a whole line: until a CR LF is in, the controller may
    // still be sending it.
    const std::string_view terminator = TerminatorOf(command->TypeIndex);
    if (!terminator.empty() && !Contains(reply, terminator)) return false;
    switch (command->TypeIndex) {
      case kTypeREAD: {
        const auto answer = FindReading(reply);
        if (!answer) return false;
        // A reading in front of the last one, or one that began while the
        // request was still going out, was sent unasked; while such output
        // goes on, no reading on the line can be told from it.
        const std::string_view before = std::string_view(reply).substr(0, answer->begin);
        if (const auto other = FindReading(before)) NoteUnsolicited(other->line);
        if (BeganEarly(answer->begin)) NoteUnsolicited(answer->line);
        if (UnsolicitedOutputGoingOn()) {
          RefuseInterfered(*command, reply);
          return false;
        }
        if (!FieldValue(answer->line)) {
          RefuseReply(*command, reply, false);
          return false;
        }
        AcceptAnswer(reply, answer->begin, answer->end);
        return true;
      }
      case kTypeM_FINAL:
      case kTypeM_COARSE:
      case kTypeM_FINE:
      case kTypeM_MEDIUM: {
        const std::string label =
            "M" + std::to_string(command->StartAddr) + " " +
            (command->TypeName.size() > 2 ? command->TypeName.substr(2) : std::string());
        const auto echo = FindLineWith(reply, label);
        if (echo && Contains(std::string_view(reply).substr(echo->begin, echo->end - echo->begin),
                             command->Request)) {
          AcceptAnswer(reply, echo->begin, echo->end);
          return true;
        }
        // The controller shows something else than the item asked for: its
        // menu is left once for this attempt.
        RefuseReply(*command, reply, true);
        return false;
      }
      case kTypeLOAD_SETM:
      // The read-out has already happened in the dialogue; "YES" confirms the
      // controller is back at its main display.
      case kTypeREAD_SETM:
        return AcceptLineWith(reply, {kYes});
      case kTypeSTART_UP:
        return AcceptLineWith(reply, {kYes, kRefused});
      default:
        return false;
    }
  });
}

bool TDLLObject::AcceptLineWith(const std::string& reply,
                                std::initializer_list<std::string_view> words) {
  std::optional<ShapeMatch> last;
  for (std::string_view word : words)
    if (const auto line = FindLineWith(reply, word); line && (!last || line->begin > last->begin))
      last = line;
  if (!last) return false;
  AcceptAnswer(reply, last->begin, last->end);
  return true;
}

void TDLLObject::RefuseReply(const TCommand& command, const std::string& reply, bool leave_menu) {
  LogUnusableReply(command, reply);
  RejectReply();
  if (leave_menu) SendReturn();
}

void TDLLObject::StoreTagValue(TDLLTag& tag, ReplyUnderAnalysis& reply) {
  const int64_t position = FieldStart(tag, reply.command);
  if (tag.TypeIndex == kTypeENQ) {
    // The final amounts are in the status line, which the controller sends on
    // request after a gross weight reply; one request serves every tag.
    if (!Contains(reply.data, kGross)) return;
    if (!reply.fetched) reply.fetched = GetStatusLine();
    if (reply.fetched->empty()) return;
    const auto number =
        ParseDecimal(RemoveSpaces(SubText(*reply.fetched, position + kValueOffset, kValueChars)));
    if (number) tag.Value = TagValue::Double(*number);
  } else if (tag.TypeIndex == kTypeREAD) {
    const auto number =
        ParseDecimal(RemoveSpaces(SubText(reply.data, position + kValueOffset, kValueChars)));
    if (tag.DataKind == TK571_VALUE_FLOAT) {
      if (number) tag.Value = TagValue::Double(*number);
    } else {
      const double current = tag.Value.AsBoolean() ? 1.0 : 0.0;
      const double read = number ? *number : current;
      tag.Value = TagValue::Boolean(std::trunc(read) == 1.0);
    }
  } else if (tag.DataKind == TK571_VALUE_BOOL) {
    const auto word = ParseHexWord(SubText(reply.data, position, 4));
    const auto work = RoundToInt32(tag.WorkValue);
    const uint32_t bits = word ? *word : static_cast<uint32_t>(work ? *work : 0);
    if (tag.BitNo >= 0 && tag.BitNo <= 15)
      tag.Value = TagValue::Boolean(((bits >> tag.BitNo) & 1u) != 0);
  }
}

// ---- Run events ----

uint8_t TDLLObject::ChooseRunEvent() {
  // The controller's part of GetRunEvent: its exception line names it.
  return Guarded(this, "GetRunEvent", uint8_t{opNone}, [&]() -> uint8_t {
    const TCommand* command = CurrentCommand();
    switch (RunState()) {
      case rsReady:
        // opInit_Exec has chosen the command and selected its controller.
        if (command) return command->IsWrite ? opWriteCmd : opReadCmd;
        EnterState(rsIdle);
        return opInit;
      case rsIniting: {
        const std::string received = ReceiveText(false);
        // The controller's answer to a select is the whole line ACK nn CR LF.
        // It may arrive in pieces; until its LF is in, the controller is still
        // driving the two-wire line, and the tail of its answer would land in
        // front of the next request's reply.
        const auto acknowledged =
            command ? FindLineWith(received, std::string(1, kAck) + TwoDigits(command->DevNo))
                    : std::nullopt;
        if (acknowledged) {
          AcceptAnswer(received, acknowledged->begin, acknowledged->end);
          return opInitACK;
        }
        return WaitedOut() ? uint8_t{opInitNAK} : uint8_t{opNone};
      }
      default: {
        const uint8_t event = TCustomDLLObject::ChooseRunEvent();
        // A controller that failed to answer may have restarted and forgotten
        // that it was selected. (A write's repeats go to it as they are.)
        if (event == opReadNAK) ForgetSelection();
        return event;
      }
    }
  });
}

void TDLLObject::opInit_Exec() {
  Guarded(this, "opInit_Exec", [&] {
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
      if (SendText(std::string(1, kEnq) + "ID" + TwoDigits(command->DevNo) + std::string(kCrLf))) {
        // The answer is awaited from the moment the select leaves, after
        // the line has settled (which may take a whole reply time-out).
        MarkSent(AnswerWaitMs(kSelectChars, kSelectAnswerChars, kSelectTimeoutMs));
        SetLineSelectedDevice(static_cast<int16_t>(command->DevNo));
        EnterState(rsIniting);
      } else {
        // The select request never reached the line (the port is gone), so
        // whichever controller was selected before still is, and it would
        // answer this command's request. Nothing is sent: the exchange runs
        // out as an unanswered one, and the next command selects again.
        ForgetSelection();
        if (command->IsWrite) SpendWriteRepeat();
        MarkSent();
        EnterState(command->IsWrite ? rsWriting : rsReading);
      }
    } else {
      EnterState(rsReady);
    }
    ReadExecute();
  });
}

void TDLLObject::opInitACK_Exec() {
  Guarded(this, "opInitACK_Exec", [&] {
    EnterState(rsReady);
    ReadExecute();
  });
}

void TDLLObject::opInitNAK_Exec() {
  Guarded(this, "opInitNAK_Exec", [&] {
    KeepChosenCommand_ = CurrentCommand() != nullptr;
    EnterState(rsIdle, opInit);
  });
}

void TDLLObject::opWriteCmd_Exec() {
  const bool done = Guarded(this, "opWriteCmd_Exec", [&] {
    TCommand* command = CurrentCommand();
    // Retrying cannot mend a recipe: the write ends here, before anything
    // reaches the line.
    if (command && command->TypeIndex == kTypeLOAD_SETM && RecipeRefused(*command)) {
      EnterState(rsWriting, opClrWriteError);
      RefuseCurrentWrite();
      return;
    }
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
        // The controller may have restarted in the middle of its menu.
        ForgetSelection();
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
  });
  if (!done) {
    EnterState(rsReady);
  }
}

void TDLLObject::opWriteACK_Exec() {
  Guarded(this, "opWriteACK_Exec", [&] { ReturnToMainDisplay(); });
  TCustomDLLObject::opWriteACK_Exec();
}

void TDLLObject::opWriteNAK_Exec() {
  Guarded(this, "opWriteNAK_Exec", [&] { ReturnToMainDisplay(); });
  const TCommand* command = CurrentCommand();
  const bool given_up = command && command->RetryMode == retry_mode::kGiveUp;
  TCustomDLLObject::opWriteNAK_Exec();
  // The controller's next turn begins with its select; the repeats of the
  // write go to it as they are.
  if (given_up) Guarded(this, "opWriteNAK_Exec", [&] { ForgetSelection(); });
}

// ---- Line helpers ----

bool TDLLObject::SendText(const std::string& text) {
  return SendRequest(text);
}

void TDLLObject::SendReturn() {
  // The controller's own time to leave its menu; its "YES" arrives in this
  // pause and is dropped before the next request.
  SendMenuKey("R");
}

void TDLLObject::SendMenuKey(const std::string& key) {
  const std::string request = key + std::string(kCrLf);
  SendText(request);
  platform::SleepMs(AnswerWaitMs(request.size(), kLongestPrompt, kMenuPauseMs));
}

void TDLLObject::ReturnToMainDisplay() {
  platform::SleepMs(kMenuPauseMs);
  SendReturn();
}

int16_t TDLLObject::LineSelectedDevice() const {
  return SelectedDevice(LineKey());
}

void TDLLObject::SetLineSelectedDevice(int16_t device) {
  SetSelectedDevice(LineKey(), device);
}

std::string TDLLObject::GetStatusLine() {
  return Guarded(this, "GetStatusLine", std::string(), [&] {
    if (!Comm()) return std::string();
    SendText(std::string(1, kAck) + std::string(kCrLf));
    // The answer is complete once its line is in: the rest of the longest
    // wait would only idle the line.
    AwaitReply(AnswerWaitMs(3, kStatusLineChars, kStatusWaitMs),
               [](const std::string& text) { return FindStatusLine(text).has_value(); });
    const std::string received = ReceiveText(false);
    const auto line = FindStatusLine(received);
    const TCommand* command = CurrentCommand();
    if (line && command) {
      // The final amounts are stored only from the line that answered
      // this query, received whole.
      if (BeganEarly(line->begin)) NoteUnsolicited(line->line);
      if (LineErrorsInExchange() || UnsolicitedOutputGoingOn()) {
        RefuseInterfered(*command, received);
        return std::string();
      }
    }
    const auto field_parses = [&](std::size_t k) {
      return FieldValue(line->line.substr(k * kStatusFieldChars)).has_value();
    };
    bool fields = line.has_value();
    for (std::size_t k = 0; fields && k < kStatusFields; ++k) fields = field_parses(k);
    if (!fields) {
      // The status query is an exchange of its own: without its line, or
      // with a field that is not a number, the reply it belongs to fails.
      if (command) LogUnusableReply(*command, received);
      RejectReply();
      return std::string();
    }
    AcceptAnswer(received, line->begin, line->end);
    return received.substr(line->begin, line->end - line->begin);
  });
}

}  // namespace tk571
