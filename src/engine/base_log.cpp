// Run log properties of the driver object.
#include "engine/base_dll_object.h"
#include "engine/date_text.h"
#include "platform/gbk.h"

namespace tk571 {

void TBaseDLLObject::MaintainLogFiles() {}
void TBaseDLLObject::WriteCommEvent(const std::string& text) {
  sErrEvent_ = text;
}
void TBaseDLLObject::WriteDevMsg(const std::string& text) {
  DevMsg_ = text;
}
void TBaseDLLObject::SetLogMsg(const std::string&) {}
void TBaseDLLObject::SetEnLog(bool value) {
  EnLog_ = value;
}

void TBaseDLLObject::LogException(const char* where) noexcept {
  try {
    if (LogErrorsOn())
      SetLogMsg(DateTimeText() + TK571_GBK("：") + where + TK571_GBK("异常！") + "\r\n");
  } catch (...) {
    // A line that cannot be composed is dropped like one that cannot be written.
  }
}

}  // namespace tk571
