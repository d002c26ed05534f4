// The program run unattended, as a child process, against the demo site
// started here: what it writes, how it fails, and what a killed mining run
// leaves in its result file.
#include <algorithm>
#include <sys/mount.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <QTcpServer>
#include <QRegularExpression>
#include <QJsonObject>
#include <QJsonDocument>
#include <QJsonArray>
#include <QTemporaryDir>
#include <QTest>
#include <tuple>

#include "AppTestSupport.h"
#include "app/QtText.h"
#include "demo/DemoSite.h"
#include "demo/DemoFaults.h"
#include "TestSupport.h"
#include "XlsxRead.h"
#include "history/HistoryStore.h"
#include "store/ConfigStore.h"
#include "text/Csv.h"
#include "text/Entities.h"

using namespace lanshu;
using namespace lanshu::testing;

namespace {

struct Ran {
  bool finished = false;
  QProcess::ExitStatus status = QProcess::CrashExit;
  int code = -1;
  QString err;
};

// Runs the program to its end. The demo site answers on threads of its own,
// so this thread may block.
Ran RunProgram(const QStringList& arguments) {
  QProcess p;
  p.setProcessEnvironment(ChildEnvironment());
  p.start(QStringLiteral(LANSHU_COLLECTOR_EXE), arguments);
  Ran o;
  if (!p.waitForStarted(60000)) return o;
  o.finished = p.waitForFinished(600000);
  if (!o.finished) p.kill(), p.waitForFinished(10000);
  o.status = p.exitStatus();
  o.code = p.exitCode();
  o.err = QString::fromUtf8(p.readAllStandardError());
  return o;
}

// Unlike ReadFile, a file that is not there reads as nothing.
QByteArray ReadFileOrEmpty(const QString& path) {
  QFile f(path);
  return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// A settings file as the window would have saved it.
class Settings {
 public:
  explicit Settings(const QString& path) { QVERIFY(store_.Open(ToGbk(path))); }
  Settings& Set(const char* section, const char* key, const QString& value) {
    store_.SetSection(G(section));
    store_.WriteText(G(key), ControlTextToGbk(value));
    return *this;
  }
  Settings& Check(const char* key, bool on) {
    store_.SetSection(G("基本配置_挖掘"));
    store_.WriteText(G(key), G(on ? "真" : "假"));
    return *this;
  }
  // The mining tab: seeds, the volume, count and level columns, no pauses.
  Settings& Mining(const QString& seeds, const QString& directory, bool autoSave) {
    Set("基本配置_挖掘", "关键词", seeds).Set("基本配置_挖掘", "限定数量", QStringLiteral("0"));
    Check("搜索量", true).Check("收录量", true).Check("第一位", false).Check("第二位", false);
    Check("优化难度", true).Check("自动保存目录", autoSave).Check("不同关键词独立保存", false);
    return Set("基本配置_挖掘", "保存目录", directory)
        .Set("基本配置_挖掘", "扩展名", QStringLiteral("csv"))
        .Set("基本配置_挖掘", "关键词间隔", QStringLiteral("0"))
        .Set("基本配置_挖掘", "页间隔", QStringLiteral("0"));
  }

 private:
  ConfigStore store_;
};

// The lines of the mining settings above for the rows of a page.
std::string MiningLines(const std::vector<demo::KeywordRow>& rows) {
  std::string out;
  for (const demo::KeywordRow& r : rows)
    out += r.keyword + "," + r.volume + "," + r.indexed + "," + std::to_string(r.level) + "\r\n";
  return out;
}

// A rank cell as the list holds it: tabs, "&nbsp;" and line breaks out,
// spaces (ASCII and ideographic) trimmed.
std::string RankCell(std::string text) {
  for (const std::string& what : {std::string("\t"), std::string("&nbsp;"), std::string("\r"), std::string("\n")})
    for (std::size_t p; (p = text.find(what)) != std::string::npos;) text.erase(p, what.size());
  const std::string wide = G("　");
  for (bool trimmed = true; trimmed;) {
    trimmed = false;
    if (!text.empty() && text.front() == ' ') text.erase(0, 1), trimmed = true;
    if (!text.empty() && text.back() == ' ') text.pop_back(), trimmed = true;
    if (text.rfind(wide, 0) == 0) text.erase(0, 2), trimmed = true;
    if (text.size() >= 2 && text.compare(text.size() - 2, 2, wide) == 0) text.resize(text.size() - 2), trimmed = true;
  }
  return text;
}

// The title decoded, then its commas full-width.
std::vector<std::string> RankCells(const demo::RankRow& row, const std::string& domain) {
  std::string title;
  for (char c : DecodeEntities(row.title)) title += c == ',' ? G("，") : std::string(1, c);
  return {row.serial, domain, row.keyword, row.rank, row.volume, row.indexed, RankCell(title), row.href};
}

// A loopback port nobody listens on.
int UnusedPort() {
  QTcpServer server;
  if (!server.listen(QHostAddress::LocalHost, 0)) return 9;
  const int port = server.serverPort();
  server.close();
  return port;
}

}  // namespace

class BatchTest : public QObject {
  Q_OBJECT

  QTemporaryDir dir_;
  demo::DemoSite site_;

  QString Path(const QString& name) { return dir_.path() + QLatin1Char('/') + name; }
  QStringList SiteArguments(const std::string& base) {
    const QString b = QString::fromStdString(base);
    return {QStringLiteral("--rank-site"), b, QStringLiteral("--keyword-site"), b + QLatin1Char('/'),
            QStringLiteral("--search-site"), b};
  }
  QStringList Batch(const char* kind, const QString& settings, const QString& out) {
    return QStringList({QStringLiteral("--settings"), settings, QStringLiteral("--batch"), QLatin1String(kind),
                        QStringLiteral("--out"), out}) +
           SiteArguments(site_.BaseUrl());
  }

 private slots:
  void initTestCase() {
    QVERIFY(dir_.isValid());
    QVERIFY(site_.Start());
  }
  void cleanupTestCase() { site_.Stop(); }
  void init() {
    site_.SetOptions(demo::Options());
    site_.ClearLog();
  }

  void rankRunExportsTheListAsCsv() {
    site_.UpdateOptions([](demo::Options& o) {
      o.rankPages = 2;
      o.rankRowsPerPage = 5;
    });
    const QString settings = Path(QStringLiteral("rank.ini"));
    Settings(settings)
        .Set("基本参数", "域名", QStringLiteral("a.test|b.test"))
        .Set("基本参数", "排序", QStringLiteral("0"))
        .Set("基本参数", "导出模式", QStringLiteral("0"))
        .Check("自动过滤重复关键字", false)
        .Check("转换百度链接", false);
    const QString out = Path(QStringLiteral("rank.csv"));
    const Ran o = RunProgram(Batch("rank", settings, out));
    QVERIFY2(o.finished && o.status == QProcess::NormalExit && o.code == 0, qPrintable(o.err));

    std::string expected = G("序号,域名,关键字,排名,搜索量,收录量,网页标题,链接");
    int rows = 0;
    for (const char* domain : {"a.test", "b.test"})
      for (int page = 1; page <= 2; ++page)
        for (const demo::RankRow& row : site_.ExpectedRankRows(domain, page, "position")) {
          std::string line;
          for (const std::string& cell : RankCells(row, domain)) line += (line.empty() ? "" : ",") + CsvCell(cell);
          expected += "\r\n" + line;
          ++rows;
        }
    QCOMPARE(rows, 20);
    COMPARE_GBK(ReadFileOrEmpty(out).toStdString(), expected);
    std::vector<std::vector<std::string>> records;
    QVERIFY(ReadCsv(expected, records));
    QCOMPARE(records.size(), size_t(21));
    for (const auto& record : records) QCOMPARE(record.size(), size_t(8));
    // Standard error holds the program's own lines only, the summary last.
    const QStringList lines = o.err.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    for (const QString& line : lines) QVERIFY2(line.startsWith(QStringLiteral("lanshu-collector: ")), qPrintable(o.err));
    QCOMPARE(lines.size(), 2);
    QVERIFY2(lines[0].startsWith(QStringLiteral("lanshu-collector: wrote ")), qPrintable(o.err));
    QVERIFY2(QRegularExpression(QStringLiteral("^lanshu-collector: done: rank 20 rows, 4 pages \\(0 failed, 0 blocked\\) "
                                               "in \\d\\d:\\d\\d:\\d\\d$"))
                 .match(lines[1])
                 .hasMatch(),
             qPrintable(o.err));
  }

  void rankRunExportsThroughTheColumnTemplate() {
    site_.UpdateOptions([](demo::Options& o) {
      o.rankPages = 1;
      o.rankRowsPerPage = 6;
    });
    const QString settings = Path(QStringLiteral("template.ini"));
    Settings(settings)
        .Set("基本参数", "域名", QStringLiteral("c.test"))
        .Set("基本参数", "排序", QStringLiteral("2"))
        .Set("基本参数", "导出模式", QStringLiteral("1"))
        .Set("基本参数", "表达式", QStringLiteral("#3（#2）排名#4 #8"))
        .Check("自动过滤重复关键字", false)
        .Check("转换百度链接", false);
    const QString out = Path(QStringLiteral("template.txt"));
    const Ran o = RunProgram(Batch("rank", settings, out));
    QVERIFY2(o.finished && o.status == QProcess::NormalExit && o.code == 0, qPrintable(o.err));

    std::string expected;
    for (const demo::RankRow& row : site_.ExpectedRankRows("c.test", 1, "zhishu")) {
      if (!expected.empty()) expected += "\r\n";
      expected += row.keyword + G("（") + "c.test" + G("）排名") + row.rank + " " + row.href;
    }
    QVERIFY(!expected.empty());
    COMPARE_GBK(ReadFileOrEmpty(out).toStdString(), expected);
  }

  void miningRunExportsTheLinesWithTheCsvHeader() {
    site_.UpdateOptions([](demo::Options& o) { o.keywordPages = 2; });
    const QString settings = Path(QStringLiteral("mine.ini"));
    // The blank line is no seed.
    Settings(settings).Mining(QStringLiteral("减肥\n \n丰胸"), Path(QStringLiteral("unused")), false);
    const QString out = Path(QStringLiteral("mine.csv"));
    // --verbose brings back the window's notices and status texts.
    const Ran o = RunProgram(Batch("mine", settings, out) << QStringLiteral("--verbose"));
    QVERIFY2(o.finished && o.status == QProcess::NormalExit && o.code == 0, qPrintable(o.err));

    std::string expected = G("关键词,搜索量,收录量,优化难度") + "\r\n";
    for (const char* seed : {"减肥", "丰胸"})
      for (int page = 1; page <= 2; ++page) expected += MiningLines(site_.ExpectedKeywordRows(G(seed), page));
    COMPARE_GBK(ReadFileOrEmpty(out).toStdString(), expected);
    QVERIFY(o.err.contains(QStringLiteral("获取完成！总共 32 个关键词！")));
    QVERIFY(o.err.contains(QStringLiteral("关键词：丰胸  当前页：2  总：2")));
    QVERIFY2(o.err.contains(QStringLiteral("lanshu-collector: done: mine 32 rows, 4 pages (0 failed, 0 blocked) in ")),
             qPrintable(o.err));
  }

  // --encoding utf-8-bom, or 编码=UTF-8 in the settings, writes the same
  // characters as the GBK export behind a byte-order mark: the rank list as
  // CSV and through the template, and the mining lines; --encoding gbk
  // overrides the settings.
  void textExportsInUtf8WithAByteOrderMark() {
    site_.UpdateOptions([](demo::Options& o) {
      o.rankPages = 1;
      o.rankRowsPerPage = 5;
      o.keywordPages = 1;
    });
    const QString rank = Path(QStringLiteral("enc-rank.ini"));
    Settings(rank)
        .Set("基本参数", "域名", QStringLiteral("a.test"))
        .Set("基本参数", "导出模式", QStringLiteral("0"))
        .Check("转换百度链接", false);
    const QString mine = Path(QStringLiteral("enc-mine.ini"));
    Settings(mine).Mining(QStringLiteral("减肥"), Path(QStringLiteral("unused")), false);
    const QString templated = Path(QStringLiteral("enc-template.ini"));
    Settings(templated)
        .Set("基本参数", "域名", QStringLiteral("a.test"))
        .Set("基本参数", "导出模式", QStringLiteral("1"))
        .Set("基本参数", "表达式", QStringLiteral("#3（#2）排名#4"))
        .Set("导出", "编码", QStringLiteral("UTF-8"))
        .Check("转换百度链接", false);
    const auto run = [&](const char* kind, const QString& settings, const QString& name, const QStringList& more) {
      const QString out = Path(name);
      const Ran o = RunProgram(Batch(kind, settings, out) + more);
      if (!o.finished || o.code != 0) qWarning("%s", qPrintable(o.err));
      return ReadFileOrEmpty(out);
    };
    const QStringList utf8 = {QStringLiteral("--encoding"), QStringLiteral("utf-8-bom")};
    const QStringList gbk = {QStringLiteral("--encoding"), QStringLiteral("gbk")};
    const auto asUtf8 = [](const QByteArray& gbkText) { return "\xEF\xBB\xBF" + FromGbk(gbkText.toStdString()).toUtf8(); };
    for (const auto& [kind, settings, name] :
         std::vector<std::tuple<const char*, QString, QString>>{{"rank", rank, QStringLiteral("enc.csv")},
                                                                {"mine", mine, QStringLiteral("enc-mine.csv")},
                                                                {"mine", mine, QStringLiteral("enc-mine.txt")}}) {
      const QByteArray plain = run(kind, settings, "gbk-" + name, {});
      QVERIFY2(plain.size() > 100 && !plain.startsWith("\xEF\xBB\xBF"), qPrintable(name));
      QCOMPARE(run(kind, settings, "utf8-" + name, utf8), asUtf8(plain));
    }
    const QByteArray fromSettings = run("rank", templated, QStringLiteral("enc-template-utf8.txt"), {});
    const QByteArray overridden = run("rank", templated, QStringLiteral("enc-template-gbk.txt"), gbk);
    QVERIFY(overridden.contains(Utf8TextToGbk("（a.test）排名").c_str()));
    QCOMPARE(fromSettings, asUtf8(overridden));
  }

  // A FILE ending in ".xlsx" gets a workbook of the same cells as the CSV
  // export, counts as numbers, and the usual "wrote" line with its size.
  void rankAndMiningRunsExportWorkbooks() {
    site_.UpdateOptions([](demo::Options& o) {
      o.rankPages = 2;
      o.rankRowsPerPage = 5;
      o.keywordPages = 1;
    });
    const QString settings = Path(QStringLiteral("xlsx.ini"));
    Settings(settings)
        .Set("基本参数", "域名", QStringLiteral("a.test"))
        .Set("基本参数", "排序", QStringLiteral("0"))
        .Set("基本参数", "导出模式", QStringLiteral("0"))
        .Check("自动过滤重复关键字", false)
        .Check("转换百度链接", false)
        .Mining(QStringLiteral("减肥"), Path(QStringLiteral("unused")), false);

    const QString ranked = Path(QStringLiteral("rank.XLSX"));
    const Ran rank = RunProgram(Batch("rank", settings, ranked));
    QVERIFY2(rank.finished && rank.status == QProcess::NormalExit && rank.code == 0, qPrintable(rank.err));
    std::string csv = G("序号,域名,关键字,排名,搜索量,收录量,网页标题,链接");
    for (int page = 1; page <= 2; ++page)
      for (const demo::RankRow& row : site_.ExpectedRankRows("a.test", page, "position"))
        csv += "\r\n" + CsvLine(RankCells(row, "a.test"));
    std::vector<std::vector<std::string>> records;
    QVERIFY(ReadCsv(csv, records));
    const XlsxBook book = ReadXlsx(ranked.toStdString());
    QVERIFY2(book.error.empty(), book.error.c_str());
    const std::string differs = CellsDifferFromCsv(book, records);
    QVERIFY2(differs.empty(), differs.c_str());
    QCOMPARE(book.sheets, std::vector<std::string>{"排名"});
    QCOMPARE(book.freeze, std::string("A2"));
    QCOMPARE(book.filter, std::string("A1:H11"));
    QCOMPARE(book.rows[1][0], N("1"));
    // The demo site's figures are all counts, plain or grouped; its ranks
    // are numbers or places on a page, which stay text.
    int places = 0, numbers = 0;
    for (std::size_t r = 1; r < book.rows.size(); ++r) {
      for (int c : {0, 4, 5}) QCOMPARE(book.rows[r][c].type, std::string("n"));
      const bool place = book.rows[r][3].text.rfind("第", 0) == 0;
      QCOMPARE(book.rows[r][3].type, std::string(place ? "s" : "n"));
      ++(place ? places : numbers);
    }
    QVERIFY(places > 0 && numbers > 0);
    const QString wrote = QStringLiteral("lanshu-collector: wrote %1 (%2 bytes)\n").arg(ranked).arg(QFileInfo(ranked).size());
    QVERIFY2(rank.err.startsWith(wrote), qPrintable(rank.err));
    QVERIFY(ReadFileOrEmpty(ranked).startsWith("PK"));

    const QString mined = Path(QStringLiteral("mine.xlsx"));
    const Ran mine = RunProgram(Batch("mine", settings, mined));
    QVERIFY2(mine.finished && mine.status == QProcess::NormalExit && mine.code == 0, qPrintable(mine.err));
    QVERIFY(ReadCsv(G("关键词,搜索量,收录量,优化难度") + "\r\n" + MiningLines(site_.ExpectedKeywordRows(G("减肥"), 1)),
                    records));
    const XlsxBook lines = ReadXlsx(mined.toStdString());
    QVERIFY2(lines.error.empty(), lines.error.c_str());
    const std::string linesDiffer = CellsDifferFromCsv(lines, records);
    QVERIFY2(linesDiffer.empty(), linesDiffer.c_str());
    QVERIFY(lines.rows.size() > 2);
    QCOMPARE(lines.sheets, std::vector<std::string>{"挖掘"});
    QCOMPARE(lines.rows[1][1].type, std::string("n"));
    QCOMPARE(lines.rows[1][3].type, std::string("s"));  // 优化难度 is no count
    QVERIFY2(mine.err.startsWith(QStringLiteral("lanshu-collector: wrote %1 (%2 bytes)\n").arg(mined).arg(QFileInfo(mined).size())),
             qPrintable(mine.err));
  }

  // A site that throttles is waited out: each wait told on its own line
  // and counted in the report, the result as if it never had; a page that
  // stays throttled past the patience fails "throttled", not as a wall.
  void aThrottlingSiteIsWaitedOutAndTold() {
    site_.UpdateOptions([](demo::Options& o) {
      o.keywordPages = 2;
      o.throttlePercent = o.busyPercent = 100;
    });
    const QString settings = Path(QStringLiteral("throttled.ini"));
    Settings(settings)
        .Mining(QStringLiteral("减肥"), Path(QStringLiteral("unused")), false)
        .Set("采集可靠性", "限流等待秒", QStringLiteral("1"));
    const QString out = Path(QStringLiteral("throttled.csv")), report = Path(QStringLiteral("throttled.json"));
    Ran o = RunProgram(Batch("mine", settings, out) << QStringLiteral("--report") << report);
    QVERIFY2(o.finished && o.status == QProcess::NormalExit && o.code == 0, qPrintable(o.err));
    std::string expected = G("关键词,搜索量,收录量,优化难度") + "\r\n";
    for (int page = 1; page <= 2; ++page) expected += MiningLines(site_.ExpectedKeywordRows(G("减肥"), page));
    COMPARE_GBK(ReadFileOrEmpty(out).toStdString(), expected);
    // Retry-After: 2 first, then the notice's own wait.
    const QStringList lines = o.err.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    QCOMPARE(lines.mid(0, 4), QStringList({
        QStringLiteral("lanshu-collector: throttled: mine 减肥 page 1: waiting 2 s"),
        QStringLiteral("lanshu-collector: throttled: mine 减肥 page 1: waiting 1 s"),
        QStringLiteral("lanshu-collector: throttled: mine 减肥 page 2: waiting 2 s"),
        QStringLiteral("lanshu-collector: throttled: mine 减肥 page 2: waiting 1 s")}));
    QVERIFY2(lines.last().startsWith(QStringLiteral("lanshu-collector: done: mine 16 rows, 2 pages (0 failed, 0 blocked)")),
             qPrintable(o.err));
    const QByteArray json = ReadFileOrEmpty(report);
    QCOMPARE(json.count("\"attempts\": 3, \"rows\": 8, \"throttleWaits\": 2, \"throttledSeconds\": 3}"), 2);

    // Page 2 throttled for ever, and no patience for it.
    site_.UpdateOptions([](demo::Options& o) {
      o.throttlePercent = o.busyPercent = 0;
      o.faults.push_back({demo::Fault::Kind::kBusy, demo::KeywordFaultPath("减肥", 2)});
    });
    Settings(settings).Set("采集可靠性", "限流最长分钟", QStringLiteral("0"));
    o = RunProgram(Batch("mine", settings, out));
    QVERIFY2(o.finished && o.code == 3, qPrintable(o.err));
    QVERIFY2(o.err.contains(QStringLiteral("lanshu-collector: failed: mine 减肥 page 2: throttled\n")), qPrintable(o.err));
  }

  // A wall with nobody there: --wait-for-login loads the page again until
  // it passes; without it the run ends at the wall, as ever.
  void aWallIsWaitedOutOnlyWhenTold() {
    site_.UpdateOptions([](demo::Options& o) {
      o.keywordPages = 2;
      o.logoutPercent = 100;  // every page's first answer: the login page
    });
    const QString settings = Path(QStringLiteral("walls.ini"));
    Settings(settings)
        .Mining(QStringLiteral("减肥"), Path(QStringLiteral("unused")), false)
        .Set("采集可靠性", "等待登录间隔秒", QStringLiteral("1"));
    const QString out = Path(QStringLiteral("walls.csv"));
    Ran o = RunProgram(Batch("mine", settings, out) << QStringLiteral("--wait-for-login") << QStringLiteral("5"));
    QVERIFY2(o.finished && o.code == 0, qPrintable(o.err));
    QVERIFY2(o.err.contains(QStringLiteral("done: mine 16 rows, 2 pages (0 failed, 0 blocked)")), qPrintable(o.err));

    demo::DemoSite fresh;  // its pages have not been asked yet
    QVERIFY(fresh.Start());
    fresh.SetOptions(site_.GetOptions());
    o = RunProgram(QStringList({QStringLiteral("--settings"), settings, QStringLiteral("--batch"), QStringLiteral("mine"),
                                QStringLiteral("--out"), out}) +
                   SiteArguments(fresh.BaseUrl()));
    QVERIFY2(o.finished && o.code == 4, qPrintable(o.err));
    QVERIFY2(o.err.contains(QStringLiteral("lanshu-collector: blocked: mine 减肥 page 1: login page")), qPrintable(o.err));
    fresh.Stop();
  }

  void badArgumentsExitWithStatusTwo() {
    const QString out = Path(QStringLiteral("never.csv"));
    const std::vector<std::pair<QStringList, QString>> cases = {
        {{QStringLiteral("--batch"), QStringLiteral("fetch"), QStringLiteral("--out"), out}, QStringLiteral("--batch takes rank, mine, compare, export or history, not fetch")},
        {{QStringLiteral("--batch"), QStringLiteral("mine")}, QStringLiteral("--batch needs --out FILE")},
        {{QStringLiteral("--out"), out}, QStringLiteral("--out is only used with --batch")},
        {{QStringLiteral("--frobnicate")}, QStringLiteral("unknown argument: --frobnicate")},
        {{QStringLiteral("--batch"), QStringLiteral("mine"), QStringLiteral("--settings")}, QStringLiteral("missing value after --settings")},
        {{QStringLiteral("--resume")}, QStringLiteral("--resume is only used with --batch rank or mine")},
        {{QStringLiteral("--batch"), QStringLiteral("rank"), QStringLiteral("--out"), out, QStringLiteral("--resume"),
          QStringLiteral("--campaign"), QStringLiteral("w")},
         QStringLiteral("--resume and --campaign exclude each other")},
        {{QStringLiteral("--batch"), QStringLiteral("export"), QStringLiteral("--out"), out},
         QStringLiteral("--batch export needs either --run N or --campaign NAME")},
        {{QStringLiteral("--batch"), QStringLiteral("mine"), QStringLiteral("--out"), out, QStringLiteral("--resume"),
          QStringLiteral("--no-history")},
         QStringLiteral("--resume needs the history, not --no-history")},
        {{QStringLiteral("--batch"), QStringLiteral("mine"), QStringLiteral("--out"), out, QStringLiteral("--wait-for-login"),
          QStringLiteral("soon")},
         QStringLiteral("--wait-for-login takes minutes from 0 to 100000, not soon")},
        {{QStringLiteral("--wait-for-login"), QStringLiteral("5")},
         QStringLiteral("--wait-for-login is only used with --batch rank or mine")},
    };
    for (const auto& [arguments, why] : cases) {
      const Ran o = RunProgram(arguments);
      QVERIFY2(o.finished && o.status == QProcess::NormalExit, qPrintable(arguments.join(' ')));
      QCOMPARE(o.code, 2);
      QVERIFY2(o.err.contains(why) && o.err.contains(QStringLiteral("usage:")), qPrintable(o.err));
    }
    QVERIFY(!QFile::exists(out));
  }

  void aSettingsFileThatCannotBeReadStopsTheRun() {
    const QString out = Path(QStringLiteral("nosettings.csv"));
    QVERIFY(QDir().mkpath(Path(QStringLiteral("settings-dir.ini"))));
    for (const QString& settings : {Path(QStringLiteral("missing.ini")), Path(QStringLiteral("settings-dir.ini"))}) {
      const Ran o = RunProgram(Batch("mine", settings, out));
      QVERIFY(o.finished && o.status == QProcess::NormalExit);
      QVERIFY2(o.code != 0, qPrintable(o.err));
      QVERIFY2(o.err.contains(QStringLiteral("settings file")), qPrintable(o.err));
      QVERIFY(!QFile::exists(out));
    }
    QVERIFY(!QFile::exists(Path(QStringLiteral("missing.ini"))));  // not made up either
    QVERIFY(site_.Requests().empty());
  }

  void anUnwritableOutputFileStopsTheRunBeforeItStarts() {
    const QString settings = Path(QStringLiteral("unwritable.ini"));
    Settings(settings).Mining(QStringLiteral("减肥"), Path(QStringLiteral("unused")), false);
    QVERIFY(QDir().mkpath(Path(QStringLiteral("out-dir.csv"))));
    const std::vector<std::pair<QString, QString>> cases = {
        {Path(QStringLiteral("no-such-dir/out.csv")), QStringLiteral("its directory does not exist")},
        {Path(QStringLiteral("out-dir.csv")), QStringLiteral("is a directory")},
        {QStringLiteral("/proc/lanshu-out.csv"), QStringLiteral("cannot be written")},
    };
    for (const auto& [out, why] : cases) {
      const Ran o = RunProgram(Batch("mine", settings, out));
      QVERIFY(o.finished && o.status == QProcess::NormalExit);
      QVERIFY2(o.code != 0, qPrintable(out));
      QVERIFY2(o.err.contains(QStringLiteral("cannot write ") + out) && o.err.contains(why), qPrintable(o.err));
    }
    QVERIFY(site_.Requests().empty());  // nothing was collected in vain
  }

  void aResultFolderThatCannotBeMadeStopsTheRunBeforeItStarts() {
    QFile(Path(QStringLiteral("a-file"))).open(QIODevice::WriteOnly);
    const QString folder = Path(QStringLiteral("a-file/results"));
    const QString settings = Path(QStringLiteral("badfolder.ini"));
    Settings(settings).Mining(QStringLiteral("减肥"), folder, true);
    const QString out = Path(QStringLiteral("badfolder.csv"));
    const Ran o = RunProgram(Batch("mine", settings, out));
    QVERIFY(o.finished && o.status == QProcess::NormalExit);
    QCOMPARE(o.code, 1);
    QVERIFY2(o.err.contains(QStringLiteral("lanshu-collector: cannot use result folder ") + folder +
                            QStringLiteral("/: a file stands in the path")),
             qPrintable(o.err));
    QVERIFY(!QFile::exists(out));
    for (const auto& r : site_.Requests())  // the login tab's page only, no keyword page
      QVERIFY2(r.path == "/user.php" || r.path == "/favicon.ico", r.path.c_str());
  }

  // A site that is down is no "no data": the file is still written, and
  // every page that failed is named on standard error and in the status.
  void anUnreachableSiteIsToldAndTheFileStillWritten() {
    const QStringList sites = SiteArguments("http://127.0.0.1:" + std::to_string(UnusedPort()));
    const QString settings = Path(QStringLiteral("unreachable.ini"));
    Settings(settings)
        .Mining(QStringLiteral("减肥\n丰胸"), Path(QStringLiteral("unused")), false)
        .Set("基本参数", "域名", QStringLiteral("a.test"))
        .Set("基本参数", "导出模式", QStringLiteral("0"));

    const QString mined = Path(QStringLiteral("unreachable.csv"));
    const QStringList fast{QStringLiteral("--retries"), QStringLiteral("0")};
    Ran o = RunProgram(QStringList({QStringLiteral("--settings"), settings, QStringLiteral("--batch"),
                                        QStringLiteral("mine"), QStringLiteral("--out"), mined}) + sites + fast);
    QVERIFY2(o.finished && o.status == QProcess::NormalExit && o.code == 3, qPrintable(o.err));
    COMPARE_GBK(ReadFileOrEmpty(mined).toStdString(), G("关键词,搜索量,收录量,优化难度") + "\r\n");
    QVERIFY(!o.err.contains(QStringLiteral("获取完成")));  // quiet without --verbose
    QVERIFY2(o.err.contains(QStringLiteral("lanshu-collector: done: mine 0 rows, 2 pages (2 failed, 0 blocked) in ")),
             qPrintable(o.err));
    QVERIFY2(o.err.contains(QStringLiteral("lanshu-collector: failed: mine 减肥 page 1: connection refused\n")), qPrintable(o.err));
    QVERIFY(o.err.contains(QStringLiteral("lanshu-collector: failed: mine 丰胸 page 1: connection refused\n")));

    const QString ranked = Path(QStringLiteral("unreachable-rank.csv"));
    o = RunProgram(QStringList({QStringLiteral("--settings"), settings, QStringLiteral("--batch"),
                                QStringLiteral("rank"), QStringLiteral("--out"), ranked}) + sites + fast);
    QVERIFY2(o.finished && o.status == QProcess::NormalExit && o.code == 3, qPrintable(o.err));
    // An empty list exports its header line alone.
    COMPARE_GBK(ReadFileOrEmpty(ranked).toStdString(), G("序号,域名,关键字,排名,搜索量,收录量,网页标题,链接") + "\r\n");
    QVERIFY2(o.err.contains(QStringLiteral("lanshu-collector: failed: rank a.test page 1: connection refused\n")), qPrintable(o.err));
  }

  // A result folder on a disk that fills up: the run stops at the first line
  // that cannot be saved, FILE still gets every line collected, the history
  // keeps the run as failed with the reason, and the exit status is 1.
  void aFullDiskStopsTheRunWithStatusOne() {
    if (geteuid() != 0) QSKIP("mounting a file system needs root");
    const QString folder = Path(QStringLiteral("tiny"));
    QVERIFY(QDir().mkpath(folder));
    QVERIFY(::mount("tmpfs", folder.toUtf8().constData(), "tmpfs", 0, "size=16k") == 0);
    struct Unmount {
      QString folder;
      ~Unmount() { ::umount(folder.toUtf8().constData()); }
    } unmount{folder};
    site_.UpdateOptions([](demo::Options& o) {
      o.keywordPages = 3;
      o.keywordRowsPerPage = 150;
    });
    const QString settings = Path(QStringLiteral("full.ini"));
    Settings(settings).Mining(QStringLiteral("减肥\n丰胸"), folder, true);
    const QString out = Path(QStringLiteral("full.csv"));
    const QString db = Path(QStringLiteral("full.sqlite"));
    const Ran o = RunProgram(Batch("mine", settings, out) << QStringLiteral("--history") << db);
    QVERIFY2(o.finished && o.status == QProcess::NormalExit && o.code == 1, qPrintable(o.err));
    const QStringList files = QDir(folder).entryList({QStringLiteral("全部结果_*.csv")}, QDir::Files);
    QCOMPARE(files.size(), 1);
    const QString file = folder + QLatin1Char('/') + files[0];
    const QString why = QStringLiteral("lanshu-collector: cannot write %1: no space left on device\n").arg(file);
    QVERIFY2(o.err.contains(why), qPrintable(o.err));
    QVERIFY2(o.err.contains(QStringLiteral("lanshu-collector: wrote ") + out), qPrintable(o.err));
    // FILE has every line shown; the result file holds a prefix of them.
    const QByteArray all = ReadFileOrEmpty(out);
    const QByteArray saved = ReadFileOrEmpty(file);
    QVERIFY(all.startsWith(G("关键词,搜索量,收录量,优化难度\r\n").c_str()));
    QVERIFY(saved.size() < all.size());
    QVERIFY(all.mid(all.indexOf('\n') + 1).startsWith(saved.left(saved.lastIndexOf('\n') + 1)));
    history::HistoryStore store;
    QVERIFY(store.Open(ToGbk(db)));
    const auto runs = store.ListRuns();
    QVERIFY(runs && runs->size() == 1);
    QCOMPARE(history::EndingName(runs->front().ending), "failed");
    QCOMPARE(QString::fromStdString(runs->front().reason) + QLatin1Char('\n'), why.mid(18));
  }

  // --help and --version answer on standard output with or without a
  // display, before any window or browser engine starts.
  void helpAndVersionNeedNoDisplay() {
    for (const char* option : {"--help", "--version"}) {
      QProcess p;
      QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
      env.remove(QStringLiteral("DISPLAY"));
      env.remove(QStringLiteral("WAYLAND_DISPLAY"));
      env.remove(QStringLiteral("QT_QPA_PLATFORM"));
      p.setProcessEnvironment(env);
      p.start(QStringLiteral(LANSHU_COLLECTOR_EXE), {QLatin1String(option)});
      QVERIFY(p.waitForFinished(60000));
      QCOMPARE(p.exitStatus(), QProcess::NormalExit);
      QCOMPARE(p.exitCode(), 0);
      const QString out = QString::fromUtf8(p.readAllStandardOutput());
      QVERIFY2(out.startsWith(QLatin1String(std::string(option) == "--help" ? "usage: lanshu-collector" : "lanshu-collector ")),
               qPrintable(out));
      QCOMPARE(p.readAllStandardError(), QByteArray());
    }
  }

  // A run that cannot start writes nothing and exits 1 with the window's message.
  void runsThatCannotStartExitWithStatusOne() {
    const QString out = Path(QStringLiteral("nothing.csv"));
    const QString noSeeds = Path(QStringLiteral("noseeds.ini"));
    Settings(noSeeds).Mining(QString(), Path(QStringLiteral("unused")), false).Set("基本参数", "域名", QString());
    Ran o = RunProgram(Batch("mine", noSeeds, out));
    QVERIFY2(o.finished && o.code == 1, qPrintable(o.err));
    QCOMPARE(o.err, QStringLiteral("lanshu-collector: nothing to collect: the settings name no seed\n"));
    o = RunProgram(Batch("rank", noSeeds, out) << QStringLiteral("--verbose"));
    QVERIFY2(o.finished && o.code == 1, qPrintable(o.err));
    QVERIFY(o.err.contains(QStringLiteral("请先输入要查询站点的域名！")));
    QVERIFY(o.err.contains(QStringLiteral("lanshu-collector: nothing to collect: the settings name no domain\n")));
    QVERIFY(!QFile::exists(out));

    // Random bytes are no settings file: nothing is mined with built-in seeds.
    const QString random = Path(QStringLiteral("random.ini"));
    {
      QFile f(random);
      QVERIFY(f.open(QIODevice::WriteOnly));
      QByteArray bytes;
      for (int i = 0; i < 4096; ++i) bytes.append(static_cast<char>((i * 7919 + 13) % 251));
      f.write(bytes);
    }
    o = RunProgram(Batch("mine", random, out));
    QVERIFY2(o.finished && o.code == 1, qPrintable(o.err));
    QVERIFY2(o.err.contains(QStringLiteral("lanshu-collector: the settings file holds none of the program's settings: ")),
             qPrintable(o.err));
    QVERIFY(!QFile::exists(out));
    const auto requests = site_.Requests();
    QVERIFY(std::all_of(requests.begin(), requests.end(), [](const auto& r) {
      return r.path == "/user.php" || r.path == "/favicon.ico";
    }));
  }

  // Each outcome of one page, in both runs: the exit status, the one
  // standard-error line, the report, and the rows of the ok pages exactly as
  // a clean run lists them.
  void faultMatrix() {
    struct Case {
      const char* fault;  // of page 2; "" for none
      int status;
      const char* line;  // "" for none
      bool page2Rows;    // page 2's rows are in the file
      bool page3;        // the run went on to page 3
    };
    const Case cases[] = {
        {"", 0, "", true, true},
        {"500", 3, "failed: %1 page 2: HTTP 500", false, true},
        {"nodata", 0, "", false, true},
        {"garbage", 3, "failed: %1 page 2: no results block", false, true},
        // Rank pages of 6,000 rows take the browser long to lay out: the rank
        // side of "too many rows" is tested without the browser.
        {"huge", 3, "failed: %1 page 2: too many rows", false, true},
        {"login", 4, "blocked: %1 page 2: login page", false, false},
        {"verify", 4, "blocked: %1 page 2: verification page", false, false},
    };
    const QString settings = Path(QStringLiteral("matrix.ini"));
    Settings(settings)
        .Mining(QStringLiteral("减肥"), Path(QStringLiteral("unused")), false)
        .Set("基本参数", "域名", QStringLiteral("a.test"))
        .Set("基本参数", "排序", QStringLiteral("0"))
        .Set("基本参数", "导出模式", QStringLiteral("0"))
        .Check("搜索量", false).Check("收录量", false).Check("第一位", false).Check("第二位", false)
        .Check("优化难度", false)
        .Check("自动过滤重复关键字", false)
        .Check("转换百度链接", false);
    for (const char* kind : {"rank", "mine"}) {
      const bool rank = std::string(kind) == "rank";
      const QString target = rank ? QStringLiteral("rank a.test") : QStringLiteral("mine 减肥");
      for (const Case& c : cases) {
        if (rank && std::string(c.fault) == "huge") continue;
        site_.SetOptions(demo::Options());
        if (*c.fault) {
          demo::Options options;
          const std::string spec = (rank ? std::string("rank:a.test:2=") : std::string("mine:减肥:2=")) + c.fault;
          QVERIFY(demo::ParseDemoFaults(spec, options));
          site_.SetOptions(options);
        }
        const QString out = Path(QStringLiteral("matrix.csv"));
        const QString report = Path(QStringLiteral("matrix.json"));
        const Ran o = RunProgram(Batch(kind, settings, out) +
                                     QStringList({QStringLiteral("--retries"), QStringLiteral("0"),
                                                  QStringLiteral("--report"), report}));
        const QString what = QStringLiteral("%1 %2: ").arg(QLatin1String(kind), QLatin1String(c.fault));
        QVERIFY2(o.finished && o.status == QProcess::NormalExit, qPrintable(what + o.err));
        QVERIFY2(o.code == c.status, qPrintable(what + QString::number(o.code) + o.err));
        // Only the program's own lines, and the one for the page.
        const QString expectedLine = *c.line ? QStringLiteral("lanshu-collector: ") + QString::fromUtf8(c.line).arg(target) : QString();
        const QStringList own = o.err.split(QLatin1Char('\n')).filter(QRegularExpression(QStringLiteral("^lanshu-collector: (failed|blocked)")));
        QCOMPARE(own, expectedLine.isEmpty() ? QStringList() : QStringList({expectedLine}));
        QVERIFY2(!o.err.contains(QStringLiteral("js:")) && !o.err.contains(QStringLiteral("Sandboxing")), qPrintable(o.err));

        std::string expected = rank ? G("序号,域名,关键字,排名,搜索量,收录量,网页标题,链接") : G("关键词");
        for (int page = 1; page <= 3; ++page) {
          if ((page == 2 && !c.page2Rows) || (page == 3 && !c.page3)) continue;
          if (rank) {
            for (const demo::RankRow& row : site_.ExpectedRankRows("a.test", page, "position")) {
              std::string line;
              for (const std::string& cell : RankCells(row, "a.test")) line += (line.empty() ? "" : ",") + CsvCell(cell);
              expected += "\r\n" + line;
            }
          } else {
            for (const demo::KeywordRow& row : site_.ExpectedKeywordRows(G("减肥"), page))
              if (row.hasCells) expected += "\r\n" + row.keyword;
          }
        }
        if (!rank) expected += "\r\n";
        COMPARE_GBK(ReadFileOrEmpty(out).toStdString(), expected);

        QFile json(report);
        QVERIFY(json.open(QIODevice::ReadOnly));
        const QJsonObject doc = QJsonDocument::fromJson(json.readAll()).object();
        QCOMPARE(doc.value(QStringLiteral("kind")).toString(), QLatin1String(kind));
        QCOMPARE(doc.value(QStringLiteral("status")).toInt(), c.status);
        const QJsonArray pages = doc.value(QStringLiteral("pages")).toArray();
        QCOMPARE(pages.size(), c.page3 ? 3 : 2);
        const QJsonObject second = pages.at(1).toObject();
        QCOMPARE(second.value(QStringLiteral("page")).toInt(), 2);
        QCOMPARE(second.value(QStringLiteral("outcome")).toString(),
                 QString::fromLatin1(*c.line ? (c.status == 4 ? "blocked" : "failed") : "ok"));
      }
    }
  }

  // Killed in the middle of a run, the per-run result file holds complete
  // lines only, and every line written before the kill.
  void killedMidRunKeepsEveryLineWrittenSoFar() {
    site_.UpdateOptions([](demo::Options& o) { o.delayMs = 150; });
    const QString saved = Path(QStringLiteral("saved"));
    const QString settings = Path(QStringLiteral("kill.ini"));
    const QStringList seeds = {QStringLiteral("甲"), QStringLiteral("乙"), QStringLiteral("丙"),
                               QStringLiteral("丁"), QStringLiteral("戊"), QStringLiteral("己"),
                               QStringLiteral("庚"), QStringLiteral("辛")};  // seconds of work left at the kill
    Settings(settings).Mining(seeds.join(QLatin1Char('\n')), saved, true);
    std::string all;
    std::size_t beforeThird = 0;  // bytes of the lines of 甲 and 乙
    for (int s = 0; s < seeds.size(); ++s) {
      if (s == 2) beforeThird = all.size();
      for (int page = 1; page <= 3; ++page) all += MiningLines(site_.ExpectedKeywordRows(ToGbk(seeds[s]), page));
    }

    QProcess p;
    p.setProcessEnvironment(ChildEnvironment());
    p.start(QStringLiteral(LANSHU_COLLECTOR_EXE), Batch("mine", settings, Path(QStringLiteral("kill.csv"))) << QStringLiteral("--verbose"));
    QVERIFY(p.waitForStarted(60000));
    // Seed 丙's page 1 is in: every line of 甲 and 乙 has been written.
    QString err;
    QElapsedTimer t;
    t.start();
    while (!err.contains(QStringLiteral("关键词：丙  当前页：1")) && p.state() == QProcess::Running && t.elapsed() < 300000) {
      p.waitForReadyRead(100);
      err += QString::fromUtf8(p.readAllStandardError());
    }
    QVERIFY2(p.state() == QProcess::Running, qPrintable(err));
    const QStringList files = QDir(saved).entryList({QStringLiteral("全部结果_*.csv")}, QDir::Files);
    QCOMPARE(files.size(), 1);
    const QString file = saved + QLatin1Char('/') + files[0];
    const QByteArray seen = ReadFileOrEmpty(file);
    p.kill();  // SIGKILL: nothing of the program runs after it
    QVERIFY(p.waitForFinished(30000));
    QCOMPARE(p.exitStatus(), QProcess::CrashExit);

    const std::string left = ReadFileOrEmpty(file).toStdString();
    QVERIFY2(left.size() >= beforeThird, qPrintable(QStringLiteral("%1 of %2 bytes").arg(left.size()).arg(beforeThird)));
    QVERIFY(left.size() >= static_cast<std::size_t>(seen.size()));
    QVERIFY(left.size() < all.size());  // the kill did come mid-run
    QVERIFY(left.size() >= 2 && left.compare(left.size() - 2, 2, "\r\n") == 0);  // ends with a whole line
    COMPARE_GBK(left, all.substr(0, left.size()));  // the lines in order, none cut
  }
};

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  BatchTest test;
  return QTest::qExec(&test, argc, argv);
}

#include "batch_test.moc"
