#include "ui/device_test_logic.h"

#include <strings.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "engine/guarded.h"
#include "engine/run_log.h"
#include "platform/clock.h"
#include "platform/gbk.h"

namespace tk571::ui {

namespace {

constexpr uint32_t kTestTagScanMs = 500;
// A scan time of 0 would make the window's timer spin.
constexpr int kMinTimerIntervalMs = 10;
constexpr std::size_t kAddressMax = sizeof(TTagInfo::Address) - 1;

// OLE variant type codes of the initial values the test tag carries.
constexpr uint16_t kVariantInt32 = 3;
constexpr uint16_t kVariantBool = 11;
constexpr uint16_t kVariantGbkString = 0x100;

const char* const kControlNames[32] = {"NUL", "SOH", "STX", "ETX", "EOT", "ENQ", "ACK", "BEL",
                                       "BS",  "HT",  "LF",  "VT",  "FF",  "CR",  "SO",  "SI",
                                       "DLE", "DC1", "DC2", "DC3", "DC4", "NAK", "SYN", "ETB",
                                       "CAN", "EM",  "SUB", "ESC", "FS",  "GS",  "RS",  "US"};

void SetField(char* field, std::size_t size, const std::string& text) {
  std::memset(field, 0, size);
  std::memcpy(field, text.data(), std::min(text.size(), size - 1));
}

std::string Trim(const std::string& text) {
  const auto first = text.find_first_not_of(" \t\r\n");
  if (first == std::string::npos) return std::string();
  const auto last = text.find_last_not_of(" \t\r\n");
  return text.substr(first, last - first + 1);
}

std::string ValueText(uint8_t data_kind, const TagValue& value) {
  switch (data_kind) {
    case TK571_VALUE_FLOAT:
      return FloatText(value.AsDouble());
    case TK571_VALUE_BOOL:
      return value.AsBoolean() ? TK571_GBK("开") : TK571_GBK("关");
    case TK571_VALUE_STRING:
      return value.AsText();
    default:
      return "[Other Type]";
  }
}

}  // namespace

// Bytes below 32 are never part of a GBK double-byte character (trail bytes
// start at 0x40), so the request is named byte by byte.
std::string ShownBytes(const std::string& gbk) {
  std::string out;
  for (const char c : gbk) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 32) {
      out += '<';
      out += kControlNames[byte];
      out += '>';
    } else {
      out += c;
    }
  }
  return out;
}

std::string OneLine(const std::string& gbk) {
  std::string out;
  for (std::size_t i = 0; i < gbk.size(); ++i) {
    if (gbk[i] == '\r' && i + 1 < gbk.size() && gbk[i + 1] == '\n') ++i;
    out += gbk[i] == '\r' || gbk[i] == '\n' ? ' ' : gbk[i];
  }
  return Trim(out);
}

TTagInfo DefaultTestTag(const TDevicePDB& block) {
  TTagInfo tag{};
  tag.TagID = 0;
  SetField(tag.Name, sizeof(tag.Name), "AI");
  const uint32_t device = block.DeviceNumber(block.FirstUsedEntry());
  SetField(tag.Address, sizeof(tag.Address), "READ" + std::to_string(device) + ":1");
  tag.DataKind = TK571_VALUE_FLOAT;
  tag.ScanTime = kTestTagScanMs;
  return tag;
}

DeviceTestSession::DeviceTestSession(TestDriver& driver) : driver_(driver) {
  view_.debug_caption = TK571_GBK("高级调试↓");
  view_.pause_caption = TK571_GBK("暂停");
}

std::string DeviceTestSession::UnsupportedText() {
  return TK571_GBK("暂时不支持测试功能！");
}

std::string DeviceTestSession::PortBusyText() {
  return TK571_GBK("串口被其他应用程序占用!");
}

std::vector<std::string> DeviceTestSession::TakeAlerts() {
  std::vector<std::string> out;
  out.swap(alerts_);
  return out;
}

bool DeviceTestSession::Begin(const TDevicePDB& block) {
  block_ = block;
  // The address names a device the driver will accept: pick it from the
  // block as the driver's start will see it.
  block_.Normalize();
  tag_ = DefaultTestTag(block_);
  const TestDriver::StartResult start = driver_.Start(tag_, block_);
  message_ = start.message;
  if (!start.started) return false;
  TestObject* object = driver_.Object();
  if (!object) return false;
  if (object->TagCount() <= 0) {
    alerts_.push_back(UnsupportedText());
    return false;
  }
  view_.height = kCompactHeight;
  polling_ = false;
  view_.address = object->TagAddress(0);
  const uint8_t kind = object->TagDataKind(0);
  view_.type_group = kind <= TK571_VALUE_STRING ? kind : 0;
  view_.timer_interval_ms = std::max(object->ScanTime(), kMinTimerIntervalMs);
  view_.timer_running = true;
  polling_ = true;
  view_.sys_msg = message_;
  return true;
}

bool DeviceTestSession::ReadStep() {
  TestObject* object = driver_.Object();
  if (!object || !object->ReadStep()) return false;
  answered_ = true;
  return true;
}

bool DeviceTestSession::ProbeSilently() {
  uint32_t last = platform::Tick();
  for (int step = 0; step < kProbeSteps; ++step) {
    for (uint32_t waited = platform::TicksSince(last); waited <= kProbeSpacingMs;
         waited = platform::TicksSince(last))
      platform::SleepMs(kProbeSpacingMs + 1 - waited);
    last = platform::Tick();
    if (ReadStep()) return true;
  }
  return answered_;
}

void DeviceTestSession::ApplyPendingAsk(TestObject& object) {
  if (!ask_pending_ || !object.HasCurrentCommand()) return;
  object.SetCurrentRequest(pending_ask_);
  ask_pending_ = false;
}

void DeviceTestSession::TimerTick() {
  if (!polling_) return;
  TestObject* object = driver_.Object();
  if (!object) return;
  message_ = object->TakeMessage();
  view_.comm_msg = message_;
  for (int row = 1; row < kGridRows; ++row) view_.grid[static_cast<std::size_t>(row)] = Row{};
  if (object->TagCount() <= 0) return;
  // Rows beyond the grid are not shown; the header row is never written.
  for (int32_t j = 0; j < object->TagCount() && j + 1 < kGridRows; ++j) {
    Row& row = view_.grid[static_cast<std::size_t>(j + 1)];
    row[0] = object->TagAddress(j);
    row[1] = ValueText(object->TagDataKind(j), object->TagValueAt(j));
  }
  const std::vector<std::string> requests = object->ReadRequests();
  for (std::size_t k = 0; k < requests.size() && k + 2 < kGridRows; ++k)
    view_.grid[k + 2][3] = requests[k];
  ApplyPendingAsk(*object);
  if (object->HasCurrentCommand()) {
    const bool is_write = object->CurrentIsWrite();
    view_.grid[1][2] = is_write ? TK571_GBK("写标签") : TK571_GBK("读标签");
    if (is_write) view_.write_request = object->CurrentRequest();
    view_.grid[1][3] = object->CurrentRequest();
    view_.answer = object->CurrentResponse();
  }
  ReadStep();
}

void DeviceTestSession::Restart() {
  polling_ = false;
  // The running object still holds the serial port: stop it before the new
  // one opens the port.
  driver_.StopObject();
  const TestDriver::StartResult start = driver_.Start(tag_, block_);
  message_ = start.message;
  if (start.started) {
    view_.write_enabled = true;
    polling_ = true;
  } else if (start.port_unavailable) {
    alerts_.push_back(PortBusyText());
  }
}

void DeviceTestSession::SetReadChecked(bool checked) {
  view_.read_checked = checked;
  view_.address = driver_.NormalAddress(block_, view_.address);
  if (checked && driver_.Object()) {
    TTagInfo own{};
    own.TagID = 0;
    SetField(own.Name, sizeof(own.Name), "Y0.0");
    SetField(own.Address, sizeof(own.Address), view_.address.substr(0, kAddressMax));
    own.DataKind = static_cast<uint8_t>(view_.type_group);
    switch (view_.type_group) {
      case TK571_VALUE_FLOAT:
        own.InitialValue.vt = kVariantInt32;
        own.InitialValue.Data.Int32 = -1;
        break;
      case TK571_VALUE_BOOL:
        own.InitialValue.vt = kVariantBool;
        own.InitialValue.Data.Bool = 0;
        break;
      default: {
        static const char kEmptyText[] = "";
        own.InitialValue.vt = kVariantGbkString;
        own.InitialValue.Data.Pointer = kEmptyText;
        break;
      }
    }
    own.ScanTime = kOwnTagScanMs;
    tag_ = own;
  }
  Restart();
  view_.sys_msg = message_;
}

TagValue DeviceTestSession::ValueToWrite() const {
  const std::string text = Trim(view_.write_value);
  if (strcasecmp(text.c_str(), "TRUE") == 0) return TagValue::Boolean(true);
  if (strcasecmp(text.c_str(), "FALSE") == 0) return TagValue::Boolean(false);
  if (text.empty()) return TagValue::Double(0.0);
  char* end = nullptr;
  errno = 0;
  const double number = std::strtod(text.c_str(), &end);
  const bool whole = end && *end == '\0' && errno == 0;
  return TagValue::Double(whole ? number : 0.0);
}

void DeviceTestSession::SetWriteChecked(bool checked) {
  view_.write_checked = checked;
  if (!checked) return;
  TestObject* object = driver_.Object();
  // An object reading the test's own address may hold only write-only tags:
  // it has no command before the write gives it one.
  if (!object || (!object->HasCurrentCommand() && !view_.read_checked)) return;
  if (!view_.read_checked) SetReadChecked(true);
  const TagValue value = ValueToWrite();
  object = driver_.Object();
  if (!object || object->TagCount() <= 0) return;
  // The grid shows the outcome on the next tick.
  CatchAll([&] { return object->Write(static_cast<uint32_t>(object->TagCount() - 1), value); });
}

void DeviceTestSession::AddressEdited(const std::string& text) {
  view_.address = text;
  if (view_.read_checked) SetReadChecked(false);
  if (view_.write_checked) SetWriteChecked(false);
  view_.write_enabled = false;
}

void DeviceTestSession::WriteValueEdited(const std::string& text) {
  view_.write_value = text;
  if (view_.write_checked) SetWriteChecked(false);
}

void DeviceTestSession::AskClicked() {
  TestObject* object = driver_.Object();
  if (!object || !object->HasCurrentCommand()) return;
  if (view_.read_checked) SetReadChecked(false);
  if (view_.write_checked) SetWriteChecked(false);
  // The controller takes a request only at its CR LF, and a line edit
  // cannot hold a line end: the window adds it.
  std::string request = view_.ask + "\r\n";
  if (request.size() > kAskMax) request.resize(kAskMax);
  // Unchecking the read may have restarted the driver, whose new object has
  // no command yet: the request then waits for its first one.
  pending_ask_ = request;
  ask_pending_ = true;
  if (TestObject* now = driver_.Object()) ApplyPendingAsk(*now);
}

void DeviceTestSession::DebugClicked() {
  if (!driver_.Object()) return;
  view_.debug_shown = !view_.debug_shown;
  view_.pause_enabled = !view_.debug_shown;
  view_.pause_caption = TK571_GBK("暂停");
  view_.timer_running = true;
  if (view_.debug_shown) {
    view_.debug_caption = TK571_GBK("自动检测↑");
    view_.height = kDebugHeight;
  } else {
    view_.debug_caption = TK571_GBK("高级调试↓");
    view_.height = kCompactHeight;
    tag_ = DefaultTestTag(block_);
    Restart();
    view_.sys_msg = message_;
  }
  if (view_.read_checked) SetReadChecked(false);
}

void DeviceTestSession::PauseClicked() {
  view_.timer_running = !view_.timer_running;
  view_.pause_caption = view_.timer_running ? TK571_GBK("暂停") : TK571_GBK("继续");
}

bool DeviceTestSession::Close() {
  driver_.StopObject();
  polling_ = false;
  view_.timer_running = false;
  return answered_;
}

}  // namespace tk571::ui
