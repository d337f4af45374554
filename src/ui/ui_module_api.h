// What the dialog module (libtk571_485_ui.so) offers the driver: one C
// function that hands out a table of the dialogs. The driver and the module
// come from the same build; the interface number and the table's size keep
// a module of another build from being used.
#pragma once

#include <cstddef>
#include <cstdint>

#include "config/device_pdb.h"
#include "ui/device_test_logic.h"

namespace tk571::ui {

inline constexpr char kUiModuleFile[] = "libtk571_485_ui.so";
inline constexpr char kUiModuleEntry[] = "tk571_ui_module";
inline constexpr uint32_t kUiModuleInterface = 1;

extern "C" {

struct UiModuleTable {
  uint32_t interface_number;
  uint32_t table_size;
  // DLLEdDev: runs the wizard on the host's block; 1 when the block changed
  // and was accepted, otherwise 2.
  int32_t (*edit_device)(uintptr_t owner_window, void* host_block);
  // The interactive device test: starts the session on `block` and shows
  // the test window; true when the device answered.
  bool (*run_test_window)(DeviceTestSession* session, const TDevicePDB* block);
};

using UiModuleEntry = const UiModuleTable* (*)();

}  // extern "C"

}  // namespace tk571::ui
