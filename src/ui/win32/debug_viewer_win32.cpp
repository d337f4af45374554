#include "ui/win32/debug_viewer_win32.h"

#include <commctrl.h>
#include <commdlg.h>

#include <string>
#include <vector>

#include "platform/gbk.h"
#include "ui/debug_viewer_logic.h"
#include "ui/dialog_texts.h"
#include "ui/win32/control_ids.h"
#include "ui/win32/dialog_win32.h"
#include "ui/win32/print_lines_win32.h"
#include "ui/wizard_pages.h"

namespace tk571::ui::win32 {

namespace {

constexpr int kWidth = 360;
constexpr int kHeight = 250;
constexpr UINT_PTR kLoadTimer = 1;  // Timer1
constexpr UINT_PTR kBarTimer = 2;   // Timer2

class TDebugFrm : public Dialog {
 public:
  TDebugFrm(WizardSession& session, const DriverInfo& info)
      : info_(info), logic_(session, RunLogPath()) {}

  void Show(HWND owner) {
    Run(owner, kWidth, kHeight, PageTitle(info_, texts::DebugViewerCaption()));
  }

 private:
  void Build() override {
    Add(L"BUTTON", texts::DebugSwitch(), BS_CHECKBOX | WS_TABSTOP, 7, 7, 70, 12, kEnDebugChk);
    Add(L"BUTTON", texts::ErrorOutput(), BS_CHECKBOX | WS_TABSTOP, 82, 7, 80, 12, kErrorChk);
    Add(L"BUTTON", texts::TraceOutput(), BS_CHECKBOX | WS_TABSTOP, 167, 7, 80, 12, kTraceChk);
    Add(L"STATIC", "", SS_LEFT, 7, 23, kWidth - 14, 10, kLabel2);
    HWND bar = Add(PROGRESS_CLASSW, "", 0, 7, 35, kWidth - 14, 8, kLoadBar);
    SendMessageW(bar, PBM_SETRANGE32, 0, DebugViewerLogic::kLoadBarMax);
    Add(L"EDIT", "",
        ES_MULTILINE | ES_AUTOVSCROLL | ES_AUTOHSCROLL | ES_WANTRETURN | WS_VSCROLL | WS_HSCROLL |
            WS_BORDER | WS_TABSTOP,
        7, 47, kWidth - 14, 172, kLogMemo);
    const struct {
      int id;
      const std::string& text;
    } buttons[] = {{kSaveBtn, texts::SaveAs()},
                   {kSaveChangesBtn, texts::SaveChanges()},
                   {kLogPrnBtn, texts::Print()},
                   {kCloseViewerBtn, texts::CloseWindow()}};
    int x = kWidth - 7 - 4 * 50 - 3 * 4;
    for (const auto& button : buttons) {
      Add(L"BUTTON", button.text, BS_PUSHBUTTON | WS_TABSTOP, x, 229, 50, 14, button.id);
      x += 54;
    }
    logic_.Create();
    Render(true);
  }

  void Command(int id, int code) override {
    if (code != BN_CLICKED) return;
    switch (id) {
      case kEnDebugChk: {
        const bool checked = !logic_.view().debug_checked;
        const bool warn = logic_.SetDebug(checked, IsWindowVisible(hwnd()) != FALSE);
        Render(!checked);
        if (warn) ShowMessage(hwnd(), DebugViewerLogic::WarningText());
        break;
      }
      case kErrorChk:
        logic_.SetErrors(!logic_.view().errors_checked);
        Render(false);
        break;
      case kTraceChk:
        logic_.SetTrace(!logic_.view().trace_checked);
        Render(false);
        break;
      case kSaveBtn:
        SaveAs();
        break;
      case kSaveChangesBtn:
        TakeMemo();
        logic_.SaveChanges();
        break;
      case kLogPrnBtn:
        TakeMemo();
        PrintLines(hwnd(), logic_.log_path(), logic_.view().lines);
        break;
      case kCloseViewerBtn:
        logic_.Finish();
        Close(IDOK);
        break;
      case IDCANCEL:
        Close(IDCANCEL);
        break;
      default:
        break;
    }
  }

  void Timer(UINT_PTR id) override {
    if (id == kLoadTimer) {
      logic_.LoadTick();
      Render(true);
    } else if (id == kBarTimer) {
      logic_.LoadBarTick();
      Render(false);
    }
  }

  void SaveAs() {
    const std::wstring filter =
        Wide(TK571_GBK("调试日志文件 (*.log)")) + L'\0' + L"*.log" + L'\0' + L'\0';
    const std::wstring title = Wide(texts::SaveAs());
    wchar_t path[MAX_PATH] = {};
    OPENFILENAMEW choice{};
    choice.lStructSize = sizeof(choice);
    choice.hwndOwner = hwnd();
    choice.lpstrFilter = filter.c_str();
    choice.lpstrFile = path;
    choice.nMaxFile = MAX_PATH;
    choice.lpstrTitle = title.c_str();
    choice.lpstrDefExt = L"Log";
    choice.Flags = OFN_OVERWRITEPROMPT | OFN_PATHMUSTEXIST;
    if (!GetSaveFileNameW(&choice)) return;
    TakeMemo();
    logic_.SaveAs(Gbk(path));
  }

  void TakeMemo() { logic_.SetLines(SplitLogLines(TextOf(Item(kLogMemo)))); }

  void Render(bool with_memo) {
    const DebugViewerLogic::View& view = logic_.view();
    CheckDlgButton(hwnd(), kEnDebugChk, view.debug_checked ? BST_CHECKED : BST_UNCHECKED);
    CheckDlgButton(hwnd(), kErrorChk, view.errors_checked ? BST_CHECKED : BST_UNCHECKED);
    CheckDlgButton(hwnd(), kTraceChk, view.trace_checked ? BST_CHECKED : BST_UNCHECKED);
    for (const int id : {kLogMemo, kErrorChk, kTraceChk, kSaveBtn, kLogPrnBtn, kSaveChangesBtn})
      EnableWindow(Item(id), view.controls_enabled);
    SetText(Item(kLabel2), view.status);
    ShowWindow(Item(kLoadBar), view.load_bar_visible ? SW_SHOW : SW_HIDE);
    SendMessageW(Item(kLoadBar), PBM_SETPOS, static_cast<WPARAM>(view.load_bar), 0);
    Arm(kLoadTimer, view.load_pending, DebugViewerLogic::kLoadDelayMs, load_armed_);
    Arm(kBarTimer, view.load_bar_visible, DebugViewerLogic::kLoadBarStepMs, bar_armed_);
    if (with_memo) SetText(Item(kLogMemo), JoinLogLines(view.lines));
  }

  // Setting a running timer again would restart it: Timer2's ticks would
  // keep Timer1 from ever firing.
  void Arm(UINT_PTR id, bool wanted, UINT interval_ms, bool& armed) {
    if (wanted && !armed) SetTimer(hwnd(), id, interval_ms, nullptr);
    if (!wanted && armed) KillTimer(hwnd(), id);
    armed = wanted;
  }

  const DriverInfo& info_;
  DebugViewerLogic logic_;
  bool load_armed_ = false;
  bool bar_armed_ = false;
};

}  // namespace

void RunDebugViewer(WizardSession& session, const DriverInfo& info, HWND owner) {
  TDebugFrm viewer(session, info);
  viewer.Show(owner);
}

}  // namespace tk571::ui::win32
