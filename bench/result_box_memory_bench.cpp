// Resident memory of the window holding 100,000 keyword-mining result lines,
// appended through the program's result box as a mining run appends them,
// against the same window with the box empty (target: at most 50 MB more).
// The mining page is shown offscreen, events are processed between lines as
// a run does, and freed heap is handed back before each measure, so the
// figures count what is held. The time to append and the longest event pass
// while lines arrive are printed too: the box must stay responsive.
#include <benchmark/benchmark.h>
#include <malloc.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTest>
#include <algorithm>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "app/Adapters.h"
#include "app/Application.h"
#include "app/MainWindow.h"
#include "app/Widgets.h"
#include "text/Codec.h"

namespace {

constexpr int kLines = 100000;
constexpr int kLinesPerEventPass = 20;

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

// Lines as mining writes them: a GBK keyword, search volume, indexed pages,
// the first two sites and the difficulty, "\r\n" at the end. Made one at a
// time, so that no text but the box's is held at either measure.
class LineMaker {
 public:
  LineMaker() {
    for (const char* w : {"减肥", "丰胸", "瑜伽", "北京", "装修公司", "英语培训", "哪家好", "价格", "效果", "方法"})
      words_.push_back(lanshu::Utf8TextToGbk(w));
  }
  std::string Next() {
    std::string line = words_[rng_() % 10] + words_[rng_() % 10] + words_[rng_() % 10];
    line += "," + std::to_string(rng_() % 50000) + "," + std::to_string(rng_() % 9000000);
    line += ",www.site" + std::to_string(rng_() % 60) + ".example,bbs.site" + std::to_string(rng_() % 60) + ".example";
    line += "," + std::to_string(rng_() % 5 + 1) + "\r\n";
    return line;
  }

 private:
  std::vector<std::string> words_;
  std::mt19937 rng_{7};
};

void BM_ResultBoxMemory100k(benchmark::State& state) {
  QTemporaryDir dir;
  lanshu::CommandLine cl;
  cl.settingsFile = (dir.path() + QStringLiteral("/bench.ini")).toStdString();
  lanshu::Application app(cl);
  if (!app.Ok()) {
    state.SkipWithError(app.Error().c_str());
    return;
  }
  lanshu::MainWindow& w = *app.Window();
  w.show();
  w.选择夹->SetCurrentIndex(1);  // the mining page, where the lines are watched arriving
  // The login tab loads its page a moment after the start; let that settle first.
  for (int i = 0; i < 100 && w.时钟1->isActive(); ++i) QTest::qWait(50);
  QTest::qWait(1000);
  lanshu::MiningWindowUi ui(w);
  double empty = 0, full = 0, appendMs = 0, longestPassMs = 0;
  for (auto _ : state) {
    LineMaker lines;
    ui.ClearResults();
    empty = Settled();
    QElapsedTimer total, pass;
    total.start();
    for (int i = 0; i < kLines; ++i) {
      ui.AppendResult(lines.Next());
      if (i % kLinesPerEventPass == kLinesPerEventPass - 1) {
        pass.start();
        QCoreApplication::processEvents();
        longestPassMs = std::max(longestPassMs, pass.nsecsElapsed() / 1e6);
      }
    }
    appendMs = total.nsecsElapsed() / 1e6;
    QScrollBar* bar = w.编辑框结果关键词->verticalScrollBar();
    bar->setValue(bar->maximum());
    full = Settled();
  }
  state.counters["rss_empty_mb"] = empty;
  state.counters["rss_100k_mb"] = full;
  state.counters["added_mb"] = full - empty;
  state.counters["append_ms"] = appendMs;
  state.counters["longest_pass_ms"] = longestPassMs;
  std::printf("result box empty %.1f MB, with %d lines %.1f MB: %.1f MB more (target <= 50)\n", empty, kLines, full,
              full - empty);
  std::printf("appended %d lines in %.0f ms (%.1f us a line, events every %d lines), longest event pass %.1f ms\n",
              kLines, appendMs, appendMs * 1000 / kLines, kLinesPerEventPass, longestPassMs);
}
BENCHMARK(BM_ResultBoxMemory100k)->Iterations(1)->Unit(benchmark::kMillisecond);

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
