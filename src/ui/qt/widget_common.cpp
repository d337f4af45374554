#include "ui/qt/widget_common.h"

#include <QDesktopServices>
#include <QDialog>
#include <QFileInfo>
#include <QFont>
#include <QFontMetrics>
#include <QFrame>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QPainter>
#include <QPixmap>
#include <QPrinter>
#include <QPushButton>
#include <QScreen>
#include <QUrl>
#include <QVBoxLayout>

#include "platform/gbk.h"
#include "ui/wizard_pages.h"

namespace tk571::ui {

QString Qs(const std::string& gbk) {
  return QString::fromStdString(platform::FromGbk(gbk));
}

std::string Gbk(const QString& text) {
  return platform::ToGbk(text.toStdString());
}

void ShowMessage(QWidget* parent, const std::string& text_gbk) {
  QMessageBox box(QMessageBox::Information, Qs(CurrentDriverInfo().DeviceName), Qs(text_gbk),
                  QMessageBox::Ok, parent);
  box.exec();
}

void CenterOnScreen(QWidget* window) {
  window->adjustSize();
  if (QScreen* screen = QGuiApplication::primaryScreen())
    window->move(screen->availableGeometry().center() - window->rect().center());
}

PageFrame BuildPageFrame(QDialog* page, const DriverInfo& info, const std::string& caption_gbk) {
  page->setWindowTitle(Qs(PageTitle(info, caption_gbk)));
  auto* outer = new QVBoxLayout(page);
  auto* body = new QHBoxLayout;
  outer->addLayout(body);

  auto* picture = new QLabel(page);
  picture->setObjectName(QStringLiteral("Image1"));
  picture->setFixedWidth(132);
  picture->setMinimumHeight(260);
  picture->setAlignment(Qt::AlignCenter);
  picture->setStyleSheet(
      QStringLiteral("QLabel { background: qlineargradient(x1:0, y1:0, x2:0, y2:1, stop:0 #1f4e79, "
                     "stop:1 #6fa8dc); color: white; font-weight: bold; font-size: 18px; }"));
  picture->setText(QStringLiteral("TK571"));
  body->addWidget(picture);

  auto* column = new QVBoxLayout;
  body->addLayout(column, 1);
  auto* heading = new QLabel(Qs(WelcomeHeading(info)), page);
  heading->setObjectName(QStringLiteral("Label1"));
  QFont heading_font = heading->font();
  heading_font.setBold(true);
  heading_font.setPointSizeF(heading_font.pointSizeF() * 1.3);
  heading->setFont(heading_font);
  column->addWidget(heading);
  auto* content = new QVBoxLayout;
  column->addLayout(content, 1);

  auto* line = new QFrame(page);
  line->setFrameShape(QFrame::HLine);
  line->setFrameShadow(QFrame::Sunken);
  outer->addWidget(line);
  auto* footer = new QLabel(
      Qs(info.ProductText.empty() ? info.DeviceName + " " + info.FileVersion : info.ProductText),
      page);
  footer->setObjectName(QStringLiteral("FootLabel"));
  footer->setEnabled(false);
  auto* buttons = new QHBoxLayout;
  buttons->addWidget(footer);
  buttons->addStretch(1);
  outer->addLayout(buttons);
  return PageFrame{content, buttons};
}

QPushButton* AddButton(QHBoxLayout* row, const char* object_name, const QString& text) {
  auto* button = new QPushButton(text);
  button->setObjectName(QLatin1String(object_name));
  button->setAutoDefault(false);
  row->addWidget(button);
  return button;
}

bool PrintWidget(QWidget* widget, QPrinter& printer) {
  const QPixmap image = widget->grab();
  QPainter painter;
  if (image.isNull() || !painter.begin(&printer)) {
    printer.abort();
    return false;
  }
  const QRect page = painter.viewport();
  const double scale = static_cast<double>(page.width()) / image.width();
  painter.drawPixmap(QRectF(0, 0, page.width(), image.height() * scale), image,
                     QRectF(image.rect()));
  return painter.end();
}

bool PrintLines(const QStringList& lines, const QFont& font, QPrinter& printer) {
  QPainter painter;
  if (!painter.begin(&printer)) {
    printer.abort();
    return false;
  }
  painter.setFont(QFont(font, painter.device()));
  const QFontMetrics metrics(painter.font(), painter.device());
  const QRect page = painter.viewport();
  int y = metrics.ascent();
  for (const QString& line : lines) {
    if (y > page.height()) {
      if (!printer.newPage()) {
        printer.abort();
        return false;
      }
      y = metrics.ascent();
    }
    painter.drawText(0, y, line);
    y += metrics.lineSpacing();
  }
  return painter.end();
}

void OpenHelpFile(const DriverInfo& info) {
  for (const std::string& path : HelpFileCandidates(info)) {
    const QFileInfo file(QString::fromStdString(path));
    if (file.isFile()) {
      QDesktopServices::openUrl(QUrl::fromLocalFile(file.absoluteFilePath()));
      return;
    }
  }
}

void OpenDownloadPage(const DriverInfo& info) {
  QDesktopServices::openUrl(QUrl(QString::fromStdString(DownloadAddress(info)), QUrl::StrictMode));
}

}  // namespace tk571::ui
