// Run log properties of the driver object.
#include "engine/base_dll_object.h"
#include "engine/run_log.h"
#include "platform/gbk.h"

namespace tk571 {

void TBaseDLLObject::MaintainLogFiles() {
  Guarded(this, "MaintainLogFiles", [] { tk571::MaintainLogFiles(); });
}

void TBaseDLLObject::WriteCommEvent(const std::string& text) {
  Guarded(this, "WriteCommEvent", [&] { Mailbox_.SetMessage(text); });
}

void TBaseDLLObject::WriteDevMsg(const std::string& text) {
  Guarded(this, "WriteDevMsg", [&] { DevMsg_ = text; });
}

void TBaseDLLObject::SetLogMsg(const std::string& text) {
  if (WriteLogText(text) || LogUnwritableReported_) return;
  // A line also drops while another process holds the file; only a log that
  // cannot be opened at all (its directory cannot be made, the file is
  // refused) is the host's business, once.
  if (OpenLogStream()) return;
  LogUnwritableReported_ = true;
  // Held until the host has taken the message before it: the start's own
  // messages would overwrite it.
  Mailbox_.HoldNotice(TK571_GBK("运行日志无法写入：") + LogFileName());
}

// An object whose creation lines could not all be written never switches
// logging on.
void TBaseDLLObject::SetEnLog(bool value) {
  Log_.SetEnLog(value);
}

}  // namespace tk571
