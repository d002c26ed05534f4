// The history from the command line, with the program as a child process
// against the demo site started here: batch runs kept in the database named,
// --no-history, --batch compare, --history-copy-to, a database that fails,
// and what a killed rank run leaves in the store.
#include <QCoreApplication>
#include <QDateTime>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QSqlQuery>
#include <QSqlError>
#include <QSqlDatabase>
#include <QSet>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <tuple>

#include "AppTestSupport.h"
#include "TestSupport.h"
#include "XlsxRead.h"
#include "app/QtText.h"
#include "demo/DemoSite.h"
#include "history/Comparison.h"
#include "history/HistoryStore.h"
#include "store/ConfigStore.h"
#include "text/Csv.h"

using namespace lanshu;
using namespace lanshu::testing;

namespace {

struct Result {
  bool finished = false;
  int code = -1;
  QString err;
};

Result RunProgram(const QStringList& arguments) {
  QProcess p;
  p.setProcessEnvironment(ChildEnvironment());
  p.start(QStringLiteral(LANSHU_COLLECTOR_EXE), arguments);
  Result r;
  if (!p.waitForStarted(60000)) return r;
  r.finished = p.waitForFinished(600000) && p.exitStatus() == QProcess::NormalExit;
  if (p.state() != QProcess::NotRunning) p.kill(), p.waitForFinished(10000);
  r.code = p.exitCode();
  r.err = QString::fromUtf8(p.readAllStandardError());
  return r;
}

QByteArray ReadOrEmpty(const QString& path) {
  QFile f(path);
  return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

int CountLines(const QString& text, const QString& start) {
  int n = 0;
  for (const QString& line : text.split(QLatin1Char('\n')))
    if (line.startsWith(start)) ++n;
  return n;
}

}  // namespace

class HistoryBatchTest : public QObject {
  Q_OBJECT

  QTemporaryDir dir_;
  demo::DemoSite site_;

  QString Path(const QString& name) { return dir_.path() + QLatin1Char('/') + name; }
  // A rank settings file for domains, no duplicate filter, plain CSV export.
  QString RankSettings(const QString& name, const QString& domains) {
    const QString path = Path(name);
    ConfigStore s;
    if (!s.Open(ToGbk(path))) return QString();
    s.SetSection(G("基本参数"));
    s.WriteText(G("域名"), ToGbk(domains));
    s.WriteText(G("排序"), "0");
    s.WriteText(G("导出模式"), "0");
    s.SetSection(G("基本配置_挖掘"));
    s.WriteText(G("自动过滤重复关键字"), G("假"));
    s.WriteText(G("转换百度链接"), G("假"));
    return path;
  }
  QStringList Rank(const QString& settings, const QString& out, const QStringList& history) {
    const QString b = QString::fromStdString(site_.BaseUrl());
    return QStringList{QStringLiteral("--settings"), settings, QStringLiteral("--batch"), QStringLiteral("rank"),
                       QStringLiteral("--out"), out, QStringLiteral("--rank-site"), b,
                       QStringLiteral("--search-site"), b} +
           history;
  }

 private slots:
  void initTestCase() {
    QVERIFY(dir_.isValid());
    QVERIFY(site_.Start());
  }
  void cleanupTestCase() { site_.Stop(); }
  void init() { site_.SetOptions(demo::Options()); }

  // Two runs kept, a third with --no-history not; the exports are the same
  // bytes whether history is on or off; the comparison of the latest two
  // says which keywords were lost.
  void batchRankRunsAreKeptAndCompared() {
    const QString db = Path(QStringLiteral("runs.sqlite"));
    const QString settings = RankSettings(QStringLiteral("rank.ini"), QStringLiteral("a.test"));
    site_.UpdateOptions([](demo::Options& o) {
      o.rankPages = 2;
      o.rankRowsPerPage = 5;
    });
    // The demo site may list a keyword on both pages: it counts once.
    QSet<QByteArray> kept, gone;
    for (const demo::RankRow& row : site_.ExpectedRankRows("a.test", 1, "position")) kept << QByteArray::fromStdString(row.keyword);
    for (const demo::RankRow& row : site_.ExpectedRankRows("a.test", 2, "position"))
      if (!kept.contains(QByteArray::fromStdString(row.keyword))) gone << QByteArray::fromStdString(row.keyword);
    QVERIFY(!gone.isEmpty());
    const Result first = RunProgram(Rank(settings, Path(QStringLiteral("1.csv")), {QStringLiteral("--history"), db}));
    QVERIFY2(first.finished && first.code == 0, qPrintable(first.err));
    const Result off = RunProgram(Rank(settings, Path(QStringLiteral("off.csv")), {QStringLiteral("--no-history")}));
    QVERIFY2(off.finished && off.code == 0, qPrintable(off.err));
    QCOMPARE(ReadOrEmpty(Path(QStringLiteral("1.csv"))), ReadOrEmpty(Path(QStringLiteral("off.csv"))));
    QCOMPARE(QString(first.err).replace(QStringLiteral("/1.csv"), QStringLiteral("/off.csv")), off.err);

    site_.UpdateOptions([](demo::Options& o) { o.rankPages = 1; });  // page 2's keywords are lost
    const Result second = RunProgram(Rank(settings, Path(QStringLiteral("2.csv")), {QStringLiteral("--history"), db}));
    QVERIFY2(second.finished && second.code == 0, qPrintable(second.err));

    {
      history::HistoryStore store;
      QVERIFY(store.Open(ToGbk(db)));
      const auto runs = store.ListRuns();
      QVERIFY(runs);
      QCOMPARE(runs->size(), size_t(2));  // not the --no-history run
      QCOMPARE((*runs)[0].rows, 5);
      QCOMPARE((*runs)[1].rows, 10);
      QCOMPARE((*runs)[1].ending, history::Ending::kFinished);
      QCOMPARE((*runs)[1].targets, std::vector<std::string>{"a.test"});
      // The stored rows are the exported ones.
      const auto rows = store.LoadRankRows((*runs)[1].id);
      QVERIFY(rows && rows->size() == 10);
      const QList<QByteArray> lines = ReadOrEmpty(Path(QStringLiteral("1.csv"))).split('\n');
      QCOMPARE(lines.size(), 11);
      QCOMPARE(QByteArray::fromStdString((*rows)[3][2]), lines[4].split(',')[2]);
    }

    const QString out = Path(QStringLiteral("cmp.csv"));
    const Result cmp = RunProgram({QStringLiteral("--history"), db, QStringLiteral("--batch"), QStringLiteral("compare"),
                                   QStringLiteral("--domain"), QStringLiteral("a.test"), QStringLiteral("--out"), out});
    QVERIFY2(cmp.finished && cmp.code == 0, qPrintable(cmp.err));
    const QString text = FromGbk(ReadOrEmpty(out).toStdString());
    const QStringList csv = text.split(QStringLiteral("\r\n"));
    QCOMPARE(csv.value(0), QStringLiteral("关键字,旧排名,新排名,变化,搜索量"));
    QVERIFY2(csv.size() == 1 + kept.size() + gone.size(), qPrintable(text));
    int same = 0, lost = 0;
    for (const QString& line : csv.mid(1)) {
      const QString change = line.section(QLatin1Char(','), 3, 3);
      if (change == QStringLiteral("不变")) ++same;
      if (change == QStringLiteral("消失")) {
        ++lost;
        QVERIFY(line.section(QLatin1Char(','), 2, 2).isEmpty());
      }
    }
    QCOMPARE(same, kept.size());
    QCOMPARE(lost, gone.size());
    QCOMPARE(csv.last().section(QLatin1Char(','), 3, 3), QStringLiteral("消失"));  // lost ones come last

    // The same comparison as a workbook, and a kept run exported as one: the
    // cells of their CSV files, the volumes as numbers.
    for (const auto& [csvFile, book, arguments] :
         std::vector<std::tuple<QString, QString, QStringList>>{
             {out, Path(QStringLiteral("cmp.xlsx")),
              {QStringLiteral("--batch"), QStringLiteral("compare"), QStringLiteral("--domain"), QStringLiteral("a.test")}},
             {Path(QStringLiteral("2.csv")), Path(QStringLiteral("run2.xlsx")),
              {QStringLiteral("--batch"), QStringLiteral("export"), QStringLiteral("--run"), QStringLiteral("2")}}}) {
      const Result written = RunProgram(QStringList{QStringLiteral("--history"), db} + arguments +
                                        QStringList{QStringLiteral("--out"), book});
      QVERIFY2(written.finished && written.code == 0, qPrintable(written.err));
      // compare also tells the keywords: "wrote FILE (N keywords, SIZE bytes)".
      const QRegularExpression wrote(QStringLiteral("wrote %1 \\((\\d+ keywords, )?%2 bytes\\)\n")
                                         .arg(QRegularExpression::escape(book))
                                         .arg(QFileInfo(book).size()));
      QVERIFY2(wrote.match(written.err).hasMatch(), qPrintable(written.err));
      std::vector<std::vector<std::string>> records;
      QVERIFY(ReadCsv(ReadOrEmpty(csvFile).toStdString(), records));
      const XlsxBook read = ReadXlsx(book.toStdString());
      QVERIFY2(read.error.empty(), read.error.c_str());
      const std::string differs = CellsDifferFromCsv(read, records);
      QVERIFY2(differs.empty(), differs.c_str());
      QCOMPARE(read.freeze, std::string("A2"));
      QCOMPARE(read.rows.at(1).at(4).type, std::string("n"));  // 搜索量 in both
    }
    QCOMPARE(ReadXlsx(Path(QStringLiteral("cmp.xlsx")).toStdString()).sheets, std::vector<std::string>{"排名变化"});

    // Naming the runs the other way round turns lost keywords into new ones.
    const Result back = RunProgram({QStringLiteral("--history"), db, QStringLiteral("--batch"), QStringLiteral("compare"),
                                    QStringLiteral("--domain"), QStringLiteral("a.test"), QStringLiteral("--out"), out,
                                    QStringLiteral("--from"), QStringLiteral("2"), QStringLiteral("--to"), QStringLiteral("1")});
    QVERIFY2(back.finished && back.code == 0, qPrintable(back.err));
    QCOMPARE(FromGbk(ReadOrEmpty(out).toStdString()).count(QStringLiteral(",新增,")), gone.size());
  }

  // A mining run is kept with its CSV header and its lines as exported.
  void batchMiningRunIsKeptLineByLine() {
    site_.UpdateOptions([](demo::Options& o) { o.keywordPages = 2; });
    const QString settings = Path(QStringLiteral("mine.ini"));
    {
      ConfigStore s;
      QVERIFY(s.Open(ToGbk(settings)));
      s.SetSection(G("基本配置_挖掘"));
      s.WriteText(G("关键词"), G("减肥\r\n丰胸"));
      s.WriteText(G("限定数量"), "0");
      for (const char* key : {"搜索量", "优化难度"}) s.WriteText(G(key), G("真"));
      for (const char* key : {"收录量", "第一位", "第二位", "自动保存目录"}) s.WriteText(G(key), G("假"));
      s.WriteText(G("关键词间隔"), "0");
      s.WriteText(G("页间隔"), "0");
    }
    const QString db = Path(QStringLiteral("mine.sqlite"));
    const QString out = Path(QStringLiteral("mine.csv"));
    const QString b = QString::fromStdString(site_.BaseUrl());
    const Result r = RunProgram({QStringLiteral("--settings"), settings, QStringLiteral("--batch"), QStringLiteral("mine"),
                                 QStringLiteral("--out"), out, QStringLiteral("--keyword-site"), b + QLatin1Char('/'),
                                 QStringLiteral("--history"), db});
    QVERIFY2(r.finished && r.code == 0, qPrintable(r.err));
    history::HistoryStore store;
    QVERIFY(store.Open(ToGbk(db)));
    const auto runs = store.ListRuns();
    QVERIFY(runs && runs->size() == 1);
    const history::RunInfo& run = runs->front();
    QCOMPARE(run.kind, history::RunKind::kMine);
    QCOMPARE(run.ending, history::Ending::kFinished);
    QCOMPARE(run.targets, (std::vector<std::string>{G("减肥"), G("丰胸")}));
    QCOMPARE(QByteArray::fromStdString(run.columns), QByteArray::fromStdString(G("关键词,搜索量,优化难度")));
    std::string kept = run.columns + "\r\n";
    const auto lines = store.LoadMiningLines(run.id);
    QVERIFY(lines);
    for (const std::string& line : *lines) kept += line + "\r\n";
    QCOMPARE(QByteArray::fromStdString(kept), ReadOrEmpty(out));
    QCOMPARE(store.LoadPages(run.id)->size(), size_t(4));
  }

  // "数据库" names the store; "保存历史=假" turns it off unless --history
  // names one.
  void theSettingsChooseTheDatabase() {
    site_.UpdateOptions([](demo::Options& o) {
      o.rankPages = 1;
      o.rankRowsPerPage = 2;
    });
    const QString db = Path(QStringLiteral("from-settings.sqlite"));
    const QString settings = RankSettings(QStringLiteral("choose.ini"), QStringLiteral("e.test"));
    const auto set = [&](const char* key, const QString& value) {
      ConfigStore s;
      QVERIFY(s.Open(ToGbk(settings)));
      s.SetSection(G("历史记录"));
      s.WriteText(G(key), ToGbk(value));
    };
    const auto runsIn = [](const QString& path) {
      history::HistoryStore store;
      return store.Open(ToGbk(path)) ? store.ListRuns().value_or(std::vector<history::RunInfo>()).size() : size_t(99);
    };
    set("数据库", db);
    Result r = RunProgram(Rank(settings, Path(QStringLiteral("s1.csv")), {}));
    QVERIFY2(r.finished && r.code == 0, qPrintable(r.err));
    QCOMPARE(runsIn(db), size_t(1));
    set("保存历史", QStringLiteral("假"));
    r = RunProgram(Rank(settings, Path(QStringLiteral("s2.csv")), {}));
    QVERIFY2(r.finished && r.code == 0, qPrintable(r.err));
    QCOMPARE(runsIn(db), size_t(1));
    const QString other = Path(QStringLiteral("from-command-line.sqlite"));
    r = RunProgram(Rank(settings, Path(QStringLiteral("s3.csv")), {QStringLiteral("--history"), other}));
    QVERIFY2(r.finished && r.code == 0, qPrintable(r.err));
    QCOMPARE(runsIn(db), size_t(1));
    QCOMPARE(runsIn(other), size_t(1));
  }

  // Three runs of a.test (the second without page 2), then the whole
  // history in one file: each run's rows are its own export's rows, with the
  // run's start and the position in front; as CSV, UTF-8 and a workbook.
  void historyOfADomainInLongForm() {
    const QString db = Path(QStringLiteral("long.sqlite"));
    const QString settings = RankSettings(QStringLiteral("long.ini"), QStringLiteral("a.test|b.test"));
    {
      // One row per keyword in each export, as the long form keeps them.
      ConfigStore s;
      QVERIFY(s.Open(ToGbk(settings)));
      s.SetSection(G("基本配置_挖掘"));
      s.WriteText(G("自动过滤重复关键字"), G("真"));
    }
    site_.UpdateOptions([](demo::Options& o) {
      o.rankPages = 2;
      o.rankRowsPerPage = 4;
    });
    std::vector<QByteArray> exports;
    for (int run = 1; run <= 3; ++run) {
      site_.UpdateOptions([run](demo::Options& o) { o.rankPages = run == 2 ? 1 : 2; });
      const QString out = Path(QStringLiteral("long%1.csv").arg(run));
      const Result r = RunProgram(Rank(settings, out, {QStringLiteral("--history"), db}));
      QVERIFY2(r.finished && r.code == 0, qPrintable(r.err));
      exports.push_back(ReadOrEmpty(out));
    }
    QDateTime started[3];
    {
      history::HistoryStore store;
      QVERIFY(store.Open(ToGbk(db)));
      const auto runs = store.ListRuns();
      QVERIFY(runs && runs->size() == 3);
      for (int i = 0; i < 3; ++i) started[i] = (*runs)[2 - i].started;
    }
    // What the long form must hold, from the three exports.
    QList<QByteArray> expected{QByteArray::fromStdString(Utf8TextToGbk("日期,域名,关键字,排名,位置,搜索量,收录量,网页标题,链接"))};
    for (int run = 0; run < 3; ++run) {
      const QByteArray date = started[run].toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm")).toLatin1();
      std::vector<std::vector<std::string>> records;
      QVERIFY(ReadCsv(exports[run].toStdString(), records));
      for (std::size_t i = 1; i < records.size(); ++i) {
        const std::vector<std::string>& c = records[i];
        if (c.at(1) != "a.test") continue;
        const std::optional<int> position = history::PositionOf(c[3]);
        QByteArray line = date;
        for (const std::string& cell : {c[1], c[2], c[3], position ? std::to_string(*position) : std::string(),
                                        c[4], c[5], c[6], c[7]})
          line += ',' + QByteArray::fromStdString(CsvCell(cell));
        expected << line;
      }
    }
    QVERIFY(expected.size() > 10);

    const QString csv = Path(QStringLiteral("long.csv"));
    const QStringList history = {QStringLiteral("--history"), db, QStringLiteral("--batch"), QStringLiteral("history"),
                                 QStringLiteral("--domain"), QStringLiteral("a.test"), QStringLiteral("--out")};
    Result r = RunProgram(history + QStringList{csv});
    QVERIFY2(r.finished && r.code == 0, qPrintable(r.err));
    QCOMPARE(r.err, QStringLiteral("lanshu-collector: wrote %1 (%2 bytes)\n").arg(csv).arg(QFileInfo(csv).size()));
    QCOMPARE(ReadOrEmpty(csv), expected.join("\r\n"));

    const QString utf8 = Path(QStringLiteral("long-utf8.csv"));
    r = RunProgram(history + QStringList{utf8, QStringLiteral("--encoding"), QStringLiteral("utf-8-bom")});
    QVERIFY2(r.finished && r.code == 0, qPrintable(r.err));
    QCOMPARE(ReadOrEmpty(utf8), "\xEF\xBB\xBF" + FromGbk(ReadOrEmpty(csv).toStdString()).toUtf8());

    const QString book = Path(QStringLiteral("long.xlsx"));
    r = RunProgram(history + QStringList{book});
    QVERIFY2(r.finished && r.code == 0, qPrintable(r.err));
    std::vector<std::vector<std::string>> records;
    QVERIFY(ReadCsv(ReadOrEmpty(csv).toStdString(), records));
    const XlsxBook read = ReadXlsx(book.toStdString());
    QVERIFY2(read.error.empty(), read.error.c_str());
    const std::string differs = CellsDifferFromCsv(read, records);
    QVERIFY2(differs.empty(), differs.c_str());
    QCOMPARE(read.sheets, std::vector<std::string>{"排名历史"});
    QCOMPARE(read.freeze, std::string("A2"));
    QCOMPARE(read.filter, "A1:I" + std::to_string(records.size()));
    QCOMPARE(read.rows.at(1).at(0).type, std::string("s"));  // the date is text, as in the CSV
    QCOMPARE(read.rows.at(1).at(4).type, std::string("n"));  // 位置
    QCOMPARE(read.rows.at(1).at(5).type, std::string("n"));  // 搜索量

    // Days: from the first run's day on holds all three; none before it.
    const QString today = started[0].toLocalTime().date().toString(Qt::ISODate);
    const QString before = started[0].toLocalTime().date().addDays(-1).toString(Qt::ISODate);
    const QString some = Path(QStringLiteral("since.csv"));
    r = RunProgram(history + QStringList{some, QStringLiteral("--since"), today});
    QCOMPARE(r.code, 0);
    QCOMPARE(ReadOrEmpty(some), ReadOrEmpty(csv));
    const QString none = Path(QStringLiteral("until.csv"));
    r = RunProgram(history + QStringList{none, QStringLiteral("--until"), before});
    QCOMPARE(r.code, 1);
    QCOMPARE(r.err, QStringLiteral("lanshu-collector: cannot export history of a.test: no rank run until %1\n").arg(before));
    QVERIFY(!QFile::exists(none));
    r = RunProgram({QStringLiteral("--history"), db, QStringLiteral("--batch"), QStringLiteral("history"),
                    QStringLiteral("--domain"), QStringLiteral("c.test"), QStringLiteral("--out"), none});
    QCOMPARE(r.code, 1);
    QCOMPARE(r.err, QStringLiteral("lanshu-collector: cannot export history of c.test: no rank run in the history\n"));
    r = RunProgram({QStringLiteral("--history"), Path(QStringLiteral("no/such/folder/h.sqlite")), QStringLiteral("--batch"),
                    QStringLiteral("history"), QStringLiteral("--domain"), QStringLiteral("a.test"), QStringLiteral("--out"),
                    none});
    QCOMPARE(r.code, 1);
    QVERIFY2(r.err.startsWith(QStringLiteral("lanshu-collector: cannot export history of a.test: ")), qPrintable(r.err));
    QVERIFY(!QFile::exists(none));
  }

  void compareWithoutTwoRunsFailsAndWritesNothing() {
    const QString db = Path(QStringLiteral("empty.sqlite"));
    const QString out = Path(QStringLiteral("none.csv"));
    const Result r = RunProgram({QStringLiteral("--history"), db, QStringLiteral("--batch"), QStringLiteral("compare"),
                                 QStringLiteral("--domain"), QStringLiteral("a.test"), QStringLiteral("--out"), out});
    QVERIFY(r.finished);
    QCOMPARE(r.code, 1);
    QVERIFY2(r.err.startsWith(QStringLiteral("lanshu-collector: cannot compare a.test: ")), qPrintable(r.err));
    QVERIFY(!QFile::exists(out));
    const Result missing = RunProgram({QStringLiteral("--history"), db, QStringLiteral("--batch"), QStringLiteral("compare"),
                                       QStringLiteral("--domain"), QStringLiteral("a.test"), QStringLiteral("--out"), out,
                                       QStringLiteral("--from"), QStringLiteral("7"), QStringLiteral("--to"), QStringLiteral("8")});
    QCOMPARE(missing.code, 1);
    QVERIFY2(missing.err.contains(QStringLiteral("no rank run 7")), qPrintable(missing.err));
  }

  void badHistoryArgumentsExitWithStatusTwo() {
    const QString out = Path(QStringLiteral("never.csv"));
    const std::vector<std::pair<QStringList, QString>> cases = {
        {{"--batch", "compare", "--out", out}, "--batch compare needs --domain D"},
        {{"--batch", "rank", "--out", out, "--domain", "a"}, "--domain is only used with --batch compare"},
        {{"--batch", "compare", "--domain", "a", "--out", out, "--from", "1"}, "--from and --to go together"},
        {{"--batch", "compare", "--domain", "a", "--out", out, "--from", "x", "--to", "2"}, "--from takes a run number, not x"},
        {{"--history", "a.sqlite", "--no-history"}, "--history and --no-history exclude each other"},
        {{"--no-history", "--history-copy-to", "b.sqlite"}, "--history-copy-to needs the history"},
        {{"--batch", "history", "--out", out}, "--batch history needs --domain D"},
        {{"--batch", "history", "--domain", "a", "--out", out, "--since", "2026-02-30"},
         "--since takes a day as YYYY-MM-DD, not 2026-02-30"},
        {{"--batch", "history", "--domain", "a", "--out", out, "--until", "26-1-1"},
         "--until takes a day as YYYY-MM-DD, not 26-1-1"},
        {{"--batch", "history", "--domain", "a", "--out", out, "--since", "2026-03-02", "--until", "2026-03-01"},
         "--since 2026-03-02 comes after --until 2026-03-01"},
        {{"--batch", "compare", "--domain", "a", "--out", out, "--since", "2026-03-02"},
         "--since and --until are only used with --batch history"},
        {{"--batch", "history", "--domain", "a", "--out", out, "--no-history"},
         "--batch history needs the history, not --no-history"},
        {{"--batch", "history", "--domain", "a", "--out", out, "--report", "r.json"},
         "--report is only used with --batch rank or mine"},
        {{"--batch", "history", "--domain", "a", "--out", out, "--encoding", "utf8"},
         "--encoding takes gbk or utf-8-bom, not utf8"},
        {{"--encoding", "gbk"}, "--encoding is only used with --batch"},
    };
    for (const auto& [arguments, why] : cases) {
      const Result r = RunProgram(arguments);
      QVERIFY2(r.finished, qPrintable(arguments.join(' ')));
      QCOMPARE(r.code, 2);
      QVERIFY2(r.err.contains(why) && r.err.contains(QStringLiteral("usage:")), qPrintable(r.err));
    }
  }

  // A database that cannot be used: the run collects and exports as ever,
  // with one line more on standard error and the same exit status.
  void aBrokenDatabaseCostsOneLineAndNothingElse() {
    const QString settings = RankSettings(QStringLiteral("broken.ini"), QStringLiteral("b.test"));
    site_.UpdateOptions([](demo::Options& o) {
      o.rankPages = 2;
      o.rankRowsPerPage = 3;
    });
    QFile junk(Path(QStringLiteral("junk.sqlite")));
    QVERIFY(junk.open(QIODevice::WriteOnly));
    junk.write(QByteArray(8192, 'x'));  // no database at all
    junk.close();
    const Result bad = RunProgram(Rank(settings, Path(QStringLiteral("bad.csv")), {QStringLiteral("--history"), junk.fileName()}));
    const Result off = RunProgram(Rank(settings, Path(QStringLiteral("ok.csv")), {QStringLiteral("--no-history")}));
    QVERIFY2(bad.finished && bad.code == 0, qPrintable(bad.err));
    QVERIFY2(off.finished && off.code == 0, qPrintable(off.err));
    QCOMPARE(ReadOrEmpty(Path(QStringLiteral("bad.csv"))), ReadOrEmpty(Path(QStringLiteral("ok.csv"))));
    QCOMPARE(CountLines(bad.err, QStringLiteral("lanshu-collector: history not kept: ")), 1);
    QString rest = bad.err;
    rest.remove(QRegularExpression(QStringLiteral("lanshu-collector: history not kept: [^\n]*\n")));
    QCOMPARE(rest.replace(QStringLiteral("/bad.csv"), QStringLiteral("/ok.csv")), off.err);
  }

  void copyToATeamDatabaseCopiesEachRunOnce() {
    const QString db = Path(QStringLiteral("local.sqlite"));
    const QString settings = RankSettings(QStringLiteral("copy.ini"), QStringLiteral("c.test|d.test"));
    site_.UpdateOptions([](demo::Options& o) {
      o.rankPages = 1;
      o.rankRowsPerPage = 2;
    });
    for (const char* out : {"c1.csv", "c2.csv"}) {
      const Result r = RunProgram(Rank(settings, Path(QLatin1String(out)), {QStringLiteral("--history"), db}));
      QVERIFY2(r.finished && r.code == 0, qPrintable(r.err));
    }
    const QString team = Path(QStringLiteral("team.sqlite"));
    const Result once = RunProgram({QStringLiteral("--history"), db, QStringLiteral("--history-copy-to"), team});
    QCOMPARE(once.code, 0);
    QCOMPARE(once.err, QStringLiteral("lanshu-collector: copied 2 runs to %1 (0 replaced, 0 already there)\n").arg(team));
    const Result twice = RunProgram({QStringLiteral("--history"), db, QStringLiteral("--history-copy-to"), team});
    QCOMPARE(twice.code, 0);
    QCOMPARE(twice.err, QStringLiteral("lanshu-collector: copied 0 runs to %1 (0 replaced, 2 already there)\n").arg(team));
    history::HistoryStore store;
    QVERIFY(store.Open(ToGbk(team)));
    QCOMPARE(store.ListRuns()->size(), size_t(2));
    QCOMPARE(store.ListRuns()->front().rows, 4);

    const Result nowhere = RunProgram({QStringLiteral("--history"), db, QStringLiteral("--history-copy-to"),
                                       Path(QStringLiteral("no/such/folder/team.sqlite"))});
    QCOMPARE(nowhere.code, 1);
    QVERIFY2(nowhere.err.startsWith(QStringLiteral("lanshu-collector: cannot open the history ")), qPrintable(nowhere.err));
  }

  // A team's PostgreSQL server (the test cluster ctest starts): two batch
  // runs writing into one database at the same time lose nothing, and a
  // local store copies into it once.
  void twoBatchRunsIntoOnePostgresqlDatabaseLoseNothing() {
    QString why;
    const QString team =
        FreshPostgresqlDatabase(QStringLiteral("lanshu_batch_%1").arg(QCoreApplication::applicationPid()), why);
    QVERIFY2(!team.isEmpty(), qPrintable(why));
    site_.UpdateOptions([](demo::Options& o) {
      o.rankPages = 3;
      o.rankRowsPerPage = 5;
    });
    const QString one = RankSettings(QStringLiteral("pg1.ini"), QStringLiteral("p.test|q.test"));
    const QString two = RankSettings(QStringLiteral("pg2.ini"), QStringLiteral("r.test|s.test"));
    QProcess first, second;
    for (QProcess* p : {&first, &second}) p->setProcessEnvironment(ChildEnvironment());
    first.start(QStringLiteral(LANSHU_COLLECTOR_EXE), Rank(one, Path(QStringLiteral("pg1.csv")), {QStringLiteral("--history"), team}));
    second.start(QStringLiteral(LANSHU_COLLECTOR_EXE), Rank(two, Path(QStringLiteral("pg2.csv")), {QStringLiteral("--history"), team}));
    for (QProcess* p : {&first, &second}) {
      QVERIFY(p->waitForFinished(600000));
      QVERIFY2(p->exitCode() == 0, p->readAllStandardError().constData());
    }
    history::HistoryStore store;
    QVERIFY2(store.Open(ToGbk(team)), store.LastError().c_str());
    const auto runs = store.ListRuns();
    QVERIFY(runs);
    QCOMPARE(runs->size(), size_t(2));
    int expected = 0;
    for (const char* d : {"p.test", "q.test", "r.test", "s.test"})
      for (int page = 1; page <= 3; ++page) expected += static_cast<int>(site_.ExpectedRankRows(d, page, "position").size());
    int stored = 0;
    for (const auto& run : *runs) {
      QCOMPARE(run.ending, history::Ending::kFinished);
      stored += run.rows;
      QCOMPARE(static_cast<int>(store.LoadRankRows(run.id)->size()), run.rows);
    }
    QCOMPARE(stored, expected);

    // A local store copied in: its run once, however often it is copied.
    const QString local = Path(QStringLiteral("pg-local.sqlite"));
    const Result kept = RunProgram(Rank(one, Path(QStringLiteral("pg3.csv")), {QStringLiteral("--history"), local}));
    QVERIFY2(kept.finished && kept.code == 0, qPrintable(kept.err));
    for (int copy = 0; copy < 2; ++copy) {
      const Result r = RunProgram({QStringLiteral("--history"), local, QStringLiteral("--history-copy-to"), team});
      QVERIFY2(r.code == 0, qPrintable(r.err));
    }
    QCOMPARE(store.ListRuns()->size(), size_t(3));
    store.Close();
  }

  // Killed mid-run: every page parsed before the kill is in the store with
  // all its rows, and the run says it never finished.
  void killedRankRunLeavesEveryParsedPage() {
    site_.UpdateOptions([](demo::Options& o) {
      o.rankPages = 6;
      o.rankRowsPerPage = 4;
      o.delayMs = 300;
    });
    const QString db = Path(QStringLiteral("killed.sqlite"));
    const QString settings = RankSettings(QStringLiteral("kill.ini"), QStringLiteral("k.test|l.test"));
    QProcess p;
    p.setProcessEnvironment(ChildEnvironment());
    p.start(QStringLiteral(LANSHU_COLLECTOR_EXE),
            Rank(settings, Path(QStringLiteral("kill.csv")), {QStringLiteral("--history"), db, QStringLiteral("--verbose")}));
    QVERIFY(p.waitForStarted(60000));
    // Page 4 of k.test asked of the site: pages 1 to 3 have been parsed, and
    // at least pages 1 and 2 stored (a page is fetched only once the page
    // before the last one is stored).
    site_.ClearLog();
    auto askedForPage4 = [this] {
      for (const demo::LoggedRequest& r : site_.Requests())
        if (r.path.find("/k.test/4/") != std::string::npos) return true;
      return false;
    };
    QString err;
    QElapsedTimer t;
    t.start();
    while (!askedForPage4() && p.state() == QProcess::Running && t.elapsed() < 300000) {
      p.waitForReadyRead(100);
      err += QString::fromUtf8(p.readAllStandardError());
    }
    QVERIFY2(p.state() == QProcess::Running, qPrintable(err));
    p.kill();
    QVERIFY(p.waitForFinished(30000));
    QCOMPARE(p.exitStatus(), QProcess::CrashExit);

    history::HistoryStore store;
    QVERIFY(store.Open(ToGbk(db)));
    const auto runs = store.ListRuns();
    QVERIFY(runs && runs->size() == 1);
    QCOMPARE(runs->front().ending, history::Ending::kUnfinished);
    QVERIFY(runs->front().finished.isNull());
    const auto pages = store.LoadPages(runs->front().id);
    QVERIFY(pages);
    QVERIFY2(pages->size() >= 2 && pages->size() < 12, qPrintable(QString::number(pages->size())));
    for (size_t i = 0; i < pages->size(); ++i) {
      QCOMPARE((*pages)[i].target, std::string("k.test"));
      QCOMPARE((*pages)[i].page, int(i) + 1);
      QCOMPARE((*pages)[i].rowCount, 4);
    }
    const auto rows = store.LoadRankRows(runs->front().id);
    QVERIFY(rows);
    QCOMPARE(rows->size(), pages->size() * 4);
    for (size_t i = 0; i < rows->size(); ++i)
      QCOMPARE(QByteArray::fromStdString((*rows)[i][2]),
               QByteArray::fromStdString(site_.ExpectedRankRows("k.test", int(i) / 4 + 1, "position")[i % 4].keyword));
  }
};

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  HistoryBatchTest test;
  return QTest::qExec(&test, argc, argv);
}

#include "history_batch_test.moc"
