#pragma once
// What the two collection runs share about their pages: the listeners of
// the run's events, the retry settings, the question asked at a login or
// verification page, the ledger of pages not ok, and the judgement of one
// loaded page.
#include <functional>
#include <string>
#include <vector>

#include "run/PageOutcome.h"
#include "run/RunEvents.h"

namespace lanshu {

class PageRun {
 public:
  // Told of the run's events (the window's progress, the batch reporter, the
  // history store); the run's own ledger of pages not ok listens first.
  RunListeners listeners;
  // How often a failed page is asked for again, and after what waits: the
  // settings; a run goes by the copy in its plan.
  Reliability reliability;
  // Asked when a page wants a login or verification; without it such a page
  // counts as blocked and the run goes on.
  std::function<BlockedChoice(const PageReport&)> onBlocked;
  // The pages of the last run that were not ok.
  const PageLedger& Ledger() const { return ledger_; }

  // One page fetched with its retries: its GBK text and how it ended.
  struct LoadedPage {
    std::string html;
    // The results block the page was judged by, and whose rows are read;
    // empty when it has none.
    std::string block;
    PageOutcome outcome;
    int attempts = 0;
    bool stopped = false;  // the run was stopped while it loaded
  };

 protected:
  PageRun() { listeners.Add(&ledger_); }
  ~PageRun() = default;
  PageRun(const PageRun&) = delete;
  PageRun& operator=(const PageRun&) = delete;

  enum class Next { kDone, kAgain };
  // Judges the page just loaded into `loaded` and says whether to ask for it
  // again: after a failure while retries are left (`failures` counts them),
  // or when the user answers 继续 at a wall. At a wall the user's 停止 sets
  // blockedStopped_; the caller then stops its run.
  Next Judge(LoadedPage& loaded, const PageFetch& fetch, const PageReport& page, int& failures);

  // The targets of the pages, each once, in the order of its first page.
  static std::vector<std::string> TargetsOf(const std::vector<PageReport>& pages);

  // How the run ended, for its listeners and final notice.
  RunEnd Ending() const;
  // The final notice's text: `done` or `stopped` (GBK), and the line of
  // pages not ok when there were any.
  std::string Notice(const std::string& done, const std::string& stopped) const;

  PageLedger ledger_;
  Reliability active_;           // the running run's, from its plan
  bool userStopped_ = false;     // Stop was clicked during the run
  bool blockedStopped_ = false;  // a blocked page ended the run
  bool failed_ = false;          // the run could not go on (see RunFailed)
};

}  // namespace lanshu
