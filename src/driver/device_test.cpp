#include "driver/device_test.h"

#include "driver/thread_objects.h"
#include "driver/ui_module.h"
#include "engine/guarded.h"
#include "platform/gbk.h"
#include "platform/host_string.h"
#include "tk571/driver.h"
#include "ui/device_test_logic.h"
#ifdef TK571_HAVE_WIN32_UI
#include "ui/win32/ui_entry.h"
#endif

namespace tk571 {

namespace {

// Takes a string the entry points handed out.
std::string TakeHostString(char* text) {
  std::string out = platform::FromHostString(text);
  platform::FreeHostString(text);
  return out;
}

// The thread's driver object as the test sees it. Rebound on every Object()
// call, since each start replaces the thread's object.
class ThreadTestObject : public ui::TestObject {
 public:
  void Bind(TDLLObject* object) {
    if (object != object_) last_read_ = nullptr;
    object_ = object;
  }
  // A new object may take the place of the old one at the same address.
  void Forget() {
    object_ = nullptr;
    last_read_ = nullptr;
  }

  int32_t TagCount() const override { return object_->TagCount(); }
  int32_t ScanTime() const override { return object_->ScanTime(); }
  std::string TagAddress(int32_t position) const override {
    return object_->TagAt(position)->Address;
  }
  uint8_t TagDataKind(int32_t position) const override {
    return object_->TagAt(position)->DataKind;
  }
  TagValue TagValueAt(int32_t position) const override { return object_->TagAt(position)->Value; }
  std::string TakeMessage() override { return object_->Mailbox().TakeMessage(); }
  std::vector<std::string> ReadRequests() const override {
    std::vector<std::string> out;
    for (const CommandPtr& command : object_->ReadCommands())
      if (command) out.push_back(command->Request);
    return out;
  }
  // The object has a command only while an exchange runs, and the step that
  // completes an answer also ends the exchange. Between exchanges the test
  // sees the read command that ran last: its whole answer, and the command
  // a typed request replaces.
  bool HasCurrentCommand() const override { return Shown() != nullptr; }
  bool CurrentIsWrite() const override { return Shown()->IsWrite != 0; }
  std::string CurrentRequest() const override { return Shown()->Request; }
  std::string CurrentResponse() const override { return Shown()->Response; }
  void SetCurrentRequest(const std::string& request) override { Shown()->Request = request; }
  // ReadExecute succeeds for every step that raised no error; the step
  // answered only when it finished a read exchange that was answered.
  bool ReadStep() override {
    const uint32_t reads_before = object_->Totals().reads;
    NoteRead();
    object_->ReadExecute();
    NoteRead();
    return object_->Totals().reads != reads_before && object_->LastCommOK();
  }
  bool Write(uint32_t tag_id, const TagValue& value) override {
    return object_->WriteExecute(tag_id, value);
  }

 private:
  void NoteRead() {
    TCommand* command = object_->CurrentCommand();
    if (command && !command->IsWrite) last_read_ = command;
  }
  // Read commands live as long as their object; writes are released after
  // their exchange and are never remembered.
  TCommand* Shown() const {
    if (TCommand* command = object_->CurrentCommand()) return command;
    for (const CommandPtr& head : object_->ReadCommands())
      for (TCommand* command = head.get(); command; command = command->Next.get())
        if (command == last_read_) return command;
    return nullptr;
  }

  TDLLObject* object_ = nullptr;
  TCommand* last_read_ = nullptr;
};

class EntryPointTestDriver : public ui::TestDriver {
 public:
  StartResult Start(const TTagInfo& tag, TDevicePDB& block) override {
    // The definition stays in place for as long as the object may read it.
    tag_ = tag;
    object_.Forget();
    TTagInfo* tags[] = {&tag_};
    char* message = nullptr;
    StartResult result;
    // The test window steps the object itself, one exchange per step.
    const SteppedByCaller stepped;
    result.started = IniDriver(1, tags, block.data(), &message) != 0;
    result.message = TakeHostString(message);
    // The serial port reports a port it could not open with this text.
    result.port_unavailable =
        !result.started &&
        result.message.find(TK571_GBK("不存在或被其它程序占用！")) != std::string::npos;
    return result;
  }

  ui::TestObject* Object() override {
    TDLLObject* object = ThreadObject();
    if (!object) return nullptr;
    object_.Bind(object);
    return &object_;
  }

  void StopObject() override {
    object_.Forget();
    FreeDriver();
  }

  std::string NormalAddress(const TDevicePDB& block, const std::string& address) override {
    TDevicePDB copy = block;
    std::string text = address;
    char* in_out = text.data();
    char* message = nullptr;
    TagEdAddr(copy.data(), &in_out, 0, &message);
    TakeHostString(message);
    // The entry point hands back a fresh copy unless it failed before that.
    if (in_out == text.data()) return address;
    return TakeHostString(in_out);
  }

 private:
  TTagInfo tag_{};
  ThreadTestObject object_;
};

}  // namespace

bool RunDeviceTest(const void* host_block, bool interactive) {
  const bool answered = CatchAll([&] {
    TDevicePDB block;
    block.CopyFrom(TDevicePDB::Load(host_block));
    EntryPointTestDriver driver;
    ui::DeviceTestSession session(driver);
    // The silent probe shows no window, not even its message boxes.
    if (!interactive) return session.Begin(block) && session.ProbeSilently();
#if defined(TK571_HAVE_WIN32_UI)
    return ui::win32::RunTestWindow(session, block);
#else
    const ui::UiModuleTable* module = UiModule();
    return module && module->run_test_window(&session, &block);
#endif
  });
  DestroyThreadObject();
  return answered;
}

}  // namespace tk571
