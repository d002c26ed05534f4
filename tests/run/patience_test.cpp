// Throttles and walls waited out, on a clock of the test's own: how long
// each wait is (Retry-After to the second, the doubling and its reset, the
// cap), when a throttled page gives up, and a wall with nobody there.
#include <gtest/gtest.h>

#include <map>
#include <queue>

#include "run/Runner.h"
#include "text/Codec.h"

namespace lanshu {
namespace {

// Runs callbacks in order of their due time, jumping the clock to each.
class FakeClock : public Scheduler {
 public:
  long long now = 0;  // ms
  void After(int ms, std::function<void()> fn) override { tasks_.push({now + std::max(ms, 0), order_++, std::move(fn)}); }
  void Background(std::function<void()> work, std::function<void()> then) override {
    work();
    After(0, std::move(then));
  }
  void RunWhile(const std::function<bool()>& going) {
    while (going() && !tasks_.empty()) {
      Task t = tasks_.top();
      tasks_.pop();
      now = t.due;
      t.fn();
    }
  }

 private:
  struct Task {
    long long due;
    unsigned long long order;
    std::function<void()> fn;
    bool operator<(const Task& o) const { return due != o.due ? due > o.due : order > o.order; }
  };
  std::priority_queue<Task> tasks_;
  unsigned long long order_ = 0;
};

std::string ResultsPage() { return "<div class=\"box_05\"><table><tr><th>h</th></tr><tr><td>1</td></tr></table></div>"; }
std::string Gbk(const char* utf8) { return Utf8TextToGbk(utf8); }
std::string Notice() { return "<html><body><p>" + Gbk("访问过于频繁，请稍后再试") + "</p></body></html>"; }
std::string LoginWall() { return "<form><input type=\"password\" name=\"pw\"></form>"; }

struct Answer {
  std::string html;
  PageFetch fetch;
};
Answer Ok() { return {ResultsPage(), PageFetch{200, ""}}; }
Answer Status(int status, int retryAfter = -1) { return {"", PageFetch{status, "", retryAfter}}; }
Answer Busy() { return {Notice(), PageFetch{200, ""}}; }

// A kind whose pages answer from a script, one answer per request (the last
// one repeats), and which notes when each request was made.
class ScriptedSite : public Runner {
 public:
  explicit ScriptedSite(FakeClock& clock) : Runner(RunKind::kMine), clock_(clock) { SetScheduler(&clock); }
  std::map<std::string, std::vector<Answer>> script;
  std::map<std::string, std::vector<long long>> asked;  // address -> seconds of each request
  std::vector<std::string> statuses;

  // Each run's clock starts at 0.
  void Start(std::vector<std::string> targets) {
    clock_.now = 0;
    Run(RunPlan::For(RunKind::kMine, targets, reliability, "", "", ""),
        std::make_unique<FreshPages>(std::move(targets)));
    clock_.RunWhile([this] { return Running(); });
  }
  void Stop() { RequestStop(); }

 protected:
  std::string PageAddress(const std::string& target, int page) const override {
    return target + "/" + std::to_string(page);
  }
  void FetchPage(const std::string& address, std::function<bool()>, FetchDone done) override {
    std::vector<long long>& times = asked[address];
    times.push_back(clock_.now / 1000);
    const std::vector<Answer>& answers = script[address];
    const Answer a = answers.empty() ? Ok() : answers[std::min(times.size(), answers.size()) - 1];
    AfterMs(0, [a, done] { done(a.html, a.fetch); });
  }
  int TotalPages(const std::string&) const override { return 0; }
  void ReadPage(const PageTask&, const LoadedPage& loaded, std::function<void(PageRows)> done) override {
    PageRows rows;
    rows.rows = loaded.outcome.Ok() ? 1 : 0;
    done(rows);
  }
  void ShowPageStatus(const std::string&, int, int) override {}
  void ShowStopping() override {}
  void ShowStatusText(const std::string& text) override { statuses.push_back(GbkToUtf8Text(text)); }

 private:
  FakeClock& clock_;
};

struct Heard : RunListener {
  std::vector<std::string> events;
  std::vector<PageReport> pages;
  void Throttled(RunKind, const std::string& target, int page, int seconds) override {
    events.push_back("throttled " + target + "/" + std::to_string(page) + " " + std::to_string(seconds));
  }
  void WallWaiting(RunKind, const PageReport& report, int minutes) override {
    events.push_back("wall " + report.target + "/" + std::to_string(report.page) + " " + std::to_string(minutes));
  }
  void PageEnded(RunKind, const PageReport& report) override { pages.push_back(report); }
};

struct PatienceTest : ::testing::Test {
  FakeClock clock;
  ScriptedSite site{clock};
  Heard heard;
  void SetUp() override {
    site.listeners.Add(&heard);
    site.reliability.retries = 0;  // a throttle must not need them
  }
};

TEST_F(PatienceTest, RetryAfterIsWaitedToTheSecondAndCappedAndLeavesTheDoublingAlone) {
  site.patience.throttleMaxSeconds = 600;
  site.script["a/1"] = {Status(429, 7), Busy(), Status(503, 120), Busy(), Status(429, 5000), Ok()};
  site.Start({"a"});
  // 7 s as asked; the notice's 30; 120 as asked; the notice doubled to 60
  // (the Retry-After waits between did not count); 5000 capped at 600.
  EXPECT_EQ(site.asked["a/1"], (std::vector<long long>{0, 7, 37, 157, 217, 817}));
  EXPECT_EQ(heard.events, (std::vector<std::string>{"throttled a/1 7", "throttled a/1 30", "throttled a/1 120",
                                                    "throttled a/1 60", "throttled a/1 600"}));
  ASSERT_EQ(heard.pages.size(), 1u);
  EXPECT_TRUE(heard.pages[0].outcome.Ok());
  EXPECT_EQ(heard.pages[0].attempts, 6);
  EXPECT_EQ(heard.pages[0].throttleWaits, 5);
  EXPECT_EQ(heard.pages[0].throttledSeconds, 7 + 30 + 120 + 60 + 600);
  EXPECT_EQ(site.statuses.front(), "限流等待 7 秒");
}

TEST_F(PatienceTest, TheWaitDoublesUpToItsCapAndStartsAgainAfterAnAnswerThatIsNoThrottle) {
  site.patience.throttleWaitSeconds = 30;
  site.patience.throttleMaxSeconds = 100;
  site.script["a/1"] = {Status(429), Busy(), Status(429), Busy(), Ok()};
  site.script["b/1"] = {Busy(), Ok()};
  site.script["c/1"] = {Status(500), Status(429), Ok()};  // a failure resets it too
  site.reliability.retries = 1;
  site.reliability.retryIntervalSeconds = 0;
  site.Start({"a", "b", "c"});
  EXPECT_EQ(heard.events, (std::vector<std::string>{"throttled a/1 30", "throttled a/1 60", "throttled a/1 100",
                                                    "throttled a/1 100", "throttled b/1 30", "throttled c/1 30"}));
  for (const PageReport& p : heard.pages) EXPECT_TRUE(p.outcome.Ok()) << p.target;
  // A 503 without Retry-After is a failure, as is a 500 with one.
  EXPECT_EQ(PrecheckPage(PageFetch{503, ""}, "").why, Reason::kHttpStatus);
  EXPECT_EQ(PrecheckPage(PageFetch{500, "", 10}, "").why, Reason::kHttpStatus);
}

TEST_F(PatienceTest, APageFailsThrottledOnceItsWaitsReachThePatienceAndTheRunGoesOn) {
  site.patience.throttleMaxMinutes = 2;
  site.script["a/1"] = {Busy()};  // for ever
  site.Start({"a", "b"});
  // 30 + 60 = 90 s waited, then 120 more make 210 ≥ 120: the next throttle fails it.
  EXPECT_EQ(site.asked["a/1"], (std::vector<long long>{0, 30, 90, 210}));
  ASSERT_EQ(heard.pages.size(), 2u);
  EXPECT_EQ(heard.pages[0].outcome.outcome, Outcome::kFailed);
  EXPECT_EQ(heard.pages[0].outcome.reason, "throttled");
  EXPECT_EQ(heard.pages[0].throttledSeconds, 210);
  EXPECT_TRUE(heard.pages[1].outcome.Ok());
  EXPECT_EQ(site.Ledger().End(), RunEnd::kFinished);

  // A site that keeps saying "now" is still given a second each time.
  heard = Heard();
  site.asked.clear();
  site.patience.throttleMaxMinutes = 1;
  site.script["a/1"] = {Status(429, 0)};
  site.Start({"a"});
  EXPECT_EQ(site.asked["a/1"].size(), 61u);
  EXPECT_EQ(heard.pages.at(0).outcome.reason, "throttled");

  // No patience at all: the first throttle fails the page at once.
  heard = Heard();
  site.asked.clear();
  site.patience.throttleMaxMinutes = 0;
  site.Start({"a"});
  EXPECT_EQ(site.asked["a/1"].size(), 1u);
  EXPECT_EQ(heard.pages.at(0).outcome.reason, "throttled");
}

TEST_F(PatienceTest, WithNobodyThereAWallIsLoadedAgainEveryMinuteUntilItPassesOrTheTimeIsUp) {
  int asked = 0;
  site.onBlocked = [&](const PageReport&) {
    ++asked;
    return BlockedChoice::kStop;
  };
  site.patience.wallWaitMinutes = 120;
  site.script["a/1"] = {{LoginWall(), {200, ""}}, {LoginWall(), {200, ""}}, Ok()};
  site.script["a/2"] = {};
  site.Start({"a"});
  EXPECT_EQ(site.asked["a/1"], (std::vector<long long>{0, 60, 120}));
  EXPECT_EQ(heard.events, (std::vector<std::string>{"wall a/1 120"}));
  EXPECT_TRUE(heard.pages.at(0).outcome.Ok());
  EXPECT_EQ(site.Ledger().End(), RunEnd::kFinished);
  EXPECT_EQ(asked, 0);  // nobody was asked

  // A wall that stays: the run ends blocked when the time is up, with the
  // page blocked, and the pages after it are not asked.
  heard = Heard();
  site.asked.clear();
  site.patience.wallWaitMinutes = 2;
  site.patience.wallRetrySeconds = 50;
  site.script["a/1"] = {{LoginWall(), {200, ""}}};
  site.Start({"a", "b"});
  EXPECT_EQ(site.asked["a/1"], (std::vector<long long>{0, 50, 100, 120}));
  EXPECT_EQ(heard.pages.at(0).outcome.outcome, Outcome::kBlocked);
  EXPECT_EQ(site.asked.count("b/1"), 0u);
  EXPECT_EQ(site.Ledger().End(), RunEnd::kBlocked);

  // Without unattended waiting the user is asked, as ever.
  site.patience.wallWaitMinutes = 0;
  site.Start({"a"});
  EXPECT_EQ(asked, 1);
}

TEST_F(PatienceTest, StopEndsAThrottleWaitAtOnce) {
  site.script["a/1"] = {Status(429, 3600)};
  clock.After(5000, [this] { site.Stop(); });
  site.Start({"a", "b"});
  EXPECT_EQ(site.asked["a/1"], (std::vector<long long>{0}));
  EXPECT_LT(clock.now, 6000);
  EXPECT_EQ(site.Ledger().End(), RunEnd::kStopped);
}

}  // namespace
}  // namespace lanshu
