// Reading the host's tag definition record. The driver never keeps a
// pointer into it.
#pragma once

#include <string>

#include "engine/tag_value.h"
#include "tk571/driver.h"

namespace tk571 {

// A fixed-size text field: up to its first zero byte or the whole field.
std::string FieldText(const char* field, std::size_t size);

// The initial value: OLE scalar types, a UTF-16 BSTR or a GBK string
// pointer (type 0x100). Null, array, by-reference and unknown types are empty.
TagValue InitialValueOf(const TTagVariant& v);

}  // namespace tk571
