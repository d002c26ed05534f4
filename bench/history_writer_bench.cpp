// How late the window's thread runs while a run's pages are kept in a
// PostgreSQL history far away: a 10 ms timer on the main thread, a stream of
// page events, and every answer of the server held back 200 ms by a loopback
// proxy. Once with the history written at once on the main thread, once
// through the writer.
//
//   bench_history_writer [pages [rows [delay ms]]]     (50 50 200)
//
// Each way stores every page before it ends, a few minutes at 200 ms.
//
// The server: see BenchPostgres.h.
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>
#include <QUrl>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "BenchPostgres.h"
#include "DelayProxy.h"
#include "history/HistoryRecorder.h"
#include "history/HistoryWriter.h"
#include "text/Codec.h"

namespace {

using namespace lanshu;
using namespace lanshu::history;

PageReport Page(int page, int rows) {
  PageReport r;
  r.target = "example.com";
  r.page = page;
  r.attempts = 1;
  const std::string keyword = Utf8TextToGbk("减肥方法"), title = Utf8TextToGbk("减肥方法大全_快速瘦身的方法 - 健康网");
  for (int i = 1; i <= rows; ++i) {
    const int position = (page - 1) * rows + i;
    r.cells.push_back({std::to_string(position), "example.com", keyword + std::to_string(position),
                       Utf8TextToGbk("第") + std::to_string(i / 10 + 1) + Utf8TextToGbk("页第") +
                           std::to_string(i % 10 + 1) + Utf8TextToGbk("位"),
                       "12,300", "4,560,000", title, "http://example.com/article/" + std::to_string(i) + ".html"});
  }
  r.rows = rows;
  return r;
}

struct Figures {
  qint64 worstLateMs = 0;  // of the 10 ms timer, beyond its 10 ms
  qint64 worstPageMs = 0;  // the same once the run started (the store open)
  qint64 eventsMs = 0;     // until the last event was handed over
  qint64 storedMs = 0;     // until everything was stored
  std::vector<std::string> failures;
};

// A run of pages events, one every 20 ms on the main thread, as the window
// would hear them, while a 10 ms timer notes how late it fires.
Figures Measure(bool throughWriter, const std::string& address, int pages, int rows) {
  Figures f;
  const auto tell = [&f](const std::string& why) { f.failures.push_back(why); };
  std::unique_ptr<HistoryStore> store;
  std::unique_ptr<HistoryWriter> writer;
  std::unique_ptr<HistoryRecorder> recorder;
  if (throughWriter) {
    writer = std::make_unique<HistoryWriter>(address);
    recorder = std::make_unique<HistoryRecorder>(*writer, tell);
  } else {
    store = std::make_unique<HistoryStore>();
    recorder = std::make_unique<HistoryRecorder>(store.get(), tell);
  }
  QElapsedTimer clock;
  clock.start();
  qint64 last = 0;
  QTimer tick;
  tick.setTimerType(Qt::PreciseTimer);
  tick.setInterval(10);
  int step = 0;
  QObject::connect(&tick, &QTimer::timeout, [&] {
    const qint64 now = clock.elapsed();
    f.worstLateMs = std::max(f.worstLateMs, now - last - 10);
    if (step > 1) f.worstPageMs = std::max(f.worstPageMs, now - last - 10);
    last = now;
  });
  QEventLoop loop;
  QTimer events;
  events.setInterval(20);
  QObject::connect(&events, &QTimer::timeout, [&] {
    if (step == 0) {
      // Writing at once, the store was opened as the run started.
      if (store && !store->Open(address)) f.failures.push_back(store->LastError());
      recorder->RunStarted(RunKind::kRank, {"example.com"});
    } else if (step <= pages) {
      recorder->PageEnded(RunKind::kRank, Page(step, rows));
    } else {
      recorder->RunEnded(RunKind::kRank, RunEnd::kFinished);
      events.stop();
      loop.quit();
    }
    ++step;
  });
  tick.start();
  events.start();
  loop.exec();
  f.eventsMs = clock.elapsed();
  tick.stop();
  if (writer && !writer->Settle(std::chrono::minutes(30))) f.failures.push_back("not stored after 30 minutes");
  f.storedMs = clock.elapsed();
  return f;
}

void Print(const char* how, const Figures& f) {
  std::printf("  %-30s worst lateness %5lld ms (%5lld ms once the run started); events handed over in %6lld ms,"
              " all stored after %6lld ms\n",
              how, static_cast<long long>(f.worstLateMs), static_cast<long long>(f.worstPageMs),
              static_cast<long long>(f.eventsMs), static_cast<long long>(f.storedMs));
  for (const std::string& why : f.failures) std::printf("    failed: %s\n", why.c_str());
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  const int pages = argc > 1 ? std::atoi(argv[1]) : 50;
  const int rows = argc > 2 ? std::atoi(argv[2]) : 50;
  const int delayMs = argc > 3 ? std::atoi(argv[3]) : 200;

  const bench::BenchPostgres server(LANSHU_SOURCE_DIR);
  if (!server.Ok()) return 1;
  bench::DelayProxy proxy(server.target, delayMs);
  const std::string address = server.Through(proxy);
  std::printf("history through a %d ms proxy to PostgreSQL, %d pages of %d rows, a page every 20 ms,\n"
              "a 10 ms timer on the main thread:\n",
              delayMs, pages, rows);
  Print("written at once on the thread:", Measure(false, address, pages, rows));
  Print("through the writer:", Measure(true, address, pages, rows));
  return 0;
}
