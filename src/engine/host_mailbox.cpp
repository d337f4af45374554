#include "engine/host_mailbox.h"

#include <utility>

namespace tk571 {

WriteTag& HostMailbox::ViewOf(int32_t position) {
  const auto [it, added] = foreseen_tags_.try_emplace(position);
  if (added) it->second = tags_[static_cast<std::size_t>(position)].write;
  return it->second;
}

void HostMailbox::Foresee(const HostPost& post) {
  if (post.kind != HostPost::Kind::kWrite) return;
  const auto found = positions_.find(post.tag_id);
  if (found == positions_.end()) return;
  ForeseeWrite(foreseen_object_, ViewOf(found->second), post.value);
}

bool HostMailbox::PostWrites(const std::vector<HostWrite>& writes) {
  std::lock_guard<std::mutex> lock(mutex_);
  bool result = false;
  for (const HostWrite& write : writes) {
    const auto found = positions_.find(write.tag_id);
    if (found == positions_.end() || !write.value) continue;
    WriteTag& tag = ViewOf(found->second);
    if (write.value_type != tag.data_kind) continue;
    HostPost post;
    post.tag_id = write.tag_id;
    post.value = *write.value;
    post.told = ForeseeWrite(foreseen_object_, tag, post.value);
    result = Accepted(post.told);
    posts_.push_back(std::move(post));
  }
  return result;
}

void HostMailbox::Post(HostPost post) {
  std::lock_guard<std::mutex> lock(mutex_);
  posts_.push_back(std::move(post));
}

std::vector<HostReport> HostMailbox::TakeReports() {
  std::lock_guard<std::mutex> lock(mutex_);
  std::vector<HostReport> out;
  const std::vector<int32_t>& positions = changed_.Take();
  out.reserve(positions.size());
  for (int32_t position : positions)
    out.push_back(std::move(reports_[static_cast<std::size_t>(position)]));
  return out;
}

std::string HostMailbox::TakeMessage() {
  std::lock_guard<std::mutex> lock(mutex_);
  std::string text = std::exchange(message_, std::exchange(held_notice_, std::string()));
  return text;
}

bool HostMailbox::MessagePending() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return !message_.empty();
}

bool HostMailbox::Started() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return started_;
}

void HostMailbox::SetFailEvent(uint32_t handle) {
  std::lock_guard<std::mutex> lock(mutex_);
  fail_event_ = handle;
}

uint32_t HostMailbox::FailEvent() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return fail_event_;
}

int32_t HostMailbox::ScanTime() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return scan_time_;
}

void HostMailbox::PublishStart(std::vector<PublishedTag> tags, const WriteObject& object,
                               int32_t scan_time) {
  std::lock_guard<std::mutex> lock(mutex_);
  started_ = true;
  scan_time_ = scan_time;
  tags_ = std::move(tags);
  positions_.clear();
  positions_.reserve(tags_.size());
  for (std::size_t i = 0; i < tags_.size(); ++i)
    positions_.try_emplace(tags_[i].tag_id, static_cast<int32_t>(i));
  reports_.assign(tags_.size(), HostReport{});
  changed_.Reset(tags_.size());
  object_ = object;
  foreseen_object_ = object;
  foreseen_tags_.clear();
  posts_.clear();
}

std::vector<HostPost> HostMailbox::TakePosts() {
  std::lock_guard<std::mutex> lock(mutex_);
  return std::exchange(posts_, {});
}

bool HostMailbox::HasPosts() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return !posts_.empty();
}

void HostMailbox::Publish(const std::vector<TagChange>& changes, const WriteObject& object) {
  std::lock_guard<std::mutex> lock(mutex_);
  for (const TagChange& change : changes) {
    const auto at = static_cast<std::size_t>(change.position);
    if (at >= tags_.size()) continue;
    PublishedTag& tag = tags_[at];
    tag.write.value = change.value;
    tag.write.queued = change.queued;
    tag.write.running = change.running;
    if (!change.report) continue;
    reports_[at] = {tag.tag_id, tag.write.data_kind, change.value, change.quality};
    changed_.Mark(at);
  }
  object_ = object;
  // What the host foresees starts again from what is now published, with
  // the posts the line thread has not taken yet on top.
  foreseen_object_ = object_;
  foreseen_tags_.clear();
  for (const HostPost& post : posts_) Foresee(post);
}

void HostMailbox::SetMessage(const std::string& text) {
  std::lock_guard<std::mutex> lock(mutex_);
  message_ = text;
  if (message_.empty()) message_ = std::exchange(held_notice_, std::string());
}

void HostMailbox::HoldNotice(const std::string& text) {
  std::lock_guard<std::mutex> lock(mutex_);
  held_notice_ = text;
}

std::string HostMailbox::Message() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return message_;
}

void HostMailbox::Close() {
  std::lock_guard<std::mutex> lock(mutex_);
  started_ = false;
  tags_.clear();
  positions_.clear();
  reports_.clear();
  changed_.Reset(0);
  foreseen_tags_.clear();
  posts_.clear();
}

}  // namespace tk571
