// The gateway's own rules: which topics are writes, who may write what, when
// a batch is finished, how long it waits before reconnecting, how a batch is
// judged, which shift it counts in, and that a pruned audit trail still verifies.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <ctime>
#include <optional>
#include <string>
#include <vector>

#include "audit_trail.h"
#include "backoff.h"
#include "batch_quality.h"
#include "batch_tracker.h"
#include "journal_report.h"
#include "time_text.h"
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

TEST(BatchTracker, TheBatchOnRecordIsNoNewOneAfterARestart) {
  BatchTracker tracker({1, 2}, std::vector<BatchAmount>{{1, 20.1}, {2, 10.2}});
  tracker.Report(1, 20.1);
  tracker.Report(2, 10.2);
  EXPECT_FALSE(tracker.Finished());
  tracker.Report(2, 10.3);  // finished while the gateway was away
  EXPECT_TRUE(tracker.Finished());
}

struct JudgeCase {
  std::optional<Tolerance> tolerance;
  std::optional<double> target;
  double amount;
  Verdict verdict;
};

TEST(BatchQuality, AVerdictPerMaterialAgainstItsTolerance) {
  const std::vector<JudgeCase> cases = {
      {Tolerance{0.5, false}, 100, 100.5, Verdict::kIn},  // on the boundary
      {Tolerance{0.5, false}, 100, 100.51, Verdict::kOut},
      {Tolerance{0.5, false}, 100, 99.49, Verdict::kOut},
      {Tolerance{2, true}, 50, 51, Verdict::kIn},  // 2 % of 50 is 1 kg
      {Tolerance{2, true}, 50, 48.99, Verdict::kOut},
      {std::nullopt, 50, 60, Verdict::kNone},
      {Tolerance{1, false}, std::nullopt, 60, Verdict::kNone},  // no recipe known
  };
  for (const JudgeCase& c : cases) {
    SCOPED_TRACE(c.amount);
    BatchRecord batch;
    MaterialResult m;
    m.material = 2;
    m.final_sp = c.target;
    m.amount = c.amount;
    batch.materials.push_back(m);
    Tolerances tolerances;
    if (c.tolerance) tolerances[2] = *c.tolerance;
    Evaluate(tolerances, &batch);
    EXPECT_EQ(batch.materials[0].verdict, c.verdict);
    EXPECT_EQ(InTolerance(batch), c.verdict != Verdict::kOut);
  }
}

TEST(BatchQuality, TheFineAdviceAddsTheMeanOvershootToTheNewestFine) {
  const auto batch = [](double fine, double deviation) {
    BatchRecord b;
    MaterialResult m;
    m.material = 1;
    m.final_sp = 100;
    m.fine_sp = fine;
    m.amount = 100 + deviation;
    m.deviation = deviation;
    b.materials.push_back(m);
    return b;
  };
  const std::vector<FineAdvice> advice =
      SuggestFine({batch(2.0, 0.3), batch(1.8, 0.5), batch(1.5, 0.1)});
  ASSERT_EQ(advice.size(), 1u);
  EXPECT_EQ(advice[0].fine, 2.0);
  EXPECT_EQ(advice[0].suggested, 2.3);
  EXPECT_EQ(advice[0].batches, 3);
  // Falling short lowers it, never below 0.
  EXPECT_EQ(SuggestFine({batch(0.2, -0.5)})[0].suggested, 0);
}

struct ShiftCase {
  const char* at;
  TotalsPeriod period;
  const char* label;
};

TEST(Report, ABatchCountsInThePeriodItEndedIn) {
  setenv("TZ", "UTC", 1);
  tzset();
  const std::vector<int> shifts = {6 * 60, 14 * 60, 22 * 60};
  const std::vector<ShiftCase> cases = {
      {"2026-12-10T06:00Z", TotalsPeriod::kShift, "2026-12-10 06:00"},
      {"2026-12-10T13:59:59Z", TotalsPeriod::kShift, "2026-12-10 06:00"},
      {"2026-12-10T23:10Z", TotalsPeriod::kShift, "2026-12-10 22:00"},
      // Before the first start of the day: the night shift of the day before.
      {"2026-12-01T05:59Z", TotalsPeriod::kShift, "2026-11-30 22:00"},
      {"2026-12-01T05:59Z", TotalsPeriod::kDay, "2026-12-01"},
      {"2026-12-31T23:59Z", TotalsPeriod::kMonth, "2026-12"},
  };
  for (const ShiftCase& c : cases) {
    SCOPED_TRACE(c.at);
    const std::optional<int64_t> at = ParseTime(c.at);
    ASSERT_TRUE(at);
    EXPECT_EQ(PeriodOf(*at, c.period, shifts), c.label);
  }
  EXPECT_FALSE(ParseTime("2026-13-01"));
  EXPECT_FALSE(ParseTime("yesterday"));
}

TEST(AuditTrail, APrunedPrefixLeavesTheRestVerifiable) {
  char name[] = "/tmp/tk571-audit-XXXXXX";
  const int fd = mkstemp(name);
  ASSERT_GE(fd, 0);
  close(fd);
  {
    JournalDb db(name);
    AuditTrail audit(db);
    for (int64_t at = 1; at <= 5; ++at) {
      WriteEvent e;
      e.at_ms = at * 1000;
      e.device = "scale1";
      e.control = "f1";
      e.after = std::to_string(at);
      audit.Append(e);
    }
    EXPECT_EQ(audit.PruneBefore(3000), 2);
    const VerifyResult result = audit.Verify();
    EXPECT_TRUE(result.good) << result.text;
    EXPECT_EQ(result.text, "audit trail good: 3 entries, after 2 pruned");
    // The trail refuses changes of its own accord.
    EXPECT_THROW(db.Exec("UPDATE audit SET after = '9' WHERE id = 4"), JournalError);
    EXPECT_THROW(db.Exec("DELETE FROM audit WHERE id = 4"), JournalError);
  }
  for (const char* suffix : {"", "-wal", "-shm"}) std::remove((std::string(name) + suffix).c_str());
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
