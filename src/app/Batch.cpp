#include "app/Batch.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QTest>
#include <QWebEngineView>
#include <cstdio>

#include "app/Application.h"
#include "app/MainWindow.h"
#include "app/QtText.h"
#include "app/ResultListModel.h"
#include "mining/Mining.h"
#include "mining/ResultFiles.h"
#include "rank/RankQuery.h"
#include "results/Export.h"
#include "text/MessageBox.h"

namespace lanshu {
namespace {

void Say(const QString& text) {
  const QByteArray line = text.toUtf8() + '\n';
  std::fwrite(line.constData(), 1, line.size(), stderr);
  std::fflush(stderr);
}

// The output file must be writable before anything is collected.
bool CanWrite(const QString& file, QString& why) {
  const QFileInfo info(file);
  if (info.isDir()) {
    why = QStringLiteral("is a directory");
    return false;
  }
  const QFileInfo dir(info.absolutePath());
  if (!dir.isDir()) {
    why = QStringLiteral("its directory does not exist");
    return false;
  }
  QFile probe(info.absolutePath() + QStringLiteral("/.lanshu-write-check-") + QString::number(QCoreApplication::applicationPid()));
  if (!probe.open(QIODevice::WriteOnly)) {
    why = QStringLiteral("its directory cannot be written");
    return false;
  }
  probe.close();
  probe.remove();
  return true;
}

// Lets the login tab load the user page first, as at a normal start, so the
// browser is not taken away from the ranking pages later.
void LoadUserPageFirst(MainWindow& w) {
  bool loaded = false;
  QMetaObject::Connection c =
      QObject::connect(w.浏览框, &QWebEngineView::loadFinished, [&loaded] { loaded = true; });
  w.LoadUserPage();  // stops 时钟1, so it does not fire during the run
  QElapsedTimer t;
  t.start();
  while (!loaded && t.elapsed() < 15000) QTest::qWait(20);
  QObject::disconnect(c);
}

// A start that was refused: told on standard error in English; nothing is
// written.
bool Refused(const StartRefusal& refusal) {
  switch (refusal.kind) {
    case StartRefusal::kNone:
      return false;
    case StartRefusal::kUnwritableText:
      Say(QStringLiteral("lanshu-collector: input holds characters code page 936 cannot write: %1")
              .arg(FromGbk(refusal.subject)));
      return true;
    case StartRefusal::kResultFolder:
      Say(QStringLiteral("lanshu-collector: cannot use result folder %1: %2")
              .arg(FromGbk(refusal.subject), QString::fromStdString(FolderErrorTextEnglish(refusal.error))));
      return true;
  }
  return false;
}

}  // namespace

bool BatchOutputWritable(const CommandLine& options, std::string& why) {
  QString reason;
  if (CanWrite(QString::fromStdString(options.outFile), reason)) return true;
  why = "cannot write " + options.outFile + ": " + reason.toStdString();
  return false;
}

int RunBatch(Application& app, const CommandLine& options) {
  const QString out = QString::fromStdString(options.outFile);
  SetMessageBoxHook([](const std::string& text, int, const std::string& title) {
    Say(FromGbk(title) + FromGbk(text));
    return kIdOk;
  });
  MainWindow& w = *app.Window();
  QObject::connect(&w, &MainWindow::statusChanged, [](const QString& text) { Say(text); });
  LoadUserPageFirst(w);

  std::string text;
  if (options.batch == "rank") {
    app.Rank().StartStopRankQuery();
    if (Refused(app.Rank().refusal)) return 1;
    text = BuildRankExport(app.List(), w.组合框导出模式->currentIndex(), ControlTextToGbk(w.编辑框表达式->text()));
  } else {
    app.Mining().StartOrStopMining();
    if (Refused(app.Mining().refusal)) return 1;
    text = MiningExportText(ControlTextToGbk(w.编辑框结果关键词->toPlainText()), app.Mining().state.csvHeader,
                            ToGbk(out));
  }
  if (!WriteFileAtomically(ToGbk(out), text)) {
    Say(QStringLiteral("lanshu-collector: cannot write %1").arg(out));
    return 1;
  }
  Say(QStringLiteral("lanshu-collector: wrote %1 (%2 bytes)").arg(out).arg(text.size()));
  return 0;
}

}  // namespace lanshu
