#include "engine/tag_address.h"

#include "engine/address_text.h"

namespace tk571 {

namespace at = address_text;

namespace {

const TagTypeRow* Row(TagTypeTable types, int32_t index) {
  return (index >= 0 && static_cast<std::size_t>(index) < types.size())
             ? &types[static_cast<std::size_t>(index)]
             : nullptr;
}

std::string_view AfterTypeName(TagTypeTable types, std::string_view address) {
  const TagTypeRow* row = Row(types, AddressTypeIndex(types, address));
  return row ? address.substr(row->Name.size()) : std::string_view();
}

AddressPart Missing(int32_t fallback) {
  return {fallback, AddressNote::kMissing};
}

AddressPart Number(std::string_view text) {
  const auto n = at::ParseInt(text);
  return n ? AddressPart{*n} : AddressPart{-1, AddressNote::kIllegal};
}

}  // namespace

int32_t AddressTypeIndex(TagTypeTable types, std::string_view address) {
  int32_t best = -1;
  std::size_t best_length = 0;
  for (std::size_t row = 0; row < types.size(); ++row) {
    const std::string_view type_name = types[row].Name;
    if (type_name.empty() || type_name.size() <= best_length) continue;
    if (at::StartsWithNoCase(address, type_name)) {
      best = static_cast<int32_t>(row);
      best_length = type_name.size();
    }
  }
  return best;
}

AddressPart AddressDevice(TagTypeTable types, std::string_view address, int32_t default_device) {
  if (AddressTypeIndex(types, address) < 0) return {};
  const std::string_view rest = AfterTypeName(types, address);
  auto colon = at::FindOne(rest, ":");
  if (!colon) colon = at::FindOne(rest, at::kWideColon);
  if (!colon) return Missing(default_device);
  return Number(rest.substr(0, colon->at));
}

AddressPart AddressChannel(TagTypeTable types, std::string_view address, uint8_t dev_type) {
  if (!IsDeviceTypeRow(dev_type)) return {};
  const TagTypeRow* row = Row(types, AddressTypeIndex(types, address));
  if (!row || row->ChannelMin == kNoLimit) return {};
  std::string_view text = AfterTypeName(types, address);
  if (const auto colon = at::FindColon(text)) text = text.substr(colon->at + colon->length);
  const auto dot = at::FindDot(text);
  if (dot) text = text.substr(0, dot->at);
  if (text.empty() && !dot) return Missing(row->ChannelMin);
  return Number(text);
}

AddressPart AddressBit(TagTypeTable types, std::string_view address, uint8_t dev_type) {
  if (!IsDeviceTypeRow(dev_type)) return {};
  const TagTypeRow* row = Row(types, AddressTypeIndex(types, address));
  if (!row || row->BitMin == kNoLimit) return {};
  std::string_view text = AfterTypeName(types, address);
  const auto dot = at::FindDot(text);
  if (!dot) return Missing(row->BitMin);
  text = text.substr(dot->at + dot->length);
  const auto next = at::FindDot(text);
  if (next) text = text.substr(0, next->at);
  if (text.empty() && !next) return Missing(row->BitMin);
  return Number(text);
}

AddressPart AddressSegment(TagTypeTable types, std::string_view address, uint8_t dev_type,
                           int dots) {
  if (!IsDeviceTypeRow(dev_type)) return {};
  if (AddressTypeIndex(types, address) < 0) return {};
  std::string_view text = AfterTypeName(types, address);
  for (int i = 0; i < dots; ++i) {
    const auto dot = at::FindDot(text);
    if (!dot) return {0};
    text = text.substr(dot->at + dot->length);
  }
  const auto next = at::FindDot(text);
  if (next) text = text.substr(0, next->at);
  if (text.empty() && !next) return {0};
  return Number(text);
}

ParsedAddress ParseTagAddress(TagTypeTable types, std::string_view address, int32_t default_device,
                              const TDevicePDB& block) {
  ParsedAddress parsed;
  parsed.type_index = AddressTypeIndex(types, address);
  parsed.device = AddressDevice(types, address, default_device);
  const int32_t device = parsed.device.value;
  const uint8_t code =
      (device >= 0 && device < kDeviceCount) ? block.TypeCode(device) : kEmptyTypeCode;
  parsed.bit = AddressBit(types, address, code);
  parsed.channel = AddressChannel(types, address, code);
  for (int i = 0; i < 3; ++i) parsed.segments[i] = AddressSegment(types, address, code, i + 2);
  const TagTypeRow* row = Row(types, parsed.type_index);
  if (!row) row = Row(types, 0);
  parsed.normalised = std::string(row ? row->Name : std::string_view()) + std::to_string(device) +
                      ":" + std::to_string(parsed.channel.value) + "." +
                      std::to_string(parsed.bit.value);
  return parsed;
}

}  // namespace tk571
