#include "engine/write_verdict.h"

#include "engine/library_values.h"
#include "engine/tag_value.h"
#include "tk571/driver.h"

namespace tk571 {

WriteVerdict JudgeWrite(const WriteObject& object, const WriteTag& tag, const TagValue& value) {
  if (!object.initialized) return WriteVerdict::kRefused;
  switch (tag.role) {
    case WriteRole::kEnLog:
    case WriteRole::kEnComm:
      return WriteVerdict::kSwitched;
    case WriteRole::kCommLink:
      return WriteVerdict::kLinkStatus;
    case WriteRole::kDevice:
      break;
  }
  // The record's own flag: 0 for tags without a type and for the link
  // status tags, which have no row in the type table.
  if (!tag.writable) return WriteVerdict::kNotWritable;
  if ((value.IsNumber() && tag.data_kind != TK571_VALUE_FLOAT) ||
      (value.IsBoolean() && tag.data_kind != TK571_VALUE_BOOL) ||
      (value.IsText() && tag.data_kind != TK571_VALUE_STRING))
    return WriteVerdict::kWrongKind;
  if (!object.comm_enabled) return WriteVerdict::kCommOff;
  // The tag shows its old value until a write is answered, so a write that
  // corrects a queued one may well equal the shown value: it still has to
  // replace the queued write.
  if (value == tag.value && !tag.queued && !tag.action) return WriteVerdict::kSameValue;
  if (tag.running) return WriteVerdict::kWriteRunning;
  return WriteVerdict::kBuild;
}

WriteVerdict ForeseeWrite(WriteObject& object, WriteTag& tag, const TagValue& value) {
  const WriteVerdict verdict = JudgeWrite(object, tag, value);
  if (verdict == WriteVerdict::kSwitched) {
    if (const std::optional<bool> on = SwitchState(value)) {
      if (tag.role == WriteRole::kEnComm) object.comm_enabled = *on;
      tag.value = SwitchValue(tag.data_kind, *on, tag.value);
    }
    return verdict;
  }
  if (verdict != WriteVerdict::kBuild) return verdict;
  // Without a command the tag keeps the requested value.
  if (tag.collected || (tag.queued && *tag.queued == value)) {
    tag.value = value;
    return WriteVerdict::kKept;
  }
  if (!tag.queued && object.queued_writes >= kWriteQueueLimit) return WriteVerdict::kQueueFull;
  if (!tag.queued) ++object.queued_writes;
  tag.queued = value;
  if (tag.whole_numbers && value.IsDouble())
    if (const auto rounded = RoundToInt32(value.AsDouble()))
      tag.queued = TagValue::Integer(*rounded);
  return WriteVerdict::kQueued;
}

TagValue SwitchValue(uint8_t data_kind, bool on, const TagValue& shown) {
  if (data_kind == TK571_VALUE_FLOAT) return TagValue::Integer(on ? 1 : 0);
  if (data_kind == TK571_VALUE_BOOL) return TagValue::Boolean(on);
  return shown;
}

std::optional<bool> SwitchState(const TagValue& value) {
  if (value.IsNumber()) return value.AsDouble() != 0;
  if (value.IsBoolean()) return value.AsBoolean();
  return std::nullopt;
}

}  // namespace tk571
