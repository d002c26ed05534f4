#pragma once
// Start-up and shutdown: the program-wide objects in their order, the
// settings file, the window and its wiring to the two collection runs.
#include <QObject>
#include <QPointer>
#include <memory>
#include <string>

#include "app/CommandLine.h"
#include "app/RunControls.h"
#include "app/Settings.h"

class QWebEngineProfile;
class QWebEnginePage;

namespace lanshu {

class BrowserPageLoader;
class ConfigStore;
class CookieBridge;
class HistoryTab;
class ResumeOffer;
class ScheduleWiring;
class HistoryWiring;
class NotifyWiring;
class HttpClient;
class KeywordMining;
class ListViewTable;
class MainWindow;
class MiningWindowUi;
class ProgressView;
class RankQuery;
class RankWindowUi;
class QtScheduler;
class WindowCommands;
class ResultListModel;
namespace demo {
class DemoSite;
}

class Application : public QObject {
  Q_OBJECT
 public:
  // Creates the program-wide objects, opens the settings and creates the
  // window (not shown). Returns with an error text on failure.
  explicit Application(const CommandLine& options, QObject* parent = nullptr);
  ~Application() override;

  bool Ok() const { return error_.empty(); }
  const std::string& Error() const { return error_; }
  // None in a batch run, which shows no window.
  MainWindow* Window() const { return window_; }
  ConfigStore& Store() { return *store_; }
  HttpClient& Http() { return *http_; }
  RankQuery& Rank() { return *rank_; }
  KeywordMining& Mining() { return *mining_; }
  ListViewTable& List() { return *list_; }
  // A batch run's controls, as the settings file sets them, and the runs'
  // sides of them (null with a window).
  const RunControls& BatchControls() const { return batchControls_; }
  ControlsRankUi* BatchRankUi() const { return batchRank_; }
  ControlsMiningUi* BatchMiningUi() const { return batchMining_; }
  // The page a batch run's rank query loads (none with a window).
  QWebEnginePage* BatchPage() const { return batchPage_; }
  WindowCommands& Commands() { return *commands_; }
  const SiteAddresses& Sites() const { return sites_; }
  demo::DemoSite* Demo() const { return demo_.get(); }
  HistoryWiring& History() { return *history_; }
  NotifyWiring& Notify() { return *notify_; }
  HistoryTab& HistoryView() { return *historyTab_; }
  // Scheduled runs and the tray (none in a batch run).
  ScheduleWiring* Schedule() const { return schedule_.get(); }
  // The path the settings are kept in (UTF-8, native).
  QString SettingsPath() const { return settingsPath_; }

  // Settings that must be made before the QApplication exists: the browser
  // engine paints in software, so the window stays a plain raster window
  // and a small repaint (the moving logo) does not recompose all of it.
  // QT_QUICK_BACKEND, when set, still chooses.
  static void PrepareGraphics();
  // Installs the window's message boxes, URL opener and event processing.
  static void InstallWindowHooks();
  // Lets the waits inside long work run the event loop (part of the above).
  static void InstallEventWait();
  // Makes Qt's own dialogs and standard buttons speak Chinese (Qt's zh_CN
  // translations); false when they are not installed.
  static bool InstallChineseTranslations();

 private:
  bool OpenSettings(const CommandLine& options);
  void CreateWindow();
  // A batch run: the runs with the settings file's controls and a browser
  // page without a view; no widget at all.
  void CreateWithoutWindow();
  // What both share: the runs on their sides of the controls and the
  // browser page, their requests and their scheduler.
  void CreateRuns(QWebEnginePage* page);
  void Wire();
  // The settings file's patience at throttles and walls into both runs,
  // with the command line's wall wait over it.
  void LoadPatienceIntoRuns();
  // The close query: saves the settings; a running collection is asked to
  // stop first and the window closes once it has ended.
  bool OnAboutToClose();
  void FinishPendingClose();

  std::string error_;
  QString settingsPath_;
  SiteAddresses sites_;
  std::unique_ptr<demo::DemoSite> demo_;
  // Program-wide objects, created in this order and destroyed in reverse.
  std::unique_ptr<ConfigStore> store_;
  std::unique_ptr<HttpClient> http_;
  QPointer<MainWindow> window_;
  QWebEngineProfile* profile_ = nullptr;
  std::unique_ptr<ResultListModel> model_;
  std::unique_ptr<ListViewTable> list_;
  std::unique_ptr<BrowserPageLoader> loader_;
  std::unique_ptr<RankUi> rankUi_;
  std::unique_ptr<MiningUi> miningUi_;
  RunControls batchControls_;
  ControlsRankUi* batchRank_ = nullptr;
  ControlsMiningUi* batchMining_ = nullptr;
  QWebEnginePage* batchPage_ = nullptr;
  std::unique_ptr<ProgressView> progress_;
  // The runs' steps and their requests; gone before the runs and the HTTP
  // engine its requests use.
  std::unique_ptr<QtScheduler> scheduler_;
  std::unique_ptr<RankQuery> rank_;
  std::unique_ptr<KeywordMining> mining_;
  std::unique_ptr<WindowCommands> commands_;
  std::unique_ptr<HistoryWiring> history_;
  std::unique_ptr<NotifyWiring> notify_;  // reads the history
  std::unique_ptr<HistoryTab> historyTab_;
  std::unique_ptr<ResumeOffer> resumeOffer_;
  std::unique_ptr<ScheduleWiring> schedule_;
  CookieBridge* cookies_ = nullptr;
  bool closePending_ = false;
  int patienceFromCommandLine_ = -1;  // a batch run's --wait-for-login
};

}  // namespace lanshu
