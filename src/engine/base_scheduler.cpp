// Read commands and the scheduler. Replaced wholesale by the scheduling work.
#include "engine/base_dll_object.h"

namespace tk571 {

void TBaseDLLObject::Refresh() {}
void TBaseDLLObject::OptimizeCommParm() {}
int32_t TBaseDLLObject::GetInterval() {
  return 10;
}
CommandPtr TBaseDLLObject::CreatCommand(TDLLTag&, std::vector<CommandPtr>&, bool) {
  return nullptr;
}
bool TBaseDLLObject::NeedCreatCommand(std::vector<CommandPtr>&, TDLLTag&, bool) {
  return false;
}
void TBaseDLLObject::GetAskStr(TCommand&, TDLLTag&, std::string&, bool) {}
void TBaseDLLObject::GetAnswerMainStr(TCommand&, TDLLTag&, std::string&, bool) {}
void TBaseDLLObject::FreeCommand(CommandPtr& command) {
  command.reset();
}
void TBaseDLLObject::GetNextCommand() {}
void TBaseDLLObject::GetCommandNext() {}

}  // namespace tk571
