// The controller's tag types.
#pragma once

#include "engine/tag_type.h"

namespace tk571 {

enum TagTypeIndex : int32_t {
  kTypeENQ = 0,
  kTypeREAD = 1,
  kTypeM_FINAL = 2,
  kTypeM_COARSE = 3,
  kTypeM_FINE = 4,
  kTypeM_MEDIUM = 5,
  kTypeLOAD_SETM = 6,
  kTypeSTART_UP = 7,
  kTypeREAD_SETM = 8,
};

TagTypeTable ControllerTagTypes();

}  // namespace tk571
