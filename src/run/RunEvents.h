#pragma once
// What a collection run tells about itself: started, each page requested and
// how it ended, finished or stopped. The window's progress and blocked-page
// bar, the batch reporter and the history store listen here; the runs call
// the listener on the GUI thread. Texts are GBK.
#include <string>
#include <vector>

#include "run/PageOutcome.h"

namespace lanshu {

enum class RunKind { kRank, kMine };

// "rank", "mine".
const char* RunKindName(RunKind kind);

// How hard a run tries before a page counts as failed.
struct Reliability {
  int retries = 2;               // further requests of a failed page
  int retryIntervalSeconds = 3;  // before the first of them; doubles each time
  int timeoutSeconds = 90;       // of one request

  // Milliseconds to wait before request number `attempt` (2, 3, ...).
  int RetryWaitMs(int attempt) const;
};

// How long a run waits out a site that throttles it and, with nobody there,
// a login or verification page. Settings of the machine that runs, read at
// each start, resumed runs included; not part of a run's plan.
struct Patience {
  int throttleWaitSeconds = 30;   // the first wait at a throttle without Retry-After; doubles
  int throttleMaxSeconds = 1800;  // no single wait is longer
  int throttleMaxMinutes = 60;    // a page whose waits together pass this fails "throttled"
  // 0: a wall is put to the user (Runner::onBlocked). Otherwise nobody is
  // there: the page is loaded again every minute for at most this long, and
  // the run then ends blocked.
  int wallWaitMinutes = 0;
  int wallRetrySeconds = 60;  // between the loads of a page at a wall
};

struct PageReport {
  std::string target;   // the domain or seed
  int page = 0;         // from 1
  std::string address;  // what was requested
  PageOutcome outcome;
  int attempts = 0;
  int rows = 0;  // rows or lines the page added
  // The cells of those rows (rank: the list's eight cells; mining: the
  // line's keyword and metrics).
  std::vector<std::vector<std::string>> cells;
  int revealed = -1;          // page 1: how many pages it links to; -1 otherwise
  bool lastOfTarget = false;  // its target has all the rows it may have
  int throttleWaits = 0;      // how often the site throttled it
  int throttledSeconds = 0;   // the seconds those waits took together
};

// kFailed: the run could not go on (its result files could not be written).
enum class RunEnd { kFinished, kStopped, kBlocked, kFailed };

// What the user chose for a page that asked for a login or verification.
enum class BlockedChoice { kRetry, kSkip, kStop };

class RunListener {
 public:
  virtual ~RunListener() = default;
  virtual void RunStarted(RunKind /*kind*/, const std::vector<std::string>& /*targets*/) {}
  // Target `index` (from 1) of `count` begins.
  virtual void TargetStarted(RunKind /*kind*/, const std::string& /*target*/, int /*index*/,
                             int /*count*/) {}
  // `knownPages` is how many pages the target is known to have (0 before
  // its first page is in).
  virtual void PageRequested(RunKind /*kind*/, const std::string& /*target*/, int /*page*/,
                             int /*attempt*/, int /*knownPages*/) {}
  virtual void PageEnded(RunKind /*kind*/, const PageReport& /*report*/) {}
  // The site throttled a page: the run waits `seconds` before asking again.
  virtual void Throttled(RunKind /*kind*/, const std::string& /*target*/, int /*page*/, int /*seconds*/) {}
  // With nobody there (Patience::wallWaitMinutes), a page met a login or
  // verification wall: told once per page, before the run waits at most
  // `minutes` for it to pass.
  virtual void WallWaiting(RunKind /*kind*/, const PageReport& /*report*/, int /*minutes*/) {}
  // Why the run failed (short English, UTF-8), just before it ends kFailed.
  virtual void RunFailed(RunKind /*kind*/, const std::string& /*reason*/) {}
  virtual void RunEnded(RunKind /*kind*/, RunEnd /*how*/) {}
};

// Passes every event on to the listeners added, in the order added.
class RunListeners : public RunListener {
 public:
  void Add(RunListener* listener);
  void Remove(RunListener* listener);

  void RunStarted(RunKind kind, const std::vector<std::string>& targets) override;
  void TargetStarted(RunKind kind, const std::string& target, int index, int count) override;
  void PageRequested(RunKind kind, const std::string& target, int page, int attempt,
                     int knownPages) override;
  void PageEnded(RunKind kind, const PageReport& report) override;
  void Throttled(RunKind kind, const std::string& target, int page, int seconds) override;
  void WallWaiting(RunKind kind, const PageReport& report, int minutes) override;
  void RunFailed(RunKind kind, const std::string& reason) override;
  void RunEnded(RunKind kind, RunEnd how) override;

 private:
  std::vector<RunListener*> listeners_;
};

// Keeps the pages of the last run that were not ok, and the counts the final
// notice and the batch exit status need.
class PageLedger : public RunListener {
 public:
  void RunStarted(RunKind kind, const std::vector<std::string>& targets) override;
  void PageEnded(RunKind kind, const PageReport& report) override;
  void RunEnded(RunKind, RunEnd how) override { end_ = how; }

  int Failed() const { return failed_; }
  int Blocked() const { return blocked_; }
  int Pages() const { return pages_; }
  RunEnd End() const { return end_; }
  // The pages not ok, without their cells, in the order they ended.
  const std::vector<PageReport>& NotOk() const { return notOk_; }

 private:
  int failed_ = 0, blocked_ = 0, pages_ = 0;
  RunEnd end_ = RunEnd::kFinished;
  std::vector<PageReport> notOk_;
};

// The line the final notice of a run adds when pages were not ok, e.g.
// "未成功 3 页：失败 2 页，需登录或验证 1 页"; empty when all were ok.
std::string NotOkNoticeLine(int failed, int blocked);

}  // namespace lanshu
