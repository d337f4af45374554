// Read/write cycle. Replaced wholesale by the read/write work.
#include "engine/base_dll_object.h"

namespace tk571 {

void TBaseDLLObject::SyncTagValue(TCommand&) {}
void TBaseDLLObject::RealComm(TCommand*) {}
bool TBaseDLLObject::WriteExecute(uint32_t, const TagValue&) {
  return false;
}
bool TBaseDLLObject::ReadExecute() {
  return true;
}
bool TBaseDLLObject::ReadExecuteEx() {
  return false;
}

}  // namespace tk571
