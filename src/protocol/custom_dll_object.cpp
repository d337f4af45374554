#include "protocol/custom_dll_object.h"

#include "protocol/tag_type_table.h"

namespace tk571 {

TCustomDLLObject::TCustomDLLObject(bool first_instance) : TBaseDLLObject(first_instance) {
  EnLog_ = false;
}

TagTypeTable TCustomDLLObject::TagTypes() const {
  return ControllerTagTypes();
}

}  // namespace tk571
