#include "driver/tag_kinds.h"

#include <array>

namespace tk571 {

namespace {

constexpr std::array<TagKind, 8> kKinds = {{
    {"LOAD_SETM", "将配方下传", 1, 1, 1.0, 0.0},
    {"READ_SETM", "读取仪表中的配方", 1, 1, 1.0, 0.0},
    {"ENQ", "读取最终实际配料值", 0, 0, 65535.0, -65535.0},
    {"READ", "读取实时计量值", 0, 0, 65535.0, -65535.0},
    {"M_FINAL", "目标重量设定", 0, 2, 65535.0, -65535.0},
    {"M_COARSE", "粗计量设定", 0, 2, 65535.0, -65535.0},
    {"M_FINE", "过冲量设定", 0, 2, 65535.0, -65535.0},
    {"START_UP", "启动或停止生产", 1, 1, 1.0, 0.0},
}};

}  // namespace

std::span<const TagKind> TagKinds() {
  return kKinds;
}

}  // namespace tk571
