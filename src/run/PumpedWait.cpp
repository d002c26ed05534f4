#include "run/PumpedWait.h"

#include <algorithm>
#include <chrono>
#include <thread>

#include "hooks/Events.h"

namespace lanshu {

void PumpedWait(int ms, const bool& abort) {
  int elapsed = 0;
  while (elapsed < ms && !abort) {
    WaitProcessingEvents(10);
    elapsed += 10;
  }
}

void ClockedWait(int ms, const bool& abort) {
  if (ms <= 0) return;
  using Clock = std::chrono::steady_clock;
  const Clock::time_point end = Clock::now() + std::chrono::milliseconds(ms);
  while (!abort) {
    const Clock::time_point now = Clock::now();
    if (now >= end) break;
    const auto step = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::min<Clock::duration>(end - now, std::chrono::milliseconds(10)));
    WaitProcessingEvents(std::max<int>(1, static_cast<int>(step.count())));
  }
}

void PumpedWait(int ms) {
  const bool never = false;
  PumpedWait(ms, never);
}

}  // namespace lanshu
