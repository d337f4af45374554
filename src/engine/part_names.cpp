#include "engine/part_names.h"

#include "platform/gbk.h"

namespace tk571 {

const PartNames& DriverPartNames() {
  static const PartNames names{
      platform::ToGbk("TK571配料控制器(RS485)"),
      platform::ToGbk(" 智能仪表"),
      platform::ToGbk("设备号"),
      platform::ToGbk("通道地址"),
      platform::ToGbk("位号"),
      platform::ToGbk("第三段"),
      platform::ToGbk("第四段地址"),
      platform::ToGbk("第五段地址"),
  };
  return names;
}

}  // namespace tk571
