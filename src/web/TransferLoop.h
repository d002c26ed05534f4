#pragma once
// The one transfer loop: a long-lived thread that runs a libcurl multi handle
// and performs every request of the program. A request is a job holding a
// prepared easy handle and the data its callbacks write into; the caller
// hands it to the loop and waits for it on its own thread, processing window
// events all the while. Several jobs may be in flight at once.
#include <curl/curl.h>

#include <atomic>
#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <vector>

namespace lanshu {

// One transfer. The caller prepares `easy` (its callbacks may only touch data
// the job owns: they run on the loop thread) and owns the job again once it
// has ended. A job given up is removed from the loop at once; whatever it had
// received is never looked at.
struct TransferJob {
  TransferJob();
  virtual ~TransferJob();  // cleans up the easy handle
  TransferJob(const TransferJob&) = delete;
  TransferJob& operator=(const TransferJob&) = delete;

  CURL* easy = nullptr;  // null when libcurl could not make one
  // Asked on the loop thread between waits; true ends the transfer with
  // CURLE_ABORTED_BY_CALLBACK. Jobs with one make the loop look at least
  // every 100 ms.
  std::function<bool()> giveUp;

  // Written by the loop before `ended` is set; read by the caller after.
  CURLcode result = CURLE_GOT_NOTHING;
  std::atomic<bool> ended{false};
};

using JobPtr = std::shared_ptr<TransferJob>;
using Clock = std::chrono::steady_clock;

// Hands jobs to the loop; they start at once.
void SubmitTransfers(const std::vector<JobPtr>& jobs);

// How a wait ended.
enum class WaitEnd { kDone, kTimedOut, kCancelled };

// Waits on the calling thread until `done()` holds (asked whenever a job of
// the loop ends, and at least every few milliseconds), the deadline passes,
// CancelTransferWaits is called or `stopped()` (when given) holds,
// processing window events all the while.
WaitEnd WaitForTransfers(const std::function<bool()>& done, Clock::time_point deadline,
                         const std::function<bool()>& stopped = nullptr);

// Submits the jobs and waits until all of them have ended. Jobs still running
// when the wait ends otherwise are given up.
WaitEnd RunTransfers(const std::vector<JobPtr>& jobs, Clock::time_point deadline,
                     const std::function<bool()>& stopped = nullptr);

// Removes the job from the loop at once if it is still in it; it then ends
// with CURLE_ABORTED_BY_CALLBACK (or the result it already had).
void GiveUpTransfer(const JobPtr& job);

// Makes every wait under way give up now, as at its time-out: Stop was
// clicked, or the window is closing and nobody waits for those answers.
void CancelTransferWaits();

// Jobs handed to the loop that have not ended yet.
std::size_t TransfersInFlight();

}  // namespace lanshu
