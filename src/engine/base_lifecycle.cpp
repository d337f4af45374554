// Construction, parameter loading, start, stop and destruction.
#include <cmath>

#include "engine/address_text.h"
#include "engine/base_dll_object.h"
#include "engine/part_names.h"
#include "engine/run_log.h"
#include "engine/system_report.h"
#include "platform/clock.h"
#include "platform/gbk.h"

namespace tk571 {

namespace {

// Rates and periods of the stop report: nearest integer, halves to even.
std::string RoundedText(double value) {
  return FloatText(std::nearbyint(value));
}

}  // namespace

TBaseDLLObject::TBaseDLLObject(bool first_instance) : FirstInstance_(first_instance) {
  Sink sink(*this);
  Log_.SetSysInfoLogged(CatchAll([&] {
    MaintainLogFiles();
    return WriteCreationLines(sink);
  }));
  Guarded(this, "Create", [&] {
    DevLinkStatus_.fill(0);
    DevFailCount_.fill(0xFFFFFFFFu);
    DevInUse_.fill(1);
    LinkStatus_ = 0;
    RunState_ = rsIdle;
    RunEvent_ = opNone;
  });
}

TBaseDLLObject::~TBaseDLLObject() {
  Guarded(this, "Destroy", [&] {
    Log_.AssignEnLog(true);
    LastCommOK_ = false;
    CommEnabled_ = true;
    if (!Stopped_) Stop();
    if (!Unloading_) MaintainLogFiles();
  });
}

bool TBaseDLLObject::IniParm(const TDevicePDB* block) {
  return Guarded(this, "IniParm", false, [&] {
    if (!block) return false;
    Pdb_.CopyFrom(*block);
    ParmLoaded_ = true;
    Log_.SetSwitches(Pdb_.DebugEnabled() != 0, Pdb_.LogErrors() != 0, Pdb_.LogTrace() != 0);
    DefaultDevNo_ = 99;
    for (int i = 0; i < kDeviceCount; ++i) {
      if (!Pdb_.InUse(i)) continue;
      DefaultDevNo_ = std::min(DefaultDevNo_, static_cast<int32_t>(Pdb_.DeviceNumber(i)));
      if (DebugOn())
        SetLogMsg(DateTimeText() + TK571_GBK("：工程中存在") + address_text::FourDigits(i) +
                  TK571_GBK("号") + DriverPartNames().DevTypeName + TK571_GBK("：") +
                  Pdb_.TypeName(i) + kCrLf);
    }
    return true;
  });
}

bool TBaseDLLObject::IniDLLObj(const TDevicePDB* block, const std::vector<const TTagInfo*>& tags) {
  return Guarded(this, "IniDLLObj", false, [&] {
    if (Initialized_) Stop();
    bool result = false;
    if (IniParm(block)) {
      result = IniTagList(tags);
    } else {
      if (const std::string message = sErrEvent(); !message.empty())
        SetLogMsg(DateTimeText() + TK571_GBK("：") + message + kCrLf);
      SetLogMsg(DateTimeText() + TK571_GBK("：设备加载失败！") + kCrLf);
    }
    if (result) RunEvent_ = opInit;
    PublishStart();
    return result;
  });
}

void TBaseDLLObject::WriteTagReport(uint32_t run_ms) {
  for (const auto& tag : Tags_) {
    const double reads = tag->ReadCount;
    const double read_rate = reads == 0 ? 0 : tag->ReadFailCount * 100.0 / reads;
    const double period = reads == 0 ? 0 : run_ms / reads;
    SetLogMsg(DateTimeText() + TK571_GBK("：标签") + tag->Name + TK571_GBK("，地址=") +
              tag->Address + TK571_GBK("，读扫描周期(毫秒)=") + RoundedText(period) +
              TK571_GBK("，读操作失败率= ") + RoundedText(read_rate) + "%");
    if (tag->Writable) {
      const double write_rate =
          tag->WriteCount == 0 ? 0 : tag->WriteFailCount * 100.0 / tag->WriteCount;
      SetLogMsg(TK571_GBK("，写操作总次数=") + std::to_string(tag->WriteCount) +
                TK571_GBK("，写操作失败率= ") + RoundedText(write_rate) + "%" + kCrLf);
    } else {
      SetLogMsg(kCrLf);
    }
  }
}

TBaseDLLObject::ExchangeTotals TBaseDLLObject::Totals() const {
  return {ReadCommCount_,  ReadTimeoutCount_,  ReadFailTotal_,
          WriteCommCount_, WriteTimeoutCount_, WriteFailTotal_};
}

void TBaseDLLObject::WriteTotals() {
  const double write_rate = WriteCommCount_ == 0 ? 0 : 100.0 * WriteTimeoutCount_ / WriteCommCount_;
  const double read_rate = ReadCommCount_ == 0 ? 0 : 100.0 * ReadTimeoutCount_ / ReadCommCount_;
  const std::string d = DateTimeText();
  SetLogMsg(d + TK571_GBK("：读操作失败总次数= ") + std::to_string(ReadFailTotal_) + kCrLf);
  SetLogMsg(d + TK571_GBK("：写操作失败总次数= ") + std::to_string(WriteFailTotal_) + kCrLf);
  SetLogMsg(d + TK571_GBK("：写通讯总次数= ") + FloatText(WriteCommCount_) + kCrLf);
  SetLogMsg(d + TK571_GBK("：通讯写超时总次数= ") + FloatText(WriteTimeoutCount_) + kCrLf);
  SetLogMsg(d + TK571_GBK("：通讯写超时率= ") + FloatText(write_rate) + "%" + kCrLf);
  SetLogMsg(d + TK571_GBK("：读通讯总次数= ") + FloatText(ReadCommCount_) + kCrLf);
  SetLogMsg(d + TK571_GBK("：通讯读超时次数= ") + FloatText(ReadTimeoutCount_) + kCrLf);
  SetLogMsg(d + TK571_GBK("：通讯读超时率= ") + FloatText(read_rate) + "%" + kCrLf);
  for (std::size_t dev = 0; dev < DevDiscarded_.size(); ++dev) {
    if (DevDiscarded_[dev] == 0) continue;
    SetLogMsg(d + TK571_GBK("：") + std::to_string(dev) + TK571_GBK("号设备丢弃的字节总数= ") +
              std::to_string(DevDiscarded_[dev]) + kCrLf);
  }
}

void TBaseDLLObject::ReleaseLists() {
  ReleaseCommandLists();
  Tags_.clear();
  TagIndex_.Reset(0);
  TagCount_ = 0;
}

void TBaseDLLObject::Stop() {
  Guarded(this, "Stop", [&] {
    if (Initialized_) {
      // The report runs to its end or to the first failure; the lists are
      // released and the object stopped in either case.
      Guarded(this, "Stop", [&] {
        StopTick_ = platform::Tick();
        const uint32_t run_ms = StopTick_ - StartTick_;
        SetLogMsg(kCrLf);
        for (auto& command : ReadCommands_) command->Next.reset();
        WriteTagReport(run_ms);
        Sink sink(*this);
        WriteMemoryLines(sink);
        SetLogMsg(kCrLf + DateTimeText() + TK571_GBK("：本次运行总时间（毫秒）=") +
                  FloatText(run_ms) + kCrLf);
        ReleaseLists();
        WriteTotals();
        WriteStopClosingLines(sink);
      });
    }
    ReleaseLists();
    Stopped_ = true;
    Initialized_ = false;
    Mailbox_.Close();
  });
}

}  // namespace tk571
