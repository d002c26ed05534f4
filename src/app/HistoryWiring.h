#pragma once
// The run history in the program: which database the settings and the
// command line choose, the recorder on both runs' events, and the commands
// that only read the store (--batch compare, --history-copy-to).
#include <QObject>
#include <QPointer>
#include <functional>
#include <memory>
#include <string>

#include <QTimer>
#include <cstdint>
#include <map>
#include <optional>
#include <vector>

#include "app/CommandLine.h"
#include "history/Comparison.h"
#include "history/DomainHistory.h"
#include "results/Xlsx.h"
#include "run/Notice.h"
#include "run/RunEvents.h"
#include "run/RunPlan.h"

class QLabel;

namespace lanshu {

class ConfigStore;
class KeywordMining;
class MainWindow;
class RankQuery;
namespace history {
class HistoryRecorder;
class HistoryStore;
class HistoryWriter;
}  // namespace history

// Section "历史记录": "保存历史" (真/假) and "数据库" (GBK; empty: the default
// file). Written only by SaveSettings.
struct HistorySettings {
  bool keep = true;
  std::string database;
};
HistorySettings LoadHistorySettings(ConfigStore& store);
void SaveHistorySettings(ConfigStore& store, const HistorySettings& settings);

// The settings with the command line's --history and --no-history applied.
HistorySettings ChosenHistory(const CommandLine& options, ConfigStore& store);
// The same for a command without a window: of the settings file named, else
// the one beside the program, read in memory only.
HistorySettings HistorySettingsOf(const CommandLine& options);
// The encoding of a batch's text files: --encoding, else the settings'; the
// same for a command without a window, from its settings file.
TextEncoding ChosenEncoding(const CommandLine& options, ConfigStore& store);
TextEncoding BatchEncoding(const CommandLine& options);

// Keeps every rank query and mining run in the chosen store, opened when it
// is first needed. The runs are written on a thread of their own, so that a
// slow server holds up neither the window nor the run. A store that fails is
// told once per run: in the window's status bar, or on standard error in a
// batch run.
class HistoryWiring : public QObject, public RunListener {
  Q_OBJECT
 public:
  // window: null in a batch run; settingsText: the settings kept with a
  // run of the kind, as they are when it starts.
  HistoryWiring(const CommandLine& options, ConfigStore& settings, MainWindow* window, RankQuery& rank,
                KeywordMining& mining, std::function<std::string(RunKind)> settingsText, QObject* parent = nullptr);
  ~HistoryWiring() override;

  bool Enabled() const { return settings_.keep; }
  // The store the history tab reads, on the window's thread (the writing has
  // a connection of its own); null when history is off. Open() opens it
  // when it is not open yet (again after a failure: a server may be back),
  // with the reason of a failure in OpenError().
  history::HistoryStore* Store() { return store_.get(); }
  history::HistoryStore* Open();
  const std::string& OpenError() const { return openError_; }

  // The end of the history: what is queued is stored, for at most
  // HistoryWriter::kDrainBudget; what could not be is told, in the status bar
  // or in a batch run as one line on standard error. Once; the destructor
  // calls it when nobody did.
  void Drain();

  // A stored run, to go on with or to write out.
  struct StoredRun {
    std::int64_t id = 0;
    RunKind kind = RunKind::kRank;
    RunPlan plan;
    std::string columns;  // a mining run's CSV header as stored
    bool ended = false;   // its ending is stored: it does not go on
    bool blocked = false, failed = false;  // how it ended
    std::vector<PageReport> pages;  // stored, in the run's order
    std::map<std::string, std::string> files;  // its result files; the run's under ""
    std::int64_t pagesKnown = 0, pagesDone = 0;
    bool Complete() const { return pagesDone == pagesKnown; }
  };
  // Each of these waits for the writes queued before it; none with the
  // reason in `error` when the store failed. The newest run of kind that can
  // go on (none, with error empty: there is none).
  std::optional<StoredRun> Resumable(RunKind kind, std::string& error);
  std::optional<StoredRun> Load(std::int64_t runId, std::string& error);
  // The same for both kinds (rank first) without waiting: then gets them on
  // this object's thread once the history has answered; nothing when it
  // failed.
  void FindResumable(std::function<void(std::vector<StoredRun>)> then);
  // The run shared under name: made from plan and the kind's settings when
  // there is none yet.
  std::optional<StoredRun> Campaign(const std::string& name, const RunPlan& plan, std::string& error);
  bool Abandon(std::int64_t runId, std::string& error);
  // True for the one process that is to write a shared run's result files.
  bool TakeFileWriting(std::int64_t runId);
  // Starts the kind's run going on with run: its pages not ok are asked
  // (again), a target at a time, under a lease. Shared: other processes work
  // on the run as well, and this one writes no result files.
  void GoOn(const StoredRun& run, bool shared);
  // The keywords of domain in its newest finished rank run against the one
  // finished before it (by the time they finished, so that a run that went
  // on after a kill counts when it ended). Waits for the writes queued
  // before it. none with error empty: there is no earlier finished run; none
  // with the reason in error: the store failed. Defined in ScheduleWiring.cpp.
  struct DomainChange {
    std::int64_t older = 0, newer = 0;
    std::vector<history::ComparisonRow> rows;
  };
  std::optional<DomainChange> LatestChange(const std::string& domain, std::string& error);
  // A shared mining run's result files, written whole from the store; false
  // with the file that could not be written.
  bool WriteResultFiles(const StoredRun& run, std::string& failedFile);

  // The keywords of each domain of the last rank run that entered or left
  // the top 10 or moved `places` or more (history::NotableChanges) since the
  // domain's previous finished rank run; read on the history's thread after
  // the run's writes, then given to `then` on this object's thread. False
  // when the run is not kept: `then` is not called, nor is it when the
  // store fails or is given up on.
  bool RankChanges(int places, std::function<void(std::vector<RankChange>)> then);

  void RunStarted(RunKind kind, const std::vector<std::string>& targets) override;
  void TargetStarted(RunKind kind, const std::string& target, int index, int count) override;
  void PageRequested(RunKind kind, const std::string& target, int page, int attempt, int knownPages) override;
  void PageEnded(RunKind kind, const PageReport& report) override;
  void RunFailed(RunKind kind, const std::string& reason) override;
  void RunEnded(RunKind kind, RunEnd how) override;

 signals:
  // A run was kept (or its pages were): the history tab lists it again.
  void runStored();

 private:
  void Tell(const std::string& reason);
  // Runs call with the store in its turn among the writes, and waits for it;
  // false with the reason in error.
  bool Ask(std::function<bool(history::HistoryStore&)> call, std::string& error);
  void TellUnstored(const std::string& english, const QString& chinese);

  HistorySettings settings_;
  bool batch_;
  QPointer<MainWindow> window_;
  RankQuery& rank_;
  KeywordMining& mining_;
  QPointer<QLabel> status_;
  std::unique_ptr<history::HistoryStore> store_;
  std::unique_ptr<history::HistoryWriter> writer_;
  std::unique_ptr<history::HistoryRecorder> recorder_;
  bool drained_ = false;
  std::string openError_;
  std::function<std::string(RunKind)> settingsText_;
  int leaseSeconds_ = 60;
  std::string holder_;  // this process in the leases of shared runs
  QTimer leaseTimer_;   // renews them while a run goes on
  std::map<RunKind, std::int64_t> leased_;  // the runs it renews
};

// The commands that need no window. Each returns the exit status.
int RunHistoryCopy(const CommandLine& options);
int RunBatchCompare(const CommandLine& options);
int RunBatchExport(const CommandLine& options);

// A stored run's result as its own export writes it to fileName (GBK): rank
// in the plan's export mode, mining its lines with the header in front for a
// ".csv" file; a sheet for an ".xlsx" file (rank in the CSV mode only).
ExportContent StoredRunExport(const HistoryWiring::StoredRun& run, const std::string& fileName);

// The comparison's export to fileName (GBK): a sheet for an ".xlsx" file,
// else its CSV.
ExportContent ComparisonExport(const std::vector<history::ComparisonRow>& rows, const std::string& fileName);

// A domain's history in long form to fileName (GBK): a sheet for an ".xlsx"
// file, else its CSV.
ExportContent DomainHistoryExport(std::vector<history::DomainHistoryRow> rows, const std::string& fileName);

// --batch history: a domain's whole history in long form into FILE.
int RunBatchHistory(const CommandLine& options);

}  // namespace lanshu
