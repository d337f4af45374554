#include "write_policy.h"

#include "tokens.h"
#include "topics.h"

namespace tk571::gateway {

std::string_view VerdictText(WriteVerdict verdict) {
  switch (verdict) {
    case WriteVerdict::kAllowed:
      return "allowed";
    case WriteVerdict::kNoSuchControl:
      return "no such control";
    case WriteVerdict::kWritesOff:
      return "writes are switched off";
    case WriteVerdict::kNotWritable:
      return "the control is read-only";
    case WriteVerdict::kCommandsOff:
      return "commands are switched off";
    case WriteVerdict::kTooLarge:
      return "the payload is too large";
    case WriteVerdict::kNotAValue:
      return "not a value of the control";
    case WriteVerdict::kOutOfRange:
      return "out of range";
    case WriteVerdict::kRateLimited:
      return "written too often (rate limit)";
    case WriteVerdict::kLineBusy:
      return "the line has too many writes waiting";
  }
  return "refused";
}

WriteVerdict WritePermission(const WriteSettings& writes, const DeviceConfig& device,
                             const TagConfig& tag, bool command, bool kind_writable) {
  if (!kind_writable) return WriteVerdict::kNotWritable;
  if (!writes.enabled || !device.writes.enabled) return WriteVerdict::kWritesOff;
  if (command) {
    if (!tag.writable.value_or(true)) return WriteVerdict::kNotWritable;
    if (!writes.commands || !device.writes.commands) return WriteVerdict::kCommandsOff;
    return WriteVerdict::kAllowed;
  }
  return tag.writable.value_or(false) ? WriteVerdict::kAllowed : WriteVerdict::kNotWritable;
}

WritePolicy::WritePolicy(const WriteSettings& writes, const std::vector<LinePlan>& plans)
    : min_interval_(writes.min_interval_ms) {
  for (const LinePlan& plan : plans) {
    for (const Control& c : plan.controls) {
      Rule rule;
      rule.refusal = c.write_permission;
      rule.is_switch = c.tag.kind == TK571_VALUE_BOOL;
      rule.min = c.min;
      rule.max = c.max;
      rules_.emplace(std::make_pair(c.device, c.name), rule);
    }
  }
}

WriteDecision WritePolicy::Check(const std::string& device, const std::string& control,
                                 std::string_view payload, Clock::time_point now) {
  WriteDecision decision;
  const std::lock_guard<std::mutex> lock(mutex_);
  const auto found = rules_.find({device, control});
  if (found == rules_.end()) return decision;
  Rule& rule = found->second;
  decision.verdict = rule.refusal;
  if (rule.refusal != WriteVerdict::kAllowed) return decision;
  if (payload.size() > kMaxWritePayload) {
    decision.verdict = WriteVerdict::kTooLarge;
    decision.detail =
        std::to_string(payload.size()) + " bytes, at most " + std::to_string(kMaxWritePayload);
    return decision;
  }
  if (rule.is_switch) {
    const std::optional<bool> on = host::ParseSwitch(payload);
    if (!on) {
      decision.verdict = WriteVerdict::kNotAValue;
      decision.detail = "not 0/1 or on/off";
      return decision;
    }
    decision.value = *on ? "1" : "0";
  } else {
    const std::optional<double> number = host::ParseNumber(payload);
    if (!number) {
      decision.verdict = WriteVerdict::kNotAValue;
      decision.detail = "not a number";
      return decision;
    }
    if (*number < rule.min || *number > rule.max) {
      decision.verdict = WriteVerdict::kOutOfRange;
      decision.detail =
          NumberText(*number) + " is outside " + NumberText(rule.min) + ".." + NumberText(rule.max);
      return decision;
    }
    decision.value = NumberText(*number);
  }
  if (rule.last_write && now - *rule.last_write < min_interval_) {
    decision.verdict = WriteVerdict::kRateLimited;
    decision.value.clear();
    decision.detail = "at most one write per " + std::to_string(min_interval_.count()) + " ms";
    return decision;
  }
  rule.last_write = now;
  decision.verdict = WriteVerdict::kAllowed;
  return decision;
}

}  // namespace tk571::gateway
