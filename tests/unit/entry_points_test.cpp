// The entry points as a host thread sees them: objects per thread, the start
// gate, out-parameters and messages.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <vector>

#include "driver/thread_objects.h"
#include "platform/gbk.h"
#include "support/fake_clock.h"
#include "tk571/driver.h"

namespace tk571 {
namespace {

std::string Take(char* message) {
  std::string text = message ? message : "";
  std::free(message);
  return text;
}

std::vector<uint8_t> DefaultBlock() {
  std::vector<uint8_t> block(TK571_PDB_SIZE, 0);
  FullPDB(block.data());
  return block;
}

TEST(EntryPointsTest, NullOutParametersAreNeverWrittenThrough) {
  int32_t count = 0;
  GetTagAddrList(0, nullptr, nullptr);
  GetTagAddrList(0, &count, nullptr);
  EXPECT_EQ(count, 8);
  EXPECT_EQ(OnDataRead(nullptr, nullptr, nullptr), 1);
  EXPECT_EQ(OnDataWrite(0, nullptr, nullptr), 0);
  EXPECT_EQ(GetDeviceStatus(nullptr), 1);
  WriteLog(1, nullptr);
  EXPECT_EQ(IniDriver(0, nullptr, nullptr, nullptr), 0);
  auto block = DefaultBlock();
  EXPECT_EQ(TagEdAddr(block.data(), nullptr, 0, nullptr), 0);
}

TEST(EntryPointsTest, TagKindListIsClampedToTheTable) {
  struct Case {
    int32_t asked;
    int32_t filled;
  };
  for (const Case c : {Case{-3, 0}, Case{0, 0}, Case{3, 3}, Case{8, 8}, Case{50, 8}}) {
    SCOPED_TRACE(c.asked);
    std::vector<TTagAddrDesc> list(60);
    std::memset(list.data(), 0xEE, list.size() * sizeof(TTagAddrDesc));
    int32_t count = c.asked;
    GetTagAddrList(0, &count, list.data());
    for (int32_t i = 0; i < 60; ++i) EXPECT_EQ(list[i].Name[0] == 0xEE, i >= c.filled) << i;
  }
  std::vector<TTagAddrDesc> list(8);
  int32_t count = 8;
  GetTagAddrList(0, &count, list.data());
  const char* names[] = {"LOAD_SETM", "READ_SETM", "ENQ",    "READ",
                         "M_FINAL",   "M_COARSE",  "M_FINE", "START_UP"};
  for (int i = 0; i < 8; ++i) {
    EXPECT_EQ(std::string(reinterpret_cast<char*>(list[i].Name + 1), list[i].Name[0]), names[i]);
  }
  EXPECT_EQ(std::string(reinterpret_cast<char*>(list[0].Description + 1), list[0].Description[0]),
            platform::ToGbk("将配方下传"));
  EXPECT_EQ(list[4].Access, 2);
  EXPECT_EQ(list[4].Reserved, 0u);
}

TEST(EntryPointsTest, TagEdAddrWithoutBlockOrUnchecked) {
  char* address = const_cast<char*>("READ1:1");
  char* message = nullptr;
  EXPECT_EQ(TagEdAddr(nullptr, &address, 0, &message), 0);
  EXPECT_EQ(Take(message), platform::ToGbk("通讯设备初始化失败"));
  EXPECT_STREQ(address, "READ1:1");
  std::free(address);

  auto block = DefaultBlock();
  address = nullptr;
  message = nullptr;
  EXPECT_EQ(TagEdAddr(block.data(), &address, 1, &message), 1);
  EXPECT_EQ(address, nullptr) << "an empty address is handed back as null";
  EXPECT_EQ(message, nullptr);
}

TEST(EntryPointsTest, DLLEdDevNormalisesTheHostBlockEvenWhenCancelled) {
  auto block = DefaultBlock();
  block[TK571_PDB_ENTRIES + TK571_PDB_ENTRY_TYPE_NAME + 1] = 'X';
  EXPECT_EQ(DLLEdDev(0, block.data()), 2);
  EXPECT_EQ(block[TK571_PDB_ENTRIES + TK571_PDB_ENTRY_TYPE_CODE], 1);
}

TEST(EntryPointsTest, EachThreadHasItsOwnObject) {
  auto block = DefaultBlock();
  std::atomic<int> with_object{0};
  auto start = [&] {
    TTagInfo* none[1] = {nullptr};
    char* message = nullptr;
    IniDriver(0, none, block.data(), &message);
    std::free(message);
    if (ThreadObject() != nullptr) ++with_object;
    EXPECT_EQ(DetectScanTime(), 500);
  };
  std::thread a(start), b(start);
  a.join();
  b.join();
  EXPECT_EQ(with_object.load(), 2);
  EXPECT_EQ(ThreadObject(), nullptr) << "objects of other threads are not visible here";
  EXPECT_EQ(DetectScanTime(), 1000);
}

TEST(EntryPointsTest, StartGateHeldTooLongRefusesTheStart) {
  testing::FakeClock clock;
  const uint32_t before = clock.TickMs();
  auto block = DefaultBlock();
  ASSERT_TRUE(StartGate()->Wait(0));
  std::string refused;
  std::thread late([&] {
    TTagInfo* none[1] = {nullptr};
    char* message = nullptr;
    EXPECT_EQ(IniDriver(0, none, block.data(), &message), 0);
    refused = Take(message);
    EXPECT_EQ(ThreadObject(), nullptr) << "a refused start leaves the slot as it was";
  });
  late.join();
  StartGate()->Set();
  EXPECT_EQ(refused, platform::ToGbk("设备不支持并发访问，共享冲突。"));
  EXPECT_EQ(clock.TickMs() - before, kStartGateWaitMs) << "the refused start waited its full time";
}

TEST(EntryPointsTest, TwoThreadsStartingTogetherAreServedInTurn) {
  auto block = DefaultBlock();
  std::atomic<int> started{0};
  std::vector<std::thread> threads;
  for (int i = 0; i < 4; ++i) {
    threads.emplace_back([&] {
      TTagInfo* none[1] = {nullptr};
      char* message = nullptr;
      IniDriver(0, none, block.data(), &message);
      if (Take(message) != platform::ToGbk("设备不支持并发访问，共享冲突。")) ++started;
    });
  }
  for (auto& t : threads) t.join();
  EXPECT_EQ(started.load(), 4);
  // The gate is free again for the next start.
  EXPECT_TRUE(StartGate()->Wait(0));
  StartGate()->Set();
}

}  // namespace
}  // namespace tk571
