#include "history/HistoryRecorder.h"

#include <exception>

#include "text/Csv.h"

namespace lanshu::history {

HistoryRecorder::HistoryRecorder(HistoryStore* store, FailureHandler onFailure, std::string unavailable)
    : inline_(std::make_unique<RunWrites>(store, std::nullopt, std::move(unavailable))),
      onFailure_(std::move(onFailure)) {}

HistoryRecorder::HistoryRecorder(HistoryWriter& writer, FailureHandler onFailure)
    : writer_(&writer), onFailure_(std::move(onFailure)) {
  writer_->onEvent = [this](const WriteEvent& e) { Told(e); };
}

HistoryRecorder::~HistoryRecorder() {
  if (writer_) writer_->onEvent = nullptr;
}

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

void HistoryRecorder::Tell(const std::string& reason) {
  if (!onFailure_) return;
  try {
    onFailure_(reason.empty() ? std::string("the history store failed") : reason);
  } catch (const std::exception&) {
    // The message is a courtesy; the run must go on without it.
  }
}

void HistoryRecorder::Submit(Write w) {
  if (writer_) {
    writer_->Queue(std::move(w));
    return;
  }
  std::vector<WriteEvent> events;
  inline_->Apply(w, events);
  for (const WriteEvent& e : events) Told(e);
}

void HistoryRecorder::Told(const WriteEvent& e) {
  for (Recording& run : runs_) {
    if (run.handle != e.run) continue;
    if (e.type == WriteEvent::Type::kBegun) run.runId = e.id;
    if (e.type == WriteEvent::Type::kFailed) {
      run.failed = true;
      run.runId.reset();
    }
  }
  if (e.type == WriteEvent::Type::kFailed) Tell(e.reason);
  if (e.type == WriteEvent::Type::kFinished && onStored) onStored();
}

void HistoryRecorder::RunStarted(lanshu::RunKind kind, const std::vector<std::string>& targets) {
  Recording& run = Of(kind);
  const bool continuing = run.continuing;
  // Resolved to the store's id when the retry is stored: none when the run
  // it continues was not.
  const RunHandle continues = continuing ? run.handle : 0;
  run = Recording();
  run.continuing = continuing;
  run.continues = continues;
  run.targets = targets;
  run.started = clock();
  run.pending = true;
  if (kind == lanshu::RunKind::kRank) Begin(kind);
}

// The window's state is read here, on the caller's thread, as the run begins.
void HistoryRecorder::Begin(lanshu::RunKind kind) {
  Recording& run = Of(kind);
  if (!run.pending) return;
  run.pending = false;
  BeginWrite w;
  w.kind = kind;
  w.targets = run.targets;
  w.started = run.started;
  w.continues = run.continues;
  try {
    w.settings = settingsSnapshot ? settingsSnapshot(kind) : std::string();
    w.columns = kind == lanshu::RunKind::kMine && miningColumns ? miningColumns() : std::string();
    w.plan = planSnapshot ? planSnapshot(kind) : std::string();
  } catch (const std::exception& e) {
    Tell(e.what());
    return;
  }
  w.run = run.handle = ++lastHandle_;
  Submit(std::move(w));
}

void HistoryRecorder::TargetStarted(lanshu::RunKind kind, const std::string&, int, int) { Begin(kind); }

void HistoryRecorder::PageEnded(lanshu::RunKind kind, const PageReport& report) {
  Begin(kind);
  Recording& run = Of(kind);
  // A retry of failed pages sends pages after the run ended: they belong to
  // that run.
  if (!Writing(run)) return;
  PageWrite w;
  w.run = run.handle;
  w.page = ToRecord(kind, report);
  Submit(std::move(w));
}

void HistoryRecorder::RunFailed(lanshu::RunKind kind, const std::string& reason) { Of(kind).failure = reason; }

void HistoryRecorder::RunEnded(lanshu::RunKind kind, RunEnd how) {
  Begin(kind);
  Recording& run = Of(kind);
  if (!Writing(run)) return;
  FinishWrite w;
  w.run = run.handle;
  switch (how) {
    case RunEnd::kFinished: w.how = Ending::kFinished; break;
    case RunEnd::kStopped: w.how = Ending::kStopped; break;
    case RunEnd::kBlocked: w.how = Ending::kBlocked; break;
    case RunEnd::kFailed: w.how = Ending::kFailed; break;
  }
  w.finished = clock();
  if (how == RunEnd::kFailed) w.reason = run.failure;
  Submit(std::move(w));
}

}  // namespace lanshu::history
