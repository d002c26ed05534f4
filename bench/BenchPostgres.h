#pragma once
// A PostgreSQL server for the benchmarks that keep a history far away.
// LANSHU_BENCH_PG names it: a postgresql:// address (runs are added to its
// database) or a socket folder of a server that trusts the user "lanshu" (a
// database of the benchmark's own is made, and dropped at the end). Unset, a
// throwaway cluster is started with scripts/pg-cluster.sh and removed after.
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QUrl>
#include <QUrlQuery>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>

#include "DelayProxy.h"

namespace lanshu::bench {

class BenchPostgres {
 public:
  std::string target;  // a Unix socket path or "host:port", for the proxy
  std::string user = "lanshu", password, database;

  explicit BenchPostgres(const std::string& sourceDir) : script_(sourceDir + "/scripts/pg-cluster.sh") {
    std::string setting = std::getenv("LANSHU_BENCH_PG") ? std::getenv("LANSHU_BENCH_PG") : "";
    if (setting.empty()) {
      cluster_ = "/tmp/lanshu-bench-pg-" + std::to_string(getpid());
      if (std::system((script_ + " start " + cluster_ + " >/dev/null").c_str()) != 0) {
        std::fprintf(stderr, "cannot start a PostgreSQL cluster with %s\n", script_.c_str());
        cluster_.clear();
        return;
      }
      setting = cluster_;
    }
    Read(setting);
    ok_ = adminFolder_.empty() || Admin(QString::fromStdString("CREATE DATABASE " + database));
  }
  ~BenchPostgres() {
    if (ok_ && !adminFolder_.empty())
      Admin(QString::fromStdString("DROP DATABASE IF EXISTS " + database + " WITH (FORCE)"));
    if (!cluster_.empty()) (void)!std::system((script_ + " stop " + cluster_ + " >/dev/null").c_str());
  }
  BenchPostgres(const BenchPostgres&) = delete;
  BenchPostgres& operator=(const BenchPostgres&) = delete;

  bool Ok() const { return ok_; }

  // The server's address through the proxy.
  std::string Through(const DelayProxy& proxy) const {
    QUrl url;
    url.setScheme(QStringLiteral("postgresql"));
    url.setUserName(QString::fromStdString(user));
    if (!password.empty()) url.setPassword(QString::fromStdString(password));
    url.setHost(QStringLiteral("127.0.0.1"));
    url.setPort(proxy.Port());
    url.setPath(QLatin1Char('/') + QString::fromStdString(database));
    return url.toString().toStdString();
  }

  // The server's own address, without a proxy: its socket folder, or the
  // address LANSHU_BENCH_PG named.
  std::string Direct() const {
    if (!setting_.empty()) return setting_;
    return "postgresql://" + user + "@/" + database + "?host=" + adminFolder_ + "&port=5432";
  }

 private:
  void Read(const std::string& setting) {
    if (setting.rfind("postgres", 0) != 0) {
      adminFolder_ = setting;
      target = setting + "/.s.PGSQL.5432";
      database = "lanshu_bench_" + std::to_string(getpid());
      return;
    }
    setting_ = setting;
    const QUrl url(QString::fromStdString(setting));
    const QUrlQuery query(url);
    const int port = query.hasQueryItem(QStringLiteral("port")) ? query.queryItemValue(QStringLiteral("port")).toInt()
                                                                : url.port(5432);
    if (query.hasQueryItem(QStringLiteral("host"))) {
      target = query.queryItemValue(QStringLiteral("host"), QUrl::FullyDecoded).toStdString() + "/.s.PGSQL." +
               std::to_string(port);
    } else {
      const QString host = url.host() == QLatin1String("localhost") ? QStringLiteral("127.0.0.1") : url.host();
      target = host.toStdString() + ":" + std::to_string(port);
    }
    user = url.userName(QUrl::FullyDecoded).toStdString();
    password = url.password(QUrl::FullyDecoded).toStdString();
    database = url.path(QUrl::FullyDecoded).mid(1).toStdString();
  }

  bool Admin(const QString& sql) const {
    bool ok;
    {
      QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), QStringLiteral("bench-admin"));
      db.setHostName(QString::fromStdString(adminFolder_));
      db.setPort(5432);
      db.setUserName(QStringLiteral("lanshu"));
      db.setDatabaseName(QStringLiteral("postgres"));
      QSqlQuery q(db);
      ok = db.open() && q.exec(sql);
      if (!ok)
        std::fprintf(stderr, "%s: %s\n", qPrintable(sql), qPrintable(q.lastError().text() + db.lastError().text()));
    }
    QSqlDatabase::removeDatabase(QStringLiteral("bench-admin"));
    return ok;
  }

  std::string script_;
  std::string setting_;  // a postgresql:// address LANSHU_BENCH_PG named
  std::string cluster_;
  std::string adminFolder_;
  bool ok_ = false;
};

}  // namespace lanshu::bench
