// Line faults through the entry points: a controller that stops answering, a
// line that never answers, an adapter pulled out and put back, and answers
// mangled on the way. The link tags tell the host what happened; the
// controllers that still answer keep their values flowing.
#include <gtest/gtest.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <chrono>
#include <iostream>

#include "e2e/plant_host.h"
#include "e2e/wire.h"
#include "platform/gbk.h"

namespace tk571 {
namespace {

using platform::ToGbk;
using testing::PlantHost;
using testing::SimSettings;
using testing::TagDef;

constexpr uint32_t kRead1 = 1;
constexpr uint32_t kRead2 = 2;
constexpr uint32_t kCommLink = 3;
constexpr uint32_t kDeviceLink1 = 4;
constexpr uint32_t kDeviceLink2 = 5;
constexpr uint32_t kStartUp2 = 6;

std::string CommLinkText(const char* status) {
  return ToGbk(std::string("TK571配料控制器(RS485)") + status);
}
std::string DeviceLinkText(int device, const char* status) {
  return ToGbk(std::to_string(device) + "号 智能仪表TK571" + status);
}
constexpr const char* kNormal = "通讯正常!";
constexpr const char* kInterference = "通讯出现干扰!";
constexpr const char* kFault = "通讯出现故障!";
constexpr const char* kBroken = "通讯线路断路!";

// Two controllers polled every 20 ms, with the link tags.
std::vector<TTagInfo> TwoControllerTags() {
  return {TagDef(kRead1, "READ1:1", 0, 20), TagDef(kRead2, "READ2:1", 0, 20),
          TagDef(kCommLink, "COMMLINK", 2), TagDef(kDeviceLink1, "DEVICELINK1", 2),
          TagDef(kDeviceLink2, "DEVICELINK2", 2)};
}

void SetWeight(sim::Line& line, int device, double kg) {
  line.WithController(device, [kg](sim::Controller& c, auto) { c.SetGrossWeight(kg); });
}

// Both controllers answering, both weights and both links seen by the host.
bool StartTwoControllers(sim::Line& line, PlantHost& host,
                         std::vector<TTagInfo> defs = TwoControllerTags()) {
  line.AddController(1);
  line.AddController(2);
  SetWeight(line, 1, 11.0);
  SetWeight(line, 2, 22.0);
  return host.Start(std::move(defs)) && host.PollUntil([&] {
    return host.Number(kRead1) == 11.0 && host.Number(kRead2) == 22.0 &&
           host.Text(kDeviceLink1) == DeviceLinkText(1, kNormal) &&
           host.Text(kDeviceLink2) == DeviceLinkText(2, kNormal);
  });
}

bool Contains(const std::vector<double>& values, double v) {
  return std::find(values.begin(), values.end(), v) != values.end();
}

// Position of each text in the history, in order; false when one is missing.
bool InOrder(const std::vector<std::string>& history, const std::vector<std::string>& texts) {
  std::size_t at = 0;
  for (const std::string& t : texts) {
    at = testing::Find(history, t, at);
    if (at == history.size()) return false;
  }
  return true;
}

TEST(LinkTest, SilentControllerDegradesItsOwnLinkOnly) {
  sim::Line line(SimSettings());
  PlantHost host(line, {1, 2});
  ASSERT_TRUE(StartTwoControllers(line, host));
  EXPECT_EQ(host.Text(kCommLink), CommLinkText(kNormal));

  line.SetFaults(2, {.silent = true});
  double weight = 11.0;
  const bool broken = host.PollUntil(
      [&] {
        // Controller 1 goes on weighing all the while.
        weight += 0.5;
        SetWeight(line, 1, weight);
        return host.Text(kDeviceLink2) == DeviceLinkText(2, kBroken);
      },
      std::chrono::seconds(20));
  ASSERT_TRUE(broken) << host.TextHistory(kDeviceLink2).size();
  EXPECT_TRUE(InOrder(host.TextHistory(kDeviceLink2),
                      {DeviceLinkText(2, kNormal), DeviceLinkText(2, kInterference),
                       DeviceLinkText(2, kFault), DeviceLinkText(2, kBroken)}));
  EXPECT_EQ(host.TextHistory(kDeviceLink1), std::vector<std::string>{DeviceLinkText(1, kNormal)});
  // The line as a whole: a fault after each failure, normal after each
  // answer of controller 1.
  EXPECT_TRUE(InOrder(host.TextHistory(kCommLink),
                      {CommLinkText(kNormal), CommLinkText(kFault), CommLinkText(kNormal)}));
  const std::vector<double> weights = host.NumberHistory(kRead1);
  EXPECT_GT(weights.size(), 5u);
  EXPECT_EQ(host.Number(kRead2), 22.0);
  EXPECT_FALSE(Contains(host.NumberHistory(kRead2), weights.back()));

  // Controller 2 answers again: its link and its weight come back.
  SetWeight(line, 2, 23.5);
  line.SetFaults(2, {});
  EXPECT_TRUE(host.PollUntil(
      [&] {
        return host.Number(kRead2) == 23.5 && host.Text(kDeviceLink2) == DeviceLinkText(2, kNormal);
      },
      std::chrono::seconds(5)));
}

TEST(LinkTest, LineThatNeverAnswersRaisesSevereFailureAndSignalsTheHost) {
  sim::Line line(SimSettings());
  line.AddController(1);
  line.SetFaults(1, {.silent = true});
  PlantHost host(line, {1});
  ASSERT_TRUE(host.Start({TagDef(kRead1, "READ1:1", 0, 10), TagDef(kCommLink, "COMMLINK", 2),
                          TagDef(kDeviceLink1, "DEVICELINK1", 2)}));
  const int event = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  ASSERT_GE(event, 0);
  ASSERT_TRUE(IniDriverEx(static_cast<uint32_t>(event)));

  const std::string severe = ToGbk("严重故障：连续通讯失败，请检查线路和设备");
  uint64_t signals = 0;
  const bool raised = host.PollUntil(
      [&] {
        uint64_t n = 0;
        if (::read(event, &n, sizeof n) == sizeof n) signals += n;
        return host.HasMessage(severe) && signals > 0;
      },
      std::chrono::seconds(20));
  ::close(event);
  EXPECT_TRUE(raised) << "signals " << signals;
  EXPECT_TRUE(host.HasMessage(ToGbk("通讯超时错，期待设备应答")));
  // A line that never answered stays "never succeeded", however long, and
  // the host is told so: the link tags are reported after the first failed
  // exchange although their text did not change.
  const std::string never = ToGbk("通讯始终不成功!");
  ASSERT_TRUE(host.Has(kDeviceLink1));
  EXPECT_TRUE(host.Text(kDeviceLink1).ends_with(never)) << host.Text(kDeviceLink1);
  ASSERT_TRUE(host.Has(kCommLink));
  EXPECT_TRUE(host.Text(kCommLink).ends_with(never)) << host.Text(kCommLink);
  EXPECT_FALSE(host.Has(kRead1));
}

TEST(LinkTest, UnpluggedAndReplugged) {
  sim::Line line(SimSettings());
  PlantHost host(line, {1, 2});
  std::vector<TTagInfo> defs = TwoControllerTags();
  defs.push_back(TagDef(kStartUp2, "START_UP2:1", TK571_VALUE_BOOL));
  ASSERT_TRUE(StartTwoControllers(line, host, defs));

  line.Unplug();
  // New weights while nobody can read them.
  SetWeight(line, 1, 33.0);
  SetWeight(line, 2, 44.0);
  EXPECT_TRUE(host.PollUntil(
      [&] {
        return host.Text(kCommLink) == CommLinkText(kFault) &&
               host.Text(kDeviceLink1) != DeviceLinkText(1, kNormal) &&
               host.Text(kDeviceLink2) != DeviceLinkText(2, kNormal);
      },
      std::chrono::seconds(10)));
  // A start written while the line is gone is given up after its repeats;
  // it must not surface later at whichever controller listens then.
  EXPECT_TRUE(host.Write(kStartUp2, 1, TK571_VALUE_BOOL));
  host.PollFor(std::chrono::milliseconds(1500));
  EXPECT_EQ(host.Number(kRead1), 11.0);
  EXPECT_EQ(host.Number(kRead2), 22.0);

  line.ClearTrace();
  line.Replug();
  const auto replugged = std::chrono::steady_clock::now();
  ASSERT_TRUE(
      host.PollUntil([&] { return host.Number(kRead1) == 33.0 && host.Number(kRead2) == 44.0; },
                     std::chrono::seconds(8)));
  std::cout << "values flowing again "
            << std::chrono::duration_cast<std::chrono::milliseconds>(
                   std::chrono::steady_clock::now() - replugged)
                   .count()
            << " ms after the replug\n";
  EXPECT_TRUE(host.PollUntil([&] {
    return host.Text(kCommLink) == CommLinkText(kNormal) &&
           host.Text(kDeviceLink1) == DeviceLinkText(1, kNormal) &&
           host.Text(kDeviceLink2) == DeviceLinkText(2, kNormal);
  }));
  // Never one controller's weight in the other's tag.
  EXPECT_FALSE(Contains(host.NumberHistory(kRead1), 44.0));
  EXPECT_FALSE(Contains(host.NumberHistory(kRead2), 33.0));
  EXPECT_EQ(testing::CountOf(testing::TraceLines(line.Trace()), ">> 53 54 0D 0A"), 0);
  EXPECT_NE(host.Number(kStartUp2), 1.0);
  // And it goes on.
  SetWeight(line, 1, 55.0);
  EXPECT_TRUE(host.PollUntil([&] { return host.Number(kRead1) == 55.0; }));
}

// Answers mangled on the way from controller 2: the driver neither hangs nor
// takes the junk for a weight, and controller 1 is served all the while.
TEST(LinkTest, MangledAnswersOfOneController) {
  struct Case {
    const char* what;
    sim::Faults faults;
    bool weight_arrives;  // controller 2's weight still gets through
  };
  const Case cases[] = {
      {"answer in three pieces",
       {.split_parts = 3, .split_gap = std::chrono::milliseconds(15)},
       true},
      {"junk of the same length", {.garbage = true}, false},
      {"no CR LF", {.drop_crlf = true}, false},
      {"later than the driver waits", {.late = std::chrono::milliseconds(260)}, false},
      // The answer is found by its shape behind the noise.
      {"noise before the answer", {.noise_bytes = 12}, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    sim::Line line(SimSettings());
    line.AddController(1);
    line.AddController(2);
    line.SetFaults(2, c.faults);
    SetWeight(line, 1, 11.0);
    SetWeight(line, 2, 22.0);
    PlantHost host(line, {1, 2});
    ASSERT_TRUE(host.Start(TwoControllerTags()));
    double weight = 11.0;
    for (int round = 0; round < 4; ++round) {
      weight += 1.5;
      SetWeight(line, 1, weight);
      EXPECT_TRUE(host.PollUntil([&] { return host.Number(kRead1) == weight; }));
    }
    host.PollFor(std::chrono::milliseconds(300));
    if (c.weight_arrives) {
      EXPECT_EQ(host.Number(kRead2), 22.0) << line.TraceText(true);
    } else {
      EXPECT_FALSE(host.Number(kRead2) == 22.0);
    }
    for (double w : host.NumberHistory(kRead2)) {
      EXPECT_FALSE(w >= 11.0 && w <= weight && w != 22.0) << "controller 1's weight " << w;
    }
  }
}

}  // namespace
}  // namespace tk571
