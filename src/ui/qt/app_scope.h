// A QApplication for the length of one dialog, when the host has none.
#pragma once

#include <memory>

class QApplication;

namespace tk571::ui {

class AppScope {
 public:
  AppScope();
  ~AppScope();
  AppScope(const AppScope&) = delete;
  AppScope& operator=(const AppScope&) = delete;

  // False when no window can be shown: the host runs a non-widget Qt
  // application, or there is no display to connect to.
  bool usable() const { return usable_; }

 private:
  int argc_ = 1;
  char name_[16] = "tk571_485";
  char* argv_[2] = {name_, nullptr};
  std::unique_ptr<QApplication> app_;
  bool usable_ = false;
};

}  // namespace tk571::ui
