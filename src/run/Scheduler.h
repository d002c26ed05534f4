#pragma once
// Where a run's steps happen. A run never waits on its own stack: it asks
// its scheduler to call it back, after a pause or when work done elsewhere
// is ready, so that two runs (and the window) share one thread.
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

class QObject;
class QThreadPool;

namespace lanshu {

class Scheduler {
 public:
  virtual ~Scheduler() = default;
  // Calls fn on the run's thread after ms milliseconds (0 or less: as soon
  // as that thread is free, never from inside this call).
  virtual void After(int ms, std::function<void()> fn) = 0;
  // Runs work where it may block (a request, a batch of redirect links),
  // then calls then on the run's thread.
  virtual void Background(std::function<void()> work, std::function<void()> then) = 0;
};

// The program's scheduler: Qt timers and queued calls on the thread that
// made it, blocking work on a pool of its own. Callbacks still pending when
// it is destroyed are dropped; blocking work still running is waited for.
class QtScheduler : public Scheduler {
 public:
  QtScheduler();
  ~QtScheduler() override;
  QtScheduler(const QtScheduler&) = delete;
  QtScheduler& operator=(const QtScheduler&) = delete;
  void After(int ms, std::function<void()> fn) override;
  void Background(std::function<void()> work, std::function<void()> then) override;

 private:
  std::unique_ptr<QObject> context_;
  std::unique_ptr<QThreadPool> pool_;
};

// Runs callbacks on the caller's stack, by the clock, until a condition
// ends: for a run started where nobody else turns an event loop (library
// tests, benchmarks). While it waits it processes window events as the
// waits of the program always have, so a click can still come in.
class SteppedScheduler : public Scheduler {
 public:
  void After(int ms, std::function<void()> fn) override;
  // Runs the work at once, on this thread.
  void Background(std::function<void()> work, std::function<void()> then) override;
  // Runs due callbacks, in order of their time and then of their asking,
  // while `going()` holds and something is left to run.
  void RunWhile(const std::function<bool()>& going);

 private:
  using Clock = std::chrono::steady_clock;
  struct Task {
    Clock::time_point due;
    std::uint64_t order;
    std::function<void()> fn;
  };
  std::vector<Task> tasks_;
  std::uint64_t next_ = 0;
};

}  // namespace lanshu
