// The windows behind DLLEdDev on Windows: native dialogs owned by the host's
// window.
#pragma once

#include <cstdint>

namespace tk571::ui::win32 {

// DLLEdDev: runs the wizard on the host's block; 1 when the block changed
// and was accepted with 完成, otherwise 2.
int32_t EditDevice(uintptr_t owner_window, void* host_block);

}  // namespace tk571::ui::win32
