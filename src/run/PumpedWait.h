#pragma once
// Waiting on the GUI thread without freezing the window.
namespace lanshu {

// Waits ms milliseconds in 10 ms steps: sleep 10 ms, then process pending
// window events. Returns early when abort becomes true (read on every step).
// A duration of 0 or less returns at once without processing events.
void PumpedWait(int ms, const bool& abort);
void PumpedWait(int ms);

// Waits ms milliseconds by the clock, to the millisecond: sleeps at most 10 ms
// at a time and processes pending window events after each sleep. Returns
// early when abort becomes true. 0 or less returns at once without processing
// events.
void ClockedWait(int ms, const bool& abort);

}  // namespace lanshu
