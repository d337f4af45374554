#include "tag_records.h"

#include <algorithm>
#include <cstring>

#include "text_codec.h"
#include "tokens.h"

namespace tk571::host {
namespace {

void CopyField(char* field, std::size_t size, const std::string& text) {
  std::memcpy(field, text.data(), std::min(size, text.size()));
}

}  // namespace

TagInfoTable::TagInfoTable(const std::vector<TagDefinition>& tags) {
  for (const TagDefinition& tag : tags) {
    auto info = std::make_unique<TTagInfo>();
    std::memset(info.get(), 0, sizeof(TTagInfo));
    info->TagID = tag.id;
    CopyField(info->Name, sizeof(info->Name), tag.name_gbk);
    CopyField(info->Address, sizeof(info->Address), tag.address_gbk);
    info->DataKind = tag.kind;
    info->ScanTime = tag.scan_ms;
    TTagVariant& v = info->InitialValue;
    if (const double* number = std::get_if<double>(&tag.initial)) {
      v.vt = kVariantDouble;
      v.Data.Double = *number;
    } else if (const bool* on = std::get_if<bool>(&tag.initial)) {
      v.vt = kVariantBool;
      v.Data.Bool = *on ? kVariantTrue : 0;
    } else if (const std::string* text = std::get_if<std::string>(&tag.initial)) {
      v.vt = kVariantGbkString;
      v.Data.Pointer = text->c_str();
    } else {
      v.vt = kVariantEmpty;
    }
    pointers_.push_back(info.get());
    records_.push_back(std::move(info));
  }
}

const TagDefinition* FindTag(const std::vector<TagDefinition>& tags, std::string_view target) {
  const std::string wanted = ToUpperAscii(target);
  for (const TagDefinition& tag : tags) {
    if (ToUpperAscii(tag.address) == wanted) return &tag;
  }
  for (const TagDefinition& tag : tags) {
    if (tag.name == target) return &tag;
  }
  return nullptr;
}

std::string MakeWriteRecord(const TagDefinition& tag, std::string_view value,
                            std::string* text_storage, TTagValueRec* record) {
  std::memset(record, 0, sizeof(*record));
  record->TagID = tag.id;
  record->ValueType = tag.kind;
  switch (tag.kind) {
    case TK571_VALUE_FLOAT: {
      const std::optional<double> number = ParseNumber(value);
      if (!number) return "\"" + std::string(value) + "\" is not a number";
      record->Value.Float = *number;
      return std::string();
    }
    case TK571_VALUE_BOOL: {
      const std::optional<bool> on = ParseSwitch(value);
      if (!on) return "\"" + std::string(value) + "\" is not 0/1 or on/off";
      record->Value.Bool = *on ? 1u : 0u;
      return std::string();
    }
    default: {
      const std::optional<std::string> text = Utf8ToGbk(value);
      if (!text) return "\"" + std::string(value) + "\" has characters outside code page 936";
      *text_storage = *text;
      record->Value.String = text_storage->data();
      return std::string();
    }
  }
}

}  // namespace tk571::host
