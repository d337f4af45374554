// A host as the end-to-end tests need it: a parameter block for a simulated
// line, tag definitions, and polling through the entry points at the
// driver's scan time with every reported value collected.
#pragma once

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "comm/comm_class.h"
#include "driver/thread_objects.h"
#include "support/tag_defs.h"
#include "tk571/driver.h"
#include "tk571sim/line.h"

namespace tk571::testing {

// The line as the driver's default block describes it, but at 19200 baud
// unless told otherwise.
inline sim::LineSettings SimSettings(int baud = 19200) {
  sim::LineSettings s;
  s.baud = baud;
  s.data_bits = 7;
  s.parity = sim::Parity::kEven;
  s.seed = 571;
  return s;
}

class PlantHost {
 public:
  explicit PlantHost(sim::Line& line, std::initializer_list<int> devices) {
    setenv("TK571_COM1", line.LinkPath().c_str(), 1);
    block_.assign(TK571_PDB_SIZE, 0);
    FullPDB(block_.data());
    block_[TK571_PDB_ENTRIES + TK571_PDB_ENTRY_TYPE_CODE] = 1;  // entry 0 unused
    for (int d : devices) {
      uint8_t* entry =
          &block_[TK571_PDB_ENTRIES + static_cast<std::size_t>(d) * TK571_PDB_ENTRY_SIZE];
      entry[TK571_PDB_ENTRY_TYPE_CODE] = 0;
      entry[TK571_PDB_ENTRY_TYPE_NAME] = 5;
      std::memcpy(entry + TK571_PDB_ENTRY_TYPE_NAME + 1, "TK571", 5);
    }
    block_[TK571_PDB_BAUD_INDEX] = BaudIndex(line.Settings().baud);
    block_[TK571_PDB_CONNECT_MODE] = 1;
    block_[TK571_PDB_LOG_ERRORS] = 1;
  }
  ~PlantHost() {
    FreeDriver();
    DestroyThreadObject();
  }

  // The parameter block's code of a baud rate (19200 for one it lacks).
  static uint8_t BaudIndex(int baud) {
    const auto* it = std::find(kCommBaudRates.begin(), kCommBaudRates.end(), uint32_t(baud));
    return static_cast<uint8_t>(it == kCommBaudRates.end() ? 8 : it - kCommBaudRates.begin());
  }

  bool Start(std::vector<TTagInfo> defs) {
    defs_ = std::move(defs);
    std::vector<TTagInfo*> pointers;
    for (auto& d : defs_) pointers.push_back(&d);
    char* message = nullptr;
    const bool ok =
        IniDriver(static_cast<int32_t>(pointers.size()), pointers.data(), block_.data(), &message);
    Remember(message);
    records_.resize(defs_.size());
    return ok;
  }

  // Polls at the driver's scan time until `done` holds or `limit` passed.
  bool PollUntil(const std::function<bool()>& done,
                 std::chrono::milliseconds limit = std::chrono::seconds(5)) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < end) {
      PollOnce();
      if (done()) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(DetectScanTime()));
    }
    return done();
  }
  void PollFor(std::chrono::milliseconds span) {
    PollUntil([] { return false; }, span);
  }

  void PollOnce() {
    int32_t count = 0;
    char* message = nullptr;
    OnDataRead(&count, records_.data(), &message);
    Remember(message);
    for (int32_t i = 0; i < count; ++i) {
      const TTagValueRec& r = records_[static_cast<std::size_t>(i)];
      ++reports_[r.TagID];
      qualities_[r.TagID] = r.Quality;
      if (r.ValueType == TK571_VALUE_STRING) {
        texts_[r.TagID] = r.Value.String ? r.Value.String : "";
        text_history_[r.TagID].push_back(texts_[r.TagID]);
        std::free(r.Value.String);
      } else {
        numbers_[r.TagID] = r.ValueType == TK571_VALUE_BOOL ? r.Value.Bool : r.Value.Float;
        number_history_[r.TagID].push_back(numbers_[r.TagID]);
      }
    }
  }

  bool Write(uint32_t id, double value, uint8_t type = TK571_VALUE_FLOAT) {
    TTagValueRec r{};
    r.TagID = id;
    r.ValueType = type;
    if (type == TK571_VALUE_BOOL) {
      r.Value.Bool = value != 0;
    } else {
      r.Value.Float = value;
    }
    char* message = nullptr;
    const bool ok = OnDataWrite(1, &r, &message);
    Remember(message);
    return ok;
  }

  bool Has(uint32_t id) const { return numbers_.count(id) || texts_.count(id); }
  double Number(uint32_t id) const { return numbers_.count(id) ? numbers_.at(id) : -1e300; }
  std::string Text(uint32_t id) const { return texts_.count(id) ? texts_.at(id) : std::string(); }
  uint32_t Quality(uint32_t id) const { return qualities_.count(id) ? qualities_.at(id) : 0; }
  int Reports(uint32_t id) const { return reports_.count(id) ? reports_.at(id) : 0; }
  // Every value reported for a tag, in order.
  std::vector<std::string> TextHistory(uint32_t id) const {
    return text_history_.count(id) ? text_history_.at(id) : std::vector<std::string>();
  }
  std::vector<double> NumberHistory(uint32_t id) const {
    return number_history_.count(id) ? number_history_.at(id) : std::vector<double>();
  }
  const std::vector<std::string>& Messages() const { return messages_; }
  bool HasMessage(const std::string& text) const {
    return std::find(messages_.begin(), messages_.end(), text) != messages_.end();
  }
  std::vector<uint8_t>& Block() { return block_; }

 private:
  void Remember(char* message) {
    if (message) messages_.emplace_back(message);
    std::free(message);
  }

  std::vector<uint8_t> block_;
  std::vector<TTagInfo> defs_;
  std::vector<TTagValueRec> records_;
  std::map<uint32_t, double> numbers_;
  std::map<uint32_t, std::string> texts_;
  std::map<uint32_t, uint32_t> qualities_;
  std::map<uint32_t, int> reports_;
  std::map<uint32_t, std::vector<std::string>> text_history_;
  std::map<uint32_t, std::vector<double>> number_history_;
  std::vector<std::string> messages_;
};

}  // namespace tk571::testing
