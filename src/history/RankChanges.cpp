#include "history/RankChanges.h"

namespace lanshu::history {

std::optional<std::int64_t> PreviousFinishedRun(HistoryStore& store, const std::string& domain, std::int64_t runId) {
  const auto runs = store.RunsOfDomain(domain);  // newest first
  if (!runs) return std::nullopt;
  bool past = false;
  for (const RunInfo& run : *runs) {
    if (run.id == runId) {
      past = true;
    } else if (past && run.kind == RunKind::kRank && run.ending == Ending::kFinished) {
      return run.id;
    }
  }
  return 0;
}

std::optional<std::vector<RankChange>> RankChangesOfRun(HistoryStore& store, std::int64_t runId, int places) {
  const auto run = store.Run(runId);
  if (!run) return std::nullopt;
  std::vector<RankChange> changes;
  if (run->kind != RunKind::kRank || run->continues != 0) return changes;
  for (const std::string& domain : run->targets) {
    const auto previous = PreviousFinishedRun(store, domain, runId);
    if (!previous) return std::nullopt;
    if (*previous == 0) continue;
    const auto rows = store.Compare(*previous, runId, domain);
    if (!rows) return std::nullopt;
    for (const ComparisonRow& row : NotableChanges(*rows, places))
      changes.push_back({domain, row.keyword, row.oldPosition, row.newPosition});
  }
  return changes;
}

}  // namespace lanshu::history
