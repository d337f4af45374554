// Drives the native dialogs of a thread from another thread, through
// messages to their controls as a user would click and type, and takes
// pictures of them as the screen shows them.
#pragma once

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "ui/win32/control_ids.h"
// The common controls' header needs the Windows API first.
// clang-format off
#include <windows.h>
#include <commctrl.h>
// clang-format on

namespace tk571_test {

using namespace tk571::ui::win32;

// A page that does not come is a fault of the dialogs, not a slow machine:
// the limit only keeps a broken run from hanging the test stage.
constexpr DWORD kPageLimitMs = 60000;

inline int g_failures = 0;
// What the test waits for, named in the message when it does not come.
inline const char* g_awaited = "the first dialog";

inline void Check(bool condition, const char* what) {
  if (condition) return;
  std::fprintf(stderr, "FAILED: %s\n", what);
  ++g_failures;
}

struct FindContext {
  HWND skip;
  HWND found;
};

inline BOOL CALLBACK TakeDialog(HWND window, LPARAM context_address) {
  auto& context = *reinterpret_cast<FindContext*>(context_address);
  wchar_t name[16] = {};
  GetClassNameW(window, name, 16);
  if (window == context.skip || !IsWindowVisible(window) || !IsWindowEnabled(window) ||
      std::wcscmp(name, L"#32770") != 0)
    return TRUE;
  context.found = window;
  return FALSE;
}

inline std::wstring Title(HWND window) {
  wchar_t text[256] = {};
  GetWindowTextW(window, text, 256);
  return text;
}

// Drives the windows of the thread that runs DLLEdDev.
class Pilot {
 public:
  Pilot(DWORD ui_thread, std::string picture_dir)
      : ui_thread_(ui_thread), picture_dir_(std::move(picture_dir)) {}

  // Waits until `gone` (the page being left, or none) is destroyed and an
  // enabled dialog of the UI thread is shown: the next page.
  HWND Await(HWND gone = nullptr) {
    return WaitFor([&](HWND found) { return found && (!gone || !IsWindow(gone)); }, nullptr);
  }

  // Waits for an enabled dialog above `page`, which a modal box disables.
  HWND AwaitAbove(HWND page) {
    return WaitFor([](HWND found) { return found != nullptr; }, page);
  }

  // Waits until `done()` holds, e.g. until a timer has filled a control.
  template <typename Condition>
  void Until(Condition done) {
    WaitFor([&](HWND) { return done(); }, nullptr);
  }

  // Waits until `window` is destroyed: the last page has ended the wizard.
  void AwaitEnd(HWND window) {
    WaitFor([&](HWND) { return !IsWindow(window); }, nullptr);
  }

  // The wizard's end after a click on `button` of its last page.
  void PressLast(HWND page, int button) {
    SendMessageW(GetDlgItem(page, button), BM_CLICK, 0, 0);
    AwaitEnd(page);
  }

  // The page that follows a click on `button` of `page`.
  HWND Press(HWND page, int button) {
    SendMessageW(GetDlgItem(page, button), BM_CLICK, 0, 0);
    return Await(page);
  }

  void Type(HWND page, int edit, const char* text) {
    SendMessageW(GetDlgItem(page, edit), WM_SETTEXT, 0,
                 reinterpret_cast<LPARAM>(Wide(text).c_str()));
    SendMessageW(GetDlgItem(page, edit), EM_SETMODIFY, TRUE, 0);
  }

  // A drop-down choice, notified as the control notifies a user's choice.
  void Choose(HWND page, int box, int position) {
    HWND control = GetDlgItem(page, box);
    SendMessageW(control, CB_SETCURSEL, static_cast<WPARAM>(position), 0);
    SendMessageW(page, WM_COMMAND, MAKEWPARAM(box, CBN_SELCHANGE),
                 reinterpret_cast<LPARAM>(control));
  }

  void Click(HWND page, int control) { SendMessageW(GetDlgItem(page, control), BM_CLICK, 0, 0); }

  std::wstring Text(HWND page, int control) {
    wchar_t text[512] = {};
    GetWindowTextW(GetDlgItem(page, control), text, 512);
    return text;
  }

  std::vector<std::wstring> TreeTexts(HWND page) {
    HWND tree = GetDlgItem(page, kDeviceTree);
    std::vector<std::wstring> texts;
    for (HTREEITEM item = TreeView_GetRoot(tree); item;
         item = TreeView_GetNextSibling(tree, item)) {
      wchar_t text[128] = {};
      TVITEMW query{};
      query.mask = TVIF_TEXT;
      query.hItem = item;
      query.pszText = text;
      query.cchTextMax = 128;
      TreeView_GetItem(tree, &query);
      texts.emplace_back(text);
    }
    return texts;
  }

  void SelectTreeItem(HWND page, int index) {
    HWND tree = GetDlgItem(page, kDeviceTree);
    HTREEITEM item = TreeView_GetRoot(tree);
    for (int i = 0; item && i < index; ++i) item = TreeView_GetNextSibling(tree, item);
    TreeView_SelectItem(tree, item);
  }

  // The window as the screen shows it, frame and caption included, as a
  // 24-bit BMP named `<name>.bmp`.
  void Picture(HWND window, const char* name) {
    RedrawWindow(window, nullptr, nullptr,
                 RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_ALLCHILDREN | RDW_UPDATENOW);
    // The window and every control have painted; the round trips after that
    // let the UI thread put its drawing on the screen.
    g_awaited = "the window's paint";
    WaitFor([&](HWND) { return !Unpainted(window); }, nullptr);
    SendMessageW(window, WM_NULL, 0, 0);
    SendMessageW(window, WM_NULL, 0, 0);
    RECT area{};
    GetWindowRect(window, &area);
    const int width = area.right - area.left;
    const int height = area.bottom - area.top;
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 24;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    HGDIOBJ old = SelectObject(memory, bitmap);
    BitBlt(memory, 0, 0, width, height, screen, area.left, area.top, SRCCOPY);
    GdiFlush();
    const DWORD row = static_cast<DWORD>((width * 3 + 3) & ~3);
    BITMAPFILEHEADER file{};
    file.bfType = 0x4d42;
    file.bfOffBits = sizeof(BITMAPFILEHEADER) + sizeof(BITMAPINFOHEADER);
    file.bfSize = file.bfOffBits + row * static_cast<DWORD>(height);
    const std::string path = picture_dir_ + "\\" + name + ".bmp";
    if (FILE* out = std::fopen(path.c_str(), "wb")) {
      std::fwrite(&file, sizeof(file), 1, out);
      std::fwrite(&info.bmiHeader, sizeof(BITMAPINFOHEADER), 1, out);
      std::fwrite(bits, 1, row * static_cast<DWORD>(height), out);
      std::fclose(out);
    } else {
      Check(false, "picture written");
    }
    SelectObject(memory, old);
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
  }

 private:
  static BOOL CALLBACK FindUnpainted(HWND child, LPARAM found) {
    if (!GetUpdateRect(child, nullptr, FALSE)) return TRUE;
    *reinterpret_cast<bool*>(found) = true;
    return FALSE;
  }

  static bool Unpainted(HWND window) {
    bool found = GetUpdateRect(window, nullptr, FALSE) != FALSE;
    if (!found) EnumChildWindows(window, FindUnpainted, reinterpret_cast<LPARAM>(&found));
    return found;
  }

  template <typename Done>
  HWND WaitFor(Done done, HWND skip) {
    const DWORD start = GetTickCount();
    while (GetTickCount() - start < kPageLimitMs) {
      FindContext context{skip, nullptr};
      EnumThreadWindows(ui_thread_, TakeDialog, reinterpret_cast<LPARAM>(&context));
      if (done(context.found)) {
        // The window has handled everything sent so far, its first paint too.
        if (context.found) SendMessageW(context.found, WM_NULL, 0, 0);
        return context.found;
      }
      Sleep(10);
    }
    std::fprintf(stderr, "FAILED: waited in vain for %s\n", g_awaited);
    std::fflush(stderr);
    ExitProcess(1);
  }

  static std::wstring Wide(const char* ascii) {
    return std::wstring(ascii, ascii + std::strlen(ascii));
  }

  DWORD ui_thread_;
  std::string picture_dir_;
};

inline bool Contains(const std::wstring& text, const wchar_t* part) {
  return text.find(part) != std::wstring::npos;
}

}  // namespace tk571_test
