#include "app/HistoryWiring.h"

#include <QCoreApplication>
#include <QDate>
#include <QFileInfo>
#include <QLabel>
#include <QStatusBar>
#include <QStringList>
#include <chrono>
#include <cstdio>
#include <utility>

#include "history/DatabaseAddress.h"
#include "app/MainWindow.h"
#include "app/QtText.h"
#include "app/Settings.h"
#include "history/Comparison.h"
#include "history/DomainHistory.h"
#include "history/HistoryRecorder.h"
#include "history/HistoryStore.h"
#include "history/HistoryWriter.h"
#include "history/RankChanges.h"
#include "mining/Mining.h"
#include "rank/RankQuery.h"
#include "results/Export.h"
#include "store/ConfigStore.h"
#include "text/Reasons.h"

namespace lanshu {
namespace {

void Say(const std::string& utf8) {
  const std::string line = "lanshu-collector: " + utf8 + "\n";
  std::fwrite(line.data(), 1, line.size(), stderr);
  std::fflush(stderr);
}

// A database as messages name it: never with its password.
QString DatabaseName(const std::string& gbk) {
  return gbk.empty() ? FromGbk(history::HistoryStore::DefaultPath()) : AddressWithoutPassword(FromGbk(gbk));
}

}  // namespace

HistorySettings LoadHistorySettings(ConfigStore& s) {
  HistorySettings h;
  s.SetSection(G("历史记录"));
  h.keep = s.ReadBoolNotFalse(G("保存历史"), true);
  h.database = s.ReadText(G("数据库"), "");
  return h;
}

void SaveHistorySettings(ConfigStore& s, const HistorySettings& h) {
  s.SetSection(G("历史记录"));
  s.WriteBool(G("保存历史"), h.keep);
  // A password typed into a server address serves this session only.
  s.WriteText(G("数据库"), DatabaseSettingToSave(h.database));
}

HistorySettings ChosenHistory(const CommandLine& options, ConfigStore& store) {
  HistorySettings h = LoadHistorySettings(store);
  if (options.noHistory) h.keep = false;
  if (!options.historyDb.empty()) {
    h.keep = true;
    h.database = Utf8TextToGbk(options.historyDb);
  }
  return h;
}

// The settings file a command without a window reads: the one named, else
// the one beside the program. Read in memory only: these commands change no
// settings.
namespace {
// The settings file of a command without a window, read in memory; empty
// when there is none.
ConfigStore CommandSettings(const CommandLine& options) {
  const QString path = !options.settingsFile.empty()
                           ? QString::fromStdString(options.settingsFile)
                           : QCoreApplication::applicationDirPath() + QLatin1Char('/') + FromGbk(SettingsFileName());
  ConfigStore store;
  if (QFileInfo(path).isFile()) store.Load(ToGbk(path), true);
  return store;
}
}  // namespace

HistorySettings HistorySettingsOf(const CommandLine& options) {
  ConfigStore store = CommandSettings(options);
  return ChosenHistory(options, store);
}

TextEncoding ChosenEncoding(const CommandLine& options, ConfigStore& store) {
  if (const auto named = EncodingFromOptionName(options.encoding)) return *named;
  return LoadExportEncoding(store);
}

TextEncoding BatchEncoding(const CommandLine& options) {
  ConfigStore store = CommandSettings(options);
  return ChosenEncoding(options, store);
}

HistoryWiring::HistoryWiring(const CommandLine& options, ConfigStore& settings, MainWindow* window,
                             RankQuery& rank, KeywordMining& mining,
                             std::function<std::string(RunKind)> settingsText, QObject* parent)
    : QObject(parent),
      settings_(ChosenHistory(options, settings)),
      batch_(!options.batch.empty()),
      window_(window),
      rank_(rank),
      mining_(mining) {
  if (!settings_.keep) return;
  store_ = std::make_unique<history::HistoryStore>();
  writer_ = std::make_unique<history::HistoryWriter>(settings_.database);
  recorder_ = std::make_unique<history::HistoryRecorder>(*writer_, [this](const std::string& why) { Tell(why); });
  recorder_->onStored = [this] { emit runStored(); };
  recorder_->settingsSnapshot = settingsText;
  settingsText_ = std::move(settingsText);
  leaseSeconds_ = LoadLeaseSeconds(settings);
  // A page is held back until the page before the last one is stored: a
  // kill costs at most the page in flight and the one waiting to be stored.
  for (Runner* run : {static_cast<Runner*>(&rank_), static_cast<Runner*>(&mining_)})
    run->mayFetch = [this] { return writer_->QueuedPages() <= 1; };
  // Kept so that a run that goes on writes on into the same files.
  mining_.onResultFile = [this](const std::string& seed, const std::string& path) {
    recorder_->ResultFile(RunKind::kMine, seed, path);
  };
  recorder_->miningColumns = [this] { return mining_.state.csvHeader; };
  recorder_->planSnapshot = [this](RunKind kind) {
    return kind == RunKind::kRank ? rank_.Plan().ToJson() : mining_.Plan().ToJson();
  };
  rank_.listeners.Add(this);
  mining_.listeners.Add(this);
  if (!window) return;
  // A retry of failed pages tells its start inside the call.
  for (auto [handler, kind] : {std::pair{&window->handlers.retryFailedPages, RunKind::kRank},
                               std::pair{&window->handlers.retryFailedMiningPages, RunKind::kMine}}) {
    if (std::function<void()> retry = *handler)
      *handler = [this, retry, kind = kind] {
        recorder_->ContinueLastRun(kind);
        retry();
        recorder_->EndContinuing(kind);
      };
  }
  if (!batch_) {
    // Its own place in the status bar, so the run's status texts do not
    // overwrite the message.
    status_ = new QLabel(window->状态条);
    status_->setObjectName(QStringLiteral("历史状态"));
    window->状态条->addPermanentWidget(status_);
    status_->hide();
  }
}

HistoryWiring::~HistoryWiring() {
  if (!recorder_) return;
  rank_.mayFetch = nullptr;
  mining_.mayFetch = nullptr;
  rank_.listeners.Remove(this);
  mining_.listeners.Remove(this);
  Drain();
}

namespace {

// The Chinese of what history::UnstoredText says in English.
QString UnstoredChinese(const std::vector<history::UnstoredRun>& runs, std::chrono::milliseconds waited) {
  QStringList parts;
  for (const history::UnstoredRun& run : runs) {
    if (run.id == 0) {
      QString piece = run.kind == RunKind::kRank ? QStringLiteral("一次排名运行") : QStringLiteral("一次挖掘运行");
      if (run.pages > 0) piece += QStringLiteral("（%1 页）").arg(run.pages);
      parts << piece;
    } else if (run.pages > 0) {
      parts << QStringLiteral("运行 %1 的 %2 页%3").arg(run.id).arg(run.pages).arg(run.ending ? QStringLiteral("和结束") : QString());
    } else {
      parts << QStringLiteral("运行 %1 的结束").arg(run.id);
    }
  }
  const long long ms = static_cast<long long>(waited.count());
  const QString within = ms % 1000 == 0 ? QStringLiteral("%1 秒").arg(ms / 1000) : QStringLiteral("%1 毫秒").arg(ms);
  return parts.join(QStringLiteral("、")) + QStringLiteral("（数据库 %1内没有回应）").arg(within);
}

}  // namespace

void HistoryWiring::Drain() {
  if (!writer_ || drained_) return;
  drained_ = true;
  const std::vector<history::UnstoredRun> lost = writer_->Drain(history::HistoryWriter::kDrainBudget);
  if (lost.empty()) return;
  TellUnstored(history::UnstoredText(lost, history::HistoryWriter::kDrainBudget),
               UnstoredChinese(lost, history::HistoryWriter::kDrainBudget));
}

void HistoryWiring::TellUnstored(const std::string& english, const QString& chinese) {
  // The program's end usually comes after the window closed: standard error
  // then, as nobody would see the status bar.
  if (batch_ || !status_ || !window_ || !window_->isVisible()) {
    Say("history not kept: " + english);
    return;
  }
  status_->setText(QStringLiteral("历史记录未保存：") + chinese);
  status_->show();
}

history::HistoryStore* HistoryWiring::Open() {
  if (!store_) return nullptr;
  if (!store_->IsOpen()) {
    openError_.clear();
    if (!store_->Open(settings_.database)) openError_ = store_->LastError();
  }
  return store_.get();
}

void HistoryWiring::Tell(const std::string& reason) {
  if (batch_) {
    Say("history not kept: " + reason);
    return;
  }
  if (!status_) return;
  status_->setText(QStringLiteral("历史记录未保存：") + QString::fromStdString(ChineseReason(reason)));
  status_->show();
}

void HistoryWiring::RunStarted(RunKind kind, const std::vector<std::string>& targets) {
  // The writer opens its own connection on its own thread.
  if (status_) status_->hide();
  recorder_->RunStarted(kind, targets);
}

void HistoryWiring::TargetStarted(RunKind kind, const std::string& target, int index, int count) {
  recorder_->TargetStarted(kind, target, index, count);
}

void HistoryWiring::PageEnded(RunKind kind, const PageReport& report) {
  recorder_->PageEnded(kind, report);
}

void HistoryWiring::RunFailed(RunKind kind, const std::string& reason) { recorder_->RunFailed(kind, reason); }

void HistoryWiring::PageRequested(RunKind kind, const std::string& target, int page, int attempt, int knownPages) {
  recorder_->PageRequested(kind, target, page, attempt, knownPages);
}

void HistoryWiring::RunEnded(RunKind kind, RunEnd how) {
  recorder_->RunEnded(kind, how);
  leased_.erase(kind);
  if (leased_.empty()) leaseTimer_.stop();
}

bool HistoryWiring::RankChanges(int places, std::function<void(std::vector<RankChange>)> then) {
  if (!recorder_) return false;
  QPointer<HistoryWiring> self(this);
  return recorder_->AfterRun(RunKind::kRank, [self, places, then = std::move(then)](history::HistoryStore& store,
                                                                                  std::int64_t runId) {
    // A store that fails tells no changes rather than keep the notice back.
    auto changes = std::make_shared<std::vector<RankChange>>(
        history::RankChangesOfRun(store, runId, places).value_or(std::vector<RankChange>()));
    QMetaObject::invokeMethod(
        self.data(), [self, then, changes] {
          if (self) then(std::move(*changes));
        },
        Qt::QueuedConnection);
  });
}

int RunHistoryCopy(const CommandLine& options) {
  const HistorySettings h = HistorySettingsOf(options);
  history::HistoryStore local, team;
  const QString from = DatabaseName(h.database);
  const QString to = AddressWithoutPassword(QString::fromStdString(options.historyCopyTo));
  if (!local.Open(h.database)) {
    Say("cannot open the history " + from.toStdString() + ": " + local.LastError());
    return 1;
  }
  if (!team.Open(Utf8TextToGbk(options.historyCopyTo))) {
    Say("cannot open the history " + to.toStdString() + ": " + team.LastError());
    return 1;
  }
  const auto stats = local.CopyTo(team);
  if (!stats) {
    Say("history not copied to " + to.toStdString() + ": " + local.LastError());
    return 1;
  }
  Say("copied " + std::to_string(stats->copied) + " runs to " + to.toStdString() + " (" +
      std::to_string(stats->replaced) + " replaced, " + std::to_string(stats->skipped) + " already there)");
  return 0;
}

int RunBatchCompare(const CommandLine& options) {
  const HistorySettings h = HistorySettingsOf(options);
  history::HistoryStore store;
  if (!store.Open(h.database)) {
    Say("cannot open the history " + DatabaseName(h.database).toStdString() + ": " + store.LastError());
    return 1;
  }
  const std::string domain = Utf8TextToGbk(options.domain);
  std::int64_t older = options.fromRun, newer = options.toRun;
  if (older == 0) {
    const auto latest = store.LatestTwoFinishedRuns(domain);
    if (!latest) {
      Say("cannot compare " + options.domain + ": " + store.LastError());
      return 1;
    }
    older = latest->first;
    newer = latest->second;
  } else {
    for (const std::int64_t id : {older, newer}) {
      const auto run = store.Run(id);
      if (!run || run->kind != history::RunKind::kRank) {
        Say("cannot compare " + options.domain + ": no rank run " + std::to_string(id));
        return 1;
      }
    }
  }
  const auto rows = store.Compare(older, newer, domain);
  if (!rows) {
    Say("cannot compare " + options.domain + ": " + store.LastError());
    return 1;
  }
  const QString out = QString::fromStdString(options.outFile);
  std::uintmax_t bytes = 0;
  ExportContent content = ComparisonExport(*rows, ToGbk(out));
  content.encoding = BatchEncoding(options);
  if (!WriteExport(ToGbk(out), content, nullptr, nullptr, &bytes)) {
    Say("cannot write " + options.outFile);
    return 1;
  }
  Say("compared runs " + std::to_string(older) + " and " + std::to_string(newer) + " of " + options.domain +
      ": wrote " + options.outFile + " (" + std::to_string(rows->size()) + " keywords, " +
      std::to_string(bytes) + " bytes)");
  return 0;
}

int RunBatchHistory(const CommandLine& options) {
  const auto fail = [&](const std::string& reason) {
    Say("cannot export history of " + options.domain + ": " + reason);
    return 1;
  };
  const HistorySettings h = HistorySettingsOf(options);
  history::HistoryStore store;
  if (!store.Open(h.database)) return fail(store.LastError());
  std::string reason;
  const auto day = [](const std::string& text) { return QDate::fromString(QString::fromStdString(text), Qt::ISODate); };
  auto rows = history::ReadDomainHistory(store, Utf8TextToGbk(options.domain), day(options.since), day(options.until),
                                         reason);
  if (!rows) return fail(reason);
  const QString out = QString::fromStdString(options.outFile);
  ExportContent content = DomainHistoryExport(std::move(*rows), ToGbk(out));
  content.encoding = BatchEncoding(options);
  std::uintmax_t bytes = 0;
  if (!WriteExport(ToGbk(out), content, nullptr, nullptr, &bytes)) {
    Say("cannot write " + options.outFile);
    return 1;
  }
  Say("wrote " + options.outFile + " (" + std::to_string(bytes) + " bytes)");
  return 0;
}

}  // namespace lanshu
