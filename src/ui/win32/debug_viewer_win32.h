// The debug log viewer (TDebugFrm), opened from the wizard's start page: the
// three log switches of the working copy and today's run log, with save,
// print and the progress bar while the log loads.
#pragma once

#include "platform/win32/windows_api.h"
#include "ui/driver_info.h"
#include "ui/wizard_session.h"

namespace tk571::ui::win32 {

void RunDebugViewer(WizardSession& session, const DriverInfo& info, HWND owner);

}  // namespace tk571::ui::win32
