#include "protocol/tag_type_table.h"

#include <array>

namespace tk571 {

namespace {

// Every type has a channel from 1 up to its maximum and no bit number.
constexpr std::array<TagTypeRow, 9> kRows = {{
    {"ENQ", 1, 0, 14, 1, 4, kNoLimit, kNoLimit},
    {"READ", 1, 0, 14, 1, 1, kNoLimit, kNoLimit},
    {"M_FINAL", 1, 1, 15, 1, 4, kNoLimit, kNoLimit},
    {"M_COARSE", 1, 1, 15, 1, 4, kNoLimit, kNoLimit},
    {"M_FINE", 1, 1, 15, 1, 4, kNoLimit, kNoLimit},
    {"M_MEDIUM", 1, 1, 15, 1, 4, kNoLimit, kNoLimit},
    {"LOAD_SETM", 0, 1, 3, 1, 1, kNoLimit, kNoLimit},
    {"START_UP", 0, 1, 3, 1, 1, kNoLimit, kNoLimit},
    {"READ_SETM", 0, 1, 3, 1, 1, kNoLimit, kNoLimit},
}};

}  // namespace

TagTypeTable ControllerTagTypes() {
  return kRows;
}

}  // namespace tk571
