#include "history/HistoryStore.h"

#include <atomic>
#include <map>
#include <mutex>
#include <unordered_map>


#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSqlDatabase>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlQuery>
#include <QStandardPaths>
#include <QUrl>
#include <QUrlQuery>
#include <QUuid>

#include "history/DatabaseAddress.h"
#include "history/StoreInternals.h"
#include "history/Schema.h"
#include "text/Codec.h"

namespace lanshu::history {
using namespace detail;


const char* EndingName(Ending ending) { return kEndingNames[static_cast<int>(ending)]; }


HistoryStore::HistoryStore() : d_(std::make_unique<Impl>()) {
  d_->name = QStringLiteral("lanshu-history-%1").arg(++connectionCounter);
}

HistoryStore::~HistoryStore() { Close(); }

std::string HistoryStore::DefaultPath() {
  const QString dir = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
  return G(QDir(dir).filePath(QStringLiteral("history.sqlite")));
}

bool HistoryStore::Open(const std::string& database, const QString& sqlRoot) {
  Close();
  d_->error.clear();
  {
    const std::lock_guard<std::mutex> hold(d_->socketLock);
    if (d_->interrupted) return d_->Fail("history store is not open");
  }
  const QString setting = Q(database).trimmed();
  bool ok;
  if (setting.startsWith(QLatin1String("postgresql://")) || setting.startsWith(QLatin1String("postgres://"))) {
    d_->engine = Engine::kPostgresql;
    ok = d_->OpenPostgresql(setting);
  } else {
    d_->engine = Engine::kSqlite;
    QString path = setting.isEmpty() ? Q(DefaultPath()) : setting;
    if (setting.isEmpty()) QDir().mkpath(QFileInfo(path).absolutePath());
    ok = d_->OpenSqlite(path);
  }
  d_->open = ok;
  if (ok) d_->open = d_->EnsureSchema(sqlRoot.isEmpty() ? QStringLiteral(":/history/sql") : sqlRoot);
  if (!d_->open) {
    const std::string reason = d_->error;
    Close();
    d_->error = reason;
  }
  return d_->open;
}

void HistoryStore::Close() {
  d_->open = false;
  {
    const std::lock_guard<std::mutex> hold(d_->socketLock);
    d_->socket = -1;
  }
  if (!QSqlDatabase::contains(d_->name)) return;
  {
    QSqlDatabase db = QSqlDatabase::database(d_->name, false);
    db.close();
  }
  QSqlDatabase::removeDatabase(d_->name);
}

bool HistoryStore::IsOpen() const { return d_->open; }

void HistoryStore::Interrupt() {
  const std::lock_guard<std::mutex> hold(d_->socketLock);
  d_->interrupted = true;
  d_->ShutSocketLocked();
}
const std::string& HistoryStore::LastError() const { return d_->error; }

bool HistoryStore::Impl::OpenSqlite(const QString& path) {
  if (!QSqlDatabase::isDriverAvailable(QStringLiteral("QSQLITE")))
    return Fail("the SQLite driver of Qt SQL is missing");
  QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
  db.setDatabaseName(path);
  db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=%1").arg(kSqliteBusyMs));
  if (!db.open()) return Fail("cannot open " + Utf8(path), db.lastError());
  // Reading the schema is the first touch of the file: a file that is not a
  // database fails here.
  QSqlQuery q(db);
  if (!q.exec(QStringLiteral("PRAGMA foreign_keys = ON")))
    return Fail("cannot use " + Utf8(path), q.lastError());
  // Write-ahead logging: readers never wait for the writer, and a commit is
  // safe from a killed process without a sync of the whole file. A file that
  // cannot be written keeps its mode; writing then fails and says so.
  q.exec(QStringLiteral("PRAGMA journal_mode = WAL"));
  q.exec(QStringLiteral("PRAGMA synchronous = NORMAL"));
  q.exec(QStringLiteral("PRAGMA cache_size = -32000"));
  q.exec(QStringLiteral("PRAGMA mmap_size = 268435456"));
  return true;
}

bool HistoryStore::Impl::OpenPostgresql(const QString& address) {
  if (!QSqlDatabase::isDriverAvailable(QStringLiteral("QPSQL")))
    return Fail("the PostgreSQL driver of Qt SQL is missing");
  const QUrl url(address, QUrl::StrictMode);
  if (!url.isValid()) return Fail("not a database address: " + Utf8(AddressWithoutPassword(address)));
  const QUrlQuery query(url);
  QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), name);
  // A socket folder goes in ?host=, as libpq takes it.
  const QString host = query.hasQueryItem(QStringLiteral("host")) ? query.queryItemValue(QStringLiteral("host"), QUrl::FullyDecoded)
                                                                   : url.host();
  if (!host.isEmpty()) db.setHostName(host);
  const int port = query.hasQueryItem(QStringLiteral("port")) ? query.queryItemValue(QStringLiteral("port")).toInt()
                                                              : url.port(5432);
  db.setPort(port);
  if (!url.userName().isEmpty()) db.setUserName(url.userName(QUrl::FullyDecoded));
  if (!url.password().isEmpty()) db.setPassword(url.password(QUrl::FullyDecoded));
  QString dbName = url.path(QUrl::FullyDecoded);
  if (dbName.startsWith(QLatin1Char('/'))) dbName.remove(0, 1);
  if (!dbName.isEmpty()) db.setDatabaseName(dbName);
  // The statement time-out is the server's; a server that vanishes from the
  // network is noticed by the client through TCP time-outs instead of after
  // minutes of retransmission.
  db.setConnectOptions(QStringLiteral("connect_timeout=%1;application_name=lanshu-collector;"
                                      "tcp_user_timeout=%2;keepalives_idle=5;keepalives_interval=2;"
                                      "keepalives_count=2")
                           .arg(kConnectSeconds)
                           .arg(kConnectSeconds * 1000));
  if (!db.open()) return Fail("cannot reach " + Utf8(url.toDisplayString(QUrl::RemovePassword)), db.lastError());
#ifdef LANSHU_HISTORY_LIBPQ
  // Known before the first statement: a server may stop answering at any of them.
  const QVariant handle = db.driver()->handle();
  // Qt names the type by the struct behind libpq's typedef.
  if (handle.isValid() && (qstrcmp(handle.typeName(), "PGconn*") == 0 || qstrcmp(handle.typeName(), "pg_conn*") == 0))
    if (PGconn* connection = *static_cast<PGconn* const*>(handle.constData())) {
      const std::lock_guard<std::mutex> hold(socketLock);
      socket = PQsocket(connection);
      if (interrupted) ShutSocketLocked();
    }
#endif
  QSqlQuery q(db);
  for (const QString& s : {QStringLiteral("SET TIME ZONE 'UTC'"), QStringLiteral("SET client_min_messages = warning")})
    if (!q.exec(s)) return Fail("cannot set up the session", q.lastError());
  for (const QString& s : QString::fromLatin1(kPgSessionTimeouts).split(QLatin1Char(';')))
    if (!q.exec(s.trimmed())) return Fail("cannot set up the session", q.lastError());
  return true;
}

// 0 for a database without any tables; -1 (with the reason) when it cannot
// be read or holds tables that are not a history.
int HistoryStore::Impl::ReadVersion(bool& ok) {
  ok = false;
  QSqlDatabase db = Db();
  QSqlQuery q(db);
  const QString probe = engine == Engine::kSqlite
                            ? QStringLiteral("SELECT name FROM sqlite_master WHERE type = 'table'")
                            : QStringLiteral("SELECT table_name FROM information_schema.tables "
                                             "WHERE table_schema = current_schema()");
  if (!q.exec(probe)) return Fail("cannot read the database", q.lastError()), -1;
  bool any = false, versioned = false;
  while (q.next()) {
    any = true;
    if (q.value(0).toString() == QLatin1String("schema_version")) versioned = true;
  }
  if (!any) {
    ok = true;
    return 0;
  }
  if (!versioned) return Fail("the database holds other tables and no history"), -1;
  if (!q.exec(QStringLiteral("SELECT MAX(version) FROM schema_version")) || !q.next())
    return Fail("cannot read the schema version", q.lastError()), -1;
  ok = true;
  return q.value(0).toInt();
}

bool HistoryStore::Impl::RunSteps(const QStringList& files) {
  for (const QString& path : files) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return Fail("cannot read the schema step " + Utf8(path));
    for (const QString& statement : schema::Statements(QString::fromUtf8(file.readAll()))) {
      QSqlQuery q(Db());
      if (!q.exec(statement)) return Fail("schema step " + Utf8(QFileInfo(path).fileName()) + " failed", q.lastError());
    }
  }
  return true;
}

bool HistoryStore::Impl::EnsureSchema(const QString& sqlRoot) {
  const schema::Steps steps =
      schema::Discover(sqlRoot + (engine == Engine::kSqlite ? QStringLiteral("/sqlite") : QStringLiteral("/postgresql")));
  const int newest = steps.Newest();
  if (newest == 0 || steps.NewestSetup() == 0) return Fail("no schema steps under " + Utf8(sqlRoot));
  bool ok;
  int version = ReadVersion(ok);
  if (!ok) return false;
  if (version > newest)
    return Fail("the history was written by a newer program (schema " + std::to_string(version) +
                ", this program knows up to " + std::to_string(newest) + ")");
  if (version == newest) return true;

  // Another program may be setting up or upgrading the same database: hold
  // the write lock, then look again.
  if (!Begin()) return false;
  if (engine == Engine::kPostgresql &&
      !Exec(QStringLiteral("SELECT pg_advisory_xact_lock(7469831)"), "cannot lock the schema"))
    return Abort();
  version = ReadVersion(ok);
  if (!ok) return Abort();
  auto record = [&](int v) {
    QSqlQuery q(Db());
    q.prepare(QStringLiteral("INSERT INTO schema_version (version, applied) VALUES (?, ?)"));
    q.addBindValue(v);
    q.addBindValue(TimeText(QDateTime::currentDateTimeUtc()));
    return Exec(q, "cannot record the schema version");
  };
  if (version == 0) {
    version = steps.NewestSetup();
    if (!RunSteps(steps.setup.at(version)) || !record(version)) return Abort();
  }
  for (int v = version + 1; v <= newest; ++v) {
    const auto it = steps.upgrade.find(v);
    if (it == steps.upgrade.end()) {
      Fail("no upgrade step to schema " + std::to_string(v));
      return Abort();
    }
    if (!RunSteps(it->second) || !record(v)) return Abort();
  }
  return Commit();
}

int HistoryStore::SchemaVersion() {
  if (!d_->Ready()) return 0;
  bool ok;
  const int v = d_->ReadVersion(ok);
  return ok ? v : 0;
}

std::optional<std::int64_t> HistoryStore::Impl::InsertReturningId(QSqlQuery& q, const char* what) {
  if (!Exec(q, what)) return std::nullopt;
  if (!q.next()) {
    Fail(what, q.lastError());
    return std::nullopt;
  }
  const std::int64_t id = q.value(0).toLongLong();
  // SQLite refuses to commit while a statement still has rows to give.
  q.finish();
  return id;
}

std::optional<std::int64_t> HistoryStore::BeginRun(RunKind kind, const std::vector<std::string>& targets,
                                                   const std::string& settings, const QDateTime& started,
                                                   const std::string& columns, std::int64_t continues,
                                                   const std::string& plan, const std::string& campaign) {
  if (!d_->Ready() || !d_->Begin()) return std::nullopt;
  QSqlQuery q(d_->Db());
  q.prepare(QStringLiteral("INSERT INTO runs (uid, kind, settings, columns, started, continues, plan, campaign) VALUES "
                           "(?, ?, ?, ?, ?, COALESCE((SELECT c.uid FROM runs c WHERE c.id = ?), ''), ?, ?) RETURNING id"));
  q.addBindValue(QUuid::createUuid().toString(QUuid::WithoutBraces));
  q.addBindValue(QLatin1String(RunKindName(kind)));
  q.addBindValue(Q(settings));
  q.addBindValue(Q(columns));
  q.addBindValue(TimeText(started.isValid() ? started : QDateTime::currentDateTimeUtc()));
  q.addBindValue(QVariant::fromValue<qint64>(continues));
  q.addBindValue(QString::fromStdString(plan));
  q.addBindValue(campaign.empty() ? NullText() : Q(campaign));
  const std::optional<std::int64_t> id = d_->InsertReturningId(q, "cannot record the run");
  if (!id) return d_->Abort(), std::nullopt;
  QSqlQuery t(d_->Db());
  t.prepare(QStringLiteral("INSERT INTO run_targets (run_id, position, target) VALUES (?, ?, ?)"));
  for (std::size_t i = 0; i < targets.size(); ++i) {
    t.addBindValue(QVariant::fromValue<qint64>(*id));
    t.addBindValue(static_cast<int>(i));
    t.addBindValue(Q(targets[i]));
    if (!d_->Exec(t, "cannot record the run's targets")) return d_->Abort(), std::nullopt;
  }
  // The queue: a run that asks failed pages again is a run of its own pages
  // and does not go on after a kill.
  if (continues == 0) {
    QSqlQuery qt(d_->Db());
    qt.prepare(QStringLiteral("INSERT INTO queue_targets (run_id, target, position) VALUES (?, ?, ?) "
                              "ON CONFLICT (run_id, target) DO NOTHING"));
    QSqlQuery qp(d_->Db());
    qp.prepare(QStringLiteral("INSERT INTO queue_pages (run_id, target, page) VALUES (?, ?, 1) "
                              "ON CONFLICT (run_id, target, page) DO NOTHING"));
    for (std::size_t i = 0; i < targets.size(); ++i) {
      qt.addBindValue(QVariant::fromValue<qint64>(*id));
      qt.addBindValue(Q(targets[i]));
      qt.addBindValue(static_cast<int>(i));
      qp.addBindValue(QVariant::fromValue<qint64>(*id));
      qp.addBindValue(Q(targets[i]));
      if (!d_->Exec(qt, "cannot queue the run's targets") || !d_->Exec(qp, "cannot queue the run's targets"))
        return d_->Abort(), std::nullopt;
    }
  }
  if (!d_->Commit()) return std::nullopt;
  return id;
}

bool HistoryStore::Impl::InsertRankRows(std::int64_t runId, std::int64_t pageId, const std::vector<RankCells>& rows) {
  static const QString head = QStringLiteral(
      "INSERT INTO rank_rows (run_id, page_id, serial, domain, keyword, rank_text, volume, indexed_pages, title, "
      "link, position) VALUES ");
  auto sqlFor = [](std::size_t n) {
    QString sql = head;
    for (std::size_t i = 0; i < n; ++i) sql += i ? QStringLiteral(",(?,?,?,?,?,?,?,?,?,?,?)") : QStringLiteral("(?,?,?,?,?,?,?,?,?,?,?)");
    return sql;
  };
  QSqlQuery full(Db());
  bool fullPrepared = false;
  const std::size_t chunk = static_cast<std::size_t>(RowsPerInsert());
  for (std::size_t from = 0; from < rows.size(); from += chunk) {
    const std::size_t n = std::min(chunk, rows.size() - from);
    QSqlQuery partial(Db());
    QSqlQuery& q = n == chunk ? full : partial;
    if (&q == &partial || !fullPrepared) {
      if (!Prepare(q, sqlFor(n), "cannot store the rows")) return false;
      if (&q == &full) fullPrepared = true;
    }
    int index = 0;
    for (std::size_t r = from; r < from + n; ++r) {
      q.bindValue(index++, QVariant::fromValue<qint64>(runId));
      q.bindValue(index++, QVariant::fromValue<qint64>(pageId));
      for (const std::string& cell : rows[r]) q.bindValue(index++, Q(cell));
      const std::optional<int> position = PositionOf(rows[r][3]);
      q.bindValue(index++, position ? QVariant(*position) : NullInt());
    }
    if (!Exec(q, "cannot store the rows")) return false;
  }
  return true;
}

bool HistoryStore::Impl::InsertMiningRows(std::int64_t runId, std::int64_t pageId,
                                          const std::vector<std::string>& lines, const std::string& header) {
  if (lines.empty()) return true;  // a rank page
  const std::vector<int> layout = MiningLayout(header);
  QSqlQuery q(Db());
  if (!Prepare(q, QStringLiteral("INSERT INTO mining_rows (run_id, page_id, line, keyword, volume, indexed_pages, "
                                 "first_site, second_site, difficulty) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?)"),
               "cannot store the lines"))
    return false;
  for (const std::string& line : lines) {
    const std::vector<std::string> cells = CsvCells(line);
    QVariant metrics[5] = {NullText(), NullText(), NullText(), NullText(), NullText()};
    for (std::size_t i = 1; i < cells.size() && i - 1 < layout.size(); ++i)
      if (layout[i - 1] >= 0) metrics[layout[i - 1]] = Q(cells[i]);
    q.bindValue(0, QVariant::fromValue<qint64>(runId));
    q.bindValue(1, QVariant::fromValue<qint64>(pageId));
    q.bindValue(2, Q(line));
    q.bindValue(3, Q(cells[0]));
    for (int k = 0; k < 5; ++k) q.bindValue(4 + k, metrics[k]);
    if (!Exec(q, "cannot store the lines")) return false;
  }
  return true;
}

bool HistoryStore::Impl::AddDomainStats(std::int64_t runId, const std::vector<RankCells>& rows) {
  if (rows.empty()) return true;  // nothing to count (a mining page, an empty one)
  struct Counts {
    std::int64_t keywords = 0, top10 = 0, top50 = 0, beyond = 0;
  };
  std::map<std::string, Counts> byDomain;
  for (const RankCells& row : rows) {
    Counts& c = byDomain[row[1]];
    ++c.keywords;
    const std::optional<int> p = PositionOf(row[3]);
    if (p && *p >= 1 && *p <= 10) ++c.top10;
    else if (p && *p >= 11 && *p <= 50) ++c.top50;
    else ++c.beyond;
  }
  QSqlQuery q(Db());
  if (!Prepare(q, QStringLiteral(
                      "INSERT INTO rank_domain_stats (run_id, domain, keywords, top10, top50, beyond) "
                      "VALUES (?, ?, ?, ?, ?, ?) ON CONFLICT (domain, run_id) DO UPDATE SET "
                      "keywords = rank_domain_stats.keywords + excluded.keywords, "
                      "top10 = rank_domain_stats.top10 + excluded.top10, "
                      "top50 = rank_domain_stats.top50 + excluded.top50, "
                      "beyond = rank_domain_stats.beyond + excluded.beyond"),
               "cannot count the rows"))
    return false;
  for (const auto& [domain, c] : byDomain) {
    q.bindValue(0, QVariant::fromValue<qint64>(runId));
    q.bindValue(1, Q(domain));
    q.bindValue(2, QVariant::fromValue<qint64>(c.keywords));
    q.bindValue(3, QVariant::fromValue<qint64>(c.top10));
    q.bindValue(4, QVariant::fromValue<qint64>(c.top50));
    q.bindValue(5, QVariant::fromValue<qint64>(c.beyond));
    if (!Exec(q, "cannot count the rows")) return false;
  }
  return true;
}

bool HistoryStore::StorePage(std::int64_t runId, const PageRecord& page) {
  if (!d_->Ready() || !d_->Begin()) return false;
  const QVariant run = QVariant::fromValue<qint64>(runId);
  // One round trip for the run's header, the target's lease (nobody holds
  // the targets of a run that is not shared) and the page stored before.
  QSqlQuery head(d_->Db());
  head.prepare(QStringLiteral(
      "SELECT r.columns, t.target IS NOT NULL, COALESCE(t.holder, ''), COALESCE(p.id, 0), COALESCE(p.row_count, 0) "
      "FROM runs r LEFT JOIN queue_targets t ON t.run_id = r.id AND t.target = ? "
      "LEFT JOIN pages p ON p.run_id = r.id AND p.target = ? AND p.page = ? WHERE r.id = ?"));
  head.addBindValue(Q(page.target));
  head.addBindValue(Q(page.target));
  head.addBindValue(page.page);
  head.addBindValue(run);
  if (!d_->Exec(head, "cannot read the run")) return d_->Abort();
  if (!head.next()) {
    d_->Fail("no run " + std::to_string(runId) + " in the history");
    return d_->Abort();
  }
  const std::string header = G(head.value(0));
  const bool queued = head.value(1).toBool();
  const std::string holder = G(head.value(2));
  const std::int64_t oldRows = head.value(4).toLongLong();
  // A page stored before gives up its rows: its new ones replace them.
  const std::int64_t oldId = oldRows > 0 ? head.value(3).toLongLong() : 0;
  head.finish();
  if (queued && !holder.empty() && holder != page.holder) {
    d_->Fail("lease lost");
    return d_->Abort();
  }
  if (oldId != 0)
    for (const char* table : {"rank_rows", "mining_rows"}) {
      QSqlQuery drop(d_->Db());
      drop.prepare(QStringLiteral("DELETE FROM %1 WHERE page_id = ?").arg(QLatin1String(table)));
      drop.addBindValue(QVariant::fromValue<qint64>(oldId));
      if (!d_->Exec(drop, "cannot replace the rows")) return d_->Abort();
    }

  const std::int64_t rows = static_cast<std::int64_t>(page.rankRows.size() + page.miningLines.size());
  QSqlQuery q(d_->Db());
  q.prepare(QStringLiteral(
      "INSERT INTO pages (run_id, target, page, outcome, reason, attempts, row_count, stored) "
      "VALUES (?, ?, ?, ?, ?, ?, ?, ?) ON CONFLICT (run_id, target, page) DO UPDATE SET "
      "outcome = excluded.outcome, reason = excluded.reason, attempts = pages.attempts + excluded.attempts, "
      "row_count = excluded.row_count, stored = excluded.stored RETURNING id"));
  q.addBindValue(run);
  q.addBindValue(Q(page.target));
  q.addBindValue(page.page);
  q.addBindValue(QLatin1String(OutcomeName(page.outcome)));
  q.addBindValue(Q(page.reason));
  q.addBindValue(page.attempts);
  q.addBindValue(QVariant::fromValue<qint64>(rows));
  q.addBindValue(TimeText(QDateTime::currentDateTimeUtc()));
  const std::optional<std::int64_t> pageId = d_->InsertReturningId(q, "cannot store the page");
  if (!pageId) return d_->Abort();
  if (!d_->InsertRankRows(runId, *pageId, page.rankRows) ||
      !(oldId != 0 ? d_->RecountDomain(runId, page.target) : d_->AddDomainStats(runId, page.rankRows)) ||
      !d_->InsertMiningRows(runId, *pageId, page.miningLines, header))
    return d_->Abort();
  if (rows != oldRows) {
    QSqlQuery u(d_->Db());
    u.prepare(QStringLiteral("UPDATE runs SET row_count = row_count + ? WHERE id = ?"));
    u.addBindValue(QVariant::fromValue<qint64>(rows - oldRows));
    u.addBindValue(run);
    if (!d_->Exec(u, "cannot count the rows")) return d_->Abort();
  }
  if (queued && !d_->QueuePageStored(runId, page)) return d_->Abort();
  return d_->Commit();
}

bool HistoryStore::Impl::RecountDomain(std::int64_t runId, const std::string& domain) {
  const QVariant run = QVariant::fromValue<qint64>(runId);
  QSqlQuery drop(Db());
  drop.prepare(QStringLiteral("DELETE FROM rank_domain_stats WHERE run_id = ? AND domain = ?"));
  drop.addBindValue(run);
  drop.addBindValue(Q(domain));
  if (!Exec(drop, "cannot count the rows")) return false;
  QSqlQuery count(Db());
  count.prepare(QStringLiteral(
      "INSERT INTO rank_domain_stats (run_id, domain, keywords, top10, top50, beyond) "
      "SELECT run_id, domain, COUNT(*), "
      "SUM(CASE WHEN position BETWEEN 1 AND 10 THEN 1 ELSE 0 END), "
      "SUM(CASE WHEN position BETWEEN 11 AND 50 THEN 1 ELSE 0 END), "
      "SUM(CASE WHEN position BETWEEN 1 AND 50 THEN 0 ELSE 1 END) "
      "FROM rank_rows WHERE run_id = ? AND domain = ? GROUP BY run_id, domain"));
  count.addBindValue(run);
  count.addBindValue(Q(domain));
  return Exec(count, "cannot count the rows");
}

bool HistoryStore::Impl::QueuePageStored(std::int64_t runId, const PageRecord& page) {
  const QVariant run = QVariant::fromValue<qint64>(runId);
  QSqlQuery state(Db());
  state.prepare(QStringLiteral(
      "INSERT INTO queue_pages (run_id, target, page, state, attempts, reason) VALUES (?, ?, ?, ?, ?, ?) "
      "ON CONFLICT (run_id, target, page) DO UPDATE SET state = excluded.state, reason = excluded.reason, "
      "holder = '', lease_until = 0, "
      "attempts = CASE WHEN queue_pages.attempts = 0 THEN excluded.attempts ELSE queue_pages.attempts END"));
  state.addBindValue(run);
  state.addBindValue(Q(page.target));
  state.addBindValue(page.page);
  state.addBindValue(QLatin1String(OutcomeName(page.outcome)));
  state.addBindValue(page.attempts);
  state.addBindValue(Q(page.reason));
  if (!Exec(state, "cannot store the page's state")) return false;
  if (page.revealed >= 0) {
    QSqlQuery total(Db());
    total.prepare(QStringLiteral("UPDATE queue_targets SET pages = ? WHERE run_id = ? AND target = ?"));
    total.addBindValue(page.revealed);
    total.addBindValue(run);
    total.addBindValue(Q(page.target));
    QSqlQuery add(Db());
    add.prepare(QStringLiteral(
        "WITH RECURSIVE n (k) AS (SELECT 2 UNION ALL SELECT k + 1 FROM n WHERE k < ?) "
        "INSERT INTO queue_pages (run_id, target, page) SELECT ?, ?, k FROM n WHERE k <= ? "
        "ON CONFLICT (run_id, target, page) DO NOTHING"));
    add.addBindValue(page.revealed);
    add.addBindValue(run);
    add.addBindValue(Q(page.target));
    add.addBindValue(page.revealed);
    if (!Exec(total, "cannot queue the pages") || !Exec(add, "cannot queue the pages")) return false;
  }
  if (page.lastOfTarget) {
    QSqlQuery rest(Db());
    rest.prepare(QStringLiteral("DELETE FROM queue_pages WHERE run_id = ? AND target = ? AND page > ? "
                                "AND state IN ('pending', 'claimed')"));
    rest.addBindValue(run);
    rest.addBindValue(Q(page.target));
    rest.addBindValue(page.page);
    if (!Exec(rest, "cannot queue the pages")) return false;
  }
  return true;
}

bool HistoryStore::FinishRun(std::int64_t runId, Ending how, const QDateTime& finished, const std::string& reason) {
  if (how == Ending::kAbandoned) return Abandon(runId);
  if (!d_->Ready()) return false;
  QSqlQuery q(d_->Db());
  q.prepare(QStringLiteral("UPDATE runs SET ending = ?, finished = ?, reason = ? WHERE id = ?"));
  q.addBindValue(QLatin1String(EndingName(how)));
  q.addBindValue(TimeText(finished.isValid() ? finished : QDateTime::currentDateTimeUtc()));
  q.addBindValue(QString::fromStdString(reason));
  q.addBindValue(QVariant::fromValue<qint64>(runId));
  if (!d_->Exec(q, "cannot record the end of the run")) return false;
  if (q.numRowsAffected() != 1) return d_->Fail("no run " + std::to_string(runId) + " in the history");
  return true;
}

std::optional<std::vector<RunInfo>> HistoryStore::Impl::QueryRuns(const QString& where, const QVariantList& binds,
                                                                  const QString& order) {
  QSqlQuery q(Db());
  q.setForwardOnly(true);
  q.prepare(QStringLiteral("SELECT r.id, r.uid, r.kind, r.columns, r.started, r.finished, r.ending, r.row_count, "
                           "(SELECT COUNT(*) FROM pages p WHERE p.run_id = r.id AND p.outcome <> 'ok'), r.reason, "
                           "COALESCE((SELECT c.id FROM runs c WHERE r.continues <> '' AND c.uid = r.continues), 0), "
                           "r.abandoned FROM runs r ") +
            where + QStringLiteral(" ORDER BY ") + order);
  for (const QVariant& v : binds) q.addBindValue(v);
  if (!Exec(q, "cannot list the runs")) return std::nullopt;
  std::vector<RunInfo> runs;
  std::unordered_map<std::int64_t, std::size_t> index;
  while (q.next()) {
    RunInfo r;
    r.id = q.value(0).toLongLong();
    r.uid = Utf8(q.value(1).toString());
    FromName(q.value(2).toString(), kKindNames, r.kind);
    r.columns = G(q.value(3));
    r.started = ReadTime(q.value(4));
    r.finished = ReadTime(q.value(5));
    FromName(q.value(6).toString(), kEndingNames, r.ending);
    r.rows = q.value(7).toLongLong();
    r.pagesNotOk = q.value(8).toLongLong();
    r.reason = Utf8(q.value(9).toString());
    r.continues = q.value(10).toLongLong();
    if (q.value(11).toInt() != 0) r.ending = Ending::kAbandoned;
    index[r.id] = runs.size();
    runs.push_back(std::move(r));
  }
  if (runs.empty()) return runs;
  // The targets of the runs listed; one query for all when the list is long.
  QSqlQuery t(Db());
  t.setForwardOnly(true);
  if (runs.size() == 1) {
    t.prepare(QStringLiteral("SELECT run_id, target FROM run_targets WHERE run_id = ? ORDER BY run_id, position"));
    t.addBindValue(QVariant::fromValue<qint64>(runs[0].id));
  } else {
    t.prepare(QStringLiteral("SELECT run_id, target FROM run_targets ORDER BY run_id, position"));
  }
  if (!Exec(t, "cannot list the runs")) return std::nullopt;
  while (t.next()) {
    const auto it = index.find(t.value(0).toLongLong());
    if (it != index.end()) runs[it->second].targets.push_back(G(t.value(1)));
  }
  return runs;
}

std::optional<std::vector<RunInfo>> HistoryStore::ListRuns() {
  if (!d_->Ready()) return std::nullopt;
  return d_->QueryRuns(QString(), {}, QStringLiteral("r.started DESC, r.id DESC"));
}

std::optional<RunInfo> HistoryStore::Run(std::int64_t runId) {
  if (!d_->Ready()) return std::nullopt;
  auto runs = d_->QueryRuns(QStringLiteral("WHERE r.id = ?"), {QVariant::fromValue<qint64>(runId)},
                            QStringLiteral("r.id"));
  if (!runs) return std::nullopt;
  if (runs->empty()) {
    d_->Fail("no run " + std::to_string(runId) + " in the history");
    return std::nullopt;
  }
  QSqlQuery q(d_->Db());
  q.prepare(QStringLiteral("SELECT settings, plan FROM runs WHERE id = ?"));
  q.addBindValue(QVariant::fromValue<qint64>(runId));
  if (!d_->Exec(q, "cannot read the run") || !q.next()) return std::nullopt;
  RunInfo run = std::move(runs->front());
  run.settings = G(q.value(0));
  run.plan = Utf8(q.value(1).toString());
  return run;
}

namespace {
const QString kOfDomain = QStringLiteral(
    "WHERE r.kind = 'rank' AND EXISTS (SELECT 1 FROM run_targets t WHERE t.run_id = r.id AND t.target = ?)");
}

std::optional<std::vector<RunInfo>> HistoryStore::RunsOfDomain(const std::string& domain) {
  if (!d_->Ready()) return std::nullopt;
  return d_->QueryRuns(kOfDomain, {Q(domain)}, QStringLiteral("r.started DESC, r.id DESC"));
}

std::optional<std::vector<SeriesPoint>> HistoryStore::DomainSeries(const std::string& domain) {
  if (!d_->Ready()) return std::nullopt;
  QSqlQuery q(d_->Db());
  q.setForwardOnly(true);
  q.prepare(QStringLiteral("SELECT r.id, r.started, r.ending, s.keywords, s.top10, s.top50, s.beyond FROM runs r "
                           "LEFT JOIN rank_domain_stats s ON s.run_id = r.id AND s.domain = ? ") +
            kOfDomain + QStringLiteral(" ORDER BY r.started, r.id"));
  q.addBindValue(Q(domain));
  q.addBindValue(Q(domain));
  if (!d_->Exec(q, "cannot read the domain's runs")) return std::nullopt;
  std::vector<SeriesPoint> series;
  while (q.next()) {
    SeriesPoint p;
    p.runId = q.value(0).toLongLong();
    p.started = ReadTime(q.value(1));
    FromName(q.value(2).toString(), kEndingNames, p.ending);
    p.keywords = q.value(3).toLongLong();
    p.top10 = q.value(4).toLongLong();
    p.top11to50 = q.value(5).toLongLong();
    p.beyond = q.value(6).toLongLong();
    series.push_back(p);
  }
  return series;
}

std::optional<std::vector<PageRecord>> HistoryStore::LoadPages(std::int64_t runId) {
  if (!d_->Ready()) return std::nullopt;
  QSqlQuery q(d_->Db());
  q.setForwardOnly(true);
  q.prepare(QStringLiteral("SELECT target, page, outcome, reason, attempts, row_count FROM pages "
                           "WHERE run_id = ? ORDER BY id"));
  q.addBindValue(QVariant::fromValue<qint64>(runId));
  if (!d_->Exec(q, "cannot read the pages")) return std::nullopt;
  std::vector<PageRecord> pages;
  while (q.next()) {
    PageRecord p;
    p.target = G(q.value(0));
    p.page = q.value(1).toInt();
    FromName(q.value(2).toString(), kOutcomeNames, p.outcome);
    p.reason = G(q.value(3));
    p.attempts = q.value(4).toInt();
    p.rowCount = q.value(5).toLongLong();
    pages.push_back(std::move(p));
  }
  return pages;
}

// Rows of a queued run in target, page and row order, whatever order their
// pages were stored in; of another run, as stored.
static const QString kInRunOrder = QStringLiteral(
    "JOIN pages p ON p.id = r.page_id LEFT JOIN queue_targets t ON t.run_id = p.run_id AND t.target = p.target "
    "WHERE r.run_id = ? ORDER BY COALESCE(t.position, 0), CASE WHEN t.position IS NULL THEN 0 ELSE p.page END, r.id");

std::optional<std::vector<RankCells>> HistoryStore::LoadRankRows(std::int64_t runId) {
  if (!d_->Ready()) return std::nullopt;
  QSqlQuery q(d_->Db());
  q.setForwardOnly(true);
  q.prepare(QStringLiteral("SELECT r.serial, r.domain, r.keyword, r.rank_text, r.volume, r.indexed_pages, r.title, "
                           "r.link FROM rank_rows r ") +
            kInRunOrder);
  q.addBindValue(QVariant::fromValue<qint64>(runId));
  if (!d_->Exec(q, "cannot read the rows")) return std::nullopt;
  std::vector<RankCells> rows;
  while (q.next()) {
    RankCells cells;
    for (int c = 0; c < 8; ++c) cells[c] = G(q.value(c));
    rows.push_back(std::move(cells));
  }
  return rows;
}

std::optional<std::vector<DomainRow>> HistoryStore::LoadDomainRows(std::int64_t runId, const std::string& domain) {
  if (!d_->Ready()) return std::nullopt;
  QSqlQuery q(d_->Db());
  q.setForwardOnly(true);
  // The run's order, as kInRunOrder has it, within the domain's rows.
  q.prepare(QStringLiteral("SELECT r.serial, r.domain, r.keyword, r.rank_text, r.volume, r.indexed_pages, r.title, "
                           "r.link, r.position FROM rank_rows r ") +
            QString(kInRunOrder).replace(QStringLiteral("WHERE r.run_id = ?"),
                                         QStringLiteral("WHERE r.run_id = ? AND r.domain = ?")));
  q.addBindValue(QVariant::fromValue<qint64>(runId));
  q.addBindValue(Q(domain));
  if (!d_->Exec(q, "cannot read the rows")) return std::nullopt;
  std::vector<DomainRow> rows;
  while (q.next()) {
    DomainRow row;
    for (int c = 0; c < 8; ++c) row.cells[c] = G(q.value(c));
    if (const QVariant p = q.value(8); !p.isNull()) row.position = p.toInt();
    rows.push_back(std::move(row));
  }
  return rows;
}

std::optional<std::vector<std::string>> HistoryStore::LoadMiningLines(std::int64_t runId) {
  if (!d_->Ready()) return std::nullopt;
  QSqlQuery q(d_->Db());
  q.setForwardOnly(true);
  q.prepare(QStringLiteral("SELECT r.line FROM mining_rows r ") + kInRunOrder);
  q.addBindValue(QVariant::fromValue<qint64>(runId));
  if (!d_->Exec(q, "cannot read the lines")) return std::nullopt;
  std::vector<std::string> lines;
  while (q.next()) lines.push_back(G(q.value(0)));
  return lines;
}

std::optional<std::pair<std::int64_t, std::int64_t>> HistoryStore::LatestTwoFinishedRuns(const std::string& domain) {
  if (!d_->Ready()) return std::nullopt;
  QSqlQuery q(d_->Db());
  q.setForwardOnly(true);
  q.prepare(QStringLiteral("SELECT r.id FROM runs r ") + kOfDomain +
            QStringLiteral(" AND r.ending = 'finished' ORDER BY r.started DESC, r.id DESC LIMIT 2"));
  q.addBindValue(Q(domain));
  if (!d_->Exec(q, "cannot read the domain's runs")) return std::nullopt;
  std::vector<std::int64_t> ids;
  while (q.next()) ids.push_back(q.value(0).toLongLong());
  if (ids.size() < 2) {
    d_->Fail("fewer than two finished runs of " + GbkToUtf8Text(domain) + " in the history");
    return std::nullopt;
  }
  return std::make_pair(ids[1], ids[0]);
}

bool HistoryStore::Impl::LoadEntries(std::int64_t runId, const QString& domain, std::vector<KeywordEntry>& out) {
  QSqlQuery q(Db());
  q.setForwardOnly(true);
  q.prepare(QStringLiteral("SELECT keyword, rank_text, position, volume FROM rank_rows "
                           "WHERE run_id = ? AND domain = ? ORDER BY id"));
  q.addBindValue(QVariant::fromValue<qint64>(runId));
  q.addBindValue(domain);
  if (!Exec(q, "cannot read the rows")) return false;
  while (q.next()) {
    KeywordEntry e;
    e.keyword = G(q.value(0));
    e.rankText = G(q.value(1));
    const QVariant p = q.value(2);
    if (!p.isNull()) e.position = p.toInt();
    e.volume = G(q.value(3));
    out.push_back(std::move(e));
  }
  return true;
}

std::optional<std::vector<ComparisonRow>> HistoryStore::Compare(std::int64_t oldRun, std::int64_t newRun,
                                                                const std::string& domain) {
  if (!d_->Ready()) return std::nullopt;
  for (std::int64_t id : {oldRun, newRun}) {
    QSqlQuery q(d_->Db());
    q.prepare(QStringLiteral("SELECT kind FROM runs WHERE id = ?"));
    q.addBindValue(QVariant::fromValue<qint64>(id));
    if (!d_->Exec(q, "cannot read the run")) return std::nullopt;
    if (!q.next() || q.value(0).toString() != QLatin1String("rank")) {
      d_->Fail("no rank run " + std::to_string(id) + " in the history");
      return std::nullopt;
    }
  }
  const QString d = Q(domain);
  std::vector<KeywordEntry> older, newer;
  if (!d_->LoadEntries(oldRun, d, older) || !d_->LoadEntries(newRun, d, newer)) return std::nullopt;
  return CompareEntries(older, newer);
}

// Copies one run (the current row of run) into the store to, in one
// transaction, after removing the copy it already had.
bool HistoryStore::Impl::CopyRun(Impl& to, const QSqlQuery& run, std::optional<std::int64_t> existing) {
  const std::int64_t sourceId = run.value(0).toLongLong();
  auto readAll = [&](const QString& sql, const char* what, auto&& each) {
    QSqlQuery q(Db());
    q.setForwardOnly(true);
    q.prepare(sql);
    q.addBindValue(QVariant::fromValue<qint64>(sourceId));
    if (!Exec(q, what)) {
      to.error = error;
      return false;
    }
    while (q.next())
      if (!each(q)) return false;
    return true;
  };

  if (!to.Begin()) return false;
  if (existing) {
    QSqlQuery del(to.Db());
    del.prepare(QStringLiteral("DELETE FROM runs WHERE id = ?"));
    del.addBindValue(QVariant::fromValue<qint64>(*existing));
    if (!to.Exec(del, "cannot replace the run")) return to.Abort();
  }
  QSqlQuery ins(to.Db());
  ins.prepare(QStringLiteral("INSERT INTO runs (uid, kind, settings, columns, started, finished, ending, row_count, "
                             "reason, continues, plan) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?) RETURNING id"));
  ins.addBindValue(run.value(1));
  ins.addBindValue(run.value(2));
  ins.addBindValue(run.value(3));
  ins.addBindValue(run.value(4));
  ins.addBindValue(TimeValue(ReadTime(run.value(5))));
  ins.addBindValue(TimeValue(ReadTime(run.value(6))));
  ins.addBindValue(run.value(7));
  ins.addBindValue(run.value(8));
  ins.addBindValue(run.value(10));
  ins.addBindValue(run.value(11));
  ins.addBindValue(run.value(12));
  const std::optional<std::int64_t> runId = to.InsertReturningId(ins, "cannot copy the run");
  if (!runId) return to.Abort();
  const QVariant newRun = QVariant::fromValue<qint64>(*runId);

  QSqlQuery target(to.Db());
  target.prepare(QStringLiteral("INSERT INTO run_targets (run_id, position, target) VALUES (?, ?, ?)"));
  const bool targetsCopied =
      readAll(QStringLiteral("SELECT position, target FROM run_targets WHERE run_id = ?"), "cannot read the run",
              [&](QSqlQuery& q) {
                target.addBindValue(newRun);
                target.addBindValue(q.value(0));
                target.addBindValue(q.value(1));
                return to.Exec(target, "cannot copy the run");
              });
  if (!targetsCopied) return to.Abort();

  std::unordered_map<std::int64_t, std::int64_t> pageIds;
  QSqlQuery page(to.Db());
  page.prepare(QStringLiteral("INSERT INTO pages (run_id, target, page, outcome, reason, attempts, row_count, stored) "
                              "VALUES (?, ?, ?, ?, ?, ?, ?, ?) RETURNING id"));
  const bool pagesCopied = readAll(
      QStringLiteral("SELECT id, target, page, outcome, reason, attempts, row_count, stored FROM pages "
                     "WHERE run_id = ? ORDER BY id"),
      "cannot read the pages", [&](QSqlQuery& q) {
        page.addBindValue(newRun);
        for (int c = 1; c <= 6; ++c) page.addBindValue(q.value(c));
        page.addBindValue(TimeValue(ReadTime(q.value(7))));
        const std::optional<std::int64_t> id = to.InsertReturningId(page, "cannot copy the pages");
        if (!id) return false;
        pageIds[q.value(0).toLongLong()] = *id;
        return true;
      });
  if (!pagesCopied) return to.Abort();

  // Rows in chunks, each chunk one statement.
  auto copyRows = [&](const char* table, const QStringList& columns) {
    const QString cols = columns.join(QStringLiteral(", "));
    const QString one = QStringLiteral("(?, ?") + QStringLiteral(", ?").repeated(columns.size()) + QStringLiteral(")");
    std::vector<QVariantList> chunk;
    // A whole chunk's statement is prepared once; only the last, shorter
    // chunk needs one of its own.
    QSqlQuery full(to.Db());
    bool fullPrepared = false;
    auto flush = [&]() {
      if (chunk.empty()) return true;
      const bool whole = chunk.size() == static_cast<std::size_t>(to.RowsPerInsert());
      QSqlQuery partial(to.Db());
      QSqlQuery& q = whole ? full : partial;
      if (!whole || !fullPrepared) {
        QStringList values;
        for (std::size_t i = 0; i < chunk.size(); ++i) values << one;
        q.prepare(QStringLiteral("INSERT INTO %1 (run_id, page_id, %2) VALUES ").arg(QLatin1String(table), cols) +
                  values.join(QLatin1Char(',')));
        fullPrepared |= whole;
      }
      int index = 0;
      for (const QVariantList& row : chunk)
        for (const QVariant& v : row) q.bindValue(index++, v);
      chunk.clear();
      return to.Exec(q, "cannot copy the rows");
    };
    const bool read = readAll(
        QStringLiteral("SELECT page_id, %1 FROM %2 WHERE run_id = ? ORDER BY id").arg(cols, QLatin1String(table)),
        "cannot read the rows", [&](QSqlQuery& q) {
          QVariantList row{newRun, QVariant::fromValue<qint64>(pageIds[q.value(0).toLongLong()])};
          for (int c = 1; c <= columns.size(); ++c) row << q.value(c);
          chunk.push_back(std::move(row));
          return chunk.size() < static_cast<std::size_t>(to.RowsPerInsert()) || flush();
        });
    return read && flush();
  };
  if (!copyRows("rank_rows", {QStringLiteral("serial"), QStringLiteral("domain"), QStringLiteral("keyword"),
                              QStringLiteral("rank_text"), QStringLiteral("volume"), QStringLiteral("indexed_pages"),
                              QStringLiteral("title"), QStringLiteral("link"), QStringLiteral("position")}) ||
      !copyRows("mining_rows", {QStringLiteral("line"), QStringLiteral("keyword"), QStringLiteral("volume"),
                                QStringLiteral("indexed_pages"), QStringLiteral("first_site"),
                                QStringLiteral("second_site"), QStringLiteral("difficulty")}))
    return to.Abort();

  QSqlQuery stats(to.Db());
  stats.prepare(QStringLiteral("INSERT INTO rank_domain_stats (run_id, domain, keywords, top10, top50, beyond) "
                               "VALUES (?, ?, ?, ?, ?, ?)"));
  const bool statsCopied = readAll(
      QStringLiteral("SELECT domain, keywords, top10, top50, beyond FROM rank_domain_stats WHERE run_id = ?"),
      "cannot read the run", [&](QSqlQuery& q) {
        stats.addBindValue(newRun);
        for (int c = 0; c < 5; ++c) stats.addBindValue(q.value(c));
        return to.Exec(stats, "cannot copy the run");
      });
  if (!statsCopied) return to.Abort();
  return to.Commit();
}

std::optional<CopyStats> HistoryStore::CopyTo(HistoryStore& other) {
  if (!d_->Ready()) return std::nullopt;
  if (!other.d_->Ready()) {
    d_->error = other.d_->error;
    return std::nullopt;
  }
  // A run's state: how it ended, its rows and its pages. A copy taken while
  // the run was still going differs in one of them and is taken again.
  const QString state = QStringLiteral(
      "r.ending, r.row_count, (SELECT COUNT(*) FROM pages p WHERE p.run_id = r.id)");
  QSqlQuery runs(d_->Db());
  runs.setForwardOnly(true);
  if (!runs.exec(QStringLiteral("SELECT r.id, r.uid, r.kind, r.settings, r.columns, r.started, r.finished, ") + state +
                 QStringLiteral(", r.reason, r.continues, r.plan FROM runs r ORDER BY r.id"))) {
    d_->Fail("cannot list the runs", runs.lastError());
    return std::nullopt;
  }
  CopyStats stats;
  QSqlQuery there(other.d_->Db());
  there.prepare(QStringLiteral("SELECT r.id, ") + state + QStringLiteral(" FROM runs r WHERE r.uid = ?"));
  while (runs.next()) {
    there.addBindValue(runs.value(1));
    if (!other.d_->Exec(there, "cannot read the other store")) {
      d_->error = other.d_->error;
      return std::nullopt;
    }
    std::optional<std::int64_t> existing;
    if (there.next()) {
      if (there.value(1) == runs.value(7) && there.value(2).toLongLong() == runs.value(8).toLongLong() &&
          there.value(3).toLongLong() == runs.value(9).toLongLong()) {
        ++stats.skipped;
        continue;
      }
      existing = there.value(0).toLongLong();
    }
    there.finish();
    if (!d_->CopyRun(*other.d_, runs, existing)) {
      d_->error = other.d_->error;
      return std::nullopt;
    }
    ++(existing ? stats.replaced : stats.copied);
  }
  return stats;
}

}  // namespace lanshu::history
