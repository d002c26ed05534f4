// 200 sequential GETs of a 60 KB page from a loopback server, through the
// guarded Request (worker thread, exchange, cookie store, pumped wait) and
// through a bare libcurl easy-handle loop, in the same run. The figure of
// interest is the ratio of the two wall times (target: at most 1.2). Besides
// the benchmark table, the two loops run in alternation for several rounds so
// that a busy machine weighs on both alike; best and median are printed.
#include <benchmark/benchmark.h>
#include <curl/curl.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "../tests/web/TestServers.h"
#include "web/HttpClient.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kGets = 200;
constexpr std::size_t kPageBytes = 60 * 1024;

lanshu::testing::RawServer& Server() {
  static lanshu::testing::RawServer server(lanshu::testing::Answer([](const std::string&) {
    return lanshu::testing::HttpResponse("200 OK", "Content-Type: text/html\r\n",
                                         std::string(kPageBytes, 'x'));
  }));
  return server;
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
  *seconds = std::chrono::duration<double>(Clock::now() - start).count();
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
  *seconds = std::chrono::duration<double>(Clock::now() - start).count();
  return whole;
}

void BM_Request200(benchmark::State& state) {
  const lanshu::HttpClient client;
  double seconds = 0;
  for (auto _ : state)
    if (!RequestLoop(client, Server().Url("/page"), &seconds)) state.SkipWithError("short page");
}

void BM_BareCurl200(benchmark::State& state) {
  double seconds = 0;
  for (auto _ : state)
    if (!BareLoop(Server().Url("/page"), &seconds)) state.SkipWithError("short page");
}

BENCHMARK(BM_BareCurl200)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);
BENCHMARK(BM_Request200)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  curl_global_init(CURL_GLOBAL_ALL);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();

  constexpr int kRounds = 31;  // many short rounds: a busy spell of the machine weighs on few
  const lanshu::HttpClient client;
  const std::string url = Server().Url("/page");
  std::vector<double> request, bare, ratio;
  for (int round = 0; round < kRounds; ++round) {
    double r = 0, b = 0;
    bool whole = true;
    if (round % 2) {
      whole &= RequestLoop(client, url, &r);
      whole &= BareLoop(url, &b);
    } else {
      whole &= BareLoop(url, &b);
      whole &= RequestLoop(client, url, &r);
    }
    if (!whole) {
      std::printf("a page came back short\n");
      return 1;
    }
    request.push_back(r);
    bare.push_back(b);
    ratio.push_back(r / b);
  }
  const double bestRequest = *std::min_element(request.begin(), request.end());
  const double bestBare = *std::min_element(bare.begin(), bare.end());
  std::printf("200 GETs of 60 KB, %d alternating rounds (target ratio <= 1.2):\n", kRounds);
  std::printf("  best:   Request %.1f ms, bare libcurl %.1f ms, ratio %.3f\n", bestRequest * 1000,
              bestBare * 1000, bestRequest / bestBare);
  std::printf("  median: Request %.1f ms, bare libcurl %.1f ms, median of round ratios %.3f\n",
              Median(request) * 1000, Median(bare) * 1000, Median(ratio));
  Server().Stop();
  curl_global_cleanup();
  return 0;
}
