#pragma once
// What an unattended run tells the scripts that start it: one standard-error
// line per page that was not ok, the exit status, and a JSON report.
#include <functional>
#include <string>
#include <vector>

#include "rank/RunEvents.h"

namespace lanshu {

// Exit statuses of a batch run.
enum BatchStatus {
  kBatchOk = 0,          // every page was ok
  kBatchCannotRun = 1,   // the run could not start, or FILE could not be written
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
  void RunEnded(RunKind kind, RunEnd how) override;

  // Whether a run started at all (a refused start sends no events).
  bool Started() const { return started_; }
  // The exit status when FILE was written.
  int Status() const;
  int Rows() const { return rows_; }
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
  };
  std::function<void(const std::string&)> say_;
  RunKind kind_ = RunKind::kRank;
  std::vector<Page> pages_;
  int rows_ = 0;
  bool failed_ = false, blocked_ = false, started_ = false;
  RunEnd end_ = RunEnd::kFinished;
};

// A JSON string literal of UTF-8 text, quotes included.
std::string JsonString(const std::string& utf8);

}  // namespace lanshu
