// Drives the window as a user would: the real embedded browser against the
// demo site started in-process.
#include <QApplication>
#include <QComboBox>
#include <QHeaderView>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QWebEngineCookieStore>
#include <QWebEngineProfile>
#include <QWebEngineView>

#include "AppTestSupport.h"
#include "app/Application.h"
#include "app/MainWindow.h"
#include "mining/Mining.h"
#include "app/QtText.h"
#include "app/ResultListModel.h"
#include "app/RunViews.h"
#include "app/Widgets.h"
#include "demo/DemoSite.h"
#include "demo/DemoFaults.h"
#include "rank/RankQuery.h"
#include "store/ConfigStore.h"
#include "hooks/Events.h"
#include "hooks/MessageBox.h"
#include "web/HttpClient.h"

using namespace lanshu;
using namespace lanshu::testing;

namespace {

}  // namespace

class WindowTest : public QObject {
  Q_OBJECT

  QTemporaryDir dir_;
  std::vector<Message> messages_;
  std::function<void(const Message&)> onMessage_;

  std::unique_ptr<Application> Start(const QString& settingsName, bool demo = true, bool settle = true) {
    CommandLine cl;
    cl.settingsFile = (dir_.path() + QLatin1Char('/') + settingsName).toStdString();
    cl.demo = demo;
    // A history of its own: a run one test leaves unfinished is offered to
    // go on only where a test looks for it.
    static int starts = 0;
    cl.historyDb = (dir_.path() + QStringLiteral("/history-%1.sqlite").arg(++starts)).toStdString();
    auto app = std::make_unique<Application>(cl);
    if (app->Ok()) {
      MainWindow* w = app->Window();
      w->show();
      if (!settle) return app;
      // Like a user, start after the login tab has loaded the user page.
      WaitFor([w] { return !w->时钟1->isActive(); }, 5000);
      QTest::qWait(800);
    }
    return app;
  }

  void Click(QPushButton* button) { QTest::mouseClick(button, Qt::LeftButton); }

  // The named controls a tab page shows.
  static QList<QWidget*> TabControls(QWidget* page) {
    QList<QWidget*> named;
    for (QWidget* c : page->findChildren<QWidget*>())
      if (!c->objectName().isEmpty() && !c->objectName().startsWith(QLatin1String("qt_")) && c->isVisibleTo(page))
        named << c;
    return named;
  }

  // Lays every tab out at the current size.
  static void ShowAllTabs(MainWindow& w) {
    for (int t = 0; t < w.选择夹->Count(); ++t) {
      w.选择夹->SetCurrentIndex(t);
      QTest::qWait(20);
    }
  }

  // Every tab lies inside the window, and each of its controls inside the
  // tab, with a size, clear of every neighbour it was clear of in `design`.
  static void CheckTabs(MainWindow& w, const QHash<QWidget*, QRect>& design) {
    for (int t = 0; t < w.选择夹->Count(); ++t) {
      w.选择夹->SetCurrentIndex(t);
      QTest::qWait(20);
      QWidget* page = w.选择夹->Page(t);
      QVERIFY2(QRect(QPoint(0, 0), w.size()).contains(page->geometry().translated(w.选择夹->pos())),
               qPrintable(QStringLiteral("tab %1").arg(t)));
      const QList<QWidget*> list = TabControls(page);
      QVERIFY(!list.isEmpty());
      for (QWidget* c : list) {
        const QRect r(c->mapTo(page, QPoint(0, 0)), c->size());
        QVERIFY2(page->rect().contains(r), qPrintable(QStringLiteral("%1 at %2x%3: %4,%5 %6x%7 leaves its tab")
                                                          .arg(c->objectName())
                                                          .arg(w.width())
                                                          .arg(w.height())
                                                          .arg(r.x())
                                                          .arg(r.y())
                                                          .arg(r.width())
                                                          .arg(r.height())));
        QVERIFY2(c->width() > 0 && c->height() > 0, qPrintable(c->objectName()));
        for (QWidget* o : list)
          if (o != c && o->parentWidget() == c->parentWidget() && design.contains(c) && design.contains(o) &&
              !design[c].intersects(design[o]))
            QVERIFY2(!c->geometry().intersects(o->geometry()),
                     qPrintable(c->objectName() + QStringLiteral(" runs into ") + o->objectName()));
      }
    }
  }

 private slots:
  void initTestCase() {
    SetEventPump([] { QCoreApplication::processEvents(); }, 5);
    Application::InstallEventWait();  // waits run the event loop, as in the program
    SetMessageBoxHook([this](const std::string& text, int flags, const std::string& title) {
      Message m{FromGbk(title), FromGbk(text), flags};
      messages_.push_back(m);
      if (onMessage_) onMessage_(m);
      return kIdOk;
    });
  }
  void init() {
    messages_.clear();
    onMessage_ = nullptr;
  }

  void rankQueryListsEveryPageOfEveryDomain() {
    auto app = Start("rank.ini");
    QVERIFY(app->Ok());
    demo::DemoSite& site = *app->Demo();
    site.UpdateOptions([](demo::Options& o) {
      o.rankPages = 2;
      o.rankRowsPerPage = 4;
      o.rankPagesByDomain["b.test"] = 1;
    });
    MainWindow& w = *app->Window();
    w.组合框排序->setCurrentIndex(2);
    w.编辑框域名->setText(QStringLiteral("a.test||b.test|"));
    site.ClearLog();
    Click(w.按钮开始采集);
    QVERIFY(WaitFor([&] { return !messages_.empty(); }, 60000));

    // Pages asked for, in order: two of a.test, one of b.test; the empty
    // piece is never requested.
    QStringList paths;
    for (const auto& r : site.Requests())
      if (r.target.rfind("/baidu/", 0) == 0) paths << QString::fromStdString(r.target);
    QCOMPARE(paths, QStringList({"/baidu/a.test/1/zhishu/", "/baidu/a.test/2/zhishu/", "/baidu/b.test/1/zhishu/"}));
    std::vector<demo::RankRow> expected;
    for (auto [d, p] : std::vector<std::pair<std::string, int>>{{"a.test", 1}, {"a.test", 2}, {"b.test", 1}})
      for (const auto& row : site.ExpectedRankRows(d, p, "zhishu")) expected.push_back(row);
    ListViewTable& list = app->List();
    QCOMPARE(list.RowCount(), static_cast<int>(expected.size()));
    for (int i = 0; i < list.RowCount(); ++i) {
      QCOMPARE(list.CellText(i, 0), expected[i].serial);
      QCOMPARE(list.CellText(i, 2), expected[i].keyword);
      QCOMPARE(list.CellText(i, 3), expected[i].rank);
      QCOMPARE(list.CellText(i, 4), expected[i].volume);
      QCOMPARE(list.CellText(i, 5), expected[i].indexed);
      QCOMPARE(list.CellText(i, 7), expected[i].href);
    }
    QCOMPARE(messages_.size(), size_t(1));
    QCOMPARE(messages_[0].text, QStringLiteral("查询完成！"));
    QCOMPARE(messages_[0].title, QStringLiteral("青篱："));
    QCOMPARE(messages_[0].flags, 0x1040);
    QCOMPARE(w.按钮开始采集->text(), QStringLiteral("开始采集"));
    QCOMPARE(w.StatusText(), QStringLiteral("域名：b.test  当前页：1  总：0"));
  }

  // A mining run started during a rank query: both go on, each with its
  // own caption, and both finish whole.
  void miningDuringARankQueryBothGoOnAndFinish() {
    auto app = Start("side.ini");
    demo::DemoSite& site = *app->Demo();
    site.UpdateOptions([](demo::Options& o) {
      o.rankPages = 6;
      o.rankRowsPerPage = 3;
      o.keywordPages = 3;
      o.delayMs = 60;
    });
    MainWindow& w = *app->Window();
    w.编辑框域名->setText(QStringLiteral("a.test|b.test"));
    w.编辑框关键词列表->setPlainText(QStringLiteral("甲\n乙"));
    w.编辑框页间隔->setText(QStringLiteral("0.1"));
    w.编辑框关键词间隔->setText(QStringLiteral("0.1"));
    ListViewTable& list = app->List();
    auto lines = [&] { return w.编辑框结果关键词->toPlainText().count(QLatin1Char('\n')); };
    // Samples taken while both run: the rows and lines each added then.
    int rankGrewWhileMining = 0, miningGrewWhileRanking = 0;
    int lastRows = 0, lastLines = 0;
    QTimer sample;
    connect(&sample, &QTimer::timeout, [&] {
      const bool both = app->Rank().Running() && app->Mining().Running();
      if (both && list.RowCount() > lastRows) ++rankGrewWhileMining;
      if (both && lines() > lastLines) ++miningGrewWhileRanking;
      lastRows = list.RowCount();
      lastLines = lines();
    });
    sample.start(10);
    Click(w.按钮开始采集);
    QVERIFY(WaitFor([&] { return list.RowCount() > 0; }, 30000));
    Click(w.按钮开始挖掘);
    QCOMPARE(w.按钮开始采集->text(), QStringLiteral("停止"));
    QCOMPARE(w.按钮开始挖掘->text(), QStringLiteral("停止挖掘"));
    QVERIFY(WaitFor([&] { return messages_.size() == 2; }, 120000));
    sample.stop();
    QVERIFY2(rankGrewWhileMining > 0, "the rank query stood still while mining went");
    QVERIFY2(miningGrewWhileRanking > 0, "mining stood still while the rank query went");
    QStringList notices;
    for (const Message& m : messages_) notices << m.text;
    notices.sort();
    QCOMPARE(notices.size(), 2);
    QVERIFY(notices.contains(QStringLiteral("查询完成！")));
    QCOMPARE(list.RowCount(), 2 * 6 * 3);
    QCOMPARE(w.按钮开始采集->text(), QStringLiteral("开始采集"));
    QCOMPARE(w.按钮开始挖掘->text(), QStringLiteral("开始挖掘"));
    QCOMPARE(app->Mining().Ledger().Pages(), 2 * 3);
    QCOMPARE(app->Mining().Ledger().Failed(), 0);
  }

  void stopDuringARunShowsOneNoticeSayingSo() {
    auto app = Start("stop.ini");
    demo::DemoSite& site = *app->Demo();
    site.UpdateOptions([](demo::Options& o) { o.rankPages = 5; });
    MainWindow& w = *app->Window();
    w.编辑框域名->setText(QStringLiteral("a.test|b.test"));
    QTimer poll;
    connect(&poll, &QTimer::timeout, [&] {
      if (w.StatusText().contains(QStringLiteral("当前页：2"))) {
        poll.stop();
        Click(w.按钮开始采集);  // the stop request, while the run is going
      }
    });
    poll.start(20);
    QTimer::singleShot(0, [&] { Click(w.按钮开始采集); });
    QVERIFY(WaitFor([&] { return messages_.size() == 1; }, 60000));
    QCOMPARE(messages_[0].text, QStringLiteral("查询已停止！"));
    QCOMPARE(w.按钮开始采集->text(), QStringLiteral("开始采集"));
    QTest::qWait(300);
    QCOMPARE(messages_.size(), size_t(1));
    for (const auto& r : site.Requests()) QVERIFY(r.target.find("b.test") == std::string::npos);
  }

  // The start-up load of the user page waits for a run that is loading pages.
  void aRunStartedRightAfterStartUpKeepsTheBrowser() {
    auto app = Start("early.ini", true, false);
    demo::DemoSite& site = *app->Demo();
    site.UpdateOptions([](demo::Options& o) {
      o.rankPages = 4;
      o.delayMs = 300;
    });
    MainWindow& w = *app->Window();
    w.编辑框域名->setText(QStringLiteral("a.test"));
    Click(w.按钮开始采集);
    QVERIFY(WaitFor([&] { return !messages_.empty(); }, 60000));
    QCOMPARE(messages_[0].text, QStringLiteral("查询完成！"));
    int expected = 0;
    for (int page = 1; page <= 4; ++page) expected += static_cast<int>(site.ExpectedRankRows("a.test", page, "position").size());
    QCOMPARE(app->List().RowCount(), expected);
    // Once the run is over the user page loads.
    QVERIFY(WaitFor([&] { return !w.时钟1->isActive(); }, 10000));
  }

  void emptyDomainTextShowsTheMessageOnly() {
    auto app = Start("empty.ini");
    MainWindow& w = *app->Window();
    w.编辑框域名->clear();
    Click(w.按钮开始采集);
    QCOMPARE(messages_.size(), size_t(1));
    QCOMPARE(messages_[0].text, QStringLiteral("请先输入要查询站点的域名！"));
    QCOMPARE(messages_[0].title, QStringLiteral("信息："));
    QCOMPARE(w.按钮开始采集->text(), QStringLiteral("开始采集"));
  }

  void headerShowsTheSortArrowOfTheSortedColumn() {
    auto app = Start("arrow.ini");
    QVERIFY(app->Ok());
    MainWindow& w = *app->Window();
    QHeaderView* header = w.列表框->header();
    auto clickHeader = [&](int column) {
      QTest::mouseClick(header->viewport(), Qt::LeftButton, {},
                        QPoint(header->sectionViewportPosition(column) + 5, header->height() / 2));
    };
    // Without rows nothing is sorted, and no arrow claims otherwise.
    clickHeader(4);
    QVERIFY(!header->isSortIndicatorShown());

    ListViewTable& list = app->List();
    for (const char* volume : {"2,401", "115", "3,404,667"}) list.SetCellText(list.AppendRow("1"), 4, volume);
    clickHeader(4);
    QCOMPARE(list.CellText(0, 4), std::string("115"));
    QCOMPARE(list.CellText(2, 4), std::string("3,404,667"));
    QVERIFY(header->isSortIndicatorShown());
    QCOMPARE(header->sortIndicatorSection(), 4);
    QCOMPARE(header->sortIndicatorOrder(), Qt::AscendingOrder);
    clickHeader(3);
    QCOMPARE(header->sortIndicatorSection(), 3);
    QCOMPARE(header->sortIndicatorOrder(), Qt::DescendingOrder);
    // A new row breaks the order: the arrow goes.
    list.AppendRow("2");
    QVERIFY(!header->isSortIndicatorShown());
    clickHeader(4);
    QVERIFY(header->isSortIndicatorShown());
    w.菜单清空列表->trigger();
    QVERIFY(!header->isSortIndicatorShown());
  }

  void domainsGbkCannotWriteAreRefused() {
    auto app = Start("unwritable.ini");
    QVERIFY(app->Ok());
    MainWindow& w = *app->Window();
    app->Demo()->ClearLog();
    w.编辑框域名->setText(QStringLiteral("a.test| b\u0E01.test "));
    Click(w.按钮开始采集);
    QCOMPARE(messages_.size(), size_t(1));
    QCOMPARE(messages_[0].text, QStringLiteral("域名含有GBK无法表示的字符：b<U+0E01>.test"));
    QCOMPARE(messages_[0].title, QStringLiteral("信息："));
    QCOMPARE(w.按钮开始采集->text(), QStringLiteral("开始采集"));
    QTest::qWait(200);
    for (const auto& r : app->Demo()->Requests()) QVERIFY(r.target.rfind("/baidu/", 0) != 0);
  }

  void duplicatesAndLinkConversion() {
    auto app = Start("dup.ini");
    demo::DemoSite& site = *app->Demo();
    site.UpdateOptions([](demo::Options& o) {
      o.rankPages = 2;
      o.rankRowsPerPage = 3;
    });
    MainWindow& w = *app->Window();
    w.编辑框域名->setText(QStringLiteral("a.test|b.test"));
    w.选择框自动过滤重复关键字->setChecked(true);
    w.选择框转换百度链接->setChecked(true);
    Click(w.按钮开始采集);
    QVERIFY(WaitFor([&] { return !messages_.empty(); }, 60000));

    std::vector<demo::RankRow> all;
    for (const char* d : {"a.test", "b.test"}) {
      std::set<std::string> seen;
      for (int p = 1; p <= 2; ++p)
        for (const auto& row : site.ExpectedRankRows(d, p, "position"))
          if (seen.insert(row.keyword).second) all.push_back(row);
    }
    ListViewTable& list = app->List();
    QCOMPARE(list.RowCount(), static_cast<int>(all.size()));
    for (int i = 0; i < list.RowCount(); ++i) {
      QCOMPARE(list.CellText(i, 2), all[i].keyword);
      // A relative Location names a page of the search engine that answered.
      const std::string target = all[i].target.rfind("/", 0) == 0 ? site.BaseUrl() + all[i].target : all[i].target;
      QCOMPARE(list.CellText(i, 7), target.empty() ? all[i].href : target);
    }
    // The resolver sends no cookie and no referrer.
    for (const auto& r : site.Requests())
      if (r.path == "/link") {
        QVERIFY(!r.HasHeader("Cookie"));
        QVERIFY(!r.HasHeader("Referer"));
      }
  }

  // A login page pauses the run behind the bar; after logging in on the
  // login tab, 继续 loads the page again and the run goes on. The run waits
  // inside the start click, so the user's steps come from a timer.
  void aLoginPagePausesTheRunUntilTheUserLogsIn() {
    auto app = Start("login.ini");
    demo::DemoSite& site = *app->Demo();
    site.UpdateOptions([](demo::Options& o) {
      o.requireLogin = true;
      o.rankPages = 1;
    });
    MainWindow& w = *app->Window();
    w.编辑框域名->setText(QStringLiteral("a.test"));
    int step = 0;
    bool pausedRight = false;
    QTimer user;
    connect(&user, &QTimer::timeout, [&] {
      if (step == 0 && !w.拦截提示条->isHidden()) {
        pausedRight = w.选择夹->CurrentIndex() == 2 && w.拦截提示文字->text().contains(QStringLiteral("登录")) &&
                      w.按钮开始采集->text() == QStringLiteral("停止") && messages_.empty() &&
                      w.进度条->format() == QStringLiteral("已暂停") &&
                      w.选择夹->y() == MainWindow::kTabsTop + w.拦截提示条->height();
        step = 1;  // log in on the third tab
        w.编辑框网址->setText(QString::fromStdString(site.BaseUrl() + "/user.php?action=login&user=demo&pass=demo"));
        Click(w.按钮跳到);
      } else if (step == 1 && app->Http().GetCookie(site.BaseUrl(), "lanshu_session") != "") {
        step = 2;
        Click(w.按钮继续);
      }
    });
    user.start(50);
    QTimer::singleShot(0, [&] { Click(w.按钮开始采集); });
    QVERIFY(WaitFor([&] { return !messages_.empty(); }, 60000));
    user.stop();
    QVERIFY(pausedRight);
    QCOMPARE(step, 2);
    QCOMPARE(messages_[0].text, QStringLiteral("查询完成！"));
    QVERIFY(w.拦截提示条->isHidden());
    QCOMPARE(w.选择夹->y(), int(MainWindow::kTabsTop));
    QVERIFY(w.进度条->format() != QStringLiteral("已暂停"));
    QCOMPARE(app->List().RowCount(), static_cast<int>(site.ExpectedRankRows("a.test", 1, "position").size()));

    // Skipped, the page counts as failed, and the notice says so.
    messages_.clear();
    site.UpdateOptions([](demo::Options& o) { o.requireLogin = false; });
    demo::Options faults = site.GetOptions();
    QVERIFY(demo::ParseDemoFaults("rank:b.test:1=verify", faults));
    site.SetOptions(faults);
    w.编辑框域名->setText(QStringLiteral("b.test"));
    bool askedToVerify = false;
    QTimer skip;
    connect(&skip, &QTimer::timeout, [&] {
      if (w.拦截提示条->isHidden()) return;
      askedToVerify = w.拦截提示文字->text().contains(QStringLiteral("验证"));
      skip.stop();
      Click(w.按钮跳过);
    });
    skip.start(50);
    QTimer::singleShot(0, [&] { Click(w.按钮开始采集); });
    QVERIFY(WaitFor([&] { return !messages_.empty(); }, 60000));
    QVERIFY(askedToVerify);
    QCOMPARE(messages_[0].text, QStringLiteral("查询完成！\r\n未成功 1 页：失败 1 页"));
    QCOMPARE(app->Rank().Ledger().NotOk().size(), size_t(1));
  }

  // The bar shows the share of the run's work done, for both kinds and for
  // a retry of failed pages; an overlapping run shows its own and hands the
  // bar back when it ends.
  void theProgressBarShowsTheShareOfTheRunDone() {
    auto app = Start("progress.ini", false, false);
    MainWindow& w = *app->Window();
    ProgressView view(w);
    QProgressBar* bar = w.进度条;
    const auto share = [bar] { return bar->value() * 1000 / bar->maximum(); };
    const auto page = [](const char* target, int n, bool ok = true) {
      PageReport r;
      r.target = target;
      r.page = n;
      if (!ok) r.outcome = PageOutcome::Failed("HTTP 500");
      return r;
    };
    const auto rank = RunKind::kRank;

    view.RunStarted(rank, {"a.test", "b.test"});
    QVERIFY(!bar->isHidden());
    QCOMPARE(share(), 0);
    view.TargetStarted(rank, "a.test", 1, 2);
    view.PageRequested(rank, "a.test", 1, 1, 0);
    QCOMPARE(share(), 0);  // the first page of the first domain is no whole domain
    view.PageEnded(rank, page("a.test", 1));
    QCOMPARE(share(), 0);  // the domain's page count is not known yet
    view.PageRequested(rank, "a.test", 2, 1, 4);
    QCOMPARE(share(), 125);  // 1 of 4 pages of domain 1 of 2
    view.PageEnded(rank, page("a.test", 2, false));
    QCOMPARE(share(), 250);
    view.TargetStarted(rank, "b.test", 2, 2);
    view.PageRequested(rank, "b.test", 1, 1, 0);
    QCOMPARE(share(), 500);

    // Mining goes on inside the rank run: its own seeds, then rank's place again.
    view.RunStarted(RunKind::kMine, {"x", "y", "z"});
    view.TargetStarted(RunKind::kMine, "x", 1, 3);
    view.PageRequested(RunKind::kMine, "x", 1, 1, 0);
    QCOMPARE(share(), 0);
    view.TargetStarted(RunKind::kMine, "y", 2, 3);
    QCOMPARE(share(), 333);
    view.RunEnded(RunKind::kMine, RunEnd::kStopped);
    QVERIFY(!bar->isHidden());
    QCOMPARE(share(), 500);
    QVERIFY(w.进度文字->text().startsWith(QStringLiteral("域名 2/2")));
    view.PageEnded(rank, page("b.test", 1, false));
    view.RunEnded(rank, RunEnd::kFinished);
    QVERIFY(bar->isHidden());

    // A retry asks for the two pages that failed, without targets of its own.
    view.RunStarted(rank, {"a.test", "b.test"});
    QCOMPARE(share(), 0);
    view.PageRequested(rank, "a.test", 2, 1, 0);
    view.PageEnded(rank, page("a.test", 2));
    QCOMPARE(share(), 500);
    view.PageRequested(rank, "b.test", 1, 1, 0);
    QVERIFY(w.进度文字->text().startsWith(QStringLiteral("域名 2/2  第 1 页")));
    view.PageEnded(rank, page("b.test", 1));
    QCOMPARE(share(), 1000);
    view.RunEnded(rank, RunEnd::kFinished);
  }

  // While a run waits at a login page the bar stands and says 已暂停; the
  // answer gives it back its percentage.
  void theProgressBarPausesAtALoginPage() {
    auto app = Start("pause.ini", false, false);
    MainWindow& w = *app->Window();
    ProgressView view(w);
    QProgressBar* bar = w.进度条;
    const QString format = bar->format();
    view.RunStarted(RunKind::kRank, {"a.test"});
    view.TargetStarted(RunKind::kRank, "a.test", 1, 1);
    view.PageRequested(RunKind::kRank, "a.test", 1, 1, 0);
    PageReport first;
    first.target = "a.test";
    first.page = 1;
    view.PageEnded(RunKind::kRank, first);
    view.PageRequested(RunKind::kRank, "a.test", 2, 1, 4);
    const int value = bar->value();
    QCOMPARE(value, bar->maximum() / 4);

    PageReport wall;
    wall.target = "a.test";
    wall.page = 2;
    wall.outcome = PageOutcome::Blocked(Wall::kLogin);
    QString pausedFormat, minedFormat;
    int pausedValue = -1, minedValue = -1;
    QTimer::singleShot(1200, [&] {  // after a tick of the view's clock
      pausedFormat = bar->format();
      pausedValue = bar->value();
      // A mining run in the meantime moves the bar as its own.
      view.RunStarted(RunKind::kMine, {"x", "y"});
      view.TargetStarted(RunKind::kMine, "y", 2, 2);
      minedFormat = bar->format();
      minedValue = bar->value();
      view.RunEnded(RunKind::kMine, RunEnd::kFinished);
      Click(w.按钮继续);
    });
    const BlockedChoice choice = AskAtBlockedPage(w, RunKind::kRank, wall, [] { return false; });
    QCOMPARE(choice, BlockedChoice::kRetry);
    QCOMPARE(pausedFormat, QStringLiteral("已暂停"));
    QCOMPARE(pausedValue, value);
    QCOMPARE(minedFormat, format);
    QCOMPARE(minedValue, bar->maximum() / 2);
    QCOMPARE(bar->format(), format);
    QCOMPARE(bar->value(), value);
    view.RunEnded(RunKind::kRank, RunEnd::kFinished);
    QVERIFY(bar->isHidden());
  }

  void settingsRoundTrip() {
    const QString path = dir_.path() + QStringLiteral("/round.ini");
    {
      auto app = Start("round.ini", false);
      MainWindow& w = *app->Window();
      QCOMPARE(w.编辑框表达式->isEnabled(), false);  // first start: design values
      QCOMPARE(w.选择框保留加入->isChecked(), true);
      w.组合框排序->setCurrentIndex(2);
      w.组合框导出模式->setCurrentIndex(1);
      w.编辑框关键词列表->setPlainText(QStringLiteral("甲\n乙"));
      w.选择框自动保存目录->setChecked(false);
      w.选择框搜索量->setChecked(true);
      QTest::mouseClick(w.文字保存配置, Qt::LeftButton);  // the save command, before any close
      QCOMPARE(messages_.size(), size_t(1));
      QCOMPARE(messages_[0].text, QStringLiteral("保存完毕！"));
      QCOMPARE(messages_[0].title, QStringLiteral("信息："));
      ConfigStore saved;
      QVERIFY(saved.Open(ToGbk(path), ConfigStore::kMemoryMode));
      QCOMPARE(saved.ReadValue(G("基本参数"), G("排序")), std::string("2"));
      w.close();
    }
    ConfigStore store;
    QVERIFY(store.Open(ToGbk(path), ConfigStore::kMemoryMode));
    store.SetSection(G("基本参数"));
    QCOMPARE(store.ReadText(G("排序")), std::string("2"));
    QCOMPARE(store.ReadText(G("导出模式")), std::string("1"));
    store.SetSection(G("基本配置_挖掘"));
    QCOMPARE(store.ReadValue(G("基本配置_挖掘"), G("关键词")), G("甲┊*┊乙"));
    QCOMPARE(store.ReadText(G("搜索量")), G("真"));
    QCOMPARE(store.ReadText(G("自动保存目录")), G("假"));
    {
      auto app = Start("round.ini", false);
      MainWindow& w = *app->Window();
      QCOMPARE(w.组合框排序->currentText(), QStringLiteral("按指数"));
      QCOMPARE(w.编辑框表达式->isEnabled(), true);
      QCOMPARE(w.编辑框关键词列表->toPlainText(), QStringLiteral("甲\n乙"));
      QCOMPARE(w.编辑框目录->isEnabled(), false);
      QCOMPARE(w.按钮选择->isEnabled(), false);
      QCOMPARE(w.选择框独立保存->isEnabled(), false);
      w.选择框自动保存目录->click();  // the enabling rule follows the box
      QCOMPARE(w.编辑框目录->isEnabled(), true);
      QCOMPARE(w.选择框独立保存->isEnabled(), true);
      w.组合框导出模式->setCurrentIndex(0);
      emit w.组合框导出模式->activated(0);
      QCOMPARE(w.编辑框表达式->isEnabled(), false);
    }
  }

  void relayoutKeepsEveryColumnButTheTitle() {
    auto app = Start("layout.ini", false);
    MainWindow& w = *app->Window();
    w.resize(1100, 700);
    QTest::qWait(50);
    QCOMPARE(w.选择夹->width(), 1100);
    QCOMPARE(w.列表框->width(), 1100 - 16);
    QCOMPARE(w.列表框->height(), w.选择夹->height() - 109 - 8);
    QHeaderView* h = w.列表框->header();
    QCOMPARE(h->sectionSize(0), 50);
    QCOMPARE(h->sectionSize(7), 200);
    QCOMPARE(h->sectionSize(6), w.列表框->width() - (50 + 100 + 150 + 100 + 60 + 60 + 200) - 10);
    QCOMPARE(w.浏览框->width(), 1100 - 8 - 10);
    QCOMPARE(w.浏览框->height(), w.选择夹->height() - 64 - 10);
    QCOMPARE(w.编辑框网址->width(), 1100 - 540 - 10);  // after the back and reload buttons
    QCOMPARE(w.图片框1->width(), 1100);
  }

  // Every tab follows the window down to its minimum size and up: nothing
  // leaves its tab, nothing runs into a neighbour it was clear of, and the
  // result boxes take the room.
  void everyTabGrowsAndShrinksWithTheWindow() {
    auto app = Start("resize.ini", false);
    MainWindow& w = *app->Window();
    ShowAllTabs(w);
    QHash<QWidget*, QRect> design;
    for (int t = 0; t < w.选择夹->Count(); ++t)
      for (QWidget* c : TabControls(w.选择夹->Page(t)))
        design[c] = c->geometry();
    QCOMPARE(w.minimumSize(), QSize(MainWindow::kMinimumWidth, MainWindow::kMinimumHeight));

    for (QSize size : {QSize(300, 200), QSize(MainWindow::kMinimumWidth, MainWindow::kMinimumHeight),
                       QSize(1000, 520), QSize(1500, 950)}) {
      w.resize(size);
      ShowAllTabs(w);
      QCOMPARE(w.width(), std::max(size.width(), MainWindow::kMinimumWidth));
      QCOMPARE(w.height(), std::max(size.height(), MainWindow::kMinimumHeight));
      CheckTabs(w, design);
      if (QTest::currentTestFailed()) return;
    }
    // At 1500 x 950 the boxes that hold results have taken the room.
    QCOMPARE(w.编辑框结果关键词->geometry(), QRect(248, 104, 720 + 510, 263 + 348));
    QCOMPARE(w.编辑框关键词列表->height(), 360 + 348);
    QCOMPARE(w.按钮1->geometry().right(), 968 + 510 - 1);
    QCOMPARE(w.编辑框关键词间隔->geometry().topLeft(), QPoint(920 + 510, 408 + 348));
    QCOMPARE(w.编辑框域名->width(), 711 + 510);
    // Back at the design size every control is where it was placed.
    w.resize(MainWindow::kDesignWidth, MainWindow::kDesignHeight);
    ShowAllTabs(w);
    for (auto it = design.begin(); it != design.end(); ++it)
      QCOMPARE(it.key()->geometry(), it.value());
  }

  // The blocked-page bar goes between the top strip and the tabs, at the
  // design size and at the smallest: it covers none of the strip, the tabs
  // give up its height at their top and keep their bottom, every tab still
  // holds its controls apart, and once the bar hides all is as before.
  void theBlockedBarPushesTheTabsDown() {
    auto app = Start("bar.ini", false);
    MainWindow& w = *app->Window();
    ShowAllTabs(w);
    QHash<QWidget*, QRect> design;
    for (int t = 0; t < w.选择夹->Count(); ++t)
      for (QWidget* c : TabControls(w.选择夹->Page(t)))
        design[c] = c->geometry();
    const auto places = [&] {  // the moving logo aside
      QHash<QWidget*, QRect> g;
      for (QWidget* c : w.findChildren<QWidget*>())
        if (!c->objectName().isEmpty() && c != w.图片青篱软件) g[c] = c->geometry();
      return g;
    };
    const auto inWindow = [&](QWidget* c) { return QRect(c->mapTo(&w, QPoint(0, 0)), c->size()); };
    for (QSize size : {QSize(MainWindow::kDesignWidth, MainWindow::kDesignHeight),
                       QSize(MainWindow::kMinimumWidth, MainWindow::kMinimumHeight)}) {
      w.resize(size);
      ShowAllTabs(w);
      const QHash<QWidget*, QRect> before = places();
      const QRect tabs = w.选择夹->geometry();
      QCOMPARE(tabs.top(), int(MainWindow::kTabsTop));

      w.拦截提示条->show();
      ShowAllTabs(w);
      const QRect bar = w.拦截提示条->geometry();
      QCOMPARE(bar, QRect(0, tabs.top(), w.width(), bar.height()));
      QVERIFY(bar.height() > 0);
      QCOMPARE(w.选择夹->geometry(), tabs.adjusted(0, bar.height(), 0, 0));
      QVERIFY(!w.状态条->geometry().intersects(bar));
      for (QWidget* c : std::initializer_list<QWidget*>{w.图片框1, w.标签9, w.图片保存配置, w.文字保存配置, w.图片疑点说明, w.文字疑点说明,
                                                        w.图片青篱软件}) {
        QVERIFY2(!inWindow(c).intersects(bar), qPrintable(c->objectName() + QStringLiteral(" under the bar")));
        QVERIFY2(!inWindow(c).intersects(w.选择夹->geometry()),
                 qPrintable(c->objectName() + QStringLiteral(" under the tabs")));
      }
      CheckTabs(w, design);
      if (QTest::currentTestFailed()) return;

      w.拦截提示条->hide();
      ShowAllTabs(w);
      const QHash<QWidget*, QRect> after = places();
      for (auto it = before.begin(); it != before.end(); ++it)
        QVERIFY2(after.value(it.key()) == it.value(), qPrintable(it.key()->objectName() + QStringLiteral(" moved")));
    }
  }

  // The logo moves while the window can be seen, and only then.
  void logoMovesOnlyWhileTheWindowIsSeen() {
    auto app = Start("logo.ini", false, false);
    MainWindow& w = *app->Window();
    QVERIFY(WaitFor([&] { return w.时钟官网->isActive(); }, 2000));
    QCOMPARE(w.时钟官网->interval(), 20);
    const int x = w.图片青篱软件->x();
    QVERIFY(WaitFor([&] { return w.图片青篱软件->x() >= x + 3; }, 2000));
    w.showMinimized();
    QVERIFY(WaitFor([&] { return !w.时钟官网->isActive(); }, 2000));
    w.showNormal();
    QVERIFY(WaitFor([&] { return w.时钟官网->isActive(); }, 2000));
    w.hide();
    QVERIFY(!w.时钟官网->isActive());
    const int hiddenAt = w.图片青篱软件->x();
    QTest::qWait(100);
    QCOMPARE(w.图片青篱软件->x(), hiddenAt);
    // It turns at W - 20 on the right and at 340 on the left.
    for (int i = 0; i < 2000; ++i) w.MoveLogo();
    QVERIFY(w.图片青篱软件->x() >= 340);
    QVERIFY(w.图片青篱软件->x() + w.图片青篱软件->width() <= w.width() - 20 + 1);
  }

  void closingDuringARunStopsItFirst() {
    auto app = Start("close.ini");
    app->Demo()->UpdateOptions([](demo::Options& o) { o.rankPages = 20; });
    MainWindow& w = *app->Window();
    QPointer<MainWindow> guard(&w);
    w.编辑框域名->setText(QStringLiteral("a.test"));
    bool closedDuringRun = false;
    QTimer poll;
    connect(&poll, &QTimer::timeout, [&] {
      if (guard && guard->StatusText().contains(QStringLiteral("当前页：2"))) {
        poll.stop();
        closedDuringRun = true;
        guard->close();  // while the run is going
      }
    });
    poll.start(20);
    QTimer::singleShot(0, [&] { Click(w.按钮开始采集); });
    QVERIFY(WaitFor([&] { return !guard || !guard->isVisible(); }, 60000));
    QVERIFY(closedDuringRun);
    QVERIFY(messages_.empty());  // nobody is asked anything while the window closes
    QCOMPARE(app->Demo()->Requests().size() < 10, true);
    QVERIFY(QFile::exists(dir_.path() + QStringLiteral("/close.ini")));
  }

  // Qt's own dialogs and standard buttons speak Chinese.
  void standardDialogsSpeakChinese() {
    QVERIFY(Application::InstallChineseTranslations());
    QCOMPARE(QCoreApplication::translate("QPlatformTheme", "OK"), QStringLiteral("确定"));
    QCOMPARE(QCoreApplication::translate("QPlatformTheme", "Cancel"), QStringLiteral("取消"));
  }


  // A settings file in neither GBK nor UTF-8 is left as it is; the window
  // says so and starts from the defaults. One in UTF-8 is read and becomes GBK.
  void settingsFilesInOtherEncodings() {
    const QString odd = dir_.path() + QStringLiteral("/odd.ini");
    const QByteArray bytes("\xFF\xFE[\x01]\r\nk=\xFF\r\n", 11);
    {
      QFile f(odd);
      QVERIFY(f.open(QIODevice::WriteOnly));
      f.write(bytes);
    }
    messages_.clear();
    {
      auto app = Start("odd.ini", false, false);
      QCOMPARE(messages_.size(), size_t(1));
      QVERIFY(messages_[0].text.startsWith(QStringLiteral("设置文件的编码无法识别")));
      QCOMPARE(app->Window()->编辑框域名->text().isEmpty(), false);  // the design value
      app->Window()->close();
    }
    QCOMPARE(ReadFile(odd), bytes);

    const QString utf8 = dir_.path() + QStringLiteral("/utf8.ini");
    {
      QFile f(utf8);
      QVERIFY(f.open(QIODevice::WriteOnly));
      f.write(QStringLiteral("\uFEFF[基本参数]\r\n域名=甲.com|乙.com\r\n").toUtf8());
    }
    messages_.clear();
    {
      auto app = Start("utf8.ini", false, false);
      QVERIFY(messages_.empty());
      QCOMPARE(app->Window()->编辑框域名->text(), QStringLiteral("甲.com|乙.com"));
      app->Window()->close();
    }
    ConfigStore saved;
    QVERIFY(saved.Open(ToGbk(utf8), ConfigStore::kMemoryMode));
    QCOMPARE(saved.LoadedEncoding(), FileEncoding::kGbk);  // written back in one piece
    QCOMPARE(saved.ReadValue(G("基本参数"), G("域名")), G("甲.com|乙.com"));
  }


  // The login browser: Enter loads the address, an address without a scheme
  // is a web address, and there are back and reload buttons.
  void loginBrowserAddressEnterBackAndReload() {
    auto app = Start("browser.ini");
    demo::DemoSite& site = *app->Demo();
    MainWindow& w = *app->Window();
    w.选择夹->SetCurrentIndex(2);
    const std::string host = site.BaseUrl().substr(std::string("http://").size());
    // The load of `path` has finished (not only started).
    QSignalSpy finished(w.浏览框, &QWebEngineView::loadFinished);
    const auto loaded = [&](const std::string& path) {
      const bool ok = WaitFor([&] {
        return !finished.isEmpty() && w.浏览框->url().toString().endsWith(QString::fromStdString(path));
      }, 15000);
      finished.clear();
      return ok;
    };
    finished.clear();
    w.编辑框网址->setText(QString::fromStdString(host + "/page-a?from=enter"));
    QTest::keyClick(w.编辑框网址, Qt::Key_Return);
    QVERIFY(loaded("/page-a?from=enter"));
    QVERIFY(w.浏览框->url().toString().startsWith(QStringLiteral("http://")));

    w.编辑框网址->setText(QString::fromStdString("  " + host + "/page-b?from=button "));
    Click(w.按钮跳到);
    QVERIFY(loaded("/page-b?from=button"));
    Click(w.按钮后退);
    QVERIFY(loaded("/page-a?from=enter"));
    site.ClearLog();
    Click(w.按钮刷新);
    QVERIFY(WaitFor([&] { return !site.Requests().empty(); }, 15000));
    QCOMPARE(QString::fromStdString(site.Requests().front().target), QStringLiteral("/page-a?from=enter"));
  }


  // Geometry and the open tab come back at the next start (section "窗口");
  // Enter in the domain field starts a query.
  void geometryTabAndEnterInTheDomainField() {
    {
      auto app = Start("geometry.ini");
      MainWindow& w = *app->Window();
      w.setGeometry(60, 70, 1100, 700);
      w.选择夹->SetCurrentIndex(1);
      w.close();
    }
    {
      auto app = Start("geometry.ini");
      MainWindow& w = *app->Window();
      QCOMPARE(w.geometry().size(), QSize(1100, 700));
      QCOMPARE(w.选择夹->CurrentIndex(), 1);
      demo::DemoSite& site = *app->Demo();
      site.UpdateOptions([](demo::Options& o) { o.rankPages = 1; });
      w.选择夹->SetCurrentIndex(0);
      w.编辑框域名->setText(QStringLiteral("a.test"));
      QTimer::singleShot(0, [&] { QTest::keyClick(w.编辑框域名, Qt::Key_Return); });
      QVERIFY(WaitFor([&] { return !messages_.empty(); }, 60000));
      QCOMPARE(messages_.back().text, QStringLiteral("查询完成！"));
      QCOMPARE(app->List().RowCount(), static_cast<int>(site.ExpectedRankRows("a.test", 1, "position").size()));
    }
  }

};

int main(int argc, char** argv) {
  lanshu::Application::PrepareGraphics();
  QApplication app(argc, argv);
  WindowTest test;
  return QTest::qExec(&test, argc, argv);
}

#include "window_test.moc"
