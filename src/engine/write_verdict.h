// What a host's write of one tag comes to. The line thread decides it with
// the object's own state when it takes the write; the host's call decides it
// beforehand from what the line thread last published, so that OnDataWrite
// answers at once with what the write will come to. Both go through the
// same checks, in the order WriteExecute has always made them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

#include "engine/tag_value.h"

namespace tk571 {

// The switches the driver holds itself and the link status, which are tags
// without a command of their own.
enum class WriteRole : uint8_t { kDevice, kEnLog, kEnComm, kCommLink };

// One tag as a write sees it.
struct WriteTag {
  uint8_t data_kind = 0;
  WriteRole role = WriteRole::kDevice;
  bool writable = false;
  // A command to the device (start a batch, load a recipe): every write goes
  // out, also one of the value the tag shows.
  bool action = false;
  // Its writes are collected in the driver and make no command (set-points).
  bool collected = false;
  // A number queued for it goes out as a whole number.
  bool whole_numbers = false;
  TagValue value;
  // The value of the write that waits in the queue for this tag.
  std::optional<TagValue> queued;
  // A write of this tag is on the line.
  bool running = false;
};

// The object as a write sees it.
struct WriteObject {
  bool initialized = false;
  bool comm_enabled = true;
  std::size_t queued_writes = 0;
};

enum class WriteVerdict : uint8_t {
  kRefused,     // the object has not started
  kSwitched,    // ENLOG or ENCOMMLINK: done at once
  kLinkStatus,  // COMMLINK cannot be written
  kNotWritable,
  kWrongKind,     // the value's kind is not the tag's
  kCommOff,       // ENCOMMLINK is 0
  kSameValue,     // the tag shows the value already
  kWriteRunning,  // a write of the tag is on the line
  kBuild,         // every check passed: a command is built
  kKept,          // no command: a collected set-point, or the same write queued
  kQueueFull,
  kQueued,
};

// What OnDataWrite answers for a write with this outcome.
inline bool Accepted(WriteVerdict verdict) {
  return verdict == WriteVerdict::kSwitched || verdict == WriteVerdict::kQueued;
}

// The checks before a command is built; kBuild when all pass.
WriteVerdict JudgeWrite(const WriteObject& object, const WriteTag& tag, const TagValue& value);

// The whole outcome from the facts alone, and its effect on them: what the
// line thread will make of the write when it takes it.
WriteVerdict ForeseeWrite(WriteObject& object, WriteTag& tag, const TagValue& value);

// The value a switch tag shows for its state; a text tag keeps `shown`.
TagValue SwitchValue(uint8_t data_kind, bool on, const TagValue& shown);

// The state a switch takes from a written value; none for a text.
std::optional<bool> SwitchState(const TagValue& value);

}  // namespace tk571
