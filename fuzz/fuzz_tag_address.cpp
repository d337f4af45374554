// Tag addresses from the host's tag editor and tag definitions: any bytes
// must be parsed and normalised without a crash or a read past the text. The
// parser needs no driver object; the controller's tag types and a block with
// devices 0 and 1 configured give every part a chance to be read.
#include <cstdint>
#include <string_view>

#include "engine/tag_address.h"
#include "protocol/tag_type_table.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view address(reinterpret_cast<const char*>(data), size);
  static const tk571::TDevicePDB block = [] {
    tk571::TDevicePDB b;
    b.FillDefaults();
    b.SetTypeCode(1, 0);
    return b;
  }();
  const tk571::TagTypeTable types = tk571::ControllerTagTypes();
  const tk571::ParsedAddress parsed = tk571::ParseTagAddress(types, address, 1, block);
  // A normalised address is an address the parser reads back the same way.
  const tk571::ParsedAddress again = tk571::ParseTagAddress(types, parsed.normalised, 1, block);
  if (parsed.type_index >= 0 && parsed.device.value >= 0 && parsed.channel.value >= 0 &&
      parsed.bit.value >= 0 && again.normalised != parsed.normalised)
    __builtin_trap();
  return 0;
}
