#include "platform/win32/serial_dcb.h"

namespace tk571::platform::win32 {
namespace {

BYTE ParityCode(SerialParity parity) {
  switch (parity) {
    case SerialParity::kOdd:
      return ODDPARITY;
    case SerialParity::kEven:
      return EVENPARITY;
    case SerialParity::kMark:
      return MARKPARITY;
    case SerialParity::kSpace:
      return SPACEPARITY;
    case SerialParity::kNone:
      break;
  }
  return NOPARITY;
}

BYTE StopBitsCode(SerialStopBits stop_bits) {
  switch (stop_bits) {
    case SerialStopBits::kOneAndHalf:
      return ONE5STOPBITS;
    case SerialStopBits::kTwo:
      return TWOSTOPBITS;
    case SerialStopBits::kOne:
      break;
  }
  return ONESTOPBIT;
}

void ApplyFlow(SerialFlow flow, DCB& dcb) {
  switch (flow) {
    case SerialFlow::kNone:
      // No flow control: of the flag word only binary mode stays.
      dcb.fOutxCtsFlow = FALSE;
      dcb.fOutxDsrFlow = FALSE;
      dcb.fDtrControl = DTR_CONTROL_DISABLE;
      dcb.fDsrSensitivity = FALSE;
      dcb.fTXContinueOnXoff = FALSE;
      dcb.fOutX = FALSE;
      dcb.fInX = FALSE;
      dcb.fErrorChar = FALSE;
      dcb.fNull = FALSE;
      dcb.fRtsControl = RTS_CONTROL_DISABLE;
      break;
    case SerialFlow::kRtsCts:
      dcb.fOutxCtsFlow = TRUE;
      dcb.fRtsControl = RTS_CONTROL_HANDSHAKE;
      break;
    case SerialFlow::kDsrDtr:
      dcb.fOutxDsrFlow = TRUE;
      dcb.fDtrControl = DTR_CONTROL_HANDSHAKE;
      break;
    case SerialFlow::kXonXoff:
      dcb.fOutX = TRUE;
      dcb.fInX = TRUE;
      break;
    case SerialFlow::kKeep:
      break;
  }
}

}  // namespace

bool ApplyToDcb(const SerialSettings& s, DCB& dcb) {
  if (s.data_bits < 4 || s.data_bits > 8) return false;
  dcb.DCBlength = sizeof(DCB);
  dcb.BaudRate = s.baud;
  dcb.ByteSize = s.data_bits;
  dcb.Parity = ParityCode(s.parity);
  dcb.StopBits = StopBitsCode(s.stop_bits);
  dcb.XonChar = static_cast<char>(s.xon_char);
  dcb.XoffChar = static_cast<char>(s.xoff_char);
  dcb.XonLim = kXonLimit;
  dcb.XoffLim = kXoffLimit;
  dcb.fBinary = TRUE;
  ApplyFlow(s.flow, dcb);
  dcb.fParity = s.parity_check && s.parity != SerialParity::kNone ? TRUE : FALSE;
  dcb.fDsrSensitivity = FALSE;
  dcb.fTXContinueOnXoff = FALSE;
  dcb.fErrorChar = FALSE;
  dcb.fNull = FALSE;
  // Left on by an earlier program, the first line error would stop all
  // reads and writes until the error is cleared; the port counts errors
  // instead.
  dcb.fAbortOnError = FALSE;
  return true;
}

DCB WithPlainFrame(DCB dcb) {
  dcb.ByteSize = 8;
  dcb.Parity = NOPARITY;
  dcb.fParity = FALSE;
  return dcb;
}

}  // namespace tk571::platform::win32
