// The host's output: plain lines, or, on a terminal, a live table of all tags
// pinned to the top of the screen with the lines scrolling below it.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

namespace tk571::host {

class Screen {
 public:
  // `table` asks for the live table; it is shown only when standard output
  // is a terminal that understands cursor control.
  explicit Screen(bool table, std::FILE* out = stdout);
  ~Screen();
  Screen(const Screen&) = delete;
  Screen& operator=(const Screen&) = delete;

  bool HasTable() const { return table_; }
  void Print(const std::string& line);
  void PrintLines(const std::vector<std::string>& lines);
  // Draws the table (title first); lays the screen out again when the
  // terminal size or the table height changed.
  void ShowTable(const std::vector<std::string>& lines);
  int Width() const { return columns_; }
  // Called after the terminal was resized (SIGWINCH).
  void Resized();

 private:
  void Layout(int table_lines);
  void Write(const std::string& text);

  std::FILE* out_;
  bool table_ = false;
  int rows_ = 24;
  int columns_ = 80;
  int table_lines_ = -1;
};

}  // namespace tk571::host
