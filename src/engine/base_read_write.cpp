// Read/write cycle: one run step per host poll, and the host's writes turned
// into queued write commands.
#include <algorithm>
#include <string>

#include "engine/base_dll_object.h"
#include "engine/library_values.h"
#include "engine/run_log.h"
#include "platform/clock.h"
#include "platform/gbk.h"

namespace tk571 {

void TBaseDLLObject::SyncTagValue(TCommand&) {}

void TBaseDLLObject::MarkSent(uint32_t limit_ms) {
  ++Requests_;
  SendTick_ = platform::Tick();
  AnswerLimitMs_ = limit_ms != 0 ? limit_ms : ReplyTimeout;
  ReplyRejected_ = false;
  ExchangeInterfered_ = false;
}

void TBaseDLLObject::NoteDiscarded(int32_t dev_no, std::string_view bytes) {
  if (bytes.empty()) return;
  if (dev_no >= 0 && dev_no < kDeviceCount)
    DevDiscarded_[static_cast<std::size_t>(dev_no)] += bytes.size();
  if (LogTraceOn())
    SetLogMsg(DateTimeText() + TK571_GBK("：丢弃不属于应答的字节=") + HexBytes(bytes) + kCrLf);
}

bool TBaseDLLObject::ReplyOverdue(uint32_t limit_ms) const {
  return platform::TicksSince(SendTick_) > limit_ms;
}

bool TBaseDLLObject::DeviceInUse(int32_t dev_no) const {
  return dev_no >= 0 && dev_no < kDeviceCount && DevInUse_[static_cast<std::size_t>(dev_no)];
}

bool TBaseDLLObject::WriteQueued(const TDLLTag& tag) const {
  return std::any_of(WriteQueue_.begin(), WriteQueue_.end(), [&](const CommandPtr& queued) {
    return queued && !queued->Indexes.empty() && queued->Indexes.front() == tag.Index &&
           !queued->Values.empty() && queued->Values.front() == tag.Value;
  });
}

void TBaseDLLObject::RealComm(TCommand* command) {
  Guarded(this, "RealComm", [&] {
    if (!command || !CommEnabled_) return;
    command->Response.clear();
    MarkSent();
  });
}

bool TBaseDLLObject::ReadExecute() {
  return Guarded(this, "ReadExecute", false, [&] {
    if (Stopped_) return true;
    if (CommEnabled_) {
      GetRunEvent();
      SwitchRunStatus();
    }
    return true;
  });
}

void TBaseDLLObject::LogWriteRefused(const TDLLTag& tag, const std::string& reason,
                                     const TagValue& value) {
  SetLogMsg(DateTimeText() + TK571_GBK("：标签写入请求未执行：") + tag.Name + reason +
            TK571_GBK(" 地址=") + tag.Address + TK571_GBK(", 标签值="));
  SetLogMsg(ValueText(tag, value));
  SetLogMsg(kCrLf);
}

bool TBaseDLLObject::WriteExecute(uint32_t tag_id, const TagValue& value) {
  return CarryOutWrite(tag_id, value, std::nullopt);
}

bool TBaseDLLObject::CarryOutWrite(uint32_t tag_id, const TagValue& value,
                                   std::optional<WriteVerdict> told) {
  return Guarded(this, "WriteExecute", false, [&] {
    if (!ParmLoaded_) {
      const TDevicePDB own = Pdb_;
      IniParm(&own);
    }
    if (!Initialized_) return false;

    const int32_t p = TagIndex_.Find(tag_id);
    if (p < 0 || static_cast<std::size_t>(p) >= Tags_.size()) return false;
    TDLLTag* const found = Tags_[static_cast<std::size_t>(p)].get();
    if (!found) {
      if (LogErrorsOn()) SetLogMsg(DateTimeText() + TK571_GBK("：写标签错误,标签不存在!") + kCrLf);
      return false;
    }
    TDLLTag& tag = *found;
    WriteVerdict verdict = JudgeWrite(WriteObjectFacts(), WriteFactsOf(tag), value);
    // A write the host was told is refused stays refused, for the reason it
    // was given, even where the object has moved on since (the write that
    // ran has ended, the queue has room again): only a collected set-point
    // takes its value.
    if (told && !Accepted(*told) && verdict == WriteVerdict::kBuild &&
        !(*told == WriteVerdict::kKept && WriteFactsOf(tag).collected))
      verdict = *told;
    switch (verdict) {
      case WriteVerdict::kSwitched:
        // Switches held by the driver itself take effect at once.
        if (const std::optional<bool> on = SwitchState(value)) {
          if (tag.TypeName == "ENLOG")
            Log_.AssignEnLog(*on);
          else
            SetCommEnabled(*on);
        }
        tag.Value = SwitchValue(tag.DataKind, tag.TypeName == "ENLOG" ? Log_.EnLog() : CommEnabled_,
                                tag.Value);
        return true;
      case WriteVerdict::kLinkStatus:
      case WriteVerdict::kNotWritable:
        if (LogErrorsOn())
          SetLogMsg(DateTimeText() + TK571_GBK("：标签") + tag.Name + TK571_GBK("不可写!") + kCrLf);
        return false;
      case WriteVerdict::kWrongKind: {
        if (LogErrorsOn()) {
          const std::string& mismatch = value.IsNumber() ? TK571_GBK("标签不是模拟量类型!")
                                        : value.IsBoolean() ? TK571_GBK("标签不是开关量类型!")
                                                            : TK571_GBK("标签不是字符串类型!");
          SetLogMsg(DateTimeText() + TK571_GBK("：标签") + tag.Name + TK571_GBK("写错误,") +
                    mismatch + kCrLf);
        }
        return false;
      }
      case WriteVerdict::kSameValue:
        if (LogErrorsOn()) LogWriteRefused(tag, TK571_GBK("写入值与当前值相同,"), tag.Value);
        return false;
      case WriteVerdict::kWriteRunning:
        if (LogErrorsOn()) LogWriteRefused(tag, TK571_GBK("正在执行写入操作,"), tag.Value);
        return false;
      case WriteVerdict::kKept:
        // The same write waits in the queue already.
        tag.Value = value;
        if (LogErrorsOn()) LogWriteRefused(tag, TK571_GBK("重复写入,"), tag.Value);
        return false;
      case WriteVerdict::kQueueFull:
        if (LogErrorsOn()) LogWriteRefused(tag, TK571_GBK("写入队列已满,"), value);
        return false;
      case WriteVerdict::kBuild:
        break;
      default:
        return false;
    }

    const auto is_for_tag = [&](const TCommand* command) {
      return command && !command->Indexes.empty() && command->Indexes.front() == tag.Index;
    };
    tag.SavedValue = tag.Value;
    tag.Value = value;
    CommandPtr command = CreatCommand(tag, ReadCommands_, true);
    // Without a command (a repeated write, or a type served without one) the
    // tag keeps the requested value.
    if (!command) return false;
    const uint32_t now = platform::Tick();
    command->Interval = kQueuedWriteInterval;
    command->QueuedTick = now;
    for (TCommand* link = command.get(); link; link = link->Next.get()) {
      link->Values = {tag.Value};
      SyncTagValue(*link);
    }
    tag.Value = tag.SavedValue;

    // The newest write for a tag replaces any still queued.
    for (auto it = WriteQueue_.begin(); it != WriteQueue_.end();) {
      if (!is_for_tag(it->get())) {
        ++it;
        continue;
      }
      CommandPtr replaced = std::move(*it);
      it = WriteQueue_.erase(it);
      FreeCommand(replaced);
      if (LogErrorsOn()) {
        SetLogMsg(DateTimeText() + TK571_GBK("：标签执行覆盖写入操作：") + tag.Name + "," +
                  TK571_GBK(" 地址=") + tag.Address + TK571_GBK(", 标签值="));
        SetLogMsg(ValueText(tag, tag.Value));
        SetLogMsg(kCrLf);
      }
    }

    // Writes that could not be sent within their time are dropped before the
    // new one is queued, so that they do not take its place in a full queue.
    while (!WriteQueue_.empty() &&
           (!WriteQueue_.front() || now - WriteQueue_.front()->QueuedTick > kStaleWriteMs)) {
      CommandPtr stale = std::move(WriteQueue_.front());
      WriteQueue_.pop_front();
      if (stale)
        for (int32_t index : stale->Indexes)
          if (TDLLTag* served = TagAt(index)) served->Quality = kQualityStaleWrite;
      FreeCommand(stale);
    }

    if (WriteQueue_.size() >= kWriteQueueLimit) {
      if (LogErrorsOn()) LogWriteRefused(tag, TK571_GBK("写入队列已满,"), value);
      FreeCommand(command);
      return false;
    }
    QueueWrite(std::move(command));
    return true;
  });
}

}  // namespace tk571
