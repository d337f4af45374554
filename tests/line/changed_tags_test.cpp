// The tags the line thread notes for the host: each changed tag once, in the
// order of the tag list, and nothing the host has already received.
#include "engine/changed_tags.h"

#include <gtest/gtest.h>

namespace tk571 {
namespace {

std::vector<std::unique_ptr<TDLLTag>> Tags(std::size_t count) {
  std::vector<std::unique_ptr<TDLLTag>> tags;
  for (std::size_t i = 0; i < count; ++i) {
    tags.push_back(std::make_unique<TDLLTag>());
    tags.back()->Value = tags.back()->ReportedValue = TagValue::Double(0);
  }
  return tags;
}

TEST(ChangedTagsTest, NotesWhatDiffersFromTheReportedValue) {
  struct Case {
    const char* what;
    std::vector<std::vector<std::size_t>> changes;  // positions changed before each Note
    std::vector<int32_t> taken;
  };
  const Case cases[] = {
      {"nothing changed", {{}}, {}},
      {"one tag", {{2}}, {2}},
      {"in tag-list order", {{4}, {0}, {2}}, {0, 2, 4}},
      {"noted twice, taken once", {{3}, {3}, {3}}, {3}},
      {"every tag", {{0, 1, 2, 3, 4}}, {0, 1, 2, 3, 4}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    auto tags = Tags(5);
    ChangedTags changed;
    double value = 1;
    for (const auto& step : c.changes) {
      for (std::size_t position : step) tags[position]->Value = TagValue::Double(value++);
      changed.Note(tags);
    }
    EXPECT_EQ(changed.Take(), c.taken);
    EXPECT_EQ(changed.Take(), std::vector<int32_t>()) << "a second take finds nothing new";
  }
}

TEST(ChangedTagsTest, ATakenTagIsNotedAgainWhenItChangesAgain) {
  auto tags = Tags(3);
  ChangedTags changed;
  tags[1]->Value = TagValue::Double(5);
  changed.Note(tags);
  ASSERT_EQ(changed.Take(), std::vector<int32_t>{1});
  // The host has not taken the value over yet: it still differs.
  changed.Note(tags);
  EXPECT_EQ(changed.Take(), std::vector<int32_t>{1});
  tags[1]->ReportedValue = tags[1]->Value;
  changed.Note(tags);
  EXPECT_EQ(changed.Take(), std::vector<int32_t>());
}

TEST(ChangedTagsTest, ARebuiltTagListForgetsOldPositions) {
  auto tags = Tags(6);
  ChangedTags changed;
  tags[5]->Value = TagValue::Double(1);
  changed.Note(tags);
  auto fewer = Tags(2);
  fewer[0]->Value = TagValue::Double(2);
  changed.Note(fewer);
  EXPECT_EQ(changed.Take(), std::vector<int32_t>{0});
}

}  // namespace
}  // namespace tk571
