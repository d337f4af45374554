#include "tk571sim/fault_names.h"

#include <array>
#include <cstdio>

#include "numbers.h"

namespace tk571::sim {
namespace {

using detail::ParseMillis;
using detail::ParseNumber;

constexpr std::array<std::string_view, 13> kNames = {
    "silent", "select-only", "garbage", "drop-crlf",    "bare-echo",  "late",       "late-r",
    "noise",  "noise-byte",  "split",   "status-pause", "continuous", "power-cycle"};

// The most junk bytes before one answer; more is a typing mistake.
constexpr int kMaxNoiseBytes = 256;

std::optional<bool> ParseSwitch(const std::vector<std::string_view>& values) {
  if (values.empty()) return true;
  if (values.size() != 1) return std::nullopt;
  if (values[0] == "on") return true;
  if (values[0] == "off") return false;
  return std::nullopt;
}

// "7F", "7f", "0x7F", "00".
std::optional<std::uint8_t> ParseByte(std::string_view text) {
  if (text.starts_with("0x") || text.starts_with("0X")) text.remove_prefix(2);
  if (text.size() > 2) return std::nullopt;
  std::optional<unsigned> byte = ParseNumber<unsigned>(text, 16);
  if (!byte) return std::nullopt;
  return std::uint8_t(*byte);
}

// Sets the fault; false when a value is missing or bad, with `f` perhaps
// half changed (SetFault passes a copy).
bool Apply(Faults& f, std::string_view name, const std::vector<std::string_view>& values) {
  const Faults none;
  const bool off = values.size() == 1 && values[0] == "off";
  bool* flag = name == "silent"        ? &f.silent
               : name == "select-only" ? &f.select_only
               : name == "garbage"     ? &f.garbage
               : name == "drop-crlf"   ? &f.drop_crlf
               : name == "bare-echo"   ? &f.bare_echo
                                       : nullptr;
  if (flag != nullptr) {
    std::optional<bool> on = ParseSwitch(values);
    if (on) *flag = *on;
    return on.has_value();
  }
  std::chrono::milliseconds* delay = name == "late"          ? &f.late
                                     : name == "late-r"      ? &f.late_r
                                     : name == "continuous"  ? &f.continuous
                                     : name == "power-cycle" ? &f.power_cycle
                                                             : nullptr;
  if (delay != nullptr) {
    std::optional<std::chrono::milliseconds> ms;
    if (off) ms = std::chrono::milliseconds(0);
    if (!off && (values.size() != 1 || !(ms = ParseMillis(values[0])))) return false;
    *delay = *ms;
    return true;
  }
  if (name == "noise") {
    std::optional<int> count = off ? 0 : std::optional<int>();
    if (!off && (values.size() != 1 || !(count = ParseNumber<int>(values[0])) || *count < 0 ||
                 *count > kMaxNoiseBytes)) {
      return false;
    }
    f.noise_bytes = *count;
    return true;
  }
  if (name == "noise-byte") {
    if (off) {
      f.noise_byte.reset();
      return true;
    }
    std::optional<std::uint8_t> byte;
    if (values.size() != 1 || !(byte = ParseByte(values[0]))) return false;
    f.noise_byte = *byte;
    return true;
  }
  if (name == "split") {
    if (off) {
      f.split_parts = none.split_parts;
      f.split_gap = none.split_gap;
      return true;
    }
    std::optional<int> parts;
    std::optional<std::chrono::milliseconds> gap = none.split_gap;
    if (values.empty() || values.size() > 2 || !(parts = ParseNumber<int>(values[0])) ||
        *parts < 1 || (values.size() == 2 && !(gap = ParseMillis(values[1])))) {
      return false;
    }
    f.split_parts = *parts;
    f.split_gap = *gap;
    return true;
  }
  if (name == "status-pause") {
    if (off) {
      f.status_pause = none.status_pause;
      f.status_pause_after = none.status_pause_after;
      return true;
    }
    std::optional<std::chrono::milliseconds> pause;
    std::optional<int> after = none.status_pause_after;
    if (values.empty() || values.size() > 2 || !(pause = ParseMillis(values[0])) ||
        (values.size() == 2 && (!(after = ParseNumber<int>(values[1])) || *after < 1))) {
      return false;
    }
    f.status_pause = *pause;
    f.status_pause_after = *after;
    return true;
  }
  return false;
}

}  // namespace

bool IsFaultName(std::string_view name) {
  for (std::string_view known : kNames) {
    if (known == name) return true;
  }
  return false;
}

std::string SetFault(Faults& faults, std::string_view name,
                     const std::vector<std::string_view>& values) {
  if (!IsFaultName(name)) return "unknown fault " + std::string(name);
  Faults changed = faults;
  std::string spelled(name);
  for (std::string_view v : values) spelled += " " + std::string(v);
  if (!Apply(changed, name, values)) return "bad value: " + spelled;
  faults = changed;
  return {};
}

std::string DescribeFaults(const Faults& f) {
  const Faults none;
  std::vector<std::string> on;
  if (f.silent) on.push_back("silent");
  if (f.select_only) on.push_back("select-only");
  if (f.garbage) on.push_back("garbage");
  if (f.drop_crlf) on.push_back("drop-crlf");
  if (f.bare_echo) on.push_back("bare-echo");
  if (f.late != none.late) on.push_back("late " + std::to_string(f.late.count()));
  if (f.late_r != none.late_r) on.push_back("late-r " + std::to_string(f.late_r.count()));
  if (f.continuous != none.continuous)
    on.push_back("continuous " + std::to_string(f.continuous.count()));
  if (f.noise_bytes != none.noise_bytes) on.push_back("noise " + std::to_string(f.noise_bytes));
  if (f.noise_byte) {
    std::array<char, 8> hex{};
    std::snprintf(hex.data(), hex.size(), "%02X", unsigned(*f.noise_byte));
    on.push_back("noise-byte " + std::string(hex.data()));
  }
  if (f.split_parts != none.split_parts) {
    on.push_back("split " + std::to_string(f.split_parts) + " " +
                 std::to_string(f.split_gap.count()));
  }
  if (f.status_pause != none.status_pause) {
    on.push_back("status-pause " + std::to_string(f.status_pause.count()) + " " +
                 std::to_string(f.status_pause_after));
  }
  if (on.empty()) return "none";
  std::string text = on.front();
  for (std::size_t i = 1; i < on.size(); ++i) text += ", " + on[i];
  return text;
}

}  // namespace tk571::sim
