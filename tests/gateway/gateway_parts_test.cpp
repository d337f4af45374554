// The gateway's own rules: which topics are writes, who may write what, when
// a batch is finished, how long it waits before reconnecting.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "backoff.h"
#include "batch_tracker.h"
#include "topics.h"
#include "write_policy.h"

namespace tk571::gateway {
namespace {

struct WriteTopicCase {
  std::string prefix;
  std::string topic;
  std::optional<std::pair<std::string, std::string>> expected;
};

TEST(WriteTopic, OnlyTheOnTopicOfOneControlIsAWrite) {
  using P = std::pair<std::string, std::string>;
  const std::vector<WriteTopicCase> cases = {
      {"tk571", "tk571/devices/scale1/controls/run/on", P{"scale1", "run"}},
      {"", "/devices/scale1/controls/run/on", P{"scale1", "run"}},
      {"plant/a", "plant/a/devices/s-2/controls/target_1/on", P{"s-2", "target_1"}},
      {"tk571", "tk571/devices/scale1/controls/run", std::nullopt},
      {"tk571", "tk571/devices/scale1/controls/run/meta", std::nullopt},
      {"tk571", "other/devices/scale1/controls/run/on", std::nullopt},
      {"tk571", "tk571/devices/scale1/controls//on", std::nullopt},
      {"tk571", "tk571/devices//controls/run/on", std::nullopt},
      {"tk571", "tk571/devices/a/b/controls/run/on", std::nullopt},
      {"tk571", "tk571/devices/scale1/controls/run/x/on", std::nullopt},
      {"tk571", "tk571/devices/on", std::nullopt},
  };
  for (const WriteTopicCase& c : cases) {
    SCOPED_TRACE(c.topic);
    EXPECT_EQ(Topics(c.prefix).ParseWrite(c.topic), c.expected);
  }
}

struct PermissionCase {
  const char* what;
  WriteSettings writes;
  DeviceWrites device;
  std::optional<bool> writable;
  bool command;
  WriteVerdict expected;
};

TEST(WritePolicy, EachSwitchCanOnlyTakeAwayWhatTheOneAboveGives) {
  const WriteSettings on{true, true, 0};
  const WriteSettings setpoints_only{true, false, 0};
  const std::vector<PermissionCase> cases = {
      {"off by default", WriteSettings{}, {}, true, false, WriteVerdict::kWritesOff},
      {"set-point turned on", on, {}, true, false, WriteVerdict::kAllowed},
      {"set-point not turned on", on, {}, std::nullopt, false, WriteVerdict::kNotWritable},
      {"device off", on, {false, true}, true, false, WriteVerdict::kWritesOff},
      {"command with the switch", on, {}, std::nullopt, true, WriteVerdict::kAllowed},
      {"command without it", setpoints_only, {}, true, true, WriteVerdict::kCommandsOff},
      {"command off for the device", on, {true, false}, true, true, WriteVerdict::kCommandsOff},
      {"command turned off itself", on, {}, false, true, WriteVerdict::kNotWritable},
  };
  for (const PermissionCase& c : cases) {
    SCOPED_TRACE(c.what);
    DeviceConfig device;
    device.writes = c.device;
    TagConfig tag;
    tag.writable = c.writable;
    EXPECT_EQ(WritePermission(c.writes, device, tag, c.command, true), c.expected);
  }
}

struct CheckCase {
  const char* control;
  std::string payload;
  int after_ms;  // since the first write of the table
  WriteVerdict expected;
  const char* value;
};

TEST(WritePolicy, ValuesAreCheckedBeforeTheyGoAndEachControlIsRateLimited) {
  LinePlan plan;
  Control target;
  target.device = "s1";
  target.name = "target";
  target.write_permission = WriteVerdict::kAllowed;
  target.tag.kind = TK571_VALUE_FLOAT;
  target.min = 0;
  target.max = 9999;
  Control run = target;
  run.name = "run";
  run.tag.kind = TK571_VALUE_BOOL;
  Control weight = target;
  weight.name = "weight";
  weight.write_permission = WriteVerdict::kNotWritable;
  plan.controls = {target, run, weight};
  WritePolicy policy(WriteSettings{true, true, 500}, {plan});
  const std::vector<CheckCase> cases = {
      {"target", "-0.5", 0, WriteVerdict::kOutOfRange, ""},
      {"target", "10000", 0, WriteVerdict::kOutOfRange, ""},
      {"target", "nan", 0, WriteVerdict::kNotAValue, ""},
      {"target", "0x10", 0, WriteVerdict::kNotAValue, ""},
      {"target", std::string(33, '1'), 0, WriteVerdict::kTooLarge, ""},
      {"target", "12.50", 0, WriteVerdict::kAllowed, "12.5"},
      {"target", "13", 499, WriteVerdict::kRateLimited, ""},
      {"target", "14", 500, WriteVerdict::kAllowed, "14"},
      // Refusals do not count for the rate limit; other controls have their own.
      {"run", "ON", 0, WriteVerdict::kAllowed, "1"},
      {"run", "2", 100, WriteVerdict::kNotAValue, ""},
      {"weight", "1", 0, WriteVerdict::kNotWritable, ""},
      {"other", "1", 0, WriteVerdict::kNoSuchControl, ""},
  };
  const auto start = WritePolicy::Clock::now();
  for (const CheckCase& c : cases) {
    SCOPED_TRACE(std::string(c.control) + " = " + c.payload.substr(0, 8));
    const WriteDecision decision =
        policy.Check("s1", c.control, c.payload, start + std::chrono::milliseconds(c.after_ms));
    EXPECT_EQ(decision.verdict, c.expected);
    EXPECT_EQ(decision.value, c.value);
  }
}

struct Step {
  int material;
  double amount;
  bool poll_ends;                // Finished() is asked after this report
  std::vector<double> finished;  // empty: no batch expected
};

TEST(BatchTracker, OneRecordPerFinishedBatch) {
  BatchTracker tracker({1, 2, 3, 4});
  const std::vector<Step> steps = {
      // The first poll reports the last batch of the controller: one record.
      {1, 20.1, false, {}},
      {2, 10.2, false, {}},
      {3, 9.9, false, {}},
      {4, 5.0, true, {20.1, 10.2, 9.9, 5.0}},
      // The same amounts again are no new batch.
      {4, 5.0, true, {}},
      // A new batch: every field back to 0, then the materials one by one.
      {1, 0, false, {}},
      {2, 0, false, {}},
      {3, 0, false, {}},
      {4, 0, true, {}},
      {1, 19.8, true, {}},
      {2, 10.0, true, {}},
      {3, 10.1, true, {}},
      {4, 5.0, true, {19.8, 10.0, 10.1, 5.0}},
      // An identical batch after the zeros is still a batch of its own.
      {1, 0, true, {}},
      {1, 19.8, true, {19.8, 10.0, 10.1, 5.0}},
      // A material the configuration does not watch changes nothing.
      {5, 1.0, true, {}},
  };
  for (std::size_t i = 0; i < steps.size(); ++i) {
    SCOPED_TRACE("step " + std::to_string(i));
    tracker.Report(steps[i].material, steps[i].amount);
    if (!steps[i].poll_ends) continue;
    const std::optional<std::vector<BatchAmount>> batch = tracker.Finished();
    ASSERT_EQ(batch.has_value(), !steps[i].finished.empty());
    if (!batch) continue;
    ASSERT_EQ(batch->size(), steps[i].finished.size());
    for (std::size_t m = 0; m < batch->size(); ++m) {
      EXPECT_EQ((*batch)[m].material, static_cast<int>(m) + 1);
      EXPECT_EQ((*batch)[m].amount, steps[i].finished[m]);
    }
  }
}

TEST(Backoff, DoublesUpToTheCeilingAndStartsAgainWhenConnected) {
  Backoff backoff(std::chrono::seconds(10));
  std::vector<long> waits;
  for (int i = 0; i < 6; ++i) waits.push_back(backoff.Next().count());
  EXPECT_EQ(waits, (std::vector<long>{1, 2, 4, 8, 10, 10}));
  backoff.Reset();
  EXPECT_EQ(backoff.Next().count(), 1);
  Backoff short_ceiling(std::chrono::seconds(1));
  EXPECT_EQ(short_ceiling.Next().count(), 1);
  EXPECT_EQ(short_ceiling.Next().count(), 1);
}

}  // namespace
}  // namespace tk571::gateway
