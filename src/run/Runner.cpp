#include "run/Runner.h"

#include <algorithm>
#include <utility>

#include "hooks/Events.h"
#include "text/Codec.h"

namespace lanshu {

bool FreshPages::Next(PageTask& task) {
  task = PageTask();
  if (index_ > 0 && page_ < total_) {
    task.target = targets_[index_ - 1];
    task.page = ++page_;
    task.knownPages = task.shownTotal = total_;
    return true;
  }
  if (index_ >= targets_.size()) return false;
  task.target = targets_[index_++];
  task.page = page_ = 1;
  total_ = 0;
  task.startsTarget = task.reveals = true;
  task.targetIndex = static_cast<int>(index_);
  task.targetCount = static_cast<int>(targets_.size());
  return true;
}

void FreshPages::Revealed(const std::string& target, int total) {
  if (index_ > 0 && targets_[index_ - 1] == target) total_ = total;
}

void FreshPages::Drop(const std::string& target) {
  if (index_ > 0 && targets_[index_ - 1] == target) total_ = page_;
}

std::vector<std::string> RetryPages::Targets() const {
  std::vector<std::string> targets;
  for (const PageReport& page : pages_)
    if (std::find(targets.begin(), targets.end(), page.target) == targets.end()) targets.push_back(page.target);
  return targets;
}

bool RetryPages::Next(PageTask& task) {
  if (index_ >= pages_.size()) return false;
  const PageReport& page = pages_[index_++];
  task = PageTask();
  task.target = page.target;
  task.page = task.shownTotal = page.page;
  task.startsTarget = true;  // each page begins and ends on its own
  return true;
}

Runner::Runner(RunKind kind) : kind_(kind) { listeners.Add(&ledger_); }

Runner::~Runner() { *alive_ = false; }

std::function<void()> Runner::Guarded(std::function<void()> fn) {
  std::weak_ptr<bool> alive = alive_;
  const unsigned serial = serial_;
  return [this, alive, serial, fn = std::move(fn)] {
    const std::shared_ptr<bool> still = alive.lock();
    if (!still || !*still || serial != serial_ || !running_) return;
    const EventPumpPause pause;
    fn();
  };
}

void Runner::GoOn(RunPlan plan, std::unique_ptr<PageSource> source, std::vector<PageReport> earlier) {
  if (running_) return;
  earlier_ = std::move(earlier);
  nextGoesOn_ = true;
  Run(std::move(plan), std::move(source));
}

std::vector<PageReport> Runner::WholeRun() const {
  std::vector<PageReport> pages = earlier_;
  for (const PageReport& page : ended_) {
    auto same = std::find_if(pages.begin(), pages.end(), [&](const PageReport& p) {
      return p.target == page.target && p.page == page.page;
    });
    if (same != pages.end())
      *same = page;
    else
      pages.push_back(page);
  }
  auto index = [this](const std::string& target) {
    return std::find(plan_.targets.begin(), plan_.targets.end(), target) - plan_.targets.begin();
  };
  std::stable_sort(pages.begin(), pages.end(), [&](const PageReport& a, const PageReport& b) {
    const auto ia = index(a.target), ib = index(b.target);
    return ia != ib ? ia < ib : a.page < b.page;
  });
  return pages;
}

void Runner::Run(RunPlan plan, std::unique_ptr<PageSource> source) {
  goingOn_ = nextGoesOn_;
  nextGoesOn_ = false;
  if (!goingOn_) earlier_.clear();
  ended_.clear();
  plan_ = std::move(plan);
  active_ = plan_.reliability;
  patient_ = patience;
  throttleNext_ = patient_.throttleWaitSeconds;
  source_ = std::move(source);
  ++serial_;
  running_ = true;
  inTarget_ = false;
  *stop_ = false;
  userStopped_ = blockedStopped_ = failed_ = false;
  failure_.clear();
  waiting_ = nullptr;
  SteppedScheduler own;
  const bool stepped = !scheduler_;
  if (stepped) scheduler_ = &own;
  {
    const EventPumpPause pause;
    listeners.RunStarted(kind_, source_->Targets());
    OnRunStarted();
    Step();
  }
  if (!stepped) return;
  own.RunWhile([this] { return running_; });
  scheduler_ = nullptr;
}

void Runner::RequestStop() {
  if (!running_) return;
  // The run shows its one notice when it has ended.
  ShowStopping();
  *stop_ = true;
  userStopped_ = true;
  if (waiting_) {
    std::function<void()> then = std::move(waiting_);
    waiting_ = nullptr;
    ++waitSerial_;
    scheduler_->After(0, Guarded(std::move(then)));
  }
}

void Runner::FailRun(const std::string& reason) {
  if (!failed_) failure_ = reason;
  failed_ = true;
  *stop_ = true;
  ShowStopping();
}

void Runner::AfterMs(int ms, std::function<void()> fn) { scheduler_->After(ms, Guarded(std::move(fn))); }

void Runner::InBackground(std::function<void()> work, std::function<void()> then) {
  scheduler_->Background(std::move(work), Guarded(std::move(then)));
}

void Runner::Wait(int ms, std::function<void()> then) {
  if (ms <= 0 || *stop_) {
    then();
    return;
  }
  waiting_ = std::move(then);
  const unsigned serial = ++waitSerial_;
  scheduler_->After(ms, Guarded([this, serial] {
    if (serial != waitSerial_ || !waiting_) return;
    std::function<void()> then = std::move(waiting_);
    waiting_ = nullptr;
    then();
  }));
}

// The next page: a new target first ends the one before it.
void Runner::Step() {
  PageTask task;
  const bool more = source_->Next(task);
  if (!more && !source_->Failure().empty()) FailRun(source_->Failure());
  if (!more && source_->WaitMs() > 0 && !*stop_ && !failed_) {
    // Others hold what is left: the target at hand is over, the run not.
    if (inTarget_) {
      inTarget_ = false;
      EndTarget();
    }
    Wait(source_->WaitMs(), [this] { Step(); });
    return;
  }
  if (inTarget_ && (!more || task.startsTarget)) {
    EndTargetThen(more ? &task : nullptr);
    return;
  }
  if (!more) {
    Finish();
    return;
  }
  if (task.startsTarget) {
    StartTarget(task);
    return;
  }
  if (*stop_) {  // no further page of a stopped run
    EndTargetThen(nullptr);
    return;
  }
  ShowPageStatus(task.target, task.page, task.shownTotal);
  CollectAndFinish(task);
}

void Runner::StartTarget(const PageTask& task) {
  if (failed_) {
    Finish();
    return;
  }
  inTarget_ = true;
  if (!InRetry()) listeners.TargetStarted(kind_, task.target, task.targetIndex, task.targetCount);
  if (!BeginTarget(task)) {
    inTarget_ = false;
    Finish();
    return;
  }
  if (!task.reveals) {
    ShowPageStatus(task.target, task.page, task.shownTotal);
    CollectAndFinish(task);
    return;
  }
  Collect(task, [this, task](LoadedPage loaded) { FirstPageIn(task, loaded); });
}

void Runner::FirstPageIn(const PageTask& task, const LoadedPage& loaded) {
  if (blockedStopped_ && !loaded.stopped) {  // the wall ended the run: its page is still told
    FinishPage(task, loaded, [this] { EndTargetThen(nullptr); });
    return;
  }
  const int total = TotalPages(loaded.html);
  source_->Revealed(task.target, total);
  if (*stop_ || loaded.stopped) {
    EndTargetThen(nullptr);
    return;
  }
  PageTask first = task;
  first.shownTotal = total;
  ShowPageStatus(task.target, 1, total);
  FinishPage(first, loaded, [this, first] { AfterPage(first); });
}

void Runner::CollectAndFinish(const PageTask& task) {
  Collect(task, [this, task](LoadedPage loaded) {
    if (loaded.stopped) {
      EndTargetThen(nullptr);
      return;
    }
    FinishPage(task, loaded, [this, task] {
      if (InRetry())
        Step();
      else
        AfterPage(task);
    });
  });
}

void Runner::AfterPage(const PageTask& task) {
  Wait(PageIntervalMs(), [this, task] {
    if (TargetFull()) source_->Drop(task.target);
    Step();
  });
}

void Runner::EndTargetThen(const PageTask* next) {
  inTarget_ = false;
  EndTarget();
  if (*stop_ || failed_ || (InRetry() && !next)) {
    Finish();
    return;
  }
  // A fresh run waits between targets, after the last one as well.
  std::shared_ptr<PageTask> pending = next ? std::make_shared<PageTask>(*next) : nullptr;
  Wait(InRetry() ? 0 : TargetIntervalMs(), [this, pending] {
    if (pending)
      StartTarget(*pending);
    else
      Finish();
  });
}

void Runner::Finish() {
  running_ = false;
  waiting_ = nullptr;
  source_->Ended();
  OnRunEnding();
  if (failed_) listeners.RunFailed(kind_, failure_);
  listeners.RunEnded(kind_, Ending());
  OnRunEnded();
  if (onIdle) onIdle();
}

struct Collecting {
  PageTask task;
  PageReport asked;
  Runner::LoadedPage loaded;
  int failures = 0;
  int wallSeconds = -1;  // waited at a wall with nobody there; -1: none met yet
  std::function<void(Runner::LoadedPage)> done;
};

void Runner::Collect(const PageTask& task, std::function<void(LoadedPage)> done) {
  auto c = std::make_shared<Collecting>();
  c->task = task;
  c->asked.target = task.target;
  c->asked.page = task.page;
  c->asked.address = PageAddress(task.target, task.page);
  c->done = std::move(done);
  Hold(c);
}

void Runner::Hold(std::shared_ptr<Collecting> c) {
  if (mayFetch && !*stop_ && !mayFetch()) {
    AfterMs(5, [this, c] { Hold(c); });
    return;
  }
  Attempt(c);
}

void Runner::Attempt(std::shared_ptr<Collecting> c) {
  if (*stop_ && !(FirstPageDespiteStop() && c->task.page == 1 && c->loaded.attempts == 0)) {
    c->loaded.stopped = true;
    c->done(c->loaded);
    return;
  }
  ++c->loaded.attempts;
  listeners.PageRequested(kind_, c->task.target, c->task.page, c->loaded.attempts, c->task.knownPages);
  // A Stop that comes while the request waits ends it at once; one pending
  // already lets it go on.
  const bool stopBefore = *stop_;
  std::function<bool()> stopped = [stopBefore, flag = stop_] { return !stopBefore && flag->load(); };
  FetchPage(c->asked.address, std::move(stopped), [this, c](std::string html, PageFetch fetch) {
    c->loaded.html = std::move(html);
    if (*stop_) {  // nothing of a stopped run's page is listed
      c->loaded.stopped = true;
      c->done(c->loaded);
      return;
    }
    int waitMs = 0;
    if (Judge(*c, fetch, waitMs) == Next::kDone) {
      if (blockedStopped_) {
        *stop_ = true;
        ShowStopping();
      }
      c->done(c->loaded);
      return;
    }
    // Waits, cut short by Stop.
    Wait(waitMs, [this, c] { Attempt(c); });
  });
}

void Runner::FinishPage(const PageTask& task, const LoadedPage& loaded, std::function<void()> then) {
  ReadPage(task, loaded, [this, task, loaded, then = std::move(then)](PageRows rows) {
    PageReport report;
    report.target = task.target;
    report.page = task.page;
    report.address = PageAddress(task.target, task.page);
    report.outcome = loaded.outcome;
    report.attempts = loaded.attempts;
    report.rows = rows.rows;
    report.cells = std::move(rows.cells);
    if (task.reveals) report.revealed = task.shownTotal;
    report.lastOfTarget = TargetFull();
    report.throttleWaits = loaded.throttleWaits;
    report.throttledSeconds = loaded.throttledSeconds;
    if (goingOn_) ended_.push_back(report);
    listeners.PageEnded(kind_, report);
    then();
  });
}

Runner::Next Runner::Judge(Collecting& c, const PageFetch& fetch, int& waitMs) {
  LoadedPage& loaded = c.loaded;
  loaded.outcome = PrecheckPage(fetch, loaded.html);
  loaded.block.clear();
  if (loaded.outcome.Ok()) {
    loaded.block = FindResultsBlock(loaded.html);
    if (loaded.block.empty()) loaded.outcome = ClassifyPageWithoutResults(loaded.html);
  }
  if (loaded.outcome.why == Reason::kThrottled) {
    const int seconds = ThrottleWait(c, fetch);
    if (seconds < 0) return Next::kDone;
    ++loaded.throttleWaits;
    loaded.throttledSeconds += seconds;
    listeners.Throttled(kind_, c.task.target, c.task.page, seconds);
    ShowStatusText(Utf8TextToGbk("限流等待 " + std::to_string(seconds) + " 秒"));
    waitMs = seconds * 1000;
    return Next::kAgain;
  }
  throttleNext_ = patient_.throttleWaitSeconds;
  if (loaded.outcome.outcome == Outcome::kBlocked) {
    PageReport report = c.asked;
    report.outcome = loaded.outcome;
    report.attempts = loaded.attempts;
    if (patient_.wallWaitMinutes > 0) {
      // Nobody to ask: tell, then look again every minute until it passes.
      const int limit = patient_.wallWaitMinutes * 60;
      if (c.wallSeconds < 0) {
        c.wallSeconds = 0;
        listeners.WallWaiting(kind_, report, patient_.wallWaitMinutes);
      }
      if (c.wallSeconds >= limit) {
        blockedStopped_ = true;
        return Next::kDone;
      }
      const int seconds = std::min(std::max(1, patient_.wallRetrySeconds), limit - c.wallSeconds);
      c.wallSeconds += seconds;
      waitMs = seconds * 1000;
      return Next::kAgain;
    }
    const BlockedChoice choice = onBlocked ? onBlocked(report) : BlockedChoice::kSkip;
    if (choice == BlockedChoice::kRetry) return Next::kAgain;
    // Skipped by the user, the page counts as failed.
    if (choice == BlockedChoice::kSkip && onBlocked) loaded.outcome = loaded.outcome.AsFailed();
    if (choice == BlockedChoice::kStop) blockedStopped_ = true;
    return Next::kDone;
  }
  if (loaded.outcome.Ok() || c.failures >= active_.retries) return Next::kDone;
  ++c.failures;
  waitMs = active_.RetryWaitMs(c.failures + 1);
  return Next::kAgain;
}

int Runner::ThrottleWait(Collecting& c, const PageFetch& fetch) {
  // Waiting uses up no retry; only a page whose waits together have reached
  // the patience fails.
  if (c.loaded.throttledSeconds >= std::max(0, patient_.throttleMaxMinutes) * 60) return -1;
  // At least a second: a site that keeps saying "now" is not asked in a
  // tight loop for ever.
  const int most = std::max(1, patient_.throttleMaxSeconds);
  if (fetch.retryAfterSeconds >= 0) return std::clamp(fetch.retryAfterSeconds, 1, most);
  const int seconds = std::clamp(throttleNext_, 1, most);
  throttleNext_ = static_cast<int>(std::min<long long>(2LL * seconds, most));
  return seconds;
}

RunEnd Runner::Ending() const {
  if (failed_) return RunEnd::kFailed;
  if (blockedStopped_) return RunEnd::kBlocked;
  return userStopped_ ? RunEnd::kStopped : RunEnd::kFinished;
}

std::string Runner::Notice(const std::string& done, const std::string& stopped) const {
  std::string notice = Ending() == RunEnd::kFinished ? done : stopped;
  const std::string notOk = NotOkNoticeLine(ledger_.Failed(), ledger_.Blocked());
  if (!notOk.empty()) notice += "\r\n" + notOk;
  return notice;
}

}  // namespace lanshu
