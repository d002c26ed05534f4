// The window's commands: sorting, find, export and copy, the popup menu's
// small commands and the introduction dialog.
#include <QApplication>
#include <QDate>
#include <QClipboard>
#include <QHeaderView>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <optional>

#include "AppTestSupport.h"
#include "TestSupport.h"
#include "XlsxRead.h"
#include "app/Application.h"
#include "app/Commands.h"
#include "app/Dialogs.h"
#include "app/MainWindow.h"
#include "app/QtText.h"
#include "app/Settings.h"
#include "store/ConfigStore.h"
#include "app/Widgets.h"
#include "app/ResultListModel.h"
#include "mining/Mining.h"
#include "hooks/Events.h"
#include "hooks/MessageBox.h"
#include "web/Coding.h"

using namespace lanshu;
using lanshu::testing::ReadFile;

namespace {

QByteArray Gbk(const char* utf8) { return QByteArray::fromStdString(Utf8TextToGbk(utf8)); }

}  // namespace

class CommandsTest : public QObject {
  Q_OBJECT

  QTemporaryDir dir_;
  std::unique_ptr<Application> app_;
  QStringList messages_;
  QString nextSaveName_;
  QString lastFilter_;
  bool offeredEncoding_ = false;
  std::optional<TextEncoding> chooseEncoding_;  // what the user picks in the dialog; none: left as offered
  std::vector<std::string> opened_;

  MainWindow& W() { return *app_->Window(); }
  ListViewTable& L() { return app_->List(); }

  void Fill(const std::vector<std::vector<const char*>>& rows) {
    L().Clear();
    for (const auto& cells : rows) {
      const int r = L().AppendRow(Utf8TextToGbk(cells[0]));
      for (int c = 1; c < static_cast<int>(cells.size()); ++c) L().SetCellText(r, c, Utf8TextToGbk(cells[c]));
    }
  }
  QStringList Column(int c) {
    QStringList out;
    for (int r = 0; r < L().RowCount(); ++r) out << FromGbk(L().CellText(r, c));
    return out;
  }

 private slots:
  void initTestCase() {
    SetEventPump([] { QCoreApplication::processEvents(); }, 5);
    Application::InstallEventWait();  // waits run the event loop, as in the program
    SetMessageBoxHook([this](const std::string& text, int flags, const std::string& title) {
      messages_ << FromGbk(title) + QLatin1Char('|') + QString::number(flags) + QLatin1Char('|') + FromGbk(text);
      return kIdOk;
    });
    SetSaveFileHook([this](QWidget*, const SaveDialogSpec& spec) {
      lastFilter_ = spec.filter;
      offeredEncoding_ = spec.encoding != nullptr;
      if (spec.encoding && chooseEncoding_) *spec.encoding = *chooseEncoding_;
      return nextSaveName_;
    });
    SetUrlOpener([this](const std::string& address) {
      opened_.push_back(address);
      return true;
    });
    CommandLine cl;
    cl.settingsFile = (dir_.path() + QStringLiteral("/commands.ini")).toStdString();
    cl.searchSite = "http://se.test";
    app_ = std::make_unique<Application>(cl);
    QVERIFY(app_->Ok());
    W().show();
  }
  void cleanupTestCase() { app_.reset(); }
  void init() {
    messages_.clear();
    opened_.clear();
  }

  void headerClicksSortAndShareTheDirection() {
    Fill({{"3", "d", "b", "2", "5"}, {"1", "d", "A", "10", "10"}, {"2", "d", "c", "1", "9"}});
    QHeaderView* h = W().列表框->header();
    QTest::mouseClick(h->viewport(), Qt::LeftButton, {}, QPoint(h->sectionViewportPosition(4) + 5, 5));
    QCOMPARE(Column(4), QStringList({"5", "9", "10"}));  // first click: ascending, numeric
    QTest::mouseClick(h->viewport(), Qt::LeftButton, {}, QPoint(h->sectionViewportPosition(2) + 5, 5));
    QCOMPARE(Column(2), QStringList({"c", "b", "A"}));  // next click, other column: descending
    app_->Commands().HeaderClicked(3);
    QCOMPARE(Column(3), QStringList({"1", "2", "10"}));  // "排名" sorts by position
    QCOMPARE(Column(0), QStringList({"2", "3", "1"}));   // whole rows move
    Fill({});
    const bool before = app_->Commands().SortAscending();
    app_->Commands().HeaderClicked(0);
    QCOMPARE(app_->Commands().SortAscending(), before);  // no rows: no toggle
  }

  void findWrapsOnceAndRemembersItsInputs() {
    Fill({{"1", "a", "Apple"}, {"2", "b", "pear"}, {"3", "c", "apple pie"}, {"4", "d", "fig,x"}});
    W().菜单查找定位->trigger();
    FindDialog* d = app_->Commands().Find();
    QVERIFY(d);
    QCOMPARE(d->组合框列->count(), 9);
    QCOMPARE(d->组合框列->currentText(), QStringLiteral("【全部列】"));
    d->编辑框字符->setText(QStringLiteral("apple"));
    L().SelectRow(1);
    d->按钮查找->click();
    QCOMPARE(L().SelectedRow(), 2);
    d->按钮查找->click();  // wraps past the end: row 0 does not match without ignoring case
    QCOMPARE(L().SelectedRow(), 2);
    QVERIFY(messages_.isEmpty());
    d->选择框忽视->setChecked(true);
    d->按钮查找->click();
    QCOMPARE(L().SelectedRow(), 0);
    d->编辑框字符->setText(QStringLiteral("d,fig"));  // across two cells of the row text
    d->按钮查找->click();
    QCOMPARE(L().SelectedRow(), 3);
    d->编辑框字符->setText(QStringLiteral("nothing"));
    d->组合框列->setCurrentIndex(2);
    d->按钮查找->click();
    QCOMPARE(messages_, QStringList({"信息：|8192|完全找不到！"}));
    QCOMPARE(L().SelectedRow(), -1);
    d->close();
    QTest::qWait(50);
    W().菜单查找定位->trigger();
    d = app_->Commands().Find();
    QCOMPARE(d->编辑框字符->text(), QStringLiteral("nothing"));
    QCOMPARE(d->组合框列->currentIndex(), 2);
    QCOMPARE(d->选择框忽视->isChecked(), true);
    d->close();
  }

  void exportAndCopyTheRankList() {
    Fill({{"1", "a.com", "k1", "1", "10", "20", "t1", "u1"}, {"2", "b.com", "k2", "2", "30", "40", "t,2", "u2"}});
    const QString file = dir_.path() + QStringLiteral("/rank.csv");
    nextSaveName_ = file;
    W().组合框导出模式->setCurrentIndex(0);
    W().按钮导出->click();
    // The cell with a comma is quoted, the others are written as they are.
    const QByteArray csv = Gbk("序号,域名,关键字,排名,搜索量,收录量,网页标题,链接\r\n"
                               "1,a.com,k1,1,10,20,t1,u1\r\n2,b.com,k2,2,30,40,\"t,2\",u2");
    QCOMPARE(ReadFile(file), csv);
    QCOMPARE(W().通用对话框1.filterIndex, 1);
    // The dialog offers the domains, today's date and the csv extension.
    QCOMPARE(W().通用对话框1.suggestedName,
             QStringLiteral("%1_%2.csv").arg(W().编辑框域名->text().replace(QLatin1Char('|'), QLatin1Char('_')),
                                             QDate::currentDate().toString(QStringLiteral("yyyy-MM-dd"))));
    QCOMPARE(messages_.last(), QStringLiteral("信息：|8192|导出完毕！"));
    W().按钮复制->click();
    QCOMPARE(QApplication::clipboard()->text(), FromGbk(csv.toStdString()));

    W().组合框导出模式->setCurrentIndex(1);
    W().编辑框表达式->setText(QStringLiteral("#3 - #2#12 #7"));
    W().按钮复制->click();
    QCOMPARE(QApplication::clipboard()->text(), QStringLiteral("k1 - a.com12 t1\r\nk2 - b.com22 t,2"));
    QCOMPARE(messages_.last(), QStringLiteral("信息：|8192|已根据列组合表达式将列表复制到剪辑板！"));

    // A cancelled dialog does nothing; a failed write keeps the old file.
    messages_.clear();
    nextSaveName_.clear();
    W().按钮导出->click();
    QVERIFY(messages_.isEmpty());
    nextSaveName_ = dir_.path() + QStringLiteral("/no/such/dir/x.txt");
    W().按钮导出->click();
    QCOMPARE(messages_.last(), QStringLiteral("信息：|8192|导出失败：") + nextSaveName_ + QStringLiteral("：路径不存在"));
    QCOMPARE(W().通用对话框1.filterIndex, 1);  // stays at the csv entry
  }

  void exportAndCopyTheMiningLines() {
    W().编辑框结果关键词->setPlainText(QStringLiteral("甲,1\n乙,2\n"));
    app_->Mining().state.csvHeader = Utf8TextToGbk("关键词,搜索量");
    nextSaveName_ = dir_.path() + QStringLiteral("/m.CSV");
    W().按钮1->click();
    QCOMPARE(ReadFile(nextSaveName_), Gbk("关键词,搜索量\r\n甲,1\r\n乙,2\r\n"));
    QVERIFY(W().通用对话框1.suggestedName.startsWith(QStringLiteral("关键词挖掘_") +
                                                  QDate::currentDate().toString(QStringLiteral("yyyy-MM-dd"))));
    QCOMPARE(messages_.last(), QStringLiteral("信息：|8192|导出成功！"));
    nextSaveName_ = dir_.path() + QStringLiteral("/m.txt");
    W().按钮1->click();
    QCOMPARE(ReadFile(nextSaveName_), Gbk("甲,1\r\n乙,2\r\n"));
    W().按钮复制1->click();
    QCOMPARE(QApplication::clipboard()->text(), QStringLiteral("甲,1\r\n乙,2\r\n"));
  }

  // A name ending in ".xlsx" gets a workbook in the CSV mode and for the
  // mining lines; the template mode writes its text whatever the name.
  void exportWorkbooks() {
    Fill({{"1", "a.com", "=1+1", "第1页第2位", "12,345", "20", "t,1", "u1"}, {"2", "b.com", "k2", "3", "-", "40", "t2", "u2"}});
    W().组合框导出模式->setCurrentIndex(0);
    nextSaveName_ = dir_.path() + QStringLiteral("/rank.Xlsx");
    W().按钮导出->click();
    QVERIFY(lastFilter_.contains(QStringLiteral("csv文件|*.csv|\r\nExcel 工作簿|*.xlsx|")));
    QCOMPARE(messages_.last(), QStringLiteral("信息：|8192|导出完毕！"));
    const lanshu::testing::XlsxBook book = lanshu::testing::ReadXlsx(nextSaveName_.toStdString());
    QVERIFY2(book.error.empty(), book.error.c_str());
    std::vector<std::vector<std::string>> csv;
    QVERIFY(lanshu::testing::ReadCsv(Utf8TextToGbk("序号,域名,关键字,排名,搜索量,收录量,网页标题,链接\r\n"
                                                   "1,a.com,=1+1,第1页第2位,\"12,345\",20,\"t,1\",u1\r\n"
                                                   "2,b.com,k2,3,-,40,t2,u2"),
                                     csv));
    QCOMPARE(lanshu::testing::CellsDifferFromCsv(book, csv), std::string());
    QCOMPARE(book.rows[1][2], lanshu::testing::S("=1+1"));
    QCOMPARE(book.rows[1][3], lanshu::testing::S("第1页第2位"));
    QCOMPARE(book.rows[1][4], lanshu::testing::N("12345"));
    QCOMPARE(book.rows[2][3], lanshu::testing::N("3"));
    QCOMPARE(book.rows[2][4], lanshu::testing::S("-"));

    W().组合框导出模式->setCurrentIndex(1);
    W().编辑框表达式->setText(QStringLiteral("#3 #5"));
    nextSaveName_ = dir_.path() + QStringLiteral("/template.xlsx");
    W().按钮导出->click();
    QCOMPARE(ReadFile(nextSaveName_), Gbk("=1+1 12,345\r\nk2 -"));

    W().编辑框结果关键词->setPlainText(QStringLiteral("甲,\"1,234\"\n乙,+2\n"));
    app_->Mining().state.csvHeader = Utf8TextToGbk("关键词,搜索量");
    nextSaveName_ = dir_.path() + QStringLiteral("/m.xlsx");
    W().按钮1->click();
    QCOMPARE(messages_.last(), QStringLiteral("信息：|8192|导出成功！"));
    const lanshu::testing::XlsxBook lines = lanshu::testing::ReadXlsx(nextSaveName_.toStdString());
    QVERIFY2(lines.error.empty(), lines.error.c_str());
    QCOMPARE(lines.sheets, std::vector<std::string>{"挖掘"});
    QCOMPARE(lines.rows.size(), std::size_t(3));
    QCOMPARE(lines.rows[0][1], lanshu::testing::S("搜索量"));
    QCOMPARE(lines.rows[1][1], lanshu::testing::N("1234"));
    QCOMPARE(lines.rows[2][1], lanshu::testing::S("+2"));
  }

  // The dialogs offer the encoding: UTF-8 writes the same text behind a
  // byte-order mark, is kept for the next export and saved with the
  // settings; a workbook does not care; GBK brings back today's bytes.
  void exportsInTheEncodingChosenInTheDialog() {
    Fill({{"1", "a.com", "甲", "第1页第2位", "1,234", "20", "t,1", "u1"}});
    W().组合框导出模式->setCurrentIndex(0);
    const QByteArray gbk = Gbk("序号,域名,关键字,排名,搜索量,收录量,网页标题,链接\r\n1,a.com,甲,第1页第2位,\"1,234\",20,\"t,1\",u1");
    const QByteArray bom = "\xEF\xBB\xBF";
    nextSaveName_ = dir_.path() + QStringLiteral("/enc.csv");
    chooseEncoding_ = TextEncoding::kUtf8Bom;
    W().按钮导出->click();
    QVERIFY(offeredEncoding_);
    QCOMPARE(ReadFile(nextSaveName_), bom + FromGbk(gbk.toStdString()).toUtf8());
    chooseEncoding_.reset();
    W().编辑框结果关键词->setPlainText(QStringLiteral("乙,\"5,678\"\n"));
    app_->Mining().state.csvHeader = Utf8TextToGbk("关键词,搜索量");
    nextSaveName_ = dir_.path() + QStringLiteral("/enc-m.csv");
    W().按钮1->click();
    QCOMPARE(ReadFile(nextSaveName_), bom + QStringLiteral("关键词,搜索量\r\n乙,\"5,678\"\r\n").toUtf8());
    nextSaveName_ = dir_.path() + QStringLiteral("/enc.xlsx");
    W().按钮导出->click();
    const lanshu::testing::XlsxBook book = lanshu::testing::ReadXlsx(nextSaveName_.toStdString());
    QVERIFY2(book.error.empty(), book.error.c_str());
    QCOMPARE(book.rows.at(1).at(2), lanshu::testing::S("甲"));

    SaveSettings(app_->Store(), W());
    QCOMPARE(app_->Store().ReadValue(G("导出"), G("编码"), ""), std::string("UTF-8"));
    W().exportEncoding = TextEncoding::kGbk;
    LoadSettings(app_->Store(), W());
    QCOMPARE(W().exportEncoding, TextEncoding::kUtf8Bom);

    chooseEncoding_ = TextEncoding::kGbk;
    nextSaveName_ = dir_.path() + QStringLiteral("/enc-gbk.csv");
    W().按钮导出->click();
    QCOMPARE(ReadFile(nextSaveName_), gbk);
    chooseEncoding_.reset();
  }

  void popupMenuCommands() {
    Fill({{"", "", "减肥", "1", "2", "3", "t", "http://page.test/x"}});
    W().菜单复制一行->trigger();
    QCOMPARE(QApplication::clipboard()->text(), QStringLiteral(""));  // no row selected
    W().菜单百度一下->trigger();
    QCOMPARE(opened_.back(), std::string("http://se.test/baidu?word="));
    L().SelectRow(0);
    W().菜单复制一行->trigger();
    QCOMPARE(QApplication::clipboard()->text(), QStringLiteral("减肥,1,2,3,t,http://page.test/x"));
    W().菜单百度一下->trigger();
    QCOMPARE(opened_.back(), std::string("http://se.test/baidu?word=%BC%F5%B7%CA"));
    W().菜单访问收录页->trigger();
    QCOMPARE(opened_.back(), std::string("http://page.test/x"));
    W().菜单清空列表->trigger();
    QCOMPARE(L().RowCount(), 0);
    W().菜单清空列表->trigger();  // on an empty list: nothing
  }

  void folderChoiceAndIntroduction() {
    W().编辑框目录->setText(QStringLiteral("/keep"));
    SetFolderHook([](QWidget*, const QString&, const QString&) { return QString(); });
    W().按钮选择->setEnabled(true);
    W().按钮选择->click();
    QCOMPARE(W().编辑框目录->text(), QStringLiteral("/keep"));
    SetFolderHook([](QWidget*, const QString& title, const QString& start) {
      return title == QStringLiteral("请选择一个文件夹") && start == QStringLiteral("/keep") ? QStringLiteral("  /chosen ")
                                                                                          : QString();
    });
    W().按钮选择->click();
    QCOMPARE(W().编辑框目录->text(), QStringLiteral("/chosen"));

    QString title, text;
    bool readOnly = false, okHidden = false;
    QString closeCaption;
    QTimer::singleShot(200, [&] {
      TextDialog* d = app_->Commands().Text();
      QVERIFY(d);
      title = d->windowTitle();
      text = d->编辑框正文->toPlainText();
      readOnly = d->编辑框正文->isReadOnly();
      okHidden = d->按钮确定->isHidden() && d->外形框->isHidden();
      closeCaption = d->按钮取消->text();
      app_->Commands().ShowIntroduction();  // a second one while open does nothing
      d->按钮取消->click();
    });
    W().图片疑点说明->click();
    QCOMPARE(title, QStringLiteral("青篱："));
    QVERIFY(readOnly);
    QVERIFY(okHidden);
    QCOMPARE(closeCaption, QStringLiteral("关闭(&G)"));
    const QStringList lines = text.split(QLatin1Char('\n'));
    QCOMPARE(lines.size(), 16);
    QCOMPARE(lines[0], QStringLiteral("-----------------【软件介绍】-----------------"));
    QCOMPARE(lines[8], QStringLiteral(" "));
    QVERIFY(lines[13].endsWith(QStringLiteral(" 就是以“|”间隔要查询的多个域名")));
    QCOMPARE(lines[15], QStringLiteral("导出或复制时，自由引用列格式：引用 #数字 来代表对应列数据，如 #1 是第一列，#2 是第二列。。"));
    QCOMPARE(app_->Commands().Text(), nullptr);
  }
};

int main(int argc, char** argv) {
  lanshu::Application::PrepareGraphics();
  QApplication app(argc, argv);
  CommandsTest test;
  return QTest::qExec(&test, argc, argv);
}

#include "commands_test.moc"
