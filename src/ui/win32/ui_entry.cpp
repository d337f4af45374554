#include "ui/win32/ui_entry.h"

#include "ui/win32/dialog_win32.h"
#include "ui/win32/sample_test_win32.h"
#include "ui/win32/wizard_win32.h"

namespace tk571::ui::win32 {

int32_t EditDevice(uintptr_t owner_window, void* host_block) {
  LoadCommonControls();
  WizardSession session(host_block);
  RunWizard(session, reinterpret_cast<HWND>(owner_window));
  return session.Result();
}

bool RunTestWindow(DeviceTestSession& session, const TDevicePDB& block) {
  const bool started = session.Begin(block);
  for (const std::string& text : session.TakeAlerts()) ShowMessage(nullptr, text);
  if (!started) return false;
  return RunSampleTest(session, nullptr);
}

}  // namespace tk571::ui::win32
