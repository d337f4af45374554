// The dialog module's only exported symbol.
#include "ui/qt/ui_entry.h"
#include "ui/ui_module_api.h"

namespace tk571::ui {

namespace {

bool RunTestWindowOf(DeviceTestSession* session, const TDevicePDB* block) {
  return session && block && RunTestWindow(*session, *block);
}

const UiModuleTable kTable{kUiModuleInterface, sizeof(UiModuleTable), &EditDevice,
                           &RunTestWindowOf};

}  // namespace

}  // namespace tk571::ui

extern "C" __attribute__((visibility("default"))) const tk571::ui::UiModuleTable*
tk571_ui_module() {
  return &tk571::ui::kTable;
}
