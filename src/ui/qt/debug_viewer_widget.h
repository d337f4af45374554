// The debug log viewer window (TDebugFrm), opened from the wizard's start page.
#pragma once

#include <QDialog>
#include <string>

#include "ui/debug_viewer_logic.h"

class QCheckBox;
class QPrinter;
class QLabel;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QTimer;

namespace tk571::ui {

class TDebugFrm : public QDialog {
 public:
  TDebugFrm(WizardSession& session, const DriverInfo& info, std::string log_path,
            QWidget* parent = nullptr);

  DebugViewerLogic& logic() { return logic_; }
  // Prints the memo's lines; used by PrnBtn after its print dialog.
  bool PrintLog(QPrinter& printer);

 private:
  void Render(bool with_memo);
  void TakeMemo();

  DebugViewerLogic logic_;
  QCheckBox* debug_chk_;
  QCheckBox* error_chk_;
  QCheckBox* trace_chk_;
  QPlainTextEdit* memo_;
  QPushButton* save_btn_;
  QPushButton* save_changes_btn_;
  QPushButton* print_btn_;
  QProgressBar* load_bar_;
  QLabel* status_;
  QTimer* load_timer_;
  QTimer* bar_timer_;
};

}  // namespace tk571::ui
