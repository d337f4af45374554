#include "platform/serial_diagnosis.h"
#include "platform/win32/windows_api.h"

namespace tk571::platform {
namespace {

// The system's message in English when it has one, else the bare number.
std::string SystemMessage(int error) {
  char text[256] = {};
  const DWORD length =
      FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                     static_cast<DWORD>(error), MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US), text,
                     sizeof(text), nullptr);
  std::string message(text, length);
  while (!message.empty() && (message.back() == '\n' || message.back() == '\r' ||
                              message.back() == ' ' || message.back() == '.'))
    message.pop_back();
  const std::string number = "Windows error " + std::to_string(error);
  return message.empty() ? number : message + " (" + number + ")";
}

}  // namespace

std::string SerialOpenReason(const std::string&, const SerialOpenOutcome& outcome) {
  switch (outcome.result) {
    case SerialOpenResult::kOpened:
      return "free";
    case SerialOpenResult::kMissing:
      return "does not exist";
    case SerialOpenResult::kNoAccess:
    case SerialOpenResult::kBusy:
    case SerialOpenResult::kHeld:
    case SerialOpenResult::kLocked:
      return "access denied, held by another program";
    case SerialOpenResult::kNotSerial:
      return "not a serial device";
    case SerialOpenResult::kFailed:
      break;
  }
  return "cannot be opened: " + SystemMessage(outcome.error);
}

}  // namespace tk571::platform
