// The rank list at 100,000 rows: export through the CSV template and as the
// quoted CSV export, and sorting by a text column, by numeric columns (plain
// and with thousands separators) and by ranking position. The sorts also report the longest time
// between two window-event calls, start and end included: max_gap_ms in wall
// time, max_gap_cpu_ms in this thread's processor time (the figure that does
// not grow when other programs share the machine).
#include <benchmark/benchmark.h>
#include <time.h>

#include <algorithm>
#include <chrono>
#include <random>
#include <string>
#include <vector>

#include "results/Export.h"
#include "results/MemoryTable.h"
#include "results/Sort.h"
#include "text/Codec.h"
#include "hooks/Events.h"

namespace {

using Clock = std::chrono::steady_clock;

double ThreadCpuMs() {
  timespec ts{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) * 1e3 + static_cast<double>(ts.tv_nsec) / 1e6;
}

// Longest distance between two calls of Mark, in wall and processor time.
struct GapMeter {
  double maxWallMs = 0, maxCpuMs = 0;
  Clock::time_point lastWall;
  double lastCpu = 0;
  void Start() {
    lastWall = Clock::now();
    lastCpu = ThreadCpuMs();
  }
  void Mark() {
    const auto wall = Clock::now();
    const double cpu = ThreadCpuMs();
    maxWallMs = std::max(maxWallMs, std::chrono::duration<double, std::milli>(wall - lastWall).count());
    maxCpuMs = std::max(maxCpuMs, cpu - lastCpu);
    lastWall = wall;
    lastCpu = cpu;
  }
};
constexpr int kRows = 100000;

// The list as the window would hold it; with bulk off, rows are rewritten cell
// by cell as a table without a bulk reorder does.
class BenchTable : public lanshu::MemoryTable {
 public:
  using MemoryTable::MemoryTable;
  bool bulk = true;
  void ReorderRows(const std::vector<int>& order) override {
    if (bulk)
      MemoryTable::ReorderRows(order);
    else
      ResultTable::ReorderRows(order);
  }
};

// 3404667 as "3,404,667".
std::string Grouped(unsigned value) {
  std::string digits = std::to_string(value), out;
  for (std::size_t i = 0; i < digits.size(); ++i) {
    if (i > 0 && (digits.size() - i) % 3 == 0) out += ',';
    out += digits[i];
  }
  return out;
}

const BenchTable& RankList() {
  static const BenchTable table = [] {
    std::vector<std::string> titles;
    for (const char* t : {"序号", "域名", "关键字", "排名", "搜索量", "收录量", "网页标题", "链接"})
      titles.push_back(lanshu::Utf8TextToGbk(t));
    BenchTable t(titles);
    const char* words[] = {"数据", "采集", "排名", "关键词", "Seo", "工具", "查询", "网站", "优化", "百度"};
    std::mt19937 rng(7);
    for (int r = 0; r < kRows; ++r) {
      std::string keyword;
      for (int w = 0; w < 3; ++w) keyword += words[rng() % 10];
      const int row = t.AppendRow(std::to_string(r + 1));
      t.SetCellText(row, 1, "www.site" + std::to_string(rng() % 50) + ".example");
      t.SetCellText(row, 2, lanshu::Utf8TextToGbk(keyword));
      // Positions as the site writes them, now and then a plain number or none.
      const unsigned rank = rng() % 500 + 1;
      const unsigned form = rng() % 10;
      t.SetCellText(row, 3, form == 0   ? std::to_string(rank)
                            : form == 1 ? std::string("-")
                                        : lanshu::Utf8TextToGbk("第" + std::to_string((rank - 1) / 10 + 1) + "页第" +
                                                                std::to_string((rank - 1) % 10 + 1) + "位"));
      t.SetCellText(row, 4, Grouped(rng() % 10000000));
      t.SetCellText(row, 5, std::to_string(rng() % 10000000));
      t.SetCellText(row, 6, lanshu::Utf8TextToGbk(keyword + "_相关网页标题 - 某某网站的页面"));
      t.SetCellText(row, 7, "http://www.site" + std::to_string(rng() % 50) + ".example/page/" +
                                std::to_string(rng()) + ".html");
    }
    return t;
  }();
  return table;
}

void BM_CsvTemplate100k(benchmark::State& state) {
  const BenchTable& list = RankList();
  std::size_t bytes = 0;
  for (auto _ : state) {
    std::string text = lanshu::ApplyColumnTemplate(list, lanshu::kCsvTemplate);
    bytes = text.size();
    benchmark::DoNotOptimize(text);
  }
  state.counters["MB"] = static_cast<double>(bytes) / 1e6;
}
BENCHMARK(BM_CsvTemplate100k)->Unit(benchmark::kMillisecond);

// The "Excel兼容csv格式" export: every cell checked, the counts quoted.
void BM_CsvExport100k(benchmark::State& state) {
  const BenchTable& list = RankList();
  std::size_t bytes = 0;
  for (auto _ : state) {
    std::string text = lanshu::BuildRankExport(list, lanshu::kExportCsv, std::string());
    bytes = text.size();
    benchmark::DoNotOptimize(text);
  }
  state.counters["MB"] = static_cast<double>(bytes) / 1e6;
}
BENCHMARK(BM_CsvExport100k)->Unit(benchmark::kMillisecond);

void SortBench(benchmark::State& state, int column, lanshu::SortKind kind, bool bulk) {
  BenchTable list = RankList();
  list.bulk = bulk;
  GapMeter gaps;
  // Throttled as the window's pump is; a gap between runs of the pump is at
  // least the gap between the calls that reach it.
  lanshu::SetEventPump([&] { gaps.Mark(); }, 1);
  bool ascending = false;
  for (auto _ : state) {
    ascending = !ascending;  // header clicks alternate the direction
    gaps.Start();
    lanshu::SortReportList(list, column, ascending, kind);
    gaps.Mark();
  }
  lanshu::SetEventPump(nullptr);
  state.counters["max_gap_ms"] = gaps.maxWallMs;
  state.counters["max_gap_cpu_ms"] = gaps.maxCpuMs;
}

using lanshu::SortKind;
void BM_SortText100k(benchmark::State& state) { SortBench(state, 2, SortKind::kText, true); }
void BM_SortNumeric100k(benchmark::State& state) { SortBench(state, 5, SortKind::kNumber, true); }
void BM_SortGroupedNumeric100k(benchmark::State& state) { SortBench(state, 4, SortKind::kNumber, true); }
void BM_SortPosition100k(benchmark::State& state) { SortBench(state, 3, SortKind::kPosition, true); }
// A table without a bulk reorder: every cell is written back one by one.
void BM_SortTextCellByCell100k(benchmark::State& state) { SortBench(state, 2, SortKind::kText, false); }
BENCHMARK(BM_SortText100k)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SortNumeric100k)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SortGroupedNumeric100k)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SortPosition100k)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SortTextCellByCell100k)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
