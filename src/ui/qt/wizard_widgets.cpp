#include "ui/qt/wizard_widgets.h"

#include <QComboBox>
#include <QEvent>
#include <QGroupBox>
#include <QGuiApplication>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPrintDialog>
#include <QPrinter>
#include <QPushButton>
#include <QRadioButton>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <QWindow>
#include <memory>

#include "ui/dialog_texts.h"
#include "ui/qt/debug_viewer_widget.h"
#include "ui/qt/widget_common.h"

namespace tk571::ui {

namespace {

QString U(const char* utf8) {
  return QString::fromUtf8(utf8);
}

void FillDeviceTypes(QComboBox* box) {
  for (int position = 0; DeviceTypeCodeOfPosition(position) != kEmptyTypeCode; ++position)
    box->addItem(Qs(DeviceTypeName(DeviceTypeCodeOfPosition(position))));
  box->setCurrentIndex(0);
}

void FillList(QComboBox* box, const std::vector<std::string>& items, int current) {
  for (const std::string& item : items) box->addItem(Qs(item));
  box->setCurrentIndex(current >= 0 && current < box->count() ? current : -1);
}

// Later pages share 上一步 and 取消.
void AddBackAndCancel(QDialog* page, WizardSession& session, QHBoxLayout* row,
                      QPushButton* before_cancel) {
  auto* last = AddButton(row, "LastBtn", Qs(texts::Previous()));
  row->removeWidget(last);
  row->insertWidget(row->indexOf(before_cancel), last);
  QObject::connect(last, &QPushButton::clicked, page, [page, &session] {
    GoBack(session);
    page->accept();
  });
  auto* cancel = AddButton(row, "CancelBtn", Qs(texts::Cancel()));
  QObject::connect(cancel, &QPushButton::clicked, page, [page, &session] {
    CancelWizard(session);
    page->reject();
  });
}

QTreeWidget* NewDeviceTree(QWidget* parent) {
  auto* tree = new QTreeWidget(parent);
  tree->setObjectName(QStringLiteral("DeviceTree"));
  tree->setHeaderHidden(true);
  tree->setRootIsDecorated(false);
  tree->setMinimumSize(200, 160);
  return tree;
}

void FillDeviceTree(QTreeWidget* tree, const std::vector<DeviceNode>& nodes) {
  tree->clear();
  for (const DeviceNode& node : nodes) {
    auto* item = new QTreeWidgetItem(tree, QStringList{Qs(node.text)});
    item->setData(0, Qt::UserRole, node.entry);
  }
  tree->expandAll();
}

// On X11 the host's window id makes the page a transient of the host window.
std::unique_ptr<QWindow> ForeignOwner(uintptr_t owner_window) {
  if (owner_window == 0 || QGuiApplication::platformName() != QLatin1String("xcb")) return nullptr;
  return std::unique_ptr<QWindow>(QWindow::fromWinId(static_cast<WId>(owner_window)));
}

std::unique_ptr<QDialog> CreatePage(uint8_t page, WizardSession& session, const DriverInfo& info) {
  switch (page) {
    case kPageStart:
      return std::make_unique<TStartFrm>(session, info);
    case kPageStep1:
      return std::make_unique<TStep1Frm>(session, info);
    case kPageModify:
      return std::make_unique<TStep2Frm>(session, info);
    case kPageSingle:
      return std::make_unique<TStep11Frm>(session, info);
    case kPageMulti:
      return std::make_unique<TStep12Frm>(session, info);
    case kPageSerial:
      return std::make_unique<TStep4Frm>(session, info);
    case kPageSummary:
      return std::make_unique<TEndFrm>(session, info);
    default:
      return nullptr;
  }
}

}  // namespace

void RunWizard(WizardSession& session, uintptr_t owner_window) {
  const DriverInfo info = CurrentDriverInfo();
  const std::unique_ptr<QWindow> owner = ForeignOwner(owner_window);
  session.RunPages([&](uint8_t page) {
    std::unique_ptr<QDialog> dialog = CreatePage(page, session, info);
    if (!dialog) return false;
    dialog->setModal(true);
    CenterOnScreen(dialog.get());
    if (owner) {
      dialog->winId();
      dialog->windowHandle()->setTransientParent(owner.get());
    }
    dialog->exec();
    return true;
  });
}

TStartFrm::TStartFrm(WizardSession& session, const DriverInfo& info)
    : session_(session), info_(info), logic_(session) {
  setObjectName(QStringLiteral("TStartFrm"));
  const PageFrame frame = BuildPageFrame(this, info, PageCaption(kPageStart));
  auto* group = new QGroupBox(Qs(texts::ChooseOperation()), this);
  auto* column = new QVBoxLayout(group);
  new_op_ = new QRadioButton(Qs(texts::NewDevice()), group);
  new_op_->setObjectName(QStringLiteral("NewOp"));
  modify_op_ = new QRadioButton(Qs(texts::ModifyDevice()), group);
  modify_op_->setObjectName(QStringLiteral("ModifyOp"));
  browse_op_ = new QRadioButton(Qs(texts::BrowseDevices()), group);
  browse_op_->setObjectName(QStringLiteral("BrowseOp"));
  for (QRadioButton* radio : {new_op_, modify_op_, browse_op_}) {
    column->addWidget(radio);
    radio->installEventFilter(this);
  }
  new_op_->setChecked(true);
  frame.content->addWidget(group);
  frame.content->addStretch(1);

  auto* version = AddButton(frame.buttons, "VersionBtn", Qs(texts::HelpInfo()));
  connect(version, &QPushButton::clicked, this, [this] {
    ShowMessage(this, VersionMessage(info_));
    OpenHelpFile(info_);
  });
  auto* debug = AddButton(frame.buttons, "DebugBtn", Qs(texts::DebugSettings()));
  connect(debug, &QPushButton::clicked, this, [this] {
    logic_.OpenDebugViewer();
    TDebugFrm viewer(session_, info_, RunLogPath(), this);
    viewer.exec();
  });
  auto* download = AddButton(frame.buttons, "DownloadBtn", Qs(texts::DownloadDriver()));
  connect(download, &QPushButton::clicked, this, [this] { OpenDownloadPage(info_); });
  auto* next = AddButton(frame.buttons, "NextBtn", Qs(texts::Next()));
  next->setDefault(true);
  connect(next, &QPushButton::clicked, this, [this] { Next(); });
  auto* cancel = AddButton(frame.buttons, "CancelBtn", Qs(texts::Cancel()));
  connect(cancel, &QPushButton::clicked, this, [this] {
    logic_.Cancel();
    reject();
  });
}

void TStartFrm::Next() {
  if (new_op_->isChecked()) {
    logic_.Next(StartPageLogic::Choice::kNew);
  } else if (modify_op_->isChecked()) {
    logic_.Next(StartPageLogic::Choice::kModify);
  } else {
    logic_.Next(StartPageLogic::Choice::kBrowse);
  }
  accept();
}

bool TStartFrm::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::MouseButtonDblClick) {
    if (auto* radio = qobject_cast<QRadioButton*>(watched)) {
      radio->setChecked(true);
      Next();
      return true;
    }
  }
  return QDialog::eventFilter(watched, event);
}

TStep1Frm::TStep1Frm(WizardSession& session, const DriverInfo& info) {
  setObjectName(QStringLiteral("TStep1Frm"));
  const PageFrame frame = BuildPageFrame(this, info, PageCaption(kPageStep1));
  auto* group = new QGroupBox(Qs(texts::ChooseCreateMode()), this);
  auto* column = new QVBoxLayout(group);
  auto* single = new QRadioButton(Qs(SingleCreateCaption(info)), group);
  single->setObjectName(QStringLiteral("SingleCreate"));
  auto* multiple = new QRadioButton(Qs(MultiCreateCaption(info)), group);
  multiple->setObjectName(QStringLiteral("MulCreate"));
  column->addWidget(single);
  column->addWidget(multiple);
  multiple->setChecked(true);
  frame.content->addWidget(group);
  frame.content->addStretch(1);

  auto* next = AddButton(frame.buttons, "NextBtn", Qs(texts::Next()));
  next->setDefault(true);
  connect(next, &QPushButton::clicked, this, [this, &session, single] {
    CreateModeLogic(session).Next(single->isChecked() ? CreateModeLogic::Choice::kSingle
                                                      : CreateModeLogic::Choice::kMultiple);
    accept();
  });
  AddBackAndCancel(this, session, frame.buttons, next);
}

TStep11Frm::TStep11Frm(WizardSession& session, const DriverInfo& info) {
  setObjectName(QStringLiteral("TStep11Frm"));
  const PageFrame frame = BuildPageFrame(this, info, PageCaption(kPageSingle));
  auto* row = new QHBoxLayout;
  row->addWidget(new QLabel(Qs(info.DevIDName), this));
  auto* id_ed = new QLineEdit(QStringLiteral("0"), this);
  id_ed->setObjectName(QStringLiteral("IDEd"));
  row->addWidget(id_ed);
  row->addWidget(new QLabel(Qs(info.DevTypeName), this));
  auto* type_ed = new QComboBox(this);
  type_ed->setObjectName(QStringLiteral("DevTypeEd"));
  FillDeviceTypes(type_ed);
  row->addWidget(type_ed, 1);
  frame.content->addLayout(row);
  auto* hint = new QLabel(Qs(DeviceNumberRangeHint(info)), this);
  hint->setObjectName(QStringLiteral("HintLabel"));
  frame.content->addWidget(hint);
  auto* box = new QGroupBox(Qs(texts::TagType()), this);
  auto* box_layout = new QVBoxLayout(box);
  auto* description = new QLabel(Qs(TypeDescriptionText(0)), box);
  description->setObjectName(QStringLiteral("TypeMemo"));
  description->setWordWrap(true);
  box_layout->addWidget(description);
  frame.content->addWidget(box);
  frame.content->addStretch(1);

  connect(id_ed, &QLineEdit::textEdited, this, [id_ed](const QString& text) {
    const std::string shown = SingleDeviceLogic::NormalisedNumberText(text.toStdString());
    if (shown != text.toStdString()) id_ed->setText(QString::fromStdString(shown));
  });
  connect(type_ed, &QComboBox::currentIndexChanged, this,
          [description](int position) { description->setText(Qs(TypeDescriptionText(position))); });
  auto* next = AddButton(frame.buttons, "NextBtn", Qs(texts::Next()));
  // No default button: Enter in IDEd confirms the number, not the page.
  connect(next, &QPushButton::clicked, this, [this, &session, id_ed, type_ed] {
    SingleDeviceLogic(session).Next(id_ed->text().toStdString(), type_ed->currentIndex());
    accept();
  });
  AddBackAndCancel(this, session, frame.buttons, next);
}

DeviceListPage::DeviceListPage(WizardSession& session, const DriverInfo& info, uint8_t own_page)
    : info_(info), logic_(session, own_page) {
  const bool modify = own_page == kPageModify;
  setObjectName(modify ? QStringLiteral("TStep2Frm") : QStringLiteral("TStep12Frm"));
  const PageFrame frame = BuildPageFrame(this, info, PageCaption(own_page));
  auto* row = new QHBoxLayout;
  tree_ = NewDeviceTree(this);
  tree_->installEventFilter(this);
  row->addWidget(tree_, 1);
  auto* side = new QVBoxLayout;
  side->addWidget(new QLabel(Qs(info.DevIDName), this));
  id_ed_ = new QLineEdit(this);
  id_ed_->setObjectName(QStringLiteral("IDEd"));
  side->addWidget(id_ed_);
  side->addWidget(new QLabel(Qs(info.DevTypeName), this));
  type_ed_ = new QComboBox(this);
  type_ed_->setObjectName(QStringLiteral("DevTypeEd"));
  FillDeviceTypes(type_ed_);
  side->addWidget(type_ed_);
  auto* add = new QPushButton(Qs(texts::AddDevice()), this);
  add->setObjectName(QStringLiteral("AddBtn"));
  add->setAutoDefault(false);
  side->addWidget(add);
  auto* del = new QPushButton(Qs(texts::DeleteDevice()), this);
  del->setObjectName(QStringLiteral("DelBtn"));
  del->setAutoDefault(false);
  side->addWidget(del);
  side->addStretch(1);
  row->addLayout(side);
  frame.content->addLayout(row);
  auto* hint = new QLabel(Qs(DeviceNumberRangeHint(info)), this);
  frame.content->addWidget(hint);

  Rebuild();
  SetNumber(logic_.FirstFreeNumber());

  connect(add, &QPushButton::clicked, this, [this] {
    const int number = logic_.Add(id_ed_->text().toStdString(), type_ed_->currentIndex());
    Rebuild();
    SetNumber(number);
  });
  connect(del, &QPushButton::clicked, this, [this] {
    const int number = logic_.Delete(Selected());
    Rebuild();
    SetNumber(number);
  });
  connect(tree_, &QTreeWidget::itemClicked, this, [this] { ShowSelected(); });
  connect(tree_, &QTreeWidget::currentItemChanged, this, [this] { ShowSelected(); });
  // The number is taken when the user has finished typing it (Enter or
  // leaving the edit), so that no device jumps through the numbers typed on
  // the way.
  connect(id_ed_, &QLineEdit::editingFinished, this, [this] { NumberEdited(); });
  connect(type_ed_, &QComboBox::activated, this, [this](int position) {
    const int entry = Selected();
    logic_.ChangeType(entry, position);
    if (QTreeWidgetItem* item = tree_->currentItem(); item && entry >= 0)
      item->setText(0, Qs(logic_.NodeText(entry)));
  });

  auto* next = AddButton(frame.buttons, "NextBtn", Qs(texts::Next()));
  // No default button: Enter in IDEd confirms the number, not the page.
  connect(next, &QPushButton::clicked, this, [this] {
    logic_.Next();
    accept();
  });
  AddBackAndCancel(this, session, frame.buttons, next);
}

void DeviceListPage::Rebuild() {
  const QSignalBlocker block(tree_);
  FillDeviceTree(tree_, logic_.Nodes());
  tree_->setCurrentItem(nullptr);
}

int DeviceListPage::Selected() const {
  const QTreeWidgetItem* item = tree_->currentItem();
  return item && item->isSelected() ? item->data(0, Qt::UserRole).toInt() : -1;
}

void DeviceListPage::SetNumber(int number) {
  id_ed_->setText(QString::number(number));
  id_ed_->setModified(false);
}

void DeviceListPage::ShowSelected() {
  const int entry = Selected();
  if (entry < 0) return;
  SetNumber(logic_.SelectedNumber(entry));
  const int position = logic_.SelectedTypePosition(entry);
  if (position >= 0) type_ed_->setCurrentIndex(position);
}

void DeviceListPage::NumberEdited() {
  if (!id_ed_->isModified()) return;
  id_ed_->setModified(false);
  int entry = Selected();
  const int old_entry = entry;
  switch (logic_.ChangeNumber(entry, id_ed_->text().toStdString(), type_ed_->currentIndex())) {
    case DeviceListLogic::NumberChange::kMoved:
      if (QTreeWidgetItem* item = tree_->currentItem()) {
        item->setData(0, Qt::UserRole, entry);
        item->setText(0, Qs(logic_.NodeText(entry)));
      }
      SetNumber(entry);
      break;
    case DeviceListLogic::NumberChange::kDuplicate:
      ShowMessage(this, DuplicateNumberMessage(info_));
      SetNumber(logic_.SelectedNumber(old_entry));
      break;
    case DeviceListLogic::NumberChange::kUnchanged:
      SetNumber(entry);
      break;
    case DeviceListLogic::NumberChange::kNoSelection:
      SetNumber(ClampDeviceNumber(id_ed_->text().toStdString()));
      break;
  }
}

bool DeviceListPage::eventFilter(QObject* watched, QEvent* event) {
  if (watched == tree_ && event->type() == QEvent::KeyRelease) {
    if (static_cast<QKeyEvent*>(event)->key() == Qt::Key_Delete) {
      SetNumber(logic_.Delete(Selected()));
      Rebuild();
      return true;
    }
    ShowSelected();
  }
  return QDialog::eventFilter(watched, event);
}

TStep2Frm::TStep2Frm(WizardSession& session, const DriverInfo& info)
    : DeviceListPage(session, info, kPageModify) {}

TStep12Frm::TStep12Frm(WizardSession& session, const DriverInfo& info)
    : DeviceListPage(session, info, kPageMulti) {}

TStep4Frm::TStep4Frm(WizardSession& session, const DriverInfo& info) {
  setObjectName(QStringLiteral("TStep4Frm"));
  const PageFrame frame = BuildPageFrame(this, info, PageCaption(kPageSerial));
  auto logic = std::make_shared<SerialLogic>(session);
  const SerialLogic::View view = logic->Initial();
  auto* group = new QGroupBox(Qs(texts::SerialSettings()), this);
  auto* grid = new QGridLayout(group);
  auto add_combo = [&](int row, const std::string& label, const char* name,
                       const std::vector<std::string>& items, int current,
                       void (SerialLogic::*setter)(int)) {
    grid->addWidget(new QLabel(Qs(label), group), row, 0);
    auto* box = new QComboBox(group);
    box->setObjectName(QLatin1String(name));
    FillList(box, items, current);
    grid->addWidget(box, row, 1);
    connect(box, &QComboBox::activated, this,
            [logic, setter](int position) { ((*logic).*setter)(position); });
  };
  add_combo(0, texts::Port(), "ComEd", PortNames(), view.port, &SerialLogic::SetPort);
  add_combo(1, texts::BaudRate(), "BautEd", BaudRateTexts(), view.baud, &SerialLogic::SetBaud);
  add_combo(2, texts::DataBits(), "DataBitED", DataBitsChoices(), view.data_bits,
            &SerialLogic::SetDataBits);
  add_combo(3, texts::StopBits(), "StopBitED", StopBitsTexts(), view.stop_bits,
            &SerialLogic::SetStopBits);
  add_combo(4, texts::Parity(), "ParityEd", ParityTexts(), view.parity, &SerialLogic::SetParity);
  frame.content->addWidget(group);

  // The advanced settings and the modem string are kept in the block but
  // not offered: the controller needs neither.
  auto* advanced = new QGroupBox(U("高级设置"), this);
  advanced->setObjectName(QStringLiteral("SetGB"));
  auto* advanced_grid = new QGridLayout(advanced);
  auto* timeout = new QLineEdit(QString::fromStdString(view.timeout), advanced);
  timeout->setObjectName(QStringLiteral("OutTimeEd"));
  auto* retries = new QLineEdit(QString::fromStdString(view.retries), advanced);
  retries->setObjectName(QStringLiteral("WCountEd"));
  advanced_grid->addWidget(new QLabel(U("超时(毫秒)"), advanced), 0, 0);
  advanced_grid->addWidget(timeout, 0, 1);
  advanced_grid->addWidget(new QLabel(U("写重复次数"), advanced), 1, 0);
  advanced_grid->addWidget(retries, 1, 1);
  advanced->setVisible(false);
  frame.content->addWidget(advanced);
  auto* init = new QLineEdit(Qs(view.modem_init), this);
  init->setObjectName(QStringLiteral("InitStrEd"));
  init->setVisible(false);
  frame.content->addWidget(init);
  frame.content->addStretch(1);
  connect(timeout, &QLineEdit::editingFinished, this, [logic, timeout] {
    if (!timeout->isModified()) return;
    timeout->setText(QString::number(logic->SetTimeout(timeout->text().toStdString())));
    timeout->setModified(false);
  });
  connect(retries, &QLineEdit::editingFinished, this, [logic, retries] {
    if (!retries->isModified()) return;
    retries->setText(QString::number(
        logic->SetRetries(retries->text().toStdString(), CurrentWriteRepeatBudget())));
    retries->setModified(false);
  });
  connect(init, &QLineEdit::editingFinished, this,
          [logic, init] { init->setText(Qs(logic->SetModemInit(Gbk(init->text())))); });

  auto* next = AddButton(frame.buttons, "NextBtn", Qs(texts::Next()));
  connect(next, &QPushButton::clicked, this, [this, logic] {
    logic->Next();
    accept();
  });
  AddBackAndCancel(this, session, frame.buttons, next);
}

TEndFrm::TEndFrm(WizardSession& session, const DriverInfo& info) {
  setObjectName(QStringLiteral("TEndFrm"));
  const PageFrame frame = BuildPageFrame(this, info, PageCaption(kPageSummary));
  auto* row = new QHBoxLayout;
  auto* left = new QVBoxLayout;
  auto* serial = new QPlainTextEdit(this);
  serial->setObjectName(QStringLiteral("ComArgMemo"));
  serial->setReadOnly(true);
  QStringList lines;
  for (const std::string& line : SerialSummaryLines(session.Work())) lines << Qs(line);
  serial->setPlainText(lines.join(QLatin1Char('\n')));
  serial->setLineWrapMode(QPlainTextEdit::NoWrap);
  serial->setTabStopDistance(serial->fontMetrics().horizontalAdvance(QLatin1Char(' ')) * 4);
  serial->setFixedHeight(serial->fontMetrics().lineSpacing() * 3 + 16);
  serial->setMinimumWidth(serial->fontMetrics().horizontalAdvance(serial->toPlainText()) / 2 + 40);
  serial->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  left->addWidget(new QLabel(Qs(texts::SerialSettings()), this));
  left->addWidget(serial);
  auto* usage = new QPlainTextEdit(this);
  usage->setObjectName(QStringLiteral("UsageMemo"));
  usage->setReadOnly(true);
  QStringList usage_lines;
  for (const std::string& line : UsageLines(info)) usage_lines << Qs(line);
  usage->setPlainText(usage_lines.join(QLatin1Char('\n')));
  left->addWidget(new QLabel(Qs(texts::Usage()), this));
  left->addWidget(usage);
  row->addLayout(left, 2);
  auto* tree = NewDeviceTree(this);
  FillDeviceTree(tree, DeviceListLogic(session, kPageSummary).Nodes());
  row->addWidget(tree, 1);
  frame.content->addLayout(row);

  auto* print = AddButton(frame.buttons, "PrnBtn", Qs(texts::PrintConfiguration()));
  connect(print, &QPushButton::clicked, this, [this] {
    QPrinter printer(QPrinter::HighResolution);
    QPrintDialog dialog(&printer, this);
    if (dialog.exec() == QDialog::Accepted) PrintWidget(this, printer);
  });
  auto* finish = AddButton(frame.buttons, "FinishBtn", Qs(texts::Finish()));
  finish->setDefault(true);
  connect(finish, &QPushButton::clicked, this, [this, &session] {
    SummaryLogic(session).Finish();
    accept();
  });
  AddBackAndCancel(this, session, frame.buttons, finish);
}

}  // namespace tk571::ui
