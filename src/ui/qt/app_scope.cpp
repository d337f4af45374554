#include "ui/qt/app_scope.h"

#include <QApplication>
#include <cstdlib>

namespace tk571::ui {

namespace {

bool Set(const char* name) {
  const char* value = std::getenv(name);
  return value && *value;
}

// Qt ends the process when it cannot reach the display it was told to use,
// so a host without one gets no window rather than a crash.
bool DisplayAvailable() {
  return Set("QT_QPA_PLATFORM") || Set("DISPLAY") || Set("WAYLAND_DISPLAY");
}

}  // namespace

AppScope::AppScope() {
  if (QCoreApplication* existing = QCoreApplication::instance()) {
    usable_ = qobject_cast<QApplication*>(existing) != nullptr;
    return;
  }
  if (!DisplayAvailable()) return;
  app_ = std::make_unique<QApplication>(argc_, argv_);
  usable_ = true;
}

AppScope::~AppScope() = default;

}  // namespace tk571::ui
