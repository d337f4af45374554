// The bytes a Linux terminal delivers with input marking (PARMRK): a byte
// that came with a parity or framing error arrives as FF 00 x, a break as
// FF 00 00 and a real FF as FF FF. The decoder removes the marks, drops the
// bytes that came with an error and counts them. A mark cut apart by the end
// of one read is completed by the next.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/line_errors.h"

namespace tk571::platform {

class ParmrkDecoder {
 public:
  // The terminal does not say whether a marked byte had a wrong parity bit
  // or no stop bit; on a line without parity it can only be the stop bit.
  explicit ParmrkDecoder(bool line_has_parity = false) : has_parity_(line_has_parity) {}

  // Decodes `count` bytes in place; returns how many good bytes are left at
  // the front of `bytes`. Errors are added to `errors`.
  std::size_t Decode(uint8_t* bytes, std::size_t count, LineErrors& errors);
  // Forgets a mark in progress (the input was discarded).
  void Reset() { state_ = State::kData; }

 private:
  enum class State : uint8_t { kData, kMark, kMarkZero };

  bool has_parity_;
  State state_ = State::kData;
};

}  // namespace tk571::platform
