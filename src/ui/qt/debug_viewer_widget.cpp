#include "ui/qt/debug_viewer_widget.h"

#include <QCheckBox>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPrintDialog>
#include <QPrinter>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

#include "ui/dialog_texts.h"
#include "ui/qt/widget_common.h"
#include "ui/wizard_pages.h"

namespace tk571::ui {

namespace {

QString U(const char* utf8) {
  return QString::fromUtf8(utf8);
}

}  // namespace

TDebugFrm::TDebugFrm(WizardSession& session, const DriverInfo& info, std::string log_path,
                     QWidget* parent)
    : QDialog(parent), logic_(session, std::move(log_path)) {
  setObjectName(QStringLiteral("TDebugFrm"));
  setModal(true);
  const PageFrame frame = BuildPageFrame(this, info, texts::DebugViewerCaption());
  auto* switches = new QHBoxLayout;
  debug_chk_ = new QCheckBox(Qs(texts::DebugSwitch()), this);
  debug_chk_->setObjectName(QStringLiteral("EnDebugChk"));
  error_chk_ = new QCheckBox(Qs(texts::ErrorOutput()), this);
  error_chk_->setObjectName(QStringLiteral("ErrorChk"));
  trace_chk_ = new QCheckBox(Qs(texts::TraceOutput()), this);
  trace_chk_->setObjectName(QStringLiteral("TraceChk"));
  switches->addWidget(debug_chk_);
  switches->addWidget(error_chk_);
  switches->addWidget(trace_chk_);
  switches->addStretch(1);
  frame.content->addLayout(switches);
  status_ = new QLabel(this);
  status_->setObjectName(QStringLiteral("Label2"));
  frame.content->addWidget(status_);
  load_bar_ = new QProgressBar(this);
  load_bar_->setObjectName(QStringLiteral("LoadBar"));
  load_bar_->setRange(0, DebugViewerLogic::kLoadBarMax);
  load_bar_->setTextVisible(false);
  frame.content->addWidget(load_bar_);
  memo_ = new QPlainTextEdit(this);
  memo_->setObjectName(QStringLiteral("LogMemo"));
  memo_->setLineWrapMode(QPlainTextEdit::NoWrap);
  memo_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  memo_->setMinimumSize(560, 260);
  frame.content->addWidget(memo_, 1);

  save_btn_ = AddButton(frame.buttons, "SaveBtn", Qs(texts::SaveAs()));
  save_changes_btn_ = AddButton(frame.buttons, "SpeedButton1", Qs(texts::SaveChanges()));
  print_btn_ = AddButton(frame.buttons, "PrnBtn", Qs(texts::Print()));
  auto* finish = AddButton(frame.buttons, "FinishBtn", Qs(texts::CloseWindow()));

  load_timer_ = new QTimer(this);
  load_timer_->setObjectName(QStringLiteral("Timer1"));
  load_timer_->setInterval(DebugViewerLogic::kLoadDelayMs);
  load_timer_->setSingleShot(true);
  bar_timer_ = new QTimer(this);
  bar_timer_->setObjectName(QStringLiteral("Timer2"));
  bar_timer_->setInterval(DebugViewerLogic::kLoadBarStepMs);

  logic_.Create();
  Render(true);

  connect(debug_chk_, &QCheckBox::clicked, this, [this](bool checked) {
    const bool warn = logic_.SetDebug(checked, isVisible());
    Render(!checked);
    if (warn) ShowMessage(this, DebugViewerLogic::WarningText());
  });
  connect(error_chk_, &QCheckBox::clicked, this, [this](bool checked) {
    logic_.SetErrors(checked);
    Render(false);
  });
  connect(trace_chk_, &QCheckBox::clicked, this, [this](bool checked) {
    logic_.SetTrace(checked);
    Render(false);
  });
  connect(load_timer_, &QTimer::timeout, this, [this] {
    logic_.LoadTick();
    Render(true);
  });
  connect(bar_timer_, &QTimer::timeout, this, [this] {
    logic_.LoadBarTick();
    Render(false);
  });
  connect(save_btn_, &QPushButton::clicked, this, [this] {
    QFileDialog dialog(this, Qs(texts::SaveAs()));
    dialog.setObjectName(QStringLiteral("SaveDialog"));
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setNameFilter(U("调试日志文件 (*.log *.Log)"));
    dialog.setDefaultSuffix(QStringLiteral("Log"));
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return;
    TakeMemo();
    logic_.SaveAs(dialog.selectedFiles().first().toStdString());
  });
  connect(save_changes_btn_, &QPushButton::clicked, this, [this] {
    TakeMemo();
    logic_.SaveChanges();
  });
  connect(print_btn_, &QPushButton::clicked, this, [this] {
    QPrinter printer(QPrinter::HighResolution);
    QPrintDialog dialog(&printer, this);
    if (dialog.exec() == QDialog::Accepted) PrintLog(printer);
  });
  connect(finish, &QPushButton::clicked, this, [this] {
    logic_.Finish();
    accept();
  });
  CenterOnScreen(this);
}

void TDebugFrm::TakeMemo() {
  std::vector<std::string> lines;
  const QStringList shown = memo_->toPlainText().split(QLatin1Char('\n'));
  for (const QString& line : shown) lines.push_back(Gbk(line));
  // The memo's last line break leaves an empty line behind it.
  if (!lines.empty() && lines.back().empty()) lines.pop_back();
  logic_.SetLines(std::move(lines));
}

bool TDebugFrm::PrintLog(QPrinter& printer) {
  TakeMemo();
  QStringList lines;
  for (const std::string& line : logic_.view().lines) lines << Qs(line);
  return PrintLines(lines, memo_->font(), printer);
}

void TDebugFrm::Render(bool with_memo) {
  const DebugViewerLogic::View& view = logic_.view();
  for (QCheckBox* box : {debug_chk_, error_chk_, trace_chk_}) box->blockSignals(true);
  debug_chk_->setChecked(view.debug_checked);
  error_chk_->setChecked(view.errors_checked);
  trace_chk_->setChecked(view.trace_checked);
  for (QCheckBox* box : {debug_chk_, error_chk_, trace_chk_}) box->blockSignals(false);
  for (QWidget* control : std::initializer_list<QWidget*>{memo_, error_chk_, trace_chk_, save_btn_,
                                                          print_btn_, save_changes_btn_})
    control->setEnabled(view.controls_enabled);
  status_->setText(Qs(view.status));
  load_bar_->setVisible(view.load_bar_visible);
  load_bar_->setValue(view.load_bar);
  if (view.load_pending && !load_timer_->isActive()) load_timer_->start();
  if (!view.load_pending) load_timer_->stop();
  if (view.load_bar_visible && !bar_timer_->isActive()) bar_timer_->start();
  if (!view.load_bar_visible) bar_timer_->stop();
  if (with_memo) {
    QStringList lines;
    for (const std::string& line : view.lines) lines << Qs(line);
    memo_->setPlainText(lines.join(QLatin1Char('\n')));
  }
}

}  // namespace tk571::ui
