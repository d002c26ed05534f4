// 100 keyword pages (10 seeds of 10 pages, 8 rows each) mined from the demo
// site on loopback with no pauses, against the same 100 GETs through
// HttpClient::Request alone. The figure of interest is the ratio of the two
// wall times (target: at most 1.1), i.e. what mining adds to the fetching.
// Besides the benchmark table, the two loops run in alternation for several
// rounds so that a busy machine weighs on both alike; best and median are
// printed.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "BenchMiningUi.h"
#include "demo/DemoSite.h"
#include "mining/Mining.h"
#include "text/Codec.h"
#include "hooks/MessageBox.h"
#include "web/HttpClient.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kSeeds = 10;
constexpr int kPagesPerSeed = 10;

lanshu::demo::DemoSite& Site() {
  static lanshu::demo::DemoSite* site = [] {
    lanshu::demo::Options options;
    options.keywordPages = kPagesPerSeed;
    auto* s = new lanshu::demo::DemoSite(options);
    if (!s->Start()) std::fprintf(stderr, "the demo site did not start\n");
    return s;
  }();
  return *site;
}

std::vector<std::string> Seeds() {
  std::vector<std::string> seeds;
  for (int i = 0; i < kSeeds; ++i) seeds.push_back(lanshu::Utf8TextToGbk("减肥方法") + std::to_string(i));
  return seeds;
}

// Wall seconds of one mining run over all seeds; false when a page was missed.
bool MiningRun(lanshu::HttpClient& client, double* seconds) {
  lanshu::BenchMiningUi ui;
  for (const std::string& seed : Seeds()) ui.keywords += seed + "\r\n";
  lanshu::KeywordMining mining(ui, Site().KeywordSiteRoot());
  mining.fetch = [&client](const std::string& url) { return client.Request(url); };
  const Clock::time_point start = Clock::now();
  mining.StartOrStopMining();
  *seconds = std::chrono::duration<double>(Clock::now() - start).count();
  return mining.state.resultTotal == kSeeds * kPagesPerSeed * 8;
}

// The same pages fetched and nothing else.
bool FetchLoop(lanshu::HttpClient& client, double* seconds) {
  std::vector<std::string> urls;
  for (const std::string& seed : Seeds())
    for (int page = 1; page <= kPagesPerSeed; ++page) urls.push_back(Site().KeywordUrl(seed, page));
  const Clock::time_point start = Clock::now();
  bool whole = true;
  for (const std::string& url : urls) whole &= !client.Request(url).empty();
  *seconds = std::chrono::duration<double>(Clock::now() - start).count();
  return whole;
}

// One loop per iteration, timed by the loop itself.
template <bool (*Loop)(lanshu::HttpClient&, double*)>
void BM_Pages(benchmark::State& state) {
  lanshu::HttpClient client;
  for (auto _ : state) {
    double s = 0;
    if (!Loop(client, &s)) state.SkipWithError("pages missing");
    state.SetIterationTime(s);
  }
}
BENCHMARK_TEMPLATE(BM_Pages, MiningRun)->Name("BM_Mining100Pages")->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK_TEMPLATE(BM_Pages, FetchLoop)->Name("BM_Fetch100Pages")->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(5);

void Report() {
  lanshu::HttpClient client;
  std::vector<double> mined, fetched;
  for (int round = 0; round < 15; ++round) {
    double a = 0, b = 0;
    if (!MiningRun(client, &a) || !FetchLoop(client, &b)) {
      std::printf("round %d: pages missing\n", round);
      return;
    }
    mined.push_back(a);
    fetched.push_back(b);
  }
  std::sort(mined.begin(), mined.end());
  std::sort(fetched.begin(), fetched.end());
  const std::size_t mid = mined.size() / 2;
  std::printf("100 pages, 15 alternating rounds: mining best %.1f ms, median %.1f ms; fetching alone best %.1f ms, "
              "median %.1f ms\n",
              mined[0] * 1e3, mined[mid] * 1e3, fetched[0] * 1e3, fetched[mid] * 1e3);
  std::printf("ratio mining / fetching: best %.3f, median %.3f (target <= 1.1)\n", mined[0] / fetched[0],
              mined[mid] / fetched[mid]);
}

}  // namespace

int main(int argc, char** argv) {
  // The final message of each run goes nowhere.
  lanshu::SetMessageBoxHook([](const std::string&, int, const std::string&) { return lanshu::kIdOk; });
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  Report();
  Site().Stop();
  return 0;
}
