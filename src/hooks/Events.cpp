#include "hooks/Events.h"

#include <chrono>
#include <thread>
#include <utility>

namespace lanshu {
namespace {

struct Pump {
  std::function<void()> fn;
  // Window events belong to one thread: blocking work elsewhere (a request
  // on a worker) must not run them.
  std::thread::id owner;
  std::chrono::steady_clock::duration minInterval{};
  std::chrono::steady_clock::time_point last{};
};

Pump& ThePump() {
  static Pump pump;
  return pump;
}

}  // namespace

void SetEventPump(std::function<void()> pump, int minIntervalMs) {
  Pump& p = ThePump();
  p.fn = std::move(pump);
  p.owner = std::this_thread::get_id();
  p.minInterval = std::chrono::milliseconds(minIntervalMs < 0 ? 0 : minIntervalMs);
  p.last = {};
}

thread_local int pauses = 0;

EventPumpPause::EventPumpPause() { ++pauses; }
EventPumpPause::~EventPumpPause() { --pauses; }

void ProcessPendingEvents() {
  Pump& p = ThePump();
  if (!p.fn || p.owner != std::this_thread::get_id() || pauses > 0) return;
  if (p.minInterval.count() > 0) {
    auto now = std::chrono::steady_clock::now();
    if (now - p.last < p.minInterval) return;
    p.last = now;
  }
  p.fn();
}

void ProcessPendingEventsNow() {
  Pump& p = ThePump();
  if (!p.fn || p.owner != std::this_thread::get_id()) return;
  p.last = std::chrono::steady_clock::now();
  p.fn();
}

namespace {
std::function<void(int)>& TheWait() {
  static std::function<void(int)> wait;
  return wait;
}
std::thread::id waitOwner;
}  // namespace

void SetEventWait(std::function<void(int ms)> wait) {
  TheWait() = std::move(wait);
  waitOwner = std::this_thread::get_id();
}

void WaitProcessingEvents(int ms) {
  if (ms <= 0) return;
  if (TheWait() && waitOwner == std::this_thread::get_id()) {
    TheWait()(ms);
    ProcessPendingEvents();  // the pump still runs after every step of a wait
    return;
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(ms));
  ProcessPendingEventsNow();
}

}  // namespace lanshu
