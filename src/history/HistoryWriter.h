#pragma once
// Writing the run history off the caller's thread. The recorder turns a run's
// events into writes; a HistoryWriter applies them, strictly in order, on a
// thread of its own with a connection of its own, so that a slow or vanished
// server never holds up the window or the run. What became of the writes
// comes back on the thread that owns the writer.
//
// RunWrites is what both ways share: the writes applied to one store, as
// the writer's thread does, or at once on the caller's thread.
#include <QDateTime>
#include <QString>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <variant>
#include <vector>

#include "history/HistoryStore.h"

class QObject;
class QThread;

namespace lanshu::history {

// A run as the recorder names it before the store has given it an id; the
// store's id is known only once the run is stored. 0 names no run.
using RunHandle = std::int64_t;

struct BeginWrite {
  RunHandle run = 0;
  RunKind kind = RunKind::kRank;
  std::vector<std::string> targets;
  std::string settings, columns, plan;
  QDateTime started;
  RunHandle continues = 0;  // the run a retry continues
  std::int64_t goesOn = 0;  // a run the store has already, to go on with: nothing is inserted
};
struct PageWrite {
  RunHandle run = 0;
  PageRecord page;
};
struct FinishWrite {
  RunHandle run = 0;
  Ending how = Ending::kFinished;
  QDateTime finished;
  std::string reason;
  // A shared run: its ending is stored only by the process that finds every
  // page final.
  bool whenComplete = false;
};
// Anything else done with the store in its turn among the writes (claims,
// leases, result files), given the store's id of run (0: none, or not
// stored); done is told whether it succeeded.
struct StoreCall {
  RunHandle run = 0;
  std::function<bool(HistoryStore&, std::int64_t runId)> call;
  std::shared_ptr<std::promise<bool>> done;
};
using Write = std::variant<BeginWrite, PageWrite, FinishWrite, StoreCall>;

// What became of a write.
struct WriteEvent {
  enum class Type {
    kBegun,     // the run is stored, with id
    kFailed,    // the store failed: the run is recorded no further (reason)
    kFinished,  // the run's ending was dealt with, stored or not
  };
  Type type = Type::kBegun;
  RunHandle run = 0;
  std::int64_t id = 0;
  std::string reason;
};

class RunWrites {
 public:
  // database: opened before a run begins whenever the store is not open (a
  // server may be back); none: the store as given. A store that is null or
  // unopened fails each run at its start with `unavailable` as the reason
  // (empty: the store's own LastError()).
  RunWrites(HistoryStore* store, std::optional<std::string> database, std::string unavailable = std::string(),
            QString sqlRoot = QString());

  // Applies w, adding what became of it to events. False when the store
  // failed on it; a write of a run not being recorded is skipped (true).
  bool Apply(const Write& w, std::vector<WriteEvent>& events);
  // Stored and not failed since.
  bool Recording(RunHandle run) const { return ids_.count(run) != 0 && failed_.count(run) == 0; }
  // The store's id of a run stored, failed since or not.
  std::optional<std::int64_t> IdOf(RunHandle run) const;

 private:
  void Fail(RunHandle run, std::string reason, std::vector<WriteEvent>& events);

  HistoryStore* store_;
  std::optional<std::string> database_;
  std::string unavailable_;
  QString sqlRoot_;
  std::unordered_map<RunHandle, std::int64_t> ids_;
  std::unordered_set<RunHandle> failed_;
};

// A run, or what of it the writer gave up on at the end.
struct UnstoredRun {
  RunKind kind = RunKind::kRank;
  std::int64_t id = 0;  // 0: the run itself was not stored
  int pages = 0;
  bool ending = false;
};

// "3 pages of run 12, a mining run with 2 pages not stored: the database did
// not answer within 5 s" (short English, stable: scripts read it).
std::string UnstoredText(const std::vector<UnstoredRun>& runs, std::chrono::milliseconds waited);

class HistoryWriter {
 public:
  // How long the end waits for what is queued before giving up on it.
  static constexpr std::chrono::milliseconds kDrainBudget{5000};

  // database: the "数据库" setting, opened on the writer's thread when the
  // first run begins. sqlRoot as HistoryStore::Open takes it.
  explicit HistoryWriter(std::string database, QString sqlRoot = QString());
  // Drains (kDrainBudget) unless Drain() was called.
  ~HistoryWriter();
  HistoryWriter(const HistoryWriter&) = delete;
  HistoryWriter& operator=(const HistoryWriter&) = delete;

  // What became of the writes, on the thread that made the writer (posted
  // to its event loop; Settle and Drain tell what is left at once).
  std::function<void(const WriteEvent&)> onEvent;

  // Returns at once. Ignored after Drain().
  void Queue(Write w);
  // Calls call with the store on the writer's thread once the writes queued
  // before it are applied, and waits up to budget for it; call may run after
  // a wait that gave up, so it owns what it touches. False when call
  // failed, or the store could not be opened or did not answer in time.
  bool Call(std::function<bool(HistoryStore&)> call, std::chrono::milliseconds budget = kDrainBudget * 2);
  // The same, without waiting.
  void Do(std::function<bool(HistoryStore&)> call);
  // Writes queued and not yet applied, the one in progress included.
  std::size_t Queued() const;
  // Of those, the pages.
  std::size_t QueuedPages() const;
  // Waits until every write queued so far is applied, then tells what became
  // of them. False when budget ran out first.
  bool Settle(std::chrono::milliseconds budget);
  // The end: waits up to budget for the queue, gives up on the rest (a write
  // in progress on a server is broken off), stops the thread and tells what
  // became of the writes. What was given up on, run by run; empty when all
  // was stored or told as a failure.
  std::vector<UnstoredRun> Drain(std::chrono::milliseconds budget = kDrainBudget);

 private:
  void Loop();
  void Deliver();

  HistoryStore store_;  // used on the writer's thread only, but for Interrupt()
  std::unique_ptr<RunWrites> writes_;
  std::unique_ptr<QObject> context_;  // on the owner's thread: where events are posted
  std::unique_ptr<QThread> thread_;

  mutable std::mutex lock_;
  std::condition_variable wake_, applied_;
  std::deque<Write> queue_;
  std::uint64_t queuedCount_ = 0, appliedCount_ = 0;
  std::uint64_t pagesQueued_ = 0, pagesApplied_ = 0;
  bool stop_ = false;
  bool abandon_ = false;  // given up on: apply nothing more
  bool drained_ = false;
  std::vector<Write> lost_;  // broken off when given up on
  std::vector<WriteEvent> outbox_;
  bool posted_ = false;
};

}  // namespace lanshu::history
