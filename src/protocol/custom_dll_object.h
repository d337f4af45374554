// The table-driven protocol layer between the engine and the controller.
#pragma once

#include "engine/base_dll_object.h"

namespace tk571 {

class TCustomDLLObject : public TBaseDLLObject {
 public:
  explicit TCustomDLLObject(bool first_instance);

 protected:
  TagTypeTable TagTypes() const override;
  const char* ClassName() const override { return "TCustomDLLObject"; }
};

}  // namespace tk571
