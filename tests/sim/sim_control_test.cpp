// Switching faults by name: the spelling the command line and the control
// input share, the control commands on a running line, and the control
// input read from a FIFO.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <condition_variable>
#include <functional>
#include <mutex>
#include <stdexcept>
#include <string>
#include <system_error>
#include <vector>

#include "sim/line_fixture.h"
#include "sim/test_port.h"
#include "tk571sim/control.h"
#include "tk571sim/control_input.h"
#include "tk571sim/fault_names.h"
#include "tk571sim/line.h"

namespace tk571::sim {
namespace {

using std::chrono::milliseconds;
using namespace test;

Faults With(const std::function<void(Faults&)>& change) {
  Faults f;
  change(f);
  return f;
}

TEST(SimFaultNames, EachFaultByName) {
  struct Case {
    std::string name;
    std::vector<std::string_view> values;
    Faults expected;
  };
  const std::vector<Case> cases = {
      {"silent", {}, With([](Faults& f) { f.silent = true; })},
      {"silent", {"on"}, With([](Faults& f) { f.silent = true; })},
      {"select-only", {}, With([](Faults& f) { f.select_only = true; })},
      {"garbage", {"on"}, With([](Faults& f) { f.garbage = true; })},
      {"drop-crlf", {}, With([](Faults& f) { f.drop_crlf = true; })},
      {"bare-echo", {"on"}, With([](Faults& f) { f.bare_echo = true; })},
      {"late", {"250"}, With([](Faults& f) { f.late = milliseconds(250); })},
      {"late-r", {"120"}, With([](Faults& f) { f.late_r = milliseconds(120); })},
      {"continuous", {"30"}, With([](Faults& f) { f.continuous = milliseconds(30); })},
      {"noise", {"3"}, With([](Faults& f) { f.noise_bytes = 3; })},
      {"noise-byte", {"FF"}, With([](Faults& f) { f.noise_byte = 0xFF; })},
      {"noise-byte", {"0x7f"}, With([](Faults& f) { f.noise_byte = 0x7F; })},
      {"noise-byte", {"0"}, With([](Faults& f) { f.noise_byte = 0x00; })},
      {"split", {"3"}, With([](Faults& f) { f.split_parts = 3; })},
      {"split", {"3", "50"}, With([](Faults& f) {
         f.split_parts = 3;
         f.split_gap = milliseconds(50);
       })},
      {"status-pause", {"250"}, With([](Faults& f) { f.status_pause = milliseconds(250); })},
      {"status-pause", {"250", "40"}, With([](Faults& f) {
         f.status_pause = milliseconds(250);
         f.status_pause_after = 40;
       })},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Faults faults;
    EXPECT_EQ(SetFault(faults, c.name, c.values), "");
    EXPECT_EQ(faults, c.expected);
    // "off" takes each of them back.
    EXPECT_EQ(SetFault(faults, c.name, {"off"}), "");
    EXPECT_EQ(faults, Faults());
  }
}

TEST(SimFaultNames, BadSpellingsChangeNothing) {
  struct Case {
    std::string name;
    std::vector<std::string_view> values;
  };
  const std::vector<Case> cases = {
      {"loud", {}},           {"silent", {"yes"}},      {"silent", {"on", "off"}},
      {"late", {}},           {"late", {"-5"}},         {"late", {"12ms"}},
      {"late-r", {"1", "2"}}, {"noise", {"x"}},         {"noise", {"-1"}},
      {"noise", {"257"}},     {"noise-byte", {}},       {"noise-byte", {"100"}},
      {"noise-byte", {"G"}},  {"noise-byte", {"0x"}},   {"split", {"0"}},
      {"split", {}},          {"split", {"2", "-1"}},   {"status-pause", {"250", "0"}},
      {"status-pause", {}},   {"status-pause", {"-1"}}, {"bare-echo", {"1"}},
  };
  const Faults before = With([](Faults& f) { f.late = milliseconds(7); });
  for (const Case& c : cases) {
    std::string spelled = c.name;
    for (std::string_view v : c.values) spelled += " " + std::string(v);
    Faults faults = before;
    EXPECT_NE(SetFault(faults, c.name, c.values), "") << spelled;
    EXPECT_EQ(faults, before) << spelled;
  }
}

// What DescribeFaults says, given back as control commands, makes the same
// faults.
TEST(SimFaultNames, DescriptionSpellsTheFaultsBack) {
  const Faults all = With([](Faults& f) {
    f.silent = f.select_only = f.garbage = f.drop_crlf = f.bare_echo = true;
    f.late = milliseconds(250);
    f.late_r = milliseconds(120);
    f.noise_bytes = 2;
    f.noise_byte = 0x0A;
    f.split_parts = 3;
    f.split_gap = milliseconds(40);
    f.status_pause = milliseconds(250);
    f.status_pause_after = 18;
  });
  const std::string text = DescribeFaults(all);
  EXPECT_EQ(text,
            "silent, select-only, garbage, drop-crlf, bare-echo, late 250, late-r 120, noise 2, "
            "noise-byte 0A, split 3 40, status-pause 250 18");
  Line line(FastLine());
  line.AddController(1);
  std::string_view rest = text;
  while (!rest.empty()) {
    const std::string_view item = rest.substr(0, rest.find(", "));
    rest.remove_prefix(std::min(rest.size(), item.size() + 2));
    EXPECT_EQ(RunControlCommand(line, "fault 1 " + std::string(item)), "ok") << item;
  }
  EXPECT_EQ(line.GetFaults(1), all);
  EXPECT_EQ(DescribeFaults(Faults()), "none");
}

TEST(SimControl, CommandsChangeTheRunningLine) {
  Line line(FastLine());
  line.AddController(1);
  line.AddController(2);
  struct Step {
    std::string command;
    std::string reply;
    Faults faults1;
    Faults faults2;
  };
  const Faults late_r = With([](Faults& f) { f.late_r = milliseconds(120); });
  const Faults late_r_noise = With([](Faults& f) {
    f.late_r = milliseconds(120);
    f.noise_byte = 0xFF;
  });
  const Faults noise = With([](Faults& f) { f.noise_byte = 0xFF; });
  const std::vector<Step> steps = {
      {"fault 1 late-r 120", "ok", late_r, Faults()},
      {"  fault\t1 noise-byte FF  ", "ok", late_r_noise, Faults()},
      {"faults 1", "faults 01: late-r 120, noise-byte FF", late_r_noise, Faults()},
      {"faults 2", "faults 02: none", late_r_noise, Faults()},
      {"fault 1 late-r off", "ok", noise, Faults()},
      {"fault all noise-byte FF", "ok", noise, noise},
      {"fault all clear", "ok", Faults(), Faults()},
      {"fault 2 select-only on", "ok", Faults(), With([](Faults& f) { f.select_only = true; })},
      {"fault 2 select-only off", "ok", Faults(), Faults()},
      {"fault 2 continuous 30", "ok", Faults(),
       With([](Faults& f) { f.continuous = milliseconds(30); })},
      // A power cycle is carried out, not kept.
      {"fault all power-cycle 1", "ok", Faults(),
       With([](Faults& f) { f.continuous = milliseconds(30); })},
      {"fault 2 continuous off", "ok", Faults(), Faults()},
      {"local-echo on", "ok", Faults(), Faults()},
      {"local-echo loud", "error: local-echo on|off", Faults(), Faults()},
      // Refused: nothing changes.
      {"fault 3 silent", "error: no controller 3 on the line", Faults(), Faults()},
      {"fault 100 silent", "error: no controller 100 on the line", Faults(), Faults()},
      {"fault 1 loud", "error: unknown fault loud", Faults(), Faults()},
      {"fault 1 late", "error: bad value: late", Faults(), Faults()},
      {"fault all split 0", "error: bad value: split 0", Faults(), Faults()},
      {"fault 1", "error: fault N|all NAME [VALUE...] or fault N|all clear", Faults(), Faults()},
      {"fault 1 clear now", "error: unknown fault clear", Faults(), Faults()},
      {"faults all", "error: faults N, N on the line", Faults(), Faults()},
      {"overlaps 1", "error: overlaps takes no value", Faults(), Faults()},
      {"", "error: empty command", Faults(), Faults()},
      {"reboot", "error: unknown command reboot", Faults(), Faults()},
      {"overlaps", "overlaps 0, sending 0, paused 0, pending 0", Faults(), Faults()},
  };
  for (const Step& s : steps) {
    SCOPED_TRACE(s.command);
    EXPECT_EQ(RunControlCommand(line, s.command), s.reply);
    EXPECT_EQ(line.GetFaults(1), s.faults1);
    EXPECT_EQ(line.GetFaults(2), s.faults2);
  }
}

TEST(SimControl, OverlapsUnplugAndReplugByCommand) {
  Line line(FastLine(LineMode::kRs232));
  line.AddController(1);
  {
    TestPort port(line.LinkPath());
    port.Send("READ\r\nREAD\r\n");
    port.ReadUntil("kg\r\nST,GS,+0000.00kg\r\n", kAnswerTimeout);
    EXPECT_EQ(RunControlCommand(line, "overlaps"), "overlaps 1, sending 0, paused 0, pending 1");
    EXPECT_EQ(RunControlCommand(line, "clear-trace"), "ok");
    EXPECT_EQ(RunControlCommand(line, "overlaps"), "overlaps 0, sending 0, paused 0, pending 0");
    EXPECT_EQ(RunControlCommand(line, "unplug"), "ok");
    EXPECT_FALSE(line.Plugged());
    EXPECT_TRUE(port.HungUp());
  }
  EXPECT_EQ(RunControlCommand(line, "replug"), "ok");
  TestPort port(line.LinkPath());
  EXPECT_EQ(port.Ask("READ\r\n"), "ST,GS,+0000.00kg\r\n");
}

// Replies of the control input, gathered as they come.
class Replies {
 public:
  void Add(std::string_view reply) {
    std::lock_guard lock(mutex_);
    replies_.emplace_back(reply);
    changed_.notify_all();
  }
  std::vector<std::string> WaitFor(std::size_t count) {
    std::unique_lock lock(mutex_);
    changed_.wait_for(lock, kAnswerTimeout, [&] { return replies_.size() >= count; });
    return replies_;
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<std::string> replies_;
};

void WriteTo(const std::string& path, std::string_view text) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CLOEXEC);
  ASSERT_GE(fd, 0) << path;
  EXPECT_EQ(::write(fd, text.data(), text.size()), ssize_t(text.size()));
  ::close(fd);
}

// A FIFO that one writer after the other can use; comments and blank lines
// get no reply; the FIFO is gone with the control input.
TEST(SimControlInput, CommandsThroughAFifo) {
  std::string dir = "/tmp/tk571-control-XXXXXX";
  ASSERT_NE(::mkdtemp(dir.data()), nullptr);
  const std::string fifo = dir + "/control";
  Line line(FastLine());
  line.AddController(1);
  Replies replies;
  {
    ControlInput input(
        fifo, [&line](std::string_view command) { return RunControlCommand(line, command); },
        [&replies](std::string_view reply) { replies.Add(reply); });
    EXPECT_EQ(::access(fifo.c_str(), F_OK), 0);
    WriteTo(fifo, "# switch the noise on\n\nfault 1 noise-byte 00\r\n");
    EXPECT_EQ(replies.WaitFor(1), std::vector<std::string>{"ok"});
    WriteTo(fifo, "fault 1 late-r 80\nfaults 1\nfault 1 frobnicate\n");
    WriteTo(fifo, std::string(5000, 'x') + "\nfaults 1\n");
    EXPECT_EQ(
        replies.WaitFor(6),
        (std::vector<std::string>{
            "ok", "ok", "faults 01: late-r 80, noise-byte 00", "error: unknown fault frobnicate",
            "error: line longer than 4096 characters", "faults 01: late-r 80, noise-byte 00"}));
  }
  EXPECT_NE(::access(fifo.c_str(), F_OK), 0);
  ::rmdir(dir.c_str());
}

TEST(SimControlInput, AFailingCommandDoesNotEndTheInput) {
  std::string dir = "/tmp/tk571-control-XXXXXX";
  ASSERT_NE(::mkdtemp(dir.data()), nullptr);
  const std::string fifo = dir + "/control";
  Replies replies;
  {
    ControlInput input(
        fifo,
        [](std::string_view command) -> std::string {
          if (command == "boom") throw std::runtime_error("boom failed");
          return "did " + std::string(command);
        },
        [&replies](std::string_view reply) { replies.Add(reply); });
    WriteTo(fifo, "boom\nnext\n");
    EXPECT_EQ(replies.WaitFor(2), (std::vector<std::string>{"error: boom failed", "did next"}));
  }
  ::rmdir(dir.c_str());
}

TEST(SimControlInput, APathThatCannotBeMadeThrows) {
  Line line(FastLine());
  auto make = [&] {
    ControlInput input(
        "/nonexistent-dir/control", [](std::string_view) { return std::string(); },
        [](std::string_view) {});
  };
  EXPECT_THROW(make(), std::system_error);
}

}  // namespace
}  // namespace tk571::sim
