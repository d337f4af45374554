#include "engine/tag_info_reader.h"

#include <cstring>

#include "platform/gbk.h"

namespace tk571 {

namespace {

enum VarType : uint16_t {
  VT_EMPTY = 0,
  VT_I2 = 2,
  VT_I4 = 3,
  VT_R4 = 4,
  VT_R8 = 5,
  VT_CY = 6,
  VT_DATE = 7,
  VT_BSTR = 8,
  VT_ERROR = 10,
  VT_BOOL = 11,
  VT_DECIMAL = 14,
  VT_I1 = 16,
  VT_UI1 = 17,
  VT_UI2 = 18,
  VT_UI4 = 19,
  VT_I8 = 20,
  VT_UI8 = 21,
  VT_INT = 22,
  VT_UINT = 23,
  VT_GBK_STRING = 0x100,
};

template <typename T>
T DataAs(const TTagVariant& v) {
  T value;
  std::memcpy(&value, v.Data.Raw, sizeof(T));
  return value;
}

// A BSTR points at UTF-16 code units ended by a zero unit.
std::string Utf16ToUtf8(const char16_t* text) {
  std::string out;
  for (std::size_t i = 0; text[i] != 0; ++i) {
    uint32_t cp = text[i];
    if (cp >= 0xD800 && cp <= 0xDBFF && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
      cp = 0x10000 + ((cp - 0xD800) << 10) + (text[i + 1] - 0xDC00);
      ++i;
    }
    if (cp < 0x80) {
      out += static_cast<char>(cp);
    } else if (cp < 0x800) {
      out += static_cast<char>(0xC0 | (cp >> 6));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
      out += static_cast<char>(0xE0 | (cp >> 12));
      out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (cp >> 18));
      out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    }
  }
  return out;
}

}  // namespace

std::string FieldText(const char* field, std::size_t size) {
  const void* end = std::memchr(field, 0, size);
  return std::string(field, end ? static_cast<const char*>(end) - field : size);
}

TagValue InitialValueOf(const TTagVariant& v) {
  switch (v.vt) {
    case VT_I2:
      return TagValue::Integer(DataAs<int16_t>(v));
    case VT_I4:
    case VT_INT:
    case VT_ERROR:
      return TagValue::Integer(DataAs<int32_t>(v));
    case VT_R4:
      return TagValue::Double(DataAs<float>(v));
    case VT_R8:
    case VT_DATE:
      return TagValue::Double(DataAs<double>(v));
    case VT_CY:
      return TagValue::Double(static_cast<double>(DataAs<int64_t>(v)) / 10000.0);
    case VT_BOOL:
      return TagValue::Boolean(DataAs<int16_t>(v) != 0);
    case VT_I1:
      return TagValue::Integer(DataAs<int8_t>(v));
    case VT_UI1:
      return TagValue::Integer(DataAs<uint8_t>(v));
    case VT_UI2:
      return TagValue::Integer(DataAs<uint16_t>(v));
    case VT_UI4:
    case VT_UINT:
      return TagValue::Integer(DataAs<uint32_t>(v));
    case VT_I8:
      return TagValue::Integer(DataAs<int64_t>(v));
    case VT_UI8:
      return TagValue::Double(static_cast<double>(DataAs<uint64_t>(v)));
    case VT_BSTR: {
      const auto* text = static_cast<const char16_t*>(DataAs<const void*>(v));
      return TagValue::Text(text ? platform::ToGbk(Utf16ToUtf8(text)) : std::string());
    }
    case VT_GBK_STRING: {
      const auto* text = static_cast<const char*>(DataAs<const void*>(v));
      return TagValue::Text(text ? std::string(text) : std::string());
    }
    default:
      return TagValue();
  }
}

}  // namespace tk571
