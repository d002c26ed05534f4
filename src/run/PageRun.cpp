#include "run/PageRun.h"

#include <algorithm>

namespace lanshu {

PageRun::Next PageRun::Judge(LoadedPage& loaded, const PageFetch& fetch, const PageReport& page,
                             int& failures) {
  loaded.outcome = PrecheckPage(fetch, loaded.html);
  loaded.block.clear();
  if (loaded.outcome.Ok()) {
    loaded.block = FindResultsBlock(loaded.html);
    if (loaded.block.empty()) loaded.outcome = ClassifyPageWithoutResults(loaded.html);
  }
  if (loaded.outcome.outcome == Outcome::kBlocked) {
    PageReport report = page;
    report.outcome = loaded.outcome;
    report.attempts = loaded.attempts;
    const BlockedChoice choice = onBlocked ? onBlocked(report) : BlockedChoice::kSkip;
    if (choice == BlockedChoice::kRetry) return Next::kAgain;
    // Skipped by the user, the page counts as failed.
    if (choice == BlockedChoice::kSkip && onBlocked) loaded.outcome = PageOutcome::Failed(loaded.outcome.reason);
    if (choice == BlockedChoice::kStop) blockedStopped_ = true;
    return Next::kDone;
  }
  if (loaded.outcome.Ok() || failures >= active_.retries) return Next::kDone;
  ++failures;
  return Next::kAgain;
}

std::vector<std::string> PageRun::TargetsOf(const std::vector<PageReport>& pages) {
  std::vector<std::string> targets;
  for (const PageReport& page : pages)
    if (std::find(targets.begin(), targets.end(), page.target) == targets.end()) targets.push_back(page.target);
  return targets;
}

RunEnd PageRun::Ending() const {
  if (failed_) return RunEnd::kFailed;
  if (blockedStopped_) return RunEnd::kBlocked;
  return userStopped_ ? RunEnd::kStopped : RunEnd::kFinished;
}

std::string PageRun::Notice(const std::string& done, const std::string& stopped) const {
  std::string notice = Ending() == RunEnd::kFinished ? done : stopped;
  const std::string notOk = NotOkNoticeLine(ledger_.Failed(), ledger_.Blocked());
  if (!notOk.empty()) notice += "\r\n" + notOk;
  return notice;
}

}  // namespace lanshu
