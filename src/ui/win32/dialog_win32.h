// A modal dialog built at run time. Its template holds no text but the face
// name of the dialog font: every text is set from the driver's GBK texts
// through code page 936, so that no resource compiler touches them.
#pragma once

#include <string>

#include "platform/win32/windows_api.h"

namespace tk571::ui::win32 {

// The tree view, list view and progress bar classes, before the first dialog.
void LoadCommonControls();

std::wstring Wide(const std::string& gbk);
std::string Gbk(const std::wstring& text);
// A control's text as GBK, and a GBK text into a control.
std::string TextOf(HWND control);
void SetText(HWND control, const std::string& gbk);
void ShowMessage(HWND owner, const std::string& gbk);

class Dialog {
 public:
  Dialog() = default;
  Dialog(const Dialog&) = delete;
  Dialog& operator=(const Dialog&) = delete;
  virtual ~Dialog() = default;

  // Shows the dialog, owned by `owner`, until Close(); sizes in dialog units.
  INT_PTR Run(HWND owner, int width, int height, const std::string& title_gbk);

 protected:
  virtual void Build() = 0;
  // WM_COMMAND of a control; IDCANCEL also for Esc and the close box.
  virtual void Command(int id, int code) = 0;
  virtual void Notify(const NMHDR& /*header*/) {}
  virtual void Timer(UINT_PTR /*id*/) {}

  // A child control in dialog units, with the dialog's font.
  HWND Add(const wchar_t* window_class, const std::string& text_gbk, DWORD style, int x, int y,
           int width, int height, int id = 0, DWORD ex_style = 0);
  HWND Item(int id) const { return GetDlgItem(hwnd_, id); }
  HWND hwnd() const { return hwnd_; }
  void Close(INT_PTR result) { EndDialog(hwnd_, result); }

 private:
  static INT_PTR CALLBACK Proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam);

  HWND hwnd_ = nullptr;
  std::string title_;
};

}  // namespace tk571::ui::win32
