// DecodeEntities over a page-sized text: 1 MB holding 20,000 references, half
// named and half numeric (decimal and hexadecimal), between ASCII and GBK text.
#include <benchmark/benchmark.h>

#include <random>
#include <string>

#include "text/Entities.h"

namespace {

std::string MakePage() {
  const char* refs[] = {"&lt;",     "&gt;",    "&amp;",   "&nbsp;",   "&quot;",  "&mdash;",
                        "&hellip;", "&times;", "&Prime;", "&there4;", "&#20013;", "&#65;",
                        "&#x4E2D;", "&#8364;", "&#128512;", "&#x3b1;", "&#0;",    "&#12345;"};
  const std::size_t kRefs = sizeof(refs) / sizeof(refs[0]);
  const std::string filler[] = {"<td class=\"c\">", "\xD6\xD0\xCE\xC4\xB9\xD8\xBC\xFC\xB4\xCA",
                                "keyword 123 ", "\xBC\xF5\xB7\xCA", "&x ", "#1; "};
  std::mt19937 rng(42);
  const std::size_t kSize = 1 << 20;
  const std::size_t kCount = 20000;
  const std::size_t gap = kSize / kCount;
  std::string page;
  page.reserve(kSize + 64);
  for (std::size_t r = 0; r < kCount; ++r) {
    page += refs[r % 2 == 0 ? rng() % 10 : 10 + rng() % (kRefs - 10)];
    const std::size_t until = (r + 1) * gap;
    while (page.size() < until) page += filler[rng() % 6];
  }
  return page;
}

// What the page parsers do: a cell passed as a temporary.
void BM_DecodeEntities(benchmark::State& state) {
  const std::string page = MakePage();
  for (auto _ : state) {
    std::string out = lanshu::DecodeEntities(page);
    benchmark::DoNotOptimize(out);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(page.size()));
}
BENCHMARK(BM_DecodeEntities)->Unit(benchmark::kMillisecond);

// A caller's variable that also receives the named step's result (includes
// copying the page into it).
void BM_DecodeEntitiesIntoVariable(benchmark::State& state) {
  const std::string page = MakePage();
  for (auto _ : state) {
    std::string text = page;
    std::string out = lanshu::DecodeEntities(text);
    benchmark::DoNotOptimize(out);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(page.size()));
}
BENCHMARK(BM_DecodeEntitiesIntoVariable)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
