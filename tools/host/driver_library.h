// The driver library as a host sees it: loaded with dlopen, reached only
// through the fourteen entry points of the public header.
#pragma once

#include <cstdlib>
#include <memory>
#include <string>
#include <string_view>

#include "tk571/driver.h"

namespace tk571::host {

// A string the driver handed over; the host frees it with free().
class HostString {
 public:
  HostString() = default;
  explicit HostString(char* text) : text_(text) {}
  bool Empty() const { return !text_ || text_.get()[0] == '\0'; }
  std::string_view View() const {
    return text_ ? std::string_view(text_.get()) : std::string_view();
  }

 private:
  struct Free {
    void operator()(char* p) const { std::free(p); }
  };
  std::unique_ptr<char, Free> text_;
};

class DriverLibrary {
 public:
  // Loads the library and looks up every entry point; on failure returns null
  // and explains why in `error`.
  static std::unique_ptr<DriverLibrary> Open(const std::string& path, std::string* error);
  ~DriverLibrary();
  DriverLibrary(const DriverLibrary&) = delete;
  DriverLibrary& operator=(const DriverLibrary&) = delete;

  const std::string& Path() const { return path_; }

  TK571_GetTagAddrList GetTagAddrList = nullptr;
  TK571_DLLTestDev DLLTestDev = nullptr;
  TK571_TagEdAddr TagEdAddr = nullptr;
  TK571_FullPDB FullPDB = nullptr;
  TK571_GetPDBLen GetPDBLen = nullptr;
  TK571_DLLEdDev DLLEdDev = nullptr;
  TK571_WriteLog WriteLog = nullptr;
  TK571_FreeDriver FreeDriver = nullptr;
  TK571_OnDataWrite OnDataWrite = nullptr;
  TK571_OnDataRead OnDataRead = nullptr;
  TK571_DetectScanTime DetectScanTime = nullptr;
  TK571_GetDeviceStatus GetDeviceStatus = nullptr;
  TK571_IniDriverEx IniDriverEx = nullptr;
  TK571_IniDriver IniDriver = nullptr;

 private:
  DriverLibrary() = default;
  void* handle_ = nullptr;
  std::string path_;
};

// Where the library is looked for when --library is not given: TK571_LIBRARY;
// for the program in its build tree the library built with it; otherwise the
// runtime name libtk571_485.so.<major> installed beside this program
// (../lib*/ of its directory), and last that name alone for the dynamic
// loader's search.
std::string DefaultLibraryPath();

}  // namespace tk571::host
