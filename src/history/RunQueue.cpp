// The pages of a run as a queue in the history database: what lets a killed
// run go on and several processes share one. A process claims a whole target
// at a time, so that a target's pages are asked in order by one process, as
// in a run that was never interrupted: the duplicate filter and the line
// limit of a target read its earlier pages.
#include <QUuid>

#include "history/StoreInternals.h"

namespace lanshu::history {
using namespace detail;

namespace {

QVariant Id(std::int64_t id) { return QVariant::fromValue<qint64>(id); }

}  // namespace

std::optional<std::optional<RunInfo>> HistoryStore::Resumable(RunKind kind) {
  if (!d_->Ready()) return std::nullopt;
  QSqlQuery q(d_->Db());
  q.prepare(QStringLiteral(
      "SELECT r.id FROM runs r WHERE r.kind = ? AND r.abandoned = 0 AND r.campaign IS NULL "
      "AND r.ending IN ('unfinished', 'stopped', 'blocked') "
      "AND EXISTS (SELECT 1 FROM queue_targets t WHERE t.run_id = r.id) "
      "ORDER BY r.started DESC, r.id DESC LIMIT 1"));
  q.addBindValue(QLatin1String(kKindNames[static_cast<int>(kind)]));
  if (!d_->Exec(q, "cannot look for a run to go on with")) return std::nullopt;
  if (!q.next()) return std::optional<RunInfo>();
  const std::int64_t id = q.value(0).toLongLong();
  q.finish();
  std::optional<RunInfo> run = Run(id);
  if (!run) return std::nullopt;
  return std::optional<RunInfo>(std::move(*run));
}

std::optional<std::optional<std::int64_t>> HistoryStore::Campaign(const std::string& name) {
  if (!d_->Ready()) return std::nullopt;
  QSqlQuery q(d_->Db());
  q.prepare(QStringLiteral("SELECT id FROM runs WHERE campaign = ?"));
  q.addBindValue(Q(name));
  if (!d_->Exec(q, "cannot look for the campaign")) return std::nullopt;
  if (!q.next()) return std::optional<std::int64_t>();
  return std::optional<std::int64_t>(q.value(0).toLongLong());
}

bool HistoryStore::Abandon(std::int64_t runId) {
  if (!d_->Ready()) return false;
  QSqlQuery q(d_->Db());
  q.prepare(QStringLiteral("UPDATE runs SET abandoned = 1 WHERE id = ?"));
  q.addBindValue(Id(runId));
  if (!d_->Exec(q, "cannot give up the run")) return false;
  if (q.numRowsAffected() != 1) return d_->Fail("no run " + std::to_string(runId) + " in the history");
  return true;
}

bool HistoryStore::Reopen(std::int64_t runId) {
  if (!d_->Ready() || !d_->Begin()) return false;
  const QString steps[] = {
      QStringLiteral("UPDATE queue_pages SET state = 'pending', holder = '', lease_until = 0, reason = '' "
                     "WHERE run_id = ? AND state IN ('failed', 'blocked', 'claimed')"),
      QStringLiteral("UPDATE queue_targets SET holder = '', lease_until = 0 WHERE run_id = ?"),
      QStringLiteral("UPDATE runs SET ending = 'unfinished', finished = NULL, reason = '' WHERE id = ?"),
  };
  for (const QString& sql : steps) {
    QSqlQuery q(d_->Db());
    q.prepare(sql);
    q.addBindValue(Id(runId));
    if (!d_->Exec(q, "cannot go on with the run")) return d_->Abort();
  }
  return d_->Commit();
}

std::optional<std::optional<QueuedTarget>> HistoryStore::ClaimTarget(std::int64_t runId, const std::string& holder,
                                                                     std::int64_t leaseMs) {
  if (!d_->Ready()) return std::nullopt;
  const bool server = d_->engine == Engine::kPostgresql;
  const QString claimable = QStringLiteral(
      "SELECT t.target, t.position, t.pages FROM queue_targets t "
      "WHERE t.run_id = ? AND (t.holder = '' OR t.holder = ? OR t.lease_until < %1) "
      "AND EXISTS (SELECT 1 FROM queue_pages p WHERE p.run_id = t.run_id "
      "AND p.target = t.target AND p.state IN ('pending', 'claimed')) "
      "ORDER BY t.position LIMIT 1").arg(d_->NowMs());
  if (!server) {
    // Processes with nothing to do look often: they read first, and take
    // the file's write lock only when there is something to claim.
    QSqlQuery look(d_->Db());
    look.prepare(claimable);
    look.addBindValue(Id(runId));
    look.addBindValue(Q(holder));
    if (!d_->Exec(look, "cannot claim a target")) return std::nullopt;
    const bool any = look.next();
    look.finish();
    if (!any) return std::optional<QueuedTarget>();
  }
  if (!d_->Begin()) return std::nullopt;
  QSqlQuery q(d_->Db());
  // A server's other claimers skip the row this one locks instead of waiting
  // for it; a file's writers take turns anyway.
  q.prepare(claimable + (server ? QStringLiteral(" FOR UPDATE OF t SKIP LOCKED") : QString()));
  q.addBindValue(Id(runId));
  q.addBindValue(Q(holder));
  if (!d_->Exec(q, "cannot claim a target")) return d_->Abort(), std::nullopt;
  if (!q.next()) {
    q.finish();
    if (!d_->Commit()) return std::nullopt;
    return std::optional<QueuedTarget>();
  }
  QueuedTarget target;
  target.target = G(q.value(0));
  target.position = q.value(1).toInt();
  target.pages = q.value(2).isNull() ? -1 : q.value(2).toInt();
  q.finish();

  QSqlQuery take(d_->Db());
  take.prepare(QStringLiteral("UPDATE queue_targets SET holder = ?, lease_until = %1 + ? WHERE run_id = ? AND target = ?")
                   .arg(d_->NowMs()));
  take.addBindValue(Q(holder));
  take.addBindValue(QVariant::fromValue<qint64>(leaseMs));
  take.addBindValue(Id(runId));
  take.addBindValue(Q(target.target));
  if (!d_->Exec(take, "cannot claim a target")) return d_->Abort(), std::nullopt;

  QSqlQuery pages(d_->Db());
  pages.prepare(QStringLiteral("SELECT page FROM queue_pages WHERE run_id = ? AND target = ? "
                               "AND state IN ('pending', 'claimed') ORDER BY page"));
  pages.addBindValue(Id(runId));
  pages.addBindValue(Q(target.target));
  if (!d_->Exec(pages, "cannot claim a target")) return d_->Abort(), std::nullopt;
  while (pages.next()) target.open.push_back(pages.value(0).toInt());
  pages.finish();
  if (!d_->Commit()) return std::nullopt;
  return std::optional<QueuedTarget>(std::move(target));
}

bool HistoryStore::ClaimPage(std::int64_t runId, const std::string& target, int page, const std::string& holder,
                             std::int64_t leaseMs) {
  if (!d_->Ready()) return false;
  QSqlQuery q(d_->Db());
  // Pages after page 1 come with page 1's store, which goes first; a page
  // the queue does not know yet is added.
  q.prepare(QStringLiteral("INSERT INTO queue_pages (run_id, target, page, state, attempts, holder, lease_until) "
                           "SELECT ?, ?, ?, 'claimed', 1, ?, %1 + ? WHERE EXISTS (SELECT 1 FROM queue_targets "
                           "WHERE run_id = ? AND target = ?) ON CONFLICT (run_id, target, page) DO UPDATE SET "
                           "state = 'claimed', attempts = queue_pages.attempts + 1, holder = excluded.holder, "
                           "lease_until = excluded.lease_until")
                .arg(d_->NowMs()));
  q.addBindValue(Id(runId));
  q.addBindValue(Q(target));
  q.addBindValue(page);
  q.addBindValue(Q(holder));
  q.addBindValue(QVariant::fromValue<qint64>(leaseMs));
  q.addBindValue(Id(runId));
  q.addBindValue(Q(target));
  return d_->Exec(q, "cannot claim a page");
}

bool HistoryStore::Renew(std::int64_t runId, const std::string& holder, std::int64_t leaseMs) {
  if (!d_->Ready() || !d_->Begin()) return false;
  for (const char* table : {"queue_targets", "queue_pages"}) {
    QSqlQuery q(d_->Db());
    q.prepare(QStringLiteral("UPDATE %1 SET lease_until = %2 + ? WHERE run_id = ? AND holder = ?")
                  .arg(QLatin1String(table), d_->NowMs()));
    q.addBindValue(QVariant::fromValue<qint64>(leaseMs));
    q.addBindValue(Id(runId));
    q.addBindValue(Q(holder));
    if (!d_->Exec(q, "cannot renew the lease")) return d_->Abort();
  }
  return d_->Commit();
}

bool HistoryStore::Release(std::int64_t runId, const std::string& target, const std::string& holder) {
  if (!d_->Ready() || !d_->Begin()) return false;
  QSqlQuery pages(d_->Db());
  pages.prepare(QStringLiteral("UPDATE queue_pages SET state = 'pending', holder = '', lease_until = 0 "
                               "WHERE run_id = ? AND target = ? AND state = 'claimed' AND holder = ?"));
  QSqlQuery owner(d_->Db());
  owner.prepare(QStringLiteral("UPDATE queue_targets SET holder = '', lease_until = 0 "
                               "WHERE run_id = ? AND target = ? AND holder = ?"));
  for (QSqlQuery* q : {&pages, &owner}) {
    q->addBindValue(Id(runId));
    q->addBindValue(Q(target));
    q->addBindValue(Q(holder));
    if (!d_->Exec(*q, "cannot let the target go")) return d_->Abort();
  }
  return d_->Commit();
}

std::optional<QueueProgress> HistoryStore::Progress(std::int64_t runId) {
  if (!d_->Ready()) return std::nullopt;
  QSqlQuery q(d_->Db());
  q.prepare(QStringLiteral("SELECT COUNT(*), "
                           "COALESCE(SUM(CASE WHEN state IN ('ok', 'failed', 'blocked') THEN 1 ELSE 0 END), 0), "
                           "COALESCE(SUM(CASE WHEN state = 'ok' THEN 1 ELSE 0 END), 0) "
                           "FROM queue_pages WHERE run_id = ?"));
  q.addBindValue(Id(runId));
  if (!d_->Exec(q, "cannot read the queue") || !q.next()) return std::nullopt;
  QueueProgress progress;
  progress.pages = q.value(0).toLongLong();
  progress.done = q.value(1).toLongLong();
  progress.ok = q.value(2).toLongLong();
  return progress;
}

bool HistoryStore::SetResultFile(std::int64_t runId, const std::string& target, const std::string& path) {
  if (!d_->Ready()) return false;
  QSqlQuery q(d_->Db());
  q.prepare(target.empty() ? QStringLiteral("UPDATE runs SET result_file = ? WHERE id = ?")
                           : QStringLiteral("UPDATE queue_targets SET result_file = ? WHERE run_id = ? AND target = ?"));
  q.addBindValue(Q(path));
  q.addBindValue(Id(runId));
  if (!target.empty()) q.addBindValue(Q(target));
  return d_->Exec(q, "cannot record the result file");
}

std::optional<std::map<std::string, std::string>> HistoryStore::ResultFiles(std::int64_t runId) {
  if (!d_->Ready()) return std::nullopt;
  QSqlQuery q(d_->Db());
  q.prepare(QStringLiteral("SELECT '', result_file FROM runs WHERE id = ? UNION ALL "
                           "SELECT target, result_file FROM queue_targets WHERE run_id = ?"));
  q.addBindValue(Id(runId));
  q.addBindValue(Id(runId));
  if (!d_->Exec(q, "cannot read the run's result files")) return std::nullopt;
  std::map<std::string, std::string> files;
  while (q.next())
    if (!q.value(1).toString().isEmpty()) files[G(q.value(0))] = G(q.value(1));
  return files;
}

std::optional<bool> HistoryStore::TakeFileWriting(std::int64_t runId) {
  if (!d_->Ready()) return std::nullopt;
  QSqlQuery q(d_->Db());
  q.prepare(QStringLiteral("UPDATE runs SET files_written = 1 WHERE id = ? AND files_written = 0"));
  q.addBindValue(Id(runId));
  if (!d_->Exec(q, "cannot record who writes the result files")) return std::nullopt;
  return q.numRowsAffected() == 1;
}

std::optional<std::vector<PageRecord>> HistoryStore::LoadStoredPages(std::int64_t runId) {
  if (!d_->Ready()) return std::nullopt;
  // Pages of a queued run in target and page order; of another, as stored.
  const QString order = QStringLiteral(
      "COALESCE(t.position, 0), CASE WHEN t.position IS NULL THEN p.id ELSE p.page END, p.id");
  QSqlQuery q(d_->Db());
  q.setForwardOnly(true);
  q.prepare(QStringLiteral("SELECT p.id, p.target, p.page, p.outcome, p.reason, p.attempts, p.row_count FROM pages p "
                           "LEFT JOIN queue_targets t ON t.run_id = p.run_id AND t.target = p.target "
                           "WHERE p.run_id = ? ORDER BY ") +
            order);
  q.addBindValue(Id(runId));
  if (!d_->Exec(q, "cannot read the pages")) return std::nullopt;
  std::vector<PageRecord> pages;
  std::unordered_map<std::int64_t, std::size_t> index;
  while (q.next()) {
    PageRecord p;
    index[q.value(0).toLongLong()] = pages.size();
    p.target = G(q.value(1));
    p.page = q.value(2).toInt();
    FromName(q.value(3).toString(), kOutcomeNames, p.outcome);
    p.reason = G(q.value(4));
    p.attempts = q.value(5).toInt();
    p.rowCount = q.value(6).toLongLong();
    pages.push_back(std::move(p));
  }
  for (const bool rank : {true, false}) {
    QSqlQuery r(d_->Db());
    r.setForwardOnly(true);
    r.prepare(rank ? QStringLiteral("SELECT page_id, serial, domain, keyword, rank_text, volume, indexed_pages, title, "
                                    "link FROM rank_rows WHERE run_id = ? ORDER BY id")
                   : QStringLiteral("SELECT page_id, line FROM mining_rows WHERE run_id = ? ORDER BY id"));
    r.addBindValue(Id(runId));
    if (!d_->Exec(r, "cannot read the rows")) return std::nullopt;
    while (r.next()) {
      const auto it = index.find(r.value(0).toLongLong());
      if (it == index.end()) continue;
      PageRecord& page = pages[it->second];
      if (!rank) {
        page.miningLines.push_back(G(r.value(1)));
        continue;
      }
      RankCells cells;
      for (int c = 0; c < 8; ++c) cells[c] = G(r.value(c + 1));
      page.rankRows.push_back(std::move(cells));
    }
  }
  return pages;
}

}  // namespace lanshu::history
