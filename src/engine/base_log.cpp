// Run log properties of the driver object.
#include "engine/base_dll_object.h"
#include "engine/run_log.h"

namespace tk571 {

void TBaseDLLObject::MaintainLogFiles() {
  Guarded("TBaseDLLObject", "MaintainLogFiles", [] { tk571::MaintainLogFiles(); });
}

void TBaseDLLObject::WriteCommEvent(const std::string& text) {
  Guarded("TBaseDLLObject", "WriteCommEvent", [&] { sErrEvent_ = text; });
}

void TBaseDLLObject::WriteDevMsg(const std::string& text) {
  Guarded("TBaseDLLObject", "WriteDevMsg", [&] { DevMsg_ = text; });
}

void TBaseDLLObject::SetLogMsg(const std::string& text) {
  WriteLogText(text);
}

// An object whose creation lines could not all be written never switches
// logging on.
void TBaseDLLObject::SetEnLog(bool value) {
  Log_.SetEnLog(value);
}

}  // namespace tk571
