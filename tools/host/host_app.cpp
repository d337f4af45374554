#include "host_app.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <thread>

#include "device_watch.h"
#include "driver_library.h"
#include "format.h"
#include "parameter_block.h"
#include "platform/serial_diagnosis.h"
#include "port_list.h"
#include "screen.h"
#include "start_rules.h"
#include "stop_signals.h"
#include "tag_file.h"
#include "tag_records.h"
#include "text_codec.h"
#include "tokens.h"

namespace tk571::host {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// Used when the driver asks for no period at all.
constexpr milliseconds kFallbackScan{10};
// The longest the loop sleeps, so that the table and the end of --once come
// in time.
constexpr milliseconds kMaxWait{100};
constexpr milliseconds kTableRefresh{250};
constexpr uint32_t kConfigureChanged = 1;
// --once without --duration gives up after this long.
constexpr milliseconds kOnceLimit{10000};
constexpr milliseconds kOnceSettle{300};

class FileDescriptor {
 public:
  explicit FileDescriptor(int fd) : fd_(fd) {}
  ~FileDescriptor() {
    if (fd_ >= 0) close(fd_);
  }
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  int Get() const { return fd_; }

 private:
  int fd_;
};

// The port of the block and the device behind it, as the driver opens it.
std::string PortName(const ParameterBlock& block) {
  return "Com" + std::to_string(block[TK571_PDB_PORT] + 1);
}
std::string PortPath(const ParameterBlock& block) {
  const int port = block[TK571_PDB_PORT] + 1;
  const char* path = std::getenv(("TK571_COM" + std::to_string(port)).c_str());
  if (path != nullptr && *path != '\0') return path;
  return "/dev/ttyS" + std::to_string(port - 1);
}

// "Com1 (/dev/ttyUSB0): held by process 1234 (picocom)".
std::string PortState(const ParameterBlock& block) {
  const std::string path = PortPath(block);
  return PortName(block) + " (" + path +
         "): " + platform::SerialOpenReason(path, platform::CheckSerialDevice(path));
}

// Before the driver spends up to 5 s trying to open the port.
void AnnouncePort(const ParameterBlock& block, Screen& screen) {
  const std::string path = PortPath(block);
  const platform::SerialOpenOutcome outcome = platform::CheckSerialDevice(path);
  if (outcome.result == platform::SerialOpenResult::kOpened) {
    screen.Print(PortName(block) + " is " + path);
  } else {
    screen.Print(PortName(block) + " (" + path + "): " + platform::SerialOpenReason(path, outcome) +
                 "; the driver keeps trying to open it for 5 s");
  }
}

void PrintError(const std::string& text) {
  std::cout.flush();
  std::cerr << "tk571-host: " << text << std::endl;
}

// What the driver makes of an address at its start.
struct AddressVerdict {
  bool valid = false;   // TagEdAddr accepts it and the start keeps it
  std::string normal;   // TagEdAddr's normal form (UTF-8), empty when none
  std::string problem;  // why the start drops it
  int device = -1;      // the device it names, when valid
};

// Stops the driver object of this thread however the run ends.
class DriverRun {
 public:
  explicit DriverRun(DriverLibrary& library) : lib_(library) {}
  ~DriverRun() { lib_.FreeDriver(); }
  DriverRun(const DriverRun&) = delete;
  DriverRun& operator=(const DriverRun&) = delete;

 private:
  DriverLibrary& lib_;
};

// Longest wait for the devices of a scan: a silent device costs a select and
// its reply time-out, and the driver retries and backs off.
constexpr milliseconds kScanBase{2000};
constexpr milliseconds kScanPerDevice{500};
constexpr milliseconds kScanPoll{10};
constexpr uint32_t kScanTagMs = 200;

// Everything a command needs; the driver object, when there is one, belongs
// to this (the polling) thread.
class Host {
 public:
  Host(DriverLibrary& library, ParameterBlock& block, Screen& screen, OutputFormat format,
       StopSignals& signals)
      : lib_(library), block_(block), screen_(screen), format_(format), signals_(signals) {}

  void SetRun(const std::vector<TagDefinition>* tags, DeviceWatch* watch) {
    tags_ = tags;
    watch_ = watch;
    running_ = true;
    rows_.clear();
    for (const TagDefinition& tag : *tags) {
      if (watch_ && watch_->IsLinkTag(tag.id)) continue;
      row_of_id_[tag.id] = rows_.size();
      rows_.push_back(TagRow{&tag, FormatInitialValue(tag), 0, std::string(), 0});
    }
  }

  // Runs one command; false when it failed.
  bool Execute(const Command& command) {
    return std::visit([this](const auto& c) { return Do(c); }, command);
  }
  bool QuitRequested() const { return quit_; }

  void Message(char* raw) {
    const HostString message(raw);
    if (!message.Empty())
      screen_.PrintLines(FormatMessage(FormatTime(NowAsDays()), message.View()));
  }

  // TagEdAddr, then the rules of the start.
  AddressVerdict Judge(const std::string& address_gbk) {
    AddressVerdict verdict;
    std::string own = address_gbk;
    char* address = own.data();
    char* raw = nullptr;
    const bool accepted = lib_.TagEdAddr(block_.data(), &address, 0, &raw) != 0;
    // The driver replaced the pointer with a string of its own.
    const HostString normal(address == own.data() ? nullptr : address);
    Message(raw);
    verdict.normal = DisplayText(normal.View());
    if (!accepted) {
      verdict.problem = "the driver does not accept the address";
      return verdict;
    }
    const std::optional<NormalAddress> parts = ParseNormalAddress(normal.View());
    if (!parts) {
      verdict.problem = "the driver's normal form \"" + verdict.normal + "\" is not understood";
      return verdict;
    }
    verdict.problem = StartRuleProblem(*parts, block_);
    verdict.valid = verdict.problem.empty();
    if (verdict.valid) verdict.device = parts->device;
    return verdict;
  }

  // One OnDataRead: prints the changes and keeps the table's rows.
  void Poll(std::vector<TTagValueRec>& records) {
    int32_t count = 0;
    char* raw = nullptr;
    lib_.OnDataRead(&count, records.data(), &raw);
    const int32_t n = std::clamp<int32_t>(count, 0, static_cast<int32_t>(records.size()));
    std::vector<std::string> lines;
    for (int32_t i = 0; i < n; ++i) {
      TTagValueRec& record = records[static_cast<std::size_t>(i)];
      if (watch_) watch_->Report(record);
      const auto row = row_of_id_.find(record.TagID);
      if (row != row_of_id_.end()) {
        TagRow& r = rows_[row->second];
        if (!once_) lines.push_back(FormatRecord(record, r.tag));
        r.value = FormatValue(record);
        r.quality = record.Quality;
        r.changed = FormatTime(record.TimeStamp);
        ++r.reports;
        last_[record.TagID] = Snapshot(record);
        table_dirty_ = true;
      }
      if (record.ValueType == TK571_VALUE_STRING) {
        std::free(record.Value.String);
        record.Value.String = nullptr;
      }
    }
    PrintRecords(lines);
    Message(raw);
  }

  // --once: nothing is printed while polling; the last value of every tag is
  // printed at the end.
  void SetOnce() { once_ = true; }
  void PrintLastValues() {
    std::vector<std::string> lines;
    for (const TagRow& row : rows_) {
      const auto last = last_.find(row.tag->id);
      if (last == last_.end()) {
        if (format_ == OutputFormat::kText)
          lines.push_back(row.tag->address + ": no value reported");
        continue;
      }
      TTagValueRec record = last->second.record;
      if (record.ValueType == TK571_VALUE_STRING) record.Value.String = last->second.text.data();
      lines.push_back(FormatRecord(record, row.tag));
    }
    PrintRecords(lines);
  }

  bool TableDirty() const { return table_dirty_; }
  // The title carries the overall link status when the tags include it.
  std::vector<std::string> Table(std::string title) {
    table_dirty_ = false;
    for (const TagRow& row : rows_) {
      if (row.reports > 0 && row.tag->kind == TK571_VALUE_STRING &&
          ToUpperAscii(row.tag->address) == "COMMLINK") {
        title += "  " + row.value;
      }
    }
    std::vector<std::string> lines = RenderTable(rows_, std::max(40, screen_.Width() - 1));
    lines.insert(lines.begin(), std::move(title));
    return lines;
  }

  // Records go to standard output in the machine formats, with the CSV
  // header before the first row.
  void PrintRecords(const std::vector<std::string>& lines) {
    if (lines.empty()) return;
    if (format_ == OutputFormat::kText) {
      screen_.PrintLines(lines);
      return;
    }
    std::string text;
    if (format_ == OutputFormat::kCsv && !csv_header_written_) {
      text += std::string(kCsvHeader) + "\n";
      csv_header_written_ = true;
    }
    for (const std::string& line : lines) text += line + "\n";
    std::fwrite(text.data(), 1, text.size(), stdout);
    std::fflush(stdout);
  }

 private:
  // A reported value kept after the record's string was freed.
  struct Snapshot {
    Snapshot() = default;
    explicit Snapshot(const TTagValueRec& r) : record(r) {
      if (r.ValueType != TK571_VALUE_STRING) return;
      if (r.Value.String) text = r.Value.String;
      record.Value.String = nullptr;
    }
    TTagValueRec record{};
    std::string text;
  };

  std::string Now() const { return FormatTime(NowAsDays()); }

  std::string FormatRecord(const TTagValueRec& record, const TagDefinition* tag) const {
    switch (format_) {
      case OutputFormat::kJson:
        return FormatChangeJson(record, tag);
      case OutputFormat::kCsv:
        return FormatChangeCsv(record, tag);
      case OutputFormat::kText:
        break;
    }
    return FormatChange(record, tag);
  }

  bool Do(const WriteCommand& c) {
    const TagDefinition* tag = FindTag(*tags_, c.tag);
    if (tag == nullptr) {
      screen_.Print(Now() + "  write: no tag \"" + c.tag + "\" in the tag file");
      return false;
    }
    TTagValueRec record;
    std::string text;
    if (const std::string error = MakeWriteRecord(*tag, c.value, &text, &record); !error.empty()) {
      screen_.Print(Now() + "  write " + tag->address + ": " + error);
      return false;
    }
    char* raw = nullptr;
    const bool ok = lib_.OnDataWrite(1, &record, &raw) != 0;
    screen_.Print(Now() + "  write " + tag->address + " = " + c.value +
                  (ok ? ": queued" : ": not queued (OnDataWrite answered false)"));
    Message(raw);
    return ok;
  }

  bool Do(const CheckCommand& c) {
    const std::optional<std::string> gbk = Utf8ToGbk(c.address);
    if (!gbk) {
      screen_.Print("check: \"" + c.address + "\" has characters outside code page 936");
      return false;
    }
    const AddressVerdict verdict = Judge(*gbk);
    std::string line = "check " + c.address + ": " + (verdict.valid ? "valid" : "invalid") +
                       ", normal form " + verdict.normal;
    if (!verdict.valid) line += ": " + verdict.problem;
    screen_.Print(line);
    return verdict.valid;
  }

  bool Do(const KindsCommand&) {
    int32_t count = 0;
    lib_.GetTagAddrList(0, &count, nullptr);
    std::vector<TTagAddrDesc> kinds(static_cast<std::size_t>(std::max<int32_t>(count, 0)));
    if (!kinds.empty()) lib_.GetTagAddrList(0, &count, kinds.data());
    screen_.PrintLines(FormatKinds(kinds));
    return true;
  }

  bool Do(const ProbeCommand&) {
    if (running_) {
      // The probe starts a driver object of its own on this thread and on the
      // same port; the running one holds the port.
      screen_.Print("probe: stop the driver first (run without --tags)");
      return false;
    }
    AnnouncePort(block_, screen_);
    const bool answered = lib_.DLLTestDev(block_.data(), 0) != 0;
    screen_.Print(std::string("probe ") + DescribeBlock(block_) + ": " +
                  (answered ? "a device answered" : "no device answered"));
    return answered;
  }

  bool Do(const ConfigureCommand&) {
    if (running_) {
      screen_.Print("configure: stop the driver first (run without --tags)");
      return false;
    }
    int32_t result = 0;
    {
      const StopSignals::EndTheProcess signals_end_the_dialog;
      screen_.Print("configure: the wizard is open (Ctrl-C ends the program)");
      result = lib_.DLLEdDev(0, block_.data());
    }
    if (static_cast<uint32_t>(result) == kConfigureChanged) {
      screen_.Print("configure: block changed: " + DescribeBlock(block_));
    } else {
      screen_.Print("configure: cancelled or unchanged: " + DescribeBlock(block_));
    }
    return true;
  }

  bool Do(const PortsCommand&) {
    screen_.PrintLines(FormatPorts(ListSerialPorts()));
    return true;
  }

  // The driver's own device selection finds the devices: it runs on a copy
  // of the block with every device of the range configured and watches one
  // DEVICELINK tag per device.
  bool Do(const ScanCommand& c) {
    if (running_) {
      screen_.Print("scan: stop the driver first (run without --tags)");
      return false;
    }
    ParameterBlock block = block_;
    BlockOptions devices;
    devices.devices.emplace();
    for (int device = c.from; device <= c.to; ++device) devices.devices->push_back(device);
    ApplyBlockOptions(devices, block);
    // A weight per device gives the driver something to poll; its link tag
    // tells whether the device answered.
    std::vector<TagDefinition> tags;
    for (int device = c.from; device <= c.to; ++device) {
      for (const char* kind : {"READ", "DEVICELINK"}) {
        TagDefinition tag;
        tag.id = static_cast<uint32_t>(tags.size() + 1);
        tag.name = tag.name_gbk = kind + std::to_string(device);
        tag.address = tag.address_gbk =
            kind + std::to_string(device) + (std::string_view(kind) == "READ" ? ":1" : "");
        tag.scan_ms = kScanTagMs;
        tag.initial = -1.0;
        tags.push_back(tag);
      }
    }
    const std::string range = std::to_string(c.from) + "-" + std::to_string(c.to);
    screen_.Print("scan " + range + " on " + DescribeBlock(block));
    AnnouncePort(block, screen_);
    TagInfoTable infos(tags);
    DriverRun run(lib_);
    char* raw = nullptr;
    const bool started = lib_.IniDriver(infos.Count(), infos.Pointers(), block.data(), &raw) != 0;
    Message(raw);
    if (!started) {
      screen_.Print("scan: the driver did not start; " + PortState(block));
      return false;
    }
    const int count = c.to - c.from + 1;
    const Clock::time_point end =
        Clock::now() + (scan_limit_ ? *scan_limit_ : kScanBase + kScanPerDevice * count);
    std::set<int> answered;
    std::vector<TTagValueRec> records(tags.size());
    while (!signals_.Stop() && Clock::now() < end && static_cast<int>(answered.size()) < count) {
      int32_t n = 0;
      char* message = nullptr;
      lib_.OnDataRead(&n, records.data(), &message);
      // Time-outs of the silent devices are what a scan expects.
      const HostString expected(message);
      for (int32_t i = 0; i < std::clamp<int32_t>(n, 0, static_cast<int32_t>(records.size()));
           ++i) {
        const TTagValueRec& record = records[static_cast<std::size_t>(i)];
        // Link tags have the even ids.
        const int device = c.from + static_cast<int>(record.TagID - 1) / 2;
        if (record.TagID % 2 == 0 && record.ValueType == TK571_VALUE_FLOAT &&
            record.Value.Float == 1.0 && answered.insert(device).second) {
          screen_.Print(Now() + "  device " + std::to_string(device) + " answers");
        }
      }
      std::this_thread::sleep_for(kScanPoll);
    }
    std::vector<int> silent;
    for (int device = c.from; device <= c.to; ++device)
      if (!answered.count(device)) silent.push_back(device);
    const std::vector<int> found(answered.begin(), answered.end());
    screen_.Print("scan " + range + ": answering " +
                  (found.empty() ? "none" : DeviceRanges(found)) + "; no answer " +
                  (silent.empty() ? "none" : DeviceRanges(silent)));
    return !found.empty();
  }

  bool Do(const StatusCommand&) {
    char* raw = nullptr;
    lib_.GetDeviceStatus(&raw);
    const HostString message(raw);
    if (message.Empty()) {
      screen_.Print(Now() + "  status: no pending message");
    } else {
      screen_.PrintLines(FormatMessage(Now(), message.View()));
    }
    return true;
  }

  bool Do(const LogCommand& c) {
    char* raw = nullptr;
    lib_.WriteLog(c.on ? 1 : 0, &raw);
    const HostString message(raw);
    if (message.Empty()) {
      screen_.Print(Now() + "  log: no pending message, the switch is unchanged");
    } else {
      screen_.Print(Now() + "  log switched " + (c.on ? "on" : "off"));
      screen_.PrintLines(FormatMessage(Now(), message.View()));
    }
    return true;
  }

  bool Do(const SayCommand& c) {
    screen_.Print(Now() + "  ==> " + c.text);
    return true;
  }

  bool Do(const QuitCommand&) {
    quit_ = true;
    return true;
  }

  bool Do(const HelpCommand&) {
    screen_.Print(CommandHelp());
    return true;
  }

 public:
  // --duration bounds a scan too.
  void SetScanLimit(std::optional<milliseconds> limit) { scan_limit_ = limit; }

 private:
  DriverLibrary& lib_;
  ParameterBlock& block_;
  Screen& screen_;
  OutputFormat format_;
  StopSignals& signals_;
  const std::vector<TagDefinition>* tags_ = nullptr;
  DeviceWatch* watch_ = nullptr;
  bool running_ = false;
  bool quit_ = false;
  bool once_ = false;
  bool table_dirty_ = true;
  bool csv_header_written_ = false;
  std::optional<milliseconds> scan_limit_;
  std::vector<TagRow> rows_;
  std::map<uint32_t, std::size_t> row_of_id_;
  std::map<uint32_t, Snapshot> last_;
};

// Splits what standard input delivered into lines.
class LineReader {
 public:
  // Reads what is there; false at end of input.
  bool Read(int fd, std::vector<std::string>* lines) {
    char buffer[512];
    const ssize_t n = read(fd, buffer, sizeof buffer);
    if (n < 0) return errno == EINTR || errno == EAGAIN;
    if (n == 0) {
      if (!pending_.empty()) lines->push_back(std::move(pending_));
      pending_.clear();
      return false;
    }
    pending_.append(buffer, static_cast<std::size_t>(n));
    for (std::size_t end; (end = pending_.find('\n')) != std::string::npos;) {
      lines->push_back(pending_.substr(0, end));
      pending_.erase(0, end + 1);
    }
    return true;
  }

 private:
  std::string pending_;
};

int RunDriver(const HostOptions& options, DriverLibrary& lib, ParameterBlock& block, Screen& screen,
              Host& host, StopSignals& signals) {
  const TagFile file = ReadTagFile(options.tags_file);
  if (!file.errors.empty()) {
    for (const std::string& error : file.errors) PrintError(options.tags_file + ": " + error);
    return kExitUsage;
  }
  Script script;
  if (!options.script_file.empty()) {
    script = ReadScript(options.script_file);
    if (!script.errors.empty()) {
      for (const std::string& error : script.errors) PrintError(options.script_file + ": " + error);
      return kExitUsage;
    }
  }

  // Writes of the command line and the script name tags of the file; a
  // mistake there is found before the driver starts.
  std::vector<std::string> write_errors;
  const auto check_write = [&](const Command& command, const std::string& where) {
    const WriteCommand* write = std::get_if<WriteCommand>(&command);
    if (write == nullptr) return;
    const TagDefinition* tag = FindTag(file.tags, write->tag);
    TTagValueRec record;
    std::string text;
    std::string error = tag == nullptr ? "no tag \"" + write->tag + "\" in " + options.tags_file
                                       : MakeWriteRecord(*tag, write->value, &text, &record);
    if (!error.empty()) write_errors.push_back(where + "write " + write->tag + ": " + error);
  };
  for (const Command& command : options.commands) check_write(command, "");
  for (const ScriptEntry& entry : script.entries) {
    check_write(entry.command, options.script_file + ": line " + std::to_string(entry.line) + ": ");
  }
  if (!write_errors.empty()) {
    for (const std::string& error : write_errors) PrintError(error);
    return kExitUsage;
  }

  // Tags the start would drop are named now: the driver gives their reasons
  // only in its run log.
  std::map<uint32_t, int> device_of_tag;
  uint32_t free_id = 0;
  for (const TagDefinition& tag : file.tags) {
    free_id = std::max(free_id, tag.id + 1);
    if (IsInternalAddress(tag.address)) continue;
    const AddressVerdict verdict = host.Judge(tag.address_gbk);
    if (verdict.valid) {
      device_of_tag[tag.id] = verdict.device;
    } else {
      screen.Print("tag " + tag.name + " (" + tag.address +
                   ") is dropped by the driver: " + verdict.problem);
    }
  }
  DeviceWatch watch(device_of_tag, free_id);
  std::vector<TagDefinition> run_tags = file.tags;
  run_tags.insert(run_tags.end(), watch.LinkTags().begin(), watch.LinkTags().end());

  TagInfoTable infos(run_tags);
  std::vector<TTagValueRec> records(run_tags.size());
  FileDescriptor failure_event(eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC));
  if (failure_event.Get() < 0) {
    PrintError(std::string("eventfd: ") + std::strerror(errno));
    return kExitFailure;
  }

  screen.Print("parameter block: " + DescribeBlock(block) + "; " +
               std::to_string(file.tags.size()) + " tags from " + options.tags_file);
  AnnouncePort(block, screen);
  host.SetRun(&run_tags, &watch);
  if (options.once) host.SetOnce();

  DriverRun run(lib);
  char* raw = nullptr;
  const bool started = lib.IniDriver(infos.Count(), infos.Pointers(), block.data(), &raw) != 0;
  host.Message(raw);
  if (!started) {
    PrintError("the driver did not start (IniDriver answered false); " + PortState(block));
    return kExitFailure;
  }
  lib.IniDriverEx(static_cast<uint32_t>(failure_event.Get()));
  screen.Print(FormatTime(NowAsDays()) + "  driver started, scan period " +
               std::to_string(lib.DetectScanTime()) + " ms");

  // What the driver answers to a write is shown, not judged: it answers false
  // for a set-point that it keeps in its recipe.
  for (const Command& command : options.commands) host.Execute(command);

  const Clock::time_point start = Clock::now();
  const bool bounded = (options.duration || options.once) && !options.keep_running;
  const Clock::time_point end =
      bounded ? start + options.duration.value_or(kOnceLimit) : Clock::time_point::max();
  // --once: when every device has answered, one more round of the slowest
  // tag's period lets every tag be read.
  milliseconds slowest{0};
  for (const TagDefinition& tag : file.tags) slowest = std::max(slowest, milliseconds(tag.scan_ms));
  std::optional<Clock::time_point> all_answered;
  std::size_t next_entry = 0;
  Clock::time_point next_read = start;
  Clock::time_point next_table = start;
  LineReader input;
  bool read_stdin = options.read_stdin;
  const std::string title_base = "TK571 host  " + DescribeBlock(block) + "  ";

  while (!signals.Stop() && !(host.QuitRequested() && !options.keep_running)) {
    Clock::time_point now = Clock::now();
    if (bounded && now >= end) break;
    if (options.once && !all_answered && watch.AllAnswered()) all_answered = now;
    if (all_answered && now >= *all_answered + slowest + kOnceSettle) break;
    while (next_entry < script.entries.size() && start + script.entries[next_entry].at <= now) {
      const Command& command = script.entries[next_entry++].command;
      if (!(std::holds_alternative<QuitCommand>(command) && options.keep_running)) {
        host.Execute(command);
      }
    }
    if (now >= next_read) {
      host.Poll(records);
      const uint16_t period = lib.DetectScanTime();
      const milliseconds scan = period == 0 ? kFallbackScan : milliseconds(period);
      next_read += scan;
      if (next_read <= now) next_read = now + scan;
    }
    if (signals.TakeResized()) {
      screen.Resized();
      next_table = now;
    }
    if (screen.HasTable() && host.TableDirty() && now >= next_table) {
      const auto elapsed = std::chrono::duration_cast<std::chrono::seconds>(now - start).count();
      screen.ShowTable(host.Table(title_base + std::to_string(elapsed) + " s"));
      next_table = now + kTableRefresh;
    }

    now = Clock::now();
    Clock::time_point wake = std::min(next_read, now + kMaxWait);
    if (next_entry < script.entries.size()) {
      wake = std::min(wake, start + script.entries[next_entry].at);
    }
    if (bounded) wake = std::min(wake, end);
    const auto timeout = std::chrono::ceil<milliseconds>(std::max(wake - now, Clock::duration(0)));
    pollfd fds[3] = {
        {signals.Fd(), POLLIN, 0}, {failure_event.Get(), POLLIN, 0}, {STDIN_FILENO, POLLIN, 0}};
    const int ready = poll(fds, read_stdin ? 3 : 2, static_cast<int>(timeout.count()));
    if (ready <= 0) continue;
    if (fds[1].revents & POLLIN) {
      uint64_t signalled = 0;
      if (read(failure_event.Get(), &signalled, sizeof signalled) == sizeof signalled) {
        screen.Print(FormatTime(NowAsDays()) + "  driver signalled a severe communication failure");
      }
    }
    if (read_stdin && (fds[2].revents & (POLLIN | POLLHUP | POLLERR))) {
      std::vector<std::string> lines;
      read_stdin = input.Read(STDIN_FILENO, &lines);
      for (const std::string& line : lines) {
        const CommandsResult parsed = ParseCommandLine(line);
        if (!parsed.error.empty()) screen.Print(parsed.error);
        for (const Command& command : parsed.commands) host.Execute(command);
      }
    }
  }

  const auto elapsed =
      std::chrono::duration_cast<std::chrono::seconds>(Clock::now() - start).count();
  if (options.once) host.PrintLastValues();
  if (options.format == OutputFormat::kText && !options.once) {
    const std::vector<std::string> table =
        host.Table("Tags after " + std::to_string(elapsed) + " s:");
    if (screen.HasTable()) screen.ShowTable(table);
    screen.Print("");
    screen.PrintLines(table);
  }
  if (options.format == OutputFormat::kJson) {
    host.PrintRecords(FormatFiguresJson(watch.Figures()));
  } else {
    screen.PrintLines(FormatFigures(watch.Figures()));
  }
  screen.Print(FormatTime(NowAsDays()) + "  stopping the driver (FreeDriver)");
  if (!options.once) return kExitOk;
  if (watch.AllAnswered()) return kExitOk;
  screen.Print("no answer from device " + DeviceRanges(watch.Silent()));
  return kExitFailure;
}

}  // namespace

int RunHost(const HostOptions& options) {
  // Before the library is loaded: its threads inherit the blocked signals.
  StopSignals signals;
  const std::string path = options.library.empty() ? DefaultLibraryPath() : options.library;
  std::string error;
  const std::unique_ptr<DriverLibrary> lib = DriverLibrary::Open(path, &error);
  if (!lib) {
    PrintError(error);
    return kExitFailure;
  }
  const int32_t size = lib->GetPDBLen();
  if (size != TK571_PDB_SIZE) {
    PrintError("the driver's parameter block has " + std::to_string(size) + " bytes, this host " +
               "was built for " + std::to_string(TK571_PDB_SIZE));
    return kExitFailure;
  }

  ParameterBlock block;
  if (!options.pdb_file.empty()) {
    std::optional<ParameterBlock> loaded = LoadBlockFile(options.pdb_file, &error);
    if (!loaded) {
      PrintError(error);
      return kExitUsage;
    }
    block = std::move(*loaded);
  } else {
    block.assign(TK571_PDB_SIZE, 0);
    lib->FullPDB(block.data());
  }
  ApplyBlockOptions(options.block, block);
  if (!options.device.empty()) {
    // The driver finds the device of ComN in the environment.
    setenv(("TK571_COM" + std::to_string(block[TK571_PDB_PORT] + 1)).c_str(),
           options.device.c_str(), 1);
  }

  const bool table = options.table == TableMode::kOn ||
                     (options.table == TableMode::kAuto && !options.tags_file.empty());
  int result = kExitOk;
  {
    // Values alone go to standard output in the machine formats.
    const bool text = options.format == OutputFormat::kText;
    Screen screen(text && !options.once && table && !options.tags_file.empty(),
                  text ? stdout : stderr);
    screen.Print("driver library: " + lib->Path());
    Host host(*lib, block, screen, options.format, signals);
    host.SetScanLimit(options.duration);
    if (!options.tags_file.empty()) {
      result = RunDriver(options, *lib, block, screen, host, signals);
    } else {
      for (const Command& command : options.commands) {
        if (!host.Execute(command)) result = kExitFailure;
        // Ctrl-C during a command ends the rest too.
        if (const int stop = signals.Stop()) return kExitSignal + stop;
      }
      if (options.commands.empty() && options.save_pdb_file.empty()) {
        screen.Print("parameter block: " + DescribeBlock(block));
        screen.Print("nothing to do: give --tags FILE or a command (tk571-host --help)");
      }
    }
  }
  if (!options.save_pdb_file.empty()) {
    if (!SaveBlockFile(options.save_pdb_file, block, &error)) {
      PrintError(error);
      return kExitFailure;
    }
    std::cout << "parameter block saved to " << options.save_pdb_file << std::endl;
  }
  return result;
}

}  // namespace tk571::host
