#include "tk571sim/control.h"

#include <algorithm>
#include <optional>
#include <system_error>
#include <vector>

#include "numbers.h"
#include "tk571sim/fault_names.h"

namespace tk571::sim {
namespace {

constexpr std::string_view kOk = "ok";

std::vector<std::string_view> Words(std::string_view text) {
  std::vector<std::string_view> words;
  for (;;) {
    const std::size_t start = text.find_first_not_of(" \t");
    if (start == std::string_view::npos) return words;
    text.remove_prefix(start);
    const std::size_t end = std::min(text.find_first_of(" \t"), text.size());
    words.push_back(text.substr(0, end));
    text.remove_prefix(end);
  }
}

std::string Error(std::string reason) {
  return "error: " + std::move(reason);
}

// The controllers a command names: one number on the line, or "all".
std::optional<std::vector<int>> Addressed(const Line& line, std::string_view word) {
  const std::vector<int> present = line.ControllerNumbers();
  if (word == "all") return present;
  std::optional<int> number = detail::ParseDeviceNumber(word);
  if (!number || std::find(present.begin(), present.end(), *number) == present.end()) {
    return std::nullopt;
  }
  return std::vector<int>{*number};
}

std::string Fault(Line& line, const std::vector<std::string_view>& words) {
  if (words.size() < 3) return Error("fault N|all NAME [VALUE...] or fault N|all clear");
  std::optional<std::vector<int>> numbers = Addressed(line, words[1]);
  if (!numbers) return Error("no controller " + std::string(words[1]) + " on the line");
  // All controllers change, or none.
  std::vector<Faults> changed;
  for (int number : *numbers) {
    Faults faults = line.GetFaults(number);
    if (words[2] == "clear" && words.size() == 3) {
      faults = Faults();
    } else {
      const std::string error =
          SetFault(faults, words[2], std::vector<std::string_view>(words.begin() + 3, words.end()));
      if (!error.empty()) return Error(error);
    }
    changed.push_back(faults);
  }
  for (std::size_t i = 0; i < numbers->size(); ++i) line.SetFaults((*numbers)[i], changed[i]);
  return std::string(kOk);
}

std::string ShowFaults(const Line& line, const std::vector<std::string_view>& words) {
  std::optional<std::vector<int>> numbers;
  if (words.size() != 2 || words[1] == "all" || !(numbers = Addressed(line, words[1]))) {
    return Error("faults N, N on the line");
  }
  const int number = numbers->front();
  const std::string digits = std::string(1, char('0' + number / 10)) + char('0' + number % 10);
  return "faults " + digits + ": " + DescribeFaults(line.GetFaults(number));
}

// The Start key on the controller's panel: a batch that no host started.
std::string StartBatch(Line& line, const std::vector<std::string_view>& words) {
  std::optional<std::vector<int>> numbers;
  if (words.size() != 2 || !(numbers = Addressed(line, words[1]))) {
    return Error("start N|all, N on the line");
  }
  std::string refused;
  for (int number : *numbers) {
    line.WithController(number, [&](Controller& controller, Clock::time_point now) {
      // The key does what the "ST" request does.
      const Reply reply = controller.Handle("ST", now);
      if (!reply.refusal.empty()) refused = reply.refusal;
    });
  }
  return refused.empty() ? std::string(kOk) : Error(refused);
}

}  // namespace

std::string RunControlCommand(Line& line, std::string_view command) {
  const std::vector<std::string_view> words = Words(command);
  if (words.empty()) return Error("empty command");
  const std::string_view verb = words[0];
  if (verb == "fault") return Fault(line, words);
  if (verb == "faults") return ShowFaults(line, words);
  if (verb == "local-echo") {
    if (words.size() != 2 || (words[1] != "on" && words[1] != "off"))
      return Error("local-echo on|off");
    line.SetLocalEcho(words[1] == "on");
    return std::string(kOk);
  }
  if (verb == "start") return StartBatch(line, words);
  if (words.size() != 1) return Error(std::string(verb) + " takes no value");
  if (verb == "overlaps") return FormatOverlapCounts(line.Overlaps());
  if (verb == "clear-trace") {
    line.ClearTrace();
    return std::string(kOk);
  }
  if (verb == "unplug") {
    line.Unplug();
    return std::string(kOk);
  }
  if (verb == "replug") {
    try {
      line.Replug();
    } catch (const std::system_error& e) {
      return Error(e.what());
    }
    return std::string(kOk);
  }
  return Error("unknown command " + std::string(verb));
}

}  // namespace tk571::sim
