#include "ui/wizard_session.h"

#include <algorithm>

namespace tk571::ui {

WizardSession::WizardSession(void* host_block)
    : host_block_(host_block), work_(TDevicePDB::Load(host_block)) {
  TDevicePDB host = TDevicePDB::Load(host_block);
  host.Normalize();
  host.Store(host_block);
  modified_ = work_.Normalize();
}

void WizardSession::Push(uint8_t page) {
  // A full history forgets its oldest page rather than writing past its end.
  if (history_count_ == kHistoryDepth) {
    std::copy(history_.begin() + 1, history_.end(), history_.begin());
    --history_count_;
  }
  history_[static_cast<std::size_t>(history_count_++)] = page;
}

void WizardSession::Pop() {
  // Every page with "上一步" is reached through "下一步", so the history is
  // never empty here; should it be, the start page is the safe way back.
  if (history_count_ == 0) {
    next_page_ = kPageStart;
    return;
  }
  next_page_ = history_[static_cast<std::size_t>(--history_count_)];
}

void WizardSession::CommitToHost() {
  TDevicePDB host = TDevicePDB::Load(host_block_);
  host.CopyFrom(work_);
  host.Store(host_block_);
}

void WizardSession::RunPages(const std::function<bool(uint8_t page)>& show) {
  uint8_t page = kPageStart;
  while (!EndsWizard(page)) {
    SetNextPage(kPageEnd);
    if (!show(page)) return;
    page = NextPage();
  }
}

}  // namespace tk571::ui
