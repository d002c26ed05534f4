#pragma once
// What the store's two source files share: the connection behind a
// HistoryStore and the conversions between the program's GBK texts and the
// database's UTF-8. Not for use outside the history library.
#include <atomic>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#ifdef LANSHU_HISTORY_LIBPQ
#include <libpq-fe.h>
#ifdef _WIN32
#include <winsock2.h>
#else
#include <sys/socket.h>
#endif
#endif

#include <QDateTime>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QString>
#include <QVariant>

#include "history/HistoryStore.h"
#include "text/Codec.h"
#include "text/Csv.h"

namespace lanshu::history {
namespace detail {

// How long a call may wait for another writer or a server before it gives up
// and reports. Writes happen on the history's own thread, and several
// processes sharing one file take turns at its write lock: a busy machine
// must not make one of them give up on a page.
inline constexpr int kSqliteBusyMs = 5000;
inline constexpr int kConnectSeconds = 3;
inline constexpr char kPgSessionTimeouts[] = "SET statement_timeout = '10s'; SET lock_timeout = '3s'";
// Rows per INSERT. A server is sent a hundred rows a statement, to keep round
// trips few. SQLite gets one row a statement, prepared once: it has no round
// trips, and Qt's SQLite driver looks up every parameter by a walk over all of
// them, which makes long statements cost the square of their length.
inline constexpr int kServerRowsPerInsert = 100;

inline std::atomic<int> connectionCounter{0};

inline QString Q(const std::string& gbk) {
  std::u16string u;
  GbkToU16(gbk, u);
  return QString(reinterpret_cast<const QChar*>(u.data()), static_cast<qsizetype>(u.size()));
}

inline std::string G(const QString& text) {
  return U16ToGbk(std::u16string(reinterpret_cast<const char16_t*>(text.utf16()), static_cast<std::size_t>(text.size())));
}

inline std::string G(const QVariant& v) { return G(v.toString()); }

inline std::string Utf8(const QString& s) { return s.toStdString(); }

inline QString TimeText(const QDateTime& t) {
  return t.isValid() ? t.toUTC().toString(Qt::ISODateWithMs) : QString();
}

inline QVariant TimeValue(const QDateTime& t) {
  return t.isValid() ? QVariant(TimeText(t)) : QVariant(QMetaType::fromType<QString>());
}

inline QDateTime ReadTime(const QVariant& v) {
  if (v.isNull()) return QDateTime();
  if (v.typeId() == QMetaType::QDateTime) return v.toDateTime().toUTC();
  QDateTime t = QDateTime::fromString(v.toString(), Qt::ISODateWithMs);
  if (!t.isValid()) t = QDateTime::fromString(v.toString(), Qt::ISODate);
  return t.toUTC();
}

inline QVariant NullInt() { return QVariant(QMetaType::fromType<int>()); }
inline QVariant NullText() { return QVariant(QMetaType::fromType<QString>()); }

template <class E, std::size_t N>
inline bool FromName(const QString& name, const char* const (&names)[N], E& out) {
  for (std::size_t i = 0; i < N; ++i)
    if (name == QLatin1String(names[i])) {
      out = static_cast<E>(i);
      return true;
    }
  return false;
}

inline const char* const kKindNames[] = {"rank", "mine"};
inline const char* const kOutcomeNames[] = {"ok", "failed", "blocked"};
inline const char* const kEndingNames[] = {"unfinished", "finished", "stopped", "blocked", "failed", "abandoned"};

// Titles of the metric columns of mining_rows in a run's CSV header, in the
// order of the columns: volume, indexed_pages, first_site, second_site,
// difficulty.
inline const char* const kMiningTitles[] = {"搜索量", "收录量", "第一位", "第二位", "优化难度"};

// For each cell of a line after the keyword, which metric column it fills
// (-1: none).
inline std::vector<int> MiningLayout(const std::string& header) {
  std::vector<int> layout;
  const std::vector<std::string> titles = CsvCells(header);
  for (std::size_t i = 1; i < titles.size(); ++i) {
    int column = -1;
    for (int k = 0; k < 5; ++k)
      if (titles[i] == Utf8TextToGbk(kMiningTitles[k])) column = k;
    layout.push_back(column);
  }
  return layout;
}

}  // namespace detail

struct HistoryStore::Impl {
  QString name;  // the Qt connection
  Engine engine = Engine::kSqlite;
  std::string error;
  bool open = false;
  // The server connection's socket, for Interrupt() from another thread;
  // cleared under the lock before the connection closes, so that a number
  // the system has handed out again is never shut.
  std::mutex socketLock;
  long long socket = -1;
  bool interrupted = false;  // for good: a connection made later is shut at once

  void ShutSocketLocked() {
#ifdef LANSHU_HISTORY_LIBPQ
    if (socket < 0) return;
    // A shut socket wakes the waiting client library with an end of stream.
#ifdef _WIN32
    ::shutdown(static_cast<SOCKET>(socket), SD_BOTH);
#else
    ::shutdown(static_cast<int>(socket), SHUT_RDWR);
#endif
#endif
  }

  QSqlDatabase Db() const { return QSqlDatabase::database(name, false); }

  // Now in epoch milliseconds by the database's clock, as SQL.
  QString NowMs() const {
    return engine == Engine::kSqlite ? QStringLiteral("CAST((julianday('now') - 2440587.5) * 86400000 AS INTEGER)")
                                     : QStringLiteral("CAST(EXTRACT(EPOCH FROM clock_timestamp()) * 1000 AS BIGINT)");
  }

  bool Fail(const std::string& what, const QSqlError& e = QSqlError()) {
    error = what;
    const QString detail = e.text().trimmed();
    if (!detail.isEmpty()) error += ": " + detail::Utf8(detail);
    return false;
  }

  bool Exec(QSqlQuery& q, const char* what) {
    if (q.exec()) return true;
    return Fail(what, q.lastError());
  }
  bool Exec(const QString& sql, const char* what) {
    QSqlQuery q(Db());
    if (q.exec(sql)) return true;
    return Fail(what, q.lastError());
  }
  bool Prepare(QSqlQuery& q, const QString& sql, const char* what) {
    if (q.prepare(sql)) return true;
    return Fail(what, q.lastError());
  }

  int RowsPerInsert() const { return engine == Engine::kSqlite ? 1 : detail::kServerRowsPerInsert; }

  bool Ready() {
    if (open) return true;
    return Fail("history store is not open");
  }

  // A write transaction. SQLite takes the write lock at once so that two
  // writers wait for each other (up to the busy time-out) instead of one
  // failing when it turns from reading to writing.
  bool Begin() {
    return Exec(engine == Engine::kSqlite ? QStringLiteral("BEGIN IMMEDIATE") : QStringLiteral("BEGIN"),
                "cannot start a transaction");
  }
  bool Commit() {
    if (Exec(QStringLiteral("COMMIT"), "cannot commit")) return true;
    Rollback();
    return false;
  }
  void Rollback() {
    QSqlQuery q(Db());
    q.exec(QStringLiteral("ROLLBACK"));
  }
  // Ends a failed transaction; keeps the reason of the failure.
  bool Abort() {
    Rollback();
    return false;
  }

  bool OpenSqlite(const QString& path);
  bool OpenPostgresql(const QString& address);
  bool EnsureSchema(const QString& sqlRoot);
  int ReadVersion(bool& ok);
  bool RunSteps(const QStringList& files);
  std::optional<std::int64_t> InsertReturningId(QSqlQuery& q, const char* what);
  bool InsertRankRows(std::int64_t runId, std::int64_t pageId, const std::vector<RankCells>& rows);
  bool InsertMiningRows(std::int64_t runId, std::int64_t pageId, const std::vector<std::string>& lines,
                        const std::string& header);
  bool AddDomainStats(std::int64_t runId, const std::vector<RankCells>& rows);
  // The counts of domain in the run, from its rows.
  bool RecountDomain(std::int64_t runId, const std::string& domain);
  // The queue's side of StorePage.
  bool QueuePageStored(std::int64_t runId, const PageRecord& page);
  std::optional<std::vector<RunInfo>> QueryRuns(const QString& where, const QVariantList& binds,
                                                const QString& order);
  bool LoadEntries(std::int64_t runId, const QString& domain, std::vector<KeywordEntry>& out);
  bool CopyRun(Impl& to, const QSqlQuery& run, std::optional<std::int64_t> existing);
};

}  // namespace lanshu::history
