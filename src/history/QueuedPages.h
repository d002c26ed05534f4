#pragma once
// The pages of a run kept in the history's queue, handed out a target at a
// time: a run that goes on after a kill, or one that several processes
// share. A target is claimed with a lease, its pages still to collect are
// handed out in order, and it is let go when they are done.
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "history/HistoryStore.h"
#include "run/Runner.h"

namespace lanshu::history {

class QueuedPages : public lanshu::PageSource {
 public:
  // Runs a call with the store in its turn among the run's writes, so that a
  // target is let go only after its pages are stored; false when the store
  // failed. The call owns what it touches.
  using Access = std::function<bool(std::function<bool(HistoryStore&)>)>;

  struct Setup {
    std::int64_t runId = 0;
    std::string holder;  // this process, as the leases name it
    std::int64_t leaseMs = 60000;
    std::vector<std::string> targets;  // the run's, in order
    // Shared: when others hold what is left, wait for them instead of ending.
    bool shared = false;
    // How soon a process with nothing to claim looks again: soon enough that
    // the last one ends right after the run is complete.
    int pollMs = 100;
  };

  QueuedPages(Access access, Setup setup);

  std::vector<std::string> Targets() const override { return setup_.targets; }
  bool Next(lanshu::PageTask& task) override;
  void Revealed(const std::string& target, int total) override;
  void Drop(const std::string& target) override;
  int WaitMs() const override { return waitMs_; }
  // Why the queue could not be read; empty while it could.
  std::string Failure() const override { return error_; }
  // Lets the target at hand go.
  void Ended() override { LetGo(); }

 private:
  // Claims the next target; false when there is none now.
  bool ClaimNext();
  void LetGo();

  Access access_;
  Setup setup_;
  std::optional<QueuedTarget> current_;
  std::vector<int> pages_;  // of the current target, in order
  // Every page handed out: one that comes back was not stored, and asking
  // it again would go round for ever.
  std::set<std::pair<std::string, int>> handed_;
  std::size_t next_ = 0;
  int total_ = 0;
  int waitMs_ = 0;
  std::string error_;
};

}  // namespace lanshu::history
