// Runs killed with SIGKILL at random moments and resumed until done, runs
// shared by several processes (one of them killed midway), and the export
// of a stored run: the program itself as child processes, against the demo
// site started here, compared byte for byte with a run never interrupted.
#include <random>

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include "AppTestSupport.h"
#include "app/QtText.h"
#include "demo/DemoSite.h"
#include "store/ConfigStore.h"

using namespace lanshu;
using namespace lanshu::testing;

namespace {

struct Ran {
  bool ended = false;  // by itself, not killed
  int code = -1;
  QString err;
};

// Starts the program; kills it with SIGKILL after killAfterMs unless it
// ended first (negative: never).
Ran RunOrKill(const QStringList& arguments, int killAfterMs) {
  QProcess p;
  p.setProcessEnvironment(ChildEnvironment());
  p.start(QStringLiteral(LANSHU_COLLECTOR_EXE), arguments);
  Ran o;
  if (!p.waitForStarted(60000)) return o;
  if (p.waitForFinished(killAfterMs < 0 ? 600000 : killAfterMs)) {
    o.ended = p.exitStatus() == QProcess::NormalExit;
    o.code = p.exitCode();
  } else {
    p.kill();
    p.waitForFinished(30000);
  }
  o.err = QString::fromUtf8(p.readAllStandardError());
  return o;
}

QByteArray Bytes(const QString& path) {
  QFile f(path);
  return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

// The result files of a folder by what their name holds before the time:
// "全部结果" or the seed.
std::map<QString, QByteArray> ResultFiles(const QString& folder) {
  std::map<QString, QByteArray> files;
  for (const QString& name : QDir(folder).entryList(QDir::Files, QDir::Name)) {
    const QString stem = name.left(name.lastIndexOf(QLatin1Char('_')));
    if (files.count(stem)) files[stem] += "<second file>";
    files[stem] += Bytes(folder + QLatin1Char('/') + name);
  }
  return files;
}

// The report's pages without what a resumed run may count otherwise (times,
// attempts), and its status and rows.
QString ReportFacts(const QString& path) {
  const QJsonObject report = QJsonDocument::fromJson(Bytes(path)).object();
  QStringList facts{QString::number(report.value(QStringLiteral("status")).toInt()),
                    QString::number(report.value(QStringLiteral("rows")).toInt())};
  for (const QJsonValue& v : report.value(QStringLiteral("pages")).toArray()) {
    const QJsonObject page = v.toObject();
    facts << page.value(QStringLiteral("target")).toString() + QLatin1Char(':') +
                 QString::number(page.value(QStringLiteral("page")).toInt()) + QLatin1Char(':') +
                 page.value(QStringLiteral("outcome")).toString() + QLatin1Char(':') +
                 QString::number(page.value(QStringLiteral("rows")).toInt());
  }
  return facts.join(QLatin1Char(' '));
}

class Settings {
 public:
  explicit Settings(const QString& path) { ok = store_.Open(ToGbk(path)); }
  Settings& Set(const char* section, const char* key, const QString& value) {
    store_.SetSection(G(section));
    store_.WriteText(G(key), ControlTextToGbk(value));
    return *this;
  }
  bool ok = false;

 private:
  ConfigStore store_;
};

}  // namespace

class ResumeTest : public QObject {
  Q_OBJECT

  QTemporaryDir dir_;
  demo::DemoSite site_;
  std::mt19937 random_{20261209};

  QString Path(const QString& name) const { return dir_.path() + QLatin1Char('/') + name; }

  // A settings file of the mining tab: seeds, every metric but one, no
  // pauses, result files in folder.
  QString MiningSettings(const QString& name, const QString& folder, bool perSeed, int limit) {
    const QString path = Path(name + QStringLiteral(".ini"));
    Settings s(path);
    s.Set("基本配置_挖掘", "关键词", QStringLiteral("减肥\r\n丰胸\r\n英语\r\n旅游\r\n手机\r\n汽车\r\n考研\r\n装修"))
        .Set("基本配置_挖掘", "限定数量", QString::number(limit))
        .Set("基本配置_挖掘", "第二位", QStringLiteral("假"))
        .Set("基本配置_挖掘", "自动保存目录", QStringLiteral("真"))
        .Set("基本配置_挖掘", "不同关键词独立保存", perSeed ? QStringLiteral("真") : QStringLiteral("假"))
        .Set("基本配置_挖掘", "保存目录", folder + QLatin1Char('/'))
        .Set("基本配置_挖掘", "扩展名", QStringLiteral("csv"))
        .Set("基本配置_挖掘", "页间隔", QStringLiteral("0"))
        .Set("基本配置_挖掘", "关键词间隔", QStringLiteral("0"))
        .Set("采集可靠性", "租约秒", QStringLiteral("5"));
    return path;
  }
  QString RankSettings(const QString& name) {
    const QString path = Path(name + QStringLiteral(".ini"));
    Settings(path)
        .Set("基本参数", "域名", QStringLiteral("a.demo|b.demo|c.demo|d.demo"))
        .Set("基本参数", "排序", QStringLiteral("1"))
        .Set("基本参数", "导出模式", QStringLiteral("0"))
        .Set("基本配置_挖掘", "自动过滤重复关键字", QStringLiteral("真"))
        .Set("基本配置_挖掘", "转换百度链接", QStringLiteral("真"))
        .Set("采集可靠性", "租约秒", QStringLiteral("5"));
    return path;
  }
  QStringList Arguments(const char* kind, const QString& settings, const QString& history, const QString& out) {
    const QString base = QString::fromStdString(site_.BaseUrl());
    return {QStringLiteral("--settings"), settings, QStringLiteral("--history"), history,
            QStringLiteral("--batch"), QLatin1String(kind), QStringLiteral("--out"), out,
            QStringLiteral("--report"), out + QStringLiteral(".json"), QStringLiteral("--rank-site"), base,
            QStringLiteral("--keyword-site"), base + QLatin1Char('/'), QStringLiteral("--search-site"), base};
  }

  // Kills a run with --resume ten times or more at random moments between
  // lowMs and highMs after its start, then lets it end; the exit status.
  int KilledAndResumed(const QStringList& arguments, int lowMs, int highMs, int& kills) {
    std::uniform_int_distribution<int> moment(lowMs, highMs);
    kills = 0;
    for (int lives = 0; lives < 80; ++lives) {
      const Ran o = RunOrKill(arguments + QStringList{QStringLiteral("--resume")}, kills < 10 ? moment(random_) : -1);
      if (o.ended) return o.code;
      ++kills;
    }
    return -1;
  }

  // The same run never interrupted, and killed and resumed: FILE, the
  // report and the result files are the same.
  void CompareWithUninterrupted(const char* kind, const QString& settingsA, const QString& settingsB,
                                const QString& folderA, const QString& folderB, int lowMs, int highMs) {
    const QString outA = Path(QLatin1String(kind) + QStringLiteral("-a.csv"));
    const QString outB = Path(QLatin1String(kind) + QStringLiteral("-b.csv"));
    const Ran whole = RunOrKill(Arguments(kind, settingsA, Path(QStringLiteral("a.sqlite")), outA), -1);
    QVERIFY2(whole.ended && whole.code == 0, qPrintable(whole.err));
    int kills = 0;
    const int code = KilledAndResumed(Arguments(kind, settingsB, Path(QStringLiteral("b.sqlite")), outB), lowMs,
                                      highMs, kills);
    QCOMPARE(code, 0);
    QVERIFY(kills >= 10);
    QCOMPARE(Bytes(outB), Bytes(outA));
    QCOMPARE(ReportFacts(outB + QStringLiteral(".json")), ReportFacts(outA + QStringLiteral(".json")));
    if (!folderA.isEmpty()) QCOMPARE(ResultFiles(folderB), ResultFiles(folderA));
  }

 private slots:
  void initTestCase() {
    QVERIFY(dir_.isValid());
    QVERIFY(site_.Start());
  }
  void cleanupTestCase() { site_.Stop(); }
  void init() {
    demo::Options slow;
    slow.delayMs = 150;  // so that kills land while pages are asked
    slow.keywordPages = 5;
    site_.SetOptions(slow);
    for (const QString& file : QDir(dir_.path()).entryList({QStringLiteral("*.sqlite*")}, QDir::Files))
      QFile::remove(Path(file));
  }

  void aKilledMiningRunGoesOnToTheSameResult_data() {
    QTest::addColumn<bool>("perSeed");
    QTest::addColumn<int>("limit");
    QTest::newRow("one file") << false << 0;
    QTest::newRow("a file per seed, 20 lines each") << true << 20;
  }
  void aKilledMiningRunGoesOnToTheSameResult() {
    QFETCH(bool, perSeed);
    QFETCH(int, limit);
    const QString tag = QString::fromLatin1(QTest::currentDataTag()).replace(QLatin1Char(' '), QLatin1Char('_'));
    const QString folderA = Path(tag + QStringLiteral("-a")), folderB = Path(tag + QStringLiteral("-b"));
    CompareWithUninterrupted("mine", MiningSettings(QStringLiteral("ma"), folderA, perSeed, limit),
                             MiningSettings(QStringLiteral("mb"), folderB, perSeed, limit), folderA, folderB, 200, 900);
  }

  void aKilledRankRunGoesOnToTheSameResult() {
    CompareWithUninterrupted("rank", RankSettings(QStringLiteral("ra")), RankSettings(QStringLiteral("rb")), QString(),
                             QString(), 600, 2500);
  }

  void threeProcessesShareARunAndOneIsKilled_data() {
    QTest::addColumn<bool>("server");
    QTest::newRow("one SQLite file") << false;
    QTest::newRow("a PostgreSQL server") << true;
  }
  // Three processes share one run in one database; one is killed midway and
  // started again. Each writes the whole result, and the result files are
  // written once.
  void threeProcessesShareARunAndOneIsKilled() {
    QFETCH(bool, server);
    QString database = Path(QStringLiteral("b.sqlite")), why;
    if (server) database = FreshPostgresqlDatabase(QStringLiteral("lanshu_shared_%1").arg(QCoreApplication::applicationPid()), why);
    QVERIFY2(!database.isEmpty(), qPrintable(why));
    QDir(Path(QStringLiteral("shared-a"))).removeRecursively();
    QDir(Path(QStringLiteral("shared-b"))).removeRecursively();
    const QString folderA = Path(QStringLiteral("shared-a")), folderB = Path(QStringLiteral("shared-b"));
    const QString outA = Path(QStringLiteral("shared-a.csv"));
    const Ran whole = RunOrKill(
        Arguments("mine", MiningSettings(QStringLiteral("sa"), folderA, false, 0), Path(QStringLiteral("a.sqlite")), outA),
        -1);
    QVERIFY2(whole.ended && whole.code == 0, qPrintable(whole.err));

    const QString settings = MiningSettings(QStringLiteral("sb"), folderB, false, 0);
    auto arguments = [&](int n) {
      return Arguments("mine", settings, database, Path(QStringLiteral("shared-%1.csv").arg(n))) +
             QStringList{QStringLiteral("--campaign"), QStringLiteral("week 50")};
    };
    std::vector<std::unique_ptr<QProcess>> processes;
    for (int n = 0; n < 3; ++n) {
      processes.push_back(std::make_unique<QProcess>());
      processes.back()->setProcessEnvironment(ChildEnvironment());
      processes.back()->start(QStringLiteral(LANSHU_COLLECTOR_EXE), arguments(n));
    }
    QTest::qWait(1500);
    QCOMPARE(processes[0]->state(), QProcess::Running);
    processes[0]->kill();
    processes[0]->waitForFinished(30000);
    processes[0]->start(QStringLiteral(LANSHU_COLLECTOR_EXE), arguments(0));
    for (auto& p : processes) {
      QVERIFY(p->waitForFinished(300000));
      QVERIFY2(p->exitStatus() == QProcess::NormalExit && p->exitCode() == 0, p->readAllStandardError().constData());
    }
    for (int n = 0; n < 3; ++n) QCOMPARE(Bytes(Path(QStringLiteral("shared-%1.csv").arg(n))), Bytes(outA));
    QCOMPARE(ResultFiles(folderB), ResultFiles(folderA));

    // A process that joins the ended run asks for nothing and writes it all.
    site_.ClearLog();
    const Ran late = RunOrKill(arguments(3), -1);
    QVERIFY2(late.ended && late.code == 0, qPrintable(late.err));
    QCOMPARE(Bytes(Path(QStringLiteral("shared-3.csv"))), Bytes(outA));
    // The user page, and the browser engine's own icon request for it, at
    // times: no page of the run.
    for (const demo::LoggedRequest& r : site_.Requests())
      QVERIFY2(r.path == "/user.php" || r.path == "/favicon.ico", r.target.c_str());
  }

  // A stored run written out again: the same bytes as the run's own FILE;
  // a run the history lacks writes nothing.
  void aStoredRunIsExportedAsItsRunWroteIt() {
    const QString out = Path(QStringLiteral("x.csv"));
    const QString history = Path(QStringLiteral("x.sqlite"));
    const Ran run = RunOrKill(Arguments("mine", MiningSettings(QStringLiteral("x"), Path(QStringLiteral("x")), false, 0),
                                        history, out),
                              -1);
    QVERIFY2(run.ended && run.code == 0, qPrintable(run.err));
    const QString again = Path(QStringLiteral("x-again.csv"));
    const QStringList exportArgs{QStringLiteral("--history"), history, QStringLiteral("--batch"), QStringLiteral("export"),
                                 QStringLiteral("--out"), again};
    const Ran exported = RunOrKill(exportArgs + QStringList{QStringLiteral("--run"), QStringLiteral("1")}, -1);
    QVERIFY2(exported.ended && exported.code == 0, qPrintable(exported.err));
    QCOMPARE(Bytes(again), Bytes(out));
    QCOMPARE(exported.err, QStringLiteral("lanshu-collector: wrote %1 (%2 bytes)\n").arg(again).arg(Bytes(out).size()));

    const QString none = Path(QStringLiteral("none.csv"));
    const QStringList noneArgs{QStringLiteral("--history"), history, QStringLiteral("--batch"), QStringLiteral("export"),
                               QStringLiteral("--out"), none};
    const Ran missing = RunOrKill(noneArgs + QStringList{QStringLiteral("--run"), QStringLiteral("9")}, -1);
    QVERIFY(missing.ended);
    QCOMPARE(missing.code, 1);
    QCOMPARE(missing.err, QStringLiteral("lanshu-collector: cannot export: no run 9 in the history\n"));
    const Ran unnamed = RunOrKill(noneArgs + QStringList{QStringLiteral("--campaign"), QStringLiteral("nope")}, -1);
    QCOMPARE(unnamed.code, 1);
    QCOMPARE(unnamed.err, QStringLiteral("lanshu-collector: cannot export: no run named nope in the history\n"));
    QVERIFY(!QFile::exists(none));
  }
};

QTEST_GUILESS_MAIN(ResumeTest)
#include "resume_test.moc"
