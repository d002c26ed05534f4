// What the page queue costs a page: the attempt counted (ClaimPage) and the
// page stored with its state (StorePage) for a rank page of 10 rows, in a
// run whose targets are claimed one after the other, as a process sharing a
// run does. On a SQLite file and on a PostgreSQL server on this machine,
// over loopback TCP and over its Unix socket.
//
//   bench_queue [rounds [targets [pages per target]]]     (3 10 60)
//
// Each round is a run of its own in the same database; the figures are of
// all rounds' pages together, with each round's p95 beside them. Claiming
// and letting go of a target happen once per target and are shown apart.
// On a shared virtual machine the host takes the processor away now and
// then (steal), which makes the slowest pages: so the process's own
// processor time per page is shown, and between two pages a fixed 1 ms of
// computation is timed, whose p95 is what the machine alone does to 1 ms.
// The server: see BenchPostgres.h.
#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <time.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "BenchPostgres.h"
#include "DelayProxy.h"
#include "history/HistoryStore.h"
#include "text/Codec.h"

namespace {

using namespace lanshu;
using namespace lanshu::history;

std::string Gbk(const char* utf8) { return Utf8TextToGbk(utf8); }

// Ten rows as a ranking page lists them: a keyword each, its rank as the
// site writes it, volume and indexed counts with commas, a title and a link.
std::vector<RankCells> RankRows(const std::string& domain, int page) {
  static const char* const words[] = {"减肥方法", "快速瘦身", "减肥食谱", "瘦腿运动", "产后减肥",
                                      "减肥茶排行榜", "怎样减肥最快", "减肥药哪种好", "运动减肥", "中药减肥"};
  static const char* const sites[] = {"健康网", "瘦身论坛", "女性频道", "养生之道", "百科问答"};
  std::vector<RankCells> rows;
  for (int i = 1; i <= 10; ++i) {
    const int position = (page - 1) * 10 + i;
    const std::string word = Gbk(words[(position * 7) % 10]) + (page > 1 ? std::to_string(page) : std::string());
    rows.push_back({std::to_string(position), domain, word,
                    Gbk("第") + std::to_string(page) + Gbk("页第") + std::to_string(i) + Gbk("位"),
                    std::to_string(1 + position % 9) + "," + std::to_string(100 + position % 900),
                    std::to_string(3 + position % 7) + "," + std::to_string(450 + position % 500) + ",000",
                    word + Gbk("大全_") + word + Gbk("的10个小窍门 - ") + Gbk(sites[position % 5]),
                    "http://" + domain + "/article/" + std::to_string(20240000 + position) + ".html"});
  }
  return rows;
}

struct Figures {
  std::vector<double> pageMs, claimMs, storeMs;  // per page: both calls, ClaimPage, StorePage
  std::vector<double> cpuMs;                     // per page: this thread's processor time in both
  std::vector<double> controlMs;                 // the 1 ms of computation after each page
  std::vector<double> targetMs;                  // per target: ClaimTarget and Release
  std::vector<double> roundP95;
  double stealShare = 0;
  std::string failure;
};

// Processor time of the whole machine so far, in ticks: all of it, and what
// the host took (the eighth number of /proc/stat's "cpu" line).
std::pair<double, double> CpuTicks() {
  std::ifstream stat("/proc/stat");
  std::string line, name;
  std::getline(stat, line);
  std::istringstream in(line);
  in >> name;
  double total = 0, steal = 0, v = 0;
  for (int i = 0; in >> v; ++i) {
    if (i < 8) total += v;  // guest time is counted in user time already
    if (i == 7) steal = v;
  }
  return {total, steal};
}

double Percentile(std::vector<double> v, double p) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  const std::size_t i = static_cast<std::size_t>(p * static_cast<double>(v.size() - 1) + 0.5);
  return v[std::min(i, v.size() - 1)];
}

double Ms(const QElapsedTimer& t) { return static_cast<double>(t.nsecsElapsed()) / 1e6; }

// Processor time of the calling thread: what a page cost here, whatever
// the host and the other processes did meanwhile.
double ThreadCpuMs() {
  timespec now{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) * 1e3 + static_cast<double>(now.tv_nsec) / 1e6;
}

// A fixed piece of computation: `steps` rounds of a xorshift.
std::uint64_t Work(long steps) {
  std::uint64_t x = 88172645463325252ull;
  for (long i = 0; i < steps; ++i) x ^= x << 13, x ^= x >> 7, x ^= x << 17;
  return x;
}

volatile std::uint64_t sink = 0;

// The steps of Work that take 1 ms in the fastest of a few tries.
long OneMillisecond() {
  long steps = 1 << 16;
  for (;;) {
    double fastest = 1e9;
    for (int i = 0; i < 5; ++i) {
      QElapsedTimer t;
      t.start();
      sink = sink + Work(steps);
      fastest = std::min(fastest, Ms(t));
    }
    if (fastest >= 1.0) return steps;
    steps = static_cast<long>(static_cast<double>(steps) * std::max(1.05, 1.02 / std::max(fastest, 0.01)));
  }
}

// One round: a run of its own, its pages added to f. False, with the
// reason in f, when a call failed.
bool Measure(const std::string& address, int targets, int pages, long oneMs, Figures& f) {
  const auto fail = [&f](const char* call, const HistoryStore& store) {
    f.failure = std::string(call) + ": " + store.LastError();
    return false;
  };
  const std::size_t first = f.pageMs.size();
  HistoryStore store;
  if (!store.Open(address)) return fail("Open", store);
  std::vector<std::string> domains;
  for (int t = 1; t <= targets; ++t) domains.push_back("www.shop" + std::to_string(t) + ".example.com");
  const auto run = store.BeginRun(RunKind::kRank, domains, Gbk("[基本参数]\r\n排序=1\r\n"),
                                  QDateTime::currentDateTimeUtc(), std::string(), 0, "{}",
                                  "queue bench " + std::to_string(QDateTime::currentMSecsSinceEpoch()));
  if (!run) return fail("BeginRun", store);
  const std::string holder = "bench/" + std::to_string(QCoreApplication::applicationPid()) + "/1a2b3c4d";
  const std::int64_t leaseMs = 60000;
  for (int t = 0; t < targets; ++t) {
    QElapsedTimer clock;
    clock.start();
    const auto claimed = store.ClaimTarget(*run, holder, leaseMs);
    const double claimTargetMs = Ms(clock);
    if (!claimed) return fail("ClaimTarget", store);
    if (!claimed->has_value()) return f.failure = "ClaimTarget: no target left", false;
    const std::string domain = (*claimed)->target;
    for (int page = 1; page <= pages; ++page) {
      PageRecord record;
      record.target = domain;
      record.page = page;
      record.rankRows = RankRows(domain, page);
      record.holder = holder;
      if (page == 1) record.revealed = pages;
      const double cpu = ThreadCpuMs();
      QElapsedTimer both;
      both.start();
      if (!store.ClaimPage(*run, domain, page, holder, leaseMs)) return fail("ClaimPage", store);
      const double claimMs = Ms(both);
      if (!store.StorePage(*run, record)) return fail("StorePage", store);
      const double pageMs = Ms(both);
      f.cpuMs.push_back(ThreadCpuMs() - cpu);
      f.pageMs.push_back(pageMs);
      f.claimMs.push_back(claimMs);
      f.storeMs.push_back(pageMs - claimMs);
      QElapsedTimer control;
      control.start();
      sink = sink + Work(oneMs);
      f.controlMs.push_back(Ms(control));
    }
    clock.restart();
    if (!store.Release(*run, domain, holder)) return fail("Release", store);
    f.targetMs.push_back(claimTargetMs + Ms(clock));
  }
  const auto progress = store.Progress(*run);
  if (!progress) return fail("Progress", store);
  if (!progress->Complete() || progress->pages != static_cast<std::int64_t>(targets) * pages)
    return f.failure = "the queue does not hold every page as stored", false;
  f.roundP95.push_back(Percentile({f.pageMs.begin() + static_cast<std::ptrdiff_t>(first), f.pageMs.end()}, 0.95));
  return true;
}

Figures Rounds(const std::string& address, int rounds, int targets, int pages, long oneMs) {
  Figures f;
  const auto before = CpuTicks();
  for (int r = 0; r < rounds && Measure(address, targets, pages, oneMs, f); ++r) {
  }
  const auto after = CpuTicks();
  if (after.first > before.first) f.stealShare = (after.second - before.second) / (after.first - before.first);
  return f;
}

struct Row {
  const char* engine;
  Figures f;
  double targetMs;  // what p95 should stay within; 0: none
};

void PrintTimes(const Row& row) {
  const Figures& f = row.f;
  if (!f.failure.empty()) {
    std::printf("  %-26s failed: %s\n", row.engine, f.failure.c_str());
    return;
  }
  std::string rounds;
  for (const double v : f.roundP95) {
    char text[16];
    std::snprintf(text, sizeof text, "%s%.1f", rounds.empty() ? "" : " ", v);
    rounds += text;
  }
  const double p95 = Percentile(f.pageMs, 0.95);
  std::printf("  %-26s %5zu %7.2f %7.2f %7.2f  %-16s", row.engine, f.pageMs.size(), Percentile(f.pageMs, 0.5), p95,
              Percentile(f.pageMs, 1.0), rounds.c_str());
  if (row.targetMs > 0) std::printf("  %4.0f ms: %s", row.targetMs, p95 <= row.targetMs ? "met" : "missed");
  std::printf("\n");
}

void PrintParts(const Row& row) {
  const Figures& f = row.f;
  if (!f.failure.empty()) return;
  std::printf("  %-26s %7.2f %7.2f %7.2f %7.2f %8.2f   %7.2f %7.2f %6.0f%%\n", row.engine, Percentile(f.claimMs, 0.5),
              Percentile(f.storeMs, 0.5), Percentile(f.cpuMs, 0.5), Percentile(f.cpuMs, 0.95),
              Percentile(f.targetMs, 0.5), Percentile(f.controlMs, 0.5), Percentile(f.controlMs, 0.95),
              f.stealShare * 100);
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  const int rounds = argc > 1 ? std::atoi(argv[1]) : 3;
  const int targets = argc > 2 ? std::atoi(argv[2]) : 10;
  const int pages = argc > 3 ? std::atoi(argv[3]) : 60;
  if (rounds < 1 || targets < 1 || pages < 1) {
    std::fprintf(stderr, "usage: bench_queue [rounds [targets [pages per target]]]\n");
    return 2;
  }
  QTemporaryDir dir;
  if (!dir.isValid()) return 1;
  const bench::BenchPostgres server(LANSHU_SOURCE_DIR);
  if (!server.Ok()) return 1;
  bench::DelayProxy proxy(server.target, 0);

  std::printf("ClaimPage + StorePage of a 10-row rank page: %d round(s) of %d targets x %d pages, one target\n"
              "claimed at a time. Milliseconds.\n\n",
              rounds, targets, pages);
  const long oneMs = OneMillisecond();
  const std::string file = QDir(dir.path()).filePath("history.sqlite").toStdString();
  std::vector<Row> rows = {{"SQLite file", Rounds(file, rounds, targets, pages, oneMs), 5}};
  const long answersBefore = proxy.Answers();
  rows.push_back({"PostgreSQL, loopback TCP", Rounds(server.Through(proxy), rounds, targets, pages, oneMs), 10});
  const double answers = static_cast<double>(proxy.Answers() - answersBefore);
  rows.push_back({"PostgreSQL, Unix socket", Rounds(server.Direct(), rounds, targets, pages, oneMs), 10});
  std::printf("  %-26s %5s %7s %7s %7s  %-16s  %s\n", "per page", "pages", "median", "p95", "max", "p95 by round",
              "p95 within");
  for (const Row& row : rows) PrintTimes(row);
  std::printf("\n  %-26s %7s %7s %7s %7s %8s   %7s %7s %7s\n", "where it goes", "claim", "store", "cpu", "cpu p95",
              "target", "1 ms", "1ms p95", "steal");
  for (const Row& row : rows) PrintParts(row);
  std::printf("\n  Medians unless named p95. claim: ClaimPage; store: StorePage; cpu: this process's processor\n"
              "  time in both (the server's not counted); target: ClaimTarget + Release, once per target; 1 ms: a\n"
              "  fixed 1 ms of computation timed after each page, what the machine alone does to a page's time;\n"
              "  steal: share of the machine's processor time the host took meanwhile. Loopback TCP goes\n"
              "  through the benchmarks' proxy, without delay.\n");
  // Each statement on the server is a round trip or more: what a far
  // server multiplies.
  std::printf("\n  PostgreSQL: about %.1f answers of the server per page (ClaimTarget and Release included), each a\n"
              "  round trip.\n",
              answers / (static_cast<double>(rounds) * targets * pages));
  return 0;
}
