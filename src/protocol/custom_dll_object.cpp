#include "protocol/custom_dll_object.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <stdexcept>
#include <utility>

#include "engine/library_values.h"
#include "engine/run_log.h"
#include "platform/clock.h"
#include "platform/gbk.h"
#include "platform/local_time.h"
#include "protocol/reply_text.h"

namespace tk571 {

namespace {

void EraseFront(std::string& text, int64_t count) {
  if (count <= 0) return;
  text.erase(0, std::min<std::size_t>(static_cast<std::size_t>(count), text.size()));
}

void EraseBack(std::string& text, int64_t count) {
  if (count <= 0) return;
  text.resize(text.size() - std::min<std::size_t>(static_cast<std::size_t>(count), text.size()));
}

// The controller's time from the end of a request to the first character of
// its answer, with room for an adapter's latency.
constexpr uint32_t kTurnaroundMs = 20;
// Unsolicited output counts as going on until none was seen for this long:
// longer than a streaming controller's pause between two lines.
constexpr uint32_t kUnsolicitedHoldMs = 1000;
// Framing errors without an understood answer after which the log names the
// likely causes.
constexpr uint32_t kFramingDiagnosisErrors = 10;

}  // namespace

TCustomDLLObject::TCustomDLLObject(bool first_instance) : TBaseDLLObject(first_instance) {
  CommCreated_ = false;
  SetEnLog(false);
}

TCustomDLLObject::~TCustomDLLObject() {
  // The engine's destructor would only reach the engine's Stop.
  if (!Stopped()) Stop();
}

TagTypeTable TCustomDLLObject::TagTypes() const {
  return ControllerTagTypes();
}

std::unique_ptr<SerialLine> TCustomDLLObject::CreateSerialLine() {
  return MakeSerialLine();
}

void TCustomDLLObject::LogLine(const std::string& text) {
  SetLogMsg(DateTimeText() + text + kCrLf);
}

std::string_view TCustomDLLObject::TerminatorOf(int32_t type_index) const {
  const ControllerTypeRow* row = ControllerTypeRowAt(type_index);
  return row ? row->Terminator : std::string_view();
}

int32_t TCustomDLLObject::LargestCommandSize() const {
  std::size_t largest = 0;
  for (const auto& command : ReadCommands())
    if (command) largest = std::max(largest, command->Indexes.size());
  return static_cast<int32_t>(largest);
}

std::string TCustomDLLObject::CommandListing(const TCommand& command, const std::string& closing) {
  return CommandListingHead(command, nullptr) + closing + command.Request + kCrLf;
}

// ---- Parameters, start and stop ----

bool TCustomDLLObject::IniParm(const TDevicePDB* block) {
  return Guarded(this, "IniParm", false, [&] {
    if (!TBaseDLLObject::IniParm(block)) return false;
    LogLine(TK571_GBK("：通讯最大允许超时时间=") + std::to_string(ReplyTimeout));
    if (!Comm_) {
      Comm_ = CreateSerialLine();
      CommCreated_ = Comm_ != nullptr;
    }
    if (!Comm_) return false;
    Comm_->Close();
    std::string message;
    const bool open = Comm_->Open(ParameterBlock(), message);
    Comm_->TakeReopened();
    LineReopened();
    WriteCommEvent(message);
    if (DebugOn()) LogLine(TK571_GBK("：") + message);
    // The host's message says only that the port did not open; the log
    // names the device and the reason.
    if (const std::string diagnosis = Comm_->Diagnosis(); !diagnosis.empty())
      LogLine(TK571_GBK("：") + diagnosis);
    return open;
  });
}

void TCustomDLLObject::Stop() {
  Guarded(this, "Stop", [&] {
    if (Initialized()) {
      SetLogMsg(kCrLf);
      if (DebugOn()) {
        for (const auto& command : ReadCommands())
          if (command) SetLogMsg(CommandListing(*command, TK571_GBK("]生成读标签命令串=")));
      }
      LogLine(TK571_GBK("：有效标签个数共计=") + std::to_string(Tags().size()));
      LogLine(TK571_GBK("：包含的通讯报总计=") + std::to_string(ReadCommands().size()) +
              TK571_GBK("条"));
      LogLine(TK571_GBK("：最长通讯报包含的标签个数=") + std::to_string(LargestCommandSize()) +
              TK571_GBK("个"));
      WriteLineReport();
    }
  });
  TBaseDLLObject::Stop();
  if (CommCreated_ && Comm_) {
    Comm_->Close();
    Comm_.reset();
  }
  CommCreated_ = false;
}

void TCustomDLLObject::WriteLineReport() {
  if (Comm_ && Comm_->EchoesStripped() > 0) {
    LogLine(TK571_GBK("：线路有本地回显（收到的数据以刚发送的请求开头），已去除回显的请求数=") +
            std::to_string(Comm_->EchoesStripped()));
  }
  for (std::size_t dev = 0; dev < LineErrors_.size(); ++dev) {
    const platform::LineErrors& e = LineErrors_[dev];
    if (e.Total() == 0) continue;
    LogLine(TK571_GBK("：") + std::to_string(dev) + TK571_GBK("号设备的线路错误：奇偶校验错=") +
            std::to_string(e.parity) + TK571_GBK("，帧错误=") + std::to_string(e.framing) +
            TK571_GBK("，溢出=") + std::to_string(e.overrun) + TK571_GBK("，中断=") +
            std::to_string(e.breaks));
  }
}

// ---- Command building ----

void TCustomDLLObject::OptimizeCommParm() {
  Guarded(this, "OptimizeCommParm", [&] {
    for (const auto& head : ReadCommands()) {
      for (TCommand* command = head.get(); command; command = command->Next.get()) {
        if (command->HasFlag(command_flags::kTagBound) && !command->Sealed) {
          command->Sealed = 1;
          command->StartAddr = command->LowChannel;
          command->EndAddr = command->HighChannel;
          TDLLTag* first = command->Indexes.empty() ? nullptr : TagAt(command->Indexes[0]);
          if (first) {
            GetAskStr(*command, *first, command->Request, false);
            GetAnswerMainStr(*command, *first, command->Answer, false);
          }
        }
        if (DebugOn()) SetLogMsg(CommandListing(*command, TK571_GBK("]生成读标签命令串=")));
      }
    }
  });
}

int32_t TCustomDLLObject::GetInterval() {
  return Guarded(this, "GetInterval", 0, [&] {
    TBaseDLLObject::GetInterval();
    LogLine(TK571_GBK("：最长通讯报包含的标签个数=") + std::to_string(LargestCommandSize()) +
            TK571_GBK("个"));
    LogLine(TK571_GBK("：包含的通讯报总计=") + std::to_string(ReadCommands().size()) +
            TK571_GBK("条"));
    return 10;
  });
}

bool TCustomDLLObject::NeedCreatCommand(std::vector<CommandPtr>& list, TDLLTag& tag,
                                        bool is_write) {
  return Guarded(this, "NeedCreatCommand", false, [&] {
    const ControllerTypeRow* row = ControllerTypeRowAt(tag.TypeIndex);
    if (!row) return false;
    if (is_write) {
      if (!row->Engine.Writable) return false;
      if (!WriteQueued(tag)) return true;
      if (LogErrorsOn()) {
        LogLine(TK571_GBK("：标签写入请求未执行：") + tag.Name + TK571_GBK("重复写入,") +
                TK571_GBK(" 地址=") + tag.Address + TK571_GBK(", 标签值=") +
                ValueText(tag, tag.Value));
      }
      return false;
    }

    TCommand scratch;
    scratch.LowChannel = scratch.HighChannel = tag.Channel;
    std::string request;
    GetAskStr(scratch, tag, request, false);
    for (const auto& command : list) {
      if (!command || command->DevNo != tag.DevNo) continue;
      if (command->TypeIndex == tag.TypeIndex && command->StartAddr <= tag.Channel &&
          tag.Channel <= command->EndAddr) {
        command->HighChannel = std::max(command->HighChannel, tag.Channel);
        command->LowChannel = std::min(command->LowChannel, tag.Channel);
      }
      if (command->Request == request) {
        command->Indexes.push_back(tag.Index);
        if (tag.ScanTime < static_cast<uint32_t>(command->Interval))
          command->Interval = static_cast<int32_t>(tag.ScanTime);
        return false;
      }
    }
    return true;
  });
}

void TCustomDLLObject::GetAskStr(TCommand& command, TDLLTag& tag, std::string& out, bool is_write) {
  const bool done = Guarded(this, "GetAskStr", [&] {
    out.clear();
    const ControllerTypeRow* row = ControllerTypeRowAt(tag.TypeIndex);
    if (!row) return;
    std::string value;
    CreateValueStr(tag, is_write, value);
    (void)command;

    std::string body;
    if (!is_write) {
      switch (row->ReadFrameKind) {
        case frame_kind::kReadWord:
          body = std::string(row->ReadPrefix) + "READ";
          break;
        case frame_kind::kReadCommand:
        case frame_kind::kPrefixWord:
          body = std::string(row->ReadPrefix) + std::string(row->ReadCommandWord);
          break;
        default:
          break;
      }
    } else {
      switch (row->WriteFrameKind) {
        case frame_kind::kCommandWord:
        case frame_kind::kReadCommand:
          body = std::string(row->WritePrefix) + std::string(row->WriteCommandWord);
          break;
        case frame_kind::kWithValue:
          if (!value.empty())
            body = std::string(row->WritePrefix) + std::string(row->WriteCommandWord) + value;
          break;
        default:
          break;
      }
    }
    std::string framed;
    CheckCRC(body, framed);
    out = framed + std::string(row->Terminator);
    CutToShortString(out);
  });
  if (!done) out.clear();
}

void TCustomDLLObject::CreateValueStr(TDLLTag& tag, bool is_write, std::string& out) {
  const bool done = Guarded(this, "CreateValueStr", [&] {
    out.clear();
    const ControllerTypeRow* row = ControllerTypeRowAt(tag.TypeIndex);
    if (!row) return;
    const uint8_t kind = is_write ? row->WriteValueKind : row->Engine.FormatCode;
    if (kind != value_kind::kInteger || tag.DataKind != TK571_VALUE_FLOAT) return;
    const auto number = RoundToInt32(tag.Value.AsDouble());
    if (!number) throw std::range_error("value outside the 32-bit range");
    if (row->HexValue) {
      char text[16];
      std::snprintf(text, sizeof(text), "%X", static_cast<unsigned>(*number));
      out = text;
    } else {
      out = std::to_string(*number);
    }
  });
  if (!done) out.clear();
}

int32_t TCustomDLLObject::GetCommandAddrLength(const TCommand& command, const TDLLTag& tag) {
  const ControllerTypeRow* row = ControllerTypeRowAt(tag.TypeIndex);
  if (!row) return 1;
  if (command.Sealed) return command.HighChannel - command.LowChannel + 1;
  return row->AddrLength;
}

int32_t TCustomDLLObject::GetCommandStartAddr(const TCommand& command, const TDLLTag& tag) {
  const ControllerTypeRow* row = ControllerTypeRowAt(tag.TypeIndex);
  if (!row) return 0;
  if (command.Sealed) return command.LowChannel;
  const int32_t length = row->AddrLength;
  if (length == 0) return 0;
  return length * (tag.Channel / length);
}

int32_t TCustomDLLObject::GetCommandEndAddr(const TCommand& command, const TDLLTag& tag) {
  const ControllerTypeRow* row = ControllerTypeRowAt(tag.TypeIndex);
  if (!row) return 0;
  if (command.Sealed) return command.HighChannel;
  const int32_t length = row->AddrLength;
  if (length == 0) return 0;
  return length * (tag.Channel / length) + length - 1;
}

// ---- Checksum stage: the controller's replies and requests carry none ----

std::string TCustomDLLObject::GetCrcSourceStr(const std::string& text, std::string& out) {
  out = text;
  return out;
}

bool TCustomDLLObject::CompareCRC(const std::string&, const std::string&) {
  return kChecksumKind == kChecksumNone;
}

std::string TCustomDLLObject::CheckCRC(const std::string& text, std::string& out) {
  out = text;
  return out;
}

// ---- One exchange ----

void TCustomDLLObject::RealComm(TCommand* command) {
  Guarded(this, "RealComm", [&] {
    TBaseDLLObject::RealComm(command);
    if (!command || !CommEnabled()) return;
    if (!DeviceInUse(command->DevNo)) return;
    if (command->Request.empty() || !Comm_) {
      MarkSent();
      return;
    }
    // The reply is awaited from the moment the request leaves, after the
    // line has settled.
    SendRequest(command->Request);
    MarkSent(AnswerWaitMs(command->Request.size(), LongestAnswerChars(*command), ReplyTimeout));
  });
}

bool TCustomDLLObject::SendRequest(const std::string& text) {
  if (!Comm_) return false;
  const int32_t device = CurrentCommand() ? CurrentCommand()->DevNo : -1;
  // After an answer that never came the line is left alone for one more
  // reply time-out, so that a late answer cannot pass for the next one.
  const uint32_t guard = TakeAnswerOverdue() ? ReplyTimeout : 0;
  Comm_->Settle(ReplyTimeout, Comm_->Receive().size() > Consumed_, guard);
  const std::string& received = Comm_->Receive();
  if (received.size() > Consumed_) {
    const std::string_view stray = std::string_view(received).substr(Consumed_);
    // Outside the time a late answer may take, a device's output between
    // exchanges was asked for by nobody.
    if (guard == 0 && IsUnsolicitedOutput(stray)) NoteUnsolicited(stray);
    NoteDiscarded(device, stray);
  }
  Consumed_ = 0;
  // Errors of the pause belong to no answer.
  LineErrorsInExchange();
  ExchangeErrors_ = {};
  const bool sent = Comm_->Send(text);
  if (Comm_->TakeReopened()) LineReopened();
  return sent;
}

uint32_t TCustomDLLObject::AnswerWaitMs(std::size_t request_chars, std::size_t answer_chars,
                                        uint32_t floor_ms) const {
  if (!Comm_) return floor_ms;
  const uint32_t line_ms = Comm_->TransmitMs(request_chars + answer_chars);
  if (line_ms == 0) return floor_ms;
  // A quarter more for pauses between characters (a controller's UART, an
  // adapter's buffering), which grow with the character time.
  return std::max(floor_ms, line_ms + line_ms / 4 + kTurnaroundMs);
}

bool TCustomDLLObject::BeganEarly(std::size_t begin) const {
  return Comm_ && begin < Comm_->EarlyBytes();
}

void TCustomDLLObject::NoteUnsolicited(std::string_view bytes) {
  UnsolicitedSeen_ = true;
  UnsolicitedTick_ = platform::Tick();
  if (std::exchange(UnsolicitedLogged_, true)) return;
  LogLine(TK571_GBK("：线路上有未经请求的数据，可能有仪表处于连续发送方式，数据(HEX)=") +
          HexBytes(bytes));
}

bool TCustomDLLObject::UnsolicitedOutputGoingOn() {
  if (UnsolicitedSeen_ && platform::TicksSince(UnsolicitedTick_) < kUnsolicitedHoldMs) return true;
  // Over: the next time it starts the log names it again.
  UnsolicitedSeen_ = false;
  UnsolicitedLogged_ = false;
  return false;
}

bool TCustomDLLObject::LineErrorsInExchange() {
  if (!Comm_) return false;
  const platform::LineErrors errors = Comm_->TakeLineErrors();
  if (errors.Total() > 0) {
    const int32_t device = CurrentCommand() ? CurrentCommand()->DevNo : -1;
    if (device >= 0 && device < kDeviceCount)
      LineErrors_[static_cast<std::size_t>(device)] += errors;
    ExchangeErrors_ += errors;
    FramingUnanswered_ += errors.framing;
    if (FramingUnanswered_ >= kFramingDiagnosisErrors && !std::exchange(FramingLogged_, true))
      LogLine(TK571_GBK("：") + Comm_->FramingDiagnosis(FramingUnanswered_));
  }
  return ExchangeErrors_.Total() > 0;
}

void TCustomDLLObject::RefuseInterfered(const TCommand& command, const std::string& reply) {
  LogUnusableReply(command, reply);
  RejectReply();
  NoteInterference();
}

std::string TCustomDLLObject::ReceiveText(bool consume) {
  if (!Comm_) return std::string();
  std::string received = Comm_->Receive();
  if (consume) Consumed_ = received.size();
  return received;
}

void TCustomDLLObject::AcceptAnswer(const std::string& received, std::size_t begin,
                                    std::size_t end) {
  AnswerBegin_ = std::min(begin, received.size());
  AnswerEnd_ = std::clamp(end, AnswerBegin_, received.size());
  if (AnswerBegin_ > Consumed_) {
    const int32_t device = CurrentCommand() ? CurrentCommand()->DevNo : -1;
    NoteDiscarded(device, std::string_view(received).substr(Consumed_, AnswerBegin_ - Consumed_));
  }
  Consumed_ = std::max(Consumed_, AnswerEnd_);
}

std::string_view TCustomDLLObject::AcceptedAnswer(std::string_view reply) const {
  if (AnswerBegin_ >= reply.size()) return reply.substr(0, 0);
  return reply.substr(AnswerBegin_, AnswerEnd_ - AnswerBegin_);
}

void TCustomDLLObject::LogUnusableReply(const TCommand& command, const std::string& reply) {
  if (!LogErrorsOn()) return;
  LogLine(TK571_GBK("：应答无法使用，设备号=") + std::to_string(command.DevNo) +
          TK571_GBK("，执行操作=") + command.Request + TK571_GBK("，接收到应答信息(HEX)=") +
          HexBytes(reply));
}

bool TCustomDLLObject::GetResult() {
  return Guarded(this, "GetResult", false, [&] {
    TCommand* command = CurrentCommand();
    if (!command || !Comm_) return false;
    const std::string reply = ReceiveText(false);
    command->Response = reply;
    if (reply.empty()) return false;
    // Unless the device layer finds its answer in it, the whole reply is it.
    AnswerBegin_ = 0;
    AnswerEnd_ = reply.size();
    const bool spoilt = LineErrorsInExchange();
    // A refused reply has been judged: it is this exchange's, not output
    // between exchanges.
    if (!CheckResult(reply)) {
      if (ReplyRejected()) ReceiveText(true);
      return false;
    }
    Consumed_ = std::max(Consumed_, AnswerEnd_);
    // A byte lost to a line error may have been any part of the answer.
    if (spoilt) {
      RefuseInterfered(*command, reply);
      ReceiveText(true);
      return false;
    }
    if (!command->IsWrite) {
      CommAnalyze(std::string(AcceptedAnswer(reply)), *command, Tags());
      // A part of the answer that had to be fetched separately was unusable.
      if (ReplyRejected()) {
        ReceiveText(true);
        return false;
      }
    }
    FramingUnanswered_ = 0;
    FramingLogged_ = false;
    return true;
  });
}

void TCustomDLLObject::GetAnswerMainStr(TCommand& command, TDLLTag& tag, std::string& out,
                                        bool is_write) {
  const bool done = Guarded(this, "GetAnswerMainStr", [&] {
    out.clear();
    (void)command;
    const ControllerTypeRow* row = ControllerTypeRowAt(tag.TypeIndex);
    if (!row) return;
    const uint8_t kind = is_write ? row->WriteAnswerKind : row->ReadAnswerKind;
    const std::string_view prefix = is_write ? row->WriteAnswerPrefix : row->ReadAnswerPrefix;
    const std::string_view word = is_write ? row->WriteAnswerWord : row->ReadAnswerWord;
    if (kind == answer_kind::kAddressed) {
      char number[16];
      std::snprintf(number, sizeof(number), "%X", static_cast<unsigned>(tag.DevNo));
      out = std::string(prefix) + number + std::string(word);
    } else if (kind == answer_kind::kCommandWord) {
      out = std::string(prefix) + std::string(word);
    }
    CutToShortString(out);
  });
  if (!done) out.clear();
}

bool TCustomDLLObject::CheckResult(const std::string& reply) {
  return Guarded(this, "CheckResult", false, [&] {
    if (!CurrentCommand()) return false;
    const std::string_view terminator = TerminatorOf(CurrentCommand()->TypeIndex);
    return terminator.empty() || Contains(reply, terminator);
  });
}

bool TCustomDLLObject::CommAnalyze(const std::string& reply, TCommand& command,
                                   const std::vector<std::unique_ptr<TDLLTag>>& tags) {
  return Guarded(this, "CommAnalyze", false, [&] {
    ReplyUnderAnalysis analysis{command, std::string(), std::nullopt};
    GetEchoDataStr(reply, command, analysis.data);
    CutToShortString(analysis.data);
    std::string status;
    GetEchoStatusStr(reply, command, status);
    if (!command.HasFlag(command_flags::kTagBound)) return false;
    const double now = platform::HostDateNow();
    bool stored = false;
    for (int32_t index : command.Indexes) {
      if (index < 0 || static_cast<std::size_t>(index) >= tags.size() || !tags[index]) continue;
      TDLLTag& tag = *tags[static_cast<std::size_t>(index)];
      if (tag.DataKind == TK571_VALUE_STRING) {
        tag.Value = TagValue::Text(analysis.data);
      } else {
        StoreTagValue(tag, analysis);
      }
      tag.UpdateTime = now;
      stored = true;
    }
    return stored;
  });
}

int64_t TCustomDLLObject::FieldStart(const TDLLTag& tag, const TCommand& command) {
  const ControllerTypeRow* row = ControllerTypeRowAt(tag.TypeIndex);
  const int64_t width = row ? row->ValueWidth : -1;
  return width * (static_cast<int64_t>(tag.Channel) - command.StartAddr) + 1;
}

void TCustomDLLObject::StoreTagValue(TDLLTag& tag, ReplyUnderAnalysis& reply) {
  const ControllerTypeRow* row = ControllerTypeRowAt(tag.TypeIndex);
  const int64_t width = row ? row->ValueWidth : -1;
  const std::string field =
      width > 0 ? std::string(SubText(reply.data, FieldStart(tag, reply.command), width))
                : reply.data;
  if (const auto number = ParseDecimal(RemoveSpaces(field)))
    tag.Value = tag.DataKind == TK571_VALUE_FLOAT ? TagValue::Double(*number)
                                                  : TagValue::Boolean(*number != 0);
}

void TCustomDLLObject::GetEchoDataStr(const std::string& reply, const TCommand& command,
                                      std::string& out) {
  const bool done = Guarded(this, "GetEchoDataStr", [&] {
    out = reply;
    const ControllerTypeRow* row = ControllerTypeRowAt(command.TypeIndex);
    if (!row || command.IsWrite) return;
    const auto terminator = static_cast<int64_t>(row->Terminator.size());
    if (row->ReadAnswerKind == answer_kind::kAddressed) {
      EraseFront(out, static_cast<int64_t>(row->ReadAnswerPrefix.size()));
      EraseFront(out, kStationFieldWidth);
      EraseFront(out, static_cast<int64_t>(row->ReadAnswerWord.size()));
      EraseBack(out, terminator);
    } else if (row->ReadAnswerKind == answer_kind::kWithStatus) {
      EraseFront(out, row->StatusLength);
      EraseFront(out, kStationFieldWidth);
      EraseFront(out, static_cast<int64_t>(row->ReadAnswerWord.size()));
      EraseFront(out, row->LeadingRemoved);
      EraseBack(out, terminator);
    }
    if (kChecksumKind != kChecksumNone) EraseBack(out, kChecksumWidth);
  });
  if (!done) out.clear();
}

void TCustomDLLObject::GetEchoStatusStr(const std::string& reply, const TCommand& command,
                                        std::string& out) {
  const bool done = Guarded(this, "GetEchoStatusStr", [&] {
    out.clear();
    const ControllerTypeRow* row = ControllerTypeRowAt(command.TypeIndex);
    if (row && !command.IsWrite && row->ReadAnswerKind == answer_kind::kWithStatus &&
        row->StatusLength > 0) {
      const int64_t skip = static_cast<int64_t>(row->ReadAnswerPrefix.size()) + kStationFieldWidth +
                           static_cast<int64_t>(row->ReadAnswerWord.size());
      out = std::string(SubText(reply, skip + 1, row->StatusLength));
    }
    if (command.TypeName == "TEST") WriteCommEvent(TK571_GBK("通讯成功"));
    if (out.empty()) return;
    for (const EchoCode& code : EchoCodes()) {
      if (out.compare(0, code.Code.size(), code.Code) == 0) {
        WriteCommEvent(platform::ToGbk(code.TextUtf8));
        break;
      }
    }
  });
  if (!done) out.clear();
}

}  // namespace tk571
