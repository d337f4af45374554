#include "ui/win32/sample_test_win32.h"

#include <commctrl.h>

#include <array>
#include <string>

#include "ui/dialog_texts.h"
#include "ui/win32/control_ids.h"
#include "ui/win32/dialog_win32.h"

namespace tk571::ui::win32 {

namespace {

constexpr int kWidth = 320;
constexpr int kCompactHeight = 170;
constexpr int kTypeCount = 3;
constexpr UINT_PTR kPollTimer = 1;
constexpr DWORD kField = ES_AUTOHSCROLL | WS_BORDER;

class TSampleTest : public Dialog {
 public:
  explicit TSampleTest(DeviceTestSession& session) : session_(session) {}

  bool Show(HWND owner) {
    Run(owner, kWidth, kCompactHeight, texts::DeviceTestCaption());
    return answered_;
  }

 private:
  void Build() override {
    HWND grid = Add(WC_LISTVIEWW, "", LVS_REPORT | LVS_SINGLESEL | WS_TABSTOP, 7, 7, kWidth - 14,
                    70, kStringGrid1, WS_EX_CLIENTEDGE);
    const std::array<std::pair<const std::string*, int>, DeviceTestSession::kGridColumns> columns{{
        {&texts::TagAddress(), 70},
        {&texts::TagValueColumn(), 65},
        {&texts::TagOperation(), 50},
        {&texts::HostCommand(), 110},
    }};
    for (int column = 0; column < DeviceTestSession::kGridColumns; ++column) {
      std::wstring title = Wide(*columns[static_cast<std::size_t>(column)].first);
      RECT width{0, 0, columns[static_cast<std::size_t>(column)].second, 0};
      MapDialogRect(hwnd(), &width);
      LVCOLUMNW spec{};
      spec.mask = LVCF_TEXT | LVCF_WIDTH;
      spec.pszText = title.data();
      spec.cx = width.right;
      SendMessageW(grid, LVM_INSERTCOLUMNW, static_cast<WPARAM>(column),
                   reinterpret_cast<LPARAM>(&spec));
    }
    const struct {
      const std::string& label;
      int id;
      DWORD style;
    } rows[] = {{texts::StartInfo(), kSysMsg, ES_READONLY},
                {texts::CommInfo(), kCommMsg, ES_READONLY},
                {texts::HostCommand(), kAskMsg, WS_TABSTOP},
                {texts::DeviceAnswer(), kAnswerMsg, ES_READONLY}};
    int y = 84;
    for (const auto& row : rows) {
      Add(L"STATIC", row.label, SS_LEFT, 7, y + 2, 45, 10);
      Add(L"EDIT", "", kField | row.style, 55, y, row.id == kAskMsg ? 200 : kWidth - 62, 13,
          row.id);
      y += 16;
    }
    Add(L"BUTTON", texts::SendCommand(), BS_PUSHBUTTON | WS_TABSTOP, 260, 116, 53, 13, kAskBtn);
    Add(L"BUTTON", "", BS_PUSHBUTTON | WS_TABSTOP, 157, 150, 50, 14, kTestDebugBtn);
    Add(L"BUTTON", "", BS_PUSHBUTTON | WS_TABSTOP, 210, 150, 50, 14, kPauseBtn);
    Add(L"BUTTON", texts::Exit(), BS_PUSHBUTTON | WS_TABSTOP, 263, 150, 50, 14, kExitBtn);

    Add(L"BUTTON", texts::AdvancedDebug(), BS_GROUPBOX, 7, 170, kWidth - 14, 86);
    Add(L"STATIC", texts::TagAddress(), SS_LEFT, 14, 184, 45, 10);
    Add(L"EDIT", "", kField | WS_TABSTOP, 62, 182, 120, 13, kAddrEd);
    Add(L"BUTTON", texts::TagType(), BS_GROUPBOX, 190, 176, 116, 24);
    for (int i = 0; i < kTypeCount; ++i)
      Add(L"BUTTON", texts::TagTypeNames()[static_cast<std::size_t>(i)],
          BS_AUTORADIOBUTTON | (i == 0 ? WS_GROUP | WS_TABSTOP : 0), 195 + i * 37, 186, 36, 10,
          kAnalogType + i);
    Add(L"BUTTON", texts::ReadOperation(), BS_CHECKBOX | WS_TABSTOP, 14, 202, 60, 12, kReadCk);
    Add(L"BUTTON", texts::WriteOperation(), BS_CHECKBOX | WS_TABSTOP, 14, 218, 60, 12, kWriteCk);
    Add(L"EDIT", "", kField | WS_TABSTOP, 62, 217, 120, 13, kWValueMsg);
    Add(L"STATIC", texts::WriteCommand(), SS_LEFT, 14, 237, 45, 10);
    Add(L"EDIT", "", kField | ES_READONLY, 62, 235, 237, 13, kWStrMsg);
    Render();
  }

  void Command(int id, int code) override {
    if (rendering_) return;
    switch (id) {
      case kReadCk:
        if (code == BN_CLICKED) Do([&] { session_.SetReadChecked(!session_.view().read_checked); });
        break;
      case kWriteCk:
        if (code == BN_CLICKED)
          Do([&] { session_.SetWriteChecked(!session_.view().write_checked); });
        break;
      case kAddrEd:
        if (code == EN_CHANGE) Do([&] { session_.AddressEdited(TextOf(Item(kAddrEd))); });
        break;
      case kWValueMsg:
        if (code == EN_CHANGE) Do([&] { session_.WriteValueEdited(TextOf(Item(kWValueMsg))); });
        break;
      case kAskMsg:
        if (code == EN_CHANGE) session_.AskEdited(TextOf(Item(kAskMsg)));
        break;
      case kAskBtn:
        Do([&] { session_.AskClicked(); });
        break;
      case kTestDebugBtn:
        Do([&] { session_.DebugClicked(); });
        break;
      case kPauseBtn:
        Do([&] { session_.PauseClicked(); });
        break;
      case kExitBtn:
      case IDCANCEL:
        Finish();
        break;
      default:
        if (id >= kAnalogType && id < kAnalogType + kTypeCount && code == BN_CLICKED)
          Do([&] { session_.TypeChosen(id - kAnalogType); });
        break;
    }
  }

  void Timer(UINT_PTR id) override {
    if (id == kPollTimer) Do([&] { session_.TimerTick(); });
  }

  template <typename Event>
  void Do(Event event) {
    event();
    Render();
    for (const std::string& text : session_.TakeAlerts()) ShowMessage(hwnd(), text);
  }

  void Finish() {
    KillTimer(hwnd(), kPollTimer);
    answered_ = session_.Close();
    Close(answered_ ? IDOK : IDCANCEL);
  }

  void SetField(int id, const std::string& gbk) {
    if (TextOf(Item(id)) != gbk) SetText(Item(id), gbk);
  }

  void SetCell(int row, int column, const std::string& gbk) {
    HWND grid = Item(kStringGrid1);
    while (SendMessageW(grid, LVM_GETITEMCOUNT, 0, 0) <= row) {
      LVITEMW item{};
      item.iItem = static_cast<int>(SendMessageW(grid, LVM_GETITEMCOUNT, 0, 0));
      SendMessageW(grid, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item));
    }
    std::wstring text = Wide(gbk);
    LVITEMW cell{};
    cell.iSubItem = column;
    cell.pszText = text.data();
    SendMessageW(grid, LVM_SETITEMTEXTW, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&cell));
  }

  // The grid's rows 1.. hold the tags; row 0 is the fixed header row.
  void Render() {
    rendering_ = true;
    const DeviceTestSession::View& view = session_.view();
    for (int row = 1; row < DeviceTestSession::kGridRows; ++row) {
      const DeviceTestSession::Row& cells = view.grid[static_cast<std::size_t>(row)];
      bool empty = true;
      for (const std::string& cell : cells) empty = empty && cell.empty();
      if (empty && SendMessageW(Item(kStringGrid1), LVM_GETITEMCOUNT, 0, 0) < row) continue;
      for (int column = 0; column < DeviceTestSession::kGridColumns; ++column) {
        const std::string& cell = cells[static_cast<std::size_t>(column)];
        SetCell(row - 1, column, column == 3 ? ShownBytes(cell) : cell);
      }
    }
    SetField(kSysMsg, OneLine(view.sys_msg));
    SetField(kCommMsg, OneLine(view.comm_msg));
    SetField(kAddrEd, view.address);
    SetField(kWValueMsg, view.write_value);
    SetField(kWStrMsg, ShownBytes(view.write_request));
    SetField(kAskMsg, view.ask);
    SetField(kAnswerMsg, ShownBytes(view.answer));
    if (view.type_group >= 0 && view.type_group < kTypeCount)
      CheckRadioButton(hwnd(), kAnalogType, kAnalogType + kTypeCount - 1,
                       kAnalogType + view.type_group);
    CheckDlgButton(hwnd(), kReadCk, view.read_checked ? BST_CHECKED : BST_UNCHECKED);
    CheckDlgButton(hwnd(), kWriteCk, view.write_checked ? BST_CHECKED : BST_UNCHECKED);
    EnableWindow(Item(kWriteCk), view.write_enabled);
    SetField(kTestDebugBtn, view.debug_caption);
    SetField(kPauseBtn, view.pause_caption);
    EnableWindow(Item(kPauseBtn), view.pause_enabled);
    Resize(view.debug_shown);
    if (view.timer_running) {
      SetTimer(hwnd(), kPollTimer, static_cast<UINT>(view.timer_interval_ms), nullptr);
    } else {
      KillTimer(hwnd(), kPollTimer);
    }
    rendering_ = false;
  }

  // The advanced panel lies below the compact window: showing it is making
  // the window taller, down to the panel's last control.
  void Resize(bool debug_shown) {
    RECT last{};
    GetWindowRect(Item(debug_shown ? kWStrMsg : kExitBtn), &last);
    MapWindowPoints(nullptr, hwnd(), reinterpret_cast<POINT*>(&last), 2);
    RECT margin{0, 0, 0, debug_shown ? 14 : 7};
    MapDialogRect(hwnd(), &margin);
    RECT client{};
    GetClientRect(hwnd(), &client);
    RECT window{};
    GetWindowRect(hwnd(), &window);
    const int height = window.bottom - window.top + last.bottom + margin.bottom - client.bottom;
    SetWindowPos(hwnd(), nullptr, 0, 0, window.right - window.left, height,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  }

  DeviceTestSession& session_;
  bool rendering_ = false;
  bool answered_ = false;
};

}  // namespace

bool RunSampleTest(DeviceTestSession& session, HWND owner) {
  LoadCommonControls();
  TSampleTest window(session);
  return window.Show(owner);
}

}  // namespace tk571::ui::win32
