#pragma once
// One collection run, whatever it collects: a plan captured when it starts,
// a source of pages, and one loop that asks for each page, judges it, asks
// again after a failure, waits at a login or verification page, keeps the
// pacing, stops on request and tells its listeners. What differs between
// the kinds (how a page is fetched, how its rows are read and kept, the
// status and notice texts) is the kind's own.
//
// The loop never waits on its own stack: each step asks the scheduler to
// call the next one, so runs go side by side on one thread. Without a
// scheduler a run goes to its end inside the call that started it.
#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "run/PageOutcome.h"
#include "run/RunEvents.h"
#include "run/RunPlan.h"
#include "run/Scheduler.h"

namespace lanshu {

// A page to collect, as the source hands it out.
struct PageTask {
  std::string target;  // the domain or seed (GBK)
  int page = 1;
  int knownPages = 0;  // told with PageRequested: 0 before the target's first page is in
  int shownTotal = 0;  // the total of the status text
  // The first page the run collects of its target: the target begins here.
  bool startsTarget = false;
  // A fresh target's page 1, whose links tell how many pages follow.
  bool reveals = false;
  int targetIndex = 0, targetCount = 0;  // from 1, for TargetStarted
};

// Which pages a run collects. A fresh run: every target, page 1 first, then
// the pages its page 1 links to. A retry: the pages of a ledger. (A source
// may as well hand out pages kept elsewhere, such as a queue shared by
// several machines.)
class PageSource {
 public:
  virtual ~PageSource() = default;
  // The targets the run names, in order.
  virtual std::vector<std::string> Targets() const = 0;
  // The next page; false when none is left.
  virtual bool Next(PageTask& task) = 0;
  // Page 1 of target links `total` pages (0: none).
  virtual void Revealed(const std::string& /*target*/, int /*total*/) {}
  // No further page of target is wanted (its line limit is reached).
  virtual void Drop(const std::string& /*target*/) {}
  // Pages asked again: no target events, no pacing.
  virtual bool Retry() const { return false; }
  // After Next found none: ask again after this many ms (others are still
  // working on the run); 0: the run is over.
  virtual int WaitMs() const { return 0; }
  // Why no further page can be handed out (the run then ends failed); empty
  // when nothing went wrong.
  virtual std::string Failure() const { return std::string(); }
  // The run has ended, at its end or midway.
  virtual void Ended() {}
};

// Targets × the pages each one's page 1 reveals, in order.
class FreshPages : public PageSource {
 public:
  explicit FreshPages(std::vector<std::string> targets) : targets_(std::move(targets)) {}
  std::vector<std::string> Targets() const override { return targets_; }
  bool Next(PageTask& task) override;
  void Revealed(const std::string& target, int total) override;
  void Drop(const std::string& target) override;

 private:
  std::vector<std::string> targets_;
  std::size_t index_ = 0;  // of the next target to begin
  int page_ = 0;           // the last page handed out of the current target
  int total_ = 0;
};

// The pages of a ledger, each once, in the ledger's order.
class RetryPages : public PageSource {
 public:
  explicit RetryPages(std::vector<PageReport> pages) : pages_(std::move(pages)) {}
  std::vector<std::string> Targets() const override;
  bool Next(PageTask& task) override;
  bool Retry() const override { return true; }

 private:
  std::vector<PageReport> pages_;
  std::size_t index_ = 0;
};

class Runner {
 public:
  // Told of the run's events (the window's progress, the batch reporter, the
  // history store); the run's own ledger of pages not ok listens first.
  RunListeners listeners;
  // How often a failed page is asked for again, and after what waits: the
  // settings; a run goes by the copy in its plan.
  Reliability reliability;
  // How long throttles and, with nobody there, walls are waited out: read
  // when a run starts.
  Patience patience;
  // Asked when a page wants a login or verification; without it such a page
  // counts as blocked and the run goes on.
  std::function<BlockedChoice(const PageReport&)> onBlocked;
  // Called when a run has ended and its notice was shown.
  std::function<void()> onIdle;
  // Asked before each page is fetched: false holds the page back until it
  // turns true (the pages before it must be stored first).
  std::function<bool()> mayFetch;

  // Where the run's steps happen; none: a run goes to its end inside the
  // call that started it. Not to be changed while a run goes.
  void SetScheduler(Scheduler* scheduler) { scheduler_ = scheduler; }

  // The pages of the last run that were not ok.
  const PageLedger& Ledger() const { return ledger_; }
  bool Running() const { return running_; }
  // Stop, as a click during the run: the run ends stopped.
  void RequestStop();
  // The plan of the current or last run: a run reads nothing else.
  const RunPlan& Plan() const { return plan_; }

  // A run that goes on where an earlier one of the same plan stopped: the
  // pages it has (in the run's order) count as this run's, and source hands
  // out the rest.
  void GoOn(RunPlan plan, std::unique_ptr<PageSource> source, std::vector<PageReport> earlier);
  bool GoingOn() const { return goingOn_; }
  // A run that goes on: every page it has, the earlier ones included, in the
  // run's order (target, then page).
  std::vector<PageReport> WholeRun() const;

  // One page fetched with its retries: its GBK text and how it ended.
  struct LoadedPage {
    std::string html;
    // The results block the page was judged by, and whose rows are read;
    // empty when it has none.
    std::string block;
    PageOutcome outcome;
    int attempts = 0;
    bool stopped = false;  // the run was stopped while it loaded
    int throttleWaits = 0, throttledSeconds = 0;
  };

  // What reading an ok page added: rows and their cells.
  struct PageRows {
    int rows = 0;
    std::vector<std::vector<std::string>> cells;
  };

 protected:
  explicit Runner(RunKind kind);
  virtual ~Runner();
  Runner(const Runner&) = delete;
  Runner& operator=(const Runner&) = delete;

  // Starts a run of plan over the pages of source; returns at once when a
  // scheduler is set, else when the run has ended.
  void Run(RunPlan plan, std::unique_ptr<PageSource> source);
  bool StopRequested() const { return stop_->load(); }
  // fn on the run's thread after ms, unless the run is over by then.
  void AfterMs(int ms, std::function<void()> fn);
  // work where it may block, then `then` on the run's thread unless the
  // run is over by then.
  void InBackground(std::function<void()> work, std::function<void()> then);
  // The run cannot go on (reason: short English); it ends failed.
  void FailRun(const std::string& reason);
  bool RunFailed() const { return failed_; }
  bool InRetry() const { return source_ && source_->Retry(); }
  // fn, unless the run it belongs to is over (or its runner gone) when it
  // is called.
  std::function<void()> Guarded(std::function<void()> fn);

  // What each kind gives of its own.
  virtual std::string PageAddress(const std::string& target, int page) const = 0;
  // Fetches address and calls done with its GBK text and how the fetch
  // ended, through the scheduler. `stopped` ends the fetch early when it
  // holds.
  using FetchDone = std::function<void(std::string html, PageFetch fetch)>;
  virtual void FetchPage(const std::string& address, std::function<bool()> stopped, FetchDone done) = 0;
  // How many pages a target's page 1 links to.
  virtual int TotalPages(const std::string& firstPage) const = 0;
  // Reads and keeps the rows of an ok page, then calls done.
  virtual void ReadPage(const PageTask& task, const LoadedPage& loaded, std::function<void(PageRows)> done) = 0;
  virtual void ShowPageStatus(const std::string& target, int page, int total) = 0;
  // The caption that says the run is stopping.
  virtual void ShowStopping() = 0;
  // Right after RunStarted.
  virtual void OnRunStarted() {}
  // A target begins or ends; false from BeginTarget ends the run.
  virtual bool BeginTarget(const PageTask& /*task*/) { return true; }
  virtual void EndTarget() {}
  // The target has all the rows it may have.
  virtual bool TargetFull() const { return false; }
  // Page 1 of a target is asked for even when a stop is pending (a target
  // once begun always asks for its first page).
  virtual bool FirstPageDespiteStop() const { return false; }
  virtual int PageIntervalMs() const { return 0; }
  virtual int TargetIntervalMs() const { return 0; }
  // A status text of the run's own (GBK), such as the wait of a throttle.
  virtual void ShowStatusText(const std::string& /*text*/) {}
  // Before RunEnded (close files, idle caption) and after it (the notice).
  virtual void OnRunEnding() {}
  virtual void OnRunEnded() {}

  // How the run ended, for its listeners and final notice.
  RunEnd Ending() const;
  // The final notice's text: `done` or `stopped` (GBK), and the line of
  // pages not ok when there were any.
  std::string Notice(const std::string& done, const std::string& stopped) const;

  RunPlan plan_;
  PageLedger ledger_;
  // A run that goes on: the pages it had when it began.
  std::vector<PageReport> earlier_;

 private:
  // kAgain after waitMs: a failure with retries left, 继续 at a wall; the
  // site's throttle, and a wall with nobody there, are waited out.
  enum class Next { kDone, kAgain };
  // Judges the page just loaded and says whether to ask for it again, and
  // after how long (`waitMs`). At a wall the user's 停止 ends the run.
  Next Judge(struct Collecting& c, const PageFetch& fetch, int& waitMs);
  // The wait a throttle asks for, in seconds; -1 when the page has waited
  // long enough and fails.
  int ThrottleWait(struct Collecting& c, const PageFetch& fetch);

  void Step();
  void StartTarget(const PageTask& task);
  void FirstPageIn(const PageTask& task, const LoadedPage& loaded);
  void CollectAndFinish(const PageTask& task);
  void AfterPage(const PageTask& task);
  void EndTargetThen(const PageTask* next);
  void Finish();
  // Loads a page until it is ok, blocked or out of retries.
  void Collect(const PageTask& task, std::function<void(LoadedPage)> done);
  void Attempt(std::shared_ptr<struct Collecting> c);
  // Attempt once mayFetch allows.
  void Hold(std::shared_ptr<struct Collecting> c);
  void FinishPage(const PageTask& task, const LoadedPage& loaded, std::function<void()> then);
  // Calls then after ms, or at once when Stop comes first.
  void Wait(int ms, std::function<void()> then);

  RunKind kind_;
  Scheduler* scheduler_ = nullptr;
  std::unique_ptr<PageSource> source_;
  Reliability active_;  // the running run's, from its plan
  Patience patient_;    // the running run's, from `patience` at its start
  // The next throttle wait without Retry-After, in seconds: doubles at each
  // throttle and starts again after an answer that is not one.
  int throttleNext_ = 0;
  bool running_ = false;
  bool inTarget_ = false;
  // Read by requests under way on other threads.
  std::shared_ptr<std::atomic<bool>> stop_ = std::make_shared<std::atomic<bool>>(false);
  bool userStopped_ = false;     // Stop was clicked during the run
  bool blockedStopped_ = false;  // a blocked page ended the run
  bool failed_ = false;
  std::string failure_;
  unsigned serial_ = 0;  // of the run; a callback of an earlier run is dropped
  // The wait under way, cut short by Stop.
  std::function<void()> waiting_;
  unsigned waitSerial_ = 0;
  std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
  bool goingOn_ = false;
  bool nextGoesOn_ = false;
  std::vector<PageReport> ended_;  // a run that goes on: its pages so far
};

}  // namespace lanshu
