// The windows behind DLLEdDev and an interactive DLLTestDev on Windows: native dialogs owned by the
// host's window.
#pragma once

#include <cstdint>

#include "config/device_pdb.h"
#include "ui/device_test_logic.h"

namespace tk571::ui::win32 {

// DLLEdDev: runs the wizard on the host's block; 1 when the block changed
// and was accepted with 完成, otherwise 2.
int32_t EditDevice(uintptr_t owner_window, void* host_block);

// The interactive device test: starts the session on `block` and shows the
// test window; true when the device answered.
bool RunTestWindow(DeviceTestSession& session, const TDevicePDB& block);

}  // namespace tk571::ui::win32
