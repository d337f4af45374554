// A program the test runs, with its standard output (and error, when asked)
// in a pipe that the test reads.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

namespace tk571::test {

// A child process; killed when the object goes and it still runs.
class Child {
 public:
  Child(const std::vector<std::string>& argv, const std::vector<std::string>& env,
        const std::string& cwd, bool merge_stderr) {
    int out[2];
    if (pipe2(out, O_CLOEXEC) != 0) return;
    pid_ = fork();
    if (pid_ == 0) {
      dup2(out[1], STDOUT_FILENO);
      if (merge_stderr) dup2(out[1], STDERR_FILENO);
      const int null = open("/dev/null", O_RDONLY);
      dup2(null, STDIN_FILENO);
      if (!cwd.empty() && chdir(cwd.c_str()) != 0) _exit(126);
      for (const std::string& e : env) putenv(const_cast<char*>(e.c_str()));
      std::vector<char*> args;
      for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
      args.push_back(nullptr);
      execv(args[0], args.data());
      _exit(127);
    }
    close(out[1]);
    fd_ = out[0];
  }
  ~Child() {
    if (pid_ > 0 && !reaped_) {
      kill(pid_, SIGKILL);
      Wait();
    }
    if (fd_ >= 0) close(fd_);
  }
  Child(const Child&) = delete;
  Child& operator=(const Child&) = delete;

  pid_t Pid() const { return pid_; }

  // Reads until `text` shows up `times` times in the output, the output ends,
  // or `limit` passes (a guard against a hung child, not a measured time).
  bool ReadUntil(const std::string& text, std::chrono::seconds limit, int times = 1) {
    const auto give_up = std::chrono::steady_clock::now() + limit;
    while (Count(text) < times) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
          give_up - std::chrono::steady_clock::now());
      if (left.count() <= 0) return false;
      pollfd p{fd_, POLLIN, 0};
      if (poll(&p, 1, static_cast<int>(left.count())) <= 0) continue;
      char buffer[4096];
      const ssize_t n = read(fd_, buffer, sizeof buffer);
      if (n <= 0) return Count(text) >= times;
      output_.append(buffer, static_cast<std::size_t>(n));
    }
    return true;
  }
  // Reads everything up to the end of the output and returns the exit code.
  // A child that has not ended within `limit` is killed and -1 returned, with
  // a note at the end of its output: a hang fails its test at once.
  int Finish(std::chrono::seconds limit = std::chrono::seconds(30)) {
    const auto give_up = std::chrono::steady_clock::now() + limit;
    ReadUntil(std::string(1, '\0'), limit);
    for (;;) {
      int status = 0;
      if (waitpid(pid_, &status, WNOHANG) == pid_) {
        reaped_ = true;
        return ExitCode(status);
      }
      if (std::chrono::steady_clock::now() >= give_up) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    kill(pid_, SIGKILL);
    Wait();
    output_ += "\n[still running after " + std::to_string(limit.count()) + " s: killed]\n";
    return -1;
  }
  const std::string& Output() const { return output_; }
  // The exit code once the child has ended, -1 while it runs after `wait`.
  int PollExit(std::chrono::milliseconds wait) {
    ReadUntil(std::string(1, '\0'), std::chrono::seconds(0));
    std::this_thread::sleep_for(wait);
    int status = 0;
    if (waitpid(pid_, &status, WNOHANG) != pid_) return -1;
    reaped_ = true;
    return ExitCode(status);
  }

 private:
  int Count(const std::string& text) const {
    int count = 0;
    for (std::size_t at = output_.find(text); at != std::string::npos;
         at = output_.find(text, at + text.size())) {
      ++count;
    }
    return count;
  }

  static int ExitCode(int status) {
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  }

  int Wait() {
    int status = 0;
    waitpid(pid_, &status, 0);
    reaped_ = true;
    return ExitCode(status);
  }

  pid_t pid_ = -1;
  int fd_ = -1;
  bool reaped_ = false;
  std::string output_;
};

}  // namespace tk571::test
