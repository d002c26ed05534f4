// The history tab driven by objectName, with the real browser against the
// demo site started in-process and a history database of the test's own.
#include <QApplication>
#include <QRegularExpression>
#include <QElapsedTimer>
#include <QChart>
#include <QChartView>
#include <QComboBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineSeries>
#include <QPointer>
#include <QSet>
#include <QSignalSpy>
#include <QTimer>
#include <climits>
#include <map>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeWidget>

#include "AppTestSupport.h"
#include "TestSupport.h"
#include "XlsxRead.h"
#include "app/Application.h"
#include "app/Commands.h"
#include "app/HistoryWiring.h"
#include "app/HistoryTab.h"
#include "app/MainWindow.h"
#include "app/QtText.h"
#include "app/ResultListModel.h"
#include "app/Widgets.h"
#include "demo/DemoFaults.h"
#include "demo/DemoSite.h"
#include "history/Comparison.h"
#include "history/HistoryStore.h"
#include "store/ConfigStore.h"
#include "rank/RankQuery.h"
#include "hooks/Events.h"
#include "hooks/MessageBox.h"

using namespace lanshu;
using namespace lanshu::testing;

class HistoryWindowTest : public QObject {
  Q_OBJECT

  QTemporaryDir dir_;
  std::vector<Message> messages_;
  QString saveTo_;

  QString Path(const QString& name) { return dir_.path() + QLatin1Char('/') + name; }

  std::unique_ptr<Application> Start(const QString& name, const QString& db) {
    CommandLine cl;
    cl.settingsFile = Path(name + QStringLiteral(".ini")).toStdString();
    cl.demo = true;
    cl.historyDb = db.toStdString();
    auto app = std::make_unique<Application>(cl);
    if (app->Ok()) {
      MainWindow* w = app->Window();
      w->show();
      WaitFor([w] { return !w->时钟1->isActive(); }, 5000);
      QTest::qWait(800);
    }
    return app;
  }

  // One rank query to its end notice.
  bool RunRank(Application& app, const QString& domains) {
    MainWindow& w = *app.Window();
    w.编辑框域名->setText(domains);
    messages_.clear();
    QTest::mouseClick(w.按钮开始采集, Qt::LeftButton);
    return WaitFor([&] { return !messages_.empty() && w.按钮开始采集->text() == QStringLiteral("开始采集"); }, 60000);
  }

  QByteArray ExportRankList(MainWindow& w, const QString& name) {
    saveTo_ = Path(name);
    QTest::mouseClick(w.按钮导出, Qt::LeftButton);
    return ReadFile(saveTo_);
  }

  template <typename T>
  static T* Child(MainWindow& w, const char* name) {
    return w.findChild<T*>(QString::fromUtf8(name));
  }

 private slots:
  void initTestCase() {
    QVERIFY(dir_.isValid());
    SetEventPump([] { QCoreApplication::processEvents(); }, 5);
    SetMessageBoxHook([this](const std::string& text, int flags, const std::string& title) {
      messages_.push_back(Message{FromGbk(title), FromGbk(text), flags});
      return kIdOk;
    });
    SetSaveFileHook([this](QWidget*, const SaveDialogSpec&) { return saveTo_; });
  }

  void tabChartsComparesAndReloadsTwoRankRuns() {
    auto app = Start(QStringLiteral("two"), Path(QStringLiteral("two.sqlite")));
    QVERIFY(app->Ok());
    demo::DemoSite& site = *app->Demo();
    MainWindow& w = *app->Window();
    site.UpdateOptions([](demo::Options& o) {
      o.rankPages = 2;
      o.rankRowsPerPage = 6;
    });
    // The rank cells as the list shows them, run by run.
    const auto rankCells = [&app](int column = 3) {
      std::vector<std::string> cells;
      for (int r = 0; r < app->List().RowCount(); ++r) cells.push_back(app->List().CellText(r, column));
      return cells;
    };
    // The history is written on a thread of its own: each run is there once
    // its ending is stored.
    QSignalSpy stored(&app->History(), &HistoryWiring::runStored);
    QVERIFY(RunRank(*app, QStringLiteral("a.test")));
    const std::vector<std::string> firstRanks = rankCells(), firstKeywords = rankCells(2);
    const QByteArray firstExport = ExportRankList(w, QStringLiteral("first.csv"));
    QCOMPARE(app->List().RowCount(), 12);
    site.UpdateOptions([](demo::Options& o) { o.rankPages = 1; });  // page 2's keywords are lost
    QVERIFY(RunRank(*app, QStringLiteral("a.test")));
    QCOMPARE(app->List().RowCount(), 6);
    const std::vector<std::string> secondRanks = rankCells(), secondKeywords = rankCells(2);

    QVERIFY(WaitFor([&] { return stored.count() == 2; }, 10000));
    // Nothing is read before the tab is looked at.
    QVERIFY(!app->HistoryView().Loaded());
    QCOMPARE(w.选择夹->Bar()->count(), 6);
    QCOMPARE(w.选择夹->Bar()->tabText(4), QStringLiteral("历史记录"));
    w.选择夹->SetCurrentIndex(4);
    QVERIFY(app->HistoryView().Loaded());

    auto* runs = Child<QTreeWidget>(w, "列表框历史");
    QVERIFY(runs && runs->isVisible());
    QCOMPARE(runs->topLevelItemCount(), 2);
    const QStringList newest = {runs->topLevelItem(0)->text(2), runs->topLevelItem(0)->text(3),
                                runs->topLevelItem(0)->text(4), runs->topLevelItem(0)->text(5),
                                runs->topLevelItem(0)->text(6)};
    QCOMPARE(newest, QStringList({"排名", "a.test", "6", "0", "完成"}));
    QCOMPARE(runs->topLevelItem(1)->text(4), QStringLiteral("12"));

    auto* domains = Child<QComboBox>(w, "组合框历史域名");
    QCOMPARE(domains->count(), 1);
    QCOMPARE(domains->currentText(), QStringLiteral("a.test"));

    // The chart: one point per run on each line, counted from the rows.
    auto* chart = Child<QChartView>(w, "图表历史");
    const QList<QAbstractSeries*> series = chart->chart()->series();
    QCOMPARE(series.size(), 4);
    const auto buckets = [](const std::vector<std::string>& ranks) {
      std::array<int, 4> counts{};
      for (const std::string& rank : ranks) {
        const std::optional<int> p = history::PositionOf(rank);
        ++counts[0];
        ++counts[!p || *p > 50 ? 3 : *p <= 10 ? 1 : 2];
      }
      return counts;
    };
    const std::array<int, 4> older = buckets(firstRanks), newer = buckets(secondRanks);
    for (int line = 0; line < 4; ++line) {
      auto* s = qobject_cast<QLineSeries*>(series[line]);
      QVERIFY(s);
      QCOMPARE(s->count(), 2);
      QCOMPARE(int(s->at(0).y()), older[line]);
      QCOMPARE(int(s->at(1).y()), newer[line]);
    }
    QCOMPARE(series[0]->name(), QStringLiteral("关键字数"));

    // The comparison of the two, keyword by keyword from what the list held.
    const auto best = [](const std::vector<std::string>& keywords, const std::vector<std::string>& ranks) {
      std::map<QString, int> positions;  // none: INT_MAX
      for (size_t i = 0; i < keywords.size(); ++i) {
        const int p = history::PositionOf(ranks[i]).value_or(INT_MAX);
        auto [it, added] = positions.emplace(FromGbk(keywords[i]), p);
        if (!added) it->second = std::min(it->second, p);
      }
      return positions;
    };
    const std::map<QString, int> before = best(firstKeywords, firstRanks), after = best(secondKeywords, secondRanks);
    QSet<QString> all;
    for (const auto& [k, p] : before) all << k;
    for (const auto& [k, p] : after) all << k;
    QTest::mouseClick(Child<QPushButton>(w, "按钮比较"), Qt::LeftButton);
    auto* table = Child<QTableView>(w, "表格比较");
    QAbstractItemModel* m = table->model();
    QCOMPARE(m->rowCount(), all.size());
    QStringList header;
    for (int c = 0; c < m->columnCount(); ++c) header << m->headerData(c, Qt::Horizontal).toString();
    QCOMPARE(header.join(QLatin1Char(',')), QStringLiteral("关键字,旧排名,新排名,变化,搜索量"));
    int lost = 0;
    for (int r = 0; r < m->rowCount(); ++r) {
      const QString keyword = m->index(r, 0).data().toString();
      const auto o = before.find(keyword), n = after.find(keyword);
      const QString change = o == before.end()   ? QStringLiteral("新增")
                             : n == after.end()  ? QStringLiteral("消失")
                             : n->second < o->second ? QStringLiteral("上升")
                             : n->second > o->second ? QStringLiteral("下降")
                                                     : QStringLiteral("不变");
      QCOMPARE(m->index(r, 3).data().toString(), change);
      lost += change == QStringLiteral("消失");
    }
    QVERIFY(lost > 0);

    // Sorting by clicking the 变化 header, then exporting what is shown.
    QHeaderView* h = table->horizontalHeader();
    QTest::mouseClick(h->viewport(), Qt::LeftButton, {}, QPoint(h->sectionViewportPosition(3) + 5, h->height() / 2));
    QCOMPARE(h->sortIndicatorSection(), 3);
    // 变化 sorts as 新增, 上升, 下降, 不变, 消失.
    const QStringList order = {"新增", "上升", "下降", "不变", "消失"};
    const int step = h->sortIndicatorOrder() == Qt::AscendingOrder ? 1 : -1;
    for (int r = 1; r < m->rowCount(); ++r)
      QVERIFY(step * (order.indexOf(m->index(r, 3).data().toString()) - order.indexOf(m->index(r - 1, 3).data().toString())) >= 0);
    saveTo_ = Path(QStringLiteral("comparison.csv"));
    QTest::mouseClick(Child<QPushButton>(w, "按钮导出比较"), Qt::LeftButton);
    const QStringList lines = FromGbk(ReadFile(saveTo_).toStdString()).split(QStringLiteral("\r\n"));
    QCOMPARE(lines.size(), m->rowCount() + 1);
    QCOMPARE(lines[0], QStringLiteral("关键字,旧排名,新排名,变化,搜索量"));
    for (int r = 0; r < m->rowCount(); ++r) QVERIFY(lines[r + 1].startsWith(m->index(r, 0).data().toString()));
    // The same as a workbook, in the order shown.
    const QString csvFile = saveTo_;
    saveTo_ = Path(QStringLiteral("comparison.xlsx"));
    QTest::mouseClick(Child<QPushButton>(w, "按钮导出比较"), Qt::LeftButton);
    const lanshu::testing::XlsxBook book = lanshu::testing::ReadXlsx(saveTo_.toStdString());
    QVERIFY2(book.error.empty(), book.error.c_str());
    std::vector<std::vector<std::string>> records;
    QVERIFY(lanshu::testing::ReadCsv(ReadFile(csvFile).toStdString(), records));
    QCOMPARE(lanshu::testing::CellsDifferFromCsv(book, records), std::string());
    QCOMPARE(book.sheets, std::vector<std::string>{"排名变化"});

    // The domain's whole history: one line per run and keyword, the older
    // run first.
    saveTo_ = Path(QStringLiteral("history.csv"));
    QTest::mouseClick(Child<QPushButton>(w, "按钮导出全部历史"), Qt::LeftButton);
    const QStringList long_ = FromGbk(ReadFile(saveTo_).toStdString()).split(QStringLiteral("\r\n"));
    QCOMPARE(long_.value(0), QStringLiteral("日期,域名,关键字,排名,位置,搜索量,收录量,网页标题,链接"));
    QCOMPARE(long_.size(), 1 + int(before.size() + after.size()));
    QCOMPARE(long_.value(1).section(QLatin1Char(','), 2, 2), FromGbk(firstKeywords.front()));
    QCOMPARE(Child<QLabel>(w, "标签历史提示")->text(),
             QStringLiteral("已导出 %1 行").arg(before.size() + after.size()));

    // The first run back in the rank list exports as it did when fresh.
    runs->setCurrentItem(runs->topLevelItem(1));
    QTest::mouseClick(Child<QPushButton>(w, "按钮载入到排名列表"), Qt::LeftButton);
    QCOMPARE(app->List().RowCount(), 12);
    QCOMPARE(ExportRankList(w, QStringLiteral("reloaded.csv")), firstExport);
    // A third run shows up in the open tab.
    QVERIFY(RunRank(*app, QStringLiteral("a.test")));
    QVERIFY(WaitFor([&] { return runs->topLevelItemCount() == 3; }, 5000));
  }

  // 重试失败页 is a run of its own, shown under the run it continues, whose
  // ending and counts stay as they were.
  void aRetryIsShownUnderTheRunItContinues() {
    auto app = Start(QStringLiteral("retry"), Path(QStringLiteral("retry.sqlite")));
    QVERIFY(app->Ok());
    demo::DemoSite& site = *app->Demo();
    demo::Options o = site.GetOptions();
    o.rankPages = 2;
    o.rankRowsPerPage = 3;
    QVERIFY(demo::ParseDemoFaults("rank:r.test:2=500", o));
    site.SetOptions(o);
    app->Rank().reliability.retries = 0;
    MainWindow& w = *app->Window();
    QSignalSpy stored(&app->History(), &HistoryWiring::runStored);
    QVERIFY(RunRank(*app, QStringLiteral("r.test")));
    QCOMPARE(app->List().RowCount(), 3);
    o.rankPages = 2;
    o.faults.clear();
    site.SetOptions(o);
    messages_.clear();
    w.handlers.retryFailedPages();
    QVERIFY(WaitFor([&] { return !messages_.empty(); }, 30000));
    QCOMPARE(app->List().RowCount(), 6);
    QVERIFY(WaitFor([&] { return stored.count() == 2; }, 10000));
    w.选择夹->SetCurrentIndex(4);
    auto* runs = Child<QTreeWidget>(w, "列表框历史");
    QCOMPARE(runs->topLevelItemCount(), 1);
    QTreeWidgetItem* first = runs->topLevelItem(0);
    QCOMPARE(first->text(4), QStringLiteral("3"));
    QCOMPARE(first->text(5), QStringLiteral("1"));
    QCOMPARE(first->text(6), QStringLiteral("完成"));
    QCOMPARE(first->childCount(), 1);
    QCOMPARE(first->child(0)->text(4), QStringLiteral("3"));
    QCOMPARE(first->child(0)->text(5), QStringLiteral("0"));
    QVERIFY(first->child(0)->text(0).toLongLong() > first->text(0).toLongLong());
  }

  // Closing the window mid-run is a Stop: the history keeps the run as
  // stopped, so the comparison never takes a cut-off run for a finished one.
  void closingMidRunKeepsTheRunStopped() {
    const QString db = Path(QStringLiteral("close.sqlite"));
    {
      auto app = Start(QStringLiteral("close"), db);
      QVERIFY(app->Ok());
      app->Demo()->UpdateOptions([](demo::Options& o) { o.rankPages = 20; });
      MainWindow& w = *app->Window();
      QPointer<MainWindow> guard(&w);
      w.编辑框域名->setText(QStringLiteral("a.test"));
      messages_.clear();
      QTimer poll;
      connect(&poll, &QTimer::timeout, [&] {
        if (guard && guard->StatusText().contains(QStringLiteral("当前页：2"))) {
          poll.stop();
          guard->close();
        }
      });
      poll.start(20);
      QTimer::singleShot(0, [&] { QTest::mouseClick(w.按钮开始采集, Qt::LeftButton); });
      QVERIFY(WaitFor([&] { return !guard || !guard->isVisible(); }, 60000));
      QVERIFY(messages_.empty());  // no notice once the window is gone
    }
    history::HistoryStore store;
    QVERIFY(store.Open(ToGbk(db)));
    const auto runs = store.ListRuns();
    QVERIFY(runs && runs->size() == 1);
    QCOMPARE(history::EndingName(runs->front().ending), "stopped");
  }

  // A rank run stopped by closing the window at its second page.
  void CloseAtPageTwo(const QString& name, const QString& db) {
    auto app = Start(name, db);
    QVERIFY(app->Ok());
    app->Demo()->UpdateOptions([](demo::Options& o) { o.rankPages = 4; });
    MainWindow& w = *app->Window();
    QPointer<MainWindow> guard(&w);
    w.编辑框域名->setText(QStringLiteral("a.test|b.test"));
    QTimer poll;
    connect(&poll, &QTimer::timeout, [&] {
      if (guard && guard->StatusText().contains(QStringLiteral("当前页：2"))) {
        poll.stop();
        guard->close();
      }
    });
    poll.start(20);
    QTimer::singleShot(0, [&] { QTest::mouseClick(w.按钮开始采集, Qt::LeftButton); });
    QVERIFY(WaitFor([&] { return !guard || !guard->isVisible(); }, 60000));
  }

  // At start-up a run that did not finish is offered: 继续 collects what it
  // lacks, and the list is the list of a run never stopped; 放弃 ends it for
  // good. Neither is offered again.
  void anUnfinishedRunIsOfferedAndGoesOnOrIsGivenUp() {
    const QString db = Path(QStringLiteral("offer.sqlite"));
    CloseAtPageTwo(QStringLiteral("offer"), db);
    QByteArray resumed;
    {
      auto app = Start(QStringLiteral("offer"), db);
      QVERIFY(app->Ok());
      app->Demo()->UpdateOptions([](demo::Options& o) { o.rankPages = 4; });
      MainWindow& w = *app->Window();
      QVERIFY(WaitFor([&] { return w.继续提示条->isVisible(); }, 10000));
      QCOMPARE(w.继续提示文字->text(), QStringLiteral("上次的排名查询没有完成。"));
      QVERIFY2(w.按钮继续上次->text().startsWith(QStringLiteral("继续上次的采集（已完成 ")), qPrintable(w.按钮继续上次->text()));
      QVERIFY2(w.按钮继续上次->text().endsWith(QStringLiteral("/5 页）")), qPrintable(w.按钮继续上次->text()));
      messages_.clear();
      QTest::mouseClick(w.按钮继续上次, Qt::LeftButton);
      QVERIFY(!w.继续提示条->isVisible());
      QVERIFY(WaitFor([&] { return !messages_.empty() && w.按钮开始采集->text() == QStringLiteral("开始采集"); }, 60000));
      QCOMPARE(messages_.back().text, QStringLiteral("查询完成！"));
      resumed = ExportRankList(w, QStringLiteral("resumed.csv"));
      // The same run, never stopped.
      QVERIFY(RunRank(*app, QStringLiteral("a.test|b.test")));
      // Each start has its demo site on a port of its own.
      auto withoutPort = [](QByteArray text) {
        return QString::fromLatin1(text).replace(QRegularExpression(QStringLiteral("127\\.0\\.0\\.1:\\d+")), QStringLiteral("demo"));
      };
      QCOMPARE(withoutPort(resumed), withoutPort(ExportRankList(w, QStringLiteral("whole.csv"))));
    }
    {
      history::HistoryStore store;
      QVERIFY(store.Open(ToGbk(db)));
      QCOMPARE(history::EndingName(store.Run(1)->ending), "finished");
    }
    {
      auto app = Start(QStringLiteral("offer"), db);
      QTest::qWait(300);
      QVERIFY(!app->Window()->继续提示条->isVisible());
    }

    const QString other = Path(QStringLiteral("give-up.sqlite"));
    CloseAtPageTwo(QStringLiteral("give-up"), other);
    {
      auto app = Start(QStringLiteral("give-up"), other);
      MainWindow& w = *app->Window();
      QVERIFY(WaitFor([&] { return w.继续提示条->isVisible(); }, 10000));
      QTest::mouseClick(w.按钮放弃, Qt::LeftButton);
      QVERIFY(!w.继续提示条->isVisible());
    }
    {
      auto app = Start(QStringLiteral("give-up"), other);
      QTest::qWait(300);
      QVERIFY(!app->Window()->继续提示条->isVisible());
    }
    history::HistoryStore store;
    QVERIFY(store.Open(ToGbk(other)));
    QCOMPARE(history::EndingName(store.Run(1)->ending), "abandoned");
  }

  // 1,000,000 rank rows: 200 runs over 10 domains, 250 pages of 20 rows.
  void tabOpensQuicklyOnABigStore() {
    const QString db = Path(QStringLiteral("big.sqlite"));
    {
      history::HistoryStore store;
      QVERIFY(store.Open(ToGbk(db)));
      const QDateTime t0(QDate(2026, 1, 1), QTime(0, 0), Qt::UTC);
      for (int run = 0; run < 200; ++run) {
        const std::string domain = "site" + std::to_string(run % 10) + ".test";
        const auto id = store.BeginRun(history::RunKind::kRank, {domain}, "", t0.addSecs(3600 * run));
        QVERIFY(id);
        for (int page = 1; page <= 250; ++page) {
          history::PageRecord p;
          p.target = domain;
          p.page = page;
          for (int i = 0; i < 20; ++i) {
            const int position = (page - 1) * 20 + i + 1 + run % 7;
            p.rankRows.push_back({std::to_string(position), domain, "kw" + std::to_string((page * 20 + i) * 7 % 5003),
                                  std::to_string(position), "100", "10", "t", "http://x/"});
          }
          QVERIFY(store.StorePage(*id, p));
        }
        QVERIFY(store.FinishRun(*id, history::Ending::kFinished, t0.addSecs(3600 * run + 600)));
      }
    }
    auto app = Start(QStringLiteral("big"), db);
    QVERIFY(app->Ok());
    MainWindow& w = *app->Window();
    QElapsedTimer t;
    t.start();
    w.选择夹->SetCurrentIndex(4);
    w.repaint();  // drawn, chart and list included
    QCoreApplication::processEvents();
    const qint64 ms = t.elapsed();
    QVERIFY(app->HistoryView().Loaded());
    QCOMPARE(Child<QTreeWidget>(w, "列表框历史")->topLevelItemCount(), 200);
    QCOMPARE(qobject_cast<QLineSeries*>(Child<QChartView>(w, "图表历史")->chart()->series()[0])->count(), 20);
    // The figure is for the record; the time itself is not asserted.
    qInfo("history tab opened on 1,000,000 rank rows in %lld ms", ms);
  }

  void aFailingStoreSaysSoOnceInTheStatusBar() {
    QFile junk(Path(QStringLiteral("junk.sqlite")));
    QVERIFY(junk.open(QIODevice::WriteOnly));
    junk.write(QByteArray(8192, 'x'));
    junk.close();
    auto app = Start(QStringLiteral("junk"), junk.fileName());
    QVERIFY(app->Ok());
    app->Demo()->UpdateOptions([](demo::Options& o) {
      o.rankPages = 2;
      o.rankRowsPerPage = 3;
    });
    MainWindow& w = *app->Window();
    QVERIFY(RunRank(*app, QStringLiteral("b.test")));
    QCOMPARE(app->List().RowCount(), 6);
    QCOMPARE(messages_.size(), size_t(1));
    QCOMPARE(messages_[0].text, QStringLiteral("查询完成！"));
    auto* note = Child<QLabel>(w, "历史状态");
    QVERIFY(note && note->isVisible());
    // The program's own words in Chinese; the driver's text after 原因.
    QVERIFY2(note->text().startsWith(QStringLiteral("历史记录未保存：无法读取数据库，原因：")), qPrintable(note->text()));
    // The tab says why it shows nothing.
    w.选择夹->SetCurrentIndex(4);
    QCOMPARE(Child<QTreeWidget>(w, "列表框历史")->topLevelItemCount(), 0);
    QVERIFY(Child<QLabel>(w, "标签历史提示")->text().startsWith(QStringLiteral("历史记录无法打开：无法读取数据库，原因：")));

    // The file gone, the next run opens a new one and is kept.
    QVERIFY(QFile::remove(junk.fileName()));
    w.选择夹->SetCurrentIndex(0);
    QVERIFY(RunRank(*app, QStringLiteral("b.test")));
    QVERIFY(note->isHidden());
    w.选择夹->SetCurrentIndex(4);
    // The open tab lists the run again once its ending is stored.
    auto* runs = Child<QTreeWidget>(w, "列表框历史");
    QVERIFY(WaitFor([&] { return runs->topLevelItemCount() == 1 && runs->topLevelItem(0)->text(6) == QStringLiteral("完成"); }, 10000));
    QCOMPARE(runs->topLevelItem(0)->text(4), QStringLiteral("6"));

    // Saving the settings writes the section with its defaults; --history
    // is for this session only and stays out of the file.
    w.handlers.saveSettingsCommand();
    ConfigStore saved;
    QVERIFY(saved.Load(ToGbk(Path(QStringLiteral("junk.ini"))), true));
    saved.SetSection(G("历史记录"));
    COMPARE_GBK(saved.ReadText(G("保存历史"), "?"), G("真"));
    COMPARE_GBK(saved.ReadText(G("数据库"), "?"), "");
  }
};

int main(int argc, char** argv) {
  lanshu::Application::PrepareGraphics();
  QApplication app(argc, argv);
  HistoryWindowTest test;
  return QTest::qExec(&test, argc, argv);
}
#include "history_window_test.moc"
