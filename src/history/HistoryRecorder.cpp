#include "history/HistoryRecorder.h"

#include <exception>

#include "text/Csv.h"

namespace lanshu::history {

HistoryRecorder::HistoryRecorder(HistoryStore* store, FailureHandler onFailure, std::string unavailable)
    : store_(store), onFailure_(std::move(onFailure)), unavailable_(std::move(unavailable)) {}

PageRecord HistoryRecorder::ToRecord(lanshu::RunKind kind, const PageReport& report) {
  PageRecord page;
  page.target = report.target;
  page.page = report.page;
  switch (report.outcome.outcome) {
    case lanshu::Outcome::kOk: page.outcome = Outcome::kOk; break;
    case lanshu::Outcome::kFailed: page.outcome = Outcome::kFailed; break;
    case lanshu::Outcome::kBlocked: page.outcome = Outcome::kBlocked; break;
  }
  page.reason = report.outcome.reason;
  page.attempts = report.attempts;
  if (kind == lanshu::RunKind::kRank) {
    page.rankRows.reserve(report.cells.size());
    for (const std::vector<std::string>& cells : report.cells) {
      RankCells row;
      for (size_t c = 0; c < row.size() && c < cells.size(); ++c) row[c] = cells[c];
      page.rankRows.push_back(std::move(row));
    }
  } else {
    // The line as the results box and the result files have it.
    page.miningLines.reserve(report.cells.size());
    for (const std::vector<std::string>& cells : report.cells) {
      std::string line;
      for (const std::string& c : cells) line += (line.empty() ? "" : ",") + CsvCell(c);
      page.miningLines.push_back(std::move(line));
    }
  }
  return page;
}

std::optional<std::int64_t> HistoryRecorder::RunId(lanshu::RunKind kind) const {
  const Recording& run = Of(kind);
  if (run.failed) return std::nullopt;
  return run.runId;
}

void HistoryRecorder::Fail(Recording& run, const std::string& reason) {
  if (run.failed) return;
  run.failed = true;
  run.pending = false;
  run.runId.reset();
  if (!onFailure_) return;
  try {
    onFailure_(reason.empty() ? std::string("the history store failed") : reason);
  } catch (const std::exception&) {
    // The message is a courtesy; the run must go on without it.
  }
}

void HistoryRecorder::RunStarted(lanshu::RunKind kind, const std::vector<std::string>& targets) {
  Recording& run = Of(kind);
  if (run.continuing && run.runId && !run.failed) return;
  run = Recording();
  run.targets = targets;
  run.started = clock();
  run.pending = true;
  if (kind == lanshu::RunKind::kRank) Begin(kind);
}

void HistoryRecorder::Begin(lanshu::RunKind kind) {
  Recording& run = Of(kind);
  if (!run.pending) return;
  run.pending = false;
  if (!store_ || !store_->IsOpen()) {
    Fail(run, !unavailable_.empty() ? unavailable_ : store_ ? store_->LastError() : std::string());
    return;
  }
  try {
    const std::string settings = settingsSnapshot ? settingsSnapshot(kind) : std::string();
    const std::string columns =
        kind == lanshu::RunKind::kMine && miningColumns ? miningColumns() : std::string();
    run.runId = store_->BeginRun(kind == lanshu::RunKind::kRank ? RunKind::kRank : RunKind::kMine,
                                 run.targets, settings, run.started, columns);
    if (!run.runId) Fail(run, store_->LastError());
  } catch (const std::exception& e) {
    Fail(run, e.what());
  }
}

void HistoryRecorder::TargetStarted(lanshu::RunKind kind, const std::string&, int, int) { Begin(kind); }

void HistoryRecorder::PageEnded(lanshu::RunKind kind, const PageReport& report) {
  Begin(kind);
  Recording& run = Of(kind);
  // A retry of failed pages sends pages after the run ended: they belong to
  // that run.
  if (run.failed || !run.runId) return;
  try {
    if (!store_->StorePage(*run.runId, ToRecord(kind, report))) Fail(run, store_->LastError());
  } catch (const std::exception& e) {
    Fail(run, e.what());
  }
}

void HistoryRecorder::RunEnded(lanshu::RunKind kind, RunEnd how) {
  Begin(kind);
  Recording& run = Of(kind);
  if (run.failed || !run.runId) return;
  const Ending ending = how == RunEnd::kFinished  ? Ending::kFinished
                        : how == RunEnd::kStopped ? Ending::kStopped
                                                  : Ending::kBlocked;
  try {
    if (!store_->FinishRun(*run.runId, ending, clock())) Fail(run, store_->LastError());
  } catch (const std::exception& e) {
    Fail(run, e.what());
  }
}

}  // namespace lanshu::history
