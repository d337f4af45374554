#include "ui/win32/print_lines_win32.h"

#include <commdlg.h>

#include "ui/win32/dialog_win32.h"

namespace tk571::ui::win32 {

namespace {

// The printer's device context, deleted with the job.
class PrinterDc {
 public:
  explicit PrinterDc(HDC dc) : dc_(dc) {}
  PrinterDc(const PrinterDc&) = delete;
  PrinterDc& operator=(const PrinterDc&) = delete;
  ~PrinterDc() {
    if (dc_) DeleteDC(dc_);
  }
  HDC get() const { return dc_; }

 private:
  HDC dc_;
};

}  // namespace

bool PrintLines(HWND owner, const std::string& title_gbk, const std::vector<std::string>& lines) {
  PRINTDLGW choice{};
  choice.lStructSize = sizeof(choice);
  choice.hwndOwner = owner;
  choice.Flags = PD_RETURNDC | PD_NOPAGENUMS | PD_NOSELECTION;
  if (!PrintDlgW(&choice)) return false;
  if (choice.hDevMode) GlobalFree(choice.hDevMode);
  if (choice.hDevNames) GlobalFree(choice.hDevNames);
  const PrinterDc printer(choice.hDC);

  const std::wstring document = Wide(title_gbk);
  DOCINFOW job{};
  job.cbSize = sizeof(job);
  job.lpszDocName = document.c_str();
  if (StartDocW(printer.get(), &job) <= 0) return false;
  TEXTMETRICW metrics{};
  GetTextMetricsW(printer.get(), &metrics);
  const int margin = GetDeviceCaps(printer.get(), LOGPIXELSX) / 2;
  const int line_height = metrics.tmHeight + metrics.tmExternalLeading;
  const int page_bottom = GetDeviceCaps(printer.get(), VERTRES) - margin;
  bool ok = StartPage(printer.get()) > 0;
  int y = margin;
  for (const std::string& line : lines) {
    if (!ok) break;
    if (y + line_height > page_bottom) {
      ok = EndPage(printer.get()) > 0 && StartPage(printer.get()) > 0;
      y = margin;
    }
    const std::wstring text = Wide(line);
    TextOutW(printer.get(), margin, y, text.c_str(), static_cast<int>(text.size()));
    y += line_height;
  }
  if (ok && EndPage(printer.get()) > 0 && EndDoc(printer.get()) > 0) return true;
  AbortDoc(printer.get());
  return false;
}

}  // namespace tk571::ui::win32
