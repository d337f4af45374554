// The records the driver reads: TTagInfo definitions for IniDriver and
// TTagValueRec records for OnDataWrite.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "tag_file.h"
#include "tk571/driver.h"

namespace tk571::host {

// OLE variant type codes of the initial values the host hands over.
inline constexpr uint16_t kVariantEmpty = 0;
inline constexpr uint16_t kVariantDouble = 5;
inline constexpr uint16_t kVariantBool = 11;
inline constexpr uint16_t kVariantGbkString = 0x100;
inline constexpr int16_t kVariantTrue = -1;

// TTagInfo records and the array of pointers IniDriver takes. Initial texts
// point into the definitions, which must outlive the table.
class TagInfoTable {
 public:
  explicit TagInfoTable(const std::vector<TagDefinition>& tags);
  TagInfoTable(const TagInfoTable&) = delete;
  TagInfoTable& operator=(const TagInfoTable&) = delete;

  int32_t Count() const { return static_cast<int32_t>(records_.size()); }
  TTagInfo** Pointers() { return pointers_.data(); }
  const TTagInfo& Record(std::size_t i) const { return *records_[i]; }

 private:
  std::vector<std::unique_ptr<TTagInfo>> records_;
  std::vector<TTagInfo*> pointers_;
};

// The tag a write names: its address (letter case ignored) or its name.
const TagDefinition* FindTag(const std::vector<TagDefinition>& tags, std::string_view target);

// A write record for `tag` from the value as typed (UTF-8). A string value is
// converted into `text_storage`, which the record points at. Returns an error
// text, or empty.
std::string MakeWriteRecord(const TagDefinition& tag, std::string_view value,
                            std::string* text_storage, TTagValueRec* record);

}  // namespace tk571::host
