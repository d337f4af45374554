// Version information of the host program and of the driver (`TfileInfo`),
// and the host's installation directory. Read once per process and shared,
// read-only, by every driver object.
#pragma once

#include <array>
#include <string>
#include <string_view>

namespace tk571 {

// 32 texts, GBK. The indexes are part of the host interface: the wizard, the
// messages and the run log pick their texts by index.
struct TfileInfo {
  enum Index : int {
    kCompanyName = 0,
    kFileDescription = 1,
    kFileVersion = 2,
    kInternalName = 3,
    kLegalCopyright = 4,
    kLegalTrademarks = 5,
    kOriginalFileName = 6,
    kProductName = 7,
    kProductVersion = 8,
    kSpecialBuild = 9,
    kPrivateBuild = 10,
    kComments = 11,
    kFixedFileVersion = 12,  // four numbers joined by points
    kDeviceName = 15,
    kDevTypeName = 17,
    kDevIDName = 18,
    kChName = 19,
    kChIDName = 20,
    kSlotName = 21,
    kSlotIDName = 22,
    kBitName = 23,
    kBitIDName = 24,
    kThirdSegName = 25,
    kThirdSegIDName = 26,
    kFourSegName = 27,
    kFourSegIDName = 28,
    kFiveSegName = 29,
    kFiveSegIDName = 30,
    kHostDirectory = 31,
  };
  static constexpr int kCount = 32;

  std::array<std::string, kCount> items;

  const std::string& operator[](Index i) const { return items[i]; }
  std::string& operator[](Index i) { return items[i]; }

  const std::string& FileDescription() const { return items[kFileDescription]; }
  const std::string& FileVersion() const { return items[kFileVersion]; }
  const std::string& DeviceName() const { return items[kDeviceName]; }
  const std::string& DevTypeName() const { return items[kDevTypeName]; }
  const std::string& DevIDName() const { return items[kDevIDName]; }
  const std::string& ChName() const { return items[kChName]; }
  const std::string& ChIDName() const { return items[kChIDName]; }
  const std::string& BitName() const { return items[kBitName]; }
  const std::string& BitIDName() const { return items[kBitIDName]; }
  const std::string& HostDirectory() const { return items[kHostDirectory]; }
};

// The version key of an index ("" for the unused indexes 13, 14, 16 and for
// the computed ones, 12 and 31).
std::string_view FileInfoKey(int index);
// A record holding only the defaults of the keys that have one.
TfileInfo DefaultFileInfo();

// Everything up to and including the last '/' or '\' of a path, with '\'
// turned into '/'; empty when the path has no separator.
std::string DirectoryPart(std::string_view path);

// The host directory from the host program's path: its directory part with
// blanks trimmed, or "../" when "Tesmark.ini" is not found there.
std::string ComputeHostDirectory(std::string_view host_program_path);

// The records as the library builds them at load. The host's texts come
// from the host program's version resource; a host without one (every Linux
// host) may give them in "Vanta.exe.ini", section "VERSION", in the host
// directory.
TfileInfo BuildDriverModuleInfo(const std::string& host_directory);
TfileInfo BuildHostModuleInfo(const std::string& host_directory);

// Process-wide records, read on first use. The references stay valid until
// the library is unloaded, also across ReloadModuleInfo.
const TfileInfo& HostModuleInfo();
const TfileInfo& DriverModuleInfo();
// Reads the installation again (KELDA_PATH, Tesmark.ini, Vanta.exe.ini).
void ReloadModuleInfo();

}  // namespace tk571
