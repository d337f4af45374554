#include "ui/debug_viewer_logic.h"

#include <filesystem>
#include <fstream>
#include <iterator>

#include "platform/gbk.h"

namespace tk571::ui {

namespace {

bool WriteFile(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  if (!out) return false;
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  return static_cast<bool>(out.flush());
}

}  // namespace

std::vector<std::string> SplitLogLines(const std::string& bytes) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < bytes.size()) {
    std::size_t end = bytes.find('\n', start);
    if (end == std::string::npos) end = bytes.size();
    std::size_t stop = end;
    if (stop > start && bytes[stop - 1] == '\r') --stop;
    lines.push_back(bytes.substr(start, stop - start));
    start = end + 1;
  }
  return lines;
}

std::string JoinLogLines(const std::vector<std::string>& lines) {
  std::string bytes;
  for (const std::string& line : lines) bytes += line + "\r\n";
  return bytes;
}

DebugViewerLogic::DebugViewerLogic(WizardSession& session, std::string log_path)
    : session_(session), log_path_(std::move(log_path)) {}

std::string DebugViewerLogic::WarningText() {
  return TK571_GBK(
      "！注意：调试对性能将产生不良影响，只有出现故障时才打开调试开关。\r\n"
      "调试和查看完设备运行信息后，请及时关闭调试开关。\r\n\r\n"
      "改动过调试开关后，需要退出向导，单击开发环境的保存工程按钮，调试功能才会生效。\r\n\r\n"
      "您可以编辑窗口中的内容，单击保存修改按钮保存窗口中的内容。\r\n"
      "或者单击另存为按钮，将窗口中的内容保存为文件，便于以后在系统外查看。");
}

std::string DebugViewerLogic::DefaultStatus() {
  return TK571_GBK("调试开关-查看和编辑今天的设备运行历史，诊断出现的问题！");
}

void DebugViewerLogic::Create() {
  warned_ = false;
  view_ = View{};
  view_.status = DefaultStatus();
  const TDevicePDB& work = session_.Work();
  const bool errors = work.LogErrors() != 0;
  const bool trace = work.LogTrace() != 0;
  if (work.DebugEnabled() != 0) SetDebug(true, false);
  if (errors) SetErrors(true);
  if (trace) SetTrace(true);
  ApplyEnablingRule();
}

bool DebugViewerLogic::SetDebug(bool checked, bool window_shown) {
  view_.debug_checked = checked;
  session_.Work().SetDebugEnabled(checked ? 1 : 0);
  view_.load_pending = checked;
  bool warn = false;
  if (checked) {
    view_.load_bar_visible = true;
    view_.status = TK571_GBK("正在调入记录文件...");
    if (!warned_ && window_shown) {
      warned_ = true;
      warn = true;
    }
  } else {
    view_.load_bar_visible = false;
    view_.status = TK571_GBK("打开调试开关-查看和编辑今天的设备运行历史，诊断出现的问题！");
  }
  ApplyEnablingRule();
  return warn;
}

void DebugViewerLogic::SetErrors(bool checked) {
  view_.errors_checked = checked;
  session_.Work().SetLogErrors(checked ? 1 : 0);
}

void DebugViewerLogic::SetTrace(bool checked) {
  view_.trace_checked = checked;
  session_.Work().SetLogTrace(checked ? 1 : 0);
}

void DebugViewerLogic::ApplyEnablingRule() {
  view_.controls_enabled = view_.debug_checked;
  if (view_.debug_checked) return;
  TDevicePDB& work = session_.Work();
  work.SetLogErrors(0);
  work.SetLogTrace(0);
  view_.errors_checked = false;
  view_.trace_checked = false;
  view_.lines.clear();
}

void DebugViewerLogic::LoadTick() {
  std::error_code ec;
  if (std::filesystem::is_regular_file(log_path_, ec)) {
    std::ifstream in(log_path_, std::ios::binary);
    std::string bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    // A read that failed half-way keeps what the memo showed.
    if (in.good() || in.eof()) view_.lines = SplitLogLines(bytes);
  }
  view_.status = DefaultStatus();
  view_.load_pending = false;
  view_.load_bar_visible = false;
}

void DebugViewerLogic::LoadBarTick() {
  if (++view_.load_bar >= kLoadBarMax) view_.load_bar = kLoadBarRestart;
}

bool DebugViewerLogic::SaveAs(const std::string& path) const {
  return WriteFile(path, JoinLogLines(view_.lines));
}

bool DebugViewerLogic::SaveChanges() const {
  return WriteFile(log_path_, JoinLogLines(view_.lines));
}

void DebugViewerLogic::Finish() {
  session_.SetModified(true);
  session_.CommitToHost();
}

}  // namespace tk571::ui
