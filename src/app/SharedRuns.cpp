// Runs that go on after a kill, runs that several processes share, and the
// export of a stored run: the history's queue seen from the program.
#include <QCoreApplication>
#include <QMetaObject>
#include <QPointer>
#include <QSysInfo>
#include <QUuid>
#include <cstdio>
#include <ctime>

#include "app/HistoryWiring.h"
#include "app/QtText.h"
#include "app/RunControls.h"
#include "history/HistoryRecorder.h"
#include "history/HistoryStore.h"
#include "history/HistoryWriter.h"
#include "history/QueuedPages.h"
#include "mining/Mining.h"
#include "rank/RankQuery.h"
#include "results/Export.h"
#include "results/MemoryTable.h"
#include "store/ConfigStore.h"
#include "text/Codec.h"

namespace lanshu {
namespace {

using history::HistoryStore;
using StoredRun = HistoryWiring::StoredRun;

// Reads run id whole: its plan, stored pages, result files and progress.
bool ReadStoredRun(HistoryStore& store, std::int64_t id, StoredRun& out) {
  const std::optional<history::RunInfo> info = store.Run(id);
  if (!info) return false;
  out.id = id;
  out.kind = info->kind;
  out.columns = info->columns;
  out.ended = info->ending != history::Ending::kUnfinished;
  out.blocked = info->ending == history::Ending::kBlocked;
  out.failed = info->ending == history::Ending::kFailed;
  if (std::optional<RunPlan> plan = RunPlan::FromJson(info->plan)) {
    out.plan = std::move(*plan);
  } else {
    out.plan = RunPlan();
    out.plan.kind = info->kind;
    out.plan.targets = info->targets;
  }
  const auto pages = store.LoadStoredPages(id);
  const auto files = store.ResultFiles(id);
  const auto progress = store.Progress(id);
  if (!pages || !files || !progress) return false;
  out.pages.clear();
  for (const history::PageRecord& page : *pages) out.pages.push_back(history::HistoryRecorder::FromRecord(out.kind, page));
  out.files = *files;
  out.pagesKnown = progress->pages;
  out.pagesDone = progress->done;
  return true;
}

// The newest run of kind that can go on, read whole; none when there is none.
bool ReadResumable(HistoryStore& store, RunKind kind, std::optional<StoredRun>& out) {
  out.reset();
  const auto found = store.Resumable(kind);
  if (!found) return false;
  if (!found->has_value()) return true;
  out.emplace();
  return ReadStoredRun(store, (*found)->id, *out);
}

}  // namespace

ExportContent StoredRunExport(const StoredRun& run, const std::string& fileName) {
  if (run.kind == RunKind::kRank) {
    auto list = std::make_shared<MemoryTable>(RankListTitles());
    ListPageRows(*list, run.pages);
    return RankExportContent(*list, run.plan.exportMode, run.plan.exportTemplate, fileName, list);
  }
  const std::string header = !run.columns.empty() ? run.columns : run.plan.MiningHeader();
  return MiningExportContent(LinesOfPages(run.pages), header, fileName);
}

ExportContent ComparisonExport(const std::vector<history::ComparisonRow>& rows, const std::string& fileName) {
  ExportContent content;
  if (IsXlsxFileName(fileName))
    content.sheet = GridXlsxSheet(ComparisonSheetName(), history::ComparisonTitles(), history::ComparisonCells(rows));
  else
    content.text = history::ComparisonCsv(rows);
  return content;
}

ExportContent DomainHistoryExport(std::vector<history::DomainHistoryRow> rows, const std::string& fileName) {
  ExportContent content;
  if (!IsXlsxFileName(fileName)) {
    content.text = history::DomainHistoryCsv(rows);
    return content;
  }
  // The sheet reads the rows when written: a long history is not held twice.
  auto kept = std::make_shared<const std::vector<history::DomainHistoryRow>>(std::move(rows));
  XlsxSheet sheet;
  sheet.name = Utf8TextToGbk("排名历史");
  sheet.titles = history::DomainHistoryTitles();
  sheet.rowCount = kept->size();
  sheet.cell = [kept](std::size_t row, int column) { return history::DomainHistoryCell((*kept)[row], column); };
  content.sheet = std::move(sheet);
  return content;
}

bool HistoryWiring::Ask(std::function<bool(history::HistoryStore&)> call, std::string& error) {
  error.clear();
  if (!writer_) return error = "the history is off", false;
  auto why = std::make_shared<std::string>();
  if (writer_->Call([why, call = std::move(call)](HistoryStore& store) {
        return call(store) || (*why = store.LastError(), false);
      }))
    return true;
  error = why->empty() ? "the history store did not answer" : *why;
  return false;
}

std::optional<StoredRun> HistoryWiring::Load(std::int64_t runId, std::string& error) {
  auto run = std::make_shared<StoredRun>();
  if (!Ask([run, runId](HistoryStore& store) { return ReadStoredRun(store, runId, *run); }, error)) return std::nullopt;
  return *run;
}

std::optional<StoredRun> HistoryWiring::Resumable(RunKind kind, std::string& error) {
  auto run = std::make_shared<std::optional<StoredRun>>();
  if (!Ask([run, kind](HistoryStore& store) { return ReadResumable(store, kind, *run); }, error)) return std::nullopt;
  return *run;
}

void HistoryWiring::FindResumable(std::function<void(std::vector<StoredRun>)> then) {
  if (!writer_) return;
  QPointer<HistoryWiring> self(this);
  writer_->Do([self, then = std::move(then)](HistoryStore& store) {
    auto runs = std::make_shared<std::vector<StoredRun>>();
    for (RunKind kind : {RunKind::kRank, RunKind::kMine}) {
      std::optional<StoredRun> run;
      if (!ReadResumable(store, kind, run)) return false;
      if (run) runs->push_back(std::move(*run));
    }
    QMetaObject::invokeMethod(
        self.data(), [self, then, runs] {
          if (self) then(std::move(*runs));
        },
        Qt::QueuedConnection);
    return true;
  });
}

std::optional<StoredRun> HistoryWiring::Campaign(const std::string& name, const RunPlan& plan, std::string& error) {
  auto id = std::make_shared<std::int64_t>(0);
  const std::string settings = settingsText_ ? settingsText_(plan.kind) : std::string();
  const std::string columns = plan.kind == RunKind::kMine ? plan.MiningHeader() : std::string();
  const std::string json = plan.ToJson();
  const bool ok = Ask(
      [=](HistoryStore& store) {
        // Two processes may make it at once: the name is unique, and the one
        // refused joins the other's.
        for (int tries = 0; tries < 2; ++tries) {
          const auto found = store.Campaign(name);
          if (!found) return false;
          if (found->has_value()) {
            *id = **found;
            return true;
          }
          const auto made = store.BeginRun(plan.kind, plan.targets, settings, QDateTime::currentDateTimeUtc(),
                                           columns, 0, json, name);
          if (made) {
            *id = *made;
            return true;
          }
        }
        return false;
      },
      error);
  if (!ok) return std::nullopt;
  std::optional<StoredRun> run = Load(*id, error);
  if (run && run->kind != plan.kind) {
    error = "the campaign is a " + std::string(run->kind == RunKind::kRank ? "rank" : "mining") + " run";
    return std::nullopt;
  }
  return run;
}

bool HistoryWiring::Abandon(std::int64_t runId, std::string& error) {
  return Ask([runId](HistoryStore& store) { return store.Abandon(runId); }, error);
}

bool HistoryWiring::TakeFileWriting(std::int64_t runId) {
  auto mine = std::make_shared<bool>(false);
  return writer_ && writer_->Call([mine, runId](HistoryStore& store) {
    const auto taken = store.TakeFileWriting(runId);
    *mine = taken.value_or(false);
    return taken.has_value();
  }) && *mine;
}

void HistoryWiring::GoOn(const StoredRun& run, bool shared) {
  if (!writer_) return;
  if (holder_.empty())
    holder_ = (QSysInfo::machineHostName() + QLatin1Char('/') + QString::number(QCoreApplication::applicationPid()) +
               QLatin1Char('/') + QUuid::createUuid().toString(QUuid::Id128).left(8))
                  .toStdString();
  const std::int64_t leaseMs = static_cast<std::int64_t>(leaseSeconds_) * 1000;
  if (!shared) {
    // One process: what the killed one held or failed is asked again.
    const std::int64_t id = run.id;
    writer_->Call([id](HistoryStore& store) { return store.Reopen(id); });
  }
  recorder_->GoOn(run.kind, run.id, holder_, leaseMs, shared);
  leased_[run.kind] = run.id;
  if (!leaseTimer_.isActive()) {
    QObject::disconnect(&leaseTimer_, nullptr, this, nullptr);
    connect(&leaseTimer_, &QTimer::timeout, this, [this, leaseMs] {
      for (const auto& [kind, id] : leased_)
        writer_->Do([id = id, holder = holder_, leaseMs](HistoryStore& store) { return store.Renew(id, holder, leaseMs); });
    });
    leaseTimer_.start(std::max(1000, leaseSeconds_ * 1000 / 3));
  }
  history::QueuedPages::Setup setup;
  setup.runId = run.id;
  setup.holder = holder_;
  setup.leaseMs = leaseMs;
  setup.targets = run.plan.targets;
  setup.shared = shared;
  history::HistoryWriter* writer = writer_.get();
  auto source = std::make_unique<history::QueuedPages>(
      [writer](std::function<bool(HistoryStore&)> call) { return writer->Call(std::move(call)); }, setup);
  if (run.kind == RunKind::kRank) {
    rank_.GoOnWith(run.plan, std::move(source), run.pages);
    return;
  }
  KeywordMining::KeptFiles files;
  for (const auto& [target, path] : run.files) (target.empty() ? files.run : files.seeds[target]) = path;
  RunPlan plan = run.plan;
  // A shared run's files are written once, whole, when it is complete.
  if (shared) plan.autoSave = false;
  mining_.GoOnWith(std::move(plan), std::move(source), run.pages, std::move(files));
}

bool HistoryWiring::WriteResultFiles(const StoredRun& run, std::string& failedFile) {
  failedFile.clear();
  if (run.kind != RunKind::kMine || !run.plan.autoSave) return true;
  return WriteRunResultFiles(run.plan, run.pages, mining_.now(), failedFile);
}

int RunBatchExport(const CommandLine& options) {
  auto fail = [](const std::string& why) {
    const std::string line = "lanshu-collector: cannot export: " + why + "\n";
    std::fwrite(line.data(), 1, line.size(), stderr);
    return 1;
  };
  const HistorySettings h = HistorySettingsOf(options);
  HistoryStore store;
  if (!store.Open(h.database)) return fail(store.LastError());
  std::int64_t id = options.runId;
  if (!options.campaign.empty()) {
    const auto found = store.Campaign(Utf8TextToGbk(options.campaign));
    if (!found) return fail(store.LastError());
    if (!found->has_value()) return fail("no run named " + options.campaign + " in the history");
    id = **found;
  } else {
    if (!store.Run(id)) return fail(store.LastError());
  }
  StoredRun run;
  if (!ReadStoredRun(store, id, run)) return fail(store.LastError());
  const QString out = QString::fromStdString(options.outFile);
  std::uintmax_t bytes = 0;
  ExportContent content = StoredRunExport(run, ToGbk(out));
  content.encoding = BatchEncoding(options);
  if (!WriteExport(ToGbk(out), content, nullptr, nullptr, &bytes)) {
    const std::string line = "lanshu-collector: cannot write " + options.outFile + "\n";
    std::fwrite(line.data(), 1, line.size(), stderr);
    return 1;
  }
  const std::string line =
      "lanshu-collector: wrote " + options.outFile + " (" + std::to_string(bytes) + " bytes)\n";
  std::fwrite(line.data(), 1, line.size(), stderr);
  return 0;
}

}  // namespace lanshu
