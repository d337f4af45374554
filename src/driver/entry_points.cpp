// The fourteen entry points. None lets an error escape to the host: every
// failure is a result plus a message.
#include <algorithm>
#include <cstring>
#include <optional>
#include <vector>

#include "config/device_pdb.h"
#include "driver/device_test.h"
#include "driver/tag_kinds.h"
#include "driver/thread_objects.h"
#include "driver/ui_module.h"
#include "engine/guarded.h"
#include "engine/run_log.h"
#include "platform/clock.h"
#include "platform/gbk.h"
#include "platform/host_event.h"
#include "platform/host_string.h"
#include "platform/local_time.h"
#include "platform/thread_slot.h"
#include "tk571/driver.h"
#ifdef TK571_HAVE_WIN32_UI
#include "ui/win32/ui_entry.h"
#endif

using namespace tk571;

namespace {

const std::string& NoObjectText() {
  return TK571_GBK("通讯设备初始化失败");
}

class OpenOnExit {
 public:
  explicit OpenOnExit(platform::AutoResetEvent& gate) : gate_(gate) {}
  ~OpenOnExit() { gate_.Set(); }
  OpenOnExit(const OpenOnExit&) = delete;
  OpenOnExit& operator=(const OpenOnExit&) = delete;

 private:
  platform::AutoResetEvent& gate_;
};

// Hands a text to the host through a message out-parameter (which may be null).
void HandOver(char** message, const std::string& text) {
  if (message) *message = platform::NewHostString(text);
}

// The calling thread object's pending message, taken and cleared.
std::string TakeMessage(TDLLObject& object) {
  return object.Mailbox().TakeMessage();
}

// Hands posted work to the object's owner: its line thread, or the calling
// thread itself once the line thread has ended (after FreeDriver).
void HandOverPosts(TDLLObject& object) {
  if (LineThread* line = ThreadLine())
    line->Wake();
  else
    object.TakeHostPosts();
}

void SetLengthPrefixed(uint8_t (&field)[256], const std::string& text) {
  const std::size_t length = std::min<std::size_t>(text.size(), kShortStringMax);
  field[0] = static_cast<uint8_t>(length);
  std::memcpy(field + 1, text.data(), length);
}

// Only the three value types of the host have a meaning; the value field of
// any other holds no pointer the driver may follow.
std::optional<TagValue> ValueOfRecord(const TTagValueRec& record) {
  switch (record.ValueType) {
    case TK571_VALUE_FLOAT:
      return TagValue::Double(record.Value.Float);
    case TK571_VALUE_BOOL:
      return TagValue::Boolean(record.Value.Bool != 0);
    case TK571_VALUE_STRING:
      return TagValue::Text(platform::FromHostString(record.Value.String));
    default:
      return std::nullopt;
  }
}

void FillRecord(TTagValueRec& record, const HostReport& tag, double now) {
  record.TagID = tag.tag_id;
  record.TimeStamp = now;
  record.ValueType = tag.data_kind;
  record.Quality = tag.quality;
  switch (tag.data_kind) {
    case TK571_VALUE_FLOAT:
      record.Value.Float = tag.value.AsDouble();
      break;
    case TK571_VALUE_BOOL:
      record.Value.Bool = tag.value.AsBoolean() ? 1u : 0u;
      break;
    case TK571_VALUE_STRING:
      record.Value.String = platform::NewHostString(tag.value.AsText());
      break;
    default:
      break;
  }
}

}  // namespace

extern "C" {

TK571_EXPORT void TK571_CALL GetTagAddrList(uint32_t, int32_t* count, TTagAddrDesc* list) {
  const auto kinds = TagKinds();
  if (!count) return;
  if (!list) {
    *count = static_cast<int32_t>(kinds.size());
    return;
  }
  const int32_t n = std::clamp<int32_t>(*count, 0, static_cast<int32_t>(kinds.size()));
  for (int32_t i = 0; i < n; ++i) {
    const TagKind& kind = kinds[static_cast<std::size_t>(i)];
    TTagAddrDesc& out = list[i];
    std::memset(&out, 0, sizeof(out));
    SetLengthPrefixed(out.Name, kind.name);
    SetLengthPrefixed(out.Description, platform::ToGbk(kind.description_utf8));
    out.ValueType = kind.value_type;
    out.Access = kind.access;
    out.Upper = kind.upper;
    out.Lower = kind.lower;
    out.Reserved = 0;
  }
}

TK571_EXPORT TK571Bool TK571_CALL DLLTestDev(void* pdb, uint32_t interactive) {
  if (!pdb) return 0;
  // Only the low byte of the mode counts.
  return RunDeviceTest(pdb, (interactive & 0xFFu) != 0) ? 1 : 0;
}

TK571_EXPORT TK571Bool TK571_CALL TagEdAddr(void* pdb, char** address, TK571Bool accept_unchecked,
                                            char** message) {
  return CatchAll([&]() -> TK571Bool {
    std::string text = address ? platform::FromHostString(*address) : std::string();
    std::string note;
    bool valid = false;
    if (!pdb) {
      note = NoObjectText();
    } else if (accept_unchecked) {
      valid = true;
    } else {
      TDLLObject checker(false);
      valid = checker.CheckTagAddr(TDevicePDB::Load(pdb), text);
      note = TakeMessage(checker);
    }
    HandOver(message, note);
    if (address) *address = platform::NewHostString(text);
    return valid ? 1 : 0;
  });
}

TK571_EXPORT void* TK571_CALL FullPDB(void* pdb) {
  if (!pdb) return nullptr;
  TDevicePDB block = TDevicePDB::Load(pdb);
  block.FillDefaults();
  block.Store(pdb);
  return pdb;
}

TK571_EXPORT int32_t TK571_CALL GetPDBLen(void) {
  return static_cast<int32_t>(kPdbSize);
}

TK571_EXPORT int32_t TK571_CALL DLLEdDev(uintptr_t owner_window, void* pdb) {
  constexpr int32_t kCancelled = 2;
  if (!pdb) return kCancelled;
  return CatchAll(
      [&] {
#if defined(TK571_HAVE_WIN32_UI)
        return ui::win32::EditDevice(owner_window, pdb);
#else
        if (const ui::UiModuleTable* module = UiModule()) {
          return module->edit_device(owner_window, pdb);
        }
#endif
        TDevicePDB block = TDevicePDB::Load(pdb);
        block.Normalize();
        block.Store(pdb);
        // Without the user interface the wizard cannot run: the user could not
        // confirm anything.
        return kCancelled;
      },
      kCancelled);
}

TK571_EXPORT void TK571_CALL WriteLog(TK571Bool enable, char** message) {
  TDLLObject* const object = ThreadObject();
  if (!object) {
    HandOver(message, NoObjectText());
    return;
  }
  if (!object->Mailbox().MessagePending()) {
    HandOver(message, std::string());
    return;
  }
  HostPost post;
  post.kind = HostPost::Kind::kEnLog;
  post.on = enable != 0;
  object->Mailbox().Post(std::move(post));
  HandOverPosts(*object);
  HandOver(message, TakeMessage(*object));
}

TK571_EXPORT TK571Bool TK571_CALL FreeDriver(void) {
  // The line thread lets go of the port before the object closes it.
  StopThreadLine();
  if (TDLLObject* object = ThreadObject()) object->Stop();
  return 1;
}

TK571_EXPORT TK571Bool TK571_CALL OnDataWrite(uint32_t count, TTagValueRec* records,
                                              char** message) {
  TDLLObject* const object = ThreadObject();
  if (!object || count == 0 || !records) {
    HandOver(message, NoObjectText());
    return 0;
  }
  std::vector<HostMailbox::HostWrite> writes;
  writes.reserve(count);
  for (uint32_t i = 0; i < count; ++i)
    writes.push_back({records[i].TagID, records[i].ValueType, ValueOfRecord(records[i])});
  // The line thread carries the writes out between exchanges; the answer is
  // what they will come to, foreseen from what it last published.
  const bool result = object->Mailbox().PostWrites(writes);
  HandOverPosts(*object);
  HandOver(message, TakeMessage(*object));
  return result ? 1 : 0;
}

TK571_EXPORT TK571Bool TK571_CALL OnDataRead(int32_t* count, TTagValueRec* records,
                                             char** message) {
  if (count) *count = 0;
  // The poll no longer reads the port, which was where a host's cancellation
  // of its polling thread took effect; the thread still ends in here, and its
  // slot's destructor stops the line thread.
  platform::AcceptThreadCancel();
  TDLLObject* const object = ThreadObject();
  if (!object || !records) {
    HandOver(message, NoObjectText());
    return 1;
  }
  const std::string note = TakeMessage(*object);
  const double now = platform::HostDateNow();
  int32_t reported = 0;
  for (const HostReport& tag : object->Mailbox().TakeReports())
    FillRecord(records[reported++], tag, now);
  if (count) *count = reported;
  HandOver(message, note);
  return 1;
}

TK571_EXPORT uint16_t TK571_CALL DetectScanTime(void) {
  constexpr uint16_t kNoObjectScanTime = 1000;
  TDLLObject* const object = ThreadObject();
  return object ? static_cast<uint16_t>(object->Mailbox().ScanTime()) : kNoObjectScanTime;
}

TK571_EXPORT TK571Bool TK571_CALL GetDeviceStatus(char** message) {
  TDLLObject* const object = ThreadObject();
  HandOver(message, object ? TakeMessage(*object) : NoObjectText());
  return 1;
}

TK571_EXPORT TK571Bool TK571_CALL IniDriverEx(uint32_t event_handle) {
  TDLLObject* const object = ThreadObject();
  if (!object) return 1;
  // The driver writes 8-byte counters into the event: a descriptor of
  // anything else, passed by mistake, would be corrupted.
  if (event_handle != 0 && !platform::IsHostEvent(event_handle)) {
    WriteLogText(LogLine(TK571_GBK("：主机事件") + std::to_string(event_handle) +
                         TK571_GBK("不是eventfd，驱动程序不向它发信号！")));
    event_handle = 0;
  }
  object->Mailbox().SetFailEvent(event_handle);
  return 1;
}

TK571_EXPORT TK571Bool TK571_CALL IniDriver(int32_t tag_count, TTagInfo** tags, void* pdb,
                                            char** message) {
  if (message) *message = nullptr;
  if (!tags) {
    HandOver(message, TK571_GBK("无效的标签列表。"));
    return 0;
  }
  if (!pdb) {
    HandOver(message, TK571_GBK("无效的参数信息。"));
    return 0;
  }
  platform::AutoResetEvent* gate = StartGate();
  if (!gate) {
    HandOver(message, "TLSEvent = 0");
    return 0;
  }
  if (!gate->Wait(kStartGateWaitMs)) {
    HandOver(message, TK571_GBK("设备不支持并发访问，共享冲突。"));
    return 0;
  }
  // The gate opens again however the start ends, thread cancellation
  // included.
  const OpenOnExit open_gate(*gate);
  const bool started = CatchAll([&] {
    SetThreadObject(MakeDriverObject());
    TDLLObject& object = *ThreadObject();
    std::vector<const TTagInfo*> definitions;
    definitions.reserve(static_cast<std::size_t>(std::max(tag_count, 0)));
    for (int32_t i = 0; i < tag_count; ++i)
      if (tags[i]) definitions.push_back(tags[i]);
    TDevicePDB block = TDevicePDB::Load(pdb);
    block.Normalize();
    block.Store(pdb);
    const bool result = object.IniDLLObj(&block, definitions);
    HandOver(message, TakeMessage(object));
    return result;
  });
  if (!started) return 0;
  // An object whose line never runs would show its tags for ever.
  if (StartThreadLine()) return 1;
  DestroyThreadObject();
  return 0;
}

}  // extern "C"
