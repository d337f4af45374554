// The devices of a run as the host sees them through the entry points: a
// DEVICELINK tag per device (added to the host's tags when the tag file has
// none, and not printed) tells whether the device answered, and the value
// reports of its tags are counted.
#pragma once

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "tag_file.h"
#include "tk571/driver.h"

namespace tk571::host {

// The figures a host can have of one device.
struct DeviceFigures {
  int tags = 0;
  unsigned reports = 0;      // value reports of its tags
  unsigned bad_reports = 0;  // of them with a quality other than good
  int link = -1;             // last link status 0..5, -1 before the first report
  bool answered = false;     // the link status was 1 (normal) at least once
  unsigned link_faults = 0;  // changes from normal to a fault status
};

class DeviceWatch {
 public:
  // `device_of_tag`: the device of each tag id that names one. Link tags for
  // the devices get ids from `first_free_id` on; `LinkTags` holds them.
  DeviceWatch(const std::map<uint32_t, int>& device_of_tag, uint32_t first_free_id);

  const std::vector<TagDefinition>& LinkTags() const { return link_tags_; }
  bool IsLinkTag(uint32_t id) const { return link_device_.count(id) != 0; }
  // Counts a report; link tags move the device's link status.
  void Report(const TTagValueRec& record);

  bool Empty() const { return figures_.empty(); }
  bool AllAnswered() const;
  std::vector<int> Silent() const;
  const std::map<int, DeviceFigures>& Figures() const { return figures_; }

 private:
  std::map<uint32_t, int> device_of_tag_;
  std::map<uint32_t, int> link_device_;
  std::vector<TagDefinition> link_tags_;
  std::map<int, DeviceFigures> figures_;
};

// "1 2 5-9": device numbers, runs joined.
std::string DeviceRanges(const std::vector<int>& devices);

// The summary at the end of a run, one device a line, and what the entry
// points do not tell.
std::vector<std::string> FormatFigures(const std::map<int, DeviceFigures>& figures);
// The same as JSON objects, one a line ({"type":"statistics","device":1,...}).
std::vector<std::string> FormatFiguresJson(const std::map<int, DeviceFigures>& figures);

}  // namespace tk571::host
