// What the simulator tests share: a fast line, the select request, and
// request/answer steps checked at the driver's end.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "sim/test_port.h"
#include "tk571sim/line.h"

namespace tk571::sim::test {

// Long enough for any answer at 115200 baud on a busy machine; a controller
// that stays quiet this long is taken as silent.
inline constexpr std::chrono::milliseconds kQuiet(100);
inline constexpr std::chrono::milliseconds kAnswerTimeout(2000);
inline constexpr int kFastBaud = 115200;
inline constexpr std::uint32_t kSeed = 571;

inline const std::string kAck = "\x06";

inline LineSettings FastLine(LineMode mode = LineMode::kRs485) {
  LineSettings settings;
  settings.mode = mode;
  settings.baud = kFastBaud;
  settings.seed = kSeed;
  return settings;
}

inline std::string Select(int number) {
  return "\x05ID" + std::string(1, char('0' + number / 10)) + char('0' + number % 10) + "\r\n";
}

// One request and what must come back; an empty answer means silence.
struct Step {
  std::string request;
  std::string answer;
};

inline void RunSteps(TestPort& port, const std::vector<Step>& steps) {
  for (std::size_t i = 0; i < steps.size(); ++i) {
    SCOPED_TRACE("step " + std::to_string(i) + ": " + steps[i].request);
    port.Send(steps[i].request);
    if (steps[i].answer.empty()) {
      EXPECT_EQ(port.ReadFor(kQuiet), "");
    } else {
      EXPECT_EQ(port.ReadUntil("\r\n", kAnswerTimeout), steps[i].answer);
    }
  }
}

// The answer pieces of a trace, in order.
inline std::vector<TraceEntry> Answers(const std::vector<TraceEntry>& trace) {
  std::vector<TraceEntry> answers;
  for (const TraceEntry& e : trace) {
    if (e.direction == Direction::kFromController) answers.push_back(e);
  }
  return answers;
}

}  // namespace tk571::sim::test
