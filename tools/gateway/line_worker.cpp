#include "line_worker.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>

#include "log.h"
#include "text_codec.h"
#include "time_text.h"

namespace tk571::gateway {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// A driver that asks for no period at all is polled at this one.
constexpr milliseconds kFallbackScan{10};
constexpr std::chrono::seconds kRestartWait{5};
// Writes wait for the line's thread at most one poll; more than this many
// waiting means the line is stuck, and further ones are refused.
constexpr std::size_t kMaxWaitingWrites = 64;
constexpr double kLinkNeverAnswered = 0;
constexpr double kLinkNormal = 1;
constexpr double kLinkInterference = 2;
constexpr double kLinkFailing = 3;
// The driver's message after an exchange that got no answer in time.
constexpr const char* kTimeoutMessage = "通讯超时错";

std::string LinkWord(double status) {
  static const char* const kWords[] = {"never answered", "normal", "interference",
                                       "failing",        "broken", "paused"};
  const int code = static_cast<int>(status);
  return code >= 0 && code <= 5 ? kWords[code] : "unknown";
}

std::string StatusText(double status) {
  return std::to_string(static_cast<int>(status)) + " (" + LinkWord(status) + ")";
}

std::string QualityText(uint32_t quality) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%x", quality);
  return text;
}

void Signal(int fd) {
  const uint64_t one = 1;
  [[maybe_unused]] const ssize_t n = write(fd, &one, sizeof one);
}

std::optional<SetPoint> SetPointOf(const Control& c) {
  if (c.type == "M_FINAL") return SetPoint::kFinal;
  if (c.type == "M_COARSE") return SetPoint::kCoarse;
  if (c.type == "M_FINE") return SetPoint::kFine;
  return std::nullopt;
}

bool Drain(int fd) {
  uint64_t count = 0;
  return read(fd, &count, sizeof count) == sizeof count;
}

}  // namespace

LineWorker::LineWorker(host::DriverLibrary& library, LinePlan plan, const Topics& topics,
                       MqttLink& link, BatchService& batches, AuditSink& audit)
    : lib_(library),
      plan_(std::move(plan)),
      topics_(topics),
      link_(link),
      batch_service_(batches),
      audit_(audit) {
  std::map<int, std::vector<int>> materials;
  for (std::size_t i = 0; i < plan_.controls.size(); ++i) {
    const Control& c = plan_.controls[i];
    definitions_.push_back(c.tag);
    index_of_id_[c.tag.id] = i;
    index_of_topic_[{c.device, c.name}] = i;
    if (c.device_number >= 0) device_names_[c.device_number] = c.device;
    if (c.role == ControlRole::kTag && c.type == "ENQ")
      materials[c.device_number].push_back(c.channel);
  }
  for (const auto& [device, channels] : materials) {
    const std::string& name = device_names_[device];
    recorders_.emplace(device, BatchRecorder(name, device, channels, batches.Last(name)));
  }
  metrics_.Update([this](LineFigures& f) {
    for (const auto& [number, name] : device_names_) f.devices[name];
  });
  write_error_.assign(plan_.controls.size(), false);
  published_error_.assign(plan_.controls.size(), std::nullopt);
  last_payload_.assign(plan_.controls.size(), std::string());
  pending_.assign(plan_.controls.size(), std::nullopt);
  failure_fd_ = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  wake_fd_ = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
}

LineWorker::~LineWorker() {
  stop_ = true;
  if (wake_fd_ >= 0) Signal(wake_fd_);
  if (thread_.joinable()) thread_.join();
  if (failure_fd_ >= 0) close(failure_fd_);
  if (wake_fd_ >= 0) close(wake_fd_);
}

void LineWorker::Start() {
  for (const DeviceConfig& device : plan_.config.devices) {
    Publish(topics_.DeviceMeta(device.name), DeviceMetaPayload(device, plan_.config.name));
    Publish(topics_.DeviceMetaError(device.name), "r");  // until the driver reports it normal
  }
  for (std::size_t i = 0; i < plan_.controls.size(); ++i) {
    const Control& c = plan_.controls[i];
    link_.Publish(topics_.Meta(c.device, c.name), MetaPayload(c, static_cast<int>(i)));
    if (!c.initial_payload.empty()) {
      link_.Publish(topics_.Control(c.device, c.name), c.initial_payload);
    }
    PublishError(i);
  }
  thread_ = std::thread(&LineWorker::Run, this);
}

void LineWorker::Publish(const std::string& topic, const std::string& payload) {
  if (link_.Publish(topic, payload)) metrics_.Update([](LineFigures& f) { ++f.dropped; });
}

void LineWorker::LogLine(const std::string& text) const {
  Log(plan_.config.name + ": " + text);
}

void LineWorker::DriverMessage(char* raw) {
  const host::HostString message(raw);
  if (message.Empty()) return;
  std::string text = host::DisplayText(message.View());
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
  const bool timeout = text.find(kTimeoutMessage) != std::string::npos;
  metrics_.Update([timeout](LineFigures& f) {
    ++f.driver_messages;
    if (timeout) ++f.timeouts;
  });
  // A timeout is reported at every failed exchange; once is enough.
  if (text == last_message_) return;
  last_message_ = text;
  LogLine("driver: " + text);
}

std::string LineWorker::Unreachable(int device) const {
  if (!running_) return "the line is down (driver not started)";
  const auto link = device_link_.find(device);
  const double status = link == device_link_.end() ? kLinkNeverAnswered : link->second;
  if (status == kLinkNormal || status == kLinkInterference) return std::string();
  return "the device does not answer (link " + StatusText(status) + ")";
}

bool LineWorker::RequestWrite(const std::string& device, const std::string& control,
                              const std::string& value, const WriteSource& source) {
  const auto found = index_of_topic_.find({device, control});
  if (found == index_of_topic_.end()) return false;
  const std::lock_guard<std::mutex> lock(queue_mutex_);
  if (queue_.size() >= kMaxWaitingWrites) return false;
  queue_.push_back(WriteRequest{found->second, value, source});
  metrics_.Update([this](LineFigures& f) { f.write_queue = queue_.size(); });
  Signal(wake_fd_);
  return true;
}

std::string LineWorker::LastValue(const std::string& device, const std::string& control) {
  const auto found = index_of_topic_.find({device, control});
  if (found == index_of_topic_.end()) return std::string();
  const std::lock_guard<std::mutex> lock(value_mutex_);
  return last_payload_[found->second];
}

void LineWorker::Audit(const std::string& device, const std::string& control,
                       const std::string& before, const std::string& after,
                       const WriteSource& source, WriteOutcome outcome,
                       const std::string& reason) const {
  audit_.RecordWrite(WriteEvent{NowMs(), device, control, before, after, source, outcome, reason});
}

void LineWorker::NoteRefused(const std::string& device, const std::string& control) {
  const auto found = index_of_topic_.find({device, control});
  if (found == index_of_topic_.end()) return;
  metrics_.Update([](LineFigures& f) { ++f.writes_refused; });
  const std::lock_guard<std::mutex> lock(queue_mutex_);
  if (std::find(refused_.begin(), refused_.end(), found->second) != refused_.end()) return;
  refused_.push_back(found->second);
  Signal(wake_fd_);
}

void LineWorker::Run() {
  std::vector<TTagValueRec> records(definitions_.size());
  while (!stop_) {
    if (!StartDriver()) {
      lib_.FreeDriver();
      LogLine("next start of the driver in " + std::to_string(kRestartWait.count()) + " s");
      WaitUntil(Clock::now() + kRestartWait);
      continue;
    }
    Clock::time_point next_read = Clock::now();
    while (!stop_) {
      PollDriver(records);
      ServeWrites();
      const uint16_t period = lib_.DetectScanTime();
      const milliseconds scan = period == 0 ? kFallbackScan : milliseconds(period);
      next_read += scan;
      const Clock::time_point now = Clock::now();
      if (next_read <= now) next_read = now + scan;
      WaitUntil(next_read);
    }
    running_ = false;
    values_.DriverRunning(false);
    lib_.FreeDriver();
    LogLine("driver stopped (FreeDriver)");
  }
  ServeWrites();  // whatever came in meanwhile is refused, not left waiting
}

bool LineWorker::StartDriver() {
  if (!plan_.device_path.empty()) {
    LogLine("Com" + std::to_string(plan_.com) + " is " + plan_.device_path);
  }
  host::TagInfoTable infos(definitions_);
  host::ParameterBlock block = plan_.block;
  char* raw = nullptr;
  const bool started = lib_.IniDriver(infos.Count(), infos.Pointers(), block.data(), &raw) != 0;
  DriverMessage(raw);
  metrics_.Update([started](LineFigures& f) { ++(started ? f.driver_starts : f.start_failures); });
  if (!started) {
    LogLine("the driver did not start on Com" + std::to_string(plan_.com) +
            " (IniDriver answered false)");
    return false;
  }
  lib_.IniDriverEx(static_cast<uint32_t>(failure_fd_));
  running_ = true;
  values_.DriverRunning(true);
  // The driver starts every link at 0 and reports changes only.
  line_link_ = kLinkNeverAnswered;
  for (const auto& [number, name] : device_names_) device_link_[number] = kLinkNeverAnswered;
  // The driver starts its set-point table at 0 and reports changes only.
  for (const Control& c : plan_.controls) {
    BatchRecorder* recorder = RecorderOf(c);
    const std::optional<SetPoint> which = SetPointOf(c);
    if (recorder != nullptr && which) recorder->SetPointHeld(*which, c.channel, 0);
  }
  failure_reported_ = false;
  last_message_.clear();
  LogLine("driver started on Com" + std::to_string(plan_.com) + ", " +
          std::to_string(definitions_.size()) + " tags, scan period " +
          std::to_string(lib_.DetectScanTime()) + " ms");
  return true;
}

void LineWorker::WaitUntil(Clock::time_point deadline) {
  while (!stop_) {
    const auto left = std::chrono::ceil<milliseconds>(deadline - Clock::now());
    if (left.count() <= 0) return;
    pollfd fds[2] = {{failure_fd_, POLLIN, 0}, {wake_fd_, POLLIN, 0}};
    if (poll(fds, 2, static_cast<int>(left.count())) <= 0) continue;
    if ((fds[0].revents & POLLIN) && Drain(failure_fd_) && !failure_reported_) {
      failure_reported_ = true;
      LogLine("the driver signalled a severe communication failure (repeated timeouts)");
    }
    if ((fds[1].revents & POLLIN) && Drain(wake_fd_)) {
      ServeWrites();
      if (!running_) continue;
      return;  // a write was passed on: poll the driver for its progress
    }
  }
}

void LineWorker::PollDriver(std::vector<TTagValueRec>& records) {
  int32_t count = 0;
  char* raw = nullptr;
  lib_.OnDataRead(&count, records.data(), &raw);
  const int32_t n = std::clamp<int32_t>(count, 0, static_cast<int32_t>(records.size()));
  metrics_.Update([n](LineFigures& f) {
    ++f.polls;
    f.records += static_cast<uint64_t>(n);
  });
  std::vector<int> finished_devices;
  values_.Polled(Clock::now());
  for (int32_t i = 0; i < n; ++i) {
    TTagValueRec& record = records[static_cast<std::size_t>(i)];
    HandleRecord(record, &finished_devices);
    if (record.ValueType == TK571_VALUE_STRING) {
      std::free(record.Value.String);
      record.Value.String = nullptr;
    }
  }
  for (int device : finished_devices) {
    std::optional<BatchRecord> batch = recorders_.at(device).Finished(NowMs());
    if (!batch) continue;
    std::string amounts;
    for (const MaterialResult& m : batch->materials) {
      amounts += " M" + std::to_string(m.material) + "=" + NumberText(m.amount.value_or(0));
    }
    LogLine(batch->device + ": batch finished," + amounts);
    batch_service_.Finished(std::move(*batch));
  }
  DriverMessage(raw);
}

void LineWorker::HandleRecord(const TTagValueRec& record, std::vector<int>* finished_devices) {
  const auto found = index_of_id_.find(record.TagID);
  if (found == index_of_id_.end()) return;
  const std::size_t index = found->second;
  const Control& c = plan_.controls[index];
  const std::string payload = ValuePayload(record);
  Publish(topics_.Control(c.device, c.name), payload);
  {
    const std::lock_guard<std::mutex> lock(value_mutex_);
    last_payload_[index] = payload;
  }
  switch (c.role) {
    case ControlRole::kLineLink: {
      // With one controller silent the line goes from normal to failing and
      // back at every cycle; the device links tell which one it is.
      const auto flips = [](double status) {
        return status == kLinkNormal || status == kLinkFailing;
      };
      if (!(flips(line_link_) && flips(record.Value.Float))) {
        LogLine("line link " + StatusText(record.Value.Float));
      }
      if (record.Value.Float == kLinkNormal) failure_reported_ = false;
      line_link_ = record.Value.Float;
      metrics_.Update([&record](LineFigures& f) {
        f.line_link = record.Value.Float;
        ++f.line_link_changes;
      });
      break;
    }
    case ControlRole::kDeviceLink:
      device_link_[c.device_number] = record.Value.Float;
      values_.DeviceLink(c.device_number, record.Value.Float);
      metrics_.Update([&](LineFigures& f) {
        DeviceFigures& d = f.devices[c.device];
        d.link = record.Value.Float;
        ++d.link_changes;
      });
      LogLine(c.device + ": link " + StatusText(record.Value.Float));
      Publish(topics_.DeviceMetaError(c.device), record.Value.Float == kLinkNormal ? "" : "r");
      for (std::size_t i = 0; i < plan_.controls.size(); ++i) {
        if (plan_.controls[i].device_number == c.device_number) PublishError(i);
      }
      break;
    case ControlRole::kDeviceLinkText:
      LogLine(c.device + ": " + payload);
      break;
    case ControlRole::kTag: {
      const bool write_failed =
          (record.Quality & (TK571_QUALITY_WRITE_FAILED | TK571_QUALITY_WRITE_STALE)) != 0;
      if (c.writable || record.Quality != TK571_QUALITY_GOOD) {
        LogLine(c.device + "/" + c.name + " = " + payload +
                (write_failed ? ", the write failed" : "") + " (quality " +
                QualityText(record.Quality) + ")");
      }
      metrics_.Update([&](LineFigures& f) {
        if (write_failed) ++f.writes_failed;
        if (record.Quality != TK571_QUALITY_GOOD) ++f.devices[c.device].bad_readings;
      });
      write_error_[index] = write_failed;
      values_.Reported(index,
                       record.ValueType == TK571_VALUE_BOOL ? (record.Value.Bool != 0 ? 1.0 : 0.0)
                                                            : record.Value.Float,
                       write_failed, Clock::now());
      PublishError(index);
      FeedRecorder(c, record, write_failed);
      if (pending_[index]) WriteEnded(index, record, payload, write_failed);
      if (c.type == "ENQ" && std::find(finished_devices->begin(), finished_devices->end(),
                                       c.device_number) == finished_devices->end()) {
        finished_devices->push_back(c.device_number);
      }
      break;
    }
  }
}

BatchRecorder* LineWorker::RecorderOf(const Control& c) {
  const auto found = recorders_.find(c.device_number);
  return found == recorders_.end() ? nullptr : &found->second;
}

void LineWorker::FeedRecorder(const Control& c, const TTagValueRec& record, bool failed) {
  BatchRecorder* recorder = RecorderOf(c);
  if (recorder == nullptr) return;
  const double value = record.Value.Float;
  if (c.type == "ENQ") {
    recorder->AmountRead(c.channel, value);
  } else if (c.type == "READ") {
    recorder->WeightRead(NowMs(), value);
  } else if (const std::optional<SetPoint> which = SetPointOf(c)) {
    recorder->SetPointHeld(*which, c.channel, value);
  } else if (c.type == "READ_SETM") {
    // Its reply is never accepted, yet the set-points were read.
    recorder->RecipeConfirmed();
  } else if (c.type == "LOAD_SETM" && failed) {
    recorder->RecipeRefused();
  } else if (c.type == "START_UP" && failed) {
    recorder->StartRefused();
  }
}

void LineWorker::FeedWrite(const Control& c, const TTagValueRec& record,
                           const WriteSource& source) {
  BatchRecorder* recorder = RecorderOf(c);
  if (recorder == nullptr) return;
  if (const std::optional<SetPoint> which = SetPointOf(c)) {
    recorder->SetPointHeld(*which, c.channel, record.Value.Float);
  } else if (c.type == "LOAD_SETM") {
    recorder->RecipeConfirmed();
  } else if (c.type == "START_UP" && record.Value.Bool != 0) {
    recorder->StartWritten(NowMs(), BatchOrigin{c.name, source});
  }
}

void LineWorker::WriteEnded(std::size_t index, const TTagValueRec& record,
                            const std::string& payload, bool failed) {
  const Control& c = plan_.controls[index];
  PendingWrite write = std::move(*pending_[index]);
  pending_[index].reset();
  Audit(c.device, c.name, write.before, payload, write.source,
        failed ? WriteOutcome::kFailed : WriteOutcome::kDone,
        failed ? "quality " + QualityText(record.Quality) : std::string());
}

void LineWorker::PublishError(std::size_t index) {
  const Control& c = plan_.controls[index];
  if (c.role != ControlRole::kTag) return;
  const auto link = device_link_.find(c.device_number);
  const bool read_error = link == device_link_.end() || link->second != kLinkNormal;
  std::string error = read_error ? "r" : "";
  if (write_error_[index]) error += "w";
  if (published_error_[index] == error) return;
  published_error_[index] = error;
  Publish(topics_.MetaError(c.device, c.name), error);
}

void LineWorker::ServeWrites() {
  std::deque<WriteRequest> requests;
  std::vector<std::size_t> refused;
  {
    const std::lock_guard<std::mutex> lock(queue_mutex_);
    requests.swap(queue_);
    refused.swap(refused_);
  }
  metrics_.Update([](LineFigures& f) { f.write_queue = 0; });
  for (const std::size_t index : refused) {
    write_error_[index] = true;
    values_.WriteRefused(index);
    PublishError(index);
  }
  for (const WriteRequest& request : requests) Answer(request);
}

void LineWorker::RefuseWrite(std::size_t index, const WriteRequest& request,
                             const std::string& what) {
  const Control& c = plan_.controls[index];
  LogLine("write " + c.device + "/" + c.name + ": refused, " + what);
  Audit(c.device, c.name, last_payload_[index], request.value, request.source,
        WriteOutcome::kRefused, what);
  write_error_[index] = true;
  values_.WriteRefused(index);
  PublishError(index);
}

void LineWorker::Answer(const WriteRequest& request) {
  const std::size_t index = request.index;
  const Control& c = plan_.controls[index];
  if (const std::string reason = Unreachable(c.device_number); !reason.empty()) {
    metrics_.Update([](LineFigures& f) { ++f.writes_failed; });
    RefuseWrite(index, request, reason + ": " + request.value);
    return;
  }
  TTagValueRec record;
  std::string text;
  if (const std::string error = host::MakeWriteRecord(c.tag, request.value, &text, &record);
      !error.empty()) {
    RefuseWrite(index, request, error);
    return;
  }
  char* raw = nullptr;
  const bool queued = lib_.OnDataWrite(1, &record, &raw) != 0;
  metrics_.Update([](LineFigures& f) { ++f.writes_done; });
  // The driver keeps a set-point in its recipe without queueing anything and
  // answers false for it; that is no failure.
  LogLine("write " + c.device + "/" + c.name + " = " + request.value + ": " +
          (queued ? "queued" : "not queued (OnDataWrite answered false)"));
  DriverMessage(raw);
  // A set-point the driver keeps goes to the controller with the next
  // LOAD_SETM; a command it does not queue goes nowhere.
  const bool kept = !queued && c.type.rfind("M_", 0) == 0;
  Audit(c.device, c.name, last_payload_[index], request.value, request.source,
        queued || kept ? WriteOutcome::kQueued : WriteOutcome::kRefused,
        queued ? std::string()
        : kept ? "kept in the driver's recipe until LOAD_SETM"
               : "OnDataWrite answered false");
  if (queued || kept) {
    pending_[index] = PendingWrite{last_payload_[index], request.value, request.source};
    FeedWrite(c, record, request.source);
  }
  write_error_[index] = false;
  values_.WritePassed(index, queued, Clock::now());
  PublishError(index);
}

}  // namespace tk571::gateway
