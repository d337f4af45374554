// Module information: the driver's compiled-in record, the host's record from
// its installation, and the host directory.
#include "config/module_info.h"

#include <gtest/gtest.h>

#include "log/log_fixtures.h"
#include "platform/gbk.h"

namespace tk571 {
namespace {

using namespace tk571::testing;
using platform::ToGbk;

TEST(ModuleInfoTest, DefaultsOfTheRecord) {
  const TfileInfo info = DefaultFileInfo();
  const struct {
    TfileInfo::Index index;
    const char* key;
    const char* utf8;
  } cases[] = {
      {TfileInfo::kCompanyName, "CompanyName", ""},
      {TfileInfo::kDeviceName, "DeviceName", "无名设备"},
      {TfileInfo::kDevTypeName, "DevTypeName", "其他设备"},
      {TfileInfo::kDevIDName, "DevIDName", "设备号"},
      {TfileInfo::kChIDName, "ChIDName", "通道号"},
      {TfileInfo::kSlotIDName, "slotIDName", "槽号"},
      {TfileInfo::kBitIDName, "BitIDName", "位号"},
      {TfileInfo::kThirdSegIDName, "ThirdSegIDName", "第三段"},
      {TfileInfo::kFourSegIDName, "FourSegIDName", "第四段地址"},
      {TfileInfo::kFiveSegIDName, "FiveSegIDName", "第五段地址"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(FileInfoKey(c.index), c.key);
    EXPECT_EQ(info[c.index], ToGbk(c.utf8)) << c.key;
  }
  for (int unused : {12, 13, 14, 16, 31}) {
    EXPECT_EQ(FileInfoKey(unused), "");
    EXPECT_EQ(info.items[unused], "");
  }
}

TEST(ModuleInfoTest, DriverRecordCarriesItsOwnTexts) {
  const TfileInfo d = BuildDriverModuleInfo("/opt/vanta/");
  EXPECT_EQ(d.DeviceName(), ToGbk("TK571配料控制器(RS485)"));
  EXPECT_EQ(d.DevTypeName(), ToGbk(" 智能仪表"));
  EXPECT_EQ(d.DevIDName(), ToGbk("设备号"));
  EXPECT_EQ(d.ChIDName(), ToGbk("通道地址"));
  EXPECT_EQ(d.BitName(), ToGbk("位"));
  EXPECT_EQ(d.BitIDName(), ToGbk("位号"));
  EXPECT_EQ(d.ChName(), ToGbk("通道"));
  EXPECT_EQ(d.FileVersion(), TK571_VERSION_TEXT);
  EXPECT_EQ(d[TfileInfo::kFixedFileVersion], TK571_VERSION_TEXT);
  EXPECT_EQ(d[TfileInfo::kOriginalFileName], "libtk571_485.so");
  EXPECT_FALSE(d[TfileInfo::kInternalName].empty());
  EXPECT_EQ(d[TfileInfo::kSlotName], ToGbk("槽")) << "keys the driver does not set keep defaults";
  EXPECT_EQ(d.HostDirectory(), "/opt/vanta/");
}

TEST(ModuleInfoTest, HostDirectoryNeedsTheInstallationFile) {
  TempDir tmp;
  WriteFile(tmp / "host/Tesmark.ini", "[WORKING]\n");
  EXPECT_EQ(ComputeHostDirectory(tmp / "host/Vanta.exe"), tmp.dir() + "host/");
  EXPECT_EQ(ComputeHostDirectory(" \t" + (tmp / "host/Vanta.exe") + " "), tmp.dir() + "host/");
  EXPECT_EQ(ComputeHostDirectory(tmp / "other/Vanta.exe"), "../");
  EXPECT_EQ(ComputeHostDirectory("C:\\Vanta\\Vanta.exe"), "../");
}

TEST(ModuleInfoTest, HostRecordFromItsVersionFile) {
  TempDir tmp;
  WriteFile(tmp / "Vanta.exe.ini", ToGbk("[VERSION]\r\nFileDescription=Vanta 组态软件\r\n"
                                         "FileVersion=6.5.0.12\r\nDevIDName=站号\r\n"
                                         "[OTHER]\r\nProductName=no\r\n"));
  const TfileInfo h = BuildHostModuleInfo(tmp.dir());
  EXPECT_EQ(h.FileDescription(), ToGbk("Vanta 组态软件"));
  EXPECT_EQ(h.FileVersion(), "6.5.0.12");
  EXPECT_EQ(h[TfileInfo::kFixedFileVersion], "6.5.0.12");
  EXPECT_EQ(h.DevIDName(), ToGbk("站号"));
  EXPECT_EQ(h.DeviceName(), ToGbk("无名设备"));
  EXPECT_EQ(h[TfileInfo::kProductName], "");
  EXPECT_EQ(h.HostDirectory(), tmp.dir());

  WriteFile(tmp / "Vanta.exe.ini", "[VERSION]\nFileVersion=6.5.0.12 beta\n");
  EXPECT_EQ(BuildHostModuleInfo(tmp.dir())[TfileInfo::kFixedFileVersion], "")
      << "the fixed version needs four numbers";
  const TfileInfo none = BuildHostModuleInfo(tmp / "absent/");
  EXPECT_EQ(none.FileDescription(), "");
  EXPECT_EQ(none.DeviceName(), ToGbk("无名设备"));
}

TEST(ModuleInfoTest, ProcessRecordsAreReadAgainOnReloadAndOldReferencesStayValid) {
  TempDir tmp;
  WriteFile(tmp / "host/Tesmark.ini", "[WORKING]\n");
  WriteFile(tmp / "host/Vanta.exe.ini", "[VERSION]\nFileVersion=1.1.1.1\n");
  ScopedEnv env("KELDA_PATH", tmp / "host/Vanta.exe");
  ReloadModuleInfo();
  const TfileInfo& before = HostModuleInfo();
  EXPECT_EQ(before.FileVersion(), "1.1.1.1");
  EXPECT_EQ(before.HostDirectory(), tmp.dir() + "host/");
  EXPECT_EQ(DriverModuleInfo().HostDirectory(), tmp.dir() + "host/");

  WriteFile(tmp / "host/Vanta.exe.ini", "[VERSION]\nFileVersion=2.2.2.2\n");
  EXPECT_EQ(HostModuleInfo().FileVersion(), "1.1.1.1") << "read once";
  ReloadModuleInfo();
  EXPECT_EQ(HostModuleInfo().FileVersion(), "2.2.2.2");
  EXPECT_EQ(before.FileVersion(), "1.1.1.1");
}

}  // namespace
}  // namespace tk571
