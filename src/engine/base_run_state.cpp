// Run-state machine of the engine. Replaced wholesale by the run-state work.
#include "engine/base_dll_object.h"

namespace tk571 {

bool TBaseDLLObject::GetResult() {
  return false;
}
void TBaseDLLObject::GetRunEvent() {}
void TBaseDLLObject::SwitchRunStatus() {}
void TBaseDLLObject::UpdateLinkStatus() {}
void TBaseDLLObject::opSystemError_Exec() {}
void TBaseDLLObject::opInit_Exec() {}
void TBaseDLLObject::opInitACK_Exec() {}
void TBaseDLLObject::opInitNAK_Exec() {}
void TBaseDLLObject::opClrInitError_Exec() {}
void TBaseDLLObject::opStop_Exec() {}
void TBaseDLLObject::opStopACK_Exec() {}
void TBaseDLLObject::opStopNAK_Exec() {}
void TBaseDLLObject::opClrStopError_Exec() {}
void TBaseDLLObject::opLink_Exec() {}
void TBaseDLLObject::opLinkACK_Exec() {}
void TBaseDLLObject::opLinkNAK_Exec() {}
void TBaseDLLObject::opClrLinkError_Exec() {}
void TBaseDLLObject::opUnLink_Exec() {}
void TBaseDLLObject::opUnLinkACK_Exec() {}
void TBaseDLLObject::opUnLinkNAK_Exec() {}
void TBaseDLLObject::opClrUnLinkError_Exec() {}
void TBaseDLLObject::opReadCmd_Exec() {}
void TBaseDLLObject::opReadACK_Exec() {}
void TBaseDLLObject::opReadNAK_Exec() {}
void TBaseDLLObject::opClrReadError_Exec() {}
void TBaseDLLObject::opWriteCmd_Exec() {}
void TBaseDLLObject::opWriteACK_Exec() {}
void TBaseDLLObject::opWriteNAK_Exec() {}
void TBaseDLLObject::opClrWriteError_Exec() {}
void TBaseDLLObject::opParmCmd_Exec() {}
void TBaseDLLObject::opParmACK_Exec() {}
void TBaseDLLObject::opParmNAK_Exec() {}
void TBaseDLLObject::opClrParmError_Exec() {}
void TBaseDLLObject::opRailCmd_Exec() {}
void TBaseDLLObject::opRailACK_Exec() {}
void TBaseDLLObject::opRailNAK_Exec() {}
void TBaseDLLObject::opClrRailError_Exec() {}
void TBaseDLLObject::opResvLink1_Exec() {}
void TBaseDLLObject::opResvLink1ACK_Exec() {}
void TBaseDLLObject::opResvLink1NAK_Exec() {}
void TBaseDLLObject::opClrResvLink1Error_Exec() {}
void TBaseDLLObject::opResvLink2_Exec() {}
void TBaseDLLObject::opResvLink2ACK_Exec() {}
void TBaseDLLObject::opResvLink2NAK_Exec() {}
void TBaseDLLObject::opClrResvLink2Error_Exec() {}
void TBaseDLLObject::opResvLink3_Exec() {}
void TBaseDLLObject::opResvLink3ACK_Exec() {}
void TBaseDLLObject::opResvLink3NAK_Exec() {}
void TBaseDLLObject::opClrResvLink3Error_Exec() {}
void TBaseDLLObject::opClrSystemError_Exec() {}

}  // namespace tk571
