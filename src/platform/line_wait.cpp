#include "platform/line_wait.h"

#include "platform/clock.h"

namespace tk571::platform {

namespace {

thread_local LinePause* t_pause = nullptr;

}  // namespace

LinePause* ThreadLinePause() {
  return t_pause;
}

void SetThreadLinePause(LinePause* pause) {
  t_pause = pause;
}

bool LineClosing() {
  return t_pause && t_pause->Closing();
}

bool AwaitBytes(const SerialPort& port, uint32_t ms) {
  if (LinePause* pause = ThreadLinePause()) return pause->AwaitBytes(port, ms);
  LineWaiter waiter;
  return GetClock().WaitLine(waiter, &port, Tick(), ms) == LineWake::kReadable;
}

}  // namespace tk571::platform
