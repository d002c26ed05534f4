#include "run/RunEvents.h"

#include <algorithm>

#include "text/Codec.h"

namespace lanshu {

const char* RunKindName(RunKind kind) { return kind == RunKind::kRank ? "rank" : "mine"; }

int Reliability::RetryWaitMs(int attempt) const {
  if (attempt < 2 || retryIntervalSeconds <= 0) return 0;
  const int doublings = std::min(attempt - 2, 16);  // no overflow for absurd retry counts
  const long long ms = 1000LL * retryIntervalSeconds << doublings;
  return static_cast<int>(std::min<long long>(ms, 3600 * 1000LL));
}

void RunListeners::Add(RunListener* listener) {
  if (listener && std::find(listeners_.begin(), listeners_.end(), listener) == listeners_.end())
    listeners_.push_back(listener);
}

void RunListeners::Remove(RunListener* listener) {
  listeners_.erase(std::remove(listeners_.begin(), listeners_.end(), listener), listeners_.end());
}

// A listener may add or remove listeners while it is called; the copy keeps
// the walk safe.
void RunListeners::RunStarted(RunKind kind, const std::vector<std::string>& targets) {
  for (RunListener* l : std::vector<RunListener*>(listeners_)) l->RunStarted(kind, targets);
}

void RunListeners::TargetStarted(RunKind kind, const std::string& target, int index, int count) {
  for (RunListener* l : std::vector<RunListener*>(listeners_))
    l->TargetStarted(kind, target, index, count);
}

void RunListeners::PageRequested(RunKind kind, const std::string& target, int page, int attempt,
                                 int knownPages) {
  for (RunListener* l : std::vector<RunListener*>(listeners_))
    l->PageRequested(kind, target, page, attempt, knownPages);
}

void RunListeners::PageEnded(RunKind kind, const PageReport& report) {
  for (RunListener* l : std::vector<RunListener*>(listeners_)) l->PageEnded(kind, report);
}

void RunListeners::Throttled(RunKind kind, const std::string& target, int page, int seconds) {
  for (RunListener* l : std::vector<RunListener*>(listeners_)) l->Throttled(kind, target, page, seconds);
}

void RunListeners::WallWaiting(RunKind kind, const PageReport& report, int minutes) {
  for (RunListener* l : std::vector<RunListener*>(listeners_)) l->WallWaiting(kind, report, minutes);
}

void RunListeners::RunFailed(RunKind kind, const std::string& reason) {
  for (RunListener* l : std::vector<RunListener*>(listeners_)) l->RunFailed(kind, reason);
}

void RunListeners::RunEnded(RunKind kind, RunEnd how) {
  for (RunListener* l : std::vector<RunListener*>(listeners_)) l->RunEnded(kind, how);
}

void PageLedger::RunStarted(RunKind, const std::vector<std::string>&) {
  failed_ = blocked_ = pages_ = 0;
  end_ = RunEnd::kFinished;
  notOk_.clear();
}

void PageLedger::PageEnded(RunKind, const PageReport& report) {
  ++pages_;
  if (report.outcome.Ok()) return;
  (report.outcome.outcome == Outcome::kBlocked ? blocked_ : failed_) += 1;
  PageReport kept = report;
  kept.cells.clear();
  notOk_.push_back(std::move(kept));
}

std::string NotOkNoticeLine(int failed, int blocked) {
  if (failed + blocked == 0) return std::string();
  std::string line = "未成功 " + std::to_string(failed + blocked) + " 页：";
  if (failed > 0) line += "失败 " + std::to_string(failed) + " 页";
  if (failed > 0 && blocked > 0) line += "，";
  if (blocked > 0) line += "需登录或验证 " + std::to_string(blocked) + " 页";
  return Utf8TextToGbk(line);
}

}  // namespace lanshu
