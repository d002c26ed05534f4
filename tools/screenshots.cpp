// Takes the screenshots shown in the README: the window on each of its five
// tabs, on the demo site, after short rank queries and a mining run.
// Run under an X server (xvfb-run): screenshots OUTPUT_DIR
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QPushButton>
#include <QScreen>
#include <QTest>
#include <QTimer>
#include <QWebEngineView>
#include <cstdio>
#include <unistd.h>

#include "app/Application.h"
#include "app/MainWindow.h"
#include "app/Widgets.h"
#include "demo/DemoSite.h"
#include "hooks/Events.h"
#include "hooks/MessageBox.h"

using namespace lanshu;

namespace {

void WaitUntil(const std::function<bool()>& done, int ms) {
  QElapsedTimer t;
  t.start();
  while (!done() && t.elapsed() < ms) QTest::qWait(50);
}

void Shoot(MainWindow& w, const QString& file) {
  QTest::qWait(400);
  QPixmap shot = w.screen()->grabWindow(w.winId());
  if (shot.isNull()) shot = w.grab();
  shot.save(file);
  std::printf("%s\n", file.toUtf8().constData());
}

}  // namespace

int main(int argc, char** argv) {
  // The browser engine's sandbox refuses to start as root.
  if (geteuid() == 0 && !qEnvironmentVariableIsSet("QTWEBENGINE_DISABLE_SANDBOX"))
    qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
  lanshu::Application::PrepareGraphics();
  QApplication app(argc, argv);
  const QString out = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("docs");
  QDir().mkpath(out);
  SetEventPump([] { QCoreApplication::processEvents(); }, 5);
  bool finished = false;
  SetMessageBoxHook([&](const std::string&, int, const std::string&) {
    finished = true;
    return kIdOk;
  });

  CommandLine cl;
  cl.demo = true;
  cl.settingsFile = (QDir::tempPath() + QStringLiteral("/lanshu-screenshots.ini")).toStdString();
  QFile::remove(QString::fromStdString(cl.settingsFile));
  // A history of its own, not the user's.
  cl.historyDb = (QDir::tempPath() + QStringLiteral("/lanshu-screenshots.sqlite")).toStdString();
  for (const char* suffix : {"", "-wal", "-shm"}) QFile::remove(QString::fromStdString(cl.historyDb + suffix));
  Application program(cl);
  if (!program.Ok()) return 1;
  program.Demo()->UpdateOptions([](demo::Options& o) {
    o.rankPages = 2;
    o.keywordPages = 1;
  });
  MainWindow& w = *program.Window();
  w.show();
  WaitUntil([&] { return !w.时钟1->isActive(); }, 5000);
  QTest::qWait(1000);

  w.编辑框域名->setText(QStringLiteral("example.com"));
  QTimer::singleShot(0, [&] { w.按钮开始采集->click(); });
  WaitUntil([&] { return finished; }, 60000);
  Shoot(w, out + QStringLiteral("/tab1-rank.png"));

  w.选择夹->SetCurrentIndex(1);
  finished = false;
  w.选择框搜索量->setChecked(true);
  w.选择框优化难度->setChecked(true);
  QTimer::singleShot(0, [&] { w.按钮开始挖掘->click(); });
  WaitUntil([&] { return finished; }, 60000);
  Shoot(w, out + QStringLiteral("/tab2-mining.png"));

  w.选择夹->SetCurrentIndex(2);
  Shoot(w, out + QStringLiteral("/tab3-login.png"));
  w.选择夹->SetCurrentIndex(3);
  Shoot(w, out + QStringLiteral("/tab4-notice.png"));

  // Two more runs of the domain, so that the chart and the comparison show
  // a change.
  w.选择夹->SetCurrentIndex(0);
  for (int pages : {3, 1}) {
    program.Demo()->UpdateOptions([pages](demo::Options& o) { o.rankPages = pages; });
    finished = false;
    QTimer::singleShot(0, [&] { w.按钮开始采集->click(); });
    WaitUntil([&] { return finished; }, 60000);
  }
  w.选择夹->SetCurrentIndex(4);
  if (auto* compare = w.findChild<QPushButton*>(QStringLiteral("按钮比较"))) compare->click();
  Shoot(w, out + QStringLiteral("/tab5-history.png"));
  return 0;
}
