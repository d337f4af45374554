// The tag address parser: the parts of an address such as READ2:3.1 (type
// name, device number, ":" channel, "." bit and further "." segments) read
// against a tag type table. It needs no driver object: what it finds missing
// or wrong in a part is a note, which the driver object turns into its hint
// and error lines.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "config/device_pdb.h"
#include "engine/tag_type.h"

namespace tk571 {

enum class AddressNote : uint8_t {
  kNone,
  kMissing,  // the part is absent; the value is the fallback taken instead
  kIllegal,  // the part is not a number; the value is -1
};

struct AddressPart {
  int32_t value = -1;
  AddressNote note = AddressNote::kNone;
};

// The row of the longest type name that begins the address (letter case
// ignored), or -1.
int32_t AddressTypeIndex(TagTypeTable types, std::string_view address);
// The device number before ":"; `default_device` when there is no colon.
AddressPart AddressDevice(TagTypeTable types, std::string_view address, int32_t default_device);
// The channel after ":" up to the first "."; for a device of type `dev_type`.
AddressPart AddressChannel(TagTypeTable types, std::string_view address, uint8_t dev_type);
// The bit after the first ".".
AddressPart AddressBit(TagTypeTable types, std::string_view address, uint8_t dev_type);
// The segment after `dots` dots (2, 3, 4: the third to fifth segments); 0
// when absent.
AddressPart AddressSegment(TagTypeTable types, std::string_view address, uint8_t dev_type,
                           int dots);

// A whole address as the tag editor has it checked: the device types come
// from the parameter block.
struct ParsedAddress {
  int32_t type_index = -1;
  AddressPart device;
  AddressPart bit;
  AddressPart channel;
  AddressPart segments[3];
  // TYPE + device + ":" + channel + "." + bit; the table's first type name
  // stands in for an unknown type.
  std::string normalised;
};
ParsedAddress ParseTagAddress(TagTypeTable types, std::string_view address, int32_t default_device,
                              const TDevicePDB& block);

}  // namespace tk571
