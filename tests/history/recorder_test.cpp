// The recorder between a run's events and a real SQLite store, writing at
// once or through a writer on a thread of its own: what a run leaves in the
// store, page by page, and what a failing store does to it.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QTimeZone>
#include <chrono>
#include <memory>

#include "HistoryTestSupport.h"
#include "history/HistoryRecorder.h"
#include "history/HistoryWriter.h"
#include "run/RunPlan.h"

namespace lanshu::testing {
namespace {

using history::Ending;
using history::HistoryRecorder;
using history::HistoryStore;
using history::HistoryWriter;


// A folder that is not there: a store in it cannot be opened.
const char kNowhere[] = "/nonexistent-lanshu-folder/history.sqlite";

// Either way the recorder writes, the same rows and messages must come of it.
enum class Writing { kAtOnce, kThroughWriter };

class RecorderTest : public ::testing::TestWithParam<Writing> {
 protected:
  void SetUp() override {
    ASSERT_TRUE(store.Open(db.address)) << store.LastError();
    if (GetParam() == Writing::kThroughWriter) writer = std::make_unique<HistoryWriter>(db.address);
  }

  std::unique_ptr<HistoryRecorder> Recorder(HistoryRecorder::FailureHandler tell = nullptr) {
    if (!tell) tell = [this](const std::string& why) { messages.push_back(why); };
    auto r = writer ? std::make_unique<HistoryRecorder>(*writer, tell) : std::make_unique<HistoryRecorder>(&store, tell);
    r->clock = [] { return QDateTime(QDate(2026, 3, 1), QTime(8, 0), Qt::UTC); };
    return r;
  }
  // What was queued is stored, and what became of it told.
  void Settle() {
    if (writer) {
      ASSERT_TRUE(writer->Settle(std::chrono::seconds(60)));
    }
  }

  TestDatabase db{false};
  HistoryStore store;
  std::unique_ptr<HistoryWriter> writer;
  std::vector<std::string> messages;
};

INSTANTIATE_TEST_SUITE_P(Both, RecorderTest, ::testing::Values(Writing::kAtOnce, Writing::kThroughWriter),
                         [](const auto& info) { return info.param == Writing::kAtOnce ? "atOnce" : "writer"; });

TEST_P(RecorderTest, RankRunKeepsEveryPageWithItsOutcomeAndTheEnding) {
  auto rec = Recorder();
  rec->settingsSnapshot = [](RunKind) { return Gbk("排序=0"); };
  rec->RunStarted(RunKind::kRank, {"a.example", "b.example"});
  Settle();
  ASSERT_TRUE(rec->RunId(RunKind::kRank));
  rec->TargetStarted(RunKind::kRank, "a.example", 1, 2);
  rec->PageEnded(RunKind::kRank, RankReport("a.example", 1, 10));
  rec->PageEnded(RunKind::kRank, RankReport("a.example", 2, 0, Outcome::kFailed));
  rec->PageEnded(RunKind::kRank, RankReport("b.example", 1, 4));
  Settle();
  const std::int64_t id = *rec->RunId(RunKind::kRank);

  // Before the end the pages are already there, and the run is unfinished.
  auto run = store.Run(id);
  ASSERT_TRUE(run);
  EXPECT_EQ(run->ending, Ending::kUnfinished);
  EXPECT_EQ(run->rows, 14);
  EXPECT_EQ(run->pagesNotOk, 1);
  EXPECT_EQ(run->settings, Gbk("排序=0"));
  EXPECT_EQ(run->targets, (std::vector<std::string>{"a.example", "b.example"}));

  rec->RunEnded(RunKind::kRank, RunEnd::kStopped);
  Settle();
  run = store.Run(id);
  EXPECT_EQ(run->ending, Ending::kStopped);
  const auto pages = store.LoadPages(id);
  ASSERT_TRUE(pages);
  ASSERT_EQ(pages->size(), 3u);
  EXPECT_EQ((*pages)[1].outcome, history::Outcome::kFailed);
  EXPECT_EQ((*pages)[1].reason, "HTTP 503");
  EXPECT_EQ((*pages)[1].attempts, 3);
  const auto rows = store.LoadRankRows(id);
  ASSERT_TRUE(rows);
  ASSERT_EQ(rows->size(), 14u);
  EXPECT_EQ((*rows)[10], RankRows("b.example", 1, 4)[0]);
  EXPECT_TRUE(messages.empty());
}

TEST_P(RecorderTest, RetriedPagesAfterTheEndJoinTheRunTheyCameFrom) {
  auto rec = Recorder();
  rec->RunStarted(RunKind::kRank, {"a.example"});
  rec->PageEnded(RunKind::kRank, RankReport("a.example", 1, 0, Outcome::kFailed));
  rec->RunEnded(RunKind::kRank, RunEnd::kFinished);
  Settle();
  const std::int64_t id = *rec->RunId(RunKind::kRank);
  rec->PageEnded(RunKind::kRank, RankReport("a.example", 1, 10));
  rec->RunEnded(RunKind::kRank, RunEnd::kFinished);
  Settle();
  EXPECT_EQ(store.ListRuns()->size(), 1u);
  EXPECT_EQ(store.Run(id)->rows, 10);
  EXPECT_EQ(store.Run(id)->pagesNotOk, 0);
}

// A retry of failed pages is a run of its own that names the run it
// continues; the first run keeps its own ending (a run stopped at page 3 of 10
// does not become finished because its failed pages were asked again).
TEST_P(RecorderTest, ARetryIsARunOfItsOwnNamingTheRunItContinues) {
  auto rec = Recorder();
  rec->RunStarted(RunKind::kRank, {"a.example", "b.example"});
  rec->PageEnded(RunKind::kRank, RankReport("a.example", 1, 4));
  rec->PageEnded(RunKind::kRank, RankReport("b.example", 1, 0, Outcome::kFailed));
  rec->RunEnded(RunKind::kRank, RunEnd::kFinished);
  Settle();
  const std::int64_t id = *rec->RunId(RunKind::kRank);
  rec->ContinueLastRun(RunKind::kRank);
  rec->RunStarted(RunKind::kRank, {"b.example"});
  rec->PageEnded(RunKind::kRank, RankReport("b.example", 1, 3));
  rec->RunEnded(RunKind::kRank, RunEnd::kStopped);
  Settle();
  const std::int64_t retry = *rec->RunId(RunKind::kRank);
  // A retry of the retry continues the retry.
  rec->RunStarted(RunKind::kRank, {"b.example"});
  rec->RunEnded(RunKind::kRank, RunEnd::kFinished);
  Settle();
  const std::int64_t again = *rec->RunId(RunKind::kRank);
  rec->EndContinuing(RunKind::kRank);
  EXPECT_NE(retry, id);
  ASSERT_EQ(store.ListRuns()->size(), 3u);
  EXPECT_EQ(store.Run(id)->rows, 4);
  EXPECT_EQ(store.Run(id)->pagesNotOk, 1);
  EXPECT_EQ(store.Run(id)->ending, Ending::kFinished);
  EXPECT_EQ(store.Run(id)->continues, 0);
  EXPECT_EQ(store.Run(retry)->rows, 3);
  EXPECT_EQ(store.Run(retry)->ending, Ending::kStopped);
  EXPECT_EQ(store.Run(retry)->continues, id);
  EXPECT_EQ(store.Run(again)->continues, retry);
  // Once done, a start continues nothing.
  rec->RunStarted(RunKind::kRank, {"a.example"});
  Settle();
  EXPECT_EQ(store.Run(*rec->RunId(RunKind::kRank))->continues, 0);
}

TEST_P(RecorderTest, ARunThatFailedKeepsItsReason) {
  auto rec = Recorder();
  rec->RunStarted(RunKind::kRank, {"a.example"});
  rec->PageEnded(RunKind::kRank, RankReport("a.example", 1, 2));
  rec->RunFailed(RunKind::kRank, "cannot write /x/y.csv: no space left on device");
  rec->RunEnded(RunKind::kRank, RunEnd::kFailed);
  Settle();
  const auto run = store.Run(*rec->RunId(RunKind::kRank));
  EXPECT_EQ(run->ending, Ending::kFailed);
  EXPECT_EQ(run->reason, "cannot write /x/y.csv: no space left on device");
  EXPECT_EQ(run->rows, 2);
}

TEST_P(RecorderTest, MiningRunTakesItsHeaderOnceTheFirstSeedStartsAndKeepsLinesAsWritten) {
  auto rec = Recorder();
  std::string header;  // the run sets it after telling it started
  rec->miningColumns = [&header] { return header; };
  rec->RunStarted(RunKind::kMine, {Gbk("种子")});
  header = Gbk("关键词,搜索量");
  rec->TargetStarted(RunKind::kMine, Gbk("种子"), 1, 1);
  PageReport page;
  page.target = Gbk("种子");
  page.page = 1;
  page.attempts = 1;
  page.cells = {{Gbk("甲"), "1,200"}, {Gbk("乙"), "7"}};
  page.rows = 2;
  rec->PageEnded(RunKind::kMine, page);
  rec->RunEnded(RunKind::kMine, RunEnd::kFinished);
  Settle();
  const std::int64_t id = *rec->RunId(RunKind::kMine);
  EXPECT_EQ(store.Run(id)->columns, Gbk("关键词,搜索量"));
  EXPECT_EQ(store.Run(id)->kind, history::RunKind::kMine);
  EXPECT_EQ(*store.LoadMiningLines(id), (std::vector<std::string>{Gbk("甲") + ",\"1,200\"", Gbk("乙") + ",7"}));
}

TEST_P(RecorderTest, RankAndMiningRunsOverlappingStayApart) {
  auto rec = Recorder();
  rec->RunStarted(RunKind::kRank, {"a.example"});
  rec->RunStarted(RunKind::kMine, {"seed"});
  rec->TargetStarted(RunKind::kMine, "seed", 1, 1);
  rec->PageEnded(RunKind::kRank, RankReport("a.example", 1, 3));
  rec->RunEnded(RunKind::kMine, RunEnd::kStopped);
  rec->RunEnded(RunKind::kRank, RunEnd::kFinished);
  Settle();
  ASSERT_NE(*rec->RunId(RunKind::kRank), *rec->RunId(RunKind::kMine));
  EXPECT_EQ(store.Run(*rec->RunId(RunKind::kRank))->ending, Ending::kFinished);
  EXPECT_EQ(store.Run(*rec->RunId(RunKind::kRank))->rows, 3);
  EXPECT_EQ(store.Run(*rec->RunId(RunKind::kMine))->ending, Ending::kStopped);
}

TEST_P(RecorderTest, AFailingStoreGivesOneMessageAndTheNextRunTriesAgain) {
  auto rec = Recorder();
  rec->RunStarted(RunKind::kRank, {"a.example"});
  rec->PageEnded(RunKind::kRank, RankReport("a.example", 1, 5));
  Settle();
  {
    // Another program breaks the database under the run.
    auto plain = db.Plain();
    ASSERT_TRUE(plain->Exec("ALTER TABLE rank_rows RENAME TO rank_rows_gone")) << plain->error;
  }
  rec->PageEnded(RunKind::kRank, RankReport("a.example", 2, 5));
  rec->PageEnded(RunKind::kRank, RankReport("a.example", 3, 5));
  rec->RunEnded(RunKind::kRank, RunEnd::kFinished);
  Settle();
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_FALSE(messages[0].empty());
  EXPECT_FALSE(rec->RunId(RunKind::kRank));

  {
    auto plain = db.Plain();
    ASSERT_TRUE(plain->Exec("ALTER TABLE rank_rows_gone RENAME TO rank_rows")) << plain->error;
  }
  // What was stored before the failure stays; the run was never finished.
  const auto runs = store.ListRuns();
  ASSERT_TRUE(runs);
  ASSERT_EQ(runs->size(), 1u);
  EXPECT_EQ(runs->front().rows, 5);
  EXPECT_EQ(runs->front().ending, Ending::kUnfinished);

  rec->RunStarted(RunKind::kRank, {"a.example"});
  rec->PageEnded(RunKind::kRank, RankReport("a.example", 1, 2));
  rec->RunEnded(RunKind::kRank, RunEnd::kFinished);
  Settle();
  EXPECT_EQ(messages.size(), 1u);
  EXPECT_EQ(store.Run(*rec->RunId(RunKind::kRank))->rows, 2);
}

// A store that cannot be used fails each run at its start, once. Given
// unopened, a reason is given with it; a writer tells why it could not open.
TEST_P(RecorderTest, AStoreThatCannotBeUsedFailsEachRunOnce) {
  HistoryStore closed;
  std::unique_ptr<HistoryWriter> nowhere = writer ? std::make_unique<HistoryWriter>(kNowhere) : nullptr;
  const auto tell = [this](const std::string& why) { messages.push_back(why); };
  auto rec = nowhere ? std::make_unique<HistoryRecorder>(*nowhere, tell)
                     : std::make_unique<HistoryRecorder>(&closed, tell, "database is locked");
  rec->RunStarted(RunKind::kMine, {"seed"});
  rec->TargetStarted(RunKind::kMine, "seed", 1, 1);
  rec->PageEnded(RunKind::kMine, PageReport());
  rec->RunEnded(RunKind::kMine, RunEnd::kFinished);
  rec->RunStarted(RunKind::kRank, {"a"});
  rec->RunEnded(RunKind::kRank, RunEnd::kFinished);
  if (nowhere) {
    ASSERT_TRUE(nowhere->Settle(std::chrono::seconds(60)));
  }
  ASSERT_EQ(messages.size(), 2u);
  EXPECT_EQ(messages[0], messages[1]);
  if (nowhere) {
    EXPECT_EQ(messages[0].rfind(std::string("cannot open ") + kNowhere, 0), 0u) << messages[0];
  } else {
    EXPECT_EQ(messages[0], "database is locked");
  }
  EXPECT_FALSE(rec->RunId(RunKind::kRank));
}

TEST_P(RecorderTest, AThrowingMessageHandlerDoesNotReachTheRun) {
  HistoryStore closed;
  std::unique_ptr<HistoryWriter> nowhere = writer ? std::make_unique<HistoryWriter>(kNowhere) : nullptr;
  const auto tell = [](const std::string&) { throw std::runtime_error("no window"); };
  auto rec = nowhere ? std::make_unique<HistoryRecorder>(*nowhere, tell) : std::make_unique<HistoryRecorder>(&closed, tell);
  EXPECT_NO_THROW(rec->RunStarted(RunKind::kRank, {"a"}));
  EXPECT_NO_THROW(rec->PageEnded(RunKind::kRank, RankReport("a", 1, 1)));
  if (nowhere) {
    EXPECT_NO_THROW(nowhere->Settle(std::chrono::seconds(60)));
  }
}

}  // namespace
}  // namespace lanshu::testing

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}

namespace lanshu::testing {
namespace {

// The run's plan is kept whole beside the settings, and reads back the same.
TEST_P(RecorderTest, ThePlanIsKeptWholeAndReadsBackTheSame) {
  auto rec = Recorder();
  RunPlan plan;
  plan.kind = RunKind::kMine;
  plan.targets = {Gbk("减肥"), Gbk("丰胸")};
  plan.volume = plan.keepSeed = true;
  plan.limit = 40;
  plan.resultFolder = Gbk("/数据/");
  plan.reliability = {4, 1, 20};
  rec->planSnapshot = [&plan](lanshu::RunKind) { return plan.ToJson(); };
  rec->RunStarted(RunKind::kMine, plan.targets);
  rec->TargetStarted(RunKind::kMine, plan.targets[0], 1, 2);
  rec->RunEnded(RunKind::kMine, RunEnd::kFinished);
  Settle();
  const auto run = store.Run(*rec->RunId(RunKind::kMine));
  ASSERT_TRUE(run) << store.LastError();
  const auto back = RunPlan::FromJson(run->plan);
  ASSERT_TRUE(back) << run->plan;
  EXPECT_EQ(*back, plan);
}

}  // namespace
}  // namespace lanshu::testing
