#include "ui/qt/sample_test_widget.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QCloseEvent>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTableWidget>
#include <QTimer>
#include <QVBoxLayout>

#include "ui/dialog_texts.h"
#include "ui/qt/widget_common.h"

namespace tk571::ui {

namespace {

QLineEdit* ReadOnlyEdit(const char* name, QWidget* parent) {
  auto* edit = new QLineEdit(parent);
  edit->setObjectName(QLatin1String(name));
  edit->setReadOnly(true);
  return edit;
}

void SetTextIfChanged(QLineEdit* edit, const QString& text) {
  if (edit->text() != text) edit->setText(text);
}

}  // namespace

TSampleTest::TSampleTest(DeviceTestSession& session, QWidget* parent)
    : QDialog(parent), session_(session) {
  setObjectName(QStringLiteral("TSampleTest"));
  setWindowTitle(Qs(texts::DeviceTestCaption()));
  setModal(true);
  setMinimumWidth(620);
  auto* outer = new QVBoxLayout(this);

  grid_ = new QTableWidget(DeviceTestSession::kGridRows - 1, DeviceTestSession::kGridColumns, this);
  grid_->setObjectName(QStringLiteral("StringGrid1"));
  grid_->setHorizontalHeaderLabels({Qs(texts::TagAddress()), Qs(texts::TagValueColumn()),
                                    Qs(texts::TagOperation()), Qs(texts::HostCommand())});
  grid_->verticalHeader()->setVisible(false);
  grid_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  grid_->horizontalHeader()->setStretchLastSection(true);
  grid_->setColumnWidth(0, 120);
  grid_->setColumnWidth(1, 110);
  grid_->setColumnWidth(2, 80);
  grid_->setFixedHeight(110);
  outer->addWidget(grid_);

  auto* messages = new QGridLayout;
  sys_msg_ = ReadOnlyEdit("SysMsg", this);
  comm_msg_ = ReadOnlyEdit("CommMsg", this);
  ask_ed_ = new QLineEdit(this);
  ask_ed_->setObjectName(QStringLiteral("AskMsg"));
  auto* ask_btn = new QPushButton(Qs(texts::SendCommand()), this);
  ask_btn->setObjectName(QStringLiteral("AskBtn"));
  ask_btn->setAutoDefault(false);
  answer_ = ReadOnlyEdit("AnswerMsg", this);
  messages->addWidget(new QLabel(Qs(texts::StartInfo()), this), 0, 0);
  messages->addWidget(sys_msg_, 0, 1, 1, 2);
  messages->addWidget(new QLabel(Qs(texts::CommInfo()), this), 1, 0);
  messages->addWidget(comm_msg_, 1, 1, 1, 2);
  messages->addWidget(new QLabel(Qs(texts::HostCommand()), this), 2, 0);
  messages->addWidget(ask_ed_, 2, 1);
  messages->addWidget(ask_btn, 2, 2);
  messages->addWidget(new QLabel(Qs(texts::DeviceAnswer()), this), 3, 0);
  messages->addWidget(answer_, 3, 1, 1, 2);
  outer->addLayout(messages);

  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  debug_btn_ = new QPushButton(this);
  debug_btn_->setObjectName(QStringLiteral("DebugBtn"));
  pause_btn_ = new QPushButton(this);
  pause_btn_->setObjectName(QStringLiteral("PauseBtn"));
  auto* exit_btn = new QPushButton(Qs(texts::Exit()), this);
  exit_btn->setObjectName(QStringLiteral("ExitBtn"));
  for (QPushButton* button : {debug_btn_, pause_btn_, exit_btn}) {
    button->setAutoDefault(false);
    buttons->addWidget(button);
  }
  outer->addLayout(buttons);

  advanced_ = new QGroupBox(Qs(texts::AdvancedDebug()), this);
  advanced_->setObjectName(QStringLiteral("AdvancedPanel"));
  auto* panel = new QGridLayout(advanced_);
  addr_ed_ = new QLineEdit(advanced_);
  addr_ed_->setObjectName(QStringLiteral("AddrEd"));
  panel->addWidget(new QLabel(Qs(texts::TagAddress()), advanced_), 0, 0);
  panel->addWidget(addr_ed_, 0, 1);
  auto* type_group = new QGroupBox(Qs(texts::TagType()), advanced_);
  type_group->setObjectName(QStringLiteral("TypeGroup"));
  auto* type_row = new QHBoxLayout(type_group);
  auto* type_buttons = new QButtonGroup(this);
  for (int i = 0; i < 3; ++i) {
    type_buttons_[i] =
        new QRadioButton(Qs(texts::TagTypeNames()[static_cast<std::size_t>(i)]), type_group);
    type_row->addWidget(type_buttons_[i]);
    type_buttons->addButton(type_buttons_[i], i);
  }
  panel->addWidget(type_group, 1, 0, 1, 2);
  read_ck_ = new QCheckBox(Qs(texts::ReadOperation()), advanced_);
  read_ck_->setObjectName(QStringLiteral("ReadCk"));
  write_ck_ = new QCheckBox(Qs(texts::WriteOperation()), advanced_);
  write_ck_->setObjectName(QStringLiteral("WriteCk"));
  value_ed_ = new QLineEdit(advanced_);
  value_ed_->setObjectName(QStringLiteral("wValueMsg"));
  write_request_ = ReadOnlyEdit("wStrMsg", advanced_);
  panel->addWidget(read_ck_, 2, 0);
  panel->addWidget(write_ck_, 3, 0);
  panel->addWidget(value_ed_, 3, 1);
  panel->addWidget(new QLabel(Qs(texts::WriteCommand()), advanced_), 4, 0);
  panel->addWidget(write_request_, 4, 1);
  outer->addWidget(advanced_);

  timer_ = new QTimer(this);
  timer_->setObjectName(QStringLiteral("Timer1"));

  connect(timer_, &QTimer::timeout, this, [this] { Do([this] { session_.TimerTick(); }); });
  connect(read_ck_, &QCheckBox::clicked, this,
          [this](bool checked) { Do([&] { session_.SetReadChecked(checked); }); });
  connect(write_ck_, &QCheckBox::clicked, this,
          [this](bool checked) { Do([&] { session_.SetWriteChecked(checked); }); });
  connect(addr_ed_, &QLineEdit::textEdited, this,
          [this](const QString& text) { Do([&] { session_.AddressEdited(Gbk(text)); }); });
  connect(value_ed_, &QLineEdit::textEdited, this,
          [this](const QString& text) { Do([&] { session_.WriteValueEdited(Gbk(text)); }); });
  connect(ask_ed_, &QLineEdit::textEdited, this,
          [this](const QString& text) { session_.AskEdited(Gbk(text)); });
  connect(type_buttons, &QButtonGroup::idClicked, this,
          [this](int id) { Do([&] { session_.TypeChosen(id); }); });
  connect(ask_btn, &QPushButton::clicked, this, [this] { Do([this] { session_.AskClicked(); }); });
  connect(debug_btn_, &QPushButton::clicked, this,
          [this] { Do([this] { session_.DebugClicked(); }); });
  connect(pause_btn_, &QPushButton::clicked, this,
          [this] { Do([this] { session_.PauseClicked(); }); });
  connect(exit_btn, &QPushButton::clicked, this, [this] { close(); });

  Render();
  CenterOnScreen(this);
}

void TSampleTest::Render() {
  const DeviceTestSession::View& view = session_.view();
  for (int row = 1; row < DeviceTestSession::kGridRows; ++row) {
    for (int column = 0; column < DeviceTestSession::kGridColumns; ++column) {
      const std::string& cell =
          view.grid[static_cast<std::size_t>(row)][static_cast<std::size_t>(column)];
      const QString text = Qs(column == 3 ? ShownBytes(cell) : cell);
      QTableWidgetItem* item = grid_->item(row - 1, column);
      if (!item) {
        if (text.isEmpty()) continue;
        item = new QTableWidgetItem;
        grid_->setItem(row - 1, column, item);
      }
      if (item->text() != text) item->setText(text);
    }
  }
  SetTextIfChanged(sys_msg_, Qs(OneLine(view.sys_msg)));
  SetTextIfChanged(comm_msg_, Qs(OneLine(view.comm_msg)));
  SetTextIfChanged(addr_ed_, Qs(view.address));
  SetTextIfChanged(value_ed_, Qs(view.write_value));
  SetTextIfChanged(write_request_, Qs(ShownBytes(view.write_request)));
  SetTextIfChanged(ask_ed_, Qs(view.ask));
  SetTextIfChanged(answer_, Qs(ShownBytes(view.answer)));
  if (view.type_group >= 0 && view.type_group < 3) type_buttons_[view.type_group]->setChecked(true);
  read_ck_->setChecked(view.read_checked);
  write_ck_->setChecked(view.write_checked);
  write_ck_->setEnabled(view.write_enabled);
  debug_btn_->setText(Qs(view.debug_caption));
  pause_btn_->setText(Qs(view.pause_caption));
  pause_btn_->setEnabled(view.pause_enabled);
  if (advanced_->isVisible() != view.debug_shown || !isVisible()) {
    advanced_->setVisible(view.debug_shown);
    adjustSize();
    resize(width(), std::max(view.height, minimumSizeHint().height()));
  }
  timer_->setInterval(view.timer_interval_ms);
  if (view.timer_running && !timer_->isActive()) timer_->start();
  if (!view.timer_running) timer_->stop();
}

void TSampleTest::ShowAlerts() {
  for (const std::string& text : session_.TakeAlerts()) ShowMessage(this, text);
}

void TSampleTest::done(int result) {
  if (!closed_) {
    closed_ = true;
    timer_->stop();
    result = session_.Close() ? QDialog::Accepted : QDialog::Rejected;
  }
  QDialog::done(result);
}

void TSampleTest::closeEvent(QCloseEvent* event) {
  done(QDialog::Rejected);
  event->accept();
}

}  // namespace tk571::ui
