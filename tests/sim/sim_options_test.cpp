// The tk571-sim command line: what it accepts and what it refuses.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "tk571sim/cli_options.h"

namespace tk571::sim {
namespace {

using std::chrono::milliseconds;

ParseResult Parse(std::vector<std::string_view> args) {
  return ParseOptions(args);
}

TEST(SimOptions, AcceptedCommandLines) {
  struct Case {
    std::vector<std::string_view> args;
    std::function<void(const ProgramOptions&)> check;
  };
  const std::vector<Case> cases = {
      {{},
       [](const ProgramOptions& o) {
         EXPECT_EQ(o.controllers, std::vector<int>{1});
         EXPECT_EQ(o.line.baud, 9600);
         EXPECT_EQ(o.line.mode, LineMode::kRs485);
         EXPECT_FALSE(o.line.seed);
       }},
      {{"--mode", "rs232", "--controllers", "7", "--baud", "19200", "--parity", "even",
        "--stop-bits", "1.5", "--data-bits", "7", "--turnaround", "0"},
       [](const ProgramOptions& o) {
         EXPECT_EQ(o.line.mode, LineMode::kRs232);
         EXPECT_EQ(o.controllers, std::vector<int>{7});
         EXPECT_EQ(o.line.baud, 19200);
         EXPECT_EQ(o.line.parity, Parity::kEven);
         EXPECT_EQ(o.line.stop_bits, 1.5);
         EXPECT_EQ(o.line.data_bits, 7);
         EXPECT_EQ(o.line.turnaround.count(), 0);
       }},
      {{"--controllers", "0,2,99", "--silent", "2", "--late", "99:300", "--split", "0:3:50",
        "--noise", "0:4", "--garbage", "99", "--drop-crlf", "2"},
       [](const ProgramOptions& o) {
         EXPECT_EQ(o.controllers, (std::vector<int>{0, 2, 99}));
         EXPECT_TRUE(o.faults.at(2).silent);
         EXPECT_TRUE(o.faults.at(2).drop_crlf);
         EXPECT_EQ(o.faults.at(99).late, milliseconds(300));
         EXPECT_TRUE(o.faults.at(99).garbage);
         EXPECT_EQ(o.faults.at(0).split_parts, 3);
         EXPECT_EQ(o.faults.at(0).split_gap, milliseconds(50));
         EXPECT_EQ(o.faults.at(0).noise_bytes, 4);
       }},
      {{"--controllers", "1,2", "--late-r", "1:120", "--status-pause", "1:250", "--noise-byte",
        "2:FF", "--bare-echo", "2", "--select-only", "1", "--status-pause", "2:100:40", "--control",
        "/tmp/ctl"},
       [](const ProgramOptions& o) {
         EXPECT_EQ(o.faults.at(1).late_r, milliseconds(120));
         EXPECT_EQ(o.faults.at(1).status_pause, milliseconds(250));
         EXPECT_EQ(o.faults.at(1).status_pause_after, 18);
         EXPECT_TRUE(o.faults.at(1).select_only);
         EXPECT_EQ(o.faults.at(2).noise_byte, std::uint8_t{0xFF});
         EXPECT_TRUE(o.faults.at(2).bare_echo);
         EXPECT_EQ(o.faults.at(2).status_pause, milliseconds(100));
         EXPECT_EQ(o.faults.at(2).status_pause_after, 40);
         EXPECT_FALSE(o.faults.at(2).select_only);
         EXPECT_EQ(o.control, "/tmp/ctl");
       }},
      {{"--controllers", "1,2", "--continuous", "2:30", "--power-cycle", "1:1500", "--local-echo"},
       [](const ProgramOptions& o) {
         EXPECT_EQ(o.faults.at(2).continuous, milliseconds(30));
         EXPECT_EQ(o.faults.at(1).power_cycle, milliseconds(1500));
         EXPECT_TRUE(o.line.local_echo);
       }},
      {{"--recipe", "1:500/100/10,300/50/5,200/20/2,100/10/0", "--seed", "42", "--flap", "1000:200",
        "--link", "/tmp/x", "--trace", "-", "--fast-rate", "2.5", "--settle", "0"},
       [](const ProgramOptions& o) {
         EXPECT_EQ(o.recipes.at(1)[3], (MaterialSetpoints{100, 10, 0}));
         EXPECT_EQ(o.line.seed, 42u);
         EXPECT_EQ(o.flap->first, milliseconds(1000));
         EXPECT_EQ(o.flap->second, milliseconds(200));
         EXPECT_EQ(o.line.link_path, "/tmp/x");
         EXPECT_EQ(o.trace_file, "-");
         EXPECT_EQ(o.rates.fast_kg_per_s, 2.5);
         EXPECT_EQ(o.rates.settle, milliseconds(0));
       }},
  };
  for (const Case& c : cases) {
    const ParseResult result = Parse(c.args);
    ASSERT_EQ(result.error, "");
    c.check(result.options);
  }
}

TEST(SimOptions, RefusedCommandLines) {
  const std::vector<std::vector<std::string_view>> cases = {
      {"--baud"},
      {"--baud", "0"},
      {"--baud", "96OO"},
      {"--mode", "rs422"},
      {"--controllers", "100"},
      {"--controllers", "1,1"},
      {"--controllers", ""},
      {"--mode", "rs232", "--controllers", "1,2"},
      {"--silent", "3"},  // not on the line
      {"--late", "1"},
      {"--late", "1:-5"},
      {"--split", "1:0"},
      {"--noise", "1:x"},
      {"--parity", "yes"},
      {"--stop-bits", "3"},
      {"--data-bits", "9"},
      {"--recipe", "1:500/100/10"},
      {"--recipe", "1:500/100/10,300/50/5,200/20/2,100/10/-1"},
      {"--recipe", "1:10000/100/10,300/50/5,200/20/2,100/10/0"},
      {"--flap", "0:100"},
      {"--fast-rate", "-1"},
      {"--frobnicate", "1"},
      {"--late-r", "1"},
      {"--late-r", "1:x"},
      {"--continuous", "1"},
      {"--noise-byte", "1:100"},
      {"--noise-byte", "1"},
      {"--status-pause", "1:250:0"},
      {"--bare-echo", "1:maybe"},
      {"--select-only", "2"},  // not on the line
      {"--control"},
  };
  for (const auto& args : cases) {
    std::string line;
    for (std::string_view a : args) line += std::string(a) + " ";
    EXPECT_NE(Parse(args).error, "") << line;
  }
}

}  // namespace
}  // namespace tk571::sim
