// Errors the receiver of a serial line saw: bytes that arrived with a wrong
// parity bit or without their stop bit, bytes lost because the receiver was
// not read in time, and breaks (the line held at space for longer than a
// character). A byte that came with an error is never delivered as data.
#pragma once

#include <cstdint>

namespace tk571::platform {

struct LineErrors {
  uint32_t parity = 0;
  uint32_t framing = 0;
  uint32_t overrun = 0;  // the UART's and the driver's queue
  uint32_t breaks = 0;

  uint32_t Total() const { return parity + framing + overrun + breaks; }
  LineErrors& operator+=(const LineErrors& more) {
    parity += more.parity;
    framing += more.framing;
    overrun += more.overrun;
    breaks += more.breaks;
    return *this;
  }
  bool operator==(const LineErrors&) const = default;
};

// The errors counted between two readings of the same counters.
inline LineErrors operator-(const LineErrors& later, const LineErrors& earlier) {
  return {later.parity - earlier.parity, later.framing - earlier.framing,
          later.overrun - earlier.overrun, later.breaks - earlier.breaks};
}

}  // namespace tk571::platform
