// Read commands, the engine defaults of the command-building hooks and the
// scheduler that picks the next command.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <string>

#include "engine/base_dll_object.h"
#include "engine/library_values.h"
#include "engine/link_texts.h"
#include "engine/part_names.h"
#include "engine/run_log.h"
#include "platform/clock.h"
#include "platform/gbk.h"
#include "platform/line_wait.h"

namespace tk571 {

namespace {

std::string ShortString(std::string text) {
  CutToShortString(text);
  return text;
}

// Time left until a command is due, in the wrapping 32-bit arithmetic of the
// tick counter; negative when overdue.
int32_t WaitOf(const TCommand& command, uint32_t now) {
  return static_cast<int32_t>(static_cast<uint32_t>(command.Interval) - now + command.LastTick);
}

int32_t AddWrapping(int32_t a, int64_t b) {
  return static_cast<int32_t>(static_cast<uint32_t>(a) + static_cast<uint32_t>(b));
}

}  // namespace

// --- Ownership of commands.

void TBaseDLLObject::FreeCommand(CommandPtr& command) {
  command.reset();
}

void TBaseDLLObject::ReleaseChain(TCommand* head) {
  if (!head) return;
  // Find the owning link of `head`: the running write, a read command, a
  // queued write, or the Next link of a command in one of their chains.
  const auto find_in_chain = [head](CommandPtr& first) -> CommandPtr* {
    for (CommandPtr* link = &first; *link; link = &(*link)->Next)
      if (link->get() == head) return link;
    return nullptr;
  };
  CommandPtr* owner = find_in_chain(RunningWrite_);
  for (std::size_t i = 0; !owner && i < ReadCommands_.size(); ++i)
    owner = find_in_chain(ReadCommands_[i]);
  for (std::size_t i = 0; !owner && i < WriteQueue_.size(); ++i)
    owner = find_in_chain(WriteQueue_[i]);
  if (!owner) return;
  FreeCommand(*owner);
  // A released list entry leaves its slot.
  std::erase(ReadCommands_, nullptr);
  std::erase(WriteQueue_, nullptr);
}

void TBaseDLLObject::ReleaseCommandLists() {
  CurrentCommand_ = nullptr;
  CurrentHead_ = nullptr;
  RunningWrite_.reset();
  WriteQueue_.clear();
  ReadCommands_.clear();
}

std::string TBaseDLLObject::ValueText(const TDLLTag& tag, const TagValue& value) {
  switch (tag.DataKind) {
    case TK571_VALUE_FLOAT:
      return FloatText(value.AsDouble());
    case TK571_VALUE_BOOL:
      return value.AsBoolean() ? "True" : "False";
    default:
      return value.AsText();
  }
}

std::string TBaseDLLObject::CommandListingHead(const TCommand& command, const TagValue* written) {
  const bool known_entry = command.DevNo >= 0 && command.DevNo < kDeviceCount;
  std::string text =
      DateTimeText() + TK571_GBK("：") + DriverPartNames().DevTypeName + TK571_GBK("类型=") +
      (known_entry ? Pdb_.TypeName(command.DevNo) : std::string()) + TK571_GBK("，") +
      DriverPartNames().DevIDName + "=" + std::to_string(command.DevNo) + "[";
  for (int32_t index : command.Indexes) {
    const TDLLTag* tag = TagAt(index);
    if (!tag) continue;
    text += tag->Name + TK571_GBK(" 地址=") + tag->Address + " ";
    if (written) text += TK571_GBK("写入值=") + ValueText(*tag, *written) + ",";
  }
  return text;
}

// --- Building the read command list.

void TBaseDLLObject::Refresh() {
  Guarded(this, "Refresh", [&] {
    if (!Initialized_) return;
    BuildReadCommands();
    ReadCommCount_ = 0;
    WriteCommCount_ = 0;
    ReadTimeoutCount_ = 0;
    WriteTimeoutCount_ = 0;
    ReadFailTotal_ = 0;
    DevDiscarded_.fill(0);
    WriteFailTotal_ = 0;
    StartTick_ = platform::Tick();
    RunningWrite_.reset();
    WriteQueue_.clear();
    OptimizeCommParm();
    ScanTime_ = GetInterval();
    Log_.AssignEnLog(HasEnLogTag_);
  });
}

void TBaseDLLObject::BuildReadCommands() {
  // The current command may be one of the commands released here.
  CurrentCommand_ = nullptr;
  CurrentHead_ = nullptr;
  ReadCommands_.clear();
  LinkTags_.clear();
  LinkShown_ = false;
  DevLinkShown_.fill(false);
  for (std::size_t position = 0; position < Tags_.size(); ++position) {
    const auto& tag = Tags_[position];
    if (tag)
      if (const auto kind = LinkTagKindOf(*tag))
        LinkTags_.push_back({static_cast<int32_t>(position), *kind});
  }
  // Tags that open commands first, then those that only join one.
  for (const bool joining : {false, true}) {
    for (const auto& tag : Tags_) {
      if (!tag || tag->Internal || JoinsOnly(*tag) != joining) continue;
      const TagTypeRow* row = TypeRow(tag->TypeIndex);
      const bool readable = row && row->Readable;
      const bool writable = row && row->Writable;
      if (!readable && writable) continue;
      if (CommandPtr command = CreatCommand(*tag, ReadCommands_, false))
        ReadCommands_.push_back(std::move(command));
    }
  }
}

void TBaseDLLObject::OptimizeCommParm() {
  Guarded(this, "OptimizeCommParm", [&] {
    for (const CommandPtr& first : ReadCommands_) {
      for (TCommand* command = first.get(); command; command = command->Next.get()) {
        if (command->HasFlag(command_flags::kTagBound) && !command->Sealed) command->Sealed = 1;
        if (!DebugOn()) continue;
        SetLogMsg(CommandListingHead(*command, nullptr) + TK571_GBK("]生成读标签命令=") +
                  command->Request + kCrLf);
      }
    }
  });
}

int32_t TBaseDLLObject::GetInterval() {
  return Guarded(this, "GetInterval", int32_t{0}, [&] {
    SetLogMsg(DateTimeText() + TK571_GBK("：有效标签个数=") + std::to_string(Tags_.size()) + kCrLf);
    return int32_t{10};
  });
}

// --- Engine defaults of the command-building hooks.

bool TBaseDLLObject::NeedCreatCommand(std::vector<CommandPtr>& list, TDLLTag& tag, bool is_write) {
  return Guarded(this, "NeedCreatCommand", false, [&] {
    const TagTypeRow* row = TypeRow(tag.TypeIndex);
    if (is_write) {
      if (!WriteQueued(tag)) return row && row->Writable;
      if (LogErrorsOn()) LogWriteRefused(tag, TK571_GBK("重复写入,"), tag.Value);
      return false;
    }
    if (!row || !row->Readable) return false;
    for (const CommandPtr& command : list) {
      if (!command || command->DevNo != tag.DevNo || command->TypeIndex != tag.TypeIndex) continue;
      if (tag.Channel < command->StartAddr || tag.Channel > command->EndAddr) continue;
      command->Indexes.push_back(tag.Index);
      if (tag.ScanTime < static_cast<uint32_t>(command->Interval))
        command->Interval = static_cast<int32_t>(tag.ScanTime);
      return false;
    }
    return true;
  });
}

CommandPtr TBaseDLLObject::CreatCommand(TDLLTag& tag, std::vector<CommandPtr>& list,
                                        bool is_write) {
  return Guarded(this, "CreatCommand", CommandPtr(), [&]() -> CommandPtr {
    if (!NeedCreatCommand(list, tag, is_write)) return nullptr;

    // The work value of a number; no tag type writes bits of a word.
    if (tag.DataKind == TK571_VALUE_FLOAT) tag.WorkValue = tag.Value.AsDouble();

    auto command = std::make_unique<TCommand>();
    command->Indexes = {tag.Index};
    command->TypeName = ShortString(tag.TypeName);
    command->TypeIndex = tag.TypeIndex;
    command->IsWrite = is_write ? 1 : 0;
    command->RawValue = SaturatedInt32(tag.WorkValue);
    command->Interval = static_cast<int32_t>(tag.ScanTime);
    command->Quality = 1.0f;
    command->DevNo = tag.DevNo;
    command->LowChannel = tag.Channel;
    command->HighChannel = tag.Channel;
    command->StartAddr = GetCommandStartAddr(*command, tag);
    command->EndAddr = GetCommandEndAddr(*command, tag);
    command->Flags = command_flags::kRead;
    command->RetryMode = retry_mode::kGiveUp;
    std::string text;
    GetAskStr(*command, tag, text, is_write);
    command->Request = ShortString(std::move(text));
    text.clear();
    GetAnswerMainStr(*command, tag, text, is_write);
    command->Answer = ShortString(std::move(text));
    command->Value = tag.Value;
    command->Sealed = 0;

    const uint32_t now = platform::Tick();
    if (is_write) {
      command->Flags = command_flags::kWriteCommand;
      command->RetryMode = retry_mode::kSendAgain;
      command->Sealed = 1;
      command->Interval = AddWrapping(0, -10 * static_cast<int64_t>(list.size()));
      command->LastTick = now;
      if (DebugOn() && TakeTraceLine()) {
        SetLogMsg(CommandListingHead(*command, &tag.Value) + TK571_GBK("]生成写标签命令串=") +
                  command->Request + kCrLf);
      }
    } else {
      command->LastTick = now - static_cast<uint32_t>(command->Interval);
    }
    return command;
  });
}

int32_t TBaseDLLObject::GetCommandStartAddr(const TCommand&, const TDLLTag&) {
  return 0;
}

int32_t TBaseDLLObject::GetCommandEndAddr(const TCommand&, const TDLLTag&) {
  return 0;
}

void TBaseDLLObject::GetAskStr(TCommand&, TDLLTag& tag, std::string& out, bool is_write) {
  Guarded(this, "GetAskStr", [&] {
    out = (is_write ? TK571_GBK("向设备发送写标签") : TK571_GBK("向设备发送读标签")) + tag.Name +
          TK571_GBK("命令");
  });
}

void TBaseDLLObject::GetAnswerMainStr(TCommand&, TDLLTag& tag, std::string& out, bool is_write) {
  Guarded(this, "GetAnswerMainStr", [&] {
    out = (is_write ? TK571_GBK("设备返回写标签") : TK571_GBK("设备返回读标签")) + tag.Name +
          TK571_GBK("命令的响应");
  });
}

// --- The scheduler.

void TBaseDLLObject::GetNextCommand() {
  CurrentCommand_ = nullptr;
  CurrentHead_ = nullptr;
  // No exchange runs while the next command is chosen: the host's posts are
  // taken here, so that a line whose exchanges follow each other without a
  // pause still takes them between two, and a write posted now goes first.
  TakeHostPosts();
  if (!CommEnabled_) {
    NextDueMs_ = platform::kWaitForever;
    return;
  }
  Guarded(this, "GetNextCommand", [&] {
    // A write taken from the queue whose turn ended without an answer or a
    // failure (its device could not be selected, its line not raised) goes
    // back to the head of the queue, unless it has become stale.
    if (RunningWrite_) {
      if (platform::TicksSince(RunningWrite_->QueuedTick) > kStaleWriteMs) {
        for (int32_t index : RunningWrite_->Indexes)
          if (TDLLTag* tag = TagAt(index)) tag->Quality = kQualityStaleWrite;
        RunningWrite_.reset();
      } else {
        WriteQueue_.push_front(std::move(RunningWrite_));
      }
    }

    int32_t best = 1;
    TCommand* chosen = nullptr;
    // The soonest a command falls due, for the line thread's sleep.
    int64_t soonest = platform::kWaitForever;
    const auto due_in = [&](int64_t ms) { soonest = std::min(soonest, std::max<int64_t>(ms, 0)); };
    for (const CommandPtr& command : ReadCommands_) {
      if (!command) continue;
      const uint32_t now = platform::Tick();
      command->Wait = WaitOf(*command, now);
      const int32_t n = command->FailCount;
      if (n > 3 && n < 10) {
        command->Wait = AddWrapping(command->Wait, int64_t{n} * command->Interval);
      } else if (n > 10) {
        if (now - command->LastTick > kBackOffResetMs) {
          command->FailCount = 0;
        } else {
          command->Wait = AddWrapping(command->Wait, int64_t{10} * command->Interval);
          // The back-off ends early when its reset comes first.
          due_in(int64_t{kBackOffResetMs} + 1 - (now - command->LastTick));
        }
      }
      due_in(command->Wait);
      if (command->Wait < best) {
        best = command->Wait;
        if (best <= 0) chosen = command.get();
      }
    }
    CurrentCommand_ = chosen;

    if (!WriteQueue_.empty() && WriteQueue_.front()) {
      TCommand& write = *WriteQueue_.front();
      write.Wait = WaitOf(write, platform::Tick());
      due_in(write.Wait);
      if (write.Wait < best) {
        RunningWrite_ = std::move(WriteQueue_.front());
        WriteQueue_.pop_front();
        CurrentCommand_ = RunningWrite_.get();
      }
    }

    NextDueMs_ = static_cast<uint32_t>(soonest);
    if (CurrentCommand_) {
      CurrentHead_ = CurrentCommand_;
      CurrentCommand_->LastTick = platform::Tick();
    }
  });
}

void TBaseDLLObject::GetCommandNext() {
  Guarded(this, "GetCommandNext", [&] {
    if (!CurrentCommand_) return;
    if (CurrentCommand_->Next) {
      CurrentCommand_ = CurrentCommand_->Next.get();
      return;
    }
    if (CurrentCommand_->HasFlag(command_flags::kReleaseAfterRun))
      ReleaseChain(CurrentHead_ ? CurrentHead_ : CurrentCommand_);
    CurrentCommand_ = nullptr;
    CurrentHead_ = nullptr;
  });
}

}  // namespace tk571
