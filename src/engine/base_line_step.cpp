// One step of the run-state machine as the line thread takes it, the posts
// of the host's calls it carries out between exchanges, and what it
// publishes for the host.
#include <algorithm>
#include <tuple>

#include "engine/base_dll_object.h"
#include "engine/library_values.h"
#include "platform/clock.h"
#include "platform/line_wait.h"

namespace tk571 {

LineStepOutcome TBaseDLLObject::StepForLine() {
  const auto progress = [this] {
    return std::tuple(RunState_, RunEvent_, CurrentCommand_, Requests_);
  };
  const auto before = progress();
  ReadExecute();
  const bool moved = progress() != before;
  // Values change only where the machine moves: at the end of an exchange.
  if (moved) PublishForHost();
  const bool awaiting =
      (RunState_ == rsIniting || RunState_ == rsReading || RunState_ == rsWriting) &&
      CommEnabled_ && !Stopped_;
  return {moved, awaiting, moved ? 0 : NextStepInMs(awaiting)};
}

uint32_t TBaseDLLObject::NextStepInMs(bool awaiting) const {
  if (Stopped_ || !CommEnabled_) return platform::kWaitForever;
  if (awaiting) {
    // The answer counts as missing once more than its limit has passed.
    const uint32_t waited = platform::TicksSince(SendTick_);
    return waited > AnswerLimitMs_ ? 0 : AnswerLimitMs_ - waited + 1;
  }
  // Between exchanges without a command the machine waits for the next one
  // to fall due; any other state moves only on bytes, posts or events.
  if ((RunState_ == rsIdle || RunState_ == rsReady) && !CurrentCommand_) return NextDueMs_;
  return platform::kWaitForever;
}

void TBaseDLLObject::TakeHostPosts() {
  std::vector<HostPost> posts = Mailbox_.TakePosts();
  if (posts.empty()) return;
  for (HostPost& post : posts) {
    switch (post.kind) {
      case HostPost::Kind::kWrite:
        if (!CarryOutWrite(post.tag_id, post.value, post.told) && Accepted(post.told)) {
          // The host was told the write is carried out, and the object
          // changed before it came to it: the host hears of it as a failed
          // write rather than not at all.
          if (TDLLTag* tag = FindTag(post.tag_id)) {
            tag->Quality = kQualityWriteFailed;
            tag->FailureUnreported = true;
          }
        }
        break;
      case HostPost::Kind::kEnLog:
        SetEnLog(post.on);
        break;
    }
  }
  PublishForHost();
}

WriteTag TBaseDLLObject::WriteFactsOf(const TDLLTag& tag) const {
  WriteTag facts;
  facts.data_kind = tag.DataKind;
  if (tag.TypeName == "ENLOG")
    facts.role = WriteRole::kEnLog;
  else if (tag.TypeName == "ENCOMMLINK")
    facts.role = WriteRole::kEnComm;
  else if (tag.TypeName == "COMMLINK")
    facts.role = WriteRole::kCommLink;
  facts.writable = tag.Writable != 0;
  facts.value = tag.Value;
  const auto is_for_tag = [&](const TCommand* command) {
    return command && !command->Indexes.empty() && command->Indexes.front() == tag.Index;
  };
  for (const CommandPtr& queued : WriteQueue_)
    if (is_for_tag(queued.get()))
      facts.queued = queued->Values.empty() ? queued->Value : queued->Values.front();
  facts.running = CurrentCommand_ && CurrentCommand_->IsWrite && is_for_tag(CurrentCommand_);
  DescribeWrite(tag, facts);
  return facts;
}

WriteObject TBaseDLLObject::WriteObjectFacts() const {
  return {Initialized_, CommEnabled_, WriteQueue_.size()};
}

void TBaseDLLObject::PublishStart() {
  std::vector<PublishedTag> published;
  published.reserve(Tags_.size());
  for (const auto& tag : Tags_) {
    PublishedTag entry;
    if (tag) {
      entry.tag_id = tag->TagID;
      entry.write = WriteFactsOf(*tag);
    }
    published.push_back(std::move(entry));
  }
  PublishedWrites_.clear();
  Mailbox_.PublishStart(std::move(published), WriteObjectFacts(), ScanTime_);
  // Tags whose first value differs from their initial one (a switch the
  // start set) reach the host at its first poll.
  PublishForHost();
}

void TBaseDLLObject::PublishForHost() {
  Changed_.Note(Tags_);
  std::vector<int32_t> positions = Changed_.Take();
  const std::size_t reported = positions.size();
  // Tags whose queued or running write came or went since the last publish.
  std::vector<int32_t> writes;
  const auto note_write = [&](const TCommand* command) {
    if (command && command->IsWrite && !command->Indexes.empty())
      writes.push_back(command->Indexes.front());
  };
  for (const CommandPtr& queued : WriteQueue_) note_write(queued.get());
  note_write(CurrentCommand_);
  positions.insert(positions.end(), PublishedWrites_.begin(), PublishedWrites_.end());
  positions.insert(positions.end(), writes.begin(), writes.end());
  PublishedWrites_ = std::move(writes);

  const uint32_t tick = platform::Tick();
  std::vector<HostMailbox::TagChange> changes;
  changes.reserve(positions.size());
  for (std::size_t i = 0; i < positions.size(); ++i) {
    TDLLTag* tag = TagAt(positions[i]);
    if (!tag) continue;
    const WriteTag facts = WriteFactsOf(*tag);
    const bool report = i < reported;
    changes.push_back(
        {positions[i], tag->Value, facts.queued, facts.running, report, tag->Quality});
    if (!report) continue;
    tag->FailureUnreported = false;
    tag->ReportedValue = tag->Value;
    tag->ReportedQuality = tag->Quality;
    tag->ChangeTick = tick;
  }
  Mailbox_.Publish(changes, WriteObjectFacts());
}

}  // namespace tk571
