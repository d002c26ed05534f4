// How long the window stands still while a rank query and a mining run go
// side by side on the demo site, and the history is kept in a PostgreSQL
// server whose every answer a loopback proxy holds back 200 ms: the worst
// lateness of a 10 ms timer on the window's thread, from the first click to
// the last notice (target: at most 50 ms). Prints its figures.
//
//   bench_side_by_side [delay ms]     (200)
//
// The server: see BenchPostgres.h.
#include <QApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "BenchPostgres.h"
#include "DelayProxy.h"
#include "app/Application.h"
#include "app/MainWindow.h"
#include "app/ResultListModel.h"
#include "demo/DemoSite.h"
#include "mining/Mining.h"
#include "rank/RankQuery.h"
#include "hooks/MessageBox.h"

int main(int argc, char** argv) {
  if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
  setenv("QTWEBENGINE_DISABLE_SANDBOX", "1", 1);
  const int delayMs = argc > 1 ? std::atoi(argv[1]) : 200;
  lanshu::Application::PrepareGraphics();
  QApplication app(argc, argv);
  QTemporaryDir dir;
  const lanshu::bench::BenchPostgres server(LANSHU_SOURCE_DIR);
  if (!server.Ok()) return 1;
  lanshu::bench::DelayProxy proxy(server.target, delayMs);

  lanshu::Application::InstallWindowHooks();
  int notices = 0;
  lanshu::SetMessageBoxHook([&notices](const std::string&, int, const std::string&) {
    ++notices;
    return lanshu::kIdOk;
  });
  lanshu::CommandLine options;
  options.settingsFile = (dir.path() + QStringLiteral("/bench.ini")).toStdString();
  options.demo = true;
  options.historyDb = server.Through(proxy);
  lanshu::Application program(options);
  if (!program.Ok()) return 1;
  lanshu::MainWindow& w = *program.Window();
  w.show();
  QTest::qWait(3000);  // the start-up user page has loaded
  program.Demo()->UpdateOptions([](lanshu::demo::Options& o) {
    o.rankPages = 10;
    o.rankRowsPerPage = 20;
    o.keywordPages = 5;
  });
  w.编辑框域名->setText(QStringLiteral("a.example|b.example"));
  w.编辑框关键词列表->setPlainText(QStringLiteral("减肥\n丰胸\n美白"));
  w.编辑框页间隔->setText(QStringLiteral("0.1"));
  w.编辑框关键词间隔->setText(QStringLiteral("0.1"));

  // The timer's lateness: how much later than 10 ms after the last tick
  // each tick comes.
  std::vector<qint64> lateness;
  QElapsedTimer clock;
  QTimer tick;
  tick.setTimerType(Qt::PreciseTimer);
  qint64 last = 0;
  QObject::connect(&tick, &QTimer::timeout, [&] {
    const qint64 now = clock.elapsed();
    lateness.push_back(std::max<qint64>(0, now - last - 10));
    last = now;
  });
  clock.start();
  tick.start(10);
  QElapsedTimer run;
  run.start();
  // Both clicks come from the event loop, as a user's would.
  QTimer::singleShot(0, [&] { w.按钮开始采集->click(); });
  QTimer::singleShot(300, [&] { w.按钮开始挖掘->click(); });
  while (notices < 2 && run.elapsed() < 600000) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
  tick.stop();
  const qint64 took = run.elapsed();

  std::sort(lateness.begin(), lateness.end());
  const auto at = [&](double share) {
    return lateness.empty() ? 0 : lateness[std::min(lateness.size() - 1, static_cast<size_t>(share * lateness.size()))];
  };
  std::printf("rank query (2 domains, 10 pages of 20 rows) and mining (3 seeds, 5 pages) side by side,\n"
              "history through a %d ms proxy to PostgreSQL:\n", delayMs);
  std::printf("  both done in %.1f s: %d rank rows, %d mining pages\n", took / 1000.0, program.List().RowCount(),
              program.Mining().Ledger().Pages());
  std::printf("  10 ms timer: %zu ticks, lateness median %lld ms, 99th %lld ms, worst %lld ms (target <= 50 ms)\n",
              lateness.size(), static_cast<long long>(at(0.5)), static_cast<long long>(at(0.99)),
              static_cast<long long>(lateness.empty() ? 0 : lateness.back()));
  return 0;
}
