#include "platform/sibling_module.h"

namespace tk571::platform {

// The Windows DLL brings its dialogs with it once they exist; there is no
// module to load beside it.
SiblingSymbol LoadSiblingSymbol(const std::string& /*file_name*/, const char* /*symbol*/) {
  return {nullptr, "no module"};
}

}  // namespace tk571::platform
