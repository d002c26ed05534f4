// A run without a window goes by the settings file as the window would hold
// it: the same controls, value by value, and no widget of its own.
#include <QApplication>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include "app/Application.h"
#include "app/Batch.h"
#include "app/MainWindow.h"
#include "app/QtText.h"
#include "app/RunControls.h"
#include "app/Settings.h"
#include "store/ConfigStore.h"
#include "hooks/Events.h"
#include "hooks/MessageBox.h"

using namespace lanshu;

namespace {

// A settings file of the given lines (UTF-8 here, GBK on disk, "\r\n" ends).
std::string WriteSettings(const QTemporaryDir& dir, const QString& name, const QStringList& lines) {
  const QString path = dir.path() + QLatin1Char('/') + name;
  QFile file(path);
  file.open(QIODevice::WriteOnly);
  file.write(QByteArray::fromStdString(ControlTextToGbk(lines.join(QStringLiteral("\r\n")) + QStringLiteral("\r\n"))));
  return ToGbk(path);
}

QString Describe(const RunControls& c) {
  return QStringLiteral("domains=%1 sort=%2 export=%3 template=%4 filter=%5 convert=%6 keywords=%7 limit=%8 "
                        "checks=%9%10%11%12%13 save=%14%15 keep=%16 dir=%17 ext=%18 page=%19 seed=%20")
      .arg(FromGbk(c.domains).left(40))
      .arg(c.sortIndex)
      .arg(c.exportMode)
      .arg(FromGbk(c.exportTemplate))
      .arg(c.filterDuplicates)
      .arg(c.convertLinks)
      .arg(FromGbk(c.keywords).toHtmlEscaped())
      .arg(FromGbk(c.limit))
      .arg(c.volume)
      .arg(c.indexed)
      .arg(c.firstSite)
      .arg(c.secondSite)
      .arg(c.difficulty)
      .arg(c.autoSave)
      .arg(c.separateFiles)
      .arg(c.keepSeed)
      .arg(FromGbk(c.directory))
      .arg(FromGbk(c.extension))
      .arg(FromGbk(c.pageInterval))
      .arg(FromGbk(c.keywordInterval));
}

}  // namespace

class RunControlsTest : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase() {
    QVERIFY(dir_.isValid());
    SetMessageBoxHook([](const std::string&, int, const std::string&) { return kIdOk; });
  }

  void theDesignIsTheWindowsOwn() {
    MainWindow window;
    QCOMPARE(Describe(ControlsOf(window)), Describe(DesignControls()));
    QVERIFY(ControlsOf(window) == DesignControls());
  }

  void settingsReadAsTheWindowReadsThem_data() {
    QTest::addColumn<QStringList>("lines");
    QTest::newRow("no file") << QStringList();
    QTest::newRow("every key") << QStringList{
        "[基本参数]", "域名=a.test|b.test", "排序=2", "导出模式=1", "表达式=#2,#3",
        "[基本配置_挖掘]", "关键词=甲|乙", "限定数量=15", "搜索量=真", "收录量=假", "第一位=1",
        "第二位=真", "优化难度=真", "自动过滤重复关键字=真", "转换百度链接=真", "自动保存目录=真",
        "不同关键词独立保存=真", "保存目录=/tmp/结果", "扩展名=txt", "关键词间隔=2", "页间隔=0.3"};
    QTest::newRow("indexes out of range") << QStringList{"[基本参数]", "排序=7", "导出模式=-2"};
    QTest::newRow("fractions and words") << QStringList{"[基本参数]", "排序=1.9", "导出模式=abc",
                                                          "[基本配置_挖掘]", "搜索量=abc", "限定数量=１２"};
    QTest::newRow("blanks kept") << QStringList{"[基本参数]", "域名=  a.test |\tb.test  ", "[基本配置_挖掘]",
                                                 "关键词=  甲  ", "扩展名= csv "};
    QTest::newRow("longer than a line edit takes")
        << QStringList{"[基本参数]", QStringLiteral("域名=") + QString(40000, QLatin1Char('a'))};
    QTest::newRow("empty values") << QStringList{"[基本参数]", "域名=", "表达式=", "[基本配置_挖掘]", "关键词=",
                                                  "保存目录=", "页间隔="};
  }
  void settingsReadAsTheWindowReadsThem() {
    QFETCH(QStringList, lines);
    const std::string path = WriteSettings(dir_, QStringLiteral("s%1.ini").arg(++files_), lines);
    ConfigStore forWindow;
    QVERIFY(forWindow.Load(path, true) || lines.isEmpty());
    MainWindow window;
    LoadSettings(forWindow, window);
    ConfigStore forRun;
    forRun.Load(path, true);
    const RunControls fromSettings = ControlsFromSettings(forRun);
    QCOMPARE(Describe(fromSettings), Describe(ControlsOf(window)));
    QVERIFY(fromSettings == ControlsOf(window));
    QCOMPARE(RunSettingsText(fromSettings, RunKind::kRank), RunSettingsText(ControlsOf(window), RunKind::kRank));
  }

  // A file the window wrote itself, with texts of several lines.
  void settingsTheWindowSavedReadTheSame() {
    const QString path = dir_.path() + QStringLiteral("/saved.ini");
    {
      ConfigStore store;
      QVERIFY(store.Open(ToGbk(path)));
      MainWindow window;
      window.编辑框关键词列表->setPlainText(QStringLiteral("甲\n\n 乙 \r\n丙\t\n"));
      window.编辑框域名->setText(QStringLiteral("a.test|b.test"));
      window.组合框排序->setCurrentIndex(1);
      window.选择框保留加入->setChecked(false);  // not kept in the settings
      window.选择框独立保存->setChecked(true);
      SaveSettings(store, window);
    }
    ConfigStore forWindow;
    QVERIFY(forWindow.Load(ToGbk(path), true));
    MainWindow window;
    LoadSettings(forWindow, window);
    ConfigStore forRun;
    QVERIFY(forRun.Load(ToGbk(path), true));
    QCOMPARE(Describe(ControlsFromSettings(forRun)), Describe(ControlsOf(window)));
    QVERIFY(ControlsFromSettings(forRun) == ControlsOf(window));
  }

  // Everything a batch run needs, without one widget.
  void aBatchRunCreatesNoWidget() {
    QVERIFY(QApplication::allWidgets().isEmpty());
    const std::string settings =
        WriteSettings(dir_, QStringLiteral("batch.ini"), {"[基本配置_挖掘]", "关键词=减肥", "页间隔=0", "关键词间隔=0"});
    CommandLine options;
    options.demo = true;
    options.noHistory = true;
    options.batch = "mine";
    options.settingsFile = FromGbk(settings).toStdString();
    options.outFile = (dir_.path() + QStringLiteral("/out.csv")).toStdString();
    {
      Application app(options);
      QVERIFY(app.Ok());
      QCOMPARE(app.Window(), nullptr);
      QCOMPARE(RunBatch(app, options), 0);
      QVERIFY(QApplication::allWidgets().isEmpty());
      QVERIFY(app.BatchMiningUi()->results.Text().size() > 0);
      options.batch = "rank";
    }
    QFile out(QString::fromStdString(options.outFile));
    QVERIFY(out.open(QIODevice::ReadOnly));
    QVERIFY(out.readAll().startsWith(QByteArray::fromStdString(ControlTextToGbk(QStringLiteral("关键词")))));
  }

 private:
  QTemporaryDir dir_;
  int files_ = 0;
};

QTEST_MAIN(RunControlsTest)
#include "run_controls_test.moc"
