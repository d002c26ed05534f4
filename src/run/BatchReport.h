#pragma once
// What an unattended run tells the scripts that start it: one standard-error
// line per page that was not ok, the exit status, and a JSON report.
#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "run/RunEvents.h"

namespace lanshu {

// Exit statuses of a batch run.
enum BatchStatus {
  kBatchOk = 0,          // every page was ok
  kBatchCannotRun = 1,   // the run could not start or go on, or FILE could not be written
  kBatchUsage = 2,       // a wrong command line
  kBatchPagesFailed = 3, // FILE was written, but pages failed
  kBatchBlocked = 4,     // the run ended at a login or verification page
};

class BatchReporter : public RunListener {
 public:
  // `say` receives each line for standard error (UTF-8, without its line end).
  explicit BatchReporter(std::function<void(const std::string&)> say) : say_(std::move(say)) {}

  void RunStarted(RunKind kind, const std::vector<std::string>& targets) override;
  void PageEnded(RunKind kind, const PageReport& report) override;
  // "lanshu-collector: throttled: mine SEED page 2: waiting 30 s".
  void Throttled(RunKind kind, const std::string& target, int page, int seconds) override;
  // Tells the reason as "lanshu-collector: REASON".
  void RunFailed(RunKind kind, const std::string& reason) override;
  void RunEnded(RunKind kind, RunEnd how) override;

  // The closing line: "lanshu-collector: done: rank 20 rows, 4 pages
  // (1 failed, 0 blocked) in 00:01:12", timed from the run's start to its end.
  std::string SummaryLine() const;

  // Whether a run started at all (a refused start sends no events).
  bool Started() const { return started_; }
  // The whole of a run that went on, or that others shared, as the store
  // has it: its pages replace those this process saw. ended: how it ended,
  // for a run this process did not take part in.
  void WholeRun(RunKind kind, const std::vector<PageReport>& pages, std::optional<RunEnd> ended = std::nullopt);
  // The exit status when FILE was written.
  int Status() const;
  int Rows() const { return rows_; }
  int Pages() const { return static_cast<int>(pages_.size()); }
  int FailedPages() const { return failedPages_; }
  int BlockedPages() const { return blockedPages_; }
  // {"kind": ..., "started": ..., "finished": ..., "status": ..., "rows": ...,
  //  "pages": [...]} in UTF-8; times are ISO-8601 texts the caller gives.
  std::string Json(const std::string& started, const std::string& finished, int status) const;

  // "lanshu-collector: failed: rank example.com page 2: HTTP 500".
  static std::string Line(RunKind kind, const PageReport& report);

 private:
  struct Page {
    std::string target;  // UTF-8
    int page;
    Outcome outcome;
    std::string reason;
    int attempts;
    int rows;
    int throttleWaits;
    int throttledSeconds;
  };
  std::function<void(const std::string&)> say_;
  RunKind kind_ = RunKind::kRank;
  std::vector<Page> pages_;
  int rows_ = 0;
  bool started_ = false;
  int failedPages_ = 0, blockedPages_ = 0;
  RunEnd end_ = RunEnd::kFinished;
  std::chrono::steady_clock::time_point startedAt_, endedAt_;
};

// "HH:MM:SS" of a number of seconds.
std::string ElapsedText(long long seconds);

// Standard error of a batch run: the program's lines, and on a terminal one
// progress line that is redrawn in place and cleared before any other line.
class BatchConsole {
 public:
  // `write` receives bytes as they are to appear; `terminal` says whether a
  // progress line may be drawn.
  BatchConsole(std::function<void(const std::string&)> write, bool terminal)
      : write_(std::move(write)), terminal_(terminal) {}
  // One whole line (UTF-8, without its line end).
  void Line(const std::string& text);
  // Replaces the progress line; ignored when not on a terminal.
  void Progress(const std::string& text);
  // Clears the progress line, as at the end of the run.
  void ClearProgress();

 private:
  std::function<void(const std::string&)> write_;
  bool terminal_;
  std::size_t shown_ = 0;  // columns of the progress line on screen
};

// Keeps the progress line of a batch run: target k/n, page, rows, time.
class BatchProgress : public RunListener {
 public:
  explicit BatchProgress(BatchConsole& console) : console_(console) {}
  void RunStarted(RunKind kind, const std::vector<std::string>& targets) override;
  void TargetStarted(RunKind kind, const std::string& target, int index, int count) override;
  void PageRequested(RunKind kind, const std::string& target, int page, int attempt,
                     int knownPages) override;
  void PageEnded(RunKind kind, const PageReport& report) override;
  void RunEnded(RunKind kind, RunEnd how) override;
  // "rank 2/5 example.com page 3/10, 120 rows, 00:01:05".
  std::string Text() const;

 private:
  void Show();
  BatchConsole& console_;
  RunKind kind_ = RunKind::kRank;
  std::string target_;  // UTF-8
  int index_ = 0, count_ = 0, page_ = 0, pages_ = 0, rows_ = 0;
  std::chrono::steady_clock::time_point started_;
};

// A JSON string literal of UTF-8 text, quotes included.
std::string JsonString(const std::string& utf8);

}  // namespace lanshu
