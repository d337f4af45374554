// The windows behind DLLEdDev and an interactive DLLTestDev. Only built with
// Qt; each call creates a QApplication for its own length when the host has
// none, and opens no window when there is no display to open it on.
#pragma once

#include <cstdint>

#include "config/device_pdb.h"
#include "ui/device_test_logic.h"

namespace tk571::ui {

// DLLEdDev: runs the wizard on the host's block; 1 when the block changed
// and was accepted, otherwise 2.
int32_t EditDevice(uintptr_t owner_window, void* host_block);

// The interactive device test: starts the session on `block` and shows the
// test window; true when the device answered.
bool RunTestWindow(DeviceTestSession& session, const TDevicePDB& block);

}  // namespace tk571::ui
