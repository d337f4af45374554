// Without a display (or without Qt) the library still loads and answers:
// the wizard and the interactive test behave as if the user had cancelled.
#include <gtest/gtest.h>

#include <cstdlib>
#include <vector>

#include "config/device_pdb.h"
#include "tk571/driver.h"

namespace tk571 {
namespace {

class HeadlessTest : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) ::unsetenv(name);
  }
};

TEST_F(HeadlessTest, TheWizardNormalisesTheBlockAndAnswersCancelled) {
  std::vector<uint8_t> host(kPdbSize);
  ASSERT_EQ(FullPDB(host.data()), host.data());
  TDevicePDB block = TDevicePDB::Load(host.data());
  block.SetTypeCode(4, 0);
  block.SetTypeName(4, "OLD");
  block.Store(host.data());
  EXPECT_EQ(DLLEdDev(0, host.data()), 2);
  EXPECT_EQ(TDevicePDB::Load(host.data()).TypeCode(4), kEmptyTypeCode);
  EXPECT_EQ(DLLEdDev(0, nullptr), 2);
}

TEST_F(HeadlessTest, TheInteractiveTestOpensNothingAndAnswersFalse) {
  std::vector<uint8_t> host(kPdbSize);
  FullPDB(host.data());
  const std::vector<uint8_t> original = host;
  EXPECT_EQ(DLLTestDev(host.data(), 1), 0);
  EXPECT_EQ(DLLTestDev(nullptr, 1), 0);
  EXPECT_EQ(DLLTestDev(nullptr, 0), 0);
  EXPECT_EQ(host, original) << "the test works on its own copy";
  // The thread's object that the test started is gone again.
  EXPECT_EQ(DetectScanTime(), 1000);
}

}  // namespace
}  // namespace tk571
