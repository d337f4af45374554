#include <dlfcn.h>

#include "platform/sibling_module.h"

namespace tk571::platform {

namespace {

std::string LastLoaderError() {
  const char* text = dlerror();
  return text ? text : "unknown loader error";
}

// The file this code was loaded from: the driver's library, or the program
// when the driver is linked into it.
std::string OwnFile() {
  Dl_info info{};
  if (dladdr(reinterpret_cast<void*>(&LoadSiblingSymbol), &info) == 0 || !info.dli_fname) {
    return std::string();
  }
  return info.dli_fname;
}

}  // namespace

SiblingSymbol LoadSiblingSymbol(const std::string& file_name, const char* symbol) {
  const std::string own = OwnFile();
  if (own.empty()) return {nullptr, "the driver's own file is unknown"};
  const std::size_t slash = own.rfind('/');
  const std::string path =
      (slash == std::string::npos ? std::string("./") : own.substr(0, slash + 1)) + file_name;
  void* module = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
  if (!module) return {nullptr, LastLoaderError()};
  void* address = dlsym(module, symbol);
  if (!address) return {nullptr, LastLoaderError()};
  // The module now holds pointers into the driver: the driver may no longer
  // be unmapped when the host closes it. A program that links the driver in
  // has nothing to pin.
  dlopen(own.c_str(), RTLD_NOW | RTLD_NOLOAD | RTLD_NODELETE);
  return {address, std::string()};
}

}  // namespace tk571::platform
