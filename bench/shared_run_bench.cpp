// How much faster a mining run goes when three processes share it: the
// program itself as child processes (--batch mine), against the demo site
// answering every request after 100 ms, started here. One process alone
// with its own SQLite history; three sharing a campaign on one SQLite file;
// the same three on a PostgreSQL server over loopback TCP.
//
//   bench_shared_run [rounds [seeds [pages per seed]]]     (3 24 4)
//
// Each configuration is run `rounds` times; the median wall time counts.
// Wall time runs from the start of the first process to the exit of the
// last; it includes what every process does before its first page (the
// browser engine starting, the rank site's /user.php), which sharing does
// not shorten, so it is also shown from the first keyword page on.
// LANSHU_BENCH_TRACE=1 runs the processes with --verbose and prints what
// they write to standard error, with the time from the first start: where
// each process's time goes. LANSHU_BENCH_OWN_PROFILES=1 gives each process
// a data folder of its own (XDG_DATA_HOME): processes on one machine share
// the browser engine's profile otherwise, as a user's would.
// The server: see BenchPostgres.h.
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "BenchPostgres.h"
#include "DelayProxy.h"
#include "demo/DemoSite.h"
#include "store/ConfigStore.h"
#include "text/Codec.h"

namespace {

using namespace lanshu;

std::string Gbk(const char* utf8) { return Utf8TextToGbk(utf8); }

const char* const kSeeds[] = {"减肥", "丰胸", "英语", "旅游", "手机", "汽车", "考研", "装修", "美食", "健身",
                              "摄影", "理财", "留学", "育儿", "宠物", "家电", "电脑", "游戏", "音乐", "电影",
                              "养生", "婚纱", "租房", "驾校", "瑜伽", "茶叶", "钓鱼", "书法", "绘画", "烘焙"};
constexpr int kSeedCount = static_cast<int>(sizeof kSeeds / sizeof kSeeds[0]);

// The mining tab's settings: seeds, no pauses, no result files of its own
// (FILE holds the result).
bool WriteSettings(const QString& path, int seeds) {
  std::string list;
  for (int i = 0; i < seeds; ++i) list += (i ? "\r\n" : "") + Gbk(kSeeds[i]);
  ConfigStore s;
  if (!s.Open(path.toStdString())) return false;
  s.SetSection(Gbk("基本配置_挖掘"));
  s.WriteText(Gbk("关键词"), list);
  s.WriteText(Gbk("限定数量"), "0");
  s.WriteText(Gbk("第二位"), Gbk("假"));
  s.WriteText(Gbk("自动保存目录"), Gbk("假"));
  s.WriteText(Gbk("不同关键词独立保存"), Gbk("假"));
  s.WriteText(Gbk("页间隔"), "0");
  s.WriteText(Gbk("关键词间隔"), "0");
  return s.LastWriteReachedDisk();
}

// "/seed/N/": a keyword page.
bool IsKeywordPage(const std::string& path) {
  if (path.size() < 4 || path.front() != '/' || path.back() != '/') return false;
  const std::size_t slash = path.rfind('/', path.size() - 2);
  if (slash == 0 || slash == std::string::npos || slash + 2 >= path.size()) return false;
  return std::all_of(path.begin() + static_cast<std::ptrdiff_t>(slash) + 1, path.end() - 1,
                     [](char c) { return c >= '0' && c <= '9'; });
}

QByteArray Bytes(const QString& path) {
  QFile f(path);
  return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

struct Round {
  double wallMs = 0;        // first start to last exit
  double firstPageMs = -1;  // first start to the first keyword page asked
  double lastPageMs = -1;   // to the last keyword page asked (seen within 5 ms)
  std::vector<double> exitMs;  // each process's exit, in order of exit
  int keywordRequests = 0;
  bool allExited0 = true;
  std::vector<QString> outs;
  std::vector<QString> errors;  // standard error of a process that failed
};

// Starts a process for each list of arguments at once and waits for the
// last to end.
Round RunProcesses(demo::DemoSite& site, const std::vector<QStringList>& arguments, const QString& folder) {
  const bool trace = qEnvironmentVariableIntValue("LANSHU_BENCH_TRACE") != 0;
  const bool ownProfiles = qEnvironmentVariableIntValue("LANSHU_BENCH_OWN_PROFILES") != 0;
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
  env.insert(QStringLiteral("QTWEBENGINE_DISABLE_SANDBOX"), QStringLiteral("1"));
  env.insert(QStringLiteral("QTWEBENGINE_CHROMIUM_FLAGS"), QStringLiteral("--disable-gpu --no-sandbox"));
  Round r;
  site.ClearLog();
  std::vector<std::unique_ptr<QProcess>> children;
  QEventLoop loop;
  int running = 0;
  QElapsedTimer clock;
  // The site's log is looked at while the processes run, to see when the
  // first and the last keyword page are asked.
  QTimer watch;
  watch.setInterval(5);
  int seen = 0;
  QObject::connect(&watch, &QTimer::timeout, [&] {
    const std::vector<demo::LoggedRequest> log = site.Requests();
    const int asked = static_cast<int>(std::count_if(log.begin(), log.end(), [](const demo::LoggedRequest& q) {
      return IsKeywordPage(q.path);
    }));
    if (asked == seen) return;
    seen = asked;
    const double now = static_cast<double>(clock.nsecsElapsed()) / 1e6;
    if (r.firstPageMs < 0) r.firstPageMs = now;
    r.lastPageMs = now;
  });
  clock.start();
  for (const QStringList& args : arguments) {
    children.push_back(std::make_unique<QProcess>());
    QProcess* p = children.back().get();
    QProcessEnvironment own = env;
    if (ownProfiles)
      own.insert(QStringLiteral("XDG_DATA_HOME"), folder + QStringLiteral("/data-%1").arg(children.size()));
    p->setProcessEnvironment(own);
    QObject::connect(p, &QProcess::finished, [&] {
      r.exitMs.push_back(static_cast<double>(clock.nsecsElapsed()) / 1e6);
      if (--running == 0) {
        r.wallMs = r.exitMs.back();
        loop.quit();
      }
    });
    ++running;
    if (trace) {
      const int n = static_cast<int>(children.size());
      QObject::connect(p, &QProcess::readyReadStandardError, [p, n, &clock] {
        for (const QByteArray& line : p->readAllStandardError().split('\n'))
          if (!line.trimmed().isEmpty())
            std::fprintf(stderr, "%8.3f [%d] %s\n", static_cast<double>(clock.nsecsElapsed()) / 1e9, n,
                         line.constData());
      });
    }
    p->start(QStringLiteral(LANSHU_COLLECTOR_EXE), trace ? args + QStringList{QStringLiteral("--verbose")} : args);
  }
  watch.start();
  QTimer::singleShot(600000, &loop, &QEventLoop::quit);
  if (running > 0) loop.exec();
  watch.stop();
  for (auto& p : children) {
    if (p->state() != QProcess::NotRunning) {
      p->kill();
      p->waitForFinished(30000);
      r.allExited0 = false;
      r.errors.push_back(QStringLiteral("did not end within 10 minutes"));
      continue;
    }
    if (p->exitStatus() != QProcess::NormalExit || p->exitCode() != 0) {
      r.allExited0 = false;
      r.errors.push_back(QStringLiteral("exit %1: ").arg(p->exitCode()) + QString::fromUtf8(p->readAllStandardError()));
    }
  }
  for (const demo::LoggedRequest& q : site.Requests())
    if (IsKeywordPage(q.path)) ++r.keywordRequests;
  return r;
}

struct Config {
  const char* name;
  std::vector<Round> rounds;

  template <typename Of>
  double Median(Of of) const {
    std::vector<double> v;
    for (const Round& r : rounds) v.push_back(of(r));
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
  }
  double Wall() const { return Median([](const Round& r) { return r.wallMs; }); }
  double FirstPage() const { return Median([](const Round& r) { return r.firstPageMs; }); }
  double FromFirstPage() const { return Median([](const Round& r) { return r.wallMs - r.firstPageMs; }); }
  double Tail() const { return Median([](const Round& r) { return r.wallMs - r.lastPageMs; }); }
};

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  const int rounds = argc > 1 ? std::atoi(argv[1]) : 3;
  const int seeds = argc > 2 ? std::atoi(argv[2]) : 24;
  const int pagesPerSeed = argc > 3 ? std::atoi(argv[3]) : 4;
  if (rounds < 1 || seeds < 1 || seeds > kSeedCount || pagesPerSeed < 1) {
    std::fprintf(stderr, "usage: bench_shared_run [rounds [seeds (1..%d) [pages per seed]]]\n", kSeedCount);
    return 2;
  }
  const int pages = seeds * pagesPerSeed;

  QTemporaryDir dir;
  if (!dir.isValid()) return 1;
  const auto path = [&dir](const QString& name) { return QDir(dir.path()).filePath(name); };
  const QString settings = path(QStringLiteral("mining.ini"));
  if (!WriteSettings(settings, seeds)) {
    std::fprintf(stderr, "cannot write %s\n", qPrintable(settings));
    return 1;
  }
  demo::Options options;
  options.delayMs = 100;
  options.keywordPages = pagesPerSeed;
  options.keywordRowsPerPage = 20;
  demo::DemoSite site(options);
  if (!site.Start()) return 1;
  const bench::BenchPostgres server(LANSHU_SOURCE_DIR);
  if (!server.Ok()) return 1;
  bench::DelayProxy proxy(server.target, 0);
  const QString base = QString::fromStdString(site.BaseUrl());

  const auto arguments = [&](const QString& history, const QString& out, const QString& campaign) {
    QStringList a{QStringLiteral("--settings"), settings, QStringLiteral("--history"), history,
                  QStringLiteral("--batch"), QStringLiteral("mine"), QStringLiteral("--out"), out,
                  QStringLiteral("--rank-site"), base, QStringLiteral("--keyword-site"), base + QLatin1Char('/'),
                  QStringLiteral("--search-site"), base};
    if (!campaign.isEmpty()) a << QStringLiteral("--campaign") << campaign;
    return a;
  };

  std::printf("mining %d seeds x %d pages = %d pages, 20 rows a page, the site answering after 100 ms;\n"
              "%d round(s) of each configuration, medians shown\n\n",
              seeds, pagesPerSeed, pages, rounds);
  Config alone{"1 process, own SQLite file", {}};
  Config sqlite{"3 processes, one SQLite file", {}};
  Config postgres{"3 processes, PostgreSQL (TCP)", {}};
  QByteArray reference;  // FILE of the first process alone
  bool identical = true;
  for (int round = 0; round < rounds; ++round) {
    const QString tag = QString::number(round);
    {
      const QString out = path(QStringLiteral("alone-%1.csv").arg(tag));
      Round r = RunProcesses(site, {arguments(path(QStringLiteral("alone-%1.sqlite").arg(tag)), out, QString())},
                             dir.path());
      r.outs = {out};
      alone.rounds.push_back(std::move(r));
    }
    for (Config* c : {&sqlite, &postgres}) {
      const bool onServer = c == &postgres;
      const QString stem = QLatin1String(onServer ? "pg" : "file") + QLatin1Char('-') + tag;
      const QString history = onServer ? QString::fromStdString(server.Through(proxy)) : path(stem + ".sqlite");
      const QString campaign = QStringLiteral("bench ") + stem + QLatin1Char(' ') +
                               QString::number(QCoreApplication::applicationPid());
      std::vector<QStringList> all;
      std::vector<QString> outs;
      for (int n = 0; n < 3; ++n) {
        outs.push_back(path(stem + QStringLiteral("-%1.csv").arg(n)));
        all.push_back(arguments(history, outs.back(), campaign));
      }
      Round r = RunProcesses(site, all, dir.path());
      r.outs = outs;
      c->rounds.push_back(std::move(r));
    }
    for (const Config* c : {&alone, &sqlite, &postgres})
      for (const QString& out : c->rounds.back().outs) {
        const QByteArray bytes = Bytes(out);
        if (reference.isEmpty()) reference = bytes;
        if (bytes != reference || bytes == "<missing>") identical = false;
      }
  }

  const double aloneRate = pages / (alone.Wall() / 1000.0);
  const double aloneCollect = alone.FromFirstPage();
  std::printf("  %-30s %7s %8s %8s   %8s %7s %8s   %s\n", "configuration", "wall s", "pages/s", "x 1 proc",
              "1st page", "tail", "asked", "x 1 proc from the 1st page on");
  bool allOk = true;
  for (const Config* c : {&alone, &sqlite, &postgres}) {
    const double wall = c->Wall();
    int asked = 0;
    for (const Round& r : c->rounds) {
      asked = std::max(asked, r.keywordRequests);
      allOk = allOk && r.allExited0;
    }
    std::printf("  %-30s %7.2f %8.2f %7.2fx   %7.2fs %6.2fs %8d   %.2fx\n", c->name, wall / 1000.0,
                pages / (wall / 1000.0), pages / (wall / 1000.0) / aloneRate, c->FirstPage() / 1000.0,
                c->Tail() / 1000.0, asked, aloneCollect / c->FromFirstPage());
  }
  std::printf("\n  1st page: from the first start until the first keyword page is asked; tail: from the last one\n"
              "  asked until the last exit; asked: keyword pages the site was asked (most of any round).\n");
  std::printf("\n  every round, seconds from the first start: first page asked, last page asked, exits\n");
  for (const Config* c : {&alone, &sqlite, &postgres})
    for (const Round& r : c->rounds) {
      std::printf("  %-30s %6.2f %6.2f  ", c->name, r.firstPageMs / 1000.0, r.lastPageMs / 1000.0);
      for (const double e : r.exitMs) std::printf(" %6.2f", e / 1000.0);
      std::printf("\n");
    }
  std::printf("\n  target: 3 processes at least 2.5x the pages per second of 1 (%s on SQLite, %s on PostgreSQL)\n",
              pages / (sqlite.Wall() / 1000.0) >= 2.5 * aloneRate ? "met" : "MISSED",
              pages / (postgres.Wall() / 1000.0) >= 2.5 * aloneRate ? "met" : "MISSED");
  std::printf("  every process exited 0: %s\n", allOk ? "yes" : "NO");
  std::printf("  every FILE identical (%d files, %lld bytes each): %s\n", rounds * 7,
              static_cast<long long>(reference.size()), identical ? "yes" : "NO");
  for (const Config* c : {&alone, &sqlite, &postgres})
    for (const Round& r : c->rounds)
      for (const QString& e : r.errors) std::printf("  %s: %s\n", c->name, qPrintable(e.trimmed()));
  return allOk && identical ? 0 : 1;
}
