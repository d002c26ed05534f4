#include "web/RedirectResolver.h"

#include <chrono>
#include <memory>

#include "web/HttpClient.h"

namespace lanshu {
namespace {

using Clock = std::chrono::steady_clock;
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

std::string FetchLocation(const std::string& link, StopSignal& stop) {
  // Only absolute web addresses are asked for (libcurl would guess a scheme).
  const std::string lower = GbkToLowerAscii(link.substr(0, 8));
  if (lower.compare(0, 7, "http://") != 0 && lower.compare(0, 8, "https://") != 0)
    return std::string();
  CURL* easy = curl_easy_init();
  if (!easy) return std::string();
  curl_slist* list = nullptr;
  for (const char* h : kHeaders) {
    curl_slist* grown = curl_slist_append(list, h);
    if (grown) list = grown;
  }
  curl_easy_setopt(easy, CURLOPT_URL, link.c_str());
  curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(easy, CURLOPT_HTTPGET, 1L);
  curl_easy_setopt(easy, CURLOPT_FOLLOWLOCATION, 0L);
  curl_easy_setopt(easy, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_1));
  curl_easy_setopt(easy, CURLOPT_HTTPHEADER, list);
  curl_easy_setopt(easy, CURLOPT_PROXY, "");
  curl_easy_setopt(easy, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>((kResolveUs + kConnectUs) / 1000));
  curl_easy_setopt(easy, CURLOPT_LOW_SPEED_LIMIT, 1L);
  curl_easy_setopt(easy, CURLOPT_LOW_SPEED_TIME, static_cast<long>(kReceiveUs / kUs));
  curl_easy_setopt(easy, CURLOPT_TIMEOUT_MS,
                   static_cast<long>((kResolveUs + kConnectUs + kSendUs + kReceiveUs) / 1000));
  ResponseHeaderBlock block(std::size_t{256} << 10, true);
  block.Attach(easy);

  const Clock::time_point start = Clock::now();
  TransferWatch watch;
  watch.pollMs = 100;
  watch.giveUp = [easy, start] { return PhaseTimedOut(easy, start); };
  RunTransfer(easy, &stop, watch);  // ends early by design once the block is complete
  std::string location = block.Complete() ? block.Field("Location") : std::string();
  curl_easy_cleanup(easy);
  curl_slist_free_all(list);
  return location;
}

}  // namespace

std::string ResolveRedirectLink(const std::string& link) {
  struct Job {
    std::string link;
    std::string location;
  };
  auto job = std::make_shared<Job>();
  job->link = link;
  // The phase limits end the transfer well within this bound.
  const bool finished =
      RunGuarded([job](StopSignal& stop) { job->location = FetchLocation(job->link, stop); },
                 seconds(35));
  return finished ? job->location : std::string();
}

}  // namespace lanshu
