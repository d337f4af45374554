#include "device_watch.h"

#include <nlohmann/json.hpp>

namespace tk571::host {
namespace {

constexpr int kLinkNormal = 1;
constexpr int kLinkPaused = 5;
constexpr uint32_t kLinkScanMs = 200;

const char* LinkWords(int status) {
  switch (status) {
    case 0:
      return "never answered";
    case 1:
      return "normal";
    case 2:
      return "disturbed";
    case 3:
      return "faulty";
    case 4:
      return "line broken";
    case 5:
      return "paused";
    default:
      return "not reported";
  }
}

constexpr const char* kNotExposed =
    "Requests, answers, time-outs and discarded bytes per device are not exposed by the "
    "driver's entry points; the run log's stop report holds the read and write totals and "
    "time-outs of the whole line.";

}  // namespace

DeviceWatch::DeviceWatch(const std::map<uint32_t, int>& device_of_tag, uint32_t first_free_id)
    : device_of_tag_(device_of_tag) {
  for (const auto& [id, device] : device_of_tag_) ++figures_[device].tags;
  uint32_t id = first_free_id;
  for (const auto& [device, figures] : figures_) {
    TagDefinition tag;
    tag.id = id;
    tag.name = tag.name_gbk = "#link" + std::to_string(device);
    tag.address = tag.address_gbk = "DEVICELINK" + std::to_string(device);
    tag.kind = TK571_VALUE_FLOAT;
    tag.scan_ms = kLinkScanMs;
    tag.initial = -1.0;  // so that the first status, 0, is reported too
    link_tags_.push_back(tag);
    link_device_[id++] = device;
  }
}

void DeviceWatch::Report(const TTagValueRec& record) {
  if (const auto link = link_device_.find(record.TagID); link != link_device_.end()) {
    if (record.ValueType != TK571_VALUE_FLOAT) return;
    DeviceFigures& f = figures_[link->second];
    const int status = static_cast<int>(record.Value.Float);
    if (f.link == kLinkNormal && status > kLinkNormal && status < kLinkPaused) ++f.link_faults;
    if (status == kLinkNormal) f.answered = true;
    f.link = status;
    return;
  }
  const auto tag = device_of_tag_.find(record.TagID);
  if (tag == device_of_tag_.end()) return;
  DeviceFigures& f = figures_[tag->second];
  ++f.reports;
  if (record.Quality != TK571_QUALITY_GOOD) ++f.bad_reports;
}

bool DeviceWatch::AllAnswered() const {
  for (const auto& [device, f] : figures_)
    if (!f.answered) return false;
  return true;
}

std::vector<int> DeviceWatch::Silent() const {
  std::vector<int> silent;
  for (const auto& [device, f] : figures_)
    if (!f.answered) silent.push_back(device);
  return silent;
}

std::string DeviceRanges(const std::vector<int>& devices) {
  std::string text;
  for (std::size_t i = 0; i < devices.size();) {
    std::size_t j = i;
    while (j + 1 < devices.size() && devices[j + 1] == devices[j] + 1) ++j;
    if (!text.empty()) text += " ";
    text += std::to_string(devices[i]);
    if (j > i) text += "-" + std::to_string(devices[j]);
    i = j + 1;
  }
  return text;
}

std::vector<std::string> FormatFigures(const std::map<int, DeviceFigures>& figures) {
  std::vector<std::string> lines = {"Statistics per device (as the host saw them):"};
  for (const auto& [device, f] : figures) {
    lines.push_back("  device " + std::to_string(device) + ": " + std::to_string(f.tags) +
                    " tags, " + std::to_string(f.reports) + " value reports (" +
                    std::to_string(f.bad_reports) + " not good), " +
                    (f.answered ? "answered" : "never answered") + ", link " + LinkWords(f.link) +
                    ", " + std::to_string(f.link_faults) + " link faults");
  }
  lines.push_back(std::string("  ") + kNotExposed);
  return lines;
}

std::vector<std::string> FormatFiguresJson(const std::map<int, DeviceFigures>& figures) {
  std::vector<std::string> lines;
  for (const auto& [device, f] : figures) {
    nlohmann::ordered_json object;
    object["type"] = "statistics";
    object["device"] = device;
    object["tags"] = f.tags;
    object["reports"] = f.reports;
    object["bad_reports"] = f.bad_reports;
    object["answered"] = f.answered;
    object["link"] = f.link;
    object["link_text"] = LinkWords(f.link);
    object["link_faults"] = f.link_faults;
    object["requests"] = nullptr;  // not exposed by the entry points
    object["timeouts"] = nullptr;
    object["discarded_bytes"] = nullptr;
    lines.push_back(object.dump());
  }
  return lines;
}

}  // namespace tk571::host
