#include "engine/system_report.h"

#include "engine/run_log.h"
#include "platform/gbk.h"

namespace tk571 {
namespace {

constexpr std::size_t kRuleWidth = 60;

std::string Line(std::string_view date, std::string_view body) {
  std::string line(date);
  line.append(body);
  line.append(kCrLf);
  return line;
}

std::string Mb(uint64_t bytes) {
  return std::to_string(bytes / kBytesPerMb);
}

}  // namespace

std::optional<std::string> ProcessorLine(std::string_view date,
                                         const std::optional<std::string>& description) {
  if (!description) return std::nullopt;
  return Line(date, TK571_GBK("：[") + *description + "]");
}

std::string ArchitectureLine(std::string_view date, std::string_view architecture) {
  return Line(date, TK571_GBK("：[") + std::string(architecture) + "] ");
}

std::vector<std::string> MemoryLines(std::string_view date, const platform::MemoryStatus& memory) {
  return {
      Line(date, TK571_GBK("：已使用内存 = ") + std::to_string(memory.load_percent) + " %"),
      Line(date, TK571_GBK("：总物理内存 = ") + Mb(memory.total_physical) + " MB"),
      Line(date, TK571_GBK("：可用物理内存 = ") + Mb(memory.available_physical) + " MB"),
      Line(date, TK571_GBK("：总虚拟内存 = ") + Mb(memory.total_virtual) + " MB"),
      Line(date, TK571_GBK("：可用虚拟内存 = ") + Mb(memory.available_virtual) + " MB"),
  };
}

std::vector<std::string> StartLines(std::string_view date, const TfileInfo& host,
                                    const TfileInfo& driver) {
  return {
      Line(date, TK571_GBK("：启动") + host.FileDescription() + TK571_GBK("[文件版本") +
                     host.FileVersion() + "]  ..."),
      Line(date, TK571_GBK("：启动驱动程序") + driver.DeviceName() + "  ..."),
      Line(date, TK571_GBK("：驱动程序版本") + driver.FileVersion() + "  ..."),
  };
}

std::vector<std::string> StopClosingLines(std::string_view date, const TfileInfo& host,
                                          const TfileInfo& driver) {
  return {
      Line(date, TK571_GBK("：启动") + host.FileDescription() + TK571_GBK("[文件版本") +
                     host.FileVersion() + "]  ..."),
      Line(date, TK571_GBK("：") + driver.DeviceName() + TK571_GBK("驱动程序版本") +
                     driver.FileVersion() + TK571_GBK("退出运行！")),
      std::string(kRuleWidth, '-') + std::string(kCrLf),
  };
}

std::vector<std::string> CreationLines(std::string_view date,
                                       const std::optional<std::string>& processor,
                                       std::string_view architecture,
                                       const platform::MemoryStatus& memory, const TfileInfo& host,
                                       const TfileInfo& driver) {
  std::vector<std::string> lines;
  if (auto line = ProcessorLine(date, processor)) lines.push_back(std::move(*line));
  lines.push_back(ArchitectureLine(date, architecture));
  for (auto& line : MemoryLines(date, memory)) lines.push_back(std::move(line));
  for (auto& line : StartLines(date, host, driver)) lines.push_back(std::move(line));
  return lines;
}

bool WriteCreationLines(LogSink& sink) {
  return CatchAll([&] {
    const std::string date = DateTimeText();
    const std::vector<std::string> lines =
        CreationLines(date, platform::ProcessorDescription(), platform::ArchitectureName(),
                      platform::ReadMemoryStatus(), HostModuleInfo(), DriverModuleInfo());
    for (const std::string& line : lines) sink.SetLogMsg(line);
    return true;
  });
}

void WriteMemoryLines(LogSink& sink) {
  for (const std::string& line : MemoryLines(DateTimeText(), platform::ReadMemoryStatus())) {
    sink.SetLogMsg(line);
  }
}

void WriteStopClosingLines(LogSink& sink) {
  for (const std::string& line :
       StopClosingLines(DateTimeText(), HostModuleInfo(), DriverModuleInfo())) {
    sink.SetLogMsg(line);
  }
}

}  // namespace tk571
