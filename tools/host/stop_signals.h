// Ctrl-C, SIGTERM and a resized terminal, taken by the host's own thread.
// They are blocked before the driver library is loaded, so every thread the
// driver starts inherits the mask and none of them can take such a signal:
// the kernel keeps it pending until the host reads it from a signalfd, which
// also wakes the host's poll. A handler would run on whichever thread the
// kernel picks; under ThreadSanitizer one picked that way can be lost, and
// the host then ran on after Ctrl-C.
#pragma once

#include <signal.h>

namespace tk571::host {

class StopSignals {
 public:
  // Blocks the signals in the calling thread and ignores SIGPIPE.
  StopSignals();
  ~StopSignals();
  StopSignals(const StopSignals&) = delete;
  StopSignals& operator=(const StopSignals&) = delete;

  // Readable when a signal is pending; -1 when the system gave none, and
  // then the signals are not blocked.
  int Fd() const { return fd_; }
  // The signal that asked for the end, 0 while none did.
  int Stop();
  // True once after each resize of the terminal.
  bool TakeResized();

  // While the configuration dialog runs its own event loop, where the host
  // never looks: a stop signal ends the process at once (nothing is saved
  // before the dialog closes).
  class EndTheProcess {
   public:
    EndTheProcess();
    ~EndTheProcess();
    EndTheProcess(const EndTheProcess&) = delete;
    EndTheProcess& operator=(const EndTheProcess&) = delete;

   private:
    struct sigaction old_int_ {};
    struct sigaction old_term_ {};
  };

 private:
  void Read();

  sigset_t old_mask_{};
  int fd_ = -1;
  int stop_ = 0;
  bool resized_ = false;
};

}  // namespace tk571::host
