#pragma once
// Keeps a collection run in the history store as it goes: the run when it
// starts, each page in its own transaction when it ends, and how the run
// ended. A listener on the run's events, like the progress view and the
// batch reporter; it shows nothing itself.
//
// With a HistoryWriter the store is written on the writer's thread: every
// call here takes what it needs from the event and the window there and then,
// queues the write and returns without waiting for the database. With a store
// it writes at once on the caller's thread.
//
// A store that fails (locked, corrupt, full disk, server gone) only ends the
// recording of that run: one message goes to onFailure, the run collects on.
// Messages and onStored come on the caller's thread.
#include <QDateTime>
#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "history/HistoryStore.h"
#include "history/HistoryWriter.h"
#include "run/RunEvents.h"

namespace lanshu::history {

class HistoryRecorder : public lanshu::RunListener {
 public:
  // Why the store failed (UTF-8, short English, from the store).
  using FailureHandler = std::function<void(const std::string& reason)>;

  // store may be null or unopened: then every run fails at its start with
  // `unavailable` as the reason (empty: the store's own LastError()).
  HistoryRecorder(HistoryStore* store, FailureHandler onFailure, std::string unavailable = std::string());
  // Writes through writer, which must outlive the recorder.
  HistoryRecorder(HistoryWriter& writer, FailureHandler onFailure);
  ~HistoryRecorder() override;
  // The writer tells this recorder, by address.
  HistoryRecorder(const HistoryRecorder&) = delete;
  HistoryRecorder& operator=(const HistoryRecorder&) = delete;

  // The settings of a run as kept with it (GBK); empty when not given.
  std::function<std::string(lanshu::RunKind)> settingsSnapshot;
  // The plan of the kind's run as JSON (UTF-8); empty when not given.
  std::function<std::string(lanshu::RunKind)> planSnapshot;
  // The mining run's CSV header (GBK). Mining knows it only once its first
  // seed starts, so a mining run is begun in the store then.
  std::function<std::string()> miningColumns;
  // Now, in UTC; tests give a fixed clock.
  std::function<QDateTime()> clock = [] { return QDateTime::currentDateTimeUtc(); };
  // A run's ending was dealt with in the store (stored, or not after a
  // failure already told): the history can be listed again.
  std::function<void()> onStored;

  // The runs started until EndContinuing() continue the kind's last run:
  // 重试失败页 asks a run's failed pages again. Each is a run of its own that
  // names the run it continues, whose ending stays as it was.
  void ContinueLastRun(lanshu::RunKind kind) { Of(kind).continuing = true; }
  void EndContinuing(lanshu::RunKind kind) { Of(kind).continuing = false; }

  // The next run of kind goes on with run runId of the store instead of
  // beginning a new one. holder names this process in the run's leases:
  // each attempt at a page is counted in the queue as it is made, and only
  // the holder stores. A shared run's ending is stored by the process that
  // finds every page final.
  void GoOn(lanshu::RunKind kind, std::int64_t runId, std::string holder, std::int64_t leaseMs, bool shared);

  // The run of kind writes its lines to path: the whole run's (target
  // empty) or target's. Kept so that a run that goes on writes on there;
  // returns once the store has it (at most 2 s), before the file is made.
  void ResultFile(lanshu::RunKind kind, const std::string& target, const std::string& path);

  void RunStarted(lanshu::RunKind kind, const std::vector<std::string>& targets) override;
  void PageRequested(lanshu::RunKind kind, const std::string& target, int page, int attempt,
                     int knownPages) override;
  void TargetStarted(lanshu::RunKind kind, const std::string& target, int index, int count) override;
  void PageEnded(lanshu::RunKind kind, const PageReport& report) override;
  void RunFailed(lanshu::RunKind kind, const std::string& reason) override;
  void RunEnded(lanshu::RunKind kind, RunEnd how) override;

  // Calls call with the store and the store's id of the kind's last run, in
  // its turn after the writes queued for that run (on the writer's thread
  // with a writer). False, and no call, when the run is not being recorded;
  // a store that fails or is given up on at the end makes no call either.
  bool AfterRun(lanshu::RunKind kind, std::function<void(HistoryStore&, std::int64_t runId)> call);

  // The store's id of the kind's current (or last) run, once it is stored;
  // none when it is not being recorded.
  std::optional<std::int64_t> RunId(lanshu::RunKind kind) const;

  // The page as the store keeps it, and a stored page as a run reports it.
  static PageRecord ToRecord(lanshu::RunKind kind, const PageReport& report);
  static PageReport FromRecord(lanshu::RunKind kind, const PageRecord& record);

 private:
  struct Recording {
    bool pending = false;  // started, not yet begun in the store
    bool continuing = false;
    RunHandle handle = 0;  // begun: its writes name it so
    bool failed = false;   // its failure was told
    std::optional<std::int64_t> runId;
    RunHandle continues = 0;  // the run a retry continues
    std::vector<std::string> targets;
    QDateTime started;
    std::string failure;  // why the run failed
    std::int64_t goesOn = 0;  // the stored run it goes on with
    std::string holder;
    std::int64_t leaseMs = 0;
    bool shared = false;
  };
  struct GoingOn {
    std::int64_t runId = 0;
    std::string holder;
    std::int64_t leaseMs = 0;
    bool shared = false;
  };
  std::array<GoingOn, 2> goOn_;
  Recording& Of(lanshu::RunKind kind) { return runs_[kind == lanshu::RunKind::kRank ? 0 : 1]; }
  const Recording& Of(lanshu::RunKind kind) const { return runs_[kind == lanshu::RunKind::kRank ? 0 : 1]; }
  bool Writing(const Recording& run) const { return run.handle != 0 && !run.failed; }
  void Begin(lanshu::RunKind kind);
  void Submit(Write w);
  void Told(const WriteEvent& e);
  void Tell(const std::string& reason);

  HistoryWriter* writer_ = nullptr;
  std::unique_ptr<RunWrites> inline_;  // without a writer
  FailureHandler onFailure_;
  RunHandle lastHandle_ = 0;
  std::array<Recording, 2> runs_;
};

}  // namespace lanshu::history
