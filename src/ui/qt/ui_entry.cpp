#include "ui/qt/ui_entry.h"

#include "ui/qt/app_scope.h"
#include "ui/qt/sample_test_widget.h"
#include "ui/qt/widget_common.h"
#include "ui/qt/wizard_widgets.h"

namespace tk571::ui {

int32_t EditDevice(uintptr_t owner_window, void* host_block) {
  AppScope app;
  WizardSession session(host_block);
  // Without a display the user cannot confirm anything.
  if (!app.usable()) return kEditCancelled;
  RunWizard(session, owner_window);
  return session.Result();
}

bool RunTestWindow(DeviceTestSession& session, const TDevicePDB& block) {
  AppScope app;
  if (!app.usable()) return false;
  const bool started = session.Begin(block);
  for (const std::string& text : session.TakeAlerts()) ShowMessage(nullptr, text);
  if (!started) return false;
  TSampleTest window(session);
  window.exec();
  return session.answered();
}

}  // namespace tk571::ui
