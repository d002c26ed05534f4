// Resident memory of the window holding 100,000 rank result rows, appended
// through the program's list as the rank query appends them, against the
// same window empty (target: at most 50 MB more). The window is shown
// offscreen and the events that follow each step are processed before the
// measure; freed heap is handed back first, so the figures count what is held.
#include <benchmark/benchmark.h>
#include <malloc.h>

#include <QApplication>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <cstdio>
#include <random>
#include <string>

#include "app/Application.h"
#include "app/MainWindow.h"
#include "app/ResultListModel.h"
#include "text/Codec.h"

namespace {

constexpr int kRows = 100000;

double ResidentMb() {
  QFile status(QStringLiteral("/proc/self/status"));
  if (!status.open(QIODevice::ReadOnly)) return -1;
  for (const QByteArray& line : status.readAll().split('\n'))
    if (line.startsWith("VmRSS:")) return line.mid(6).trimmed().split(' ').first().toDouble() / 1024.0;
  return -1;
}

double Settled() {
  for (int i = 0; i < 5; ++i) QTest::qWait(100);
  malloc_trim(0);
  return ResidentMb();
}

// Cells of realistic length: GBK keyword and title, rank text, figures with
// group separators, a redirect link.
void Fill(lanshu::ResultTable& list) {
  const char* const words[] = {"北京", "网站建设", "装修公司", "英语培训", "免费", "哪家好", "价格", "专业"};
  std::vector<std::string> gbk;
  for (const char* w : words) gbk.push_back(lanshu::Utf8TextToGbk(w));
  const std::string rankHead = lanshu::Utf8TextToGbk("第"), rankMid = lanshu::Utf8TextToGbk("页第"),
                    rankTail = lanshu::Utf8TextToGbk("位"), official = lanshu::Utf8TextToGbk("官网 - 优惠推荐，");
  std::mt19937 rng(11);
  for (int r = 0; r < kRows; ++r) {
    const std::string domain = "www.site" + std::to_string(r % 40) + ".example";
    const std::string keyword = gbk[rng() % 8] + gbk[rng() % 8] + gbk[rng() % 8];
    const int row = list.AppendRow(std::to_string(r % 50 + 1));
    list.SetCellText(row, 1, domain);
    list.SetCellText(row, 2, keyword);
    list.SetCellText(row, 3, rankHead + std::to_string(rng() % 10 + 1) + rankMid + std::to_string(rng() % 10 + 1) + rankTail);
    list.SetCellText(row, 4, std::to_string(rng() % 40000));
    list.SetCellText(row, 5, std::to_string(rng() % 5000) + "," + std::to_string(100 + rng() % 900));
    list.SetCellText(row, 6, keyword + official + domain);
    list.SetCellText(row, 7, "http://127.0.0.1:8080/link?url=" + std::to_string(rng()) + std::to_string(rng()) +
                                 "Ab-" + std::to_string(r));
  }
}

void BM_ListMemory100k(benchmark::State& state) {
  QTemporaryDir dir;
  lanshu::CommandLine cl;
  cl.settingsFile = (dir.path() + QStringLiteral("/bench.ini")).toStdString();
  lanshu::Application app(cl);
  if (!app.Ok()) {
    state.SkipWithError(app.Error().c_str());
    return;
  }
  app.Window()->show();
  // The login tab loads its page a moment after the start; let that settle first.
  for (int i = 0; i < 100 && app.Window()->时钟1->isActive(); ++i) QTest::qWait(50);
  QTest::qWait(1000);
  double empty = 0, full = 0;
  for (auto _ : state) {
    app.List().Clear();
    empty = Settled();
    Fill(app.List());
    app.List().ScrollToRow(kRows - 1);
    full = Settled();
  }
  state.counters["rss_empty_mb"] = empty;
  state.counters["rss_100k_mb"] = full;
  state.counters["added_mb"] = full - empty;
  std::printf("window empty %.1f MB, with %d rows %.1f MB: %.1f MB more (target <= 50)\n", empty, kRows, full,
              full - empty);
}
BENCHMARK(BM_ListMemory100k)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  if (!qEnvironmentVariableIsSet("QTWEBENGINE_DISABLE_SANDBOX")) qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
  lanshu::Application::PrepareGraphics();
  QApplication qt(argc, argv);
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
