// Who may write what: the configuration's write switches (global, per device,
// per control, and the separate switch for commands), each set-point's
// limits, a cap on the payload and a rate limit per control. Every source of
// writes (MQTT, Modbus TCP, ...) asks here before anything is queued for the
// line; the verdict is the same whoever asks, and each caller maps it to its
// own answer (`meta/error`, a log line, a protocol exception).
#pragma once

#include <chrono>
#include <cstddef>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "gateway_config.h"
#include "line_plan.h"
#include "write_verdict.h"

namespace tk571::gateway {

// "writes are off", "out of range", ...: the reason as a log line gives it.
std::string_view VerdictText(WriteVerdict verdict);

// Payloads longer than this are refused before they are parsed.
inline constexpr std::size_t kMaxWritePayload = 32;

// What the configuration alone says about writing a control: kAllowed, or
// the switch that keeps it read-only. `command` is a write-only kind
// (START_UP, LOAD_SETM, READ_SETM); `kind_writable` whether the driver
// writes the kind at all.
WriteVerdict WritePermission(const WriteSettings& writes, const DeviceConfig& device,
                             const TagConfig& tag, bool command, bool kind_writable);

struct WriteDecision {
  WriteVerdict verdict = WriteVerdict::kNoSuchControl;
  // When allowed: the value as the driver takes it ("120", "1", "0").
  std::string value;
  // Why, in the control's terms: "-5 is outside 0..9999".
  std::string detail;
};

class WritePolicy {
 public:
  using Clock = std::chrono::steady_clock;

  WritePolicy(const WriteSettings& writes, const std::vector<LinePlan>& plans);

  // Thread-safe; an allowed write counts for the rate limit from `now`.
  WriteDecision Check(const std::string& device, const std::string& control,
                      std::string_view payload, Clock::time_point now);

 private:
  struct Rule {
    WriteVerdict refusal = WriteVerdict::kAllowed;  // kAllowed: the control may be written
    bool is_switch = false;
    double min = 0;
    double max = 0;
    std::optional<Clock::time_point> last_write;
  };

  std::chrono::milliseconds min_interval_;
  std::mutex mutex_;
  std::map<std::pair<std::string, std::string>, Rule> rules_;
};

}  // namespace tk571::gateway
