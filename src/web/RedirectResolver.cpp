#include "web/RedirectResolver.h"

#include <algorithm>
#include <chrono>
#include <memory>

#include "web/HttpClient.h"
#include "web/TransferLoop.h"

namespace lanshu {
namespace {

using std::chrono::seconds;

constexpr curl_off_t kUs = 1000000;
constexpr curl_off_t kResolveUs = 5 * kUs;
constexpr curl_off_t kConnectUs = 5 * kUs;
constexpr curl_off_t kSendUs = 10 * kUs;
constexpr curl_off_t kReceiveUs = 5 * kUs;

const char* const kHeaders[] = {
    "User-Agent: Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.1; SV1)",
    "Accept-Language: zh-cn",
    "Connection: Keep-Alive",
    ("Accept: image/gif, image/x-xbitmap, image/jpeg, imagepeg, application/x-shockwave-flash, "
     "application/x-silverlight, */*"),
};

curl_off_t Info(CURL* easy, CURLINFO what) {
  curl_off_t v = 0;
  curl_easy_getinfo(easy, what, &v);
  return v;
}

// The four phase limits, judged from libcurl's own phase times (0 until the
// phase is reached). Resolve and connect each get 5 s; the TLS handshake and
// the request get the 10 s of sending; after the request the first answer
// byte must come within 5 s, and later bytes may not stall for 5 s
// (CURLOPT_LOW_SPEED_*). The header block is all that is read.
bool PhaseTimedOut(CURL* easy, Clock::time_point start) {
  const curl_off_t t =
      std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - start).count();
  const curl_off_t resolved = Info(easy, CURLINFO_NAMELOOKUP_TIME_T);
  const curl_off_t connected = Info(easy, CURLINFO_CONNECT_TIME_T);
  const curl_off_t sending = Info(easy, CURLINFO_PRETRANSFER_TIME_T);
  if (Info(easy, CURLINFO_STARTTRANSFER_TIME_T) > 0) return false;
  if (sending > 0) return t - sending > kReceiveUs;
  if (connected > 0) return t - connected > kSendUs;
  if (resolved > 0) return t - resolved > kConnectUs;
  return t > kResolveUs;
}

// A link's request on the transfer loop; only its header block is read.
struct LinkJob : TransferJob {
  LinkJob() : block(std::size_t{256} << 10, true) {}
  ~LinkJob() override {
    if (easy) curl_easy_cleanup(easy);  // before the header list it points to
    easy = nullptr;
    curl_slist_free_all(headerList);
  }
  curl_slist* headerList = nullptr;
  ResponseHeaderBlock block;
  Clock::time_point started;
};

// Null when the link is not asked for at all.
std::shared_ptr<LinkJob> PrepareLink(const std::string& link) {
  // Only absolute web addresses are asked for (libcurl would guess a scheme).
  const std::string lower = GbkToLowerAscii(link.substr(0, 8));
  if (lower.compare(0, 7, "http://") != 0 && lower.compare(0, 8, "https://") != 0)
    return nullptr;
  auto job = std::make_shared<LinkJob>();
  CURL* easy = job->easy;
  if (!easy) return nullptr;
  for (const char* h : kHeaders) {
    curl_slist* grown = curl_slist_append(job->headerList, h);
    if (grown) job->headerList = grown;
  }
  curl_easy_setopt(easy, CURLOPT_URL, link.c_str());
  curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(easy, CURLOPT_HTTPGET, 1L);
  curl_easy_setopt(easy, CURLOPT_FOLLOWLOCATION, 0L);
  curl_easy_setopt(easy, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_1));
  curl_easy_setopt(easy, CURLOPT_HTTPHEADER, job->headerList);
  curl_easy_setopt(easy, CURLOPT_PROXY, "");
  // Each link opens its own connection and looks its name up afresh.
  curl_easy_setopt(easy, CURLOPT_FRESH_CONNECT, 1L);
  curl_easy_setopt(easy, CURLOPT_DNS_CACHE_TIMEOUT, 0L);
  curl_easy_setopt(easy, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>((kResolveUs + kConnectUs) / 1000));
  curl_easy_setopt(easy, CURLOPT_LOW_SPEED_LIMIT, 1L);
  curl_easy_setopt(easy, CURLOPT_LOW_SPEED_TIME, static_cast<long>(kReceiveUs / kUs));
  curl_easy_setopt(easy, CURLOPT_TIMEOUT_MS,
                   static_cast<long>((kResolveUs + kConnectUs + kSendUs + kReceiveUs) / 1000));
  job->block.Attach(easy);
  job->started = Clock::now();
  LinkJob* self = job.get();  // the loop holds the job while it asks
  job->giveUp = [self] { return PhaseTimedOut(self->easy, self->started); };
  return job;
}

}  // namespace

std::vector<std::string> ResolveRedirectLinks(const std::vector<std::string>& links,
                                              std::size_t atOnce, const std::function<bool()>& stopped) {
  // The phase limits end a transfer well within this bound.
  constexpr auto kLinkLimit = seconds(35);
  if (atOnce == 0) atOnce = 1;
  std::vector<std::string> locations(links.size());
  struct Slot {
    std::size_t index;
    std::shared_ptr<LinkJob> job;
  };
  std::vector<Slot> running;
  std::size_t next = 0;
  bool cancelled = false;
  while (!cancelled && !(stopped && stopped()) && (next < links.size() || !running.empty())) {
    while (running.size() < atOnce && next < links.size()) {
      const std::size_t i = next++;
      std::shared_ptr<LinkJob> job = PrepareLink(links[i]);
      if (!job) continue;
      SubmitTransfers({job});
      running.push_back({i, std::move(job)});
    }
    if (running.empty()) break;
    Clock::time_point deadline = Clock::time_point::max();
    for (const Slot& s : running) deadline = std::min(deadline, s.job->started + kLinkLimit);
    const auto anyEnded = [&running] {
      return std::any_of(running.begin(), running.end(),
                         [](const Slot& s) { return s.job->ended.load(std::memory_order_acquire); });
    };
    cancelled = WaitForTransfers(anyEnded, deadline, stopped) == WaitEnd::kCancelled;
    const Clock::time_point now = Clock::now();
    for (auto it = running.begin(); it != running.end();) {
      LinkJob& job = *it->job;
      if (job.ended.load(std::memory_order_acquire)) {
        // Ends early by design once the header block is complete.
        if (job.block.Complete()) locations[it->index] = job.block.Field("Location");
      } else if (cancelled || now >= job.started + kLinkLimit) {
        GiveUpTransfer(it->job);  // nothing of it is read
      } else {
        ++it;
        continue;
      }
      it = running.erase(it);
    }
  }
  return locations;
}

std::string AbsoluteLocation(const std::string& link, const std::string& location) {
  if (location.empty()) return location;
  const std::string lower = GbkToLowerAscii(location.substr(0, 8));
  if (lower.compare(0, 7, "http://") == 0 || lower.compare(0, 8, "https://") == 0) return location;
  CURLU* u = curl_url();
  if (!u) return location;
  std::string resolved = location;
  char* full = nullptr;
  // Bytes beyond ASCII (GBK) are kept as they are, not percent-encoded.
  if (curl_url_set(u, CURLUPART_URL, link.c_str(), CURLU_NON_SUPPORT_SCHEME) == CURLUE_OK &&
      curl_url_set(u, CURLUPART_URL, location.c_str(), CURLU_NON_SUPPORT_SCHEME) == CURLUE_OK &&
      curl_url_get(u, CURLUPART_URL, &full, 0) == CURLUE_OK)
    resolved = full;
  curl_free(full);
  curl_url_cleanup(u);
  return resolved;
}

std::string ResolveRedirectLink(const std::string& link) {
  return ResolveRedirectLinks({link}, 1).front();
}

}  // namespace lanshu
