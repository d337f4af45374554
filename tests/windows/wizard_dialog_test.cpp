// The configuration wizard as a host shows it: DLLEdDev on a block from
// FullPDB, owned by the host's window, driven from a second thread through
// messages to the pages' controls as a user would click and type. Checks the
// block written back and saves a picture of every page and message box.
//   wizard_dialog_test <directory for the pictures>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "config/device_pdb.h"
#include "tk571/driver.h"
#include "ui/win32/control_ids.h"
// The Windows API after the driver's header, as a host includes them; the
// common controls' header needs it first.
// clang-format off
#include <windows.h>
#include <commctrl.h>
// clang-format on

namespace {

using namespace tk571::ui::win32;

// A page that does not come is a fault of the dialogs, not a slow machine:
// the limit only keeps a broken run from hanging the test stage.
constexpr DWORD kPageLimitMs = 60000;

int g_failures = 0;

void Check(bool condition, const char* what) {
  if (condition) return;
  std::fprintf(stderr, "FAILED: %s\n", what);
  ++g_failures;
}

struct FindContext {
  HWND skip;
  HWND found;
};

BOOL CALLBACK TakeDialog(HWND window, LPARAM context_address) {
  auto& context = *reinterpret_cast<FindContext*>(context_address);
  wchar_t name[16] = {};
  GetClassNameW(window, name, 16);
  if (window == context.skip || !IsWindowVisible(window) || !IsWindowEnabled(window) ||
      std::wcscmp(name, L"#32770") != 0)
    return TRUE;
  context.found = window;
  return FALSE;
}

std::wstring Title(HWND window) {
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
    std::fprintf(stderr, "FAILED: the dialogs did not get where the test expected\n");
    std::fflush(stderr);
    ExitProcess(1);
  }

  static std::wstring Wide(const char* ascii) {
    return std::wstring(ascii, ascii + std::strlen(ascii));
  }

  DWORD ui_thread_;
  std::string picture_dir_;
};

bool Contains(const std::wstring& text, const wchar_t* part) {
  return text.find(part) != std::wstring::npos;
}

struct Driver {
  TK571_FullPDB full_pdb;
  TK571_GetPDBLen get_pdb_len;
  TK571_DLLEdDev dll_ed_dev;
};

template <typename F>
void Bind(HMODULE library, const char* name, F& function) {
  function = reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(library, name)));
  if (!function) {
    std::fprintf(stderr, "missing entry point %s\n", name);
    ExitProcess(1);
  }
}

// Runs DLLEdDev on this thread while `script` drives the pages from another.
template <typename Script>
int32_t EditWith(const Driver& driver, HWND host, std::vector<uint8_t>& block, Script script) {
  std::thread pilot(script, GetCurrentThreadId());
  const int32_t result = driver.dll_ed_dev(reinterpret_cast<uintptr_t>(host), block.data());
  pilot.join();
  return result;
}

// Baud 9600 is position 6 of the drop-down, even parity position 2.
constexpr int kBaud9600 = 6;
constexpr int kEvenParity = 2;
constexpr int kBaud38400 = 9;

// Every page once, with 上一步 back to the start and the modify path forward:
// single device 7, then devices 3 and 5 added on the list page, a duplicate
// number refused, 9600 baud even parity, 完成.
void WalkEveryPage(Pilot& pilot) {
  HWND page = pilot.Await();
  Check(GetDlgItem(page, kNewOp) != nullptr, "the wizard opens on the start page");
  pilot.Picture(page, "01-start");
  page = pilot.Press(page, kNextBtn);
  Check(GetDlgItem(page, kMulCreate) != nullptr, "new leads to the creation mode page");
  pilot.Click(page, kSingleCreate);
  pilot.Picture(page, "02-create-mode");
  page = pilot.Press(page, kNextBtn);
  Check(GetDlgItem(page, kTypeMemo) != nullptr, "single creation leads to the single device page");
  Check(!pilot.Text(page, kTypeMemo).empty(), "the type's description is shown");
  pilot.Type(page, kIDEd, "150");
  Check(pilot.Text(page, kIDEd) == L"99", "a number above the block is shown as 99");
  pilot.Type(page, kIDEd, "7");
  pilot.Choose(page, kDevTypeEd, 0);
  pilot.Picture(page, "03-single-device");
  page = pilot.Press(page, kNextBtn);
  Check(GetDlgItem(page, kBautEd) != nullptr, "the single device page leads to the serial page");
  page = pilot.Press(page, kLastBtn);
  page = pilot.Press(page, kLastBtn);
  Check(GetDlgItem(page, kMulCreate) != nullptr, "上一步 returns through the history");
  pilot.Click(page, kMulCreate);
  page = pilot.Press(page, kNextBtn);
  Check(GetDlgItem(page, kAddBtn) != nullptr, "multiple creation leads to the device list");
  pilot.Type(page, kIDEd, "3");
  pilot.Choose(page, kDevTypeEd, 0);
  pilot.Click(page, kAddBtn);
  pilot.Type(page, kIDEd, "5");
  pilot.Click(page, kAddBtn);
  const std::vector<std::wstring> nodes = pilot.TreeTexts(page);
  Check(nodes.size() == 3, "the list holds devices 3, 5 and 7");
  Check(nodes.size() == 3 && Contains(nodes[0], L"3") && Contains(nodes[2], L"7"),
        "the list is in number order");
  // Device 3 renumbered as 5: refused with the system's message box.
  pilot.SelectTreeItem(page, 0);
  Check(pilot.Text(page, kIDEd) == L"3", "selecting a device shows its number");
  pilot.Type(page, kIDEd, "5");
  PostMessageW(page, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
  HWND box = pilot.AwaitAbove(page);
  pilot.Picture(box, "05-duplicate-number");
  SendMessageW(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
  pilot.Await(box);
  Check(pilot.Text(page, kIDEd) == L"3", "the refused number goes back to the device's own");
  pilot.Picture(page, "04-device-list");
  page = pilot.Press(page, kNextBtn);
  Check(GetDlgItem(page, kBautEd) != nullptr, "the device list leads to the serial page");
  pilot.Choose(page, kBautEd, kBaud9600);
  pilot.Choose(page, kParityEd, kEvenParity);
  pilot.Picture(page, "06-serial");
  page = pilot.Press(page, kNextBtn);
  Check(GetDlgItem(page, kFinishBtn) != nullptr, "the serial page leads to the summary");
  Check(Contains(pilot.Text(page, kComArgMemo), L"9600"), "the summary shows the baud rate");
  Check(pilot.TreeTexts(page).size() == 3, "the summary lists the three devices");
  pilot.Picture(page, "07-summary");
  for (int back = 0; back < 4; ++back) page = pilot.Press(page, kLastBtn);
  Check(GetDlgItem(page, kNewOp) != nullptr, "上一步 leads back to the start page");
  pilot.Click(page, kModifyOp);
  page = pilot.Press(page, kNextBtn);
  Check(Contains(Title(page), L"修改设备"), "modify leads to the modify page");
  Check(pilot.TreeTexts(page).size() == 3, "the modify page lists the devices made so far");
  pilot.Picture(page, "08-modify");
  page = pilot.Press(page, kNextBtn);
  page = pilot.Press(page, kNextBtn);
  pilot.PressLast(page, kFinishBtn);
}

// Changes on the serial page, then 取消 on the summary: nothing goes back.
void CancelOnSummary(Pilot& pilot) {
  HWND page = pilot.Await();
  pilot.Click(page, kModifyOp);
  page = pilot.Press(page, kNextBtn);
  page = pilot.Press(page, kNextBtn);
  pilot.Choose(page, kBautEd, kBaud38400);
  page = pilot.Press(page, kNextBtn);
  pilot.PressLast(page, kCancelBtn);
}

// The close box of the start page ends the wizard.
void CloseStartPage(Pilot& pilot) {
  HWND page = pilot.Await();
  SendMessageW(page, WM_SYSCOMMAND, SC_CLOSE, 0);
  pilot.AwaitEnd(page);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: wizard_dialog_test <picture directory>\n");
    return 2;
  }
  const std::string picture_dir = argv[1];
  HMODULE library = LoadLibraryA("TK571_485.dll");
  if (!library) {
    std::fprintf(stderr, "TK571_485.dll not loaded\n");
    return 1;
  }
  Driver driver{};
  Bind(library, "FullPDB", driver.full_pdb);
  Bind(library, "GetPDBLen", driver.get_pdb_len);
  Bind(library, "DLLEdDev", driver.dll_ed_dev);
  HWND host = CreateWindowExW(0, L"STATIC", L"host", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 200,
                              100, nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);

  std::vector<uint8_t> block(static_cast<std::size_t>(driver.get_pdb_len()), 0);
  driver.full_pdb(block.data());

  const int32_t walked = EditWith(driver, host, block, [&](DWORD thread) {
    Pilot pilot(thread, picture_dir);
    WalkEveryPage(pilot);
  });
  Check(walked == 1, "完成 after changes answers 1");
  const tk571::TDevicePDB edited = tk571::TDevicePDB::Load(block.data());
  for (const int device : {3, 5, 7})
    Check(edited.InUse(device), "devices 3, 5 and 7 are in the block");
  Check(!edited.InUse(0), "the single device replaced the default list");
  for (const int device : {3, 5, 7})
    Check(edited.TypeCode(device) == tk571::DeviceTypeCodeOfPosition(0), "the devices' type");
  Check(edited.BaudIndex() == kBaud9600, "9600 baud in the block");
  Check(edited.ParityCode() == kEvenParity, "even parity in the block");

  const std::vector<uint8_t> after_finish = block;
  const int32_t cancelled = EditWith(driver, host, block, [&](DWORD thread) {
    Pilot pilot(thread, picture_dir);
    CancelOnSummary(pilot);
  });
  Check(cancelled == 2, "取消 answers 2");
  Check(block == after_finish, "取消 writes nothing back");

  const int32_t closed = EditWith(driver, host, block, [&](DWORD thread) {
    Pilot pilot(thread, picture_dir);
    CloseStartPage(pilot);
  });
  Check(closed == 2, "the close box answers 2");
  Check(block == after_finish, "the close box writes nothing back");

  DestroyWindow(host);
  if (g_failures == 0) std::printf("wizard dialog test passed\n");
  return g_failures == 0 ? 0 : 1;
}
