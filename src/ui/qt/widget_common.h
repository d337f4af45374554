// Pieces every window of the user interface shares: GBK conversion for
// display, the wizard's page frame, message boxes and printing.
#pragma once

#include <QString>
#include <QStringList>
#include <string>

#include "ui/driver_info.h"

class QDialog;
class QFont;
class QHBoxLayout;
class QLabel;
class QPrinter;
class QPushButton;
class QVBoxLayout;
class QWidget;

namespace tk571::ui {

// GBK text for display, and a displayed text back to GBK.
QString Qs(const std::string& gbk);
std::string Gbk(const QString& text);

void ShowMessage(QWidget* parent, const std::string& text_gbk);
void CenterOnScreen(QWidget* window);

struct PageFrame {
  QVBoxLayout* content;
  QHBoxLayout* buttons;
};
// The frame of a wizard page: title, picture, heading, footer and a row of
// buttons below the page's own content.
PageFrame BuildPageFrame(QDialog* page, const DriverInfo& info, const std::string& caption_gbk);
QPushButton* AddButton(QHBoxLayout* row, const char* object_name, const QString& text);

// Prints the window scaled to the paper width; false (and the job aborted)
// when printing failed.
bool PrintWidget(QWidget* widget, QPrinter& printer);
// Prints text lines, one per printed line, in the given font.
bool PrintLines(const QStringList& lines, const QFont& font, QPrinter& printer);

// Help for the driver, opened with the desktop's handler when a file exists.
void OpenHelpFile(const DriverInfo& info);
void OpenDownloadPage(const DriverInfo& info);

}  // namespace tk571::ui
