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
  page.outcome = report.outcome.outcome;
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
    for (const std::vector<std::string>& cells : report.cells) page.miningLines.push_back(CsvLine(cells));
  }
  return page;
}

std::optional<std::int64_t> HistoryRecorder::RunId(lanshu::RunKind kind) const {
  return Of(kind).runId;
}

// Reached only while the run is pending or has its id, and it clears both:
// the failure is told once per run.
void HistoryRecorder::Fail(Recording& run, const std::string& reason) {
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
  const bool continuing = run.continuing;
  const std::int64_t continues = continuing && run.runId ? *run.runId : 0;
  run = Recording();
  run.continuing = continuing;
  run.continues = continues;
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
    const std::string plan = planSnapshot ? planSnapshot(kind) : std::string();
    run.runId = store_->BeginRun(kind, run.targets, settings, run.started, columns, run.continues, plan);
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
  if (!run.runId) return;
  try {
    if (!store_->StorePage(*run.runId, ToRecord(kind, report))) Fail(run, store_->LastError());
  } catch (const std::exception& e) {
    Fail(run, e.what());
  }
}

void HistoryRecorder::RunFailed(lanshu::RunKind kind, const std::string& reason) { Of(kind).failure = reason; }

void HistoryRecorder::RunEnded(lanshu::RunKind kind, RunEnd how) {
  Begin(kind);
  Recording& run = Of(kind);
  if (!run.runId) return;
  Ending ending = Ending::kFinished;
  switch (how) {
    case RunEnd::kFinished: ending = Ending::kFinished; break;
    case RunEnd::kStopped: ending = Ending::kStopped; break;
    case RunEnd::kBlocked: ending = Ending::kBlocked; break;
    case RunEnd::kFailed: ending = Ending::kFailed; break;
  }
  try {
    if (!store_->FinishRun(*run.runId, ending, clock(), how == RunEnd::kFailed ? run.failure : std::string()))
      Fail(run, store_->LastError());
  } catch (const std::exception& e) {
    Fail(run, e.what());
  }
}

}  // namespace lanshu::history
