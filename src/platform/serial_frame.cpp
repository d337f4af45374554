#include <string>

#include "platform/serial_port.h"

namespace tk571::platform {

SerialFrame FrameOf(const SerialSettings& settings) {
  return {settings.data_bits, settings.parity, settings.stop_bits};
}

std::string FrameName(const SerialFrame& frame) {
  static constexpr char kParityLetters[] = "NOEMS";
  std::string name = std::to_string(frame.data_bits);
  name += kParityLetters[static_cast<int>(frame.parity)];
  switch (frame.stop_bits) {
    case SerialStopBits::kOne:
      return name + "1";
    case SerialStopBits::kOneAndHalf:
      return name + "1.5";
    case SerialStopBits::kTwo:
      break;
  }
  return name + "2";
}

}  // namespace tk571::platform
