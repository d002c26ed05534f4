#pragma once
// The rank changes a run's notice tells, read from the history: for each
// domain of a rank run, the keywords that entered or left the top 10 or
// moved a number of places since the domain's previous finished rank run.
#include <cstdint>
#include <optional>
#include <vector>

#include "history/HistoryStore.h"
#include "run/Notice.h"

namespace lanshu::history {

// The newest finished rank run of domain listed before run runId (by start,
// then id); 0 when there is none. None when the store fails.
std::optional<std::int64_t> PreviousFinishedRun(HistoryStore& store, const std::string& domain, std::int64_t runId);

// NotableChanges of each domain of rank run runId against its previous
// finished run, domain by domain in the run's order. A domain without one
// adds nothing; so does a run that retried another's failed pages, as it
// lists only those pages' keywords. None when the store fails.
std::optional<std::vector<RankChange>> RankChangesOfRun(HistoryStore& store, std::int64_t runId, int places);

}  // namespace lanshu::history
