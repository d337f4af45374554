// The configuration wizard as a host shows it: DLLEdDev on a block from
// FullPDB, owned by the host's window, driven from a second thread through
// messages to the pages' controls as a user would click and type. Checks the
// block written back and saves a picture of every page and message box.
//   wizard_dialog_test <directory for the pictures>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "config/device_pdb.h"
#include "dialog_pilot.h"
#include "tk571/driver.h"

namespace {

using namespace tk571_test;

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
