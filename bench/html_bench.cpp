// Element search over page-sized GBK texts.
#include <benchmark/benchmark.h>

#include <string>

#include "text/Codec.h"
#include "text/HtmlElementFinder.h"

using namespace lanshu;

namespace {

constexpr std::size_t kPageBytes = 1 << 20;

std::string Gbk(const char* utf8) { return Utf8TextToGbk(utf8); }

// A ranking-style table: 5000 rows of about 210 bytes, GBK cell texts.
const std::string& RowsPage() {
  static const std::string page = [] {
    const std::string title = Gbk("减肥茶哪个牌子好_最新排行榜");
    std::string p = "<html><head><title>" + Gbk("排名") + "</title></head><body><table class=\"list\">\r\n";
    for (int i = 1; i <= 5000; ++i) {
      p += "<tr class=\"r\"><td>" + std::to_string(i) + "</td><td><a href=\"http://example.invalid/p/" +
           std::to_string(i * 7) + ".html\" target=\"_blank\">" + title + "</a></td><td>" +
           std::to_string(i % 50) + "</td><td>" + std::to_string(i * 13) + "</td></tr>\r\n";
    }
    p += "</table>";
    while (p.size() < kPageBytes - 16) p += Gbk("页脚文字");
    return p + "</body></html>";
  }();
  return page;
}

// 250 chains of 20 nested divs (5000 divs), padded with text; the box with
// class box_05 sits in the last chain.
const std::string& NestedDivPage() {
  static const std::string page = [] {
    const std::string filler = Gbk("关键词挖掘的相关结果，长尾词与搜索量。");
    std::string p = "<html><body>";
    const std::size_t chainBytes = kPageBytes / 250;
    for (int chain = 0; chain < 250; ++chain) {
      const std::size_t chainStart = p.size();
      for (int depth = 0; depth < 20; ++depth) {
        const bool box = chain == 249 && depth == 10;
        p += box ? "<div class=\"box_05\">" : "<div class=\"lv" + std::to_string(depth) + "\" id=\"d" +
                                                   std::to_string(chain) + "\">";
        p += filler;
      }
      while (p.size() - chainStart < chainBytes - 20 * 6) p += filler;
      for (int depth = 0; depth < 20; ++depth) p += "</div>";
    }
    return p + "</body></html>";
  }();
  return page;
}

void BM_ListRows(benchmark::State& state) {
  const std::string& page = RowsPage();
  HtmlElementFinder f;
  for (auto _ : state) {
    benchmark::DoNotOptimize(f.FindElements(page, "tr", {}, {}, "", false, false, -1));
  }
  if (f.Count() != 5000) state.SkipWithError("wrong row count");
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * page.size()));
}
BENCHMARK(BM_ListRows)->Unit(benchmark::kMillisecond);

void BM_SingleBoxNearEnd(benchmark::State& state) {
  const std::string& page = NestedDivPage();
  HtmlElementFinder f;
  std::string box;
  for (auto _ : state) {
    box = f.FindElements(page, "div", {"class"}, {"box_05"});
    benchmark::DoNotOptimize(box);
  }
  if (box.compare(0, 20, "<div class=\"box_05\">") != 0 || box.size() < 10 * 6) {
    state.SkipWithError("box not found");
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * page.size()));
}
BENCHMARK(BM_SingleBoxNearEnd)->Unit(benchmark::kMillisecond);

// Every nested div stored: ends found by lookup, not by recounting each span.
void BM_ListNestedDivs(benchmark::State& state) {
  const std::string& page = NestedDivPage();
  HtmlElementFinder f;
  for (auto _ : state) benchmark::DoNotOptimize(f.FindAll(page, "div"));
  if (f.Count() != 5000) state.SkipWithError("wrong div count");
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * page.size()));
}
BENCHMARK(BM_ListNestedDivs)->Unit(benchmark::kMillisecond);

// Any tag: a closing-tag index per tag name met.
void BM_ListAnyTag(benchmark::State& state) {
  const std::string& page = RowsPage();
  HtmlElementFinder f;
  for (auto _ : state) benchmark::DoNotOptimize(f.FindAll(page));
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * page.size()));
}
BENCHMARK(BM_ListAnyTag)->Unit(benchmark::kMillisecond);

// Worst case for balance counting: n openings, then n closings.
void BM_ListOpeningsThenClosings(benchmark::State& state) {
  std::string page;
  for (int i = 0; i < 50000; ++i) page += "<b>";
  for (int i = 0; i < 50000; ++i) page += "</b>";
  HtmlElementFinder f;
  for (auto _ : state) benchmark::DoNotOptimize(f.FindAll(page, "b"));
  if (f.GetElement(1) != page) state.SkipWithError("outer element wrong");
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * page.size()));
}
BENCHMARK(BM_ListOpeningsThenClosings)->Unit(benchmark::kMillisecond);

// Cells of every row cut with a position variable.
void BM_TextBetweenCells(benchmark::State& state) {
  const std::string& page = RowsPage();
  HtmlElementFinder f;
  f.FindAll(page, "tr");
  for (auto _ : state) {
    for (int i = 1; i <= f.Count(); ++i) {
      const std::string row = f.GetElement(i);
      int pos = 0;
      while (!TextBetween(row, "<td>", "</td>", pos).empty()) {
      }
    }
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * page.size()));
}
BENCHMARK(BM_TextBetweenCells)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
