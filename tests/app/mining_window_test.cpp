// Keyword mining driven through the window against the demo site's keyword
// pages: seeds, metric columns, the limit, stopping, the result files and the
// messages. The expected lines are built from the rows the site put in.
#include <QApplication>
#include <QDir>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QWebEngineView>

#include "AppTestSupport.h"
#include "TestSupport.h"
#include "app/Application.h"
#include "app/MainWindow.h"
#include "app/QtText.h"
#include "app/Widgets.h"
#include "demo/DemoFaults.h"
#include "demo/DemoSite.h"
#include "mining/Mining.h"
#include "results/Export.h"
#include "text/Csv.h"
#include "text/Entities.h"
#include "hooks/Events.h"
#include "hooks/MessageBox.h"

using namespace lanshu;
using namespace lanshu::testing;

namespace {

QStringList FilesIn(const QString& dir) { return QDir(dir).entryList(QDir::Files, QDir::Name); }

struct Columns {
  bool volume = false, indexed = false, first = false, second = false, difficulty = false;
};
const Columns kAll{true, true, true, true, true};

// A site cell's value: references decoded, the tags that decoded angle
// brackets form dropped, then every comma, "&#44;" included, full-width.
std::string SiteValue(const std::string& written) {
  const std::string text = DecodeEntities(written);
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const std::size_t close = text[i] == '<' ? text.find('>', i + 2) : std::string::npos;
    if (close != std::string::npos) i = close;
    else out += text[i] == ',' ? G("，") : std::string(1, text[i]);
  }
  return out;
}

// The line a row must give; keyword replaces the row's own (a kept seed). A
// row without a keyword gives none.
std::string Line(const demo::KeywordRow& row, const Columns& c, const std::string* keyword = nullptr) {
  std::string line = keyword ? *keyword : row.keyword;
  if (line.empty()) return std::string();
  line = CsvCell(line);
  if (c.volume) line += "," + CsvCell(row.volume);
  if (c.indexed) line += "," + CsvCell(row.indexed);
  if (c.first) line += "," + CsvCell(SiteValue(row.first));
  if (c.second) line += "," + CsvCell(SiteValue(row.second));
  if (c.difficulty) line += "," + (row.hasCells ? std::to_string(row.level) : std::string());
  return line + "\r\n";
}

std::string Lines(const std::vector<demo::KeywordRow>& rows, const Columns& c, std::size_t count = SIZE_MAX) {
  std::string out;
  for (std::size_t i = 0; i < rows.size() && i < count; ++i) out += Line(rows[i], c);
  return out;
}

const QString kStamp = QStringLiteral("2024年3月5日14时7分9秒");

}  // namespace

class MiningWindowTest : public QObject {
  Q_OBJECT

  QTemporaryDir dir_;
  std::unique_ptr<Application> app_;
  std::vector<Message> messages_;
  int runDir_ = 0;

  MainWindow& W() { return *app_->Window(); }
  demo::DemoSite& Site() { return *app_->Demo(); }
  KeywordMining& Mining() { return app_->Mining(); }

  void SetColumns(const Columns& c) {
    W().选择框搜索量->setChecked(c.volume);
    W().选择框收录量->setChecked(c.indexed);
    W().选择框第一位->setChecked(c.first);
    W().选择框第二位->setChecked(c.second);
    W().选择框优化难度->setChecked(c.difficulty);
  }
  // A directory of its own for each test's files (not created yet).
  QString FreshDirectory() { return dir_.path() + QStringLiteral("/run") + QString::number(++runDir_); }

  // Clicks the start button and waits for the final message.
  void Run() {
    const std::size_t before = messages_.size();
    QTimer::singleShot(0, W().按钮开始挖掘, [this] { W().按钮开始挖掘->click(); });
    QVERIFY(WaitFor([&] { return messages_.size() > before; }, 120000));
  }
  std::string Results() { return W().编辑框结果关键词->GbkText(); }
  // Decoded paths of the keyword pages fetched, in order.
  QStringList Fetched() {
    QStringList out;
    for (const auto& r : Site().Requests())
      if (r.path != "/user.php" && r.path != "/favicon.ico") out << QString::fromStdString(r.path);
    return out;
  }
  std::vector<demo::KeywordRow> Rows(const char* seed, int page) {
    return Site().ExpectedKeywordRows(G(seed), page);
  }
  QString Total(int n) { return QStringLiteral("获取完成！总共 %1 个关键词！").arg(n); }

 private slots:
  void initTestCase() {
    QVERIFY(dir_.isValid());
    SetEventPump([] { QCoreApplication::processEvents(); }, 5);
    Application::InstallEventWait();  // waits run the event loop, as in the program
    SetMessageBoxHook([this](const std::string& text, int flags, const std::string& title) {
      messages_.push_back({FromGbk(title), FromGbk(text), flags});
      return kIdOk;
    });
    CommandLine cl;
    cl.settingsFile = (dir_.path() + QStringLiteral("/mining.ini")).toStdString();
    cl.demo = true;
    app_ = std::make_unique<Application>(cl);
    QVERIFY(app_->Ok());
    W().show();
    // As a user would: the login tab has loaded the user page first.
    WaitFor([this] { return !W().时钟1->isActive(); }, 5000);
    QTest::qWait(800);
  }
  void cleanupTestCase() { app_.reset(); }
  // A test's own pump may hold references to its locals.
  void cleanup() { SetEventPump([] { QCoreApplication::processEvents(); }, 5); }

  void init() {
    messages_.clear();
    Site().SetOptions(demo::Options());
    Site().ClearLog();
    MainWindow& w = W();
    SetColumns(Columns());
    w.选择框保留加入->setChecked(true);
    w.选择框自动保存目录->setChecked(false);
    w.选择框独立保存->setChecked(false);
    w.编辑框限定数量->setText(QStringLiteral("0"));
    w.编辑框页间隔->setText(QStringLiteral("0"));
    w.编辑框关键词间隔->setText(QStringLiteral("0"));
    w.编辑框扩展名->setText(QStringLiteral("csv"));
    w.编辑框目录->setText(FreshDirectory());
    Mining().now = FixedClock;
  }

  void minesEverySeedPageByPageWithAllColumns() {
    Site().UpdateOptions([](demo::Options& o) { o.keywordPages = 2; });
    // The empty line is no seed, the last break adds none.
    W().编辑框关键词列表->setPlainText(QStringLiteral("减肥\n\n丰胸\n"));
    SetColumns(kAll);
    Run();

    QCOMPARE(Fetched(), QStringList({"/减肥/1/", "/减肥/2/", "/丰胸/1/", "/丰胸/2/"}));
    std::string expected;
    for (const char* seed : {"减肥", "丰胸"})
      for (int page = 1; page <= 2; ++page) expected += Lines(Rows(seed, page), kAll);
    COMPARE_GBK(Results(), expected);
    // The site cells' quirks, spelled out: a literal comma, "&amp;", "&#44;"
    // and encoded angle brackets around a word.
    const QString text = FromGbk(Results());
    QVERIFY(text.contains(QStringLiteral("好站，专业站")));
    QVERIFY(text.contains(QStringLiteral("建材 & 家居")));
    QVERIFY(text.contains(QStringLiteral("站点，分站")));
    QVERIFY(text.contains(QStringLiteral(",推荐站点")));
    for (const char* reference : {"&amp;", "&#44;", "&lt;", "&gt;"}) QVERIFY(!text.contains(QLatin1String(reference)));

    COMPARE_GBK(Mining().state.csvHeader, G("关键词,搜索量,收录量,第一位,第二位,优化难度"));
    QCOMPARE(messages_.size(), size_t(1));
    QCOMPARE(messages_[0].text, Total(32));
    // Read back as comma-separated text: one cell per column on every line.
    std::vector<std::vector<std::string>> records;
    QVERIFY(ReadCsv(MiningExportText(Results(), Mining().state.csvHeader, "x.csv"), records));
    QCOMPARE(records.size(), size_t(33));
    for (const auto& record : records) QCOMPARE(record.size(), size_t(6));
    QCOMPARE(messages_[0].title, QStringLiteral("信息："));
    QCOMPARE(messages_[0].flags, 0x2000);
    QCOMPARE(W().按钮开始挖掘->text(), QStringLiteral("开始挖掘"));
    QCOMPARE(W().StatusText(), QStringLiteral("关键词：丰胸  当前页：2  总：2"));
  }

  // The metric boxes are read once, when the run starts: ticking one during
  // the run changes the next run only, so every line has the header's columns.
  void metricBoxesAreReadOnceWhenTheRunStarts() {
    Site().UpdateOptions([](demo::Options& o) { o.keywordPages = 2; });
    W().编辑框关键词列表->setPlainText(QStringLiteral("减肥"));
    Columns onPage2 = kAll;
    QObject guard;
    connect(app_->Window(), &MainWindow::statusChanged, &guard, [&](const QString& status) {
      if (status.contains(QStringLiteral("当前页：2"))) SetColumns(onPage2);
    });

    // None ticked at the start, all from page 2 on: none all through.
    Run();
    COMPARE_GBK(Results(), Lines(Rows("减肥", 1), Columns()) + Lines(Rows("减肥", 2), Columns()));
    COMPARE_GBK(Mining().state.csvHeader, G("关键词"));

    // All ticked at the start, none from page 2 on: all all through; the
    // header replaces the last one.
    SetColumns(kAll);
    onPage2 = Columns();
    Run();
    COMPARE_GBK(Results(), Lines(Rows("减肥", 1), kAll) + Lines(Rows("减肥", 2), kAll));
    COMPARE_GBK(Mining().state.csvHeader, G("关键词,搜索量,收录量,第一位,第二位,优化难度"));

    // Two ticked: the header keeps their order.
    SetColumns({false, true, false, false, true});
    onPage2 = {false, true, false, false, true};
    Run();
    COMPARE_GBK(Mining().state.csvHeader, G("关键词,收录量,优化难度"));
    QCOMPARE(messages_.back().text, Total(16));
  }

  void theLimitEndsASeedAfterThePageThatReachedIt() {
    W().编辑框关键词列表->setPlainText(QStringLiteral("减肥\n丰胸"));
    W().编辑框限定数量->setText(QStringLiteral("5"));  // 8 rows per page, 3 pages
    W().选择框搜索量->setChecked(true);
    Run();
    QCOMPARE(Fetched(), QStringList({"/减肥/1/", "/丰胸/1/"}));
    const Columns volume{true, false, false, false, false};
    COMPARE_GBK(Results(), Lines(Rows("减肥", 1), volume, 5) + Lines(Rows("丰胸", 1), volume, 5));
    QCOMPARE(messages_.back().text, Total(10));

    // 8 reaches the limit with the last row of page 1; 9 needs page 2.
    W().编辑框关键词列表->setPlainText(QStringLiteral("减肥"));
    W().编辑框限定数量->setText(QStringLiteral("8"));
    Site().ClearLog();
    Run();
    QCOMPARE(Fetched(), QStringList({"/减肥/1/"}));
    W().编辑框限定数量->setText(QStringLiteral("9"));
    Site().ClearLog();
    Run();
    QCOMPARE(Fetched(), QStringList({"/减肥/1/", "/减肥/2/"}));
    COMPARE_GBK(Results(), Lines(Rows("减肥", 1), volume) + Lines(Rows("减肥", 2), volume, 1));
  }

  void pageLinksClosedInCapitalsCount() {
    Site().UpdateOptions([](demo::Options& o) {
      o.pageLinksInCapitals = true;
      o.keywordPages = 4;
    });
    W().编辑框关键词列表->setPlainText(QStringLiteral("减肥"));
    Run();
    QCOMPARE(Fetched(), QStringList({"/减肥/1/", "/减肥/2/", "/减肥/3/", "/减肥/4/"}));
    QCOMPARE(messages_.back().text, Total(32));
    QCOMPARE(W().StatusText(), QStringLiteral("关键词：减肥  当前页：4  总：4"));
  }

  void aSeedWithoutRelatedKeywordsIsKeptWhenAsked() {
    Site().UpdateOptions([](demo::Options& o) {
      o.keywordNoResultSeeds = {G("无结果词")};
      o.keywordPages = 1;
    });
    W().编辑框关键词列表->setPlainText(QStringLiteral("无结果词\n减肥"));
    const Columns c{true, false, false, false, true};
    SetColumns(c);
    const std::vector<demo::KeywordRow> none = Rows("无结果词", 1);
    QCOMPARE(none.size(), size_t(1));
    QVERIFY(!none[0].hasCells);
    const std::string seed = G("无结果词");

    Run();
    COMPARE_GBK(Results(), Line(none[0], c, &seed) + Lines(Rows("减肥", 1), c));
    QCOMPARE(messages_.back().text, Total(9));

    // Not kept: a row without a keyword gives no line.
    W().选择框保留加入->setChecked(false);
    Run();
    COMPARE_GBK(Results(), Lines(Rows("减肥", 1), c));
    QCOMPARE(messages_.back().text, Total(8));
  }

  void stopDuringASeedEndsAfterTheCurrentRow() {
    const QString dir = W().编辑框目录->text();
    W().选择框自动保存目录->setChecked(true);
    W().选择框独立保存->setChecked(true);
    W().编辑框关键词列表->setPlainText(QStringLiteral("减肥\n丰胸"));
    QObject guard;
    connect(W().编辑框结果关键词, &ResultTextBox::textChanged, &guard, [this] {
      // The user's click while the third line is being written.
      if (W().编辑框结果关键词->toPlainText().count(QLatin1Char('\n')) == 3 &&
          W().按钮开始挖掘->text() == QStringLiteral("停止挖掘"))
        W().按钮开始挖掘->click();
    });
    Run();

    const std::string lines = Lines(Rows("减肥", 1), Columns(), 3);
    COMPARE_GBK(Results(), lines);
    QCOMPARE(Fetched(), QStringList({"/减肥/1/"}));
    QCOMPARE(FilesIn(dir), QStringList({QStringLiteral("减肥_") + kStamp + QStringLiteral(".csv")}));
    QCOMPARE(ReadFile(dir + QStringLiteral("/减肥_") + kStamp + QStringLiteral(".csv")), QByteArray::fromStdString(lines));
    // One notice, saying the run was stopped.
    QCOMPARE(messages_.size(), size_t(1));
    QCOMPARE(messages_[0].text, QStringLiteral("获取已停止！总共 3 个关键词！"));
    QCOMPARE(W().按钮开始挖掘->text(), QStringLiteral("开始挖掘"));
    QVERIFY(!Mining().state.outputFile.IsOpen());
  }

  void stopDuringTheSeedPauseStillStartsTheNextSeed() {
    Site().UpdateOptions([](demo::Options& o) { o.keywordPages = 1; });
    const QString dir = W().编辑框目录->text();
    W().选择框自动保存目录->setChecked(true);
    W().选择框独立保存->setChecked(true);
    W().编辑框关键词间隔->setText(QStringLiteral("1"));
    W().编辑框关键词列表->setPlainText(QStringLiteral("甲\n乙\n丙"));
    // The pause after 甲 is the only time 甲 is the seed and its file is
    // closed: the click lands there.
    bool clicked = false;
    QTimer watch;
    connect(&watch, &QTimer::timeout, this, [&] {
      KeywordMining& m = Mining();
      if (!clicked && m.state.currentKeyword == G("甲") && !m.state.outputFile.IsOpen() &&
          W().按钮开始挖掘->text() == QStringLiteral("停止挖掘")) {
        clicked = true;
        W().按钮开始挖掘->click();
      }
    });
    watch.start(5);
    Run();

    QVERIFY(clicked);
    const std::string lines = Lines(Rows("甲", 1), Columns());
    COMPARE_GBK(Results(), lines);
    QCOMPARE(Fetched(), QStringList({"/甲/1/", "/乙/1/"}));  // 乙's page 1, then the run ends
    const QString first = QStringLiteral("甲_") + kStamp + QStringLiteral(".csv");
    const QString second = QStringLiteral("乙_") + kStamp + QStringLiteral(".csv");
    QCOMPARE(FilesIn(dir), QStringList({second, first}));
    QCOMPARE(ReadFile(dir + QLatin1Char('/') + first), QByteArray::fromStdString(lines));
    QCOMPARE(ReadFile(dir + QLatin1Char('/') + second), QByteArray());
    QCOMPARE(messages_.size(), size_t(1));
    QCOMPARE(messages_[0].text, QStringLiteral("获取已停止！总共 8 个关键词！"));  // says it was stopped
    QCOMPARE(W().按钮开始挖掘->text(), QStringLiteral("开始挖掘"));
  }

  // A run goes by its controls as they were at the click: every control
  // changed once the first lines are in changes nothing it writes.
  void controlsChangedDuringARunChangeNothingInIt() {
    Site().UpdateOptions([](demo::Options& o) {
      o.keywordPages = 3;
      o.delayMs = 50;
    });
    const QString dir = FreshDirectory();
    W().编辑框目录->setText(dir);
    W().选择框自动保存目录->setChecked(true);
    W().选择框独立保存->setChecked(false);
    W().编辑框扩展名->setText(QStringLiteral("csv"));
    W().编辑框限定数量->setText(QStringLiteral("0"));
    W().编辑框页间隔->setText(QStringLiteral("0.1"));
    W().编辑框关键词间隔->setText(QStringLiteral("0.1"));
    W().编辑框关键词列表->setPlainText(QStringLiteral("减肥\n丰胸"));
    const Columns c{true, false, true, false, false};
    SetColumns(c);
    QObject guard;
    bool changed = false;
    connect(W().编辑框结果关键词, &ResultTextBox::textChanged, &guard, [&] {
      if (changed || W().按钮开始挖掘->text() != QStringLiteral("停止挖掘")) return;
      changed = true;
      SetColumns({false, true, false, true, true});
      W().选择框保留加入->setChecked(!W().选择框保留加入->isChecked());
      W().选择框自动保存目录->setChecked(false);
      W().选择框独立保存->setChecked(true);
      W().编辑框目录->setText(dir + QStringLiteral("-other"));
      W().编辑框扩展名->setText(QStringLiteral("txt"));
      W().编辑框限定数量->setText(QStringLiteral("1"));
      W().编辑框页间隔->setText(QStringLiteral("9"));
      W().编辑框关键词间隔->setText(QStringLiteral("9"));
      W().编辑框关键词列表->setPlainText(QStringLiteral("别的"));
    });
    Run();
    QVERIFY(changed);
    std::string lines;
    for (const char* seed : {"减肥", "丰胸"})
      for (int page = 1; page <= 3; ++page) lines += Lines(Rows(seed, page), c);
    COMPARE_GBK(Results(), lines);
    QCOMPARE(messages_.back().text, Total(static_cast<int>(std::count(lines.begin(), lines.end(), '\n'))));
    QCOMPARE(FilesIn(dir), QStringList({QStringLiteral("全部结果_") + kStamp + QStringLiteral(".csv")}));
    QVERIFY(!QDir(dir + QStringLiteral("-other")).exists());
    QCOMPARE(Mining().Plan().pageIntervalMs, 100);  // the pauses it kept
    QCOMPARE(Mining().Plan().keywordIntervalMs, 100);
    QCOMPARE(Fetched(), QStringList({"/减肥/1/", "/减肥/2/", "/减肥/3/", "/丰胸/1/", "/丰胸/2/", "/丰胸/3/"}));
  }

  void oneResultFilePerRun() {
    Site().UpdateOptions([](demo::Options& o) { o.keywordPages = 1; });
    const QString dir = W().编辑框目录->text() + QStringLiteral("/子目录/深");  // created along the way
    W().编辑框目录->setText(dir);
    W().选择框自动保存目录->setChecked(true);
    W().编辑框关键词列表->setPlainText(QStringLiteral("减肥\n丰胸"));
    SetColumns({true, true, false, false, false});
    Run();
    const QString name = QStringLiteral("全部结果_") + kStamp + QStringLiteral(".csv");
    QCOMPARE(FilesIn(dir), QStringList({name}));
    COMPARE_GBK(Results(), Lines(Rows("减肥", 1), {true, true}) + Lines(Rows("丰胸", 1), {true, true}));
    COMPARE_GBK(ReadFile(dir + QLatin1Char('/') + name).toStdString(), Results());

    // With a trailing separator the same name; the run in the same second
    // writes beside it instead of over it.
    W().编辑框目录->setText(dir + QLatin1Char('/'));
    W().编辑框关键词列表->setPlainText(QStringLiteral("丰胸"));
    Run();
    const QString second = QStringLiteral("全部结果_") + kStamp + QStringLiteral("_2.csv");
    QCOMPARE(FilesIn(dir), QStringList({name, second}));
    COMPARE_GBK(ReadFile(dir + QLatin1Char('/') + second).toStdString(), Lines(Rows("丰胸", 1), {true, true}));
    COMPARE_GBK(ReadFile(dir + QLatin1Char('/') + name).toStdString(),
                Lines(Rows("减肥", 1), {true, true}) + Lines(Rows("丰胸", 1), {true, true}));

    // Saving off: the directory is still made, no file is.
    const QString unsaved = FreshDirectory();
    W().编辑框目录->setText(unsaved);
    W().选择框自动保存目录->setChecked(false);
    Run();
    QVERIFY(QFileInfo(unsaved).isDir());
    QCOMPARE(FilesIn(unsaved), QStringList());
  }

  void oneResultFilePerSeed() {
    Site().UpdateOptions([](demo::Options& o) { o.keywordPages = 1; });
    const QString dir = W().编辑框目录->text();
    W().选择框自动保存目录->setChecked(true);
    W().选择框独立保存->setChecked(true);
    W().编辑框扩展名->clear();
    // The first and last seed clean to the same name; the blank line between
    // them is no seed and gets no file.
    W().编辑框关键词列表->setPlainText(QStringLiteral("a/b\n \t\na／b"));
    Run();
    QCOMPARE(Fetched(), QStringList({"/a/b/1/", "/a／b/1/"}));
    const QString shared = QStringLiteral("a／b_") + kStamp + QLatin1Char('.');
    const QString beside = QStringLiteral("a／b_") + kStamp + QStringLiteral("_2.");
    QCOMPARE(FilesIn(dir), QStringList({shared, beside}));
    // The second seed writes beside the first: both seeds' lines are kept.
    COMPARE_GBK(ReadFile(dir + QLatin1Char('/') + shared).toStdString(), Lines(Rows("a/b", 1), Columns()));
    COMPARE_GBK(ReadFile(dir + QLatin1Char('/') + beside).toStdString(), Lines(Rows("a／b", 1), Columns()));
    QCOMPARE(messages_.back().text, Total(16));
  }

  void inputThatWouldLoseDataIsRefusedWithAMessage() {
    // A seed the control holds but GBK cannot: named, nothing fetched.
    W().编辑框关键词列表->setPlainText(QStringLiteral("减肥\n 笑\U0001F600 "));
    W().按钮开始挖掘->click();
    QCOMPARE(messages_.size(), size_t(1));
    QCOMPARE(messages_[0].text, QStringLiteral("关键词含有GBK无法表示的字符：笑<U+1F600>"));
    QCOMPARE(messages_[0].title, QStringLiteral("信息："));
    QCOMPARE(W().按钮开始挖掘->text(), QStringLiteral("开始挖掘"));

    // A result folder below a file cannot be made.
    const QString file = FreshDirectory();
    QFile(file).open(QIODevice::WriteOnly);
    W().编辑框目录->setText(file + QStringLiteral("/结果"));
    W().选择框自动保存目录->setChecked(true);
    W().编辑框关键词列表->setPlainText(QStringLiteral("减肥"));
    W().按钮开始挖掘->click();
    QCOMPARE(messages_.size(), size_t(2));
    QCOMPARE(messages_[1].text, QStringLiteral("无法写入结果目录：") + file + QStringLiteral("/结果/\r\n路径中有同名的文件"));
    QCOMPARE(W().按钮开始挖掘->text(), QStringLiteral("开始挖掘"));
    QTest::qWait(100);
    QCOMPARE(Fetched(), QStringList());
  }

  void anEmptyListOnlyAsksForSeeds() {
    W().编辑框关键词列表->clear();
    W().编辑框结果关键词->setPlainText(QStringLiteral("上次的结果"));
    W().按钮开始挖掘->click();
    QCOMPARE(messages_.size(), size_t(1));
    QCOMPARE(messages_[0].text, QStringLiteral("请先输入要挖掘的关键词列表！"));
    QCOMPARE(messages_[0].title, QStringLiteral("信息："));
    QCOMPARE(messages_[0].flags, 0x2000);
    QCOMPARE(W().按钮开始挖掘->text(), QStringLiteral("开始挖掘"));
    QCOMPARE(W().编辑框结果关键词->toPlainText(), QStringLiteral("上次的结果"));
    QTest::qWait(100);
    QCOMPARE(Fetched(), QStringList());
  }
  // The window's side of page outcomes: a failed page is retried and named in
  // the message, a page without data is no failure, a verification page
  // pauses the run behind the bar with the login tab on that page, and 停止
  // there ends the run with one message that says so.
  void failedNoDataAndBlockedPagesInTheWindow() {
    demo::Options options;
    options.keywordPages = 2;
    QVERIFY(demo::ParseDemoFaults("mine:甲:2=500,mine:乙:1=nodata,mine:丙:1=verify", options));
    Site().SetOptions(options);
    Mining().reliability.retries = 1;
    Mining().reliability.retryIntervalSeconds = 0;
    W().编辑框关键词列表->setPlainText(QStringLiteral("甲\n乙\n丙\n丁"));
    bool barShown = false;
    QString barText, browserAddress;
    int tab = -1;
    QTimer user;
    connect(&user, &QTimer::timeout, [&] {
      if (W().拦截提示条->isHidden()) return;
      barShown = true;
      barText = W().拦截提示文字->text();
      tab = W().选择夹->CurrentIndex();
      browserAddress = W().浏览框->url().toString();
      user.stop();
      W().按钮停止->click();
    });
    user.start(50);
    Run();
    user.stop();

    QVERIFY(barShown);
    QVERIFY(barText.contains(QStringLiteral("验证")));
    QCOMPARE(tab, 2);
    QVERIFY2(browserAddress.contains(QStringLiteral("/1/")), qPrintable(browserAddress));
    COMPARE_GBK(Results(), Lines(Rows("甲", 1), Columns()));
    // The run's own requests (the login tab's browser opens 丙's page too):
    // 甲's page 2 once more after its failure, 丁 never.
    QStringList asked;
    for (const auto& r : Site().Requests())
      if (r.Header("User-Agent").find("MSIE 6.0") != std::string::npos) asked << QString::fromStdString(r.path);
    QCOMPARE(asked, QStringList({"/甲/1/", "/甲/2/", "/甲/2/", "/乙/1/", "/丙/1/"}));
    QCOMPARE(messages_.size(), size_t(1));
    QCOMPARE(messages_[0].text, QStringLiteral("获取已停止！总共 %1 个关键词！\r\n未成功 2 页：失败 1 页，需登录或验证 1 页")
                                    .arg(Rows("甲", 1).size()));
    QVERIFY(W().拦截提示条->isHidden());
    QCOMPARE(W().按钮开始挖掘->text(), QStringLiteral("开始挖掘"));
    QVERIFY(W().进度条->isHidden());
    Mining().reliability = Reliability();
  }

};

int main(int argc, char** argv) {
  lanshu::Application::PrepareGraphics();
  QApplication app(argc, argv);
  MiningWindowTest test;
  return QTest::qExec(&test, argc, argv);
}

#include "mining_window_test.moc"
