// Page parsing without the window: a demo ranking page of 50 rows (and one of
// 1,000) through RankQuery::ParseRankPage, and a demo keyword page of 50 rows
// through KeywordMining::ParseMiningPage with every column ticked. Window
// events are off (the default no-op pump). Target: at most 0.5 ms per
// 50-row page.
#include <benchmark/benchmark.h>

#include <string>

#include "BenchMiningUi.h"
#include "demo/DemoContent.h"
#include "mining/Mining.h"
#include "rank/RankQuery.h"
#include "results/MemoryTable.h"
#include "text/Codec.h"

namespace {

using lanshu::Utf8TextToGbk;

std::vector<std::string> RankTitles() {
  std::vector<std::string> titles;
  for (const char* t : {"序号", "域名", "关键字", "排名", "搜索量", "收录量", "网页标题", "链接"})
    titles.push_back(Utf8TextToGbk(t));
  return titles;
}

class BenchRankUi : public lanshu::RankUi {
 public:
  lanshu::MemoryTable table{RankTitles()};
  std::string caption = Utf8TextToGbk("停止");  // a run is going
  std::string StartCaption() const override { return caption; }
  void SetStartCaption(const std::string& c) override { caption = c; }
  std::string DomainText() const override { return "bench.example"; }
  int SortIndex() const override { return 0; }
  void SetStatusText(const std::string&) override {}
  bool FilterDuplicates() const override { return false; }
  bool ConvertLinks() const override { return false; }
  lanshu::ResultTable& List() override { return table; }
};

// The page is handed to the parser directly; nothing is navigated.
class NoLoader : public lanshu::PageLoader {
 public:
  void Navigate(const std::string&) override {}
  std::string DocumentHtml() override { return std::string(); }
};

void BM_ParseRankPage(benchmark::State& state) {
  const int rows = static_cast<int>(state.range(0));
  lanshu::demo::Options options;
  options.rankPages = 1;
  options.rankRowsPerPage = rows;
  const std::string html =
      lanshu::demo::RankPageHtml("http://127.0.0.1:8080", "bench.example", 1, "position", options);
  BenchRankUi ui;
  NoLoader loader;
  lanshu::RankQuery query(ui, loader, "http://127.0.0.1:8080", "http://127.0.0.1:8080");
  query.currentDomain = "bench.example";
  for (auto _ : state) {
    query.ParseRankPage(html);
    state.PauseTiming();
    if (ui.table.RowCount() != rows) state.SkipWithError("wrong row count");
    ui.table.Clear();
    state.ResumeTiming();
  }
  state.counters["page_kb"] = static_cast<double>(html.size()) / 1024.0;
}
BENCHMARK(BM_ParseRankPage)->Arg(50)->Arg(1000)->Unit(benchmark::kMillisecond);

void BM_ParseMiningPage(benchmark::State& state) {
  const int rows = static_cast<int>(state.range(0));
  lanshu::demo::Options options;
  options.keywordPages = 1;
  options.keywordRowsPerPage = rows;
  const std::string seed = Utf8TextToGbk("减肥");
  // The GBK form, as FetchMiningPage hands it over.
  const std::string html = lanshu::demo::KeywordPageHtml(seed, 1, options);
  lanshu::BenchMiningUi ui;
  lanshu::KeywordMining mining(ui, "http://127.0.0.1:8080/");
  for (auto _ : state) {
    mining.ParseMiningPage(html, seed);
    state.PauseTiming();
    if (mining.state.keywordResultCount != rows) state.SkipWithError("wrong line count");
    mining.state.keywordResultCount = 0;
    ui.results.clear();
    state.ResumeTiming();
  }
  state.counters["page_kb"] = static_cast<double>(html.size()) / 1024.0;
}
BENCHMARK(BM_ParseMiningPage)->Arg(8)->Arg(50)->Unit(benchmark::kMillisecond);

// What a fetched keyword page costs before parsing: the body arrives in UTF-8
// and is turned into GBK, and the first page of a seed is searched for links.
void BM_PrepareMiningPage(benchmark::State& state) {
  lanshu::demo::Options options;
  options.keywordPages = 10;
  options.keywordRowsPerPage = 8;
  const std::string utf8 = lanshu::GbkToUtf8Text(lanshu::demo::KeywordPageHtml(Utf8TextToGbk("减肥"), 1, options));
  const bool detect = state.range(0) != 0;
  for (auto _ : state) {
    const std::string page = lanshu::Utf8ToGbk(utf8);
    if (detect) benchmark::DoNotOptimize(lanshu::DetectLastPage(page, lanshu::PageLinkForm::kMining));
    benchmark::DoNotOptimize(page.data());
  }
  state.counters["page_kb"] = static_cast<double>(utf8.size()) / 1024.0;
}
BENCHMARK(BM_PrepareMiningPage)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
