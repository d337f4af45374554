// The debug log viewer without its widgets: the three log switches of the
// working copy, the rule that enables the viewer's controls, and reading and
// writing the run log. The log's lines stay GBK; the widget converts them.
#pragma once

#include <string>
#include <vector>

#include "ui/driver_info.h"
#include "ui/wizard_session.h"

namespace tk571::ui {

class DebugViewerLogic {
 public:
  static constexpr int kLoadBarMax = 10;
  static constexpr int kLoadBarRestart = 5;
  static constexpr int kLoadDelayMs = 500;
  static constexpr int kLoadBarStepMs = 100;

  // What the window shows; the widget copies it into its controls after
  // every action.
  struct View {
    bool debug_checked = false;
    bool errors_checked = false;
    bool trace_checked = false;
    bool controls_enabled = false;  // memo, both output switches, save, print
    bool load_pending = false;      // Timer1
    bool load_bar_visible = false;  // LoadBar and Timer2
    int load_bar = 0;
    std::string status;              // Label2
    std::vector<std::string> lines;  // LogMemo
  };

  DebugViewerLogic(WizardSession& session, std::string log_path);

  const View& view() const { return view_; }

  // Sets up the window from the working copy's switches, as at creation.
  void Create();
  // EnDebugChk clicked, or checked by the program. True when the caller is to
  // show the performance warning (at most once per window, never while the
  // window is not yet shown).
  bool SetDebug(bool checked, bool window_shown);
  void SetErrors(bool checked);
  void SetTrace(bool checked);
  // Timer1: loads today's log once.
  void LoadTick();
  // Timer2: animates the progress bar while the log loads.
  void LoadBarTick();

  // The memo's lines as the user edited them.
  void SetLines(std::vector<std::string> lines) { view_.lines = std::move(lines); }
  bool SaveAs(const std::string& path) const;
  // Replaces the run log's content by the memo's lines.
  bool SaveChanges() const;
  // 关闭窗口: the switches go back to the host's block at once.
  void Finish();

  static std::string WarningText();
  static std::string DefaultStatus();
  const std::string& log_path() const { return log_path_; }

 private:
  void ApplyEnablingRule();

  WizardSession& session_;
  std::string log_path_;
  View view_;
  bool warned_ = false;
};

// File contents as memo lines (CR LF or LF ends) and back (CR LF after
// every line).
std::vector<std::string> SplitLogLines(const std::string& bytes);
std::string JoinLogLines(const std::vector<std::string>& lines);

}  // namespace tk571::ui
