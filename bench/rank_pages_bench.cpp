// Time per ranking page in the window: the rank query walks 20 demo pages
// (10 rows each) in the real browser, offscreen, and the time per page
// beyond the fixed 500 ms wait after each navigation is printed (target: at
// most 150 ms on the loopback demo site). Prints its figures.
#include <QApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTest>
#include <cstdio>
#include <cstdlib>

#include "app/Application.h"
#include "app/MainWindow.h"
#include "app/ResultListModel.h"
#include "demo/DemoSite.h"
#include "rank/RankQuery.h"
#include "hooks/MessageBox.h"

int main(int argc, char** argv) {
  if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
  setenv("QTWEBENGINE_DISABLE_SANDBOX", "1", 1);
  lanshu::Application::PrepareGraphics();
  QApplication app(argc, argv);
  QTemporaryDir dir;
  lanshu::Application::InstallWindowHooks();
  lanshu::SetMessageBoxHook([](const std::string&, int, const std::string&) { return lanshu::kIdOk; });
  lanshu::CommandLine options;
  options.settingsFile = (dir.path() + QStringLiteral("/bench.ini")).toStdString();
  options.demo = true;
  lanshu::Application program(options);
  if (!program.Ok()) return 1;
  lanshu::MainWindow& w = *program.Window();
  w.show();
  QTest::qWait(3000);  // the start-up user page has loaded
  constexpr int kPages = 20;
  program.Demo()->UpdateOptions([](lanshu::demo::Options& o) {
    o.rankPages = kPages;
    o.rankRowsPerPage = 10;
  });
  w.编辑框域名->setText(QStringLiteral("bench.example"));
  for (int round = 0; round < 3; ++round) {
    QElapsedTimer clock;
    clock.start();
    program.Rank().StartStopRankQuery();
    while (program.Rank().Running()) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
    const double perPage = static_cast<double>(clock.elapsed()) / kPages;
    std::printf("round %d: %d pages, %d rows, %.0f ms per page, %.0f ms beyond the 500 ms wait\n", round + 1,
                kPages, program.List().RowCount(), perPage, perPage - 500);
  }
  return 0;
}
