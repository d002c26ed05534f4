// Notices of batch runs: the program run as a child process against the demo
// site, with webhook receivers on loopback sockets in this process. The end
// notice arrives before the process exits, in either format, with the rank
// changes read from the history; a receiver that refuses is told on
// standard error.
#include <QDateTime>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>

#include "AppTestSupport.h"
#include "app/NotifyWiring.h"
#include "app/QtText.h"
#include "demo/DemoFaults.h"
#include "demo/DemoSite.h"
#include "history/Comparison.h"
#include "history/HistoryStore.h"
#include "store/ConfigStore.h"
#include "web/TestServers.h"

using namespace lanshu;
using namespace lanshu::testing;

namespace {

struct Ran {
  bool finished = false;
  int code = -1;
  QString err;
};

Ran RunProgram(const QStringList& arguments) {
  QProcess p;
  p.setProcessEnvironment(ChildEnvironment());
  p.start(QStringLiteral(LANSHU_COLLECTOR_EXE), arguments);
  Ran o;
  if (!p.waitForStarted(60000)) return o;
  o.finished = p.waitForFinished(600000) && p.exitStatus() == QProcess::NormalExit;
  if (!o.finished) p.kill(), p.waitForFinished(10000);
  o.code = p.exitCode();
  o.err = QString::fromUtf8(p.readAllStandardError());
  return o;
}

// A receiver that answers every request 200 and keeps it.
RawServer Receiver() {
  return RawServer([](int fd, RawServer& server) {
    if (!server.ReadRequest(fd).empty()) WriteAll(fd, HttpResponse("200 OK", "", "{\"errcode\":0}"));
  });
}

QByteArray Body(const std::string& request) {
  return QByteArray::fromStdString(request.substr(request.find("\r\n\r\n") + 4));
}

int UnusedPort() {
  QTcpServer server;
  if (!server.listen(QHostAddress::LocalHost, 0)) return 9;
  const int port = server.serverPort();
  server.close();
  return port;
}

void Set(ConfigStore& store, const char* section, const char* key, const QString& value) {
  store.SetSection(G(section));
  store.WriteText(G(key), ControlTextToGbk(value));
}

}  // namespace

class NotifyBatchTest : public QObject {
  Q_OBJECT

  QTemporaryDir dir_;
  demo::DemoSite site_;

  QString Path(const QString& name) { return dir_.path() + QLatin1Char('/') + name; }
  QStringList Batch(const char* kind, const QString& settings, const QString& out) {
    const QString b = QString::fromStdString(site_.BaseUrl());
    return {QStringLiteral("--settings"), settings, QStringLiteral("--batch"), QLatin1String(kind),
            QStringLiteral("--out"), out, QStringLiteral("--rank-site"), b, QStringLiteral("--keyword-site"),
            b + QLatin1Char('/'), QStringLiteral("--search-site"), b};
  }
  // A mining run of one seed, notices to addresses in format.
  QString MiningSettings(const QString& name, const QString& addresses, const QString& format) {
    const QString path = Path(name);
    ConfigStore store;
    if (!store.Open(ToGbk(path))) return QString();
    Set(store, "基本配置_挖掘", "关键词", QStringLiteral("减肥"));
    Set(store, "基本配置_挖掘", "限定数量", QStringLiteral("0"));
    for (const char* key : {"搜索量", "收录量", "优化难度"}) Set(store, "基本配置_挖掘", key, QStringLiteral("真"));
    for (const char* key : {"第一位", "第二位", "自动保存目录", "不同关键词独立保存"})
      Set(store, "基本配置_挖掘", key, QStringLiteral("假"));
    Set(store, "基本配置_挖掘", "关键词间隔", QStringLiteral("0"));
    Set(store, "基本配置_挖掘", "页间隔", QStringLiteral("0"));
    Set(store, "通知", "网址", addresses);
    Set(store, "通知", "格式", format);
    return path;
  }
  static QStringList Lines(const QString& err) { return err.split(QLatin1Char('\n'), Qt::SkipEmptyParts); }

 private slots:
  void initTestCase() {
    QVERIFY(dir_.isValid());
    QVERIFY(site_.Start());
    site_.UpdateOptions([](demo::Options& o) {
      o.keywordPages = 2;
      o.rankPages = 2;
    });
  }
  void cleanupTestCase() { site_.Stop(); }

  void theSettingsAreReadAsSaved() {
    ConfigStore store;
    QVERIFY(store.Open(ToGbk(Path(QStringLiteral("read.ini")))));
    NotifySettings n = LoadNotifySettings(store);
    QVERIFY(n.addresses.empty());
    QVERIFY(n.format == NoticeFormat::kReport);
    QCOMPARE(n.rankChangePlaces, 0);
    Set(store, "通知", "网址", QStringLiteral(" http://a.example/h | |http://b.example/h?key=1 "));
    Set(store, "通知", "格式", QStringLiteral("文本"));
    Set(store, "通知", "排名变化", QStringLiteral(" 3 "));
    // A notice may come while other code has its own section chosen.
    store.SetSection(G("基本参数"));
    n = LoadNotifySettings(store);
    QVERIFY(store.WriteText(G("域名"), "a.test"));
    COMPARE_GBK(store.ReadValue(G("基本参数"), G("域名")), "a.test");
    QCOMPARE(n.addresses, (std::vector<std::string>{"http://a.example/h", "http://b.example/h?key=1"}));
    QVERIFY(n.format == NoticeFormat::kText);
    QCOMPARE(n.rankChangePlaces, 3);
    for (const char* bad : {"x", "-2", "1.5", ""}) {
      Set(store, "通知", "排名变化", QString::fromUtf8(bad));
      QCOMPARE(LoadNotifySettings(store).rankChangePlaces, 0);
    }
    Set(store, "通知", "格式", QStringLiteral("报告"));
    QVERIFY(LoadNotifySettings(store).format == NoticeFormat::kReport);
  }

  void theReportArrivesAtEveryAddressBeforeTheProcessEnds() {
    RawServer a = Receiver();
    RawServer b = Receiver();
    const QString settings = MiningSettings(QStringLiteral("report.ini"),
                                            QString::fromStdString(a.Url("/hook") + " | " + b.Url("/robot?key=1")),
                                            QStringLiteral("报告"));
    const QString report = Path(QStringLiteral("report.json"));
    const Ran o = RunProgram(Batch("mine", settings, Path(QStringLiteral("report.csv")))
                             << QStringLiteral("--report") << report << QStringLiteral("--no-history"));
    QVERIFY2(o.finished && o.code == 0, qPrintable(o.err));
    // Each post was answered before the program went on to exit.
    QCOMPARE(a.Requests().size(), size_t(1));
    QCOMPARE(b.Requests().size(), size_t(1));
    QFile file(report);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray written = file.readAll();
    QVERIFY(written.contains("\"rows\": 16"));
    QCOMPARE(Body(a.Requests()[0]), written);
    QCOMPARE(Body(b.Requests()[0]), written);
    QCOMPARE(QString::fromStdString(RequestHeader(a.Requests()[0], "Content-Type")),
             QStringLiteral("application/json; charset=utf-8"));
    QCOMPARE(QString::fromStdString(RequestTarget(b.Requests()[0])), QStringLiteral("/robot?key=1"));
    // Standard error as without notices: FILE written, the summary.
    const QStringList lines = Lines(o.err);
    QVERIFY2(lines.size() == 2, qPrintable(o.err));
    QVERIFY2(lines.last().startsWith(QStringLiteral("lanshu-collector: done: mine 16 rows")), qPrintable(o.err));
  }

  void theTextTellsTheRankChangesSinceTheDomainsLastFinishedRun() {
    const std::string domain = "a.test";
    std::vector<demo::RankRow> rows;
    for (int page = 1; page <= 2; ++page)
      for (const demo::RankRow& row : site_.ExpectedRankRows(domain, page, "position")) rows.push_back(row);
    QVERIFY(rows.size() >= 12);
    const auto position = [](const demo::RankRow& row) { return history::PositionOf(row.rank); };
    QVERIFY(position(rows[0]) && *position(rows[0]) <= 10 && position(rows[11]) && *position(rows[11]) > 10);

    // The domain's previous run: the first keyword was at 25 and one now
    // gone was at 3; the twelfth was 20 places further down; the rest as now.
    const QString database = Path(QStringLiteral("history.sqlite"));
    {
      history::HistoryStore store;
      QVERIFY2(store.Open(ToGbk(database)), store.LastError().c_str());
      const QDateTime before = QDateTime::currentDateTimeUtc().addSecs(-3600);
      const auto id = store.BeginRun(history::RunKind::kRank, {domain}, "", before);
      QVERIFY(id);
      history::PageRecord page;
      page.target = domain;
      page.page = 1;
      for (std::size_t i = 0; i < rows.size(); ++i) {
        std::string rank = rows[i].rank;
        if (i == 0) rank = "25";
        if (i == 11) rank = std::to_string(*position(rows[11]) + 20);
        page.rankRows.push_back({std::to_string(i + 1), domain, rows[i].keyword, rank, "", "", "", ""});
      }
      page.rankRows.push_back({"99", domain, G("旧词"), "3", "", "", "", ""});
      QVERIFY(store.StorePage(*id, page));
      QVERIFY(store.FinishRun(*id, history::Ending::kFinished, before.addSecs(60)));
    }

    RawServer receiver = Receiver();
    const QString settings = Path(QStringLiteral("rank.ini"));
    {
      ConfigStore store;
      QVERIFY(store.Open(ToGbk(settings)));
      Set(store, "基本参数", "域名", QString::fromStdString(domain));
      Set(store, "基本参数", "排序", QStringLiteral("0"));
      Set(store, "基本配置_挖掘", "自动过滤重复关键字", QStringLiteral("假"));
      Set(store, "基本配置_挖掘", "转换百度链接", QStringLiteral("假"));
      Set(store, "通知", "网址", QString::fromStdString(receiver.Url("/robot")));
      Set(store, "通知", "格式", QStringLiteral("文本"));
      Set(store, "通知", "排名变化", QStringLiteral("5"));
    }
    const Ran o = RunProgram(Batch("rank", settings, Path(QStringLiteral("rank.csv")))
                             << QStringLiteral("--history") << database);
    QVERIFY2(o.finished && o.code == 0, qPrintable(o.err));
    QCOMPARE(receiver.Requests().size(), size_t(1));
    const QByteArray body = Body(receiver.Requests()[0]);
    QJsonParseError error;
    const QJsonObject json = QJsonDocument::fromJson(body, &error).object();
    QVERIFY2(error.error == QJsonParseError::NoError, body.constData());
    QCOMPARE(json.value(QStringLiteral("msgtype")).toString(), QStringLiteral("text"));
    const QString content = json.value(QStringLiteral("text")).toObject().value(QStringLiteral("content")).toString();
    const QString total = QString::number(rows.size());
    QVERIFY2(content.startsWith(QStringLiteral("排名查询完成：a.test\n行数 %1，页数 2（失败 0 页，需登录或验证 0 页）\n用时 ")
                                    .arg(total)),
             qPrintable(content));
    const int p0 = *position(rows[0]), p11 = *position(rows[11]);
    const QString changes = QStringLiteral("\n排名变化：\na.test %1：25 → %2（进入前 10）\na.test %3：%4 → %5（上升 20）\n"
                                           "a.test 旧词：3 → 无（跌出前 10）")
                                .arg(FromGbk(rows[0].keyword))
                                .arg(p0)
                                .arg(FromGbk(rows[11].keyword))
                                .arg(p11 + 20)
                                .arg(p11);
    QVERIFY2(content.endsWith(changes), qPrintable(content));
    QVERIFY2(Lines(o.err).last().startsWith(QStringLiteral("lanshu-collector: done: rank")), qPrintable(o.err));
  }

  // With nobody there, a wall is told when it is met and the run waits it
  // out; a page that fails throttled is told; the end comes last.
  void wallsAndThrottleFailuresAreToldAsTheyHappen() {
    RawServer receiver = Receiver();
    const QString settings = MiningSettings(QStringLiteral("unattended.ini"), QString::fromStdString(receiver.Url("/hook")),
                                            QStringLiteral("文本"));
    {
      ConfigStore store;
      QVERIFY(store.Open(ToGbk(settings)));
      Set(store, "采集可靠性", "等待登录间隔秒", QStringLiteral("1"));
      Set(store, "采集可靠性", "限流最长分钟", QStringLiteral("0"));
    }
    demo::DemoSite site;
    demo::Options options;
    options.keywordPages = 2;
    options.logoutPercent = 100;  // each page's first answer: the login page
    options.faults.push_back({demo::Fault::Kind::kBusy, demo::KeywordFaultPath("减肥", 2)});
    site.SetOptions(options);
    QVERIFY(site.Start());
    const QString b = QString::fromStdString(site.BaseUrl());
    const Ran o = RunProgram({QStringLiteral("--settings"), settings, QStringLiteral("--batch"), QStringLiteral("mine"),
                              QStringLiteral("--out"), Path(QStringLiteral("unattended.csv")), QStringLiteral("--rank-site"),
                              b, QStringLiteral("--keyword-site"), b + QLatin1Char('/'), QStringLiteral("--search-site"), b,
                              QStringLiteral("--no-history"), QStringLiteral("--wait-for-login"), QStringLiteral("5")});
    site.Stop();
    QVERIFY2(o.finished && o.code == 3, qPrintable(o.err));
    const std::vector<std::string> posts = receiver.Requests();
    QStringList bodies;
    for (const std::string& post : posts) bodies << QString::fromUtf8(Body(post));
    // Page 1's wall (page 2 is throttled first), page 2 throttled, the end.
    QVERIFY2(posts.size() == 3, qPrintable(bodies.join('\n')));
    QVERIFY2(bodies[0].contains(QStringLiteral("需要登录：减肥 第 1 页")) &&
                 bodies[0].contains(QStringLiteral("最多等待 5 分钟")),
             qPrintable(bodies[0]));
    QVERIFY2(bodies[1].contains(QStringLiteral("被网站限流：减肥 第 2 页")), qPrintable(bodies[1]));
    QVERIFY2(bodies[2].contains(QStringLiteral("关键词挖掘完成：减肥")), qPrintable(bodies[2]));
    QVERIFY2(o.err.contains(QStringLiteral("lanshu-collector: failed: mine 减肥 page 2: throttled")), qPrintable(o.err));
  }

  void aReceiverThatRefusesIsToldOnceBeforeTheSummary() {
    const QString address = QStringLiteral("http://127.0.0.1:%1/hook").arg(UnusedPort());
    const QString settings = MiningSettings(QStringLiteral("refused.ini"), address + QStringLiteral("?key=SECRET"),
                                            QStringLiteral("文本"));
    const Ran o = RunProgram(Batch("mine", settings, Path(QStringLiteral("refused.csv")))
                             << QStringLiteral("--no-history"));
    // The exit status is the run's.
    QVERIFY2(o.finished && o.code == 0, qPrintable(o.err));
    const QStringList lines = Lines(o.err);
    QVERIFY2(lines.size() == 3, qPrintable(o.err));
    QCOMPARE(lines[1], QStringLiteral("lanshu-collector: notification not sent: connection refused (%1)").arg(address));
    QVERIFY2(lines[2].startsWith(QStringLiteral("lanshu-collector: done: mine")), qPrintable(o.err));
  }
};

QTEST_MAIN(NotifyBatchTest)
#include "notify_batch_test.moc"
