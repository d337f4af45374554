// The tk571-sim program as an end-to-end test drives it: faults switched
// through its control FIFO, replies on its stdout, overlap marks in its trace
// file and the count at exit.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "sim/line_fixture.h"
#include "sim/test_port.h"

#ifndef TK571_SIM_PROGRAM
#error "TK571_SIM_PROGRAM must name the tk571-sim program"
#endif

extern char** environ;

namespace tk571::sim {
namespace {

using std::chrono::milliseconds;
using namespace test;

// The program with its stdout and stderr on pipes; stopped with SIGTERM.
class Program {
 public:
  explicit Program(std::vector<std::string> args) {
    int out[2], err[2];
    if (::pipe2(out, O_CLOEXEC) != 0 || ::pipe2(err, O_CLOEXEC) != 0) return;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, err[1], STDERR_FILENO);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    args.insert(args.begin(), TK571_SIM_PROGRAM);
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    if (posix_spawn(&pid_, TK571_SIM_PROGRAM, &actions, nullptr, argv.data(), environ) != 0) {
      pid_ = -1;
    }
    posix_spawn_file_actions_destroy(&actions);
    ::close(out[1]);
    ::close(err[1]);
    out_ = out[0];
    err_ = err[0];
  }
  ~Program() {
    Stop();
    ::close(out_);
    ::close(err_);
  }

  bool Running() const { return pid_ > 0; }

  // One line of stdout without its newline; empty after `timeout`.
  std::string ReadLine(milliseconds timeout = kAnswerTimeout) {
    return ReadLineFrom(out_, out_text_, timeout);
  }

  // Stops the program and returns what it wrote to stderr.
  std::string Stop() {
    if (pid_ > 0) {
      ::kill(pid_, SIGTERM);
      int status = 0;
      ::waitpid(pid_, &status, 0);
      pid_ = -1;
      for (;;) {
        const std::string line = ReadLineFrom(err_, err_text_, kAnswerTimeout);
        if (line.empty()) break;
        stderr_ += line + "\n";
      }
    }
    return stderr_;
  }

 private:
  static std::string ReadLineFrom(int fd, std::string& text, milliseconds timeout) {
    const auto deadline = Clock::now() + timeout;
    for (;;) {
      const std::size_t newline = text.find('\n');
      if (newline != std::string::npos) {
        std::string line = text.substr(0, newline);
        text.erase(0, newline + 1);
        return line;
      }
      const auto left = std::chrono::duration_cast<milliseconds>(deadline - Clock::now());
      pollfd p{fd, POLLIN, 0};
      if (left.count() <= 0 || ::poll(&p, 1, int(left.count())) <= 0) return {};
      char buffer[256];
      const ssize_t n = ::read(fd, buffer, sizeof buffer);
      if (n <= 0) return {};
      text.append(buffer, std::size_t(n));
    }
  }

  pid_t pid_ = -1;
  int out_ = -1;
  int err_ = -1;
  std::string out_text_;
  std::string err_text_;
  std::string stderr_;
};

void Command(const std::string& fifo, const std::string& command) {
  std::ofstream(fifo) << command << "\n";
}

TEST(SimProgram, ControlFifoSwitchesFaultsAndTheTraceMarksOverlaps) {
  std::string dir = "/tmp/tk571-program-XXXXXX";
  ASSERT_NE(::mkdtemp(dir.data()), nullptr);
  const std::string fifo = dir + "/control";
  const std::string trace = dir + "/trace";
  {
    Program program({"--mode", "rs232", "--baud", "115200", "--seed", "571", "--control", fifo,
                     "--trace", trace});
    ASSERT_TRUE(program.Running());
    const std::string path = program.ReadLine();
    ASSERT_FALSE(path.empty()) << program.Stop();
    TestPort port(path);
    EXPECT_EQ(port.Ask("READ\r\n"), "ST,GS,+0000.00kg\r\n");

    Command(fifo, "fault 1 noise-byte FF");
    EXPECT_EQ(program.ReadLine(), "ok");
    EXPECT_EQ(port.Ask("READ\r\n"), "\xFFST,GS,+0000.00kg\r\n");
    port.Send("READ\r\nREAD\r\n");
    port.ReadUntil("kg\r\n\xFFST,GS,+0000.00kg\r\n", kAnswerTimeout);
    Command(fifo, "overlaps");
    EXPECT_EQ(program.ReadLine(), "overlaps 1, sending 0, paused 0, pending 1");
    Command(fifo, "fault 1 bogus");
    EXPECT_EQ(program.ReadLine(), "error: unknown fault bogus");
    Command(fifo, "fault 1 clear");
    EXPECT_EQ(program.ReadLine(), "ok");
    EXPECT_EQ(port.Ask("READ\r\n"), "ST,GS,+0000.00kg\r\n");

    EXPECT_NE(program.Stop().find("tk571-sim: overlaps 1, sending 0, paused 0, pending 1"),
              std::string::npos);
  }
  std::stringstream text;
  text << std::ifstream(trace).rdbuf();
  const std::string lines = text.str();
  const std::size_t mark = lines.find(" !! overlap 1: 01 pending, 0 of 19 bytes sent\n");
  ASSERT_NE(mark, std::string::npos) << lines;
  // The request that overlapped follows its mark.
  EXPECT_EQ(lines.find(" >> 52 45 41 44 0D 0A\n", mark), lines.find('\n', mark) + 10) << lines;
  // The program removed the FIFO it made.
  EXPECT_NE(::access(fifo.c_str(), F_OK), 0);
  ::unlink(trace.c_str());
  ::rmdir(dir.c_str());
}

}  // namespace
}  // namespace tk571::sim
