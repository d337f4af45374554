// The device test without its widgets: the silent probe and every decision
// of the test window (TSampleTest). It starts and steps driver objects only
// through TestDriver, so the same logic runs against the real entry points
// and against a fake in the tests.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "config/device_pdb.h"
#include "engine/tag_value.h"
#include "tk571/driver.h"

namespace tk571::ui {

// A started driver object as the test sees it. Texts are GBK.
class TestObject {
 public:
  virtual ~TestObject() = default;
  virtual int32_t TagCount() const = 0;
  virtual int32_t ScanTime() const = 0;
  virtual std::string TagAddress(int32_t position) const = 0;
  virtual uint8_t TagDataKind(int32_t position) const = 0;
  virtual TagValue TagValueAt(int32_t position) const = 0;
  // The pending message, cleared.
  virtual std::string TakeMessage() = 0;
  virtual std::vector<std::string> ReadRequests() const = 0;
  virtual bool HasCurrentCommand() const = 0;
  virtual bool CurrentIsWrite() const = 0;
  virtual std::string CurrentRequest() const = 0;
  virtual std::string CurrentResponse() const = 0;
  virtual void SetCurrentRequest(const std::string& request) = 0;
  // One step of the run cycle; true only when the step finished a read that
  // the controller answered.
  virtual bool ReadStep() = 0;
  virtual bool Write(uint32_t tag_id, const TagValue& value) = 0;
};

// The driver's entry points, for the calling thread.
class TestDriver {
 public:
  struct StartResult {
    bool started = false;
    std::string message;
    // The object could not open its serial port.
    bool port_unavailable = false;
  };

  virtual ~TestDriver() = default;
  // IniDriver with one tag. Replaces (and destroys) the thread's object.
  virtual StartResult Start(const TTagInfo& tag, TDevicePDB& block) = 0;
  // The thread's object as it is now; null when there is none.
  virtual TestObject* Object() = 0;
  // FreeDriver: stops the thread's object, which frees its serial port.
  virtual void StopObject() = 0;
  // TagEdAddr with checking: the address in its normal form.
  virtual std::string NormalAddress(const TDevicePDB& block, const std::string& address) = 0;
};

// The tag the test starts with: READ of the first configured device, channel
// 1, an analog value scanned every 500 ms.
TTagInfo DefaultTestTag(const TDevicePDB& block);

// A request or answer with its control characters shown by name (<CR>).
std::string ShownBytes(const std::string& gbk);
// A message on one line: CR LF, CR and LF each become one blank; blanks
// and tabs at either end go.
std::string OneLine(const std::string& gbk);

class DeviceTestSession {
 public:
  static constexpr int kGridRows = 100;
  static constexpr int kGridColumns = 4;
  static constexpr int kProbeSteps = 6;
  static constexpr uint32_t kProbeSpacingMs = 200;
  static constexpr int kCompactHeight = 256;
  static constexpr int kDebugHeight = 464;
  static constexpr uint32_t kOwnTagScanMs = 500;
  static constexpr std::size_t kAskMax = 255;

  using Row = std::array<std::string, kGridColumns>;

  // What the window shows; the widget copies it into its controls.
  struct View {
    std::vector<Row> grid = std::vector<Row>(kGridRows);
    std::string sys_msg;
    std::string comm_msg;
    std::string address;
    int type_group = 0;
    bool read_checked = false;
    bool write_checked = false;
    bool write_enabled = false;
    std::string write_value;
    std::string write_request;  // wStrMsg
    std::string ask;
    std::string answer;  // AnswerMsg
    bool debug_shown = false;
    std::string debug_caption;
    bool pause_enabled = true;
    std::string pause_caption;
    bool timer_running = false;
    int timer_interval_ms = 500;
    int height = kCompactHeight;
  };

  explicit DeviceTestSession(TestDriver& driver);

  // Starts the driver on a copy of `block`. False when the test cannot run;
  // `alert` then holds the message box text, if one is due.
  bool Begin(const TDevicePDB& block);
  // The silent probe: up to six read steps 200 ms apart, ending at the first
  // answered one.
  bool ProbeSilently();

  const View& view() const { return view_; }
  bool answered() const { return answered_; }
  bool polling() const { return polling_; }
  const TTagInfo& test_tag() const { return tag_; }
  const TDevicePDB& test_block() const { return block_; }
  // Message boxes the window is to show, oldest first; taking them clears them.
  std::vector<std::string> TakeAlerts();

  // Events of the window.
  void TimerTick();
  void SetReadChecked(bool checked);
  void SetWriteChecked(bool checked);
  void AddressEdited(const std::string& text);
  void TypeChosen(int position) { view_.type_group = position; }
  void WriteValueEdited(const std::string& text);
  void AskEdited(const std::string& text) { view_.ask = text; }
  void AskClicked();
  void DebugClicked();
  void PauseClicked();
  // The window closes: true for an OK result (the device answered).
  bool Close();

  static std::string UnsupportedText();
  static std::string PortBusyText();

 private:
  bool ReadStep();
  void Restart();
  void ApplyPendingAsk(TestObject& object);
  TagValue ValueToWrite() const;

  TestDriver& driver_;
  TDevicePDB block_;
  TTagInfo tag_{};
  View view_;
  bool polling_ = false;
  bool answered_ = false;
  std::string message_;
  std::vector<std::string> alerts_;
  // A typed request waiting for a command to carry it.
  std::string pending_ask_;
  bool ask_pending_ = false;
};

}  // namespace tk571::ui
