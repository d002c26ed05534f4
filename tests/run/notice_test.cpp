// The notices of runs: when each is made, what its text says and the exact
// bytes of both payloads; fed with run events and a fake clock.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "run/BatchReport.h"
#include "run/Notice.h"
#include "text/Codec.h"

namespace lanshu {
namespace {

std::string G(const std::string& utf8) { return Utf8TextToGbk(utf8); }

PageReport Page(const std::string& targetUtf8, int page, PageOutcome outcome, int rows, int attempts = 1) {
  PageReport r;
  r.target = G(targetUtf8);
  r.page = page;
  r.address = G("http://rank.example.com/" + targetUtf8 + "/" + std::to_string(page));
  r.outcome = std::move(outcome);
  r.attempts = attempts;
  r.rows = rows;
  r.cells.assign(static_cast<std::size_t>(rows), std::vector<std::string>{"a", "b"});
  return r;
}

// A failure's reason, many targets and throttled pages; the plain case is
// in the fixture's tests below.
TEST(NoticeTextTest, EndTextOfAFailedRunOfManySeeds) {
  RunSummary mine;
  mine.kind = RunKind::kMine;
  mine.targets = {G("一"), G("二"), G("三"), G("四"), G("五")};
  mine.how = RunEnd::kFailed;
  mine.failure = "connection refused";
  mine.pages = 3;
  mine.failed = 3;
  mine.throttled = 2;
  mine.seconds = 3661;
  EXPECT_EQ(EndText(mine),
            "关键词挖掘失败：一、二、三 等 5 个\n连接被拒绝\n行数 0，页数 3（失败 3 页，需登录或验证 0 页）\n"
            "其中 2 页因网站限流而失败\n用时 01:01:01");
  mine.how = RunEnd::kBlocked;
  EXPECT_EQ(EndTitle(mine), "关键词挖掘因需登录或验证而结束");
}

TEST(NoticePayloadTest, TextPayloadEscapesTheContent) {
  EXPECT_EQ(TextPayload("行 \"一\"\n\\二\t\x01"),
            "{\"msgtype\":\"text\",\"text\":{\"content\":\"行 \\\"一\\\"\\n\\\\二\\t\\u0001\"}}");
}

// A run's notices as they were made, with a clock the test moves.
class NoticesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    settings.addresses = {"http://127.0.0.1:1/hook"};
    notices.settings = [this] { return settings; };
    notices.send = [this](const Notice& n, const NotifySettings& s) {
      sent.push_back(n);
      sentTo.push_back(s.addresses);
    };
    notices.shown = [this](const Notice& n) { shown.push_back(n); };
    notices.now = [this] { return "2026-12-08T10:00:0" + std::to_string(tick++); };
    notices.clock = [this] { return clock; };
  }

  // What a batch reporter fed the same events writes, times as given.
  std::string Report(const std::vector<PageReport>& pages, RunEnd how, const std::string& started,
                     const std::string& finished, RunKind kind = RunKind::kRank) {
    BatchReporter reporter(nullptr);
    reporter.RunStarted(kind, {});
    for (const PageReport& p : pages) reporter.PageEnded(kind, p);
    reporter.RunEnded(kind, how);
    return reporter.Json(started, finished, reporter.Status());
  }

  NotifySettings settings;
  RunNotices notices;
  std::vector<Notice> sent, shown;
  std::vector<std::vector<std::string>> sentTo;
  int tick = 0;
  std::chrono::steady_clock::time_point clock{};
};

TEST_F(NoticesTest, TheEndPostsTheRunsReportAsABatchRunWritesIt) {
  const std::vector<PageReport> pages = {Page("a.com", 1, PageOutcome(), 10),
                                         Page("a.com", 2, PageOutcome::Failed(Reason::kHttpStatus, "500"), 0, 3)};
  notices.RunStarted(RunKind::kRank, {G("a.com")});
  for (const PageReport& p : pages) notices.PageEnded(RunKind::kRank, p);
  clock += std::chrono::seconds(75);
  EXPECT_TRUE(sent.empty());
  notices.RunEnded(RunKind::kRank, RunEnd::kFinished);
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(sent[0].event, NoticeEvent::kEnded);
  EXPECT_EQ(sent[0].body, Report(pages, RunEnd::kFinished, "2026-12-08T10:00:00", "2026-12-08T10:00:01"));
  EXPECT_EQ(sent[0].title, "排名查询完成");
  EXPECT_EQ(sent[0].text, "排名查询完成：a.com\n行数 10，页数 2（失败 1 页，需登录或验证 0 页）\n用时 00:01:15");
  EXPECT_EQ(sentTo[0], settings.addresses);
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(shown[0].text, sent[0].text);
}

TEST_F(NoticesTest, TheTextFormatPostsTheSummaryAsAChatRobotsMessage) {
  settings.format = NoticeFormat::kText;
  notices.RunStarted(RunKind::kMine, {G("减肥")});
  notices.PageEnded(RunKind::kMine, Page("减肥", 1, PageOutcome(), 30));
  notices.RunEnded(RunKind::kMine, RunEnd::kStopped);
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(sent[0].body,
            "{\"msgtype\":\"text\",\"text\":{\"content\":\"关键词挖掘已停止：减肥\\n行数 30，页数 1（失败 0 页，"
            "需登录或验证 0 页）\\n用时 00:00:00\"}}");
}

TEST_F(NoticesTest, OnlyTheFirstThrottledPageOfARunIsTold) {
  settings.format = NoticeFormat::kText;
  const PageOutcome throttled = PageOutcome::Failed(Reason::kThrottled);
  for (int run = 0; run < 2; ++run) {
    notices.RunStarted(RunKind::kMine, {G("减肥")});
    notices.PageEnded(RunKind::kMine, Page("减肥", 1, PageOutcome::Failed(Reason::kHttpStatus, "500"), 0));
    for (int page = 2; page <= 5; ++page) notices.PageEnded(RunKind::kMine, Page("减肥", page, throttled, 0));
    notices.RunEnded(RunKind::kMine, RunEnd::kFinished);
  }
  // Each run: one throttle notice, at its page 2, then its end.
  ASSERT_EQ(sent.size(), 4u);
  for (int run = 0; run < 2; ++run) {
    const Notice& t = sent[static_cast<std::size_t>(run * 2)];
    EXPECT_EQ(t.event, NoticeEvent::kThrottled);
    EXPECT_EQ(t.title, "关键词挖掘被网站限流");
    EXPECT_EQ(t.text, "关键词挖掘被网站限流：减肥 第 2 页多次被限流，已算作失败\nhttp://rank.example.com/减肥/2");
    const Notice& end = sent[static_cast<std::size_t>(run * 2 + 1)];
    EXPECT_EQ(end.event, NoticeEvent::kEnded);
    EXPECT_NE(end.text.find("\n其中 4 页因网站限流而失败\n"), std::string::npos) << end.text;
  }
}

TEST_F(NoticesTest, AWallIsToldForEachPageWithTheReportSoFar) {
  const PageReport first = Page("a.com", 1, PageOutcome(), 10);
  notices.RunStarted(RunKind::kRank, {G("a.com")});
  notices.PageEnded(RunKind::kRank, first);
  const PageReport wall = Page("a.com", 2, PageOutcome::Blocked(Wall::kVerification), 0);
  notices.WallWaiting(RunKind::kRank, wall, 60);
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(sent[0].event, NoticeEvent::kWall);
  EXPECT_EQ(sent[0].title, "排名查询需要验证");
  EXPECT_EQ(sent[0].text, "排名查询需要验证：a.com 第 2 页\nhttp://rank.example.com/a.com/2\n无人处理，最多等待 60 分钟");
  std::string report = Report({first}, RunEnd::kFinished, "2026-12-08T10:00:00", "");
  report.insert(report.rfind('}'), ", \"notice\": {\"event\": \"wall\", \"target\": \"a.com\", \"page\": 2, "
                                   "\"address\": \"http://rank.example.com/a.com/2\", \"reason\": "
                                   "\"verification page\", \"minutes\": 60}");
  EXPECT_EQ(sent[0].body, report);
  notices.WallWaiting(RunKind::kRank, Page("a.com", 3, PageOutcome::Blocked(Wall::kLogin), 0), 60);
  ASSERT_EQ(sent.size(), 2u);
  EXPECT_EQ(sent[1].title, "排名查询需要登录");
}

TEST_F(NoticesTest, AFinishedRankRunWaitsForItsRankChanges) {
  settings.rankChangePlaces = 5;
  std::vector<int> asked;
  std::function<void(std::vector<RankChange>)> answer;
  notices.rankChanges = [&](int places, std::function<void(std::vector<RankChange>)> then) {
    asked.push_back(places);
    answer = then;
  };
  notices.RunStarted(RunKind::kRank, {G("a.com")});
  notices.PageEnded(RunKind::kRank, Page("a.com", 1, PageOutcome(), 10));
  notices.RunEnded(RunKind::kRank, RunEnd::kFinished);
  EXPECT_EQ(asked, std::vector<int>{5});
  EXPECT_TRUE(sent.empty());
  EXPECT_TRUE(notices.Waiting());
  answer({{G("a.com"), G("词"), 12, 2}});
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_FALSE(notices.Waiting());
  EXPECT_NE(sent[0].body.find(", \"rankChanges\": [{\"domain\": \"a.com\", \"keyword\": \"词\", \"old\": 12, "
                              "\"new\": 2, \"change\": \"entered\"}]}\n"),
            std::string::npos)
      << sent[0].body;
  EXPECT_EQ(sent[0].text.substr(sent[0].text.find("\n排名变化")), "\n排名变化：\na.com 词：12 → 2（进入前 10）");
  // A late second answer sends nothing more.
  answer({});
  EXPECT_EQ(sent.size(), 1u);

  // Given up on: the end goes without changes, and the answer after it is dropped.
  notices.RunStarted(RunKind::kRank, {G("a.com")});
  notices.RunEnded(RunKind::kRank, RunEnd::kFinished);
  EXPECT_TRUE(notices.LookupGiveUp());
  ASSERT_EQ(sent.size(), 2u);
  EXPECT_EQ(sent[1].body.find("rankChanges"), std::string::npos);
  answer({{G("a.com"), G("词"), 12, 2}});
  EXPECT_EQ(sent.size(), 2u);
  EXPECT_FALSE(notices.LookupGiveUp());
}

TEST_F(NoticesTest, RankChangesAreNotAskedForRunsThatListSomeKeywordsOnly) {
  settings.rankChangePlaces = 5;
  int asked = 0;
  notices.rankChanges = [&](int, std::function<void(std::vector<RankChange>)> then) {
    ++asked;
    then({});
  };
  notices.RunStarted(RunKind::kRank, {G("a.com")});
  notices.RunEnded(RunKind::kRank, RunEnd::kStopped);
  notices.RunStarted(RunKind::kMine, {G("减肥")});
  notices.RunEnded(RunKind::kMine, RunEnd::kFinished);
  EXPECT_EQ(asked, 0);
  settings.rankChangePlaces = 0;
  notices.RunStarted(RunKind::kRank, {G("a.com")});
  notices.RunEnded(RunKind::kRank, RunEnd::kFinished);
  EXPECT_EQ(asked, 0);
  EXPECT_EQ(sent.size(), 3u);
  // Nobody to tell: nothing posted, nothing asked.
  settings.rankChangePlaces = 5;
  settings.addresses.clear();
  notices.shown = nullptr;
  notices.RunStarted(RunKind::kRank, {G("a.com")});
  notices.RunEnded(RunKind::kRank, RunEnd::kFinished);
  EXPECT_EQ(asked, 0);
  // The tray still hears of it.
  notices.shown = [this](const Notice& n) { shown.push_back(n); };
  notices.RunStarted(RunKind::kRank, {G("a.com")});
  notices.RunEnded(RunKind::kRank, RunEnd::kFinished);
  EXPECT_EQ(asked, 1);
  EXPECT_EQ(sent.size(), 3u);
  EXPECT_EQ(shown.size(), 4u);
}

TEST_F(NoticesTest, ABatchRunsEndGoesWithTheReportItWrote) {
  notices.endByOwner = true;
  const PageReport page = Page("减肥", 1, PageOutcome(), 7);
  notices.RunStarted(RunKind::kMine, {G("减肥")});
  notices.PageEnded(RunKind::kMine, page);
  notices.RunEnded(RunKind::kMine, RunEnd::kFinished);
  EXPECT_TRUE(sent.empty());
  BatchReporter reporter(nullptr);
  reporter.RunStarted(RunKind::kMine, {});
  reporter.PageEnded(RunKind::kMine, page);
  reporter.PageEnded(RunKind::kMine, page);  // the whole run, as a resumed one has it
  reporter.RunEnded(RunKind::kMine, RunEnd::kFinished);
  notices.ReportEnd(RunKind::kMine, reporter, "{\"as\": \"written\"}\n");
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(sent[0].body, "{\"as\": \"written\"}\n");
  EXPECT_NE(sent[0].text.find("行数 14，页数 2"), std::string::npos) << sent[0].text;
  // Told once; a process that ran no run tells nothing.
  notices.ReportEnd(RunKind::kMine, reporter, "{}");
  notices.ReportEnd(RunKind::kRank, reporter, "{}");
  EXPECT_EQ(sent.size(), 1u);
}

}  // namespace
}  // namespace lanshu
