// The one place where a driver object's line thread and the host's calls
// meet. Only the line thread reads and changes the object; a host call posts
// what it wants done and reads what the line thread last published, each
// under this mailbox's short lock, which the line thread never holds while
// it talks to the line.
//
// The line thread publishes the tags whose value or quality changed (the
// outbox OnDataRead takes), the pending message, and what a write needs to
// know of every tag (its kind, its value, a queued or running write), so that
// OnDataWrite answers at once with what the line thread will make of it.
#pragma once

#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "engine/changed_tags.h"
#include "engine/tag_value.h"
#include "engine/write_verdict.h"

namespace tk571 {

// Something a host call asks of the line thread.
struct HostPost {
  enum class Kind : uint8_t { kWrite, kEnLog };
  Kind kind = Kind::kWrite;
  // kWrite: the tag and its value, and what the host was told it comes to.
  uint32_t tag_id = 0;
  TagValue value;
  WriteVerdict told = WriteVerdict::kRefused;
  // kEnLog: the state asked for.
  bool on = false;
};

// A tag as the host is told of it.
struct HostReport {
  uint32_t tag_id = 0;
  uint8_t data_kind = 0;
  TagValue value;
  uint32_t quality = 0;
};

// The published part of one tag.
struct PublishedTag {
  uint32_t tag_id = 0;
  WriteTag write;
};

class HostMailbox {
 public:
  // --- Host side.

  // One record of OnDataWrite: the tag, the record's value type and its
  // value (none for a type the host does not define).
  struct HostWrite {
    uint32_t tag_id;
    uint8_t value_type;
    std::optional<TagValue> value;
  };
  // Posts the writes of one OnDataWrite call and answers what the call
  // returns: the outcome of its last record that names a known tag of the
  // record's kind, each foreseen after the records before it; false when no
  // record does.
  bool PostWrites(const std::vector<HostWrite>& writes);
  void Post(HostPost post);
  // The tags changed since the last call, in the order of the tag list.
  std::vector<HostReport> TakeReports();
  // The pending message, taken: a notice held back takes its place.
  std::string TakeMessage();
  bool MessagePending() const;
  bool Started() const;
  int32_t ScanTime() const;
  // The host's event for a severe failure (IniDriverEx); 0 for none. It is
  // the host's setting, not the object's state: the line thread signals the
  // one set last.
  void SetFailEvent(uint32_t handle);
  uint32_t FailEvent() const;

  // --- Line-thread side.

  // What the host may write, as the object stands after its start.
  void PublishStart(std::vector<PublishedTag> tags, const WriteObject& object, int32_t scan_time);
  // The posts in the order of the host's calls. Their foreseen effect stays
  // in what the host sees until the next Publish.
  std::vector<HostPost> TakePosts();
  bool HasPosts() const;
  // The object's state after a step or after taking the posts: the tags
  // whose value or write changed, and the object's write facts.
  struct TagChange {
    int32_t position;
    TagValue value;
    std::optional<TagValue> queued;
    bool running;
    // Reported to the host: its value or quality changed, or a write failed.
    bool report;
    uint32_t quality;
  };
  void Publish(const std::vector<TagChange>& changes, const WriteObject& object);
  // The pending message; an empty one lets the held notice take its place.
  void SetMessage(const std::string& text);
  // A notice that waits until the pending message has been taken.
  void HoldNotice(const std::string& text);
  std::string Message() const;
  // Everything published goes: the object stopped.
  void Close();

 private:
  // The host's view of a tag: published, or foreseen from a post.
  WriteTag& ViewOf(int32_t position);
  void Foresee(const HostPost& post);

  mutable std::mutex mutex_;
  std::string message_;
  std::string held_notice_;
  bool started_ = false;
  uint32_t fail_event_ = 0;
  int32_t scan_time_ = 0;
  std::vector<PublishedTag> tags_;
  std::unordered_map<uint32_t, int32_t> positions_;
  WriteObject object_;
  // The published state with the foreseen effect of the posts not yet
  // published on top.
  std::unordered_map<int32_t, WriteTag> foreseen_tags_;
  WriteObject foreseen_object_;
  std::vector<HostPost> posts_;
  // The outbox: the latest report of every changed tag.
  std::vector<HostReport> reports_;
  ChangedTags changed_;
};

}  // namespace tk571
