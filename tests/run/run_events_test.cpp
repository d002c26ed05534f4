#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "run/BatchReport.h"
#include "run/RunEvents.h"
#include "text/Codec.h"

namespace lanshu {
namespace {

std::string G(const std::string& utf8) { return Utf8TextToGbk(utf8); }

PageReport Report(const std::string& targetUtf8, int page, PageOutcome outcome, int attempts,
                  int rows) {
  PageReport r;
  r.target = G(targetUtf8);
  r.page = page;
  r.outcome = std::move(outcome);
  r.attempts = attempts;
  r.rows = rows;
  r.cells.assign(static_cast<std::size_t>(rows), std::vector<std::string>{"a", "b"});
  return r;
}

TEST(ReliabilityTest, RetryWaitsDoubleFromTheInterval) {
  Reliability r;  // 2 retries, 3 s
  EXPECT_EQ(r.RetryWaitMs(1), 0);  // the first request waits for nothing
  EXPECT_EQ(r.RetryWaitMs(2), 3000);
  EXPECT_EQ(r.RetryWaitMs(3), 6000);
  EXPECT_EQ(r.RetryWaitMs(4), 12000);
  r.retryIntervalSeconds = 0;
  EXPECT_EQ(r.RetryWaitMs(3), 0);
  r.retryIntervalSeconds = 1000000;  // absurd settings stay bounded
  EXPECT_EQ(r.RetryWaitMs(40), 3600 * 1000);
}

TEST(RunEventsTest, LedgerCountsWhatWasNotOkRunByRun) {
  RunListeners fan;
  PageLedger ledger, second;
  fan.Add(&ledger);
  fan.Add(&ledger);  // once only
  fan.Add(&second);
  fan.RunStarted(RunKind::kRank, {"a.com", "b.com"});
  fan.PageEnded(RunKind::kRank, Report("a.com", 1, PageOutcome(), 1, 10));
  fan.PageEnded(RunKind::kRank, Report("a.com", 2, PageOutcome::Failed("HTTP 500"), 3, 0));
  fan.PageEnded(RunKind::kRank, Report("b.com", 1, PageOutcome::Blocked(Wall::kLogin), 1, 0));
  fan.PageEnded(RunKind::kRank, Report("b.com", 2, PageOutcome::Failed("time-out"), 3, 0));
  fan.RunEnded(RunKind::kRank, RunEnd::kStopped);
  EXPECT_EQ(ledger.Pages(), 4);
  EXPECT_EQ(ledger.Failed(), 2);
  EXPECT_EQ(ledger.Blocked(), 1);
  EXPECT_EQ(ledger.End(), RunEnd::kStopped);
  ASSERT_EQ(ledger.NotOk().size(), 3u);
  EXPECT_EQ(ledger.NotOk()[0].outcome.reason, "HTTP 500");
  EXPECT_TRUE(ledger.NotOk()[0].cells.empty());
  EXPECT_EQ(second.Failed(), 2);

  fan.Remove(&second);
  fan.RunStarted(RunKind::kMine, {"x"});
  EXPECT_EQ(ledger.Pages(), 0);
  EXPECT_TRUE(ledger.NotOk().empty());
  EXPECT_EQ(second.Failed(), 2);  // no longer told
}

TEST(RunEventsTest, NoticeLineNamesBothCounts) {
  EXPECT_EQ(NotOkNoticeLine(0, 0), "");
  EXPECT_EQ(NotOkNoticeLine(2, 1), G("未成功 3 页：失败 2 页，需登录或验证 1 页"));
  EXPECT_EQ(NotOkNoticeLine(2, 0), G("未成功 2 页：失败 2 页"));
  EXPECT_EQ(NotOkNoticeLine(0, 1), G("未成功 1 页：需登录或验证 1 页"));
}

TEST(BatchReportTest, LinesStatusAndJson) {
  std::vector<std::string> said;
  BatchReporter reporter([&](const std::string& line) { said.push_back(line); });
  reporter.RunStarted(RunKind::kMine, {G("减肥")});
  reporter.PageEnded(RunKind::kMine, Report("减肥", 1, PageOutcome(), 1, 8));
  EXPECT_EQ(reporter.Status(), kBatchOk);
  EXPECT_TRUE(said.empty());
  reporter.PageEnded(RunKind::kMine, Report("减肥", 2, PageOutcome::Failed("HTTP 500"), 3, 0));
  EXPECT_EQ(reporter.Status(), kBatchPagesFailed);
  reporter.PageEnded(RunKind::kMine, Report("a\"b", 1, PageOutcome::Blocked(Wall::kVerification), 1, 0));
  reporter.RunEnded(RunKind::kMine, RunEnd::kBlocked);
  EXPECT_EQ(reporter.Status(), kBatchBlocked);
  EXPECT_EQ(said, (std::vector<std::string>{"lanshu-collector: failed: mine 减肥 page 2: HTTP 500",
                                            "lanshu-collector: blocked: mine a\"b page 1: verification page"}));
  EXPECT_EQ(reporter.Rows(), 8);
  EXPECT_EQ(reporter.Json("2026-12-08T10:00:00", "2026-12-08T10:01:00", 4),
            "{\"kind\": \"mine\", \"started\": \"2026-12-08T10:00:00\", \"finished\": "
            "\"2026-12-08T10:01:00\", \"status\": 4, \"rows\": 8, \"pages\": ["
            "{\"target\": \"减肥\", \"page\": 1, \"outcome\": \"ok\", \"reason\": \"\", \"attempts\": 1, \"rows\": 8}, "
            "{\"target\": \"减肥\", \"page\": 2, \"outcome\": \"failed\", \"reason\": \"HTTP 500\", \"attempts\": 3, \"rows\": 0}, "
            "{\"target\": \"a\\\"b\", \"page\": 1, \"outcome\": \"blocked\", \"reason\": \"verification page\", "
            "\"attempts\": 1, \"rows\": 0}]}\n");
  EXPECT_EQ(JsonString(std::string("\x01\\\n", 3)), "\"\\u0001\\\\\\n\"");

  EXPECT_EQ(reporter.SummaryLine().substr(0, 70),
            "lanshu-collector: done: mine 8 rows, 3 pages (1 failed, 1 blocked) in ");

  // A new run starts from nothing.
  reporter.RunStarted(RunKind::kRank, {"a.com"});
  EXPECT_EQ(reporter.Status(), kBatchOk);
  EXPECT_EQ(reporter.Rows(), 0);

  // A run that could not go on says why and exits 1, whatever its pages did.
  reporter.PageEnded(RunKind::kRank, Report("a.com", 1, PageOutcome::Failed("time-out"), 3, 0));
  reporter.RunFailed(RunKind::kRank, "cannot write /r/x.csv: no space left on device");
  reporter.RunEnded(RunKind::kRank, RunEnd::kFailed);
  EXPECT_EQ(said.back(), "lanshu-collector: cannot write /r/x.csv: no space left on device");
  EXPECT_EQ(reporter.Status(), kBatchCannotRun);
  EXPECT_EQ(ElapsedText(3 * 3600 + 25 * 60 + 7), "03:25:07");
  EXPECT_EQ(ElapsedText(100 * 3600), "100:00:00");
}

// On a terminal the progress line is redrawn in place, padded over a longer
// one, and cleared before any other line; elsewhere it never appears.
TEST(BatchReportTest, ProgressLineOnlyOnATerminalAndClearedFirst) {
  std::string screen;
  BatchConsole console([&](const std::string& bytes) { screen += bytes; }, true);
  BatchProgress progress(console);
  progress.RunStarted(RunKind::kRank, {"a.com", G("例子.cn")});
  progress.TargetStarted(RunKind::kRank, G("例子.cn"), 2, 2);
  progress.PageRequested(RunKind::kRank, G("例子.cn"), 3, 1, 10);
  progress.PageEnded(RunKind::kRank, Report("例子.cn", 3, PageOutcome(), 1, 20));
  EXPECT_EQ(progress.Text(), "rank 2/2 例子.cn page 3/10, 20 rows, 00:00:00");
  screen.clear();
  console.Progress("abc");  // shorter than the line shown: blanked out
  // Two Chinese characters: six bytes, four columns.
  const std::size_t shown = std::string("rank 2/2 例子.cn page 3/10, 20 rows, 00:00:00").size() - 2;
  EXPECT_EQ(screen, "\rabc" + std::string(shown - 3, ' ') + "\rabc");
  screen.clear();
  console.Line("lanshu-collector: failed: rank a.com page 1: time-out");
  EXPECT_EQ(screen, "\r   \rlanshu-collector: failed: rank a.com page 1: time-out\n");
  screen.clear();
  progress.RunEnded(RunKind::kRank, RunEnd::kFinished);  // nothing shown: nothing to clear
  EXPECT_EQ(screen, "");

  std::string file;
  BatchConsole pipe([&](const std::string& bytes) { file += bytes; }, false);
  BatchProgress quiet(pipe);
  quiet.RunStarted(RunKind::kMine, {"x"});
  quiet.PageEnded(RunKind::kMine, Report("x", 1, PageOutcome(), 1, 2));
  pipe.Line("lanshu-collector: wrote out.csv (10 bytes)");
  EXPECT_EQ(file, "lanshu-collector: wrote out.csv (10 bytes)\n");
}

}  // namespace
}  // namespace lanshu
