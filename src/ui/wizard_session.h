// State of one run of the configuration wizard: the working copy of the
// parameter block, the page to show next, the page history behind "上一步"
// and the modified flag that decides DLLEdDev's result.
#pragma once

#include <array>
#include <cstdint>
#include <functional>

#include "config/device_pdb.h"

namespace tk571::ui {

// Page numbers of the wizard. 0 and 8 both end the page loop.
enum WizardPage : uint8_t {
  kPageLeave = 0,
  kPageStart = 1,    // TStartFrm
  kPageStep1 = 2,    // TStep1Frm
  kPageModify = 3,   // TStep2Frm
  kPageSingle = 4,   // TStep11Frm
  kPageMulti = 5,    // TStep12Frm
  kPageSerial = 6,   // TStep4Frm
  kPageSummary = 7,  // TEndFrm
  kPageEnd = 8,
};

inline constexpr int32_t kEditAccepted = 1;
inline constexpr int32_t kEditCancelled = 2;

class WizardSession {
 public:
  static constexpr int kHistoryDepth = 128;

  // Takes the host's block: normalises it in place and keeps its address for
  // the copy-back; the working copy is the block as the host passed it,
  // normalised on its own, and its normalisation sets the modified flag.
  explicit WizardSession(void* host_block);

  TDevicePDB& Work() { return work_; }
  const TDevicePDB& Work() const { return work_; }

  uint8_t NextPage() const { return next_page_; }
  void SetNextPage(uint8_t page) { next_page_ = page; }
  static bool EndsWizard(uint8_t page) { return page == kPageLeave || page >= kPageEnd; }

  // The page loop, from the start page until a page ends the wizard: `show`
  // shows the page modally and answers false when there is no such page. A
  // page that chooses no next page (closed by its window frame) ends the
  // wizard.
  void RunPages(const std::function<bool(uint8_t page)>& show);

  // "下一步" records the page being left; "上一步" returns to the last one.
  void Push(uint8_t page);
  void Pop();
  int HistoryCount() const { return history_count_; }

  bool Modified() const { return modified_; }
  void SetModified(bool value) { modified_ = value; }

  // Writes the working copy into the host's block through the block's copy
  // routine.
  void CommitToHost();

  int32_t Result() const { return modified_ ? kEditAccepted : kEditCancelled; }

 private:
  void* host_block_;
  TDevicePDB work_;
  uint8_t next_page_ = kPageEnd;
  std::array<uint8_t, kHistoryDepth> history_{};
  int history_count_ = 0;
  bool modified_ = false;
};

}  // namespace tk571::ui
