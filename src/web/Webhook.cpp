#include "web/Webhook.h"

#include <curl/curl.h>

#include "web/HttpClient.h"

namespace lanshu {
namespace {

std::size_t Discard(char*, std::size_t size, std::size_t count, void*) { return size * count; }

int Progress(void* stop, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
  const auto* flag = static_cast<const std::atomic<bool>*>(stop);
  return flag && flag->load() ? 1 : 0;
}

}  // namespace

std::string PostOnce(const std::string& address, const std::string& body, const std::string& contentType,
                     int timeoutSeconds, const std::atomic<bool>* stop) {
  CURL* easy = curl_easy_init();
  if (!easy) return "network error";
  curl_slist* headers = curl_slist_append(nullptr, ("Content-Type: " + contentType).c_str());
  // A receiver that answers 100 Continue late must not cost a second.
  headers = curl_slist_append(headers, "Expect:");
  curl_easy_setopt(easy, CURLOPT_URL, address.c_str());
  curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(easy, CURLOPT_POST, 1L);
  curl_easy_setopt(easy, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(body.size()));
  curl_easy_setopt(easy, CURLOPT_POSTFIELDS, body.data());
  curl_easy_setopt(easy, CURLOPT_HTTPHEADER, headers);
  curl_easy_setopt(easy, CURLOPT_USERAGENT, "lanshu-collector");
  curl_easy_setopt(easy, CURLOPT_TIMEOUT, static_cast<long>(timeoutSeconds > 0 ? timeoutSeconds : 8));
  curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &Discard);
  curl_easy_setopt(easy, CURLOPT_NOPROGRESS, 0L);
  curl_easy_setopt(easy, CURLOPT_XFERINFOFUNCTION, &Progress);
  curl_easy_setopt(easy, CURLOPT_XFERINFODATA, const_cast<std::atomic<bool>*>(stop));
  const CURLcode code = curl_easy_perform(easy);
  long status = 0;
  curl_easy_getinfo(easy, CURLINFO_RESPONSE_CODE, &status);
  curl_slist_free_all(headers);
  curl_easy_cleanup(easy);
  if (code == CURLE_ABORTED_BY_CALLBACK) return "stopped";
  if (code != CURLE_OK) return TransferError(code);
  if (status < 200 || status > 299) return "HTTP " + std::to_string(status);
  return std::string();
}

std::string WebhookAddressShown(const std::string& address) {
  std::string shown = address.substr(0, address.find_first_of("?#"));
  const std::size_t scheme = shown.find("://");
  const std::size_t hostFrom = scheme == std::string::npos ? 0 : scheme + 3;
  const std::size_t hostEnd = shown.find('/', hostFrom);
  const std::size_t at = shown.rfind('@', hostEnd == std::string::npos ? std::string::npos : hostEnd);
  if (at != std::string::npos && at >= hostFrom) shown.erase(hostFrom, at + 1 - hostFrom);
  return shown;
}

Webhook::Webhook(WebhookOptions options) : options_(std::move(options)), shared_(std::make_shared<Shared>()) {
  // Before any thread uses libcurl.
  curl_global_init(CURL_GLOBAL_ALL);
}

Webhook::~Webhook() {
  {
    // Under the lock, so that a thread about to wait sees it.
    const std::lock_guard<std::mutex> hold(shared_->lock);
    shared_->stop = true;
  }
  shared_->changed.notify_all();
  for (Poster& poster : posters_) poster.thread.join();
  curl_global_cleanup();
}

void Webhook::Post(const std::vector<std::string>& addresses, const std::string& body,
                   const std::string& contentType, Failure onFailure) {
  // Threads of posts that are over.
  for (auto it = posters_.begin(); it != posters_.end();) {
    if (it->done->load()) {
      it->thread.join();
      it = posters_.erase(it);
    } else {
      ++it;
    }
  }
  for (const std::string& address : addresses) {
    {
      const std::lock_guard<std::mutex> hold(shared_->lock);
      ++shared_->busy;
    }
    auto done = std::make_shared<std::atomic<bool>>(false);
    std::thread thread([shared = shared_, options = options_, address, body, contentType, onFailure, done] {
      std::string why;
      for (int attempt = 1; attempt <= options.attempts && !shared->stop; ++attempt) {
        if (attempt > 1 && !options.waits.empty()) {
          const std::size_t i = static_cast<std::size_t>(attempt - 2);
          const auto wait = options.waits[i < options.waits.size() ? i : options.waits.size() - 1];
          std::unique_lock<std::mutex> hold(shared->lock);
          shared->changed.wait_for(hold, wait, [&] { return shared->stop.load(); });
          if (shared->stop) break;
        }
        why = PostOnce(address, body, contentType, options.timeoutSeconds, &shared->stop);
        if (why.empty()) break;
      }
      // A post broken off at the end is not told: nobody is left to read it.
      if (!why.empty() && !shared->stop && onFailure) onFailure(address, why);
      {
        const std::lock_guard<std::mutex> hold(shared->lock);
        --shared->busy;
      }
      done->store(true);
      shared->changed.notify_all();
    });
    posters_.push_back({std::move(thread), std::move(done)});
  }
}

bool Webhook::Wait(std::chrono::milliseconds budget) {
  std::unique_lock<std::mutex> hold(shared_->lock);
  return shared_->changed.wait_for(hold, budget, [this] { return shared_->busy == 0; });
}

bool Webhook::Idle() const {
  const std::lock_guard<std::mutex> hold(shared_->lock);
  return shared_->busy == 0;
}

}  // namespace lanshu
