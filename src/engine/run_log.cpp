#include "engine/run_log.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <mutex>
#include <system_error>

#include "config/module_info.h"
#include "engine/guarded.h"
#include "platform/clock.h"
#include "platform/files.h"
#include "platform/gbk.h"
#include "platform/host_install.h"
#include "platform/ini_file.h"
#include "platform/local_time.h"

namespace tk571 {
namespace {

constexpr std::string_view kInstallationFile = "Tesmark.ini";
constexpr std::string_view kWorkingSection = "WORKING";
constexpr std::string_view kProjectKey = "DefaultPROJECT";
constexpr std::string_view kDefaultProject = ".\\";
constexpr std::string_view kRelativeLogDirectory = "./Debug/";
// Significant digits of the general floating-point text form.
constexpr int kFloatDigits = 15;
// Beyond these decimal exponents the general form switches to exponent form.
constexpr int kFloatMinFixedExponent = -5;

// Serialises the writers of this process; a per-process lock on the file
// would not, since flock() locks are held per open file.
std::mutex& WriteMutex() {
  static std::mutex mutex;
  return mutex;
}

struct LogPathState {
  std::mutex mutex;
  bool computed = false;
  std::string path;
};

LogPathState& PathState() {
  static LogPathState state;
  return state;
}

std::string TwoDigits(int v) {
  char buf[4];
  std::snprintf(buf, sizeof(buf), "%02d", v % 100);
  return buf;
}

std::string DateText(const platform::LocalDateTime& t) {
  char buf[16];
  std::snprintf(buf, sizeof(buf), "%04d-%02d-%02d", t.year % 10000, t.month % 100, t.day % 100);
  return buf;
}

std::chrono::sys_days CivilDay(const platform::LocalDateTime& t) {
  using namespace std::chrono;
  return sys_days(year{t.year} / month{static_cast<unsigned>(t.month)} /
                  day{static_cast<unsigned>(t.day)});
}

// The local date `days_back` calendar days before `now`, as archive text.
std::string DateDaysBack(std::chrono::system_clock::time_point now, int days_back) {
  const platform::LocalDateTime today = platform::ToLocalTime(now);
  const std::chrono::year_month_day d{CivilDay(today) - std::chrono::days{days_back}};
  platform::LocalDateTime then;
  then.year = static_cast<int>(d.year());
  then.month = static_cast<int>(static_cast<unsigned>(d.month()));
  then.day = static_cast<int>(static_cast<unsigned>(d.day()));
  return DateText(then);
}

// The moment the live log was last checked against the size limit while
// texts are written; guarded by WriteMutex().
struct LiveSizeCheck {
  std::string path;
  uint32_t tick = 0;
};

LiveSizeCheck& LastLiveSizeCheck() {
  static LiveSizeCheck check;
  return check;
}

// A driver that runs for weeks with the trace switch on must not fill the
// disk: once a minute at most, one stat tells whether the live log has passed
// the size limit, and a log that has is archived under the time-stamped name
// before the text is written, which then begins a fresh file. The caller
// holds WriteMutex().
void ArchiveOversizeLiveLog(const std::string& path) {
  LiveSizeCheck& last = LastLiveSizeCheck();
  if (last.path == path && platform::TicksSince(last.tick) < kLiveSizeCheckPeriodMs) return;
  last.path = path;
  last.tick = platform::Tick();
  const auto size = platform::FileSize(path);
  if (!size || *size <= kLogArchiveAboveBytes) return;
  const std::string archive = TimestampArchiveName(path, platform::GetClock().Now());
  if (!platform::PathExists(archive)) platform::RenameNoReplace(path, archive);
}

// Where MaintainLogFiles moves the live log: above the size limit to the
// time-stamped name; otherwise, when its last line was written on an earlier
// day, to the archive of that day; a log written today stays. Empty when it
// stays.
std::string ArchiveOfLiveLog(const std::string& log_path,
                             std::chrono::system_clock::time_point now) {
  if (const auto size = platform::FileSize(log_path); size && *size > kLogArchiveAboveBytes) {
    return TimestampArchiveName(log_path, now);
  }
  const auto written = platform::ModificationTime(log_path);
  if (!written) return std::string();
  const platform::LocalDateTime day = platform::ToLocalTime(*written);
  if (CivilDay(day) >= CivilDay(platform::ToLocalTime(now))) return std::string();
  return ArchiveStem(log_path) + DateText(day) + std::string(kArchiveExtension);
}

}  // namespace

// ---- Where the log lives ----

std::string ComputeLogFileName(std::string_view host_program_path) {
  const std::string installation =
      ComputeHostDirectory(host_program_path) + std::string(kInstallationFile);
  if (platform::IsRegularFile(installation)) {
    const std::string project =
        platform::ReadIniString(installation, kWorkingSection, kProjectKey, kDefaultProject);
    return DirectoryPart(project) + std::string(kLogDirectory) + std::string(kLogBaseName) +
           std::string(kLogExtension);
  }
  return std::string(kRelativeLogDirectory) + std::string(kLogBaseName) +
         std::string(kLogExtension);
}

std::string LogFileName() {
  LogPathState& s = PathState();
  std::lock_guard<std::mutex> lock(s.mutex);
  if (!s.computed) {
    s.path = ComputeLogFileName(platform::HostProgramPath());
    s.computed = true;
  }
  return s.path;
}

void RefreshLogFileName() {
  std::string path = ComputeLogFileName(platform::HostProgramPath());
  SetLogFileName(std::move(path));
}

void SetLogFileName(std::string path) {
  LogPathState& s = PathState();
  std::lock_guard<std::mutex> lock(s.mutex);
  s.path = std::move(path);
  s.computed = true;
}

// ---- Writing ----

bool OpenLogStream(const std::string& path) {
  return CatchAll([&] {
    const std::string dir = DirectoryPart(path);
    if (dir.empty() || !platform::MakeDirectories(dir)) return false;
    if (!platform::CreateFileIfMissing(path)) return false;
    return platform::IsRegularFile(path);
  });
}

bool OpenLogStream() {
  return OpenLogStream(LogFileName());
}

bool AppendLogText(const std::string& path, std::string_view text) {
  return CatchAll([&] {
    std::lock_guard<std::mutex> lock(WriteMutex());
    const std::string dir = DirectoryPart(path);
    if (dir.empty()) return false;
    if (!platform::IsDirectory(dir) && !platform::MakeDirectories(dir)) return false;
    ArchiveOversizeLiveLog(path);
    return platform::AppendLocked(path, text) == platform::AppendResult::kWritten;
  });
}

bool WriteLogText(std::string_view text) {
  return CatchAll([&] { return AppendLogText(LogFileName(), text); });
}

// ---- Texts of log lines ----

std::string DateTimeText(std::chrono::system_clock::time_point t) {
  const platform::LocalDateTime local = platform::ToLocalTime(t);
  std::string text = DateText(local);
  if (local.hour == 0 && local.minute == 0 && local.second == 0 && local.millisecond == 0) {
    return text;
  }
  text += ' ';
  text += TwoDigits(local.hour);
  text += ':';
  text += TwoDigits(local.minute);
  text += ':';
  text += TwoDigits(local.second);
  return text;
}

std::string DateTimeText() {
  return DateTimeText(platform::GetClock().Now());
}

std::string LogLine(std::string_view body) {
  std::string line = DateTimeText();
  line.append(body);
  line.append(kCrLf);
  return line;
}

std::string HexBytes(std::string_view bytes) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(bytes.size() * 3);
  for (const char c : bytes) {
    const auto byte = static_cast<unsigned char>(c);
    if (!out.empty()) out += ' ';
    out += kDigits[byte >> 4];
    out += kDigits[byte & 0x0F];
  }
  return out;
}

std::string FloatText(double value) {
  if (std::isnan(value)) return "NAN";
  if (std::isinf(value)) return value > 0 ? "INF" : "-INF";
  if (value == 0) return "0";
  // Round to 15 significant digits first; the rounded digits decide the form.
  char buf[64];
  const auto [end, ec] =
      std::to_chars(buf, buf + sizeof(buf), value, std::chars_format::scientific, kFloatDigits - 1);
  if (ec != std::errc()) return "0";
  const std::string_view sci(buf, static_cast<std::size_t>(end - buf));
  const std::size_t e_at = sci.find('e');
  const bool negative = sci.front() == '-';
  std::string digits;
  for (char c : sci.substr(0, e_at)) {
    if (c >= '0' && c <= '9') digits += c;
  }
  int exponent = 0;
  std::from_chars(sci.data() + e_at + 1 + (sci[e_at + 1] == '+' ? 1 : 0), sci.data() + sci.size(),
                  exponent);
  while (digits.size() > 1 && digits.back() == '0') digits.pop_back();

  std::string out = negative ? "-" : "";
  if (exponent >= kFloatDigits || exponent < kFloatMinFixedExponent) {
    out += digits[0];
    if (digits.size() > 1) {
      out += '.';
      out.append(digits, 1);
    }
    out += 'E';
    out += std::to_string(exponent);
    return out;
  }
  if (exponent < 0) {
    out += "0.";
    out.append(static_cast<std::size_t>(-exponent - 1), '0');
    out += digits;
    return out;
  }
  const std::size_t int_digits = static_cast<std::size_t>(exponent) + 1;
  if (digits.size() <= int_digits) {
    out += digits;
    out.append(int_digits - digits.size(), '0');
    return out;
  }
  out.append(digits, 0, int_digits);
  out += '.';
  out.append(digits, int_digits);
  return out;
}

// ---- Archives ----

std::string ArchiveStem(const std::string& log_path) {
  const std::size_t dot = log_path.find_last_of('.');
  const std::size_t sep = log_path.find_last_of("/\\");
  if (dot == std::string::npos || (sep != std::string::npos && dot < sep)) return log_path;
  return log_path.substr(0, dot);
}

std::string DailyArchiveName(const std::string& log_path, std::chrono::system_clock::time_point now,
                             int days_back) {
  return ArchiveStem(log_path) + DateDaysBack(now, days_back) + std::string(kArchiveExtension);
}

std::string TimestampArchiveName(const std::string& log_path,
                                 std::chrono::system_clock::time_point now) {
  const platform::LocalDateTime t = platform::ToLocalTime(now);
  return ArchiveStem(log_path) + DateText(t) + "-" + TwoDigits(t.hour) + "-" + TwoDigits(t.minute) +
         "-" + TwoDigits(t.second) + std::string(kArchiveExtension);
}

void MaintainLogFiles(const std::string& log_path, std::chrono::system_clock::time_point now) {
  CatchAll([&] {
    if (log_path.empty()) return false;
    std::lock_guard<std::mutex> lock(WriteMutex());
    if (!platform::PathExists(log_path)) platform::CreateFileIfMissing(log_path);
    const std::string archive = ArchiveOfLiveLog(log_path, now);
    if (!archive.empty() && platform::IsRegularFile(log_path) && !platform::PathExists(archive)) {
      platform::RenameNoReplace(log_path, archive);
    }
    for (int days = kPurgeFromDaysAgo; days <= kPurgeToDaysAgo; ++days) {
      const std::string old = DailyArchiveName(log_path, now, days);
      if (platform::IsRegularFile(old)) platform::DeleteFile(old);
    }
    return true;
  });
}

void MaintainLogFiles() {
  MaintainLogFiles(LogFileName(), platform::GetClock().Now());
}

}  // namespace tk571
