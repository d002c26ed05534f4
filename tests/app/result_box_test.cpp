// The keyword-mining result box as a user meets it: selecting with the mouse
// and copying with the keys, scrolling, its menu, and export and copy giving
// the very bytes the mining lines had (and that the text edit it replaced
// gave).
#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QDir>
#include <QMenu>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTest>
#include <QTextCursor>
#include <QTimer>
#include <QWheelEvent>

#include "AppTestSupport.h"
#include "app/Adapters.h"
#include "app/Application.h"
#include "app/Commands.h"
#include "app/MainWindow.h"
#include "app/QtText.h"
#include "app/ResultTextBox.h"
#include "app/Widgets.h"
#include "demo/DemoSite.h"
#include "hooks/Events.h"
#include "hooks/MessageBox.h"

using namespace lanshu;
using namespace lanshu::testing;

namespace {

constexpr int kTextLeft = 4;  // the box's margin: its text starts this far in

QString Clipboard() { return QApplication::clipboard()->text(); }

}  // namespace

class ResultBoxTest : public QObject {
  Q_OBJECT

  QTemporaryDir dir_;
  std::unique_ptr<Application> app_;
  std::vector<Message> messages_;
  QString nextSaveName_;

  MainWindow& W() { return *app_->Window(); }
  ResultTextBox* Box() { return W().findChild<ResultTextBox*>(QStringLiteral("编辑框结果关键词")); }
  // Lines the way a mining run adds them.
  void Append(const std::string& gbk) { MiningWindowUi(W()).AppendResult(gbk); }
  void Append(const char* utf8) { Append(G(utf8)); }
  // The viewport point between the characters of a visible line, after the
  // text before; the line counts from the first one in sight.
  QPoint At(int visibleLine, const QString& before) {
    const QFontMetrics fm(Box()->font());
    const int y = kTextLeft + visibleLine * fm.lineSpacing() + fm.lineSpacing() / 2;
    return QPoint(kTextLeft + fm.horizontalAdvance(before), y);
  }
  void Key(Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) { QTest::keyClick(Box(), key, modifiers); }

 private slots:
  void initTestCase() {
    QVERIFY(dir_.isValid());
    SetEventPump([] { QCoreApplication::processEvents(); }, 5);
    Application::InstallEventWait();
    SetMessageBoxHook([this](const std::string& text, int flags, const std::string& title) {
      messages_.push_back({FromGbk(title), FromGbk(text), flags});
      return kIdOk;
    });
    SetSaveFileHook([this](QWidget*, const SaveDialogSpec&) { return nextSaveName_; });
    CommandLine cl;
    cl.settingsFile = (dir_.path() + QStringLiteral("/box.ini")).toStdString();
    cl.demo = true;
    app_ = std::make_unique<Application>(cl);
    QVERIFY(app_->Ok());
    W().show();
    WaitFor([this] { return !W().时钟1->isActive(); }, 5000);
    W().选择夹->SetCurrentIndex(1);
    QVERIFY(Box());
    QVERIFY(QTest::qWaitForWindowExposed(&W()));
  }
  void cleanupTestCase() { app_.reset(); }
  void init() {
    messages_.clear();
    Box()->clear();
    QApplication::clipboard()->clear();
  }

  void mouseSelectsCharactersAcrossLinesAndTheKeysCopy() {
    Append("甲乙丙,12\r\n");
    Append("abc,34\r\n");
    Append("丁戊,56\r\n");
    QWidget* view = Box()->viewport();
    W().activateWindow();
    W().编辑框关键词列表->setFocus();

    // A click between 乙 and 丙, a shift-click after "ab" two lines down.
    QTest::mouseClick(view, Qt::LeftButton, {}, At(0, QStringLiteral("甲乙")));
    QVERIFY(Box()->hasFocus());  // the keys go to the box after a click
    QVERIFY(!Box()->HasSelection());
    QTest::mouseClick(view, Qt::LeftButton, Qt::ShiftModifier, At(1, QStringLiteral("ab")));
    Key(Qt::Key_C, Qt::ControlModifier);
    QCOMPARE(Clipboard(), QStringLiteral("丙,12\nab"));
    // Shift extends from the same anchor, to before it this time.
    QTest::mouseClick(view, Qt::LeftButton, Qt::ShiftModifier, At(0, QStringLiteral("甲")));
    Key(Qt::Key_C, Qt::ControlModifier);
    QCOMPARE(Clipboard(), QStringLiteral("乙"));

    // A drag from inside line 2 to inside line 3 (the last line is empty).
    QTest::mousePress(view, Qt::LeftButton, {}, At(1, QStringLiteral("abc,")));
    QMouseEvent move(QEvent::MouseMove, At(2, QStringLiteral("丁")), view->mapToGlobal(At(2, QStringLiteral("丁"))),
                     Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(view, &move);
    QTest::mouseRelease(view, Qt::LeftButton, {}, At(2, QStringLiteral("丁")));
    QCOMPARE(Box()->SelectedText(), QStringLiteral("34\n丁"));

    // Ctrl+A takes everything, the line ends as "\n".
    Key(Qt::Key_A, Qt::ControlModifier);
    Key(Qt::Key_C, Qt::ControlModifier);
    QCOMPARE(Clipboard(), QStringLiteral("甲乙丙,12\nabc,34\n丁戊,56\n"));

    // A double click takes the word under it; a click past a line's end
    // stops at that end.
    QTest::mouseDClick(view, Qt::LeftButton, {}, At(1, QStringLiteral("a")));
    QCOMPARE(Box()->SelectedText(), QStringLiteral("abc"));
    QTest::mouseClick(view, Qt::LeftButton, {}, At(0, QStringLiteral("甲乙丙,12")) + QPoint(200, 0));
    QTest::mouseClick(view, Qt::LeftButton, Qt::ShiftModifier, At(1, QString()));
    QCOMPARE(Box()->SelectedText(), QStringLiteral("\n"));

    // Nothing selected: the clipboard keeps what it had.
    QApplication::clipboard()->setText(QStringLiteral("kept"));
    QTest::mouseClick(view, Qt::LeftButton, {}, At(1, QStringLiteral("ab")));
    Key(Qt::Key_C, Qt::ControlModifier);
    QCOMPARE(Clipboard(), QStringLiteral("kept"));
  }

  void linesArrivingKeepTheEndInSightAndTheKeysAndWheelScroll() {
    for (int i = 0; i < 200; ++i) Append(QStringLiteral("行%1,%2\r\n").arg(i).arg(i * 7).toUtf8().constData());
    QScrollBar* v = Box()->verticalScrollBar();
    QVERIFY(v->isVisible());
    QCOMPARE(v->value(), v->maximum());
    QVERIFY(v->maximum() > 150);
    // The last line (empty, after the last line end) is the last one in sight.
    QCOMPARE(Box()->FirstVisibleLine() + v->pageStep(), 201);
    QCOMPARE(Box()->horizontalScrollBar()->maximum(), 0);

    Box()->setFocus();
    Key(Qt::Key_Home, Qt::ControlModifier);
    QCOMPARE(v->value(), 0);
    Key(Qt::Key_PageDown);
    QCOMPARE(v->value(), v->pageStep());
    Key(Qt::Key_Down);
    QCOMPARE(v->value(), v->pageStep() + 1);
    Key(Qt::Key_PageUp);
    Key(Qt::Key_Up);
    QCOMPARE(v->value(), 0);
    Key(Qt::Key_End, Qt::ControlModifier);
    QCOMPARE(v->value(), v->maximum());

    // The wheel scrolls by the desktop's lines per notch.
    const QPoint middle = Box()->viewport()->rect().center();
    QWheelEvent wheel(middle, Box()->viewport()->mapToGlobal(middle), QPoint(), QPoint(0, 120), Qt::NoButton,
                      Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(Box()->viewport(), &wheel);
    QCOMPARE(v->value(), v->maximum() - QApplication::wheelScrollLines());

    // The line in sight at the top is the one painted there: a click picks it.
    QTest::mouseClick(Box()->viewport(), Qt::LeftButton, {}, At(0, QString()));
    QTest::mouseClick(Box()->viewport(), Qt::LeftButton, Qt::ShiftModifier, At(0, QStringLiteral("行")));
    QCOMPARE(Box()->SelectedText(), QStringLiteral("行"));
    QCOMPARE(Box()->PositionAt(At(0, QString())).line, Box()->FirstVisibleLine());

    // A line wider than the view brings the horizontal bar; End and Home go
    // to the lines' end and start.
    Append(std::string(400, 'x') + "\r\n");
    QTest::qWait(20);
    QScrollBar* h = Box()->horizontalScrollBar();
    QVERIFY(h->maximum() > 0);
    QVERIFY(h->isVisible());
    QCOMPARE(v->value(), v->maximum());  // still at the end
    Key(Qt::Key_End);
    QCOMPARE(h->value(), h->maximum());
    Key(Qt::Key_Home);
    QCOMPARE(h->value(), 0);

    // Cleared: back to one empty line, nothing to scroll.
    Box()->clear();
    QCOMPARE(v->maximum(), 0);
    QCOMPARE(Box()->toPlainText(), QString());
  }

  void theMenuOffersCopySelectAllAndTheRetry() {
    Append("甲,1\r\n乙,2\r\n");
    const QPoint at = At(0, QString());
    QContextMenuEvent event(QContextMenuEvent::Mouse, at, Box()->viewport()->mapToGlobal(at));
    QApplication::sendEvent(Box()->viewport(), &event);
    QMenu* menu = nullptr;
    QVERIFY(WaitFor([&] {
      for (QMenu* m : Box()->findChildren<QMenu*>())
        if (m->isVisible()) menu = m;
      return menu != nullptr;
    }, 2000));
    QStringList captions;
    for (QAction* a : menu->actions())
      if (!a->isSeparator()) captions << a->text();
    QCOMPARE(captions, QStringList({"复制", "全选", "重试失败页"}));
    QVERIFY(menu->actions().contains(W().菜单重试失败页1));
    QVERIFY(!menu->actions().at(0)->isEnabled());  // nothing selected to copy
    // 全选 from the menu, then 复制 from a fresh menu.
    for (QAction* a : menu->actions())
      if (a->text() == QStringLiteral("全选")) a->trigger();
    menu->close();
    QCOMPARE(Box()->SelectedText(), QStringLiteral("甲,1\n乙,2\n"));
    QMenu* again = Box()->createStandardContextMenu(at);
    QVERIFY(again->actions().at(0)->isEnabled());
    again->actions().at(0)->trigger();
    QCOMPARE(Clipboard(), QStringLiteral("甲,1\n乙,2\n"));
    delete again;
  }

  // Pieces that the conversion or the text edit handled in their own way: a lead
  // byte without its second byte, characters that decode to the private use
  // area, a zero byte, a tab, lone CR and LF, a CR LF split over two
  // appends, an empty line, a line split over two appends and a last line
  // without its end. Export, copy and the text must be what the text edit
  // gave for the same appends.
  void exportAndCopyGiveTheBytesTheTextEditGave() {
    const std::vector<std::string> pieces{
        G("甲,1\r\n"), "a\x81\r\n", "\xFF\x80\xA2\xA0,x\r\n", std::string("ab\0cd\r\n", 7), "t\tab\r\n",
        "cr\ronly\r\n", "lf\nonly\r\n", "split\r", "\nend\r\n", "\r\n", G("半"), G("行,2\r\n"), G("末行")};
    QPlainTextEdit before;
    for (const std::string& piece : pieces) {
      Append(piece);
      QTextCursor cursor(before.document());  // the old box's append
      cursor.movePosition(QTextCursor::End);
      cursor.insertText(GbkToControlText(piece));
    }
    const std::string expected = ControlTextToGbk(before.toPlainText());
    COMPARE_GBK(Box()->GbkText(), expected);
    QCOMPARE(Box()->toPlainText(), before.toPlainText());
    // Spelled out once: the zero byte ended its piece, line end and all.
    COMPARE_GBK(expected, G("甲,1\r\n") + "a?\r\n\xFF\x80\xA2\xA0,x\r\nabt\tab\r\ncr\r\nonly\r\nlf\r\nonly\r\n" +
                              "split\r\n\r\nend\r\n\r\n" + G("半行,2\r\n末行"));

    app_->Mining().state.csvHeader = G("关键词,搜索量");
    nextSaveName_ = dir_.path() + QStringLiteral("/odd-bytes.txt");
    W().按钮1->click();
    QCOMPARE(ReadFile(nextSaveName_), QByteArray::fromStdString(expected));
    nextSaveName_ = dir_.path() + QStringLiteral("/odd-bytes.csv");
    W().按钮1->click();
    QCOMPARE(ReadFile(nextSaveName_), QByteArray::fromStdString(G("关键词,搜索量\r\n") + expected));
    W().按钮复制1->click();
    QCOMPARE(Clipboard(), FromGbk(expected));

    // Selected and copied, as the text edit copied.
    before.selectAll();
    before.copy();
    const QString copiedBefore = Clipboard();
    QApplication::clipboard()->clear();
    Box()->selectAll();
    Box()->copy();
    QCOMPARE(Clipboard(), copiedBefore);

    // Set as a whole, the text reads back as the text edit gave it too.
    const QString whole = QStringLiteral("x\u2029y\u00A0z\r\n\rw");
    before.setPlainText(whole);
    Box()->setPlainText(whole);
    QCOMPARE(Box()->toPlainText(), before.toPlainText());
    COMPARE_GBK(Box()->GbkText(), ControlTextToGbk(before.toPlainText()));
  }

  void exportAfterARunIsTheLinesTheRunWrote() {
    app_->Demo()->UpdateOptions([](demo::Options& o) { o.keywordPages = 2; });
    MainWindow& w = W();
    for (QCheckBox* box : {w.选择框搜索量, w.选择框收录量, w.选择框第一位, w.选择框第二位, w.选择框优化难度})
      box->setChecked(true);
    const QString saved = dir_.path() + QStringLiteral("/run");
    w.编辑框目录->setText(saved);
    w.选择框自动保存目录->setChecked(true);
    w.选择框独立保存->setChecked(false);
    w.编辑框页间隔->setText(QStringLiteral("0"));
    w.编辑框关键词间隔->setText(QStringLiteral("0"));
    w.编辑框关键词列表->setPlainText(QStringLiteral("减肥\n丰胸"));
    QTimer::singleShot(0, w.按钮开始挖掘, [&w] { w.按钮开始挖掘->click(); });
    QVERIFY(WaitFor([this] { return !messages_.empty(); }, 120000));

    // The run's own file holds every line as it was written.
    const QStringList files = QDir(saved).entryList(QDir::Files);
    QCOMPARE(files.size(), 1);
    const QByteArray written = ReadFile(saved + QLatin1Char('/') + files[0]);
    QCOMPARE(written.count("\r\n"), 32);
    nextSaveName_ = dir_.path() + QStringLiteral("/after-run.txt");
    w.按钮1->click();
    QCOMPARE(ReadFile(nextSaveName_), written);
    QCOMPARE(Box()->Lines().LineCount(), 33);
    QCOMPARE(Box()->verticalScrollBar()->value(), Box()->verticalScrollBar()->maximum());
  }
};

int main(int argc, char** argv) {
  lanshu::Application::PrepareGraphics();
  QApplication app(argc, argv);
  ResultBoxTest test;
  return QTest::qExec(&test, argc, argv);
}

#include "result_box_test.moc"
