#include "app/Application.h"

#include <QApplication>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QDir>
#include <QEventLoop>
#include <QFileInfo>
#include <QHeaderView>
#include <QLibraryInfo>
#include <QLocale>
#include <QMessageBox>
#include <QQuickWindow>
#include <QStandardPaths>
#include <QTimer>
#include <QTranslator>
#include <QUrl>
#include <QWebEngineProfile>
#include <QWebEngineView>
#include <cstdio>
#include <ctime>

#include "demo/DemoFaults.h"
#include "demo/DemoSite.h"
#include "app/Adapters.h"
#include "app/BrowserPageLoader.h"
#include "app/Commands.h"
#include "app/HistoryTab.h"
#include "app/HistoryWiring.h"
#include "app/ResumeOffer.h"
#include "app/ScheduleWiring.h"
#include "app/MainWindow.h"
#include "app/NotifyWiring.h"
#include "app/QtText.h"
#include "app/ResultListModel.h"
#include "app/RunViews.h"
#include "mining/Mining.h"
#include "rank/RankQuery.h"
#include "run/Scheduler.h"
#include "store/ConfigStore.h"
#include "hooks/Events.h"
#include "hooks/MessageBox.h"
#include "web/Coding.h"
#include "web/HttpClient.h"
#include "web/RetryAfter.h"
#include "web/RedirectResolver.h"
#include "web/TransferLoop.h"

namespace lanshu {

namespace {

// Trailing "/" off a scheme-and-host address.
std::string WithoutTrailingSlash(std::string s) {
  while (!s.empty() && s.back() == '/') s.pop_back();
  return s;
}

}  // namespace

void Application::InstallEventWait() {
  // Waits inside long work run the event loop, so the browser's messages are
  // handled as they come rather than after each sleep.
  SetEventWait([](int ms) {
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
  });
}

void Application::PrepareGraphics() {
  QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
  if (qEnvironmentVariableIsEmpty("QT_QUICK_BACKEND")) QQuickWindow::setGraphicsApi(QSGRendererInterface::Software);
}

bool Application::InstallChineseTranslations() {
  static QTranslator qtbase;  // lives as long as the application uses it
  if (!qtbase.isEmpty()) return true;
  if (!qtbase.load(QLocale(QLocale::Chinese, QLocale::China), QStringLiteral("qtbase"), QStringLiteral("_"),
                   QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
    return false;
  return QCoreApplication::installTranslator(&qtbase);
}

void Application::InstallWindowHooks() {
  SetEventPump([] { QCoreApplication::processEvents(); }, 5);
  InstallEventWait();
  SetMessageBoxHook([](const std::string& text, int flags, const std::string& title) {
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    switch (flags & kMbIconMask) {
      case kMbIconStop: icon = QMessageBox::Critical; break;
      case kMbIconQuestion: icon = QMessageBox::Question; break;
      case kMbIconWarning: icon = QMessageBox::Warning; break;
      case kMbIconInformation: icon = QMessageBox::Information; break;
      default: break;
    }
    const bool question = (flags & kMbButtonMask) == kMbYesNo;
    QMessageBox box(icon, FromGbk(title), GbkToControlText(text),
                    question ? QMessageBox::Yes | QMessageBox::No : QMessageBox::Ok);
    box.setWindowModality(Qt::ApplicationModal);
    const int pressed = box.exec();
    if (question) return pressed == QMessageBox::Yes ? kIdYes : kIdNo;
    return kIdOk;
  });
  SetUrlOpener([](const std::string& address) { return QDesktopServices::openUrl(QUrl(FromGbk(address))); });
}

Application::Application(const CommandLine& options, QObject* parent) : QObject(parent) {
  if (!options.error.empty()) {
    error_ = options.error;
    return;
  }
  // Program-wide objects, in their order.
  store_ = std::make_unique<ConfigStore>();
  http_ = std::make_unique<HttpClient>();
  if (!OpenSettings(options)) return;

  sites_ = LoadSiteAddresses(*store_);
  if (options.batch.empty()) SaveSiteAddresses(*store_, sites_);  // a batch run leaves the file alone
  if (options.demo) {
    demo::Options demoOptions;
    if (!options.demoFaults.empty())
      demo::ParseDemoFaults(options.demoFaults, demoOptions);  // checked with the command line
    demo_ = std::make_unique<demo::DemoSite>(demoOptions);
    if (!demo_->Start()) {
      error_ = "the demo site could not be started";
      return;
    }
    sites_.rankSite = demo_->BaseUrl();
    sites_.keywordSite = demo_->BaseUrl() + "/";
    sites_.searchSite = demo_->BaseUrl();
  }
  if (!options.rankSite.empty()) sites_.rankSite = Utf8TextToGbk(WithoutTrailingSlash(options.rankSite));
  if (!options.keywordSite.empty()) sites_.keywordSite = Utf8TextToGbk(options.keywordSite);
  if (!options.searchSite.empty()) sites_.searchSite = Utf8TextToGbk(WithoutTrailingSlash(options.searchSite));

  const bool batch = options.batch == "rank" || options.batch == "mine";
  if (batch) {
    CreateWithoutWindow();
  } else {
    CreateWindow();
    Wire();
    LoadSettings(*store_, *window_);
    if (store_->LoadedEncoding() == FileEncoding::kNeither)
      ShowMessageBox(G("设置文件的编码无法识别，文件保持原样，本次使用默认设置：\r\n") + ToGbk(settingsPath_),
                     kMbOk | kMbIconWarning, G("信息："));
  }
  Reliability reliability = LoadReliability(*store_);
  if (options.retries >= 0) reliability.retries = options.retries;
  rank_->reliability = reliability;
  mining_->reliability = reliability;
  // A batch run waits at a wall only when told to; the window when nobody
  // is meant to be there.
  patienceFromCommandLine_ = batch ? std::max(0, options.waitForLoginMinutes) : -1;
  LoadPatienceIntoRuns();
  // The settings kept with a run: the window's controls as it starts, or
  // the settings file's.
  QPointer<MainWindow> w = window_;
  std::function<std::string(RunKind)> settingsText = [this, w](RunKind kind) {
    return w ? RunSettingsText(ControlsOf(*w), kind) : RunSettingsText(batchControls_, kind);
  };
  history_ = std::make_unique<HistoryWiring>(options, *store_, window_.data(), *rank_, *mining_, settingsText);
  notify_ = std::make_unique<NotifyWiring>(*store_, window_.data(), *rank_, *mining_, history_.get());
  if (window_) {
    historyTab_ = std::make_unique<HistoryTab>(window_->历史页, *history_, *list_, *rank_, *window_);
    resumeOffer_ = std::make_unique<ResumeOffer>(*window_, *history_, *rank_, *mining_);
    // Once the window is up: the history is read on its first turn.
    QTimer::singleShot(0, resumeOffer_.get(), [offer = resumeOffer_.get()] { offer->Offer(); });
    schedule_ = std::make_unique<ScheduleWiring>(*window_, *history_, *rank_, *mining_);
    // The tray shows what the notification tells.
    notify_->SetOnShown([s = schedule_.get()](const QString& title, const QString& text) { s->ShowInTray(title, text); });
    connect(window_->选择框无人值守, &QCheckBox::toggled, this, [this] { LoadPatienceIntoRuns(); });
  }
}

void Application::LoadPatienceIntoRuns() {
  // In the window, 无人值守 counts as ticked, saved or not, as the
  // schedule's other controls do.
  std::optional<bool> unattended;
  if (window_) unattended = window_->选择框无人值守->isChecked();
  Patience patience = LoadPatience(*store_, unattended);
  if (patienceFromCommandLine_ >= 0) patience.wallWaitMinutes = patienceFromCommandLine_;
  rank_->patience = patience;
  mining_->patience = patience;
}

Application::~Application() {
  // Requests under way end now; the scheduler waits for them.
  if (rank_) rank_->RequestStop();
  if (mining_) mining_->RequestStop();
  CancelTransferWaits();
  scheduler_.reset();
  schedule_.reset();
  resumeOffer_.reset();
  historyTab_.reset();
  notify_.reset();   // it asks the history
  history_.reset();  // it listens to the runs
  delete window_.data();
  delete batchPage_;  // before its profile, as the window's page goes with the window
  commands_.reset();
  // The exit routine: program-wide objects go in their order of creation.
  store_.reset();
  http_.reset();
  mining_.reset();
  rank_.reset();
  miningUi_.reset();
  rankUi_.reset();
  loader_.reset();
  list_.reset();
  model_.reset();
  if (demo_) demo_->Stop();
}

bool Application::OpenSettings(const CommandLine& options) {
  if (!options.settingsFile.empty()) {
    settingsPath_ = QString::fromStdString(options.settingsFile);
    const QFileInfo info(settingsPath_);
    if (info.isDir()) {
      error_ = "the settings file is a directory: " + options.settingsFile;
      return false;
    }
    // A batch run takes its values from the file: it must be there.
    if (!options.batch.empty() && (!info.exists() || !info.isReadable())) {
      error_ = "the settings file cannot be read: " + options.settingsFile;
      return false;
    }
    if (!store_->Open(ToGbk(settingsPath_))) {
      error_ = "the settings file cannot be read or written: " + options.settingsFile;
      return false;
    }
    return true;
  }
  const QString name = FromGbk(SettingsFileName());
  settingsPath_ = QCoreApplication::applicationDirPath() + QLatin1Char('/') + name;
  if (store_->Open(ToGbk(settingsPath_))) return true;
  // The program's directory cannot be written: keep the settings with the user.
  const QString dir = QStandardPaths::writableLocation(QStandardPaths::AppConfigLocation);
  QDir().mkpath(dir);
  const QString fallback = dir + QLatin1Char('/') + name;
  std::fprintf(stderr, "lanshu-collector: %s cannot be written; settings are kept in %s\n",
               settingsPath_.toUtf8().constData(), fallback.toUtf8().constData());
  settingsPath_ = fallback;
  store_->Open(ToGbk(settingsPath_));  // a failure leaves the settings in memory only
  return true;
}

void Application::CreateWindow() {
  window_ = new MainWindow();
  window_->SetUserPageAddress(FromGbk(sites_.rankSite + "/user.php"));

  // The browser keeps its own profile, so a login survives between runs.
  QWebEngineView* view = window_->浏览框;
  // Owned by the program, so the page (a child of the view) goes first.
  profile_ = new QWebEngineProfile(QStringLiteral("lanshu-collector"), this);
  profile_->setPersistentCookiesPolicy(QWebEngineProfile::AllowPersistentCookies);
  view->setPage(new QWebEnginePage(profile_, view));
  view->setUrl(QUrl(QStringLiteral("about:blank")));
  cookies_ = new CookieBridge(profile_, this);

  model_ = std::make_unique<ResultListModel>(RankListTitles(), nullptr);
  window_->列表框->setModel(model_.get());
  const int widths[] = {50, 100, 150, 100, 60, 60, 300, 200};
  for (int c = 0; c < 8; ++c) window_->列表框->header()->resizeSection(c, widths[c]);
  window_->Relayout();
  list_ = std::make_unique<ListViewTable>(model_.get(), window_->列表框);

  rankUi_ = std::make_unique<RankWindowUi>(*window_, *list_);
  miningUi_ = std::make_unique<MiningWindowUi>(*window_);
  CreateRuns(view->page());
  progress_ = std::make_unique<ProgressView>(*window_);
  rank_->listeners.Add(progress_.get());
  mining_->listeners.Add(progress_.get());
  commands_ = std::make_unique<WindowCommands>(*window_, *list_, *store_, *mining_, sites_);
}

void Application::CreateWithoutWindow() {
  profile_ = new QWebEngineProfile(QStringLiteral("lanshu-collector"), this);
  profile_->setPersistentCookiesPolicy(QWebEngineProfile::AllowPersistentCookies);
  batchPage_ = new QWebEnginePage(profile_);
  cookies_ = new CookieBridge(profile_, this);
  batchControls_ = ControlsFromSettings(*store_);
  auto rankUi = std::make_unique<ControlsRankUi>(batchControls_);
  auto miningUi = std::make_unique<ControlsMiningUi>(batchControls_);
  batchRank_ = rankUi.get();
  batchMining_ = miningUi.get();
  rankUi_ = std::move(rankUi);
  miningUi_ = std::move(miningUi);
  CreateRuns(batchPage_);
  connect(batchPage_, &QWebEnginePage::loadFinished, this, [this] { rank_->OnDocumentReady(); });
}

void Application::CreateRuns(QWebEnginePage* page) {
  loader_ = std::make_unique<BrowserPageLoader>(page);
  rank_ = std::make_unique<RankQuery>(*rankUi_, *loader_, sites_.rankSite, sites_.searchSite);
  rank_->resolveLink = [](const std::string& link) { return ResolveRedirectLink(link); };
  rank_->resolveLinks = [](const std::vector<std::string>& links, const std::function<bool()>& stopped) {
    return ResolveRedirectLinks(links, 8, stopped);
  };
  mining_ = std::make_unique<KeywordMining>(*miningUi_, sites_.keywordSite);
  rank_->SetKeywordSite(sites_.keywordSite);
  mining_->SetOtherSites(sites_.rankSite, sites_.searchSite);
  mining_->fetch = [this](const std::string& url) { return http_->Request(url); };
  // Called on a worker: it reads only the plan, which a run never changes.
  mining_->fetchPage = [this](const std::string& url, const std::function<bool()>& stopped) {
    const HttpResult r = http_->Get(url, mining_->Plan().reliability.timeoutSeconds, stopped);
    return KeywordMining::Fetched{r.body, PageFetch{r.status, r.error, RetryAfterSeconds(r.headers, std::time(nullptr))}};
  };
  scheduler_ = std::make_unique<QtScheduler>();
  rank_->SetScheduler(scheduler_.get());
  mining_->SetScheduler(scheduler_.get());
}

void Application::Wire() {
  MainWindow& w = *window_;
  connect(w.浏览框, &QWebEngineView::loadFinished, this, [this] { rank_->OnDocumentReady(); });
  w.handlers.saveSettingsCommand = [this] {
    SaveSettingsCommand(*store_, *window_);
    LoadPatienceIntoRuns();
  };
  // A run goes on after its click; the window closes, when asked to, once
  // every run has ended.
  rank_->onIdle = [this] { FinishPendingClose(); };
  mining_->onIdle = [this] { FinishPendingClose(); };
  w.handlers.startStopRank = [this] { rank_->StartStopRankQuery(); };
  w.handlers.startStopMining = [this] { mining_->StartOrStopMining(); };
  w.handlers.clearList = [this] { list_->Clear(); };
  w.handlers.retryFailedPages = [this] { rank_->RetryFailedPages(); };
  w.handlers.retryFailedMiningPages = [this] { mining_->RetryFailedPages(); };
  w.handlers.browserBusy = [this] { return rank_->Running(); };
  rank_->onBlocked = [this](const PageReport& report) {
    return AskAtBlockedPage(*window_, RunKind::kRank, report, [this] { return !rank_->Running() || window_->按钮开始采集->text() != QStringLiteral("停止"); });
  };
  mining_->onBlocked = [this](const PageReport& report) {
    return AskAtBlockedPage(*window_, RunKind::kMine, report, [this] { return mining_->state.stopRequested; });
  };
  WindowCommands& c = *commands_;
  w.handlers.exportRank = [&c] { c.ExportRankList(); };
  w.handlers.copyRank = [&c] { c.CopyRankList(); };
  w.handlers.exportMining = [&c] { c.ExportMiningResults(); };
  w.handlers.copyMining = [&c] { c.CopyMiningResults(); };
  w.handlers.headerClicked = [&c](int column) { c.HeaderClicked(column); };
  w.handlers.openFind = [&c] { c.OpenFindDialog(); };
  w.handlers.copyRow = [&c] { c.CopyRow(); };
  w.handlers.searchKeyword = [&c] { c.SearchKeyword(); };
  w.handlers.visitPage = [&c] { c.VisitPage(); };
  w.handlers.chooseFolder = [&c] { c.ChooseFolder(); };
  w.handlers.showIntroduction = [&c] { c.ShowIntroduction(); };
  w.handlers.aboutToClose = [this] { return OnAboutToClose(); };
  w.handlers.openRankSiteHome = [this] { OpenInExplorer(sites_.rankSite + "/"); };
  w.handlers.openKeywordSiteHome = [this] { OpenInExplorer(sites_.keywordSite); };
}

bool Application::OnAboutToClose() {
  SaveSettings(*store_, *window_);
  const bool rankRunning = rank_->Running();
  const bool miningRunning = mining_->Running();
  if (!rankRunning && !miningRunning) return true;
  // Stop the runs as their buttons would; the window closes when they end.
  closePending_ = true;
  SetMessagesMuted(true);
  // Closing is a Stop: the runs end stopped, not finished.
  rank_->RequestStop();
  mining_->RequestStop();
  CancelTransferWaits();  // a page or link request in flight would hold the close for its time-out
  return false;
}

void Application::FinishPendingClose() {
  if (!closePending_ || rank_->Running() || mining_->Running()) return;
  closePending_ = false;
  SetMessagesMuted(false);
  QPointer<MainWindow> w = window_;
  QTimer::singleShot(0, this, [w] {
    if (w) w->close();
  });
}

}  // namespace lanshu
