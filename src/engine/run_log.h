// The run log: one plain-text file per installation, shared by every driver
// object of every process of the host. Texts are GBK bytes written exactly as
// given (callers add CR LF); the file is opened and closed around each text so
// that the log viewer and other drivers can read it at any time.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>

namespace tk571 {

inline constexpr std::string_view kLogBaseName = "TK571_485";
inline constexpr std::string_view kLogExtension = ".Log";
inline constexpr std::string_view kLogDirectory = "Debug/";
inline constexpr std::string_view kArchiveExtension = ".LOG";
// A live log above this size is archived under a time-stamped name.
inline constexpr uint64_t kLogArchiveAboveBytes = 500000;
// While texts are written, the live log's size is looked at once in this
// period at most.
inline constexpr uint32_t kLiveSizeCheckPeriodMs = 60000;
// Archives dated this many days back (inclusive range) are deleted.
inline constexpr int kPurgeFromDaysAgo = 30;
inline constexpr int kPurgeToDaysAgo = 100;
// Detailed trace lines each driver object may write in its life.
inline constexpr int32_t kTraceLineAllowance = 1000;
// The line end of log texts and of the controller's protocol.
inline constexpr char kCrLf[] = "\r\n";

// ---- Where the log lives ----

// The log path for a host program path (KELDA_PATH): the project directory
// named by "Tesmark.ini" ([WORKING] DefaultPROJECT) + "Debug/TK571_485.Log",
// or "./Debug/TK571_485.Log" when the installation file is missing.
std::string ComputeLogFileName(std::string_view host_program_path);
// The process-wide log path, computed from the installation on first use.
std::string LogFileName();
// The library's attach work: computes the path again from the installation.
void RefreshLogFileName();
// Points the log elsewhere (tools and tests).
void SetLogFileName(std::string path);

// ---- Writing ----

// Creates the log's directory and the file when missing; true when the file
// can be written now. Silent on failure.
bool OpenLogStream(const std::string& path);
bool OpenLogStream();
// Appends the bytes as they are; a live log that has passed
// kLogArchiveAboveBytes (looked at once a minute at most) is first archived
// under the time-stamped name. Within the process writers take turns; a
// writer of another process that holds the file too long makes this text
// drop. Throws nothing but thread cancellation; false when the text was
// dropped.
bool AppendLogText(const std::string& path, std::string_view text);
// AppendLogText to LogFileName(): the body of `SetLogMsg`.
bool WriteLogText(std::string_view text);

// ---- Texts of log lines ----

// "YYYY-MM-DD HH:MM:SS" in local time; at exactly midnight the date alone.
std::string DateTimeText(std::chrono::system_clock::time_point t);
// The same for the driver clock's present moment: D of every log line.
std::string DateTimeText();
// D + body + CR LF; the body begins with "："。
std::string LogLine(std::string_view body);
// Up to 15 significant digits, no decimals for whole numbers, '.' as decimal
// point in every locale, exponent form ("1E20", "1.5E-7") beyond that range.
std::string FloatText(double value);
// Bytes as two-digit upper-case hexadecimal pairs separated by blanks, for
// log lines about what the line carried ("59 45 53 0D 0A").
std::string HexBytes(std::string_view bytes);

// ---- Archives ----

// The log path without its extension, the stem of every archive name.
std::string ArchiveStem(const std::string& log_path);
// Stem + "YYYY-MM-DD" of the local day `days_back` days before `now` + ".LOG".
std::string DailyArchiveName(const std::string& log_path, std::chrono::system_clock::time_point now,
                             int days_back);
// Stem + "YYYY-MM-DD-HH-MM-SS" of `now` + ".LOG".
std::string TimestampArchiveName(const std::string& log_path,
                                 std::chrono::system_clock::time_point now);

// Moves the live log, when it has grown above kLogArchiveAboveBytes, to a
// time-stamped archive, or else, when its last line was written on an earlier
// day, to the archive of that day (unless that archive exists); a live log
// written today stays. Then deletes the archives dated 30 to 100 days back.
// Failures are silent.
void MaintainLogFiles(const std::string& log_path, std::chrono::system_clock::time_point now);
// The same for LogFileName() at the driver clock's present moment.
void MaintainLogFiles();

// ---- Per-object log state ----

// The log switches and counters each driver object keeps: the three switches
// of its parameter block (all off until a block is loaded), the trace-line
// allowance, and `EnLog` with the `SysInfoLogged` gate.
class RunLog {
 public:
  // From the object's copy of the parameter block, after it is loaded.
  void SetSwitches(bool debug_enabled, bool log_errors, bool log_trace) {
    debug_enabled_ = debug_enabled;
    log_errors_ = log_errors;
    log_trace_ = log_trace;
  }
  bool DebugEnabled() const { return debug_enabled_; }
  bool LogErrors() const { return log_errors_; }
  bool LogTrace() const { return log_trace_; }

  // Writers of detailed trace lines ask before each line or group of lines;
  // true uses one of the allowance.
  bool TakeTraceLine() {
    if (trace_allowance_ <= 0) return false;
    --trace_allowance_;
    return true;
  }
  int32_t TraceAllowance() const { return trace_allowance_; }

  // `SetEnLog`: an object whose creation lines were not all written can
  // never switch logging on.
  void SetEnLog(bool value) { en_log_ = value && sys_info_logged_; }
  // Direct assignment of the field, as construction and destruction do.
  void AssignEnLog(bool value) { en_log_ = value; }
  bool EnLog() const { return en_log_; }
  void SetSysInfoLogged(bool value) { sys_info_logged_ = value; }
  bool SysInfoLogged() const { return sys_info_logged_; }

 private:
  bool debug_enabled_ = false;
  bool log_errors_ = false;
  bool log_trace_ = false;
  int32_t trace_allowance_ = kTraceLineAllowance;
  bool en_log_ = true;
  bool sys_info_logged_ = false;
};

}  // namespace tk571
