#pragma once
// Posting notices to webhook addresses, away from the caller's thread: a
// receiver that is slow or gone never holds a run or the window. Each
// address of a notice is posted to on a thread of its own and tried up to
// three times; only the last failure is told.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace lanshu {

struct WebhookOptions {
  int attempts = 3;  // tries of one address in all
  // Before the second try, the third, ...; the last one repeats.
  std::vector<std::chrono::milliseconds> waits{std::chrono::milliseconds(1000), std::chrono::milliseconds(2000)};
  // Of one try: three tries and their waits stay within a batch run's 30 s.
  int timeoutSeconds = 8;
};

// One POST of body; empty when a 2xx answer came, else why not in short
// English ("HTTP 500", "connection refused", "time-out", "stopped" when
// `stop` became true).
std::string PostOnce(const std::string& address, const std::string& body, const std::string& contentType,
                     int timeoutSeconds, const std::atomic<bool>* stop = nullptr);

// An address as messages name it: without user, password and query, where
// robots keep their keys.
std::string WebhookAddressShown(const std::string& address);

class Webhook {
 public:
  // Told on the posting thread, once per address whose every try failed,
  // with the reason of the last try.
  using Failure = std::function<void(const std::string& address, const std::string& reason)>;

  explicit Webhook(WebhookOptions options = WebhookOptions());
  // Breaks off the posts under way and waits for their threads.
  ~Webhook();
  Webhook(const Webhook&) = delete;
  Webhook& operator=(const Webhook&) = delete;

  // Returns at once.
  void Post(const std::vector<std::string>& addresses, const std::string& body, const std::string& contentType,
            Failure onFailure);
  // Waits until every post so far is done (delivered or failure told), at
  // most budget; false when the budget ran out first.
  bool Wait(std::chrono::milliseconds budget);
  bool Idle() const;

 private:
  struct Shared {
    mutable std::mutex lock;
    std::condition_variable changed;
    int busy = 0;
    std::atomic<bool> stop{false};
  };
  struct Poster {
    std::thread thread;
    std::shared_ptr<std::atomic<bool>> done;
  };
  WebhookOptions options_;
  std::shared_ptr<Shared> shared_;
  std::vector<Poster> posters_;
};

}  // namespace lanshu
