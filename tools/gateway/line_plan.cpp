#include "line_plan.h"

#include <algorithm>
#include <cctype>
#include <map>
#include <optional>
#include <set>

#include "tag_kinds.h"
#include "text_codec.h"
#include "tokens.h"
#include "topics.h"
#include "write_policy.h"

namespace tk571::gateway {
namespace {

constexpr int kFirstTagId = 1;
constexpr uint8_t kAccessWriteOnly = 1;
constexpr uint8_t kAccessRead = 0;
constexpr const char* kWeightUnit = "kg";
// A set-point's digits on the controller's display: it takes whole numbers
// 0..9999.
constexpr double kSetPointMin = 0;
constexpr double kSetPointMax = 9999;

// One row of the driver's GetTagAddrList, decoded.
struct DriverKind {
  std::string description;  // UTF-8
  uint8_t value_type = 0;
  uint8_t access = 2;
  double upper = 0;
  double lower = 0;
};

std::string LengthPrefixed(const uint8_t* field) {
  return std::string(reinterpret_cast<const char*>(field + 1), field[0]);
}

std::map<std::string, DriverKind> DriverKinds(host::DriverLibrary& library) {
  int32_t count = 0;
  library.GetTagAddrList(0, &count, nullptr);
  std::vector<TTagAddrDesc> rows(static_cast<std::size_t>(std::max<int32_t>(count, 0)));
  if (!rows.empty()) library.GetTagAddrList(0, &count, rows.data());
  std::map<std::string, DriverKind> kinds;
  for (const TTagAddrDesc& row : rows) {
    kinds[LengthPrefixed(row.Name)] = DriverKind{host::DisplayText(LengthPrefixed(row.Description)),
                                                 row.ValueType, row.Access, row.Upper, row.Lower};
  }
  return kinds;
}

// TagEdAddr's normal form "TYPE<device>:<channel>.<bit>", e.g. READ2:3.-1.
struct NormalAddress {
  std::string type;
  int device = -1;
  int channel = -1;
};

std::optional<NormalAddress> SplitNormalForm(const std::string& text) {
  std::size_t digits = 0;
  while (digits < text.size() && !(text[digits] == '-' || std::isdigit(uint8_t(text[digits])))) {
    ++digits;
  }
  const std::size_t colon = text.find(':', digits);
  const std::size_t dot = text.find('.', colon);
  if (colon == std::string::npos || dot == std::string::npos) return std::nullopt;
  const auto device = host::ParseInteger(text.substr(digits, colon - digits));
  const auto channel = host::ParseInteger(text.substr(colon + 1, dot - colon - 1));
  if (!device || !channel) return std::nullopt;
  return NormalAddress{text.substr(0, digits), static_cast<int>(*device),
                       static_cast<int>(*channel)};
}

// The driver's verdict on one address, in the driver's normal form.
struct AddressCheck {
  bool valid = false;
  std::string normal;
  std::string message;  // UTF-8
};

AddressCheck CheckAddress(host::DriverLibrary& library, host::ParameterBlock& block,
                          const std::string& gbk_address) {
  std::string own = gbk_address;
  char* address = own.data();
  char* raw_message = nullptr;
  AddressCheck check;
  check.valid = library.TagEdAddr(block.data(), &address, 0, &raw_message) != 0;
  const host::HostString normal(address == own.data() ? nullptr : address);
  const host::HostString message(raw_message);
  check.normal = std::string(normal.View());
  check.message = host::DisplayText(message.View());
  return check;
}

// The ComN each line's driver opens: the configured number, or for a device
// path the lowest number no line names.
void AssignPorts(std::vector<LinePlan>* plans) {
  std::set<int> used;
  for (LinePlan& plan : *plans) {
    const std::string& port = plan.config.port;
    if (port.front() != '/') {
      plan.com = static_cast<int>(host::ParseInteger(port.substr(3)).value_or(0));
      used.insert(plan.com);
    }
  }
  int next = 1;
  for (LinePlan& plan : *plans) {
    if (plan.config.port.front() != '/') continue;
    while (used.count(next) != 0) ++next;
    plan.com = next;
    plan.device_path = plan.config.port;
    used.insert(next);
  }
}

host::TagDefinition Definition(uint32_t id, const std::string& driver_name,
                               const std::string& address, uint8_t kind) {
  host::TagDefinition tag;
  tag.id = id;
  tag.name = driver_name.substr(0, host::kMaxNameBytes);
  tag.name_gbk = tag.name;  // topic names are ASCII
  tag.address = address;
  tag.address_gbk = address;
  tag.kind = kind;
  return tag;
}

class Planner {
 public:
  Planner(const WriteSettings& writes, host::DriverLibrary& library,
          std::vector<std::string>* errors)
      : writes_(writes), library_(library), kinds_(DriverKinds(library)), errors_(errors) {}

  void Plan(LinePlan* plan) {
    next_id_ = kFirstTagId;
    plan->block.assign(TK571_PDB_SIZE, 0);
    library_.FullPDB(plan->block.data());
    host::BlockOptions options = plan->config.block;
    options.port = plan->com;
    host::ApplyBlockOptions(options, plan->block);

    Control line_link = LinkControl(ControlRole::kLineLink, plan->config.name, -1, "COMMLINK");
    line_link.title.en = "link status of the line (1 normal)";
    plan->controls.push_back(std::move(line_link));
    for (const DeviceConfig& device : plan->config.devices) {
      const std::string word = "DEVICELINK" + std::to_string(device.number);
      Control link = LinkControl(ControlRole::kDeviceLink, device.name, device.number, word);
      link.title.en = "link status (1 normal)";
      plan->controls.push_back(std::move(link));
      Control text = LinkControl(ControlRole::kDeviceLinkText, device.name, device.number, word);
      text.name = "link_text";
      text.tag.kind = TK571_VALUE_STRING;
      text.title.en = "link status text";
      plan->controls.push_back(std::move(text));
      for (const TagConfig& tag : device.tags) {
        if (std::optional<Control> control = TagControl(device, tag, plan->block)) {
          plan->controls.push_back(std::move(*control));
        }
      }
    }
  }

 private:
  Control LinkControl(ControlRole role, const std::string& device, int number,
                      const std::string& word) {
    Control control;
    control.role = role;
    control.device = device;
    control.device_number = number;
    control.name = "link";
    control.type = role == ControlRole::kLineLink ? "COMMLINK" : "DEVICELINK";
    control.tag = Definition(next_id_++, device + ".link", word, TK571_VALUE_FLOAT);
    control.tag.scan_ms = 500;
    return control;
  }

  void Error(const std::string& where, const std::string& what) {
    errors_->push_back(where + ": " + what);
  }

  std::optional<Control> TagControl(const DeviceConfig& device, const TagConfig& tag,
                                    host::ParameterBlock& block) {
    const std::string where = tag.json_path + "/address";
    const std::string quoted = "\"" + tag.address + "\"";
    const std::optional<std::string> gbk = host::Utf8ToGbk(tag.address);
    if (!gbk) {
      Error(where, quoted + " has characters outside code page 936");
      return std::nullopt;
    }
    const AddressCheck check = CheckAddress(library_, block, *gbk);
    const std::optional<NormalAddress> normal = SplitNormalForm(check.normal);
    if (!check.valid || !normal) {
      Error(where, quoted + " is not a tag address of the driver" +
                       (check.message.empty() ? "" : " (" + check.message + ")"));
      return std::nullopt;
    }
    if (normal->device != device.number) {
      Error(where, quoted + " names device " + std::to_string(normal->device) + ", not device " +
                       std::to_string(device.number) + " it is listed under");
      return std::nullopt;
    }
    const KindInfo* kind = FindKind(normal->type);
    if (kind == nullptr) {
      Error(where, quoted + " is of type " + normal->type + ", which the gateway does not serve");
      return std::nullopt;
    }
    if (normal->channel < 1 || normal->channel > kind->channels) {
      Error(where, quoted + ": the " + normal->type + " tags of a controller are channel 1" +
                       (kind->channels > 1 ? " to " + std::to_string(kind->channels) : ""));
      return std::nullopt;
    }
    const auto driver_kind = kinds_.find(normal->type);
    // M_MEDIUM is read and written like the other set-points but is not in
    // the driver's kind list.
    const DriverKind info = driver_kind == kinds_.end() ? DriverKind{} : driver_kind->second;
    if (tag.writable.value_or(false) && info.access == kAccessRead) {
      Error(tag.json_path + "/writable", quoted + " cannot be written; the driver only reads it");
      return std::nullopt;
    }

    Control control;
    control.device = device.name;
    control.device_number = device.number;
    control.name = tag.name;
    control.type = normal->type;
    control.channel = normal->channel;
    const uint8_t value_kind = info.value_type == 1 ? TK571_VALUE_BOOL : TK571_VALUE_FLOAT;
    control.tag = Definition(next_id_++, device.name + "." + tag.name, check.normal, value_kind);
    control.tag.scan_ms = tag.scan_ms;
    control.command = info.access == kAccessWriteOnly;
    control.write_permission =
        WritePermission(writes_, device, tag, control.command, info.access != kAccessRead);
    control.writable = control.write_permission == WriteVerdict::kAllowed;
    const bool weight = value_kind == TK571_VALUE_FLOAT;
    control.unit = !tag.unit.empty() ? tag.unit : weight ? kWeightUnit : "";
    control.title.en = !tag.title.en.empty() ? tag.title.en : KindTitle(*kind, normal->channel);
    control.title.zh = !tag.title.zh.empty() ? tag.title.zh
                       : kind->channels > 1 && !info.description.empty()
                           ? info.description + " M" + std::to_string(normal->channel)
                           : info.description;
    control.has_range = weight && info.upper > info.lower;
    control.min = info.lower;
    control.max = info.upper;
    if (weight && info.access != kAccessRead) {
      if (!SetPointRange(tag, &control)) return std::nullopt;
    } else if (tag.min || tag.max) {
      Error(tag.json_path + "/" + (tag.min ? "min" : "max"),
            quoted + ": only a set-point has limits for writes");
      return std::nullopt;
    }
    if (info.access == kAccessWriteOnly) {
      control.initial_payload = "0";  // a command switch the driver reports only once written
    } else if (normal->type == "READ" || normal->type == "ENQ") {
      control.tag.initial = -1.0;  // so that the first reading is a change, even 0
    } else {
      control.initial_payload = "0";  // a set-point of the driver's recipe, 0 until set or read
    }
    return control;
  }

  // The configured limits, within what the controller takes.
  bool SetPointRange(const TagConfig& tag, Control* control) {
    control->has_range = true;
    control->min = tag.min.value_or(kSetPointMin);
    control->max = tag.max.value_or(kSetPointMax);
    const std::string range = NumberText(kSetPointMin) + ".." + NumberText(kSetPointMax);
    for (const auto& [key, value] : {std::pair{"min", control->min}, {"max", control->max}}) {
      if (value < kSetPointMin || value > kSetPointMax) {
        Error(tag.json_path + "/" + key,
              NumberText(value) + " is outside what the controller takes (" + range + ")");
        return false;
      }
    }
    if (control->min > control->max) {
      Error(tag.json_path + "/min", "min is above max");
      return false;
    }
    return true;
  }

  const WriteSettings& writes_;
  host::DriverLibrary& library_;
  std::map<std::string, DriverKind> kinds_;
  std::vector<std::string>* errors_;
  uint32_t next_id_ = kFirstTagId;
};

}  // namespace

std::vector<LinePlan> PlanLines(const GatewayConfig& config, host::DriverLibrary& library,
                                std::vector<std::string>* errors) {
  std::vector<LinePlan> plans;
  for (const LineConfig& line : config.lines) plans.push_back(LinePlan{line, 0, "", {}, {}});
  AssignPorts(&plans);
  Planner planner(config.writes, library, errors);
  for (LinePlan& plan : plans) planner.Plan(&plan);
  return plans;
}

}  // namespace tk571::gateway
