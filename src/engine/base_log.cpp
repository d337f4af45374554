// Run log properties of the driver object.
#include "engine/base_dll_object.h"

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

}  // namespace tk571
