// The system lines of the run log: processor, architecture and memory at
// object creation, the memory again in the stop report, and the host and
// driver version lines that open and close a run. Each element is one whole
// line: D + body + CR LF, in GBK.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "config/module_info.h"
#include "engine/guarded.h"
#include "platform/system_info.h"

namespace tk571 {

// Figures are whole megabytes, the fraction dropped.
inline constexpr uint64_t kBytesPerMb = 1048576;

// "D：[description]"; none when the system has no processor description.
std::optional<std::string> ProcessorLine(std::string_view date,
                                         const std::optional<std::string>& description);
// "D：[architecture] " (with the blank after the bracket).
std::string ArchitectureLine(std::string_view date, std::string_view architecture);
// The five memory lines: load, total and available physical, total and
// available virtual memory.
std::vector<std::string> MemoryLines(std::string_view date, const platform::MemoryStatus& memory);
// "D：启动<host FileDescription>[文件版本<host FileVersion>]  ..." and the two
// driver lines of the creation report.
std::vector<std::string> StartLines(std::string_view date, const TfileInfo& host,
                                    const TfileInfo& driver);
// The closing lines of the stop report: the host line, the driver's
// "退出运行！" line and a rule of 60 '-'.
std::vector<std::string> StopClosingLines(std::string_view date, const TfileInfo& host,
                                          const TfileInfo& driver);

// All creation lines from given figures, in their order.
std::vector<std::string> CreationLines(std::string_view date,
                                       const std::optional<std::string>& processor,
                                       std::string_view architecture,
                                       const platform::MemoryStatus& memory, const TfileInfo& host,
                                       const TfileInfo& driver);

// The creation lines of this machine and installation at the driver clock's
// present moment, each line written through the sink's `SetLogMsg`. False
// when anything failed; the caller keeps that as `SysInfoLogged`.
bool WriteCreationLines(LogSink& sink);
// The memory lines of the stop report, read afresh.
void WriteMemoryLines(LogSink& sink);
// The closing lines of the stop report for this installation.
void WriteStopClosingLines(LogSink& sink);

}  // namespace tk571
