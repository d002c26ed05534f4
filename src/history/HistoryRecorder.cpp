#include "history/HistoryRecorder.h"

#include <chrono>
#include <exception>
#include <future>

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
  page.revealed = report.revealed;
  page.lastOfTarget = report.lastOfTarget;
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

PageReport HistoryRecorder::FromRecord(lanshu::RunKind kind, const PageRecord& record) {
  PageReport report;
  report.target = record.target;
  report.page = record.page;
  report.outcome.outcome = record.outcome;
  report.outcome.reason = record.reason;
  report.attempts = record.attempts;
  if (kind == lanshu::RunKind::kRank)
    for (const RankCells& row : record.rankRows) report.cells.emplace_back(row.begin(), row.end());
  else
    for (const std::string& line : record.miningLines) report.cells.push_back(CsvCells(line));
  report.rows = static_cast<int>(report.cells.size());
  return report;
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

void HistoryRecorder::GoOn(lanshu::RunKind kind, std::int64_t runId, std::string holder, std::int64_t leaseMs,
                           bool shared) {
  goOn_[kind == lanshu::RunKind::kRank ? 0 : 1] = GoingOn{runId, std::move(holder), leaseMs, shared};
}

void HistoryRecorder::RunStarted(lanshu::RunKind kind, const std::vector<std::string>& targets) {
  Recording& run = Of(kind);
  GoingOn& goOn = goOn_[kind == lanshu::RunKind::kRank ? 0 : 1];
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
  run.goesOn = goOn.runId;
  run.holder = std::move(goOn.holder);
  run.leaseMs = goOn.leaseMs;
  run.shared = goOn.shared;
  goOn = GoingOn();
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
  w.goesOn = run.goesOn;
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
  w.page.holder = run.holder;
  Submit(std::move(w));
}

void HistoryRecorder::PageRequested(lanshu::RunKind kind, const std::string& target, int page, int, int) {
  Begin(kind);
  Recording& run = Of(kind);
  if (!Writing(run) || run.holder.empty()) return;
  // Counted as the attempt is made; a kill leaves the page claimed, and its
  // lease tells the others when it is theirs.
  Submit(StoreCall{run.handle, [target, page, holder = run.holder, lease = run.leaseMs](HistoryStore& store,
                                                                                       std::int64_t id) {
                     return id != 0 && store.ClaimPage(id, target, page, holder, lease);
                   },
                   nullptr});
}

void HistoryRecorder::ResultFile(lanshu::RunKind kind, const std::string& target, const std::string& path) {
  Begin(kind);
  Recording& run = Of(kind);
  if (!Writing(run)) return;
  // Waited for: the file is made only after its name is kept, so that a
  // kill in between leaves no file a resumed run does not know.
  auto done = std::make_shared<std::promise<bool>>();
  std::future<bool> kept = done->get_future();
  Submit(StoreCall{run.handle, [target, path](HistoryStore& store, std::int64_t id) {
                     return id != 0 && store.SetResultFile(id, target, path);
                   },
                   done});
  kept.wait_for(std::chrono::seconds(2));
}

bool HistoryRecorder::AfterRun(lanshu::RunKind kind, std::function<void(HistoryStore&, std::int64_t)> call) {
  const Recording& run = Of(kind);
  if (!Writing(run)) return false;
  Submit(StoreCall{run.handle, [call = std::move(call)](HistoryStore& store, std::int64_t id) {
                     if (id == 0) return false;
                     call(store, id);
                     return true;
                   },
                   nullptr});
  return true;
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
  w.whenComplete = run.shared;
  if (how == RunEnd::kFailed) w.reason = run.failure;
  Submit(std::move(w));
}

}  // namespace lanshu::history
