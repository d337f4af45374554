#include "ui/win32/wizard_win32.h"

#include <commctrl.h>
#include <shellapi.h>

#include <memory>
#include <string>
#include <vector>

#include "ui/dialog_texts.h"
#include "ui/driver_info.h"
#include "ui/win32/control_ids.h"
#include "ui/win32/debug_viewer_win32.h"
#include "ui/win32/dialog_win32.h"
#include "ui/win32/print_lines_win32.h"
#include "ui/wizard_pages.h"

namespace tk571::ui::win32 {

namespace {

// Page geometry in dialog units.
constexpr int kPageWidth = 340;
constexpr int kPageHeight = 196;
constexpr int kMargin = 7;
constexpr int kContentLeft = 84;
constexpr int kContentTop = 24;
constexpr int kContentWidth = kPageWidth - kContentLeft - kMargin;
constexpr int kButtonTop = 175;
constexpr int kButtonHeight = 14;
constexpr int kButtonGap = 4;

constexpr DWORD kDropDown = CBS_DROPDOWNLIST | WS_VSCROLL | WS_TABSTOP;
constexpr DWORD kNumberEdit = ES_AUTOHSCROLL | WS_TABSTOP | WS_BORDER;

struct ButtonSpec {
  int id;
  const std::string& text;
  int width;
};

void FillCombo(HWND box, const std::vector<std::string>& items, int current) {
  for (const std::string& item : items)
    SendMessageW(box, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(Wide(item).c_str()));
  SendMessageW(box, CB_SETCURSEL, static_cast<WPARAM>(current), 0);
}

std::vector<std::string> DeviceTypeNames() {
  std::vector<std::string> names;
  for (int position = 0; DeviceTypeCodeOfPosition(position) != kEmptyTypeCode; ++position)
    names.push_back(DeviceTypeName(DeviceTypeCodeOfPosition(position)));
  return names;
}

int Selection(HWND box) {
  return static_cast<int>(SendMessageW(box, CB_GETCURSEL, 0, 0));
}

bool Checked(HWND button) {
  return SendMessageW(button, BM_GETCHECK, 0, 0) == BST_CHECKED;
}

void FillDeviceTree(HWND tree, const std::vector<DeviceNode>& nodes) {
  TreeView_DeleteAllItems(tree);
  for (const DeviceNode& node : nodes) {
    std::wstring text = Wide(node.text);
    TVINSERTSTRUCTW item{};
    item.hParent = TVI_ROOT;
    item.hInsertAfter = TVI_LAST;
    item.item.mask = TVIF_TEXT | TVIF_PARAM;
    item.item.pszText = text.data();
    item.item.lParam = node.entry;
    SendMessageW(tree, TVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item));
  }
}

// The frame every page shares: picture, heading, footer, a row of buttons at
// the bottom right, and the page's own controls in between. 上一步 and 取消
// behave alike on every page that has them.
class WizardPage : public Dialog {
 public:
  WizardPage(WizardSession& session, const DriverInfo& info, uint8_t page)
      : session_(session), info_(info), page_(page) {}

  void Show(HWND owner) {
    Run(owner, kPageWidth, kPageHeight, PageTitle(info_, PageCaption(page_)));
  }

 protected:
  virtual void BuildContent() = 0;
  virtual std::vector<ButtonSpec> Buttons() const = 0;
  // A command of the page's own controls.
  virtual void PageCommand(int id, int code) = 0;

  void Build() final {
    Add(L"STATIC", "TK571", SS_CENTER | SS_CENTERIMAGE, kMargin, kMargin, 70, 160, 0,
        WS_EX_STATICEDGE);
    Add(L"STATIC", WelcomeHeading(info_), SS_LEFT, kContentLeft, kMargin, kContentWidth, 12);
    Add(L"STATIC", "", SS_ETCHEDHORZ, kMargin, kButtonTop - 5, kPageWidth - 2 * kMargin, 1);
    HWND footer = Add(
        L"STATIC",
        info_.ProductText.empty() ? info_.DeviceName + " " + info_.FileVersion : info_.ProductText,
        SS_LEFT, kContentLeft, kButtonTop - 15, kContentWidth, 9);
    EnableWindow(footer, FALSE);
    const std::vector<ButtonSpec> buttons = Buttons();
    int x = kPageWidth - kMargin;
    for (const ButtonSpec& button : buttons) x -= button.width + kButtonGap;
    for (const ButtonSpec& button : buttons) {
      x += kButtonGap;
      Add(L"BUTTON", button.text, BS_PUSHBUTTON | WS_TABSTOP, x, kButtonTop, button.width,
          kButtonHeight, button.id);
      x += button.width;
    }
    BuildContent();
  }

  void Command(int id, int code) final {
    switch (id) {
      case kLastBtn:
        GoBack(session_);
        Close(IDOK);
        return;
      case kCancelBtn:
      case IDCANCEL:
        // The close box and Esc end the wizard as 取消 does.
        CancelWizard(session_);
        Close(IDCANCEL);
        return;
      default:
        PageCommand(id, code);
    }
  }

  // The buttons of the pages between the start page and the summary.
  static std::vector<ButtonSpec> BackNextCancel() {
    return {{kLastBtn, texts::Previous(), 44},
            {kNextBtn, texts::Next(), 44},
            {kCancelBtn, texts::Cancel(), 44}};
  }

  WizardSession& session_;
  const DriverInfo& info_;

 private:
  uint8_t page_;
};

class TStartFrm : public WizardPage {
 public:
  TStartFrm(WizardSession& session, const DriverInfo& info)
      : WizardPage(session, info, kPageStart), logic_(session) {}

 private:
  void BuildContent() override {
    Add(L"BUTTON", texts::ChooseOperation(), BS_GROUPBOX, kContentLeft, kContentTop, kContentWidth,
        70);
    Add(L"BUTTON", texts::NewDevice(), BS_AUTORADIOBUTTON | WS_GROUP | WS_TABSTOP,
        kContentLeft + 10, kContentTop + 14, 150, 12, kNewOp);
    Add(L"BUTTON", texts::ModifyDevice(), BS_AUTORADIOBUTTON, kContentLeft + 10, kContentTop + 31,
        150, 12, kModifyOp);
    Add(L"BUTTON", texts::BrowseDevices(), BS_AUTORADIOBUTTON, kContentLeft + 10, kContentTop + 48,
        150, 12, kBrowseOp);
    CheckRadioButton(hwnd(), kNewOp, kBrowseOp, kNewOp);
  }

  std::vector<ButtonSpec> Buttons() const override {
    return {{kVersionBtn, texts::HelpInfo(), 44},
            {kDebugBtn, texts::DebugSettings(), 44},
            {kDownloadBtn, texts::DownloadDriver(), 58},
            {kNextBtn, texts::Next(), 44},
            {kCancelBtn, texts::Cancel(), 44}};
  }

  void PageCommand(int id, int code) override {
    switch (id) {
      case kVersionBtn:
        ShowMessage(hwnd(), VersionMessage(info_));
        break;
      case kDebugBtn:
        logic_.OpenDebugViewer();
        RunDebugViewer(session_, info_, hwnd());
        break;
      case kDownloadBtn:
        ShellExecuteW(hwnd(), L"open", Wide(DownloadAddress(info_)).c_str(), nullptr, nullptr,
                      SW_SHOWNORMAL);
        break;
      case kNextBtn:
        Next();
        break;
      case kNewOp:
      case kModifyOp:
      case kBrowseOp:
        if (code == BN_DOUBLECLICKED) Next();
        break;
      default:
        break;
    }
  }

  void Next() {
    if (Checked(Item(kNewOp))) {
      logic_.Next(StartPageLogic::Choice::kNew);
    } else if (Checked(Item(kModifyOp))) {
      logic_.Next(StartPageLogic::Choice::kModify);
    } else {
      logic_.Next(StartPageLogic::Choice::kBrowse);
    }
    Close(IDOK);
  }

  StartPageLogic logic_;
};

class TStep1Frm : public WizardPage {
 public:
  TStep1Frm(WizardSession& session, const DriverInfo& info)
      : WizardPage(session, info, kPageStep1) {}

 private:
  void BuildContent() override {
    Add(L"BUTTON", texts::ChooseCreateMode(), BS_GROUPBOX, kContentLeft, kContentTop, kContentWidth,
        54);
    Add(L"BUTTON", SingleCreateCaption(info_), BS_AUTORADIOBUTTON | WS_GROUP | WS_TABSTOP,
        kContentLeft + 10, kContentTop + 14, kContentWidth - 20, 12, kSingleCreate);
    Add(L"BUTTON", MultiCreateCaption(info_), BS_AUTORADIOBUTTON, kContentLeft + 10,
        kContentTop + 32, kContentWidth - 20, 12, kMulCreate);
    CheckRadioButton(hwnd(), kSingleCreate, kMulCreate, kMulCreate);
  }

  std::vector<ButtonSpec> Buttons() const override { return BackNextCancel(); }

  void PageCommand(int id, int /*code*/) override {
    if (id != kNextBtn) return;
    CreateModeLogic(session_).Next(Checked(Item(kSingleCreate))
                                       ? CreateModeLogic::Choice::kSingle
                                       : CreateModeLogic::Choice::kMultiple);
    Close(IDOK);
  }
};

class TStep11Frm : public WizardPage {
 public:
  TStep11Frm(WizardSession& session, const DriverInfo& info)
      : WizardPage(session, info, kPageSingle) {}

 private:
  void BuildContent() override {
    Add(L"STATIC", info_.DevIDName, SS_LEFT, kContentLeft, kContentTop + 2, 40, 10);
    Add(L"EDIT", "0", kNumberEdit, kContentLeft + 42, kContentTop, 40, 13, kIDEd);
    Add(L"STATIC", info_.DevTypeName, SS_LEFT, kContentLeft + 92, kContentTop + 2, 40, 10);
    FillCombo(
        Add(L"COMBOBOX", "", kDropDown, kContentLeft + 134, kContentTop, 115, 120, kDevTypeEd),
        DeviceTypeNames(), 0);
    Add(L"STATIC", DeviceNumberRangeHint(info_), SS_LEFT, kContentLeft, kContentTop + 20,
        kContentWidth, 10);
    Add(L"BUTTON", texts::TagType(), BS_GROUPBOX, kContentLeft, kContentTop + 34, kContentWidth,
        80);
    Add(L"STATIC", TypeDescriptionText(0), SS_LEFT, kContentLeft + 8, kContentTop + 46,
        kContentWidth - 16, 64, kTypeMemo);
  }

  std::vector<ButtonSpec> Buttons() const override { return BackNextCancel(); }

  void PageCommand(int id, int code) override {
    if (id == kIDEd && code == EN_CHANGE) {
      const std::string typed = TextOf(Item(kIDEd));
      const std::string shown = SingleDeviceLogic::NormalisedNumberText(typed);
      if (shown != typed) SetText(Item(kIDEd), shown);
    } else if (id == kDevTypeEd && code == CBN_SELCHANGE) {
      SetText(Item(kTypeMemo), TypeDescriptionText(Selection(Item(kDevTypeEd))));
    } else if (id == kNextBtn) {
      SingleDeviceLogic(session_).Next(TextOf(Item(kIDEd)), Selection(Item(kDevTypeEd)));
      Close(IDOK);
    }
  }
};

// The device list, for modifying (TStep2Frm) and for creating several devices
// (TStep12Frm).
class DeviceListPage : public WizardPage {
 public:
  DeviceListPage(WizardSession& session, const DriverInfo& info, uint8_t own_page)
      : WizardPage(session, info, own_page), logic_(session, own_page) {}

 private:
  void BuildContent() override {
    constexpr int kSide = kContentLeft + 150;
    Add(WC_TREEVIEWW, "", TVS_SHOWSELALWAYS | TVS_DISABLEDRAGDROP | WS_TABSTOP, kContentLeft,
        kContentTop, 142, 118, kDeviceTree, WS_EX_CLIENTEDGE);
    Add(L"STATIC", info_.DevIDName, SS_LEFT, kSide, kContentTop, 90, 10);
    Add(L"EDIT", "", kNumberEdit, kSide, kContentTop + 11, 99, 13, kIDEd);
    Add(L"STATIC", info_.DevTypeName, SS_LEFT, kSide, kContentTop + 29, 90, 10);
    FillCombo(Add(L"COMBOBOX", "", kDropDown, kSide, kContentTop + 40, 99, 120, kDevTypeEd),
              DeviceTypeNames(), 0);
    Add(L"BUTTON", texts::AddDevice(), BS_PUSHBUTTON | WS_TABSTOP, kSide, kContentTop + 60, 48,
        kButtonHeight, kAddBtn);
    Add(L"BUTTON", texts::DeleteDevice(), BS_PUSHBUTTON | WS_TABSTOP, kSide + 51, kContentTop + 60,
        48, kButtonHeight, kDelBtn);
    Add(L"STATIC", DeviceNumberRangeHint(info_), SS_LEFT, kSide, kContentTop + 80, 99, 36);
    Rebuild();
    SetNumber(logic_.FirstFreeNumber());
  }

  std::vector<ButtonSpec> Buttons() const override { return BackNextCancel(); }

  void PageCommand(int id, int code) override {
    switch (id) {
      case kAddBtn:
        SetNumberAfter(logic_.Add(TextOf(Item(kIDEd)), Selection(Item(kDevTypeEd))));
        break;
      case kDelBtn:
        SetNumberAfter(logic_.Delete(Selected()));
        break;
      case kIDEd:
        // The number is taken when the user leaves the edit, so that no
        // device jumps through the numbers typed on the way.
        if (code == EN_KILLFOCUS) NumberEdited();
        break;
      case IDOK:
        // Enter in IDEd confirms the number, not the page.
        NumberEdited();
        break;
      case kDevTypeEd:
        if (code == CBN_SELCHANGE) TypeChosen();
        break;
      case kNextBtn:
        logic_.Next();
        Close(IDOK);
        break;
      default:
        break;
    }
  }

  void Notify(const NMHDR& header) override {
    if (header.idFrom != kDeviceTree) return;
    if (header.code == TVN_SELCHANGEDW) {
      ShowSelected();
    } else if (header.code == TVN_KEYDOWN &&
               reinterpret_cast<const NMTVKEYDOWN&>(header).wVKey == VK_DELETE) {
      SetNumberAfter(logic_.Delete(Selected()));
    }
  }

  void Rebuild() {
    rebuilding_ = true;
    FillDeviceTree(Item(kDeviceTree), logic_.Nodes());
    rebuilding_ = false;
  }

  void SetNumberAfter(int number) {
    Rebuild();
    SetNumber(number);
  }

  HTREEITEM SelectedItem() const { return TreeView_GetSelection(Item(kDeviceTree)); }

  int Selected() const {
    TVITEMW item{};
    item.mask = TVIF_PARAM;
    item.hItem = SelectedItem();
    if (!item.hItem || !TreeView_GetItem(Item(kDeviceTree), &item)) return -1;
    return static_cast<int>(item.lParam);
  }

  void SetSelectedNode(int entry) {
    std::wstring text = Wide(logic_.NodeText(entry));
    TVITEMW item{};
    item.mask = TVIF_TEXT | TVIF_PARAM;
    item.hItem = SelectedItem();
    item.pszText = text.data();
    item.lParam = entry;
    if (item.hItem) TreeView_SetItem(Item(kDeviceTree), &item);
  }

  void SetNumber(int number) {
    SetText(Item(kIDEd), std::to_string(number));
    SendMessageW(Item(kIDEd), EM_SETMODIFY, FALSE, 0);
  }

  void ShowSelected() {
    const int entry = Selected();
    if (rebuilding_ || entry < 0) return;
    SetNumber(logic_.SelectedNumber(entry));
    const int position = logic_.SelectedTypePosition(entry);
    if (position >= 0) SendMessageW(Item(kDevTypeEd), CB_SETCURSEL, position, 0);
  }

  void TypeChosen() {
    const int entry = Selected();
    logic_.ChangeType(entry, Selection(Item(kDevTypeEd)));
    if (entry >= 0) SetSelectedNode(entry);
  }

  void NumberEdited() {
    if (!SendMessageW(Item(kIDEd), EM_GETMODIFY, 0, 0)) return;
    SendMessageW(Item(kIDEd), EM_SETMODIFY, FALSE, 0);
    int entry = Selected();
    const int old_entry = entry;
    const std::string typed = TextOf(Item(kIDEd));
    switch (logic_.ChangeNumber(entry, typed, Selection(Item(kDevTypeEd)))) {
      case DeviceListLogic::NumberChange::kMoved:
        SetSelectedNode(entry);
        SetNumber(entry);
        break;
      case DeviceListLogic::NumberChange::kDuplicate:
        SetNumber(logic_.SelectedNumber(old_entry));
        ShowMessage(hwnd(), DuplicateNumberMessage(info_));
        break;
      case DeviceListLogic::NumberChange::kUnchanged:
        SetNumber(entry);
        break;
      case DeviceListLogic::NumberChange::kNoSelection:
        SetNumber(ClampDeviceNumber(typed));
        break;
    }
  }

  DeviceListLogic logic_;
  bool rebuilding_ = false;
};

class TStep4Frm : public WizardPage {
 public:
  TStep4Frm(WizardSession& session, const DriverInfo& info)
      : WizardPage(session, info, kPageSerial), logic_(session) {}

 private:
  // The advanced settings and the modem string are kept in the block but not
  // offered: the controller needs neither.
  void BuildContent() override {
    const SerialLogic::View view = logic_.Initial();
    Add(L"BUTTON", texts::SerialSettings(), BS_GROUPBOX, kContentLeft, kContentTop, kContentWidth,
        104);
    const struct {
      const std::string& label;
      int id;
      const std::vector<std::string>& items;
      int current;
    } rows[] = {{texts::Port(), kComEd, PortNames(), view.port},
                {texts::BaudRate(), kBautEd, BaudRateTexts(), view.baud},
                {texts::DataBits(), kDataBitED, DataBitsChoices(), view.data_bits},
                {texts::StopBits(), kStopBitED, StopBitsTexts(), view.stop_bits},
                {texts::Parity(), kParityEd, ParityTexts(), view.parity}};
    int y = kContentTop + 14;
    for (const auto& row : rows) {
      Add(L"STATIC", row.label, SS_LEFT, kContentLeft + 12, y + 2, 60, 10);
      FillCombo(Add(L"COMBOBOX", "", kDropDown, kContentLeft + 80, y, 120, 120, row.id), row.items,
                row.current);
      y += 18;
    }
  }

  std::vector<ButtonSpec> Buttons() const override { return BackNextCancel(); }

  void PageCommand(int id, int code) override {
    if (code == CBN_SELCHANGE) {
      const int position = Selection(Item(id));
      switch (id) {
        case kComEd:
          logic_.SetPort(position);
          break;
        case kBautEd:
          logic_.SetBaud(position);
          break;
        case kDataBitED:
          logic_.SetDataBits(position);
          break;
        case kStopBitED:
          logic_.SetStopBits(position);
          break;
        case kParityEd:
          logic_.SetParity(position);
          break;
        default:
          break;
      }
    } else if (id == kNextBtn) {
      logic_.Next();
      Close(IDOK);
    }
  }

  SerialLogic logic_;
};

std::string JoinLines(const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& line : lines) text += (text.empty() ? "" : "\r\n") + line;
  return text;
}

class TEndFrm : public WizardPage {
 public:
  TEndFrm(WizardSession& session, const DriverInfo& info)
      : WizardPage(session, info, kPageSummary) {}

 private:
  void BuildContent() override {
    constexpr DWORD kMemo = ES_MULTILINE | ES_READONLY | WS_BORDER;
    constexpr int kMemoWidth = 150;
    Add(L"STATIC", texts::SerialSettings(), SS_LEFT, kContentLeft, kContentTop, 80, 10);
    Add(L"EDIT", JoinLines(SerialSummaryLines(session_.Work())), kMemo | ES_AUTOHSCROLL,
        kContentLeft, kContentTop + 11, kMemoWidth, 34, kComArgMemo);
    Add(L"STATIC", texts::Usage(), SS_LEFT, kContentLeft, kContentTop + 50, 80, 10);
    Add(L"EDIT", JoinLines(UsageLines(info_)), kMemo | WS_VSCROLL, kContentLeft, kContentTop + 61,
        kMemoWidth, 68, kUsageMemo);
    HWND tree =
        Add(WC_TREEVIEWW, "", TVS_DISABLEDRAGDROP, kContentLeft + kMemoWidth + 6, kContentTop,
            kContentWidth - kMemoWidth - 6, 129, kDeviceTree, WS_EX_CLIENTEDGE);
    FillDeviceTree(tree, DeviceListLogic(session_, kPageSummary).Nodes());
  }

  std::vector<ButtonSpec> Buttons() const override {
    return {{kPrnBtn, texts::PrintConfiguration(), 44},
            {kLastBtn, texts::Previous(), 44},
            {kFinishBtn, texts::Finish(), 44},
            {kCancelBtn, texts::Cancel(), 44}};
  }

  void PageCommand(int id, int /*code*/) override {
    if (id == kPrnBtn) {
      const std::string title = PageTitle(info_, PageCaption(kPageSummary));
      std::vector<std::string> lines{title, ""};
      for (const std::string& line : SerialSummaryLines(session_.Work())) lines.push_back(line);
      lines.emplace_back();
      for (const DeviceNode& node : DeviceListLogic(session_, kPageSummary).Nodes())
        lines.push_back(node.text);
      PrintLines(hwnd(), title, lines);
    } else if (id == kFinishBtn) {
      SummaryLogic(session_).Finish();
      Close(IDOK);
    }
  }
};

std::unique_ptr<WizardPage> CreatePage(uint8_t page, WizardSession& session,
                                       const DriverInfo& info) {
  switch (page) {
    case kPageStart:
      return std::make_unique<TStartFrm>(session, info);
    case kPageStep1:
      return std::make_unique<TStep1Frm>(session, info);
    case kPageModify:
    case kPageMulti:
      return std::make_unique<DeviceListPage>(session, info, page);
    case kPageSingle:
      return std::make_unique<TStep11Frm>(session, info);
    case kPageSerial:
      return std::make_unique<TStep4Frm>(session, info);
    case kPageSummary:
      return std::make_unique<TEndFrm>(session, info);
    default:
      return nullptr;
  }
}

}  // namespace

void RunWizard(WizardSession& session, HWND owner) {
  const DriverInfo info = CurrentDriverInfo();
  session.RunPages([&](uint8_t page) {
    const std::unique_ptr<WizardPage> dialog = CreatePage(page, session, info);
    if (dialog) dialog->Show(owner);
    return dialog != nullptr;
  });
}

}  // namespace tk571::ui::win32
