// The device test window (TSampleTest): a thin view of DeviceTestSession.
#pragma once

#include <QDialog>

#include "ui/device_test_logic.h"

class QCheckBox;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QTableWidget;
class QTimer;
class QWidget;

namespace tk571::ui {

class TSampleTest : public QDialog {
 public:
  explicit TSampleTest(DeviceTestSession& session, QWidget* parent = nullptr);

  void done(int result) override;

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  void Render();
  void ShowAlerts();
  // Runs a session action, then shows its outcome.
  template <typename Action>
  void Do(Action action) {
    action();
    Render();
    ShowAlerts();
  }

  DeviceTestSession& session_;
  bool closed_ = false;
  QTableWidget* grid_;
  QLineEdit* sys_msg_;
  QLineEdit* comm_msg_;
  QLineEdit* addr_ed_;
  QRadioButton* type_buttons_[3];
  QCheckBox* read_ck_;
  QCheckBox* write_ck_;
  QLineEdit* value_ed_;
  QLineEdit* write_request_;
  QLineEdit* ask_ed_;
  QLineEdit* answer_;
  QPushButton* debug_btn_;
  QPushButton* pause_btn_;
  QWidget* advanced_;
  QTimer* timer_;
};

}  // namespace tk571::ui
