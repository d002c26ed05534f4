// The one page loop, with a kind of its own whose pages are scripted: the
// order in which pages are asked, the pacing, Stop, and two runs sharing one
// thread through the program's scheduler.
#include "run/Runner.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>
#include <chrono>
#include <map>
#include <thread>

#include "text/Codec.h"

namespace lanshu {
namespace {

// A results page with `rows` rows, linking `pages` pages.
std::string Page(int rows, int pages = 0) {
  std::string html = "<div class=\"box_05\"><table><tr><th>h</th></tr>";
  for (int i = 0; i < rows; ++i) html += "<tr><td>" + std::to_string(i) + "</td></tr>";
  return html + "</table></div><links " + std::to_string(pages) + ">";
}

// A kind whose pages come from a map, each after `fetchMs` (on a worker
// when `blocking`), and which logs every step it is asked for.
class ScriptedKind : public Runner {
 public:
  explicit ScriptedKind(RunKind kind) : Runner(kind), kind_(kind) {}
  std::map<std::string, std::string> pages;  // address -> html; missing: a failed fetch
  int fetchMs = 0;
  bool blocking = false;
  int pageIntervalMs = 0, targetIntervalMs = 0;
  int limitPages = 0;  // a target is full after this many of its pages (0: never)
  std::vector<std::string> log;
  std::function<void()> onEnded;  // the run's notice

  void Start(std::vector<std::string> targets) {
    RunPlan plan = RunPlan::For(kind_, targets, reliability, "", "", "");
    Run(plan, std::make_unique<FreshPages>(std::move(targets)));
  }
  void Retry() { Run(Plan(), std::make_unique<RetryPages>(Ledger().NotOk())); }
  void GoOnWith(std::vector<std::string> targets, std::unique_ptr<PageSource> source, std::vector<PageReport> earlier) {
    GoOn(RunPlan::For(kind_, targets, reliability, "", "", ""), std::move(source), std::move(earlier));
  }
  RunEnd End() const { return Ledger().End(); }

 protected:
  std::string PageAddress(const std::string& target, int page) const override {
    return target + "/" + std::to_string(page);
  }
  void FetchPage(const std::string& address, std::function<bool()> stopped, FetchDone done) override {
    log.push_back("fetch " + address);
    auto it = pages.find(address);
    const std::string html = it == pages.end() ? std::string() : it->second;
    const PageFetch fetch = it == pages.end() ? PageFetch{0, "connection refused"} : PageFetch{200, ""};
    if (blocking) {
      InBackground([ms = fetchMs, stopped] {
        for (int waited = 0; waited < ms && !stopped(); waited += 5)
          std::this_thread::sleep_for(std::chrono::milliseconds(5));
      }, [html, fetch, done] { done(html, fetch); });
      return;
    }
    AfterMs(fetchMs, [html, fetch, done] { done(html, fetch); });
  }
  int TotalPages(const std::string& first) const override {
    const std::size_t at = first.find("<links ");
    return at == std::string::npos ? 0 : std::atoi(first.c_str() + at + 7);
  }
  void ReadPage(const PageTask& task, const LoadedPage& loaded, std::function<void(PageRows)> done) override {
    PageRows rows;
    if (loaded.outcome.Ok()) rows.rows = CountRowTags(loaded.block, 5000) - 1;
    ++pagesOfTarget_;
    log.push_back("page " + task.target + "/" + std::to_string(task.page) + " " + std::to_string(rows.rows));
    done(rows);
  }
  void ShowPageStatus(const std::string& target, int page, int total) override {
    log.push_back("status " + target + " " + std::to_string(page) + "/" + std::to_string(total));
  }
  void ShowStopping() override { log.push_back("stopping"); }
  bool BeginTarget(const PageTask& task) override {
    pagesOfTarget_ = 0;
    log.push_back("begin " + task.target);
    return true;
  }
  void EndTarget() override { log.push_back("end target"); }
  bool TargetFull() const override { return limitPages > 0 && pagesOfTarget_ >= limitPages; }
  bool FirstPageDespiteStop() const override { return kind_ == RunKind::kMine; }
  int PageIntervalMs() const override { return InRetry() ? 0 : pageIntervalMs; }
  int TargetIntervalMs() const override { return targetIntervalMs; }
  void OnRunEnded() override {
    log.push_back("ended");
    if (onEnded) onEnded();
  }

 private:
  RunKind kind_;
  int pagesOfTarget_ = 0;
};

struct RunnerTest : ::testing::Test {
  static void SetUpTestSuite() {
    static int argc = 1;
    static char name[] = "runner_test";
    static char* argv[] = {name, nullptr};
    static QCoreApplication app(argc, argv);
  }
};

TEST_F(RunnerTest, PagesComeTargetByTargetAsTheirFirstPagesReveal) {
  ScriptedKind run(RunKind::kRank);
  run.pages = {{"a/1", Page(2, 3)}, {"a/2", Page(1)}, {"a/3", Page(0)}, {"b/1", Page(4)}};
  run.Start({"a", "b"});
  EXPECT_FALSE(run.Running());
  EXPECT_EQ(run.log, (std::vector<std::string>{
                         "begin a", "fetch a/1", "status a 1/3", "page a/1 2", "status a 2/3", "fetch a/2", "page a/2 1",
                         "status a 3/3", "fetch a/3", "page a/3 0", "end target", "begin b", "fetch b/1",
                         "status b 1/0", "page b/1 4", "end target", "ended"}));
  EXPECT_EQ(run.End(), RunEnd::kFinished);
  EXPECT_EQ(run.Ledger().Pages(), 4);
}

TEST_F(RunnerTest, AFullTargetAsksNoFurtherPageAndFailedPagesAreRetriedAlone) {
  ScriptedKind run(RunKind::kMine);
  run.reliability.retries = 0;
  run.limitPages = 1;
  run.pages = {{"a/1", Page(2, 5)}, {"b/1", Page(1, 2)}};  // b/2 fails
  run.Start({"a", "b"});
  run.limitPages = 0;
  EXPECT_EQ(std::count(run.log.begin(), run.log.end(), "fetch a/2"), 0);
  // b is full after its page 1 as well.
  EXPECT_EQ(run.Ledger().Failed(), 0);

  run.log.clear();
  run.Start({"b"});
  EXPECT_EQ(run.Ledger().Failed(), 1);
  run.pages["b/2"] = Page(3);
  run.log.clear();
  run.Retry();
  // A page asked again begins and ends alone, shows its own number as the
  // total and is not followed by the pages it links.
  EXPECT_EQ(run.log, (std::vector<std::string>{"begin b", "status b 2/2", "fetch b/2", "page b/2 3", "end target",
                                               "ended"}));
  EXPECT_EQ(run.Ledger().Failed(), 0);
}

// Hands out scripted pages; after them, waits `waits` times for others, and
// may fail.
class ScriptedSource : public PageSource {
 public:
  std::vector<PageTask> tasks;
  int waits = 0;
  std::string failure;
  std::vector<std::string>* log = nullptr;
  std::vector<std::string> Targets() const override { return {"a", "b"}; }
  bool Next(PageTask& task) override {
    if (next_ < tasks.size()) {
      task = tasks[next_++];
      return true;
    }
    if (waits > 0) {
      --waits;
      log->push_back("wait");
    }
    return false;
  }
  int WaitMs() const override { return waits > 0 ? 1 : 0; }
  std::string Failure() const override { return next_ < tasks.size() ? std::string() : failure; }
  void Ended() override { log->push_back("source ended"); }

 private:
  std::size_t next_ = 0;
};

PageTask Task(const std::string& target, int page, bool starts) {
  PageTask t;
  t.target = target;
  t.page = page;
  t.startsTarget = starts;
  t.reveals = starts && page == 1;
  return t;
}

// A run that goes on: earlier pages count as its own and the whole run comes
// in the run's order, whatever order its pages were asked in; a source that
// waits for others ends the target at hand but not the run; a source that
// fails ends it failed; no page is fetched while mayFetch holds it back.
TEST_F(RunnerTest, ARunThatGoesOnWaitsForOthersAndKeepsTheRunsOrder) {
  ScriptedKind run(RunKind::kRank);
  run.pages = {{"a/2", Page(2)}, {"b/1", Page(1)}};
  auto source = std::make_unique<ScriptedSource>();
  source->log = &run.log;
  source->tasks = {Task("b", 1, true), Task("a", 2, true)};
  source->waits = 2;
  int holds = 3;
  run.mayFetch = [&] { return --holds < 0 || holds % 2 == 0; };
  PageReport earlier;
  earlier.target = "a";
  earlier.page = 1;
  earlier.cells = {{"x"}};
  run.GoOnWith({"a", "b"}, std::move(source), {earlier});
  EXPECT_EQ(run.log, (std::vector<std::string>{"begin b", "fetch b/1", "status b 1/0", "page b/1 1", "end target",
                                               "begin a", "status a 2/0", "fetch a/2", "page a/2 2", "wait", "end target",
                                               "wait", "source ended", "ended"}));
  EXPECT_EQ(run.End(), RunEnd::kFinished);
  std::vector<std::string> order;
  for (const PageReport& p : run.WholeRun()) order.push_back(p.target + "/" + std::to_string(p.page));
  EXPECT_EQ(order, (std::vector<std::string>{"a/1", "a/2", "b/1"}));

  auto failing = std::make_unique<ScriptedSource>();
  failing->log = &run.log;
  failing->failure = "lease lost";
  run.mayFetch = nullptr;
  run.log.clear();
  run.GoOnWith({"a"}, std::move(failing), {});
  EXPECT_EQ(run.End(), RunEnd::kFailed);
  // A fresh run afterwards keeps nothing of the earlier pages.
  run.Start({"b"});
  EXPECT_FALSE(run.GoingOn());
  EXPECT_TRUE(run.WholeRun().empty());
}

TEST_F(RunnerTest, StopCutsAWaitShortAndAStopPendingAtAMiningSeedStillAsksItsFirstPage) {
  QtScheduler scheduler;
  ScriptedKind run(RunKind::kMine);
  run.SetScheduler(&scheduler);
  run.pages = {{"a/1", Page(1)}, {"b/1", Page(1)}};
  run.targetIntervalMs = 3600 * 1000;  // an hour between seeds
  QEventLoop loop;
  run.onIdle = [&loop] { loop.quit(); };
  run.Start({"a", "b"});
  QTimer::singleShot(50, [&run] { run.RequestStop(); });
  loop.exec();
  EXPECT_FALSE(run.Running());
  // The seed after the wait begins and its page 1 is asked, but nothing of
  // it is listed.
  EXPECT_EQ(run.log, (std::vector<std::string>{"begin a", "fetch a/1", "status a 1/0", "page a/1 1", "end target",
                                               "stopping", "begin b", "fetch b/1", "end target", "ended"}));
  EXPECT_EQ(run.End(), RunEnd::kStopped);

  // A rank run asks nothing once stopped.
  ScriptedKind rank(RunKind::kRank);
  rank.SetScheduler(&scheduler);
  rank.pages = {{"a/1", Page(1, 2)}, {"a/2", Page(1)}};
  rank.fetchMs = 30;
  rank.onIdle = [&loop] { loop.quit(); };
  rank.Start({"a", "b"});
  rank.RequestStop();
  loop.exec();
  // (Its first page was asked when it started.)
  EXPECT_EQ(rank.log, (std::vector<std::string>{"begin a", "fetch a/1", "stopping", "end target", "ended"}));
}

// Two runs on the window's thread: neither waits for the other, not even
// while the other's notice is open (a nested event loop, as a modal box).
TEST_F(RunnerTest, TwoRunsGoSideBySideAndANoticeHoldsNeither) {
  QtScheduler scheduler;
  ScriptedKind rank(RunKind::kRank), mining(RunKind::kMine);
  rank.SetScheduler(&scheduler);
  mining.SetScheduler(&scheduler);
  rank.fetchMs = 20;
  for (int p = 1; p <= 20; ++p) rank.pages["r/" + std::to_string(p)] = Page(1, 20);
  mining.blocking = true;  // requests block a worker, never the loop
  mining.fetchMs = 10;
  mining.pages = {{"m/1", Page(1, 2)}, {"m/2", Page(1)}};

  std::vector<std::string> order;
  int rankPagesDuringNotice = -1;
  mining.onEnded = [&] {
    const auto before = rank.Ledger().Pages();
    QEventLoop notice;
    QTimer::singleShot(200, &notice, &QEventLoop::quit);
    notice.exec();
    rankPagesDuringNotice = rank.Ledger().Pages() - before;
  };
  struct Order : RunListener {
    std::vector<std::string>* order;
    void PageEnded(RunKind kind, const PageReport& report) override {
      order->push_back(std::string(kind == RunKind::kRank ? "r" : "m") + std::to_string(report.page));
    }
  } listener;
  listener.order = &order;
  rank.listeners.Add(&listener);
  mining.listeners.Add(&listener);

  QEventLoop loop;
  int ended = 0;
  rank.onIdle = mining.onIdle = [&] {
    if (++ended == 2) loop.quit();
  };
  rank.Start({"r"});
  mining.Start({"m"});
  EXPECT_TRUE(rank.Running());
  EXPECT_TRUE(mining.Running());
  loop.exec();
  EXPECT_EQ(rank.End(), RunEnd::kFinished);
  EXPECT_EQ(mining.End(), RunEnd::kFinished);
  EXPECT_EQ(rank.Ledger().Pages(), 20);
  EXPECT_EQ(mining.Ledger().Pages(), 2);
  // Mining's pages came while the rank run was under way.
  const auto m2 = std::find(order.begin(), order.end(), "m2");
  ASSERT_NE(m2, order.end());
  EXPECT_NE(std::find(m2, order.end(), "r20"), order.end());
  EXPECT_GT(rankPagesDuringNotice, 0);
}

TEST_F(RunnerTest, ARunnerGoneBeforeItsCallbacksIsNeverCalledBack) {
  QtScheduler scheduler;
  {
    ScriptedKind run(RunKind::kRank);
    run.SetScheduler(&scheduler);
    run.fetchMs = 10;
    run.pages = {{"a/1", Page(1)}};
    run.Start({"a"});
  }
  QEventLoop loop;
  QTimer::singleShot(50, &loop, &QEventLoop::quit);
  loop.exec();  // would touch the runner destroyed above (the sanitizer build sees it)
}

}  // namespace
}  // namespace lanshu
