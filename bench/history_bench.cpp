// The history store's costs that a user waits for: storing one page as the
// run goes, comparing two large runs, and opening the history on a big store.
// SQLite in a temporary folder; LANSHU_BENCH_PG=postgresql://... measures a
// server too (page storing and comparing).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdlib>
#include <map>
#include <memory>
#include <random>

#include <QCoreApplication>
#include <QDir>
#include <QTemporaryDir>

#include "history/HistoryStore.h"
#include "text/Codec.h"

namespace {

using namespace lanshu::history;

const QDateTime kT0 = QDateTime(QDate(2026, 1, 1), QTime(0, 0), Qt::UTC);

std::string Rank(int position) {
  static const std::string di = lanshu::Utf8TextToGbk("第"), ye = lanshu::Utf8TextToGbk("页第"),
                           wei = lanshu::Utf8TextToGbk("位");
  return di + std::to_string((position - 1) / 10 + 1) + ye + std::to_string((position - 1) % 10 + 1) + wei;
}

// Rows shaped like a real rank page: Chinese keywords and titles, a link.
std::vector<RankCells> Rows(const std::string& domain, int first, int n, std::mt19937& rng, int keywordSpace) {
  static const std::string kw = lanshu::Utf8TextToGbk("减肥方法"), title = lanshu::Utf8TextToGbk("减肥方法大全_快速瘦身的方法 - 健康网");
  std::uniform_int_distribution<int> pick(0, std::max(0, keywordSpace - 1)), pos(1, 100);
  std::vector<RankCells> rows;
  rows.reserve(n);
  for (int i = 0; i < n; ++i)
    rows.push_back({std::to_string(first + i), domain, kw + std::to_string(keywordSpace ? pick(rng) : first + i),
                    Rank(pos(rng)), "12,300", "4,560,000", title, "http://" + domain + "/article/" + std::to_string(i) + ".html"});
  return rows;
}

std::string Address(const char* name, QTemporaryDir& dir) {
  if (const char* pg = std::getenv("LANSHU_BENCH_PG"); pg && std::string(name).rfind("pg", 0) == 0) return pg;
  return QDir(dir.path()).filePath(QString::fromLatin1(name) + ".sqlite").toStdString();
}

QTemporaryDir& Folder() {
  static QTemporaryDir dir;
  return dir;
}

void StorePage(benchmark::State& state, const char* name) {
  HistoryStore store;
  if (!store.Open(Address(name, Folder()))) return state.SkipWithError(store.LastError().c_str());
  auto id = store.BeginRun(RunKind::kRank, {"example.com"}, "", kT0);
  std::mt19937 rng(1);
  std::vector<RankCells> rows = Rows("example.com", 1, 1000, rng, 0);
  const std::string keyword = rows[0][2];
  int page = 0;
  for (auto _ : state) {
    PageRecord p;
    p.target = "example.com";
    p.page = ++page;
    // Every page lists keywords of its own, as a run's pages do.
    for (std::size_t i = 0; i < rows.size(); ++i) rows[i][2] = keyword + std::to_string(page * 1000 + i);
    p.rankRows = rows;
    if (!store.StorePage(*id, p)) return state.SkipWithError(store.LastError().c_str());
  }
  state.counters["rows/s"] = benchmark::Counter(1000.0 * state.iterations(), benchmark::Counter::kIsRate);
}

void BM_StoreThousandRowPage_Sqlite(benchmark::State& state) { StorePage(state, "page"); }
BENCHMARK(BM_StoreThousandRowPage_Sqlite)->Unit(benchmark::kMillisecond)->MinTime(2);

void BM_StoreThousandRowPage_Postgresql(benchmark::State& state) {
  if (!std::getenv("LANSHU_BENCH_PG")) return state.SkipWithError("LANSHU_BENCH_PG not set");
  StorePage(state, "pgpage");
}
BENCHMARK(BM_StoreThousandRowPage_Postgresql)->Unit(benchmark::kMillisecond)->MinTime(2);

// Two runs of 100,000 keywords each; the second lost a tenth of the first and
// gained as many, and most positions moved.
struct TwoRuns {
  HistoryStore store;
  std::int64_t older = 0, newer = 0;
  explicit TwoRuns(const char* name) {
    if (!store.Open(Address(name, Folder()))) return;
    std::mt19937 rng(7);
    for (int run = 0; run < 2; ++run) {
      auto id = store.BeginRun(RunKind::kRank, {"example.com"}, "", kT0.addDays(run));
      for (int page = 0; page < 100; ++page) {
        PageRecord p;
        p.target = "example.com";
        p.page = page + 1;
        p.rankRows = Rows("example.com", run * 10000 + page * 1000, 1000, rng, 0);
        if (!store.StorePage(*id, p)) return;
      }
      store.FinishRun(*id, Ending::kFinished, kT0.addDays(run).addSecs(600));
      (run ? newer : older) = *id;
    }
  }
};

// Stores built once and shared by the benchmarks; closed before main
// returns, while Qt SQL still knows their connections.
std::map<std::string, std::unique_ptr<TwoRuns>> twoRunsCache;
std::unique_ptr<HistoryStore> bigStore;

void Compare(benchmark::State& state, const char* name) {
  auto& runs = twoRunsCache[name];
  if (!runs) runs = std::make_unique<TwoRuns>(name);
  if (!runs->newer) return state.SkipWithError(runs->store.LastError().c_str());
  std::size_t rows = 0;
  for (auto _ : state) {
    auto result = runs->store.Compare(runs->older, runs->newer, "example.com");
    if (!result) return state.SkipWithError(runs->store.LastError().c_str());
    rows = result->size();
  }
  state.counters["rows"] = static_cast<double>(rows);
}

void BM_CompareTwoRunsOf100kKeywords_Sqlite(benchmark::State& state) { Compare(state, "compare"); }
BENCHMARK(BM_CompareTwoRunsOf100kKeywords_Sqlite)->Unit(benchmark::kMillisecond)->Iterations(5);

void BM_CompareTwoRunsOf100kKeywords_Postgresql(benchmark::State& state) {
  if (!std::getenv("LANSHU_BENCH_PG")) return state.SkipWithError("LANSHU_BENCH_PG not set");
  Compare(state, "pgcompare");
}
BENCHMARK(BM_CompareTwoRunsOf100kKeywords_Postgresql)->Unit(benchmark::kMillisecond)->Iterations(5);

void BM_CompareCsvOf200kRows(benchmark::State& state) {
  auto& runs = twoRunsCache["compare"];
  if (!runs) runs = std::make_unique<TwoRuns>("compare");
  auto rows = runs->store.Compare(runs->older, runs->newer, "example.com");
  if (!rows) return state.SkipWithError(runs->store.LastError().c_str());
  for (auto _ : state) benchmark::DoNotOptimize(ComparisonCsv(*rows));
}
BENCHMARK(BM_CompareCsvOf200kRows)->Unit(benchmark::kMillisecond)->Iterations(5);

// 1,000,000 rank rows: 200 runs over 10 domains, 250 pages of 20 rows each,
// one page in fifty failed.
HistoryStore& BigStore() {
  if (bigStore) return *bigStore;
  bigStore = std::make_unique<HistoryStore>();
  HistoryStore& store = *bigStore;
  const std::string path = QDir(Folder().path()).filePath("big.sqlite").toStdString();
  if (!store.Open(path)) return store;
  std::mt19937 rng(3);
  for (int run = 0; run < 200; ++run) {
    const std::string domain = "site" + std::to_string(run % 10) + ".com";
    auto id = store.BeginRun(RunKind::kRank, {domain}, "[settings]", kT0.addSecs(3600 * run));
    for (int page = 1; page <= 250; ++page) {
      PageRecord p;
      p.target = domain;
      p.page = page;
      if (page % 50 == 0) {
        p.outcome = Outcome::kFailed;
        p.reason = "time-out";
      }
      p.rankRows = Rows(domain, page * 20, 20, rng, 20000);
      store.StorePage(*id, p);
    }
    store.FinishRun(*id, Ending::kFinished, kT0.addSecs(3600 * run + 600));
  }
  return store;
}

void BM_OpenHistoryOn1MRows(benchmark::State& state) {
  HistoryStore& big = BigStore();
  const std::string path = QDir(Folder().path()).filePath("big.sqlite").toStdString();
  big.Close();  // measure a cold open of the file, as the history tab does
  HistoryStore store;
  for (auto _ : state) {
    if (!store.Open(path)) return state.SkipWithError(store.LastError().c_str());
    auto runs = store.ListRuns();
    auto ofDomain = store.RunsOfDomain("site3.com");
    auto series = store.DomainSeries("site3.com");
    if (!runs || !ofDomain || !series) return state.SkipWithError(store.LastError().c_str());
    benchmark::DoNotOptimize(runs->size() + ofDomain->size() + series->size());
    std::int64_t rows = 0;
    for (const RunInfo& r : *runs) rows += r.rows;
    state.counters["rows"] = static_cast<double>(rows);
    state.counters["runs"] = static_cast<double>(runs->size());
    store.Close();
  }
  big.Open(path);
}
BENCHMARK(BM_OpenHistoryOn1MRows)->Unit(benchmark::kMillisecond)->Iterations(10);

void BM_ListRunsOn1MRows(benchmark::State& state) {
  HistoryStore& store = BigStore();
  for (auto _ : state) {
    auto runs = store.ListRuns();
    if (!runs) return state.SkipWithError(store.LastError().c_str());
    benchmark::DoNotOptimize(runs->size());
  }
}
BENCHMARK(BM_ListRunsOn1MRows)->Unit(benchmark::kMillisecond)->Iterations(20);

void BM_DomainSeriesOn1MRows(benchmark::State& state) {
  HistoryStore& store = BigStore();
  for (auto _ : state) {
    auto series = store.DomainSeries("site3.com");
    if (!series) return state.SkipWithError(store.LastError().c_str());
    benchmark::DoNotOptimize(series->size());
  }
}
BENCHMARK(BM_DomainSeriesOn1MRows)->Unit(benchmark::kMillisecond)->Iterations(20);

void BM_LoadRankRowsOfARun(benchmark::State& state) {
  HistoryStore& store = BigStore();
  for (auto _ : state) {
    auto rows = store.LoadRankRows(100);
    if (!rows) return state.SkipWithError(store.LastError().c_str());
    benchmark::DoNotOptimize(rows->size());
  }
}
BENCHMARK(BM_LoadRankRowsOfARun)->Unit(benchmark::kMillisecond)->Iterations(10);

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  twoRunsCache.clear();
  bigStore.reset();
  return 0;
}
