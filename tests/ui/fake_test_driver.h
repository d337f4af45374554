// A driver for the device test that records what the test asks of it and
// answers as a live controller or a silent line would.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "ui/device_test_logic.h"

namespace tk571::ui::testing {

struct FakeTag {
  std::string address;
  uint8_t kind = 0;
  TagValue value;
};

class FakeObject : public TestObject {
 public:
  int32_t TagCount() const override { return static_cast<int32_t>(tags.size()); }
  int32_t ScanTime() const override { return scan_time; }
  std::string TagAddress(int32_t p) const override { return tags[p].address; }
  uint8_t TagDataKind(int32_t p) const override { return tags[p].kind; }
  TagValue TagValueAt(int32_t p) const override { return tags[p].value; }
  std::string TakeMessage() override {
    std::string text;
    text.swap(message);
    return text;
  }
  std::vector<std::string> ReadRequests() const override { return read_requests; }
  bool HasCurrentCommand() const override { return has_current; }
  bool CurrentIsWrite() const override { return current_is_write; }
  std::string CurrentRequest() const override { return current_request; }
  std::string CurrentResponse() const override { return current_response; }
  void SetCurrentRequest(const std::string& request) override { current_request = request; }
  bool ReadStep() override {
    ++steps;
    // A command exists from the first step on, as in the driver.
    has_current = true;
    return answer_from_step > 0 && steps >= answer_from_step;
  }
  bool Write(uint32_t tag_id, const TagValue& value) override {
    writes.push_back({tag_id, value});
    return true;
  }

  std::vector<FakeTag> tags;
  int32_t scan_time = 500;
  std::string message;
  std::vector<std::string> read_requests;
  bool has_current = false;
  bool current_is_write = false;
  std::string current_request;
  std::string current_response;
  int answer_from_step = 0;  // 0: a silent line
  int steps = 0;
  std::vector<std::pair<uint32_t, TagValue>> writes;
};

class FakeDriver : public TestDriver {
 public:
  StartResult Start(const TTagInfo& tag, TDevicePDB&) override {
    const std::string address(tag.Address);
    calls.push_back("start " + address);
    object = std::make_unique<FakeObject>();
    object->answer_from_step = answer_from_step;
    if (with_tags) object->tags.push_back({address, tag.DataKind, TagValue()});
    StartResult result;
    result.started = start_ok;
    result.message = start_message;
    result.port_unavailable = !start_ok && port_busy;
    return result;
  }
  TestObject* Object() override { return object.get(); }
  void StopObject() override { calls.push_back("stop"); }
  std::string NormalAddress(const TDevicePDB&, const std::string& address) override {
    std::string out = address;
    for (char& c : out) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return out;
  }

  std::unique_ptr<FakeObject> object;
  std::vector<std::string> calls;
  bool start_ok = true;
  bool port_busy = false;
  bool with_tags = true;
  int answer_from_step = 0;
  std::string start_message;
};

}  // namespace tk571::ui::testing
