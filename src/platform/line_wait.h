// The line thread's sleep: it ends when the serial port has bytes to read,
// when another thread wakes it, or when its time has passed. A POSIX system
// polls the port's descriptor and an event descriptor; Windows waits on the
// port's overlapped read and an event object.
#pragma once

#include <cstdint>

namespace tk571::platform {

class SerialPort;

enum class LineWake : uint8_t { kReadable, kWoken, kTimedOut };

// A timeout that never passes.
inline constexpr uint32_t kWaitForever = 0xFFFFFFFFu;

class LineWaiter {
 public:
  LineWaiter();
  ~LineWaiter();
  LineWaiter(const LineWaiter&) = delete;
  LineWaiter& operator=(const LineWaiter&) = delete;

  // From any thread. A wake given while nobody waits ends the next wait.
  void Wake();
  // Waits for bytes on `port` (null or closed: none), a wake or `timeout_ms`
  // of the system's time. A port that reports an error instead of bytes is
  // not watched for the rest of this wait.
  LineWake Wait(const SerialPort* port, uint32_t timeout_ms);
  // Bytes are waiting on `port` (null or closed: none).
  static bool HasBytes(const SerialPort* port);

 private:
  intptr_t event_;
};

// What a line thread installs for itself, so that the pauses and reply waits
// of the code it runs release the driver object to the host and end at once
// when the line stops.
class LinePause {
 public:
  virtual ~LinePause() = default;
  virtual void Pause(uint32_t ms) = 0;
  // True when bytes arrived on `port` before `ms` passed.
  virtual bool AwaitBytes(const SerialPort& port, uint32_t ms) = 0;
  // The line is being stopped.
  virtual bool Closing() = 0;
};

// The calling thread's pause, or null off a line thread.
LinePause* ThreadLinePause();
void SetThreadLinePause(LinePause* pause);

// The calling line thread is being stopped: nothing more goes out on its
// line, so a dialogue cut short leaves the controller where it stood.
bool LineClosing();

// Waits until `port` has bytes or `ms` passed, through the calling thread's
// pause when it has one, else through the clock. True when bytes arrived.
bool AwaitBytes(const SerialPort& port, uint32_t ms);

}  // namespace tk571::platform
