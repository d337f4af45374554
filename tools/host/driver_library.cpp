#include "driver_library.h"

#include <dlfcn.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <system_error>

namespace tk571::host {
namespace {

// The runtime name (the soname): installed without the development files,
// the unversioned link does not exist.
constexpr const char* kRuntimeName = TK571_HOST_RUNTIME_NAME;

template <typename F>
bool Find(void* handle, const char* name, F* function, std::string* missing) {
  *function = reinterpret_cast<F>(dlsym(handle, name));
  if (*function == nullptr) {
    if (!missing->empty()) *missing += ", ";
    *missing += name;
  }
  return *function != nullptr;
}

}  // namespace

std::unique_ptr<DriverLibrary> DriverLibrary::Open(const std::string& path, std::string* error) {
  void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr) {
    const char* reason = dlerror();
    *error = "cannot load " + path + ": " + (reason ? reason : "unknown reason");
    return nullptr;
  }
  std::unique_ptr<DriverLibrary> library(new DriverLibrary());
  library->handle_ = handle;
  library->path_ = path;
  std::string missing;
  DriverLibrary& l = *library;
  Find(handle, "GetTagAddrList", &l.GetTagAddrList, &missing);
  Find(handle, "DLLTestDev", &l.DLLTestDev, &missing);
  Find(handle, "TagEdAddr", &l.TagEdAddr, &missing);
  Find(handle, "FullPDB", &l.FullPDB, &missing);
  Find(handle, "GetPDBLen", &l.GetPDBLen, &missing);
  Find(handle, "DLLEdDev", &l.DLLEdDev, &missing);
  Find(handle, "WriteLog", &l.WriteLog, &missing);
  Find(handle, "FreeDriver", &l.FreeDriver, &missing);
  Find(handle, "OnDataWrite", &l.OnDataWrite, &missing);
  Find(handle, "OnDataRead", &l.OnDataRead, &missing);
  Find(handle, "DetectScanTime", &l.DetectScanTime, &missing);
  Find(handle, "GetDeviceStatus", &l.GetDeviceStatus, &missing);
  Find(handle, "IniDriverEx", &l.IniDriverEx, &missing);
  Find(handle, "IniDriver", &l.IniDriver, &missing);
  if (!missing.empty()) {
    *error = path + " is not a TK571 driver: it lacks " + missing;
    return nullptr;
  }
  return library;
}

DriverLibrary::~DriverLibrary() {
  if (handle_ != nullptr) dlclose(handle_);
}

std::string DefaultLibraryPath() {
  if (const char* path = std::getenv("TK571_LIBRARY"); path != nullptr && *path != '\0') {
    return path;
  }
  std::error_code ec;
  const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", ec);
  if (ec) return kRuntimeName;
  // Only a program of the build tree (tools/host, tools/gateway, ...) takes
  // the library of the build tree; an installed program never reaches back
  // into the tree it was built in, even when it is installed below it.
  if (std::filesystem::equivalent(self.parent_path().parent_path(), TK571_HOST_TOOLS_BUILD_DIR,
                                  ec)) {
    return TK571_HOST_BUILT_LIBRARY;
  }
  const std::filesystem::path prefix = self.parent_path().parent_path();
  for (const char* dir : {TK571_HOST_INSTALL_LIBDIR, "lib", "lib64"}) {
    const std::filesystem::path candidate = prefix / dir / kRuntimeName;
    if (std::filesystem::exists(candidate, ec)) return candidate.string();
  }
  return kRuntimeName;
}

}  // namespace tk571::host
