// Control identifiers of the native dialogs. Test programs drive the dialogs
// through these, as a user would through the controls.
#pragma once

namespace tk571::ui::win32 {

enum ControlId : int {
  // Buttons every wizard page may have.
  kNextBtn = 1001,
  kLastBtn = 1002,
  kCancelBtn = 1003,
  kFinishBtn = 1004,
  kPrnBtn = 1005,
  kVersionBtn = 1006,
  kDebugBtn = 1007,
  kDownloadBtn = 1008,
  // TStartFrm
  kNewOp = 1101,
  kModifyOp = 1102,
  kBrowseOp = 1103,
  // TStep1Frm
  kSingleCreate = 1201,
  kMulCreate = 1202,
  // TStep11Frm, TStep2Frm, TStep12Frm
  kIDEd = 1301,
  kDevTypeEd = 1302,
  kTypeMemo = 1303,
  kDeviceTree = 1304,
  kAddBtn = 1305,
  kDelBtn = 1306,
  // TStep4Frm
  kComEd = 1401,
  kBautEd = 1402,
  kDataBitED = 1403,
  kStopBitED = 1404,
  kParityEd = 1405,
  // TEndFrm
  kComArgMemo = 1501,
  kUsageMemo = 1502,
  // TSampleTest
  kStringGrid1 = 1601,
  kSysMsg = 1602,
  kCommMsg = 1603,
  kAskMsg = 1604,
  kAskBtn = 1605,
  kAnswerMsg = 1606,
  kTestDebugBtn = 1607,
  kPauseBtn = 1608,
  kExitBtn = 1609,
  kAddrEd = 1610,
  kAnalogType = 1611,  // the three type buttons follow in order
  kReadCk = 1614,
  kWriteCk = 1615,
  kWValueMsg = 1616,
  kWStrMsg = 1617,
  // TDebugFrm
  kEnDebugChk = 1701,
  kErrorChk = 1702,
  kTraceChk = 1703,
  kLabel2 = 1704,
  kLoadBar = 1705,
  kLogMemo = 1706,
  kSaveBtn = 1707,
  kSaveChangesBtn = 1708,
  kLogPrnBtn = 1709,
  kCloseViewerBtn = 1710,
};

}  // namespace tk571::ui::win32
