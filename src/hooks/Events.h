#pragma once
// Window events inside long work.
//
// Long work on the GUI thread (sorting, exporting, the settings store's file
// work, a request waited for there) stays responsive by calling
// ProcessPendingEvents() at many points. The application installs Qt's event
// processing; library code and tests leave the default no-op or count calls.
// Events are only ever processed on the thread that installed the pump.
#include <functional>

namespace lanshu {

// Installs the function that processes pending window events. A call that comes
// less than minIntervalMs after the previous one that ran is skipped, so tight
// loops stay fast while the window stays responsive. An empty function restores
// the no-op.
void SetEventPump(std::function<void()> pump, int minIntervalMs = 0);

// Processes pending window events through the installed pump (throttled).
void ProcessPendingEvents();

// Runs the installed pump now, ignoring the throttle (used by waits that sleep
// between calls anyway).
void ProcessPendingEventsNow();

// While one lives, ProcessPendingEvents does nothing on this thread: a step
// of a collection run is under way, and events handled inside it would run
// the other run's steps, or its notice, within this one.
class EventPumpPause {
 public:
  EventPumpPause();
  ~EventPumpPause();
  EventPumpPause(const EventPumpPause&) = delete;
  EventPumpPause& operator=(const EventPumpPause&) = delete;
};

// Installs the function that waits up to ms milliseconds while handling
// window events as they arrive (the application's event loop). An empty
// function restores the default: sleep, then process what is pending.
void SetEventWait(std::function<void(int ms)> wait);

// Waits ms milliseconds with window events handled: as they arrive when a
// wait is installed, so that a browser's messages are not held for the
// length of a sleep; otherwise after the sleep.
void WaitProcessingEvents(int ms);

}  // namespace lanshu
