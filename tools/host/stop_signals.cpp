#include "stop_signals.h"

#include <pthread.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include "host_app.h"

namespace tk571::host {

namespace {

sigset_t StopSet() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGTERM);
  return set;
}

sigset_t TakenSet() {
  sigset_t set = StopSet();
  sigaddset(&set, SIGWINCH);
  return set;
}

void ExitOnSignal(int signal_number) {
  static constexpr char kText[] = "tk571-host: configure ended by a signal\n";
  const ssize_t ignored = write(STDERR_FILENO, kText, sizeof kText - 1);
  (void)ignored;
  _exit(kExitSignal + signal_number);
}

}  // namespace

StopSignals::StopSignals() {
  signal(SIGPIPE, SIG_IGN);
  const sigset_t taken = TakenSet();
  pthread_sigmask(SIG_BLOCK, &taken, &old_mask_);
  fd_ = signalfd(-1, &taken, SFD_NONBLOCK | SFD_CLOEXEC);
  // Without the descriptor a blocked signal would never be seen: the
  // signals keep their default action and end the process.
  if (fd_ < 0) pthread_sigmask(SIG_SETMASK, &old_mask_, nullptr);
}

StopSignals::~StopSignals() {
  if (fd_ >= 0) close(fd_);
  pthread_sigmask(SIG_SETMASK, &old_mask_, nullptr);
}

void StopSignals::Read() {
  signalfd_siginfo info{};
  while (fd_ >= 0 && read(fd_, &info, sizeof info) == sizeof info) {
    const int signal_number = static_cast<int>(info.ssi_signo);
    if (signal_number == SIGWINCH) {
      resized_ = true;
    } else if (stop_ == 0) {
      stop_ = signal_number;
    }
  }
}

int StopSignals::Stop() {
  Read();
  return stop_;
}

bool StopSignals::TakeResized() {
  Read();
  const bool resized = resized_;
  resized_ = false;
  return resized;
}

StopSignals::EndTheProcess::EndTheProcess() {
  struct sigaction action {};
  sigemptyset(&action.sa_mask);
  action.sa_handler = ExitOnSignal;
  sigaction(SIGINT, &action, &old_int_);
  sigaction(SIGTERM, &action, &old_term_);
  // A signal that is already pending ends the process here.
  const sigset_t stop = StopSet();
  pthread_sigmask(SIG_UNBLOCK, &stop, nullptr);
}

StopSignals::EndTheProcess::~EndTheProcess() {
  const sigset_t stop = StopSet();
  pthread_sigmask(SIG_BLOCK, &stop, nullptr);
  sigaction(SIGINT, &old_int_, nullptr);
  sigaction(SIGTERM, &old_term_, nullptr);
}

}  // namespace tk571::host
