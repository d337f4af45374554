#include "config/module_info.h"

#include <atomic>
#include <cstdio>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/files.h"
#include "platform/gbk.h"
#include "platform/host_install.h"
#include "platform/host_version.h"
#include "platform/ini_file.h"

#ifndef TK571_VERSION_TEXT
#error "TK571_VERSION_TEXT must be defined by the build"
#endif

namespace tk571 {
namespace {

constexpr std::string_view kInstallationFile = "Tesmark.ini";
constexpr std::string_view kHostVersionFile = "Vanta.exe.ini";
constexpr std::string_view kHostVersionSection = "VERSION";
constexpr std::string_view kFallbackHostDirectory = "../";
#ifdef _WIN32
constexpr std::string_view kLibraryInternalName = "TK571_485";
constexpr std::string_view kLibraryFileName = "TK571_485.dll";
#else
constexpr std::string_view kLibraryInternalName = "libtk571_485";
constexpr std::string_view kLibraryFileName = "libtk571_485.so";
#endif

struct KeyDefault {
  std::string_view key;
  std::string_view default_utf8;
};

// Index → version key and default, in the order of the record.
constexpr std::array<KeyDefault, TfileInfo::kCount> kKeys = {{
    {"CompanyName", ""},
    {"FileDescription", ""},
    {"FileVersion", ""},
    {"InternalName", ""},
    {"LegalCopyright", ""},
    {"LegalTrademarks", ""},
    {"OriginalFileName", ""},
    {"ProductName", ""},
    {"ProductVersion", ""},
    {"SpecialBuild", ""},
    {"PrivateBuild", ""},
    {"Comments", ""},
    {"", ""},  // fixed file version, computed
    {"", ""},
    {"", ""},
    {"DeviceName", "无名设备"},
    {"", ""},
    {"DevTypeName", "其他设备"},
    {"DevIDName", "设备号"},
    {"ChName", "通道"},
    {"ChIDName", "通道号"},
    {"SlotName", "槽"},
    {"slotIDName", "槽号"},
    {"BitName", "位"},
    {"BitIDName", "位号"},
    {"ThirdSegName", "第三段"},
    {"ThirdSegIDName", "第三段"},
    {"FourSegName", "第四段地址"},
    {"FourSegIDName", "第四段地址"},
    {"FiveSegName", "第五段"},
    {"FiveSegIDName", "第五段地址"},
    {"", ""},  // host directory, computed
}};

std::string_view TrimControlAndBlank(std::string_view s) {
  while (!s.empty() && static_cast<unsigned char>(s.front()) <= ' ') s.remove_prefix(1);
  while (!s.empty() && static_cast<unsigned char>(s.back()) <= ' ') s.remove_suffix(1);
  return s;
}

// "a.b.c.d" with four decimal numbers of at most 16 bits each, normalised;
// empty for anything else. A version resource's fixed version has this form.
std::string FourPartVersion(std::string_view text) {
  unsigned parts[4];
  char tail = 0;
  const std::string s(text);
  if (std::sscanf(s.c_str(), "%5u.%5u.%5u.%5u%c", &parts[0], &parts[1], &parts[2], &parts[3],
                  &tail) != 4) {
    return std::string();
  }
  for (unsigned p : parts) {
    if (p > 0xFFFF) return std::string();
  }
  return std::to_string(parts[0]) + "." + std::to_string(parts[1]) + "." +
         std::to_string(parts[2]) + "." + std::to_string(parts[3]);
}

struct ModuleInfoSet {
  TfileInfo host;
  TfileInfo driver;
};

// Every generation stays alive until unload, so that a reference handed out
// before a reload never dangles.
struct Registry {
  std::mutex mutex;
  std::vector<std::unique_ptr<const ModuleInfoSet>> generations;
  std::atomic<const ModuleInfoSet*> current{nullptr};
};

Registry& GetRegistry() {
  static Registry registry;
  return registry;
}

const ModuleInfoSet* LoadLocked(Registry& r) {
  auto set = std::make_unique<ModuleInfoSet>();
  const std::string host_directory = ComputeHostDirectory(platform::HostProgramPath());
  set->host = BuildHostModuleInfo(host_directory);
  set->driver = BuildDriverModuleInfo(host_directory);
  const ModuleInfoSet* raw = set.get();
  r.generations.push_back(std::move(set));
  r.current.store(raw, std::memory_order_release);
  return raw;
}

const ModuleInfoSet& Current() {
  Registry& r = GetRegistry();
  if (const ModuleInfoSet* set = r.current.load(std::memory_order_acquire)) return *set;
  std::lock_guard<std::mutex> lock(r.mutex);
  if (const ModuleInfoSet* set = r.current.load(std::memory_order_acquire)) return *set;
  return *LoadLocked(r);
}

// Sets every keyed text of the record from a source of values; `lookup`
// gets the key and the text so far and answers the text to keep.
template <typename Lookup>
void FillKeyedTexts(TfileInfo& info, Lookup lookup) {
  for (int i = 0; i < TfileInfo::kCount; ++i) {
    const std::size_t at = static_cast<std::size_t>(i);
    if (kKeys[at].key.empty()) continue;
    info.items[at] = lookup(kKeys[at].key, info.items[at]);
  }
  info[TfileInfo::kFixedFileVersion] = FourPartVersion(info[TfileInfo::kFileVersion]);
}

}  // namespace

std::string_view FileInfoKey(int index) {
  if (index < 0 || index >= TfileInfo::kCount) return {};
  return kKeys[static_cast<std::size_t>(index)].key;
}

TfileInfo DefaultFileInfo() {
  TfileInfo info;
  for (int i = 0; i < TfileInfo::kCount; ++i) {
    const std::string_view d = kKeys[static_cast<std::size_t>(i)].default_utf8;
    if (!d.empty()) info.items[static_cast<std::size_t>(i)] = platform::ToGbk(d);
  }
  return info;
}

std::string DirectoryPart(std::string_view path) {
  const std::size_t last = path.find_last_of("/\\");
  if (last == std::string_view::npos) return std::string();
  std::string dir(path.substr(0, last + 1));
  for (char& c : dir) {
    if (c == '\\') c = '/';
  }
  return dir;
}

std::string ComputeHostDirectory(std::string_view host_program_path) {
  const std::string dir(TrimControlAndBlank(DirectoryPart(host_program_path)));
  if (!platform::IsRegularFile(dir + std::string(kInstallationFile))) {
    return std::string(kFallbackHostDirectory);
  }
  return dir;
}

TfileInfo BuildDriverModuleInfo(const std::string& host_directory) {
  TfileInfo info = DefaultFileInfo();
  info[TfileInfo::kFileVersion] = TK571_VERSION_TEXT;
  info[TfileInfo::kFixedFileVersion] = FourPartVersion(TK571_VERSION_TEXT);
  info[TfileInfo::kInternalName] = kLibraryInternalName;
  info[TfileInfo::kOriginalFileName] = kLibraryFileName;
  info[TfileInfo::kFileDescription] = TK571_GBK("TK571配料控制器通讯驱动程序");
  info[TfileInfo::kDeviceName] = TK571_GBK("TK571配料控制器(RS485)");
  info[TfileInfo::kDevTypeName] = TK571_GBK(" 智能仪表");
  info[TfileInfo::kDevIDName] = TK571_GBK("设备号");
  info[TfileInfo::kChIDName] = TK571_GBK("通道地址");
  info[TfileInfo::kBitName] = TK571_GBK("位");
  info[TfileInfo::kBitIDName] = TK571_GBK("位号");
  info[TfileInfo::kChName] = TK571_GBK("通道");
  info[TfileInfo::kHostDirectory] = host_directory;
  return info;
}

TfileInfo BuildHostModuleInfo(const std::string& host_directory) {
  TfileInfo info = DefaultFileInfo();
  const platform::HostVersionResource resource;
  if (resource.Found()) {
    FillKeyedTexts(info, [&](std::string_view key, const std::string& current) {
      return resource.Value(key).value_or(current);
    });
  } else if (const std::optional<std::string> text = platform::ReadFileHead(
                 host_directory + std::string(kHostVersionFile), platform::kIniMaxFileBytes)) {
    FillKeyedTexts(info, [&](std::string_view key, const std::string& current) {
      return platform::IniValueFromText(*text, kHostVersionSection, key, current);
    });
  }
  info[TfileInfo::kHostDirectory] = host_directory;
  return info;
}

const TfileInfo& HostModuleInfo() {
  return Current().host;
}

const TfileInfo& DriverModuleInfo() {
  return Current().driver;
}

void ReloadModuleInfo() {
  Registry& r = GetRegistry();
  std::lock_guard<std::mutex> lock(r.mutex);
  LoadLocked(r);
}

}  // namespace tk571
