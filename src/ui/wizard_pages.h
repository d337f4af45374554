// What the wizard's pages do, without their widgets: each page's buttons and
// edits become calls on these classes, which change the wizard session. All
// texts are GBK; the widgets convert them for display.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "ui/driver_info.h"
#include "ui/wizard_session.h"

namespace tk571::ui {

inline constexpr int kLastDeviceNumber = kDeviceCount - 1;

// Device number as typed: an integer (0 when it is none) clamped to 0..99.
// Every read of a device-number edit goes through here, so no entry outside
// the block's hundred is ever addressed.
int ClampDeviceNumber(std::string_view text);
// An integer edit: the whole text as a decimal integer, or `fallback`.
long long ParseInteger(std::string_view text, long long fallback);
// Drop-down position of a device type code, -1 when the drop-down has none.
int TypePositionOfCode(uint8_t type_code);

// The caption a wizard page adds to the driver's name in its title;
// empty for the numbers that end the wizard.
const std::string& PageCaption(uint8_t page);

// Texts composed from the driver's labels.
std::string PageTitle(const DriverInfo& info, std::string_view caption);
std::string WelcomeHeading(const DriverInfo& info);
std::string VersionMessage(const DriverInfo& info);
std::string SingleCreateCaption(const DriverInfo& info);
std::string MultiCreateCaption(const DriverInfo& info);
std::string DeviceNumberRangeHint(const DriverInfo& info);
std::string TypeDescriptionText(int type_position);
std::string DuplicateNumberMessage(const DriverInfo& info);
// Help files to try, in order; the first that exists is opened.
std::vector<std::string> HelpFileCandidates(const DriverInfo& info);
// The maker's download page for this driver, percent-encoded.
std::string DownloadAddress(const DriverInfo& info);

// Drop-down lists of the serial page and the summary.
const std::vector<std::string>& PortNames();
const std::vector<std::string>& BaudRateTexts();
const std::vector<std::string>& DataBitsChoices();
const std::vector<std::string>& StopBitsTexts();
const std::vector<std::string>& ParityTexts();

// The three lines of the summary's serial settings.
std::vector<std::string> SerialSummaryLines(const TDevicePDB& block);
// The two sentences of the summary's usage box.
std::vector<std::string> UsageLines(const DriverInfo& info);

// Buttons every later page shares.
void GoBack(WizardSession& session);        // 上一步
void CancelWizard(WizardSession& session);  // 取消: ends the wizard, nothing to keep

class StartPageLogic {
 public:
  enum class Choice { kNew, kModify, kBrowse };
  explicit StartPageLogic(WizardSession& session) : session_(session) {}
  void Next(Choice choice);
  // Ends the wizard; an entry emptied by the normalisation still counts as a change.
  void Cancel() { session_.SetNextPage(kPageEnd); }
  // The debug viewer runs from the start page; the wizard ends unless the
  // user goes on from the start page afterwards.
  void OpenDebugViewer() { session_.SetNextPage(kPageEnd); }

 private:
  WizardSession& session_;
};

class CreateModeLogic {
 public:
  enum class Choice { kSingle, kMultiple };
  explicit CreateModeLogic(WizardSession& session) : session_(session) {}
  void Next(Choice choice);

 private:
  WizardSession& session_;
};

class SingleDeviceLogic {
 public:
  explicit SingleDeviceLogic(WizardSession& session) : session_(session) {}
  // The text IDEd shows after the user changed it: bad input gives "0",
  // numbers outside 0..99 their bound; an empty edit stays empty.
  static std::string NormalisedNumberText(std::string_view text);
  // Replaces the device list by the one device typed.
  void Next(std::string_view number_text, int type_position);

 private:
  WizardSession& session_;
};

struct DeviceNode {
  int entry;
  std::string text;
};

class DeviceListLogic {
 public:
  enum class NumberChange { kNoSelection, kUnchanged, kMoved, kDuplicate };

  DeviceListLogic(WizardSession& session, uint8_t own_page) : session_(session), page_(own_page) {}

  // The tree: every used entry as its type name, "：" and its number.
  std::vector<DeviceNode> Nodes() const;
  std::string NodeText(int entry) const;
  // The number IDEd offers after Add and Delete: the first empty entry
  // (searching 0..98), else 99.
  int FirstFreeNumber() const;

  // Returns the number IDEd shows afterwards.
  int Add(std::string_view number_text, int type_position);
  int Delete(int selected_entry);

  // What IDEd and DevTypeEd show for a selected entry.
  int SelectedNumber(int entry) const;
  int SelectedTypePosition(int entry) const;

  // The user typed a number while `selected_entry` (-1 for none) is selected:
  // the device moves to a free number; on success `selected_entry` becomes
  // the new entry. A number in use by another device is refused.
  NumberChange ChangeNumber(int& selected_entry, std::string_view number_text, int type_position);
  void ChangeType(int selected_entry, int type_position);

  void Next();

 private:
  void SetEntryType(int entry, int type_position);

  WizardSession& session_;
  uint8_t page_;
};

class SerialLogic {
 public:
  // The positions and texts the page's controls show at creation.
  struct View {
    int port;
    int baud;
    int data_bits;
    int stop_bits;
    int parity;
    std::string timeout;
    std::string retries;
    std::string modem_init;
  };

  explicit SerialLogic(WizardSession& session) : session_(session) {}
  View Initial() const;

  void SetPort(int position);
  void SetBaud(int position);
  void SetDataBits(int position);
  void SetStopBits(int position);
  void SetParity(int position);
  // Each returns the value stored, for the edit to show.
  int SetTimeout(std::string_view text);
  int SetRetries(std::string_view text, int32_t repeat_budget);
  std::string SetModemInit(std::string_view text);

  void Next();

 private:
  WizardSession& session_;
};

class SummaryLogic {
 public:
  explicit SummaryLogic(WizardSession& session) : session_(session) {}
  void Finish();

 private:
  WizardSession& session_;
};

}  // namespace tk571::ui
