#include "rank/PumpedWait.h"

#include <chrono>
#include <thread>

#include "text/Events.h"

namespace lanshu {

void PumpedWait(int ms, const bool& abort) {
  int elapsed = 0;
  while (elapsed < ms && !abort) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    elapsed += 10;
    ProcessPendingEvents();
  }
}

void PumpedWait(int ms) {
  const bool never = false;
  PumpedWait(ms, never);
}

}  // namespace lanshu
