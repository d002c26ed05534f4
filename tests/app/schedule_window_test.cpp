// Scheduled runs in the window, on a clock of the test's own: the real
// browser against the demo site started in-process and a history database of
// the test's own. A scheduled run must never wait for a click: the message
// box hook counts every box.
#include <QDir>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include "AppTestSupport.h"
#include "app/Application.h"
#include "app/HistoryWiring.h"
#include "app/MainWindow.h"
#include "app/QtText.h"
#include "app/ResultListModel.h"
#include "app/ScheduleWiring.h"
#include "app/Settings.h"
#include "app/Widgets.h"
#include "demo/DemoSite.h"
#include "history/Comparison.h"
#include "history/HistoryStore.h"
#include "hooks/Events.h"
#include "hooks/MessageBox.h"
#include "mining/Mining.h"
#include "rank/RankQuery.h"
#include "store/ConfigStore.h"

using namespace lanshu;
using namespace lanshu::testing;

class ScheduleWindowTest : public QObject {
  Q_OBJECT

  QTemporaryDir dir_;
  std::vector<Message> messages_;
  int answer_ = kIdNo;  // to a question
  QDateTime clock_;

  QString Path(const QString& name) { return dir_.path() + QLatin1Char('/') + name; }

  void Write(const QString& ini, const char* section, const char* key, const QString& value) {
    ConfigStore store;
    QVERIFY(store.Open(ToGbk(ini)));
    store.SetSection(G(section));
    store.WriteText(G(key), ControlTextToGbk(value));
  }

  // The program with the settings file name.ini, the demo site and the
  // history in name.sqlite; the schedule looks at clock_.
  std::unique_ptr<Application> Start(const QString& name) {
    CommandLine cl;
    cl.settingsFile = Path(name + QStringLiteral(".ini")).toStdString();
    cl.demo = true;
    cl.historyDb = Path(name + QStringLiteral(".sqlite")).toStdString();
    auto app = std::make_unique<Application>(cl);
    if (app->Ok()) {
      app->Schedule()->now = [this] { return clock_; };
      MainWindow* w = app->Window();
      w->show();
      WaitFor([w] { return !w->时钟1->isActive(); }, 5000);
      QTest::qWait(800);
    }
    return app;
  }

  // A scheduled look at `at`, then the run it started to its end; the
  // schedule's notice.
  QString ScheduledRunAt(Application& app, const QDateTime& at) {
    QSignalSpy told(app.Schedule(), &ScheduleWiring::notice);
    clock_ = at;
    app.Schedule()->Check();
    if (!app.Schedule()->Scheduled(RunKind::kRank)) return QStringLiteral("<not started>");
    if (!WaitFor([&] { return told.count() == 1; }, 60000)) return QStringLiteral("<no end>");
    return told.at(0).at(0).toString();
  }

 private slots:
  void initTestCase() {
    QVERIFY(dir_.isValid());
    SetEventPump([] { QCoreApplication::processEvents(); }, 5);
    SetMessageBoxHook([this](const std::string& text, int flags, const std::string& title) {
      messages_.push_back(Message{FromGbk(title), FromGbk(text), flags});
      return (flags & kMbButtonMask) == kMbYesNo ? answer_ : kIdOk;
    });
  }
  void init() {
    messages_.clear();
    answer_ = kIdNo;
  }

  void scheduledRankRunsGoOnMinimisedWithoutADialogAndWriteTheDailyChange() {
    const QString ini = Path(QStringLiteral("daily.ini"));
    const QString out = Path(QStringLiteral("out"));
    Write(ini, "基本参数", "域名", QStringLiteral("a.test|b.test"));
    Write(ini, "基本配置_挖掘", "保存目录", out + QLatin1Char('/'));
    Write(ini, "定时采集", "启用", QStringLiteral("真"));
    Write(ini, "定时采集", "时间", QStringLiteral(" 08:30 | 8点半 "));
    Write(ini, "定时采集", "任务", QStringLiteral("排名"));
    clock_ = QDateTime(QDate(2026, 3, 2), QTime(8, 28, 0));
    auto app = Start(QStringLiteral("daily"));
    QVERIFY(app->Ok());
    MainWindow& w = *app->Window();
    QVERIFY(w.选择框定时启用->isChecked());
    QCOMPARE(w.选择夹->Bar()->tabText(w.选择夹->Count() - 1), QStringLiteral("定时与通知"));
    QCOMPARE(w.标签定时时间说明->text(), QStringLiteral("无法识别，不用：8点半"));
    w.showMinimized();
    demo::DemoSite& site = *app->Demo();
    site.UpdateOptions([](demo::Options& o) {
      o.rankPages = 2;
      o.rankRowsPerPage = 5;
    });

    // Opened at 08:28: nothing is due until 08:30.
    app->Schedule()->Check();
    QVERIFY(!app->Rank().Running());
    QCOMPARE(ScheduledRunAt(*app, QDateTime(QDate(2026, 3, 2), QTime(8, 30, 10))),
             QStringLiteral("定时排名查询完成；2 个域名没有上次的记录"));
    QCOMPARE(app->List().RowCount(), 20);
    QVERIFY2(messages_.empty(), qPrintable(messages_.empty() ? QString() : messages_[0].text));
    QVERIFY(QDir(out).entryList(QDir::Files).isEmpty());
    QVERIFY(w.isMinimized());
    QCOMPARE(w.按钮开始采集->text(), QStringLiteral("开始采集"));

    // The next morning; a's second page is gone, so its keywords there are lost.
    site.UpdateOptions([](demo::Options& o) { o.rankPagesByDomain["a.test"] = 1; });
    QSignalSpy written(app->Schedule(), &ScheduleWiring::changeReportWritten);
    clock_ = QDateTime(QDate(2026, 3, 3), QTime(8, 30, 5));
    app->Schedule()->Check();
    QVERIFY(app->Schedule()->Scheduled(RunKind::kRank));
    // 立即采集 while the run goes: a run already going is not started twice.
    app->Schedule()->StartNow();
    QSignalSpy told(app->Schedule(), &ScheduleWiring::notice);
    QVERIFY(WaitFor([&] { return told.count() == 1; }, 60000));
    QCOMPARE(told.at(0).at(0).toString(), QStringLiteral("定时排名查询完成；排名变化写入 2 个文件"));
    QVERIFY(messages_.empty());
    QCOMPARE(written.count(), 2);

    // Each file holds the comparison of the domain's two runs, as the history has it.
    app->History().Drain();
    history::HistoryStore store;
    QVERIFY(store.Open(ToGbk(Path(QStringLiteral("daily.sqlite")))));
    const auto runs = store.ListRuns();
    QVERIFY(runs);
    QCOMPARE(runs->size(), std::size_t(2));
    for (const char* domain : {"a.test", "b.test"}) {
      const QString file = out + QStringLiteral("/排名变化_%1_2026-03-03.csv").arg(QLatin1String(domain));
      const auto rows = store.Compare((*runs)[1].id, (*runs)[0].id, domain);
      QVERIFY(rows);
      const QByteArray bytes = ReadFile(file);
      QVERIFY2(bytes.startsWith(QByteArray::fromStdString(G("关键字,旧排名,新排名,变化,搜索量\r\n"))), qPrintable(file));
      QCOMPARE(bytes, QByteArray::fromStdString(history::ComparisonCsv(*rows)));
    }
    // a.test lost the keywords of its second page; b.test kept them all.
    const auto lost = [&](const char* domain) {
      const auto rows = store.Compare((*runs)[1].id, (*runs)[0].id, domain);
      return std::count_if(rows->begin(), rows->end(), [](const auto& r) { return r.change == history::Change::kLost; });
    };
    QVERIFY(lost("a.test") > 0);
    QCOMPARE(lost("b.test"), 0);
  }

  void aScheduledRunGoesOnWithTheUnfinishedOne() {
    const QString ini = Path(QStringLiteral("resume.ini"));
    Write(ini, "基本参数", "域名", QStringLiteral("c.test|d.test"));
    Write(ini, "基本配置_挖掘", "保存目录", Path(QStringLiteral("resumed/")));
    Write(ini, "定时采集", "启用", QStringLiteral("真"));
    Write(ini, "定时采集", "时间", QStringLiteral("20:00"));
    clock_ = QDateTime(QDate(2026, 3, 2), QTime(12, 0, 0));
    auto app = Start(QStringLiteral("resume"));
    QVERIFY(app->Ok());
    MainWindow& w = *app->Window();
    app->Demo()->UpdateOptions([](demo::Options& o) {
      o.rankPages = 3;
      o.delayMs = 200;
    });
    // A run by hand, stopped after its first pages.
    QSignalSpy stored(&app->History(), &HistoryWiring::runStored);
    QTest::mouseClick(w.按钮开始采集, Qt::LeftButton);
    QVERIFY(WaitFor([&] { return app->List().RowCount() > 0; }, 30000));
    QTest::mouseClick(w.按钮开始采集, Qt::LeftButton);
    QVERIFY(WaitFor([&] { return !app->Rank().Running(); }, 30000));
    QCOMPARE(messages_.size(), std::size_t(1));  // its notice, as ever
    QVERIFY(messages_[0].text.contains(QStringLiteral("查询已停止")));
    QVERIFY(WaitFor([&] { return stored.count() > 0; }, 10000));
    // The domains changed since; the run that goes on keeps its own.
    w.编辑框域名->setText(QStringLiteral("e.test"));
    w.showMinimized();
    const QString notice = ScheduledRunAt(*app, QDateTime(QDate(2026, 3, 2), QTime(20, 0, 1)));
    QCOMPARE(notice, QStringLiteral("定时排名查询完成；2 个域名没有上次的记录"));
    QCOMPARE(messages_.size(), std::size_t(1));
    history::HistoryStore store;
    QVERIFY(store.Open(ToGbk(Path(QStringLiteral("resume.sqlite")))));
    const auto runs = store.ListRuns();
    QVERIFY(runs);
    QCOMPARE(runs->size(), std::size_t(1));
    QCOMPARE(runs->front().ending, history::Ending::kFinished);
    QCOMPARE(app->List().RowCount(), 2 * 3 * app->Demo()->GetOptions().rankRowsPerPage);
  }

  void closingWithTheScheduleOnOffersTheTrayAndTheTabIsSaved() {
    const QString ini = Path(QStringLiteral("close.ini"));
    Write(ini, "基本参数", "域名", QStringLiteral("a.test"));
    clock_ = QDateTime(QDate(2026, 3, 2), QTime(9, 0, 0));
    auto app = Start(QStringLiteral("close"));
    QVERIFY(app->Ok());
    MainWindow& w = *app->Window();
    // A file without the sections: schedule off, no notification, the designed format.
    QVERIFY(!w.选择框定时启用->isChecked());
    QVERIFY(!w.选择框无人值守->isChecked());
    QCOMPARE(w.组合框定时任务->currentText(), QStringLiteral("排名"));
    QCOMPARE(w.组合框通知格式->currentText(), QStringLiteral("报告"));
    QVERIFY(w.编辑框通知网址->text().isEmpty() && w.编辑框排名变化->text().isEmpty());

    w.选择框定时启用->setChecked(true);
    w.编辑框定时时间->setText(QStringLiteral("07:00|19:30"));
    w.组合框定时任务->setCurrentIndex(2);
    w.选择框无人值守->setChecked(true);
    w.编辑框通知网址->setText(QStringLiteral("http://127.0.0.1:9/a|http://127.0.0.1:9/b"));
    w.组合框通知格式->setCurrentIndex(1);
    w.编辑框排名变化->setText(QStringLiteral("3"));
    // Yes: the window stays (minimised where there is no tray) and nothing is saved yet.
    answer_ = kIdYes;
    w.close();
    QCOMPARE(messages_.size(), std::size_t(1));
    QCOMPARE(messages_[0].flags & kMbButtonMask, int(kMbYesNo));
    QVERIFY(w.isVisible() || app->Schedule()->HasTray());
    if (!app->Schedule()->HasTray()) QVERIFY(w.isMinimized());
    QVERIFY(!ReadFile(ini).contains(QByteArray::fromStdString(G("[定时采集]"))));
    // No: the window closes as ever, saving the settings.
    answer_ = kIdNo;
    QSignalSpy closing(&w, &MainWindow::closing);
    w.close();
    QCOMPARE(messages_.size(), std::size_t(2));
    QCOMPARE(closing.count(), 1);

    ConfigStore store;
    QVERIFY(store.Open(ToGbk(ini)));
    const ScheduleSettings saved = LoadScheduleSettings(store);
    QVERIFY(saved.enabled && saved.unattended);
    QCOMPARE(saved.timesText, std::string("07:00|19:30"));
    QVERIFY(saved.task == ScheduledTask::kBoth);
    store.SetSection(G("通知"));
    QCOMPARE(store.ReadText(G("网址")), std::string("http://127.0.0.1:9/a|http://127.0.0.1:9/b"));
    COMPARE_GBK(store.ReadText(G("格式")), G("文本"));
    QCOMPARE(store.ReadText(G("排名变化")), std::string("3"));
    app.reset();

    // Loaded again into a new window; with the schedule off, closing asks nothing.
    auto again = Start(QStringLiteral("close"));
    QVERIFY(again->Ok());
    MainWindow& w2 = *again->Window();
    QVERIFY(w2.选择框定时启用->isChecked() && w2.选择框无人值守->isChecked());
    QCOMPARE(w2.编辑框定时时间->text(), QStringLiteral("07:00|19:30"));
    QCOMPARE(w2.组合框定时任务->currentText(), QStringLiteral("排名和挖掘"));
    QCOMPARE(w2.组合框通知格式->currentText(), QStringLiteral("文本"));
    QCOMPARE(w2.编辑框排名变化->text(), QStringLiteral("3"));
    w2.选择框定时启用->setChecked(false);
    messages_.clear();
    w2.close();
    QVERIFY(messages_.empty());
    QVERIFY(!w2.isVisible());
  }
};

QTEST_MAIN(ScheduleWindowTest)
#include "schedule_window_test.moc"
