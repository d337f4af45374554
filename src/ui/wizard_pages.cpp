#include "ui/wizard_pages.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstring>

#include "platform/gbk.h"

namespace tk571::ui {

namespace {

// The maker's download page; the driver's name is passed as "name".
constexpr const char* kDownloadPage = "https://www.example.com/down.asp";
constexpr std::size_t kModemInitMax = pdb_layout::kModemInitMax;
constexpr int kTimeoutMinMs = 10;
constexpr int kTimeoutMaxMs = 60000;
constexpr int kRetriesMax = 10;
constexpr int kRetriesFallback = 2;
// The wizard offers 7 and 8 data bits, stored as codes 3 and 4.
constexpr int kDataBitsCodeOfFirstChoice = 3;

const std::string& Colon() {
  return TK571_GBK("：");
}

std::string Trim(std::string_view text) {
  const auto first = text.find_first_not_of(" \t\r\n");
  if (first == std::string_view::npos) return std::string();
  const auto last = text.find_last_not_of(" \t\r\n");
  return std::string(text.substr(first, last - first + 1));
}

// Cuts GBK text to at most `max` bytes without splitting a double-byte character.
std::string CutGbk(const std::string& text, std::size_t max) {
  std::size_t at = 0;
  while (at < text.size()) {
    const std::size_t width = static_cast<uint8_t>(text[at]) >= 0x81 ? 2 : 1;
    if (at + width > max) break;
    at += width;
  }
  return text.substr(0, std::min(at, text.size()));
}

template <typename T>
const std::string& ItemOr(const std::vector<T>& list, int position, const std::string& other) {
  return position >= 0 && position < static_cast<int>(list.size())
             ? list[static_cast<std::size_t>(position)]
             : other;
}

std::vector<std::string> GbkList(std::initializer_list<const char*> utf8) {
  std::vector<std::string> out;
  for (const char* text : utf8) out.push_back(platform::ToGbk(text));
  return out;
}

}  // namespace

long long ParseInteger(std::string_view text, long long fallback) {
  const std::string trimmed = Trim(text);
  if (trimmed.empty()) return fallback;
  const char* begin = trimmed.data();
  const char* end = begin + trimmed.size();
  if (*begin == '+' && end - begin > 1 && std::isdigit(static_cast<unsigned char>(begin[1])))
    ++begin;
  long long value = 0;
  const auto [ptr, ec] = std::from_chars(begin, end, value);
  if (ec == std::errc::result_out_of_range) return (*begin == '-') ? INT32_MIN : INT32_MAX;
  if (ec != std::errc() || ptr != end) return fallback;
  return value;
}

int ClampDeviceNumber(std::string_view text) {
  return static_cast<int>(std::clamp<long long>(ParseInteger(text, 0), 0, kLastDeviceNumber));
}

int TypePositionOfCode(uint8_t type_code) {
  for (int position = 0; DeviceTypeCodeOfPosition(position) != kEmptyTypeCode; ++position)
    if (DeviceTypeCodeOfPosition(position) == type_code) return position;
  return -1;
}

const std::string& PageCaption(uint8_t page) {
  static const std::string none;
  switch (page) {
    case kPageStart:
      return TK571_GBK("向导：选择操作");
    case kPageStep1:
      return TK571_GBK("向导：选择创建方式");
    case kPageModify:
      return TK571_GBK("向导：修改设备");
    case kPageSingle:
      return TK571_GBK("向导：创建单个设备");
    case kPageMulti:
      return TK571_GBK("向导：创建多个设备");
    case kPageSerial:
      return TK571_GBK("向导：设置串口参数");
    case kPageSummary:
      return TK571_GBK("向导：完成配置");
    default:
      return none;
  }
}

std::string PageTitle(const DriverInfo& info, std::string_view caption) {
  return info.DeviceName + std::string(caption);
}

std::string WelcomeHeading(const DriverInfo& info) {
  return TK571_GBK("欢迎使用") + info.DeviceName + TK571_GBK("配置向导");
}

std::string VersionMessage(const DriverInfo& info) {
  return info.InternalName + "\r\n" + TK571_GBK("版本") + info.FileVersion + "\r\n\r\n" +
         info.FileDescription;
}

std::string SingleCreateCaption(const DriverInfo& info) {
  return TK571_GBK("单个") + info.DevTypeName + TK571_GBK("创建（RS232方式连接）");
}

std::string MultiCreateCaption(const DriverInfo& info) {
  return TK571_GBK("多个") + info.DevTypeName + TK571_GBK("创建（RS485/RS422方式连接）");
}

std::string DeviceNumberRangeHint(const DriverInfo& info) {
  return "    " + info.DeviceName + TK571_GBK("的") + info.DevIDName + TK571_GBK("的取值范围") +
         TK571_GBK("从") + "0" + TK571_GBK("至") + "99";
}

std::string TypeDescriptionText(int type_position) {
  return "   " + DeviceTypeDescription(DeviceTypeCodeOfPosition(type_position));
}

std::string DuplicateNumberMessage(const DriverInfo& info) {
  return info.DevIDName + TK571_GBK("重复,请重新修改!");
}

std::vector<std::string> HelpFileCandidates(const DriverInfo& info) {
  // The names of the original help files come first; a Linux installation
  // may carry the same help as PDF or HTML beside them.
  const std::string dir = info.HostDirectory + "help/";
  std::vector<std::string> out;
  for (const std::string& stem : {platform::FromGbk(info.DeviceName), info.DriverFileStem})
    for (const char* ext : {".chm", ".pdf", ".html"}) out.push_back(dir + stem + ext);
  return out;
}

std::string DownloadAddress(const DriverInfo& info) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string url = std::string(kDownloadPage) + "?name=";
  for (const unsigned char c : platform::FromGbk(info.DeviceName)) {
    if (std::isalnum(c) || std::strchr("-_.~", c)) {
      url += static_cast<char>(c);
    } else {
      url += '%';
      url += kHex[c >> 4];
      url += kHex[c & 15];
    }
  }
  return url;
}

const std::vector<std::string>& PortNames() {
  static const std::vector<std::string> names = [] {
    std::vector<std::string> out;
    for (int i = 1; i <= 16; ++i) out.push_back("COM" + std::to_string(i));
    return out;
  }();
  return names;
}

const std::vector<std::string>& BaudRateTexts() {
  static const std::vector<std::string> texts = {"110",   "300",   "600",    "1200",   "2400",
                                                 "4800",  "9600",  "14400",  "19200",  "38400",
                                                 "56000", "57600", "115200", "128000", "256000"};
  return texts;
}

const std::vector<std::string>& DataBitsChoices() {
  static const std::vector<std::string> texts = GbkList({"7位", "8位"});
  return texts;
}

const std::vector<std::string>& StopBitsTexts() {
  static const std::vector<std::string> texts = GbkList({"1位", "1位半", "2位"});
  return texts;
}

const std::vector<std::string>& ParityTexts() {
  static const std::vector<std::string> texts = GbkList({"无校验", "奇校验", "偶校验"});
  return texts;
}

std::vector<std::string> SerialSummaryLines(const TDevicePDB& block) {
  static const std::vector<std::string> data_bits = GbkList({"4位", "5位", "6位", "7位"});
  static const std::string none;
  std::string baud = ItemOr(BaudRateTexts(), block.BaudIndex(), none);
  if (baud.size() < 7) baud.append(7 - baud.size(), ' ');
  // Mark and space parity are no choices of the wizard; they read as none.
  const std::string& parity = ItemOr(ParityTexts(), block.ParityCode(), ParityTexts()[0]);
  return {
      TK571_GBK("串口") + std::to_string(block.Port() + 1),
      TK571_GBK("\t波特率 = ") + baud + parity,
      TK571_GBK("\t数据位 = ") + ItemOr(data_bits, block.DataBitsCode(), TK571_GBK("8位")) +
          TK571_GBK("    停止位 = ") +
          ItemOr(StopBitsTexts(), block.StopBitsCode(), TK571_GBK("1位")),
  };
}

std::vector<std::string> UsageLines(const DriverInfo& info) {
  const std::string first = info.ProductText.empty()
                                ? TK571_GBK("    每个与上位机相连的")
                                : TK571_GBK("    每个与") + info.ProductText + TK571_GBK("相连的");
  const std::string second = info.ProductText.empty()
                                 ? TK571_GBK("    在上位机的新建标签时，需要在标签主地址中指定")
                                 : TK571_GBK("    在") + info.ProductText +
                                       TK571_GBK("的新建标签时，需要在标签主地址中指定");
  return {
      first + info.DevTypeName + TK571_GBK("在上位机的设备中都有一个唯一的") + info.DevIDName +
          TK571_GBK("。"),
      second + info.DevIDName + TK571_GBK("，从而确定此标签在一个节点设备中") +
          TK571_GBK("属于的哪一个") + info.DevTypeName + TK571_GBK("。"),
  };
}

void GoBack(WizardSession& session) {
  session.Pop();
}

void CancelWizard(WizardSession& session) {
  session.SetNextPage(kPageEnd);
  session.SetModified(false);
}

void StartPageLogic::Next(Choice choice) {
  session_.Push(kPageStart);
  switch (choice) {
    case Choice::kNew:
      session_.SetNextPage(kPageStep1);
      session_.SetModified(true);
      break;
    case Choice::kModify:
      session_.SetNextPage(kPageModify);
      break;
    case Choice::kBrowse:
      session_.SetNextPage(kPageSummary);
      break;
  }
}

void CreateModeLogic::Next(Choice choice) {
  session_.Push(kPageStep1);
  if (choice == Choice::kSingle) {
    session_.Work().SetConnectMode(0);
    session_.SetNextPage(kPageSingle);
  } else {
    session_.Work().SetConnectMode(1);
    session_.SetNextPage(kPageMulti);
  }
}

std::string SingleDeviceLogic::NormalisedNumberText(std::string_view text) {
  if (Trim(text).empty()) return std::string(text);
  const long long typed = ParseInteger(text, 0);
  const int clamped = ClampDeviceNumber(text);
  if (typed == clamped && ParseInteger(text, -1) == typed) return std::string(text);
  return std::to_string(clamped);
}

void SingleDeviceLogic::Next(std::string_view number_text, int type_position) {
  session_.Push(kPageSingle);
  TDevicePDB& work = session_.Work();
  for (int i = 0; i < kDeviceCount; ++i) {
    work.SetDeviceNumber(i, static_cast<uint32_t>(i));
    work.SetTypeCode(i, kEmptyTypeCode);
  }
  const int number = ClampDeviceNumber(number_text);
  work.SetCurrentEntry(static_cast<uint32_t>(number));
  const uint8_t code = DeviceTypeCodeOfPosition(type_position);
  work.SetTypeCode(number, code);
  work.SetTypeName(number, DeviceTypeName(code));
  session_.SetNextPage(kPageSerial);
}

std::vector<DeviceNode> DeviceListLogic::Nodes() const {
  std::vector<DeviceNode> nodes;
  for (int i = 0; i < kDeviceCount; ++i)
    if (session_.Work().TypeCode(i) != kEmptyTypeCode) nodes.push_back({i, NodeText(i)});
  return nodes;
}

std::string DeviceListLogic::NodeText(int entry) const {
  const TDevicePDB& work = session_.Work();
  return work.TypeName(entry) + Colon() + std::to_string(work.DeviceNumber(entry));
}

int DeviceListLogic::FirstFreeNumber() const {
  for (int i = 0; i < kLastDeviceNumber; ++i)
    if (session_.Work().TypeCode(i) == kEmptyTypeCode) return i;
  return kLastDeviceNumber;
}

void DeviceListLogic::SetEntryType(int entry, int type_position) {
  TDevicePDB& work = session_.Work();
  const uint8_t code = DeviceTypeCodeOfPosition(type_position);
  work.SetTypeCode(entry, code);
  work.SetTypeName(entry, DeviceTypeName(code));
  uint8_t* raw = work.data() + pdb_layout::kEntriesOffset +
                 static_cast<std::size_t>(entry) * pdb_layout::kEntrySize;
  raw[pdb_layout::kEntryFlagA] = 0;
  raw[pdb_layout::kEntryFlagB] = 0;
}

int DeviceListLogic::Add(std::string_view number_text, int type_position) {
  SetEntryType(ClampDeviceNumber(number_text), type_position);
  session_.SetModified(true);
  return FirstFreeNumber();
}

int DeviceListLogic::Delete(int selected_entry) {
  if (selected_entry >= 0 && selected_entry < kDeviceCount) {
    TDevicePDB& work = session_.Work();
    work.SetTypeCode(selected_entry, kEmptyTypeCode);
    work.SetTypeName(selected_entry, std::string());
    session_.SetModified(true);
  }
  return FirstFreeNumber();
}

int DeviceListLogic::SelectedNumber(int entry) const {
  return static_cast<int>(session_.Work().DeviceNumber(entry));
}

int DeviceListLogic::SelectedTypePosition(int entry) const {
  return TypePositionOfCode(session_.Work().TypeCode(entry));
}

DeviceListLogic::NumberChange DeviceListLogic::ChangeNumber(int& selected_entry,
                                                            std::string_view number_text,
                                                            int type_position) {
  if (selected_entry < 0 || selected_entry >= kDeviceCount) return NumberChange::kNoSelection;
  const int target = ClampDeviceNumber(number_text);
  // Typing the selected device's own number is no clash with another device.
  if (target == selected_entry) return NumberChange::kUnchanged;
  TDevicePDB& work = session_.Work();
  if (work.TypeCode(target) != kEmptyTypeCode) return NumberChange::kDuplicate;
  work.SetTypeCode(selected_entry, kEmptyTypeCode);
  work.SetTypeName(selected_entry, std::string());
  SetEntryType(target, type_position);
  selected_entry = target;
  work.SetCurrentEntry(static_cast<uint32_t>(work.FirstUsedEntry()));
  session_.SetModified(true);
  return NumberChange::kMoved;
}

void DeviceListLogic::ChangeType(int selected_entry, int type_position) {
  if (selected_entry < 0 || selected_entry >= kDeviceCount) return;
  SetEntryType(selected_entry, type_position);
  session_.SetModified(true);
}

void DeviceListLogic::Next() {
  session_.Push(page_);
  session_.SetNextPage(kPageSerial);
}

SerialLogic::View SerialLogic::Initial() const {
  const TDevicePDB& work = session_.Work();
  return View{work.Port(),
              work.BaudIndex(),
              work.DataBitsCode() - kDataBitsCodeOfFirstChoice,
              work.StopBitsCode(),
              work.ParityCode(),
              std::to_string(work.CommTimeoutMs()),
              std::to_string(work.WriteRetries()),
              work.ModemInit()};
}

// Positions come from the drop-downs; one outside a list (none selected)
// changes nothing.
void SerialLogic::SetPort(int position) {
  if (position < 0 || position >= static_cast<int>(PortNames().size())) return;
  session_.Work().SetPort(static_cast<uint8_t>(position));
  session_.SetModified(true);
}

void SerialLogic::SetBaud(int position) {
  if (position < 0 || position >= static_cast<int>(BaudRateTexts().size())) return;
  session_.Work().SetBaudIndex(static_cast<uint8_t>(position));
  session_.SetModified(true);
}

void SerialLogic::SetDataBits(int position) {
  if (position < 0 || position >= static_cast<int>(DataBitsChoices().size())) return;
  session_.Work().SetDataBitsCode(static_cast<uint8_t>(position + kDataBitsCodeOfFirstChoice));
  session_.SetModified(true);
}

void SerialLogic::SetStopBits(int position) {
  if (position < 0 || position >= static_cast<int>(StopBitsTexts().size())) return;
  session_.Work().SetStopBitsCode(static_cast<uint8_t>(position));
  session_.SetModified(true);
}

void SerialLogic::SetParity(int position) {
  if (position < 0 || position >= static_cast<int>(ParityTexts().size())) return;
  session_.Work().SetParityCode(static_cast<uint8_t>(position));
  session_.SetModified(true);
}

int SerialLogic::SetTimeout(std::string_view text) {
  const int value =
      static_cast<int>(std::clamp<long long>(ParseInteger(text, 0), kTimeoutMinMs, kTimeoutMaxMs));
  session_.Work().SetCommTimeoutMs(static_cast<uint16_t>(value));
  session_.SetModified(true);
  return value;
}

int SerialLogic::SetRetries(std::string_view text, int32_t repeat_budget) {
  long long value = ParseInteger(text, kRetriesFallback);
  if (value > kRetriesMax) {
    value = kRetriesMax;
  } else if (value < repeat_budget) {
    value = repeat_budget;
  }
  // The field is one byte: whatever the budget, nothing outside 0..10 is stored.
  value = std::clamp<long long>(value, 0, kRetriesMax);
  session_.Work().SetWriteRetries(static_cast<uint8_t>(value));
  session_.SetModified(true);
  return static_cast<int>(value);
}

std::string SerialLogic::SetModemInit(std::string_view text) {
  const std::string value = CutGbk(Trim(text), kModemInitMax);
  session_.Work().SetModemInit(value);
  return value;
}

void SerialLogic::Next() {
  session_.Push(kPageSerial);
  session_.SetNextPage(kPageSummary);
}

void SummaryLogic::Finish() {
  session_.SetNextPage(kPageEnd);
  session_.CommitToHost();
}

}  // namespace tk571::ui
