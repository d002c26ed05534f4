// The cost of judging a page's outcome: the checks a results page passes
// (transport and status, the count of table rows, the element search for its
// results block, which the parser then reads instead of searching again) on a
// demo ranking page and keyword page of 50 rows, and the full look at a page
// without results (a login page). About 60 µs on a 50-row page, against about
// half a second to load it.
#include <benchmark/benchmark.h>

#include <string>

#include "demo/DemoContent.h"
#include "run/PageOutcome.h"
#include "text/Codec.h"

namespace {

void Judge(benchmark::State& state, const std::string& html) {
  const lanshu::PageFetch fetch{200, ""};
  for (auto _ : state) {
    lanshu::PageOutcome outcome = lanshu::PrecheckPage(fetch, html);
    if (outcome.Ok() && lanshu::FindResultsBlock(html).empty()) outcome = lanshu::ClassifyPageWithoutResults(html);
    benchmark::DoNotOptimize(outcome);
  }
  state.counters["bytes"] = static_cast<double>(html.size());
}

void BM_JudgeRankPage50(benchmark::State& state) {
  lanshu::demo::Options options;
  options.rankRowsPerPage = 50;
  Judge(state, lanshu::demo::RankPageHtml("http://127.0.0.1:8080", "bench.example", 1, "position", options));
}

void BM_JudgeKeywordPage50(benchmark::State& state) {
  lanshu::demo::Options options;
  options.keywordRowsPerPage = 50;
  Judge(state, lanshu::demo::KeywordPageHtml(lanshu::Utf8TextToGbk("减肥"), 1, options));
}

void BM_JudgeLoginPage(benchmark::State& state) {
  Judge(state, lanshu::Utf8TextToGbk(
                   "<html><head><title>用户登录</title></head><body><div class=\"top\">览数</div>"
                   "<form method=\"post\" action=\"/login\"><input type=\"text\" name=\"user\">"
                   "<input type=\"password\" name=\"pw\"><input type=\"submit\" value=\"登录\"></form>"
                   "</body></html>"));
}

BENCHMARK(BM_JudgeRankPage50)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_JudgeKeywordPage50)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_JudgeLoginPage)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
