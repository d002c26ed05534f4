// How late the window's thread runs while a run's pages are kept in a
// PostgreSQL history far away: a 10 ms timer on the main thread, a stream of
// page events, and every answer of the server held back 200 ms by a loopback
// proxy. Once with the history written at once on the main thread, once
// through the writer.
//
//   bench_history_writer [pages [rows [delay ms]]]     (50 50 200)
//
// Each way stores every page before it ends, a few minutes at 200 ms.
//
// LANSHU_BENCH_PG names the server: a postgresql:// address (runs are added
// to its database) or a socket folder of a server that trusts the user
// "lanshu" (a database of the benchmark's own is made and dropped). Unset, a
// throwaway cluster is started with scripts/pg-cluster.sh.
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTimer>
#include <QUrl>
#include <QUrlQuery>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <unistd.h>
#include <vector>

#include "DelayProxy.h"
#include "history/HistoryRecorder.h"
#include "history/HistoryWriter.h"
#include "text/Codec.h"

namespace {

using namespace lanshu;
using namespace lanshu::history;

// Where the proxy forwards to, and the address through it.
struct Server {
  std::string target;       // a Unix socket path or "host:port"
  std::string user = "lanshu", password, database;
  std::string adminFolder;  // a socket folder: the benchmark makes its own database there

  std::string Through(const bench::DelayProxy& proxy) const {
    QUrl url;
    url.setScheme(QStringLiteral("postgresql"));
    url.setUserName(QString::fromStdString(user));
    if (!password.empty()) url.setPassword(QString::fromStdString(password));
    url.setHost(QStringLiteral("127.0.0.1"));
    url.setPort(proxy.Port());
    url.setPath(QLatin1Char('/') + QString::fromStdString(database));
    return url.toString().toStdString();
  }
};

bool Admin(const std::string& folder, const QString& sql) {
  bool ok;
  {
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), QStringLiteral("bench-admin"));
    db.setHostName(QString::fromStdString(folder));
    db.setPort(5432);
    db.setUserName(QStringLiteral("lanshu"));
    db.setDatabaseName(QStringLiteral("postgres"));
    QSqlQuery q(db);
    ok = db.open() && q.exec(sql);
    if (!ok) std::fprintf(stderr, "%s: %s\n", qPrintable(sql), qPrintable(q.lastError().text() + db.lastError().text()));
  }
  QSqlDatabase::removeDatabase(QStringLiteral("bench-admin"));
  return ok;
}

Server FromSetting(const std::string& setting) {
  Server s;
  if (setting.rfind("postgres", 0) != 0) {
    s.adminFolder = setting;
    s.target = setting + "/.s.PGSQL.5432";
    s.database = "lanshu_bench_" + std::to_string(getpid());
    return s;
  }
  const QUrl url(QString::fromStdString(setting));
  const QUrlQuery query(url);
  const int port = query.hasQueryItem(QStringLiteral("port")) ? query.queryItemValue(QStringLiteral("port")).toInt()
                                                              : url.port(5432);
  if (query.hasQueryItem(QStringLiteral("host"))) {
    s.target = query.queryItemValue(QStringLiteral("host"), QUrl::FullyDecoded).toStdString() + "/.s.PGSQL." +
               std::to_string(port);
  } else {
    const QString host = url.host() == QLatin1String("localhost") ? QStringLiteral("127.0.0.1") : url.host();
    s.target = host.toStdString() + ":" + std::to_string(port);
  }
  s.user = url.userName(QUrl::FullyDecoded).toStdString();
  s.password = url.password(QUrl::FullyDecoded).toStdString();
  s.database = url.path(QUrl::FullyDecoded).mid(1).toStdString();
  return s;
}

PageReport Page(int page, int rows) {
  PageReport r;
  r.target = "example.com";
  r.page = page;
  r.attempts = 1;
  const std::string keyword = Utf8TextToGbk("减肥方法"), title = Utf8TextToGbk("减肥方法大全_快速瘦身的方法 - 健康网");
  for (int i = 1; i <= rows; ++i) {
    const int position = (page - 1) * rows + i;
    r.cells.push_back({std::to_string(position), "example.com", keyword + std::to_string(position),
                       Utf8TextToGbk("第") + std::to_string(i / 10 + 1) + Utf8TextToGbk("页第") +
                           std::to_string(i % 10 + 1) + Utf8TextToGbk("位"),
                       "12,300", "4,560,000", title, "http://example.com/article/" + std::to_string(i) + ".html"});
  }
  r.rows = rows;
  return r;
}

struct Figures {
  qint64 worstLateMs = 0;  // of the 10 ms timer, beyond its 10 ms
  qint64 worstPageMs = 0;  // the same once the run started (the store open)
  qint64 eventsMs = 0;     // until the last event was handed over
  qint64 storedMs = 0;     // until everything was stored
  std::vector<std::string> failures;
};

// A run of pages events, one every 20 ms on the main thread, as the window
// would hear them, while a 10 ms timer notes how late it fires.
Figures Measure(bool throughWriter, const std::string& address, int pages, int rows) {
  Figures f;
  const auto tell = [&f](const std::string& why) { f.failures.push_back(why); };
  std::unique_ptr<HistoryStore> store;
  std::unique_ptr<HistoryWriter> writer;
  std::unique_ptr<HistoryRecorder> recorder;
  if (throughWriter) {
    writer = std::make_unique<HistoryWriter>(address);
    recorder = std::make_unique<HistoryRecorder>(*writer, tell);
  } else {
    store = std::make_unique<HistoryStore>();
    recorder = std::make_unique<HistoryRecorder>(store.get(), tell);
  }
  QElapsedTimer clock;
  clock.start();
  qint64 last = 0;
  QTimer tick;
  tick.setTimerType(Qt::PreciseTimer);
  tick.setInterval(10);
  int step = 0;
  QObject::connect(&tick, &QTimer::timeout, [&] {
    const qint64 now = clock.elapsed();
    f.worstLateMs = std::max(f.worstLateMs, now - last - 10);
    if (step > 1) f.worstPageMs = std::max(f.worstPageMs, now - last - 10);
    last = now;
  });
  QEventLoop loop;
  QTimer events;
  events.setInterval(20);
  QObject::connect(&events, &QTimer::timeout, [&] {
    if (step == 0) {
      // Writing at once, the store was opened as the run started.
      if (store && !store->Open(address)) f.failures.push_back(store->LastError());
      recorder->RunStarted(RunKind::kRank, {"example.com"});
    } else if (step <= pages) {
      recorder->PageEnded(RunKind::kRank, Page(step, rows));
    } else {
      recorder->RunEnded(RunKind::kRank, RunEnd::kFinished);
      events.stop();
      loop.quit();
    }
    ++step;
  });
  tick.start();
  events.start();
  loop.exec();
  f.eventsMs = clock.elapsed();
  tick.stop();
  if (writer && !writer->Settle(std::chrono::minutes(30))) f.failures.push_back("not stored after 30 minutes");
  f.storedMs = clock.elapsed();
  return f;
}

void Print(const char* how, const Figures& f) {
  std::printf("  %-30s worst lateness %5lld ms (%5lld ms once the run started); events handed over in %6lld ms,"
              " all stored after %6lld ms\n",
              how, static_cast<long long>(f.worstLateMs), static_cast<long long>(f.worstPageMs),
              static_cast<long long>(f.eventsMs), static_cast<long long>(f.storedMs));
  for (const std::string& why : f.failures) std::printf("    failed: %s\n", why.c_str());
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  const int pages = argc > 1 ? std::atoi(argv[1]) : 50;
  const int rows = argc > 2 ? std::atoi(argv[2]) : 50;
  const int delayMs = argc > 3 ? std::atoi(argv[3]) : 200;

  std::string setting = std::getenv("LANSHU_BENCH_PG") ? std::getenv("LANSHU_BENCH_PG") : "";
  std::string cluster;
  const std::string script = std::string(LANSHU_SOURCE_DIR) + "/scripts/pg-cluster.sh";
  if (setting.empty()) {
    cluster = "/tmp/lanshu-bench-pg-" + std::to_string(getpid());
    if (std::system((script + " start " + cluster + " >/dev/null").c_str()) != 0) {
      std::fprintf(stderr, "cannot start a PostgreSQL cluster with %s\n", script.c_str());
      return 1;
    }
    setting = cluster;
  }
  const Server server = FromSetting(setting);
  int status = 0;
  if (server.adminFolder.empty() || Admin(server.adminFolder, QString::fromStdString("CREATE DATABASE " + server.database))) {
    bench::DelayProxy proxy(server.target, delayMs);
    const std::string address = server.Through(proxy);
    std::printf("history through a %d ms proxy to PostgreSQL, %d pages of %d rows, a page every 20 ms,\n"
                "a 10 ms timer on the main thread:\n",
                delayMs, pages, rows);
    Print("written at once on the thread:", Measure(false, address, pages, rows));
    Print("through the writer:", Measure(true, address, pages, rows));
    if (!server.adminFolder.empty())
      Admin(server.adminFolder, QString::fromStdString("DROP DATABASE IF EXISTS " + server.database + " WITH (FORCE)"));
  } else {
    status = 1;
  }
  if (!cluster.empty()) (void)!std::system((script + " stop " + cluster).c_str());
  return status;
}
