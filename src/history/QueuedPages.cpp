#include "history/QueuedPages.h"

#include <utility>

namespace lanshu::history {

QueuedPages::QueuedPages(Access access, Setup setup) : access_(std::move(access)), setup_(std::move(setup)) {}

bool QueuedPages::Next(lanshu::PageTask& task) {
  waitMs_ = 0;
  while (error_.empty()) {
    if (current_ && next_ < pages_.size()) {
      task = lanshu::PageTask();
      task.target = current_->target;
      task.page = pages_[next_];
      if (next_ == 0) {
        // A target begins with its first page still to collect; page 1
        // tells how many follow.
        task.startsTarget = true;
        task.reveals = task.page == 1;
        task.targetIndex = current_->position + 1;
        task.targetCount = static_cast<int>(setup_.targets.size());
      }
      if (!task.reveals) task.knownPages = task.shownTotal = total_;
      handed_.emplace(task.target, task.page);
      ++next_;
      return true;
    }
    if (current_) LetGo();
    if (!ClaimNext()) return false;
  }
  return false;
}

bool QueuedPages::ClaimNext() {
  auto claimed = std::make_shared<std::optional<QueuedTarget>>();
  auto progress = std::make_shared<QueueProgress>();
  auto reason = std::make_shared<std::string>();
  const Setup s = setup_;
  const bool ok = access_([claimed, progress, reason, s](HistoryStore& store) {
    const auto claim = store.ClaimTarget(s.runId, s.holder, s.leaseMs);
    if (!claim) return *reason = store.LastError(), false;
    *claimed = *claim;
    if (claimed->has_value() || !s.shared) return true;
    const auto now = store.Progress(s.runId);
    if (!now) return *reason = store.LastError(), false;
    *progress = *now;
    return true;
  });
  if (!ok) {
    error_ = reason->empty() ? std::string("the history store did not answer") : *reason;
    return false;
  }
  if (!claimed->has_value()) {
    // Others still work on the rest; a lease that runs out comes back here.
    if (setup_.shared && !progress->Complete()) waitMs_ = setup_.pollMs;
    return false;
  }
  for (int page : (*claimed)->open)
    if (handed_.count({(*claimed)->target, page})) {
      error_ = "the history store did not keep page " + std::to_string(page) + " of a target";
      const std::string target = (*claimed)->target;
      const Setup s = setup_;
      access_([target, s](HistoryStore& store) { return store.Release(s.runId, target, s.holder); });
      return false;
    }
  current_ = std::move(**claimed);
  pages_ = current_->open;
  next_ = 0;
  total_ = current_->pages < 0 ? 0 : current_->pages;
  return true;
}

void QueuedPages::Revealed(const std::string& target, int total) {
  if (!current_ || current_->target != target || pages_.empty() || pages_.front() != 1) return;
  total_ = total;
  pages_.resize(1);
  for (int page = 2; page <= total; ++page) pages_.push_back(page);
}

void QueuedPages::Drop(const std::string& target) {
  if (current_ && current_->target == target) pages_.resize(next_);
}

void QueuedPages::LetGo() {
  if (!current_) return;
  const std::string target = current_->target;
  current_.reset();
  pages_.clear();
  next_ = 0;
  const Setup s = setup_;
  access_([target, s](HistoryStore& store) { return store.Release(s.runId, target, s.holder); });
}

}  // namespace lanshu::history
