#include "ui/win32/dialog_win32.h"

#include <commctrl.h>

#include <vector>

#include "ui/driver_info.h"

namespace tk571::ui::win32 {

namespace {

// Every text of the driver is code page 936, whatever the system's ANSI page.
constexpr UINT kGbkCodePage = 936;
constexpr WORD kDialogFontPoints = 9;
constexpr wchar_t kDialogFont[] = L"MS Shell Dlg";

// DLGTEMPLATE, an empty menu and class, an empty title, then the font.
std::vector<WORD> EmptyTemplate(int width, int height) {
  std::vector<WORD> words(sizeof(DLGTEMPLATE) / sizeof(WORD), 0);
  auto* head = reinterpret_cast<DLGTEMPLATE*>(words.data());
  head->style = DS_SETFONT | DS_MODALFRAME | DS_CENTER | WS_POPUP | WS_CAPTION | WS_SYSMENU;
  head->cx = static_cast<short>(width);
  head->cy = static_cast<short>(height);
  words.insert(words.end(), {0, 0, 0, kDialogFontPoints});
  for (const wchar_t* c = kDialogFont; *c; ++c) words.push_back(static_cast<WORD>(*c));
  words.push_back(0);
  return words;
}

}  // namespace

void LoadCommonControls() {
  INITCOMMONCONTROLSEX classes{sizeof(INITCOMMONCONTROLSEX),
                               ICC_TREEVIEW_CLASSES | ICC_LISTVIEW_CLASSES | ICC_PROGRESS_CLASS};
  InitCommonControlsEx(&classes);
}

std::wstring Wide(const std::string& gbk) {
  if (gbk.empty()) return std::wstring();
  const int size = static_cast<int>(gbk.size());
  const int length = MultiByteToWideChar(kGbkCodePage, 0, gbk.data(), size, nullptr, 0);
  std::wstring out(static_cast<std::size_t>(length), L'\0');
  MultiByteToWideChar(kGbkCodePage, 0, gbk.data(), size, out.data(), length);
  return out;
}

std::string Gbk(const std::wstring& text) {
  if (text.empty()) return std::string();
  const int size = static_cast<int>(text.size());
  const int length =
      WideCharToMultiByte(kGbkCodePage, 0, text.data(), size, nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<std::size_t>(length), '\0');
  WideCharToMultiByte(kGbkCodePage, 0, text.data(), size, out.data(), length, nullptr, nullptr);
  return out;
}

std::string TextOf(HWND control) {
  std::wstring text(static_cast<std::size_t>(GetWindowTextLengthW(control)) + 1, L'\0');
  text.resize(static_cast<std::size_t>(
      GetWindowTextW(control, text.data(), static_cast<int>(text.size()))));
  return Gbk(text);
}

void SetText(HWND control, const std::string& gbk) {
  SetWindowTextW(control, Wide(gbk).c_str());
}

void ShowMessage(HWND owner, const std::string& gbk) {
  MessageBoxW(owner, Wide(gbk).c_str(), Wide(CurrentDriverInfo().DeviceName).c_str(),
              MB_OK | MB_ICONINFORMATION);
}

INT_PTR Dialog::Run(HWND owner, int width, int height, const std::string& title_gbk) {
  title_ = title_gbk;
  const std::vector<WORD> words = EmptyTemplate(width, height);
  return DialogBoxIndirectParamW(GetModuleHandleW(nullptr),
                                 reinterpret_cast<const DLGTEMPLATE*>(words.data()), owner, Proc,
                                 reinterpret_cast<LPARAM>(this));
}

HWND Dialog::Add(const wchar_t* window_class, const std::string& text_gbk, DWORD style, int x,
                 int y, int width, int height, int id, DWORD ex_style) {
  RECT area{x, y, x + width, y + height};
  MapDialogRect(hwnd_, &area);
  HWND control = CreateWindowExW(
      ex_style, window_class, Wide(text_gbk).c_str(), WS_CHILD | WS_VISIBLE | style, area.left,
      area.top, area.right - area.left, area.bottom - area.top, hwnd_,
      reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), GetModuleHandleW(nullptr), nullptr);
  // Controls made after the dialog do not inherit its font.
  SendMessageW(control, WM_SETFONT, SendMessageW(hwnd_, WM_GETFONT, 0, 0), FALSE);
  return control;
}

INT_PTR CALLBACK Dialog::Proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == WM_INITDIALOG) {
    auto* self = reinterpret_cast<Dialog*>(lparam);
    SetWindowLongPtrW(window, DWLP_USER, lparam);
    self->hwnd_ = window;
    SetText(window, self->title_);
    self->Build();
    return TRUE;
  }
  auto* self = reinterpret_cast<Dialog*>(GetWindowLongPtrW(window, DWLP_USER));
  if (!self) return FALSE;
  switch (message) {
    case WM_COMMAND:
      self->Command(LOWORD(wparam), HIWORD(wparam));
      return TRUE;
    case WM_NOTIFY:
      self->Notify(*reinterpret_cast<const NMHDR*>(lparam));
      return TRUE;
    case WM_TIMER:
      self->Timer(wparam);
      return TRUE;
    default:
      return FALSE;
  }
}

}  // namespace tk571::ui::win32
