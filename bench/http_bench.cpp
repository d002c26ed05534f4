// The HTTP engine against bare libcurl, on loopback servers that answer
// after a set latency:
//   - 200 sequential GETs of a 60 KB page at 20 ms latency, through the
//     guarded Request (transfer loop, cookie store, pumped wait) and through a
//     bare libcurl easy-handle loop, in alternating rounds so that a busy
//     machine weighs on both alike (target: ratio at most 1.02);
//   - the same at zero latency, for information only;
//   - 20 redirect links resolved together at 100 ms latency (target: at most
//     0.4 s in all).
// Prints its figures; it is not a test.
#include <curl/curl.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "../tests/web/TestServers.h"
#include "web/HttpClient.h"
#include "web/RedirectResolver.h"

namespace {

using Clock = std::chrono::steady_clock;
using lanshu::testing::RawServer;
constexpr int kGets = 200;
constexpr std::size_t kPageBytes = 60 * 1024;

double SecondsSince(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

// Answers every request with `body` after `latencyMs`.
std::unique_ptr<RawServer> SlowServer(int latencyMs, std::string body, std::string headers) {
  return std::make_unique<RawServer>([=](int fd, RawServer& s) {
    s.ReadRequest(fd);
    if (latencyMs > 0) s.Pause(latencyMs);
    lanshu::testing::WriteAll(fd, lanshu::testing::HttpResponse("200 OK", headers, body));
  });
}

std::size_t Append(char* data, std::size_t size, std::size_t count, void* user) {
  static_cast<std::string*>(user)->append(data, size * count);
  return size * count;
}

// Wall seconds of 200 GETs; false when a page came back short.
bool RequestLoop(const lanshu::HttpClient& client, const std::string& url, double* seconds) {
  const Clock::time_point start = Clock::now();
  bool whole = true;
  for (int i = 0; i < kGets; ++i) whole &= client.Request(url).size() == kPageBytes;
  *seconds = SecondsSince(start);
  return whole;
}

bool BareLoop(const std::string& url, double* seconds) {
  const Clock::time_point start = Clock::now();
  bool whole = true;
  for (int i = 0; i < kGets; ++i) {
    std::string body;
    CURL* easy = curl_easy_init();
    curl_easy_setopt(easy, CURLOPT_URL, url.c_str());
    curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &Append);
    curl_easy_setopt(easy, CURLOPT_WRITEDATA, &body);
    curl_easy_perform(easy);
    curl_easy_cleanup(easy);
    whole &= body.size() == kPageBytes;
  }
  *seconds = SecondsSince(start);
  return whole;
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

// Alternating rounds of both loops; false when a page came back short.
bool Compare(const char* label, int latencyMs, int rounds, const char* target) {
  const lanshu::HttpClient client;
  const std::unique_ptr<RawServer> server =
      SlowServer(latencyMs, std::string(kPageBytes, 'x'), "Content-Type: text/html\r\n");
  const std::string url = server->Url("/page");
  std::vector<double> request, bare, ratio;
  for (int round = 0; round < rounds; ++round) {
    double r = 0, b = 0;
    bool whole = true;
    if (round % 2) {
      whole &= RequestLoop(client, url, &r);
      whole &= BareLoop(url, &b);
    } else {
      whole &= BareLoop(url, &b);
      whole &= RequestLoop(client, url, &r);
    }
    if (!whole) return false;
    request.push_back(r);
    bare.push_back(b);
    ratio.push_back(r / b);
  }
  std::printf("%d GETs of 60 KB at %s, %d alternating rounds%s:\n", kGets, label, rounds, target);
  std::printf("  median: Request %.1f ms, bare libcurl %.1f ms, median of round ratios %.3f\n",
              Median(request) * 1000, Median(bare) * 1000, Median(ratio));
  std::printf("  best:   Request %.1f ms, bare libcurl %.1f ms\n",
              *std::min_element(request.begin(), request.end()) * 1000,
              *std::min_element(bare.begin(), bare.end()) * 1000);
  return true;
}

bool ResolveTogether() {
  const std::unique_ptr<RawServer> server([] {
    return std::make_unique<RawServer>([](int fd, RawServer& s) {
      const std::string request = s.ReadRequest(fd);
      s.Pause(100);
      lanshu::testing::WriteAll(
          fd, lanshu::testing::HttpResponse(
                  "302 Found", "Location: http://target.example" +
                                   lanshu::testing::RequestTarget(request) + "\r\n",
                  ""));
    });
  }());
  std::vector<std::string> links;
  for (int i = 0; i < 20; ++i) links.push_back(server->Url("/link?url=" + std::to_string(i)));
  std::vector<double> times;
  for (int round = 0; round < 5; ++round) {
    const Clock::time_point start = Clock::now();
    const std::vector<std::string> locations = lanshu::ResolveRedirectLinks(links);
    times.push_back(SecondsSince(start));
    for (std::size_t i = 0; i < links.size(); ++i)
      if (locations[i] != "http://target.example/link?url=" + std::to_string(i)) return false;
  }
  std::printf("20 redirect links at 100 ms latency, 8 at once, 5 rounds (target <= 400 ms):\n");
  std::printf("  median %.1f ms, worst %.1f ms\n", Median(times) * 1000,
              *std::max_element(times.begin(), times.end()) * 1000);
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  // Rounds of the 20 ms comparison (each round is about 2 x 4.5 s).
  const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 7;
  curl_global_init(CURL_GLOBAL_ALL);
  bool ok = Compare("20 ms latency", 20, rounds, " (target ratio <= 1.02)");
  ok = ok && Compare("zero latency", 0, 15, " (for information)");
  ok = ok && ResolveTogether();
  if (!ok) std::printf("a page or a link came back wrong\n");
  curl_global_cleanup();
  return ok ? 0 : 1;
}
