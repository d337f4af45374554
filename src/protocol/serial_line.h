// What the protocol layer needs from a serial port. The driver's port class
// is adapted to this; tests drive the protocol through a scripted line.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "config/device_pdb.h"
#include "platform/clock.h"
#include "platform/serial_port.h"

namespace tk571 {

class SerialLine {
 public:
  virtual ~SerialLine() = default;

  // Opens (or reopens) the port named by the block with its line settings,
  // in text mode. `message` receives the port's status text, "ComN打开成功"
  // or "ComN不存在或被其它程序占用！".
  virtual bool Open(const TDevicePDB& block, std::string& message) = 0;
  virtual void Close() = 0;
  // The device behind the port and what became of the last attempt to open
  // it, in plain words, for the run log.
  virtual std::string Diagnosis() const { return std::string(); }
  // Identifies the physical line (the device path behind "ComN"); two objects
  // that share a line share the controllers' selection state.
  virtual std::string LineKey() const = 0;

  // Clears the receive buffer, discards what the port has queued and sends at
  // most the first 255 characters of `text`. False when they did not all
  // reach the port (for instance while the port is gone and not reopened).
  virtual bool Send(const std::string& text) = 0;
  // Appends whatever the port has queued to the receive buffer, without
  // waiting, and returns the whole buffer.
  virtual const std::string& Receive() = 0;
  virtual void ClearBuffer() = 0;
  // Reads what the line carried after the last answer. While bytes keep
  // arriving, waits until the line has been quiet for 3.5 character times of
  // its format, at most `limit_ms`: on a two-wire line a request sent into a
  // controller's unfinished answer collides with it. `stray_in` tells that
  // bytes outside an answer are already in the buffer, so the quiet counts
  // from the last of them, not from now. For `guard_ms` from now the line
  // counts as busy whatever it carries: after an answer that never came, the
  // controller may still send it, and on a line of controllers that answer
  // without their address it would pass for the answer to the next request.
  // Returns the bytes read; they belong to no request.
  virtual std::string Settle(uint32_t limit_ms, bool stray_in, uint32_t guard_ms) = 0;
  // Waits until more bytes may be read or `ms` passed. A line that cannot
  // tell when bytes arrive waits the whole time.
  virtual void AwaitBytes(uint32_t ms) { platform::SleepMs(ms); }
  // The device whose bytes a line thread waits for; null for a line without one.
  virtual const platform::SerialPort* Port() const { return nullptr; }
  // Parity, framing, overrun and break errors counted since the last call
  // (since Open for the first). Bytes that came with an error never reach
  // the receive buffer; the rest of an answer received while any was
  // counted cannot be trusted.
  virtual platform::LineErrors TakeLineErrors() { return {}; }
  // The run log's text for framing errors while no answer is understood,
  // naming the likely causes (see TCommClass::FramingDiagnosis).
  virtual std::string FramingDiagnosis(uint32_t /*framing_errors*/) const { return {}; }

  // Milliseconds the line takes to carry `chars` characters at its rate and
  // format, rounded up; 0 for a line without a rate.
  virtual uint32_t TransmitMs(std::size_t /*chars*/) const { return 0; }
  // How many bytes at the front of the receive buffer arrived before the
  // request sent last could have ended: no answer to it can begin there.
  virtual std::size_t EarlyBytes() const { return 0; }
  // Requests whose local echo was taken off the receive buffer so far.
  virtual uint32_t EchoesStripped() const { return 0; }
  // True once after the port was opened anew (Open, or Send reconnecting).
  virtual bool TakeReopened() { return false; }
};

// 3.5 character times of the line's format in whole milliseconds, at least 1.
uint32_t QuietGapMs(uint32_t baud, uint32_t bits_per_character);

// The driver's serial port behind the interface above.
std::unique_ptr<SerialLine> MakeSerialLine();

}  // namespace tk571
