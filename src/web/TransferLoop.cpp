#include "web/TransferLoop.h"

#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <utility>

#include "hooks/Events.h"
#include "web/CookieJar.h"

namespace lanshu {

namespace {

class Loop {
 public:
  static Loop& Get() {
    static Loop loop;
    return loop;
  }

  void Submit(const std::vector<JobPtr>& jobs) {
    std::lock_guard<std::mutex> lock(mutex_);
    for (const JobPtr& job : jobs) {
      ++inFlight_;
      incoming_.push_back(job);
    }
    curl_multi_wakeup(multi_);
  }

  void GiveUp(const JobPtr& job) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (job->ended.load(std::memory_order_acquire)) return;
    givenUp_.push_back(job);
    curl_multi_wakeup(multi_);
  }

  std::size_t InFlight() {
    std::lock_guard<std::mutex> lock(mutex_);
    return inFlight_;
  }

  // Counts the jobs that have ended so far.
  unsigned Ends() {
    std::lock_guard<std::mutex> lock(mutex_);
    return ends_;
  }

  // Sleeps until a job ends after the count `seen`, or until `until`.
  void WaitForAnEnd(unsigned seen, Clock::time_point until) {
    std::unique_lock<std::mutex> lock(mutex_);
    ended_.wait_until(lock, until, [&] { return ends_ != seen; });
  }

  // Waits that started before this count were cancelled.
  std::atomic<unsigned> cancelGeneration{0};

 private:
  // libcurl (set up by the cookie store) must outlive the loop, so the store
  // is made first and torn down after it.
  Loop() {
    CookieJar::Instance();
    multi_ = curl_multi_init();
    thread_ = std::thread([this] { Run(); });
  }

  ~Loop() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      quit_ = true;
      curl_multi_wakeup(multi_);
    }
    thread_.join();
    curl_multi_cleanup(multi_);
  }

  // Takes the job out of the multi handle and tells the waiting callers.
  // Returns the place of the job after it.
  std::vector<JobPtr>::iterator End(std::vector<JobPtr>::iterator it, CURLcode result) {
    const JobPtr job = *it;
    curl_multi_remove_handle(multi_, job->easy);  // an unfinished transfer closes its connection
    const auto next = active_.erase(it);
    job->result = result;
    std::lock_guard<std::mutex> lock(mutex_);
    job->ended.store(true, std::memory_order_release);
    --inFlight_;
    ++ends_;
    endedSincePoll_ = true;
    return next;
  }

  std::vector<JobPtr>::iterator Find(CURL* easy) {
    return std::find_if(active_.begin(), active_.end(),
                        [easy](const JobPtr& j) { return j->easy == easy; });
  }

  void Run() {
    std::unique_lock<std::mutex> lock(mutex_);
    bool usedConnections = false;
    while (!quit_) {
      std::vector<JobPtr> incoming, givenUp;
      incoming.swap(incoming_);
      givenUp.swap(givenUp_);
      lock.unlock();

      for (const JobPtr& job : incoming) {
        active_.push_back(job);
        if (!job->easy || curl_multi_add_handle(multi_, job->easy) != CURLM_OK) {
          // Never added: End's removal is a harmless no-op for it.
          End(active_.end() - 1, job->easy ? CURLE_FAILED_INIT : CURLE_OUT_OF_MEMORY);
          continue;
        }
        usedConnections = true;
      }
      for (const JobPtr& job : givenUp) {
        auto it = Find(job->easy);
        if (it != active_.end()) End(it, CURLE_ABORTED_BY_CALLBACK);
      }

      int running = 0;
      curl_multi_perform(multi_, &running);
      int left = 0;
      while (CURLMsg* msg = curl_multi_info_read(multi_, &left)) {
        if (msg->msg != CURLMSG_DONE) continue;
        auto it = Find(msg->easy_handle);
        if (it != active_.end()) End(it, msg->data.result);
      }
      bool watched = false;
      for (auto it = active_.begin(); it != active_.end();) {
        if ((*it)->giveUp && (*it)->giveUp()) {
          it = End(it, CURLE_ABORTED_BY_CALLBACK);
          continue;
        }
        watched |= static_cast<bool>((*it)->giveUp);
        ++it;
      }

      lock.lock();
      if (endedSincePoll_) {
        endedSincePoll_ = false;
        ended_.notify_all();
      }
      // Connections last one request: once nothing is in flight, the
      // connections a finished transfer left open go with a fresh handle.
      if (active_.empty() && usedConnections && incoming_.empty()) {
        curl_multi_cleanup(multi_);
        multi_ = curl_multi_init();
        usedConnections = false;
      }
      if (quit_ || !incoming_.empty() || !givenUp_.empty()) continue;
      CURLM* multi = multi_;
      lock.unlock();
      // Wakes on network activity, libcurl's own timers or a wake-up call.
      curl_multi_poll(multi, nullptr, 0, watched ? 100 : 1000, nullptr);
      lock.lock();
    }
    lock.unlock();
    while (!active_.empty()) End(active_.begin(), CURLE_ABORTED_BY_CALLBACK);
    lock.lock();
    ended_.notify_all();
  }

  std::mutex mutex_;
  std::condition_variable ended_;
  CURLM* multi_ = nullptr;  // replaced only by the loop thread, under mutex_
  std::vector<JobPtr> incoming_;
  std::vector<JobPtr> givenUp_;
  std::size_t inFlight_ = 0;
  unsigned ends_ = 0;
  bool endedSincePoll_ = false;
  bool quit_ = false;
  std::vector<JobPtr> active_;  // loop thread only
  std::thread thread_;
};

}  // namespace

// Making the loop first also sets libcurl up before the first handle.
TransferJob::TransferJob() : easy((Loop::Get(), curl_easy_init())) {}

TransferJob::~TransferJob() {
  if (easy) curl_easy_cleanup(easy);
}

void SubmitTransfers(const std::vector<JobPtr>& jobs) { Loop::Get().Submit(jobs); }

void GiveUpTransfer(const JobPtr& job) { Loop::Get().GiveUp(job); }

void CancelTransferWaits() { Loop::Get().cancelGeneration.fetch_add(1); }

std::size_t TransfersInFlight() { return Loop::Get().InFlight(); }

WaitEnd WaitForTransfers(const std::function<bool()>& done, Clock::time_point deadline,
                         const std::function<bool()>& stopped) {
  Loop& loop = Loop::Get();
  const unsigned generation = loop.cancelGeneration.load();
  // Short sleeps, each followed by window events; an ending job wakes the
  // sleep at once. Events never extend the deadline.
  constexpr auto kSlice = std::chrono::milliseconds(5);
  for (;;) {
    const unsigned seen = loop.Ends();  // before asking, so no end slips by unseen
    if (done()) return WaitEnd::kDone;
    if (loop.cancelGeneration.load() != generation || (stopped && stopped()))
      return WaitEnd::kCancelled;
    const Clock::time_point now = Clock::now();
    if (now >= deadline) return WaitEnd::kTimedOut;
    loop.WaitForAnEnd(seen, std::min(now + kSlice, deadline));
    if (done()) return WaitEnd::kDone;
    ProcessPendingEvents();
  }
}

WaitEnd RunTransfers(const std::vector<JobPtr>& jobs, Clock::time_point deadline,
                     const std::function<bool()>& stopped) {
  SubmitTransfers(jobs);
  const auto allEnded = [&jobs] {
    return std::all_of(jobs.begin(), jobs.end(),
                       [](const JobPtr& j) { return j->ended.load(std::memory_order_acquire); });
  };
  const WaitEnd end = WaitForTransfers(allEnded, deadline, stopped);
  if (end != WaitEnd::kDone)
    for (const JobPtr& job : jobs) GiveUpTransfer(job);
  return end;
}

}  // namespace lanshu
