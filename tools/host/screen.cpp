#include "screen.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace tk571::host {
namespace {

// Lines kept for the scrolling part below the table.
constexpr int kMinScrollLines = 6;
// Width of the table in a log or pipe, where nothing wraps.
constexpr int kPlainColumns = 120;

bool TerminalSize(int* rows, int* columns) {
  winsize size{};
  if (ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) != 0 || size.ws_row == 0 || size.ws_col == 0) {
    return false;
  }
  *rows = size.ws_row;
  *columns = size.ws_col;
  return true;
}

}  // namespace

Screen::Screen(bool table, std::FILE* out) : out_(out) {
  const char* term = std::getenv("TERM");
  table_ = table && out == stdout && isatty(STDOUT_FILENO) && term != nullptr &&
           std::strcmp(term, "dumb") != 0 && TerminalSize(&rows_, &columns_) &&
           rows_ >= kMinScrollLines + 4;
  if (!table_ && !(isatty(STDOUT_FILENO) && TerminalSize(&rows_, &columns_))) {
    columns_ = kPlainColumns;
  }
}

Screen::~Screen() {
  if (table_ && table_lines_ >= 0) {
    // Whole screen scrolls again; the cursor goes below everything.
    Write("\033[r\033[" + std::to_string(rows_) + ";1H\n");
  }
}

void Screen::Write(const std::string& text) {
  std::fwrite(text.data(), 1, text.size(), out_);
  std::fflush(out_);
}

void Screen::Print(const std::string& line) {
  Write(line + "\n");
}

void Screen::PrintLines(const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& line : lines) text += line + "\n";
  if (!text.empty()) Write(text);
}

void Screen::Resized() {
  if (!table_) return;
  TerminalSize(&rows_, &columns_);
  table_lines_ = -1;
}

void Screen::Layout(int table_lines) {
  table_lines_ = table_lines;
  const int top = table_lines + 2;  // a blank separator line under the table
  Write("\033[2J\033[" + std::to_string(top) + ";" + std::to_string(rows_) + "r\033[" +
        std::to_string(top) + ";1H");
}

void Screen::ShowTable(const std::vector<std::string>& lines) {
  if (!table_) return;
  const int shown = std::min<int>(static_cast<int>(lines.size()), rows_ - kMinScrollLines - 1);
  if (shown != table_lines_) Layout(shown);
  std::string text = "\0337";
  for (int i = 0; i < shown; ++i) {
    text += "\033[" + std::to_string(i + 1) + ";1H\033[2K";
    if (i == 0) text += "\033[1m";
    text += lines[static_cast<std::size_t>(i)];
    if (i == 0) text += "\033[0m";
  }
  text += "\033[" + std::to_string(shown + 1) + ";1H\033[2K\0338";
  Write(text);
}

}  // namespace tk571::host
