// The device test window (TSampleTest) behind an interactive DLLTestDev: the
// test table, the messages, the ask box and the advanced panel, copied from
// the test session after every event.
#pragma once

#include "platform/win32/windows_api.h"
#include "ui/device_test_logic.h"

namespace tk571::ui::win32 {

// Shows the window until 退出 or its close box; true when the device answered.
bool RunSampleTest(DeviceTestSession& session, HWND owner);

}  // namespace tk571::ui::win32
