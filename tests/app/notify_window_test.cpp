// Notices of the window's runs, with the real browser against the demo site
// started in-process and webhook receivers on loopback sockets: a receiver
// that holds the post back holds neither the run nor the window, the tray
// hook hears the text, and a receiver that keeps failing is told once on the
// status bar.
#include <QApplication>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QTemporaryDir>
#include <QTest>
#include <atomic>

#include "AppTestSupport.h"
#include "app/Application.h"
#include "app/MainWindow.h"
#include "app/NotifyWiring.h"
#include "app/QtText.h"
#include "app/Widgets.h"
#include "demo/DemoSite.h"
#include "hooks/Events.h"
#include "hooks/MessageBox.h"
#include "store/ConfigStore.h"
#include "web/TestServers.h"

using namespace lanshu;
using namespace lanshu::testing;

class NotifyWindowTest : public QObject {
  Q_OBJECT

  QTemporaryDir dir_;
  std::vector<Message> messages_;

  QString Path(const QString& name) { return dir_.path() + QLatin1Char('/') + name; }

  std::unique_ptr<Application> Start(const QString& name) {
    CommandLine cl;
    cl.settingsFile = Path(name + QStringLiteral(".ini")).toStdString();
    cl.demo = true;
    cl.noHistory = true;
    auto app = std::make_unique<Application>(cl);
    if (app->Ok()) {
      MainWindow* w = app->Window();
      w->show();
      WaitFor([w] { return !w->时钟1->isActive(); }, 5000);
      QTest::qWait(800);
    }
    return app;
  }

  // As the settings tab would have saved them: the notifier reads the store.
  static void SaveAddress(Application& app, const std::string& address) {
    app.Store().SetSection(G("通知"));
    app.Store().WriteText(G("网址"), address);
  }

  bool RunRank(Application& app, const QString& domains) {
    MainWindow& w = *app.Window();
    w.编辑框域名->setText(domains);
    messages_.clear();
    QTest::mouseClick(w.按钮开始采集, Qt::LeftButton);
    return WaitFor([&] { return !messages_.empty() && w.按钮开始采集->text() == QStringLiteral("开始采集"); }, 60000);
  }

 private slots:
  void initTestCase() {
    QVERIFY(dir_.isValid());
    SetEventPump([] { QCoreApplication::processEvents(); }, 5);
    SetMessageBoxHook([this](const std::string& text, int flags, const std::string& title) {
      messages_.push_back(Message{FromGbk(title), FromGbk(text), flags});
      return kIdOk;
    });
  }

  void aReceiverHoldingThePostBackHoldsNothing() {
    std::atomic<bool> release{false};
    RawServer held([&release](int fd, RawServer& server) {
      if (server.ReadRequest(fd).empty()) return;
      while (!release && server.Pause(20)) {
      }
      WriteAll(fd, HttpResponse("200 OK", "", "{}"));
    });
    auto app = Start(QStringLiteral("held"));
    QVERIFY(app->Ok());
    app->Demo()->UpdateOptions([](demo::Options& o) {
      o.rankPages = 1;
      o.rankRowsPerPage = 4;
    });
    SaveAddress(*app, held.Url("/hook"));
    std::vector<std::pair<QString, QString>> shown;
    app->Notify().SetOnShown(
        [&shown](const QString& title, const QString& text) { shown.push_back({title, text}); });

    QVERIFY(RunRank(*app, QStringLiteral("a.test")));
    QCOMPARE(messages_[0].text, QStringLiteral("查询完成！"));
    QCOMPARE(shown.size(), size_t(1));
    QCOMPARE(shown[0].first, QStringLiteral("排名查询完成"));
    QVERIFY2(shown[0].second.startsWith(QStringLiteral("排名查询完成：a.test\n行数 4，页数 1（失败 0 页，需登录或验证 0 页）\n用时 ")),
             qPrintable(shown[0].second));
    // The post is still unanswered, and the window takes a second run.
    QVERIFY(WaitFor([&] { return held.Requests().size() == 1; }, 30000));
    QVERIFY(RunRank(*app, QStringLiteral("b.test")));
    QVERIFY(WaitFor([&] { return held.Requests().size() == 2; }, 30000));
    release = true;

    // The window's run posts the report a batch run would write.
    const std::string request = held.Requests()[0];
    const QJsonObject report =
        QJsonDocument::fromJson(QByteArray::fromStdString(request.substr(request.find("\r\n\r\n") + 4))).object();
    QCOMPARE(report.value(QStringLiteral("kind")).toString(), QStringLiteral("rank"));
    QCOMPARE(report.value(QStringLiteral("status")).toInt(-1), 0);
    QCOMPARE(report.value(QStringLiteral("rows")).toInt(), 4);
    QVERIFY(!report.value(QStringLiteral("finished")).toString().isEmpty());
    QVERIFY(!report.contains(QStringLiteral("rankChanges")));
    auto* note = app->Window()->findChild<QLabel*>(QStringLiteral("通知状态"));
    QVERIFY(note && note->isHidden());
  }

  void aFailingReceiverIsToldOnceOnTheStatusBar() {
    RawServer failing([](int fd, RawServer& server) {
      if (!server.ReadRequest(fd).empty()) WriteAll(fd, HttpResponse("500 Internal Server Error", "", ""));
    });
    RawServer fine([](int fd, RawServer& server) {
      if (!server.ReadRequest(fd).empty()) WriteAll(fd, HttpResponse("200 OK", "", ""));
    });
    auto app = Start(QStringLiteral("failing"));
    QVERIFY(app->Ok());
    app->Demo()->UpdateOptions([](demo::Options& o) {
      o.rankPages = 1;
      o.rankRowsPerPage = 2;
    });
    SaveAddress(*app, failing.Url("/hook?key=SECRET"));
    QVERIFY(RunRank(*app, QStringLiteral("a.test")));
    auto* note = app->Window()->findChild<QLabel*>(QStringLiteral("通知状态"));
    QVERIFY(note);
    QVERIFY(WaitFor([&] { return note->isVisible(); }, 60000));
    QCOMPARE(note->text(), QStringLiteral("通知未发送：服务器返回 HTTP 500"));
    QCOMPARE(note->toolTip(), QString::fromStdString(failing.Url("/hook")));
    QCOMPARE(failing.Requests().size(), size_t(3));
    // The next notice that goes out takes the message away.
    SaveAddress(*app, fine.Url("/hook"));
    QVERIFY(RunRank(*app, QStringLiteral("a.test")));
    QVERIFY(note->isHidden());
    QVERIFY(WaitFor([&] { return fine.Requests().size() == 1; }, 30000));
    QCOMPARE(failing.Requests().size(), size_t(3));
  }
};

int main(int argc, char** argv) {
  lanshu::Application::PrepareGraphics();
  QApplication app(argc, argv);
  NotifyWindowTest test;
  return QTest::qExec(&test, argc, argv);
}
#include "notify_window_test.moc"
