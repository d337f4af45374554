#include "platform/parmrk_decoder.h"

namespace tk571::platform {

std::size_t ParmrkDecoder::Decode(uint8_t* bytes, std::size_t count, LineErrors& errors) {
  constexpr uint8_t kMarkByte = 0xFF;
  std::size_t kept = 0;
  for (std::size_t i = 0; i < count; ++i) {
    const uint8_t byte = bytes[i];
    switch (state_) {
      case State::kData:
        if (byte == kMarkByte) {
          state_ = State::kMark;
        } else {
          bytes[kept++] = byte;
        }
        break;
      case State::kMark:
        state_ = byte == 0x00 ? State::kMarkZero : State::kData;
        // FF FF is a real FF. The terminal sends nothing else after FF; should
        // it, the byte is kept and the lone FF dropped.
        if (byte != 0x00) bytes[kept++] = byte;
        break;
      case State::kMarkZero:
        if (byte == 0x00) {
          ++errors.breaks;
        } else if (has_parity_) {
          ++errors.parity;
        } else {
          ++errors.framing;
        }
        state_ = State::kData;
        break;
    }
  }
  return kept;
}

}  // namespace tk571::platform
