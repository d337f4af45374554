// The interactive device test as a host starts it: DLLTestDev with the flag
// set, against the controller simulator on COM1. The window must show the
// read of the first device with the controller's answer, open its advanced
// panel, and answer 1 when closed with 退出. Then the log viewer of the
// wizard's start page shows the run log the test wrote.
//   sample_test_dialog_test <directory for the pictures>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "dialog_pilot.h"
#include "sim_line_block.h"
#include "tk571/driver.h"

namespace {

using namespace tk571_test;

// The simulated line with the run log's debug and trace lines on.
std::vector<uint8_t> LineBlock(TK571_FullPDB full_pdb) {
  std::vector<uint8_t> block = SimLineBlock(full_pdb);
  block[TK571_PDB_DEBUG_ENABLED] = 1;
  block[TK571_PDB_LOG_TRACE] = 1;
  return block;
}

std::wstring Cell(HWND window, int row, int column) {
  wchar_t text[128] = {};
  LVITEMW cell{};
  cell.iSubItem = column;
  cell.pszText = text;
  cell.cchTextMax = 128;
  SendMessageW(GetDlgItem(window, kStringGrid1), LVM_GETITEMTEXTW, static_cast<WPARAM>(row),
               reinterpret_cast<LPARAM>(&cell));
  return text;
}

// The value cell and the answer field, once the window shows a whole answer
// ("ST,GS,+0139.50kg<CR><LF>") and, as the tag's value, the weight in its
// characters 7..14; empty while it does not.
std::wstring ShownWeight(Pilot& pilot, HWND window) {
  static const std::wstring kEnd = L"<CR><LF>";
  const std::wstring answer = pilot.Text(window, kAnswerMsg);
  const std::wstring value = Cell(window, 0, 1);
  if (answer.size() < 14 + kEnd.size() || value.empty() ||
      answer.compare(answer.size() - kEnd.size(), kEnd.size(), kEnd) != 0)
    return std::wstring();
  wchar_t* end = nullptr;
  const double shown = std::wcstod(value.c_str(), &end);
  if (*end != L'\0' || std::fabs(shown - std::wcstod(answer.substr(6, 8).c_str(), nullptr)) > 0.005)
    return std::wstring();
  return value + L"|" + answer;
}

void ReadAndClose(Pilot& pilot) {
  HWND window = pilot.Await();
  Check(GetDlgItem(window, kStringGrid1) != nullptr, "the test window opens");
  // The timer reads until the controller's weight and its whole answer are in
  // the window; the picture counts only when the timer changed neither while
  // it was taken.
  g_awaited = "the controller's weight and its whole answer";
  for (std::wstring shown; shown.empty() || ShownWeight(pilot, window) != shown;) {
    pilot.Until([&] { return !(shown = ShownWeight(pilot, window)).empty(); });
    pilot.Picture(window, "09-device-test");
  }
  Check(!Cell(window, 0, 0).empty(), "the test tag's address is in the table");
  RECT compact{};
  GetWindowRect(window, &compact);
  pilot.Click(window, kTestDebugBtn);
  RECT advanced{};
  GetWindowRect(window, &advanced);
  Check(advanced.bottom - advanced.top > compact.bottom - compact.top,
        "the advanced panel makes the window taller");
  pilot.PressLast(window, kExitBtn);
}

// 调试设置 on the start page: the viewer loads today's run log.
void ViewLogAndCancel(Pilot& pilot) {
  HWND page = pilot.Await();
  pilot.Click(page, kNewOp);
  PostMessageW(GetDlgItem(page, kDebugBtn), BM_CLICK, 0, 0);
  g_awaited = "the log viewer";
  HWND viewer = pilot.AwaitAbove(page);
  Check(GetDlgItem(viewer, kLogMemo) != nullptr, "调试设置 opens the log viewer");
  Check(IsDlgButtonChecked(viewer, kEnDebugChk) == BST_CHECKED,
        "the block's debug switch is shown");
  g_awaited = "the end of the log's loading";
  pilot.Until([&] { return IsWindowVisible(GetDlgItem(viewer, kLoadBar)) == FALSE; });
  Check(IsWindowEnabled(GetDlgItem(viewer, kSaveBtn)) != FALSE,
        "saving is offered with the switch on");
  pilot.Picture(viewer, "11-log-viewer");
  SendMessageW(GetDlgItem(viewer, kCloseViewerBtn), BM_CLICK, 0, 0);
  page = pilot.Await(viewer);
  pilot.PressLast(page, kCancelBtn);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: sample_test_dialog_test <picture directory>\n");
    return 2;
  }
  HMODULE library = LoadLibraryA("TK571_485.dll");
  if (!library) {
    std::fprintf(stderr, "TK571_485.dll not loaded\n");
    return 1;
  }
  auto full_pdb =
      reinterpret_cast<TK571_FullPDB>(reinterpret_cast<void*>(GetProcAddress(library, "FullPDB")));
  auto dll_test_dev = reinterpret_cast<TK571_DLLTestDev>(
      reinterpret_cast<void*>(GetProcAddress(library, "DLLTestDev")));
  auto dll_ed_dev = reinterpret_cast<TK571_DLLEdDev>(
      reinterpret_cast<void*>(GetProcAddress(library, "DLLEdDev")));
  if (!full_pdb || !dll_test_dev || !dll_ed_dev) return 1;
  std::vector<uint8_t> block = LineBlock(full_pdb);
  std::thread pilot_thread(
      [&](DWORD thread) {
        Pilot pilot(thread, argv[1]);
        ReadAndClose(pilot);
      },
      GetCurrentThreadId());
  const TK571Bool answered = dll_test_dev(block.data(), 1);
  pilot_thread.join();
  Check(answered == 1, "the device test answers 1 when the controller answered");

  std::thread viewer_thread(
      [&](DWORD thread) {
        Pilot pilot(thread, argv[1]);
        ViewLogAndCancel(pilot);
      },
      GetCurrentThreadId());
  Check(dll_ed_dev(0, block.data()) == 2, "the wizard cancelled after the viewer answers 2");
  viewer_thread.join();
  if (g_failures == 0) std::printf("device test dialog test passed\n");
  return g_failures == 0 ? 0 : 1;
}
