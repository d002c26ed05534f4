#include "app/Batch.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFileInfo>
#include <QTimer>
#include <QUrl>
#include <QWebEnginePage>
#include <algorithm>
#include <cstdio>
#include <vector>
#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

#include "app/Application.h"
#include "app/HistoryWiring.h"
#include "app/MainWindow.h"
#include "app/NotifyWiring.h"
#include "app/QtText.h"
#include "app/RunControls.h"
#include "mining/Mining.h"
#include "mining/ResultFiles.h"
#include "run/BatchReport.h"
#include "store/ConfigStore.h"
#include "text/InputText.h"
#include "rank/RankQuery.h"
#include "results/Export.h"
#include "hooks/Events.h"
#include "hooks/MessageBox.h"

namespace lanshu {
namespace {

void Write(const std::string& bytes) {
  std::fwrite(bytes.data(), 1, bytes.size(), stderr);
  std::fflush(stderr);
}

bool StandardErrorIsTerminal() {
#ifdef _WIN32
  return _isatty(_fileno(stderr)) != 0;
#else
  return isatty(fileno(stderr)) != 0;
#endif
}

// Every line of a batch run goes through here, so that the progress line is
// cleared first.
BatchConsole& Console() {
  static BatchConsole console(Write, StandardErrorIsTerminal());
  return console;
}

void Say(const QString& text) { Console().Line(text.toStdString()); }

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

// Loads the user page first, as the window does at start-up, so that the
// site's session cookies are there before the ranking pages.
void LoadUserPageFirst(QWebEnginePage& page, const std::string& rankSite) {
  QEventLoop loop;
  QTimer::singleShot(15000, &loop, &QEventLoop::quit);
  QObject::connect(&page, &QWebEnginePage::loadFinished, &loop, &QEventLoop::quit);
  page.load(QUrl(FromGbk(rankSite + "/user.php")));
  loop.exec();
}

// A start that was refused: told on standard error in English; nothing is
// written.
bool Refused(const StartRefusal& refusal, RunKind kind) {
  switch (refusal.kind) {
    case StartRefusal::kNone:
      return false;
    case StartRefusal::kNothingToCollect:
      Say(QStringLiteral("lanshu-collector: nothing to collect: the settings name no %1")
              .arg(kind == RunKind::kRank ? QStringLiteral("domain") : QStringLiteral("seed")));
      return true;
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

// Turns the event loop until the run has ended.
void WaitForEnd(Runner& run) {
  if (!run.Running()) return;
  QEventLoop loop;
  std::function<void()> before = run.onIdle;
  run.onIdle = [&loop, before] {
    if (before) before();
    loop.quit();
  };
  loop.exec();
  run.onIdle = before;
}

}  // namespace

bool BatchOutputWritable(const CommandLine& options, std::string& why) {
  QString reason;
  if (CanWrite(QString::fromStdString(options.outFile), reason)) return true;
  why = "cannot write " + options.outFile + ": " + reason.toStdString();
  return false;
}

namespace {

// Random bytes or another program's file are no settings: running on them
// would collect with built-in values nobody asked for. An empty file is a
// new one, and runs with the defaults.
bool HoldsProgramSettings(Application& app) {
  QFile file(app.SettingsPath());
  if (!file.open(QIODevice::ReadOnly) || file.readAll().trimmed().isEmpty()) return true;
  std::vector<std::string> sections;
  app.Store().ListSections(sections);
  for (const char* known : {"基本参数", "基本配置_挖掘", "站点", "采集可靠性", "历史记录", "窗口"})
    if (std::find(sections.begin(), sections.end(), G(known)) != sections.end()) return true;
  return false;
}

QString IsoNow() { return QDateTime::currentDateTime().toString(Qt::ISODate); }

// FILE, then the report; the exit status. report: the report as written
// (or as it would be, when no --report is given), for the end's notice.
int WriteBatchFiles(const CommandLine& options, ConfigStore& settings, ExportContent content,
                    const BatchReporter& reporter, const QString& started, std::string& report) {
  const QString out = QString::fromStdString(options.outFile);
  content.encoding = ChosenEncoding(options, settings);
  std::uintmax_t bytes = 0;
  if (!WriteExport(ToGbk(out), content, nullptr, nullptr, &bytes)) {
    Say(QStringLiteral("lanshu-collector: cannot write %1").arg(out));
    report = reporter.Json(started.toStdString(), IsoNow().toStdString(), kBatchCannotRun);
    return kBatchCannotRun;
  }
  Say(QStringLiteral("lanshu-collector: wrote %1 (%2 bytes)").arg(out).arg(static_cast<qulonglong>(bytes)));
  const int status = reporter.Status();
  report = reporter.Json(started.toStdString(), IsoNow().toStdString(), status);
  if (!options.reportFile.empty()) {
    const QString reportPath = QString::fromStdString(options.reportFile);
    if (!WriteFileAtomically(ToGbk(reportPath), report)) {
      Say(QStringLiteral("lanshu-collector: cannot write %1").arg(reportPath));
      return kBatchCannotRun;
    }
  }
  return status;
}

}  // namespace

namespace {

// What the run would collect if it started now: the kind's plan from the
// settings, or none (told) when they name nothing to collect.
std::optional<RunPlan> PlanFromSettings(Application& app, RunKind kind) {
  const RunControls& controls = app.BatchControls();
  if (kind == RunKind::kRank) {
    const std::vector<std::string> pieces = NonBlankPieces(controls.domains, "|");
    if (pieces.empty()) return std::nullopt;
    return app.Rank().CapturePlan(pieces);
  }
  const std::vector<std::string> seeds = NonBlankPieces(controls.keywords, "\r\n");
  if (seeds.empty()) return std::nullopt;
  return app.Mining().CapturePlan(seeds);
}

// --resume and --campaign: goes on with a stored run and writes FILE with
// its whole result. None when there is no run to go on with (--resume): the
// run then starts anew.
std::optional<int> GoOnInBatch(Application& app, const CommandLine& options, RunKind kind, BatchReporter& reporter,
                               const QString& started) {
  HistoryWiring& history = app.History();
  const bool shared = !options.campaign.empty();
  std::string error;
  std::optional<HistoryWiring::StoredRun> run;
  if (shared) {
    const std::optional<RunPlan> plan = PlanFromSettings(app, kind);
    if (!plan) {
      Refused({StartRefusal::kNothingToCollect, std::string(), 0}, kind);
      return kBatchCannotRun;
    }
    run = history.Campaign(Utf8TextToGbk(options.campaign), *plan, error);
    if (!run) {
      Say(QStringLiteral("lanshu-collector: cannot join campaign %1: %2")
              .arg(QString::fromStdString(options.campaign), QString::fromStdString(error)));
      return kBatchCannotRun;
    }
  } else {
    run = history.Resumable(kind, error);
    if (!error.empty()) {
      Say(QStringLiteral("lanshu-collector: cannot resume: %1").arg(QString::fromStdString(error)));
      return kBatchCannotRun;
    }
    if (!run) return std::nullopt;
    Say(QStringLiteral("lanshu-collector: resuming run %1: %2 of %3 pages done")
            .arg(run->id)
            .arg(run->pagesDone)
            .arg(run->pagesKnown));
  }
  // A shared run that has ended asks for no page.
  const bool over = shared && run->Complete() && run->ended;
  if (!over) {
    history.GoOn(*run, shared);
    Runner& runner = kind == RunKind::kRank ? static_cast<Runner&>(app.Rank()) : static_cast<Runner&>(app.Mining());
    WaitForEnd(runner);
    if (Refused(kind == RunKind::kRank ? app.Rank().refusal : app.Mining().refusal, kind) || !reporter.Started())
      return kBatchCannotRun;
  }
  const std::int64_t id = run->id;
  if (shared) {
    // Others collected part of it: the whole is in the store.
    run = history.Load(id, error);
    if (!run) {
      Say(QStringLiteral("lanshu-collector: cannot read run %1: %2").arg(id).arg(QString::fromStdString(error)));
      return kBatchCannotRun;
    }
  } else {
    // This process has the whole run, also when the store failed midway.
    run->pages = (kind == RunKind::kRank ? static_cast<Runner&>(app.Rank()) : static_cast<Runner&>(app.Mining()))
                     .WholeRun();
  }
  std::optional<RunEnd> ended;
  if (over) ended = run->failed ? RunEnd::kFailed : run->blocked ? RunEnd::kBlocked : RunEnd::kFinished;
  reporter.WholeRun(kind, run->pages, ended);
  if (shared && run->Complete() && history.TakeFileWriting(id)) {
    std::string failedFile;
    if (!history.WriteResultFiles(*run, failedFile)) {
      Say(QStringLiteral("lanshu-collector: cannot write %1").arg(FromGbk(failedFile)));
      return kBatchCannotRun;
    }
  }
  const ExportContent content = StoredRunExport(*run, ToGbk(QString::fromStdString(options.outFile)));
  std::string report;
  const int status = WriteBatchFiles(options, app.Store(), content, reporter, started, report);
  app.Notify().BatchEnd(kind, reporter, report);
  app.History().Drain();
  Say(QString::fromStdString(reporter.SummaryLine()));
  return status;
}

}  // namespace

int RunBatch(Application& app, const CommandLine& options) {
  const QString out = QString::fromStdString(options.outFile);
  if (!HoldsProgramSettings(app)) {
    Say(QStringLiteral("lanshu-collector: the settings file holds none of the program's settings: %1")
            .arg(app.SettingsPath()));
    return kBatchCannotRun;
  }
  BatchReporter reporter([](const std::string& line) { Console().Line(line); });
  BatchProgress progress(Console());
  for (RunListeners* listeners : {&app.Rank().listeners, &app.Mining().listeners}) {
    listeners->Add(&reporter);
    listeners->Add(&progress);
  }
  app.Notify().say = [](const std::string& line) { Console().Line(line); };
  // Nobody can log in or pass a check: such a page ends the run at once.
  app.Rank().onBlocked = [](const PageReport&) { return BlockedChoice::kStop; };
  app.Mining().onBlocked = [](const PageReport&) { return BlockedChoice::kStop; };
  const QString started = IsoNow();
  // The window's notices and status texts drown the lines scripts read:
  // only --verbose lets them through.
  const bool verbose = options.verbose;
  SetMessageBoxHook([verbose](const std::string& text, int, const std::string& title) {
    if (verbose) Say(FromGbk(title) + FromGbk(text));
    return kIdOk;
  });
  if (verbose) {
    const auto say = [](const std::string& text) { Say(FromGbk(text)); };
    app.BatchRankUi()->onStatus = say;
    app.BatchMiningUi()->onStatus = say;
  }
  LoadUserPageFirst(*app.BatchPage(), app.Sites().rankSite);

  const RunKind kind = options.batch == "rank" ? RunKind::kRank : RunKind::kMine;
  if (options.resume || !options.campaign.empty()) {
    std::optional<int> status = GoOnInBatch(app, options, kind, reporter, started);
    if (status) return *status;
  }

  ExportContent content;
  const RunControls& controls = app.BatchControls();
  if (options.batch == "rank") {
    app.Rank().StartStopRankQuery();
    WaitForEnd(app.Rank());
    if (Refused(app.Rank().refusal, RunKind::kRank) || !reporter.Started()) return kBatchCannotRun;
    content = RankExportContent(app.BatchRankUi()->table, controls.exportMode, controls.exportTemplate, ToGbk(out));
  } else {
    app.Mining().StartOrStopMining();
    WaitForEnd(app.Mining());
    if (Refused(app.Mining().refusal, RunKind::kMine) || !reporter.Started()) return kBatchCannotRun;
    content = MiningExportContent(app.BatchMiningUi()->results.Text(), app.Mining().state.csvHeader, ToGbk(out));
  }
  std::string report;
  const int status = WriteBatchFiles(options, app.Store(), content, reporter, started, report);
  // The end's notice, then what the history could not store, are told
  // before the summary, which stays the last line. The notice's rank changes
  // are read from the history, so it goes first.
  app.Notify().BatchEnd(kind, reporter, report);
  app.History().Drain();
  Say(QString::fromStdString(reporter.SummaryLine()));
  return status;
}

}  // namespace lanshu
