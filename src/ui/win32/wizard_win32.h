// The wizard's pages as native dialogs. Each page forwards its controls to the
// page logic of wizard_pages.h and shows what the logic left in the session.
#pragma once

#include "platform/win32/windows_api.h"
#include "ui/wizard_session.h"

namespace tk571::ui::win32 {

// Shows the pages from the start page until one ends the wizard, each modal
// and owned by `owner`.
void RunWizard(WizardSession& session, HWND owner);

}  // namespace tk571::ui::win32
