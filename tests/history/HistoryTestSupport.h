#pragma once
// Stores for the history tests on either engine, plain SQL beside the store,
// and rows to write.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <memory>
#include <string>
#include <unistd.h>
#include <vector>

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QTemporaryDir>

#include "history/HistoryStore.h"
#include "text/Codec.h"

namespace lanshu::testing {

inline std::string Gbk(const char* utf8) { return Utf8TextToGbk(utf8); }

// The socket folder of the test cluster (scripts/pg-cluster.sh); ctest sets it.
inline std::string PgSocketDir() {
  const char* dir = std::getenv("LANSHU_TEST_PG");
  return dir ? dir : "";
}

inline std::string PgAddress(const std::string& db) {
  return "postgresql://lanshu@/" + db + "?host=" + PgSocketDir() + "&port=5432";
}

// A plain Qt SQL connection, for what a user's SQL tool would see.
class PlainSql {
 public:
  PlainSql(bool postgresql, const std::string& target) {
    static std::atomic<int> counter{0};
    name_ = QStringLiteral("plain-%1").arg(++counter);
    QSqlDatabase db = QSqlDatabase::addDatabase(postgresql ? "QPSQL" : "QSQLITE", name_);
    if (postgresql) {
      db.setHostName(QString::fromStdString(PgSocketDir()));
      db.setPort(5432);
      db.setUserName("lanshu");
    }
    db.setDatabaseName(QString::fromStdString(target));
    ok_ = db.open();
    if (!ok_) ADD_FAILURE() << "plain connection: " << db.lastError().text().toStdString();
  }
  ~PlainSql() {
    QSqlDatabase::database(name_, false).close();
    QSqlDatabase::removeDatabase(name_);
  }
  PlainSql(const PlainSql&) = delete;
  PlainSql& operator=(const PlainSql&) = delete;

  bool Exec(const QString& sql) {
    QSqlQuery q(QSqlDatabase::database(name_, false));
    if (q.exec(sql)) return true;
    error = q.lastError().text().toStdString();
    return false;
  }
  // The first column of every row; "NULL" for a null value.
  std::vector<QString> Column(const QString& sql) {
    std::vector<QString> out;
    QSqlQuery q(QSqlDatabase::database(name_, false));
    if (!q.exec(sql)) {
      ADD_FAILURE() << sql.toStdString() << ": " << q.lastError().text().toStdString();
      return out;
    }
    while (q.next()) out.push_back(q.value(0).isNull() ? QStringLiteral("NULL") : q.value(0).toString());
    return out;
  }
  // Every row, its values joined by '|'; "NULL" for a null value.
  std::vector<QString> Rows(const QString& sql) {
    std::vector<QString> out;
    QSqlQuery q(QSqlDatabase::database(name_, false));
    if (!q.exec(sql)) {
      ADD_FAILURE() << sql.toStdString() << ": " << q.lastError().text().toStdString();
      return out;
    }
    while (q.next()) {
      QStringList values;
      for (int i = 0; i < q.record().count(); ++i)
        values << (q.value(i).isNull() ? QStringLiteral("NULL") : q.value(i).toString());
      out.push_back(values.join(QLatin1Char('|')));
    }
    return out;
  }
  QString Value(const QString& sql) {
    const std::vector<QString> c = Column(sql);
    return c.empty() ? QString() : c.front();
  }

  std::string error;

 private:
  QString name_;
  bool ok_ = false;
};

// A fresh, empty database on the engine a test runs on: a file in a temporary
// folder, or a database of its own on the test cluster (dropped afterwards).
class TestDatabase {
 public:
  explicit TestDatabase(bool postgresql) : postgresql_(postgresql) {
    if (!postgresql_) {
      address = QDir(dir_.path()).filePath("history.sqlite").toStdString();
      return;
    }
    if (PgSocketDir().empty()) {
      ADD_FAILURE() << "LANSHU_TEST_PG is not set: run the PostgreSQL tests through ctest, which starts the cluster";
      return;
    }
    static std::atomic<int> counter{0};
    name_ = "lanshu_t" + std::to_string(getpid()) + "_" + std::to_string(++counter);
    PlainSql admin(true, "postgres");
    if (!admin.Exec(QString::fromStdString("CREATE DATABASE " + name_)))
      ADD_FAILURE() << "cannot create the test database: " << admin.error;
    address = PgAddress(name_);
  }
  ~TestDatabase() {
    if (!postgresql_ || name_.empty()) return;
    PlainSql admin(true, "postgres");
    admin.Exec(QString::fromStdString("DROP DATABASE IF EXISTS " + name_ + " WITH (FORCE)"));
  }
  TestDatabase(const TestDatabase&) = delete;
  TestDatabase& operator=(const TestDatabase&) = delete;

  std::unique_ptr<PlainSql> Plain() const {
    return std::make_unique<PlainSql>(postgresql_, postgresql_ ? name_ : address);
  }
  QString Folder() const { return dir_.path(); }
  const std::string& Name() const { return name_; }

  std::string address;  // what the "数据库" setting would hold

 private:
  bool postgresql_;
  QTemporaryDir dir_;
  std::string name_;
};

// n rank rows of domain on page page; row i ranks at page*10+i-10 ("第P页第M位").
inline std::vector<history::RankCells> RankRows(const std::string& domain, int page, int n,
                                                const std::string& prefix = "kw") {
  std::vector<history::RankCells> rows;
  for (int i = 1; i <= n; ++i) {
    const int position = (page - 1) * 10 + i;
    rows.push_back({std::to_string(position), domain, Gbk(prefix.c_str()) + std::to_string(position),
                    Gbk("第") + std::to_string((position - 1) / 10 + 1) + Gbk("页第") +
                        std::to_string((position - 1) % 10 + 1) + Gbk("位"),
                    "1,200", "3,400", Gbk("标题, \"引号\""), "http://" + domain + "/" + std::to_string(i)});
  }
  return rows;
}

inline history::PageRecord RankPage(const std::string& domain, int page, std::vector<history::RankCells> rows) {
  history::PageRecord p;
  p.target = domain;
  p.page = page;
  p.rankRows = std::move(rows);
  return p;
}

// Copies a folder tree (also one of the built-in resources) to to.
// A rank page as a run reports it: `rows` rows of RankRows, or a failure.
inline PageReport RankReport(const std::string& domain, int page, int rows, Outcome outcome = Outcome::kOk) {
  PageReport r;
  r.target = domain;
  r.page = page;
  r.outcome.outcome = outcome;
  if (outcome != Outcome::kOk) r.outcome.reason = "HTTP 503";
  r.attempts = outcome == Outcome::kOk ? 1 : 3;
  for (const history::RankCells& cells : RankRows(domain, page, rows)) r.cells.emplace_back(cells.begin(), cells.end());
  r.rows = rows;
  return r;
}

inline void CopyTree(const QString& from, const QString& to) {
  QDirIterator it(from, QDir::Files, QDirIterator::Subdirectories);
  while (it.hasNext()) {
    const QString file = it.next();
    const QString target = to + file.mid(from.size());
    QDir().mkpath(QFileInfo(target).absolutePath());
    QFile::copy(file, target);
  }
}

inline void WriteFile(const QString& path, const QByteArray& bytes) {
  QDir().mkpath(QFileInfo(path).absolutePath());
  QFile f(path);
  ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
  f.write(bytes);
}

}  // namespace lanshu::testing
