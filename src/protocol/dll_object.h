// The TK571 controller: the driver object the entry points create.
#pragma once

#include "protocol/custom_dll_object.h"

namespace tk571 {

class TDLLObject : public TCustomDLLObject {
 public:
  explicit TDLLObject(bool first_instance) : TCustomDLLObject(first_instance) {}

 protected:
  const char* ClassName() const override { return "TDLLObject"; }
};

}  // namespace tk571
