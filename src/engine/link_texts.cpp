#include "engine/link_texts.h"

#include "platform/gbk.h"

namespace tk571 {

const std::string& LinkStatusText(uint8_t code, bool comm_enabled) {
  switch (code) {
    case 0:
      return comm_enabled ? TK571_GBK("通讯始终不成功!") : TK571_GBK("通讯暂停!");
    case 1:
      return TK571_GBK("通讯正常!");
    case 2:
      return TK571_GBK("通讯出现干扰!");
    case 3:
      return TK571_GBK("通讯出现故障!");
    case 4:
      return TK571_GBK("通讯线路断路!");
    default:
      return TK571_GBK("通讯暂停!");
  }
}

const std::string& CommEnabledText(bool comm_enabled) {
  return comm_enabled ? TK571_GBK("打开通信线路") : TK571_GBK("关闭通信线路");
}

}  // namespace tk571
