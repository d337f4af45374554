// The host's order of tags does not change what it receives: one plant, the
// driver started on it with the same tags listed in several orders.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <map>
#include <string>

#include "e2e/plant_host.h"
#include "platform/gbk.h"

namespace tk571 {
namespace {

using platform::ToGbk;
using testing::PlantHost;
using testing::SimSettings;
using testing::TagDef;

constexpr sim::Recipe kSmallRecipe = {{{50, 20, 2}, {40, 15, 3}, {30, 10, 1}, {20, 8, 2}}};
constexpr sim::DosingRates kQuickRates{2000.0, 400.0, std::chrono::milliseconds(5)};

uint32_t ReadId(int device) {
  return static_cast<uint32_t>(10 * device);
}
uint32_t EnqId(int device, int material) {
  return static_cast<uint32_t>(10 * device + material);
}
constexpr uint32_t kCommLink = 1;
uint32_t DeviceLinkId(int device) {
  return static_cast<uint32_t>(1 + device);
}

// Each controller's READ and its ENQ tags, then the link tags.
std::vector<TTagInfo> ReadFirst() {
  std::vector<TTagInfo> defs;
  for (int d = 1; d <= 2; ++d) {
    defs.push_back(TagDef(ReadId(d), "READ" + std::to_string(d) + ":1", 0, 20));
    for (int m = 1; m <= 4; ++m)
      defs.push_back(
          TagDef(EnqId(d, m), "ENQ" + std::to_string(d) + ":" + std::to_string(m), 0, 20));
  }
  defs.push_back(TagDef(kCommLink, "COMMLINK", 2));
  for (int d = 1; d <= 2; ++d)
    defs.push_back(TagDef(DeviceLinkId(d), "DEVICELINK" + std::to_string(d), 2));
  return defs;
}

bool IsRead(const TTagInfo& t) {
  return std::string(t.Address).starts_with("READ");
}

std::vector<TTagInfo> EnqFirst() {
  std::vector<TTagInfo> defs = ReadFirst();
  std::stable_partition(defs.begin(), defs.end(), [](const TTagInfo& t) { return !IsRead(t); });
  return defs;
}
// As a host that sorts its tag list by address: the ENQ tags come before
// the READ tags.
std::vector<TTagInfo> ByAddress() {
  std::vector<TTagInfo> defs = ReadFirst();
  std::sort(defs.begin(), defs.end(), [](const TTagInfo& a, const TTagInfo& b) {
    return std::string(a.Address) < std::string(b.Address);
  });
  return defs;
}
std::vector<TTagInfo> Reversed() {
  std::vector<TTagInfo> defs = ReadFirst();
  std::reverse(defs.begin(), defs.end());
  return defs;
}

// What the host received: the last value of every tag reported.
using Received = std::map<uint32_t, std::string>;

Received Collect(const PlantHost& host, const std::vector<TTagInfo>& defs) {
  Received out;
  for (const TTagInfo& t : defs) {
    if (!host.Has(t.TagID)) continue;
    out[t.TagID] = t.DataKind == 2 ? platform::FromGbk(host.Text(t.TagID))
                                   : std::to_string(host.Number(t.TagID));
  }
  return out;
}

TEST(TagOrderTest, EveryOrderOfTheTagListGivesTheSameValues) {
  sim::Line line(SimSettings());
  const std::array<double, 2> weights = {12.5, 7.75};
  std::array<std::array<double, 4>, 2> amounts{};
  for (int d = 1; d <= 2; ++d) {
    line.AddController(d, kQuickRates);
    line.SetRecipe(d, kSmallRecipe);
    line.WithController(d, [](sim::Controller& c, auto now) { c.Handle("ST", now); });
  }
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while ((line.Batch(1).running || line.Batch(2).running) && std::chrono::steady_clock::now() < end)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  for (int d = 1; d <= 2; ++d) {
    const auto i = static_cast<std::size_t>(d - 1);
    amounts[i] = line.Batch(d).amounts_kg;
    ASSERT_GT(amounts[i][3], 0.0) << "controller " << d << " has not finished its batch";
    line.WithController(d, [&](sim::Controller& c, auto now) {
      c.SetGrossWeight(0.0);
      c.SetGrossWeight(weights[i] - c.Read(now).kg);
    });
  }
  // What the controllers show, as the host should receive it.
  Received truth;
  for (int d = 1; d <= 2; ++d) {
    const auto i = static_cast<std::size_t>(d - 1);
    truth[ReadId(d)] = std::to_string(weights[i]);
    for (int m = 1; m <= 4; ++m)
      truth[EnqId(d, m)] = std::to_string(amounts[i][static_cast<std::size_t>(m - 1)]);
    truth[DeviceLinkId(d)] = std::to_string(d) + "号 智能仪表TK571通讯正常!";
  }
  truth[kCommLink] = "TK571配料控制器(RS485)通讯正常!";

  const struct {
    const char* name;
    std::vector<TTagInfo> defs;
  } orders[] = {{"READ first", ReadFirst()},
                {"ENQ first", EnqFirst()},
                {"sorted by address", ByAddress()},
                {"reversed", Reversed()}};
  for (const auto& order : orders) {
    SCOPED_TRACE(order.name);
    Received received;
    {
      PlantHost host(line, {1, 2});
      ASSERT_TRUE(host.Start(order.defs));
      host.PollUntil([&] { return Collect(host, order.defs) == truth; });
      received = Collect(host, order.defs);
    }
    EXPECT_EQ(received, truth);
  }
}

}  // namespace
}  // namespace tk571
