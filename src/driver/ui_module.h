// The dialog module behind DLLEdDev and the interactive DLLTestDev. The
// driver library links no toolkit: the module (with Qt) is loaded from the
// library's directory the first time a dialog is wanted.
#pragma once

#include "ui/ui_module_api.h"

namespace tk571 {

// The module's table; null when the module cannot be used, which the run
// log says once, with the reason.
const ui::UiModuleTable* UiModule();

}  // namespace tk571
