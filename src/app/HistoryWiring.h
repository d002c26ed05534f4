#pragma once
// The run history in the program: which database the settings and the
// command line choose, the recorder on both runs' events, and the commands
// that only read the store (--batch compare, --history-copy-to).
#include <QObject>
#include <QPointer>
#include <functional>
#include <memory>
#include <string>

#include "app/CommandLine.h"
#include "run/RunEvents.h"

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

  void RunStarted(RunKind kind, const std::vector<std::string>& targets) override;
  void TargetStarted(RunKind kind, const std::string& target, int index, int count) override;
  void PageEnded(RunKind kind, const PageReport& report) override;
  void RunFailed(RunKind kind, const std::string& reason) override;
  void RunEnded(RunKind kind, RunEnd how) override;

 signals:
  // A run was kept (or its pages were): the history tab lists it again.
  void runStored();

 private:
  void Tell(const std::string& reason);
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
};

// The two commands that need no window. Each returns the exit status.
int RunHistoryCopy(const CommandLine& options);
int RunBatchCompare(const CommandLine& options);

}  // namespace lanshu
