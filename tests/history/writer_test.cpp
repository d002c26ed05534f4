// The history writer on its own thread: the rows it leaves are the rows the
// recorder writing at once leaves, on either engine; and against a server
// behind a proxy that holds or cuts its answers, the caller never waits, a
// vanished server costs one message, and the end gives up and says what.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <chrono>
#include <memory>

#include "DelayProxy.h"
#include "HistoryTestSupport.h"
#include "history/HistoryRecorder.h"
#include "history/HistoryWriter.h"

namespace lanshu::testing {
namespace {

using history::HistoryRecorder;
using history::HistoryStore;
using history::HistoryWriter;
using namespace std::chrono_literals;

const QDateTime kT0(QDate(2026, 3, 1), QTime(8, 0), Qt::UTC);


PageReport MineReport(const std::string& seed, int page) {
  PageReport r;
  r.target = seed;
  r.page = page;
  r.cells = {{Gbk("甲") + std::to_string(page), "1,200", "30"}, {Gbk("乙"), "7", ""}};
  r.rows = 2;
  return r;
}

// What the window shows while runs go; the recorder reads it as a run begins.
struct Window {
  std::string settings, header, plan;
};

void Attach(HistoryRecorder& rec, Window& w, int& tick) {
  rec.settingsSnapshot = [&w](RunKind kind) { return w.settings + (kind == RunKind::kRank ? "R" : "M"); };
  rec.planSnapshot = [&w](RunKind) { return w.plan; };
  rec.miningColumns = [&w] { return w.header; };
  rec.clock = [&tick] { return kT0.addSecs(++tick); };
}

// Every kind of event the recorder hears, with the window changing under the
// runs as it does.
void PlayRuns(HistoryRecorder& rec, Window& w) {
  w.settings = Gbk("排序=1");
  w.plan = R"({"kind":"rank"})";
  rec.RunStarted(RunKind::kRank, {"a.example", "b.example"});
  w.settings = Gbk("排序=2");  // after the start: not this run's
  w.plan = R"({"kind":"mine"})";
  rec.TargetStarted(RunKind::kRank, "a.example", 1, 2);
  rec.PageEnded(RunKind::kRank, RankReport("a.example", 1, 10));
  rec.PageEnded(RunKind::kRank, RankReport("a.example", 2, 0, Outcome::kFailed));
  rec.RunStarted(RunKind::kMine, {Gbk("种子")});
  w.header = Gbk("关键词,搜索量,收录量");  // known once the first seed starts
  rec.TargetStarted(RunKind::kMine, Gbk("种子"), 1, 1);
  w.header = Gbk("关键词,收录量");
  rec.PageEnded(RunKind::kMine, MineReport(Gbk("种子"), 1));
  rec.PageEnded(RunKind::kRank, RankReport("b.example", 1, 4));
  rec.RunFailed(RunKind::kMine, "cannot write /x/y.csv: no space left on device");
  rec.RunEnded(RunKind::kMine, RunEnd::kFailed);
  rec.RunEnded(RunKind::kRank, RunEnd::kFinished);
  rec.ContinueLastRun(RunKind::kRank);
  rec.RunStarted(RunKind::kRank, {"a.example"});
  rec.PageEnded(RunKind::kRank, RankReport("a.example", 2, 6));
  rec.RunEnded(RunKind::kRank, RunEnd::kStopped);
  rec.PageEnded(RunKind::kRank, RankReport("a.example", 3, 7));  // a retry's page after the end
  rec.EndContinuing(RunKind::kRank);
  rec.RunStarted(RunKind::kRank, {"c.example"});
  for (int page = 1; page <= 40; ++page) rec.PageEnded(RunKind::kRank, RankReport("c.example", page, page % 7));
  rec.RunEnded(RunKind::kRank, RunEnd::kBlocked);
}

// The store's rows as a user's SQL tool sees them, but for what differs by
// nature: uids (continues as the id it names) and the times a row was stored.
std::vector<std::string> Dump(const TestDatabase& db) {
  const auto plain = db.Plain();
  std::vector<std::string> out;
  for (const char* sql :
       {"SELECT r.id, r.kind, r.settings, r.columns, r.started, r.finished, r.ending, r.row_count, r.reason, r.plan, "
        "(SELECT c.id FROM runs c WHERE c.uid = r.continues) FROM runs r ORDER BY r.id",
        "SELECT run_id, position, target FROM run_targets ORDER BY run_id, position",
        "SELECT id, run_id, target, page, outcome, reason, attempts, row_count FROM pages ORDER BY id",
        "SELECT * FROM rank_rows ORDER BY id", "SELECT * FROM mining_rows ORDER BY id",
        "SELECT * FROM rank_domain_stats ORDER BY run_id, domain"}) {
    out.push_back(sql);
    for (const QString& row : plain->Rows(QString::fromLatin1(sql))) out.push_back(row.toStdString());
  }
  return out;
}

class SameRowsEitherWay : public ::testing::TestWithParam<bool> {};

INSTANTIATE_TEST_SUITE_P(Engines, SameRowsEitherWay, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "postgresql" : "sqlite"; });

TEST_P(SameRowsEitherWay, AsTheRecorderWritingAtOnce) {
  TestDatabase atOnce(GetParam()), queued(GetParam());
  std::vector<std::string> messages;
  const auto tell = [&messages](const std::string& why) { messages.push_back(why); };
  {
    HistoryStore store;
    ASSERT_TRUE(store.Open(atOnce.address)) << store.LastError();
    HistoryRecorder rec(&store, tell);
    Window w;
    int tick = 0;
    Attach(rec, w, tick);
    PlayRuns(rec, w);
  }
  HistoryWriter writer(queued.address);
  int stored = 0;
  {
    HistoryRecorder rec(writer, tell);
    rec.onStored = [&stored] { ++stored; };
    Window w;
    int tick = 0;
    Attach(rec, w, tick);
    PlayRuns(rec, w);
    ASSERT_TRUE(writer.Settle(60s));
    EXPECT_EQ(rec.RunId(RunKind::kRank), std::optional<std::int64_t>(4));
  }
  EXPECT_TRUE(writer.Drain().empty());
  EXPECT_TRUE(messages.empty()) << messages.front();
  EXPECT_EQ(stored, 4);  // one for each ending
  const std::vector<std::string> expected = Dump(atOnce);
  ASSERT_GT(expected.size(), 100u);
  EXPECT_EQ(Dump(queued), expected);
}

// A test database on the cluster, reached through a proxy in front of it.
class WriterServerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(PgSocketDir().empty());
    writer = std::make_unique<HistoryWriter>(proxy.Address("lanshu", db.Name()));
    recorder = std::make_unique<HistoryRecorder>(*writer, [this](const std::string& why) { messages.push_back(why); });
  }
  // A run with its first page stored: the connection is made.
  std::int64_t StartRun() {
    recorder->RunStarted(RunKind::kRank, {"a.example"});
    recorder->PageEnded(RunKind::kRank, RankReport("a.example", 1, 5));
    EXPECT_TRUE(writer->Settle(60s));
    EXPECT_TRUE(recorder->RunId(RunKind::kRank));
    return recorder->RunId(RunKind::kRank).value_or(0);
  }
  QString Count(const char* table) { return db.Plain()->Value(QStringLiteral("SELECT COUNT(*) FROM ") + table); }
  QString Ending() { return db.Plain()->Value(QStringLiteral("SELECT ending FROM runs")); }

  TestDatabase db{true};
  bench::DelayProxy proxy{PgSocketDir() + "/.s.PGSQL.5432"};
  std::unique_ptr<HistoryWriter> writer;
  std::unique_ptr<HistoryRecorder> recorder;
  std::vector<std::string> messages;
};

TEST_F(WriterServerTest, CallsReturnWhileTheServerHoldsItsAnswers) {
  StartRun();
  proxy.Hold();
  recorder->PageEnded(RunKind::kRank, RankReport("a.example", 2, 5));
  recorder->PageEnded(RunKind::kRank, RankReport("a.example", 3, 5));
  recorder->RunEnded(RunKind::kRank, RunEnd::kFinished);
  // Back with every answer held: none of the three was waited for.
  EXPECT_EQ(writer->Queued(), 3u);
  EXPECT_EQ(Count("pages"), "1");
  proxy.Release();
  ASSERT_TRUE(writer->Settle(60s));
  EXPECT_EQ(Count("pages"), "3");
  EXPECT_EQ(Ending(), "finished");
  EXPECT_TRUE(messages.empty());
}

TEST_F(WriterServerTest, AServerThatVanishesMidRunFailsTheRecordingOnce) {
  StartRun();
  proxy.Cut();
  recorder->PageEnded(RunKind::kRank, RankReport("a.example", 2, 5));
  recorder->PageEnded(RunKind::kRank, RankReport("a.example", 3, 5));
  recorder->RunEnded(RunKind::kRank, RunEnd::kFinished);
  ASSERT_TRUE(writer->Settle(60s));
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_FALSE(messages[0].empty());
  EXPECT_FALSE(recorder->RunId(RunKind::kRank));
  // What was stored before stays; the run was never finished.
  EXPECT_EQ(Count("pages"), "1");
  EXPECT_EQ(Ending(), "unfinished");
}

TEST_F(WriterServerTest, TheEndGivesUpOnWhatTheServerDoesNotTakeAndSaysWhat) {
  const std::int64_t id = StartRun();
  proxy.Hold();
  recorder->PageEnded(RunKind::kRank, RankReport("a.example", 2, 5));
  recorder->PageEnded(RunKind::kRank, RankReport("a.example", 3, 5));
  recorder->RunEnded(RunKind::kRank, RunEnd::kStopped);
  recorder->RunStarted(RunKind::kMine, {"seed"});
  recorder->TargetStarted(RunKind::kMine, "seed", 1, 1);
  recorder->PageEnded(RunKind::kMine, MineReport("seed", 1));
  // Returns although the server still holds the page in progress: the
  // connection is broken off.
  const auto lost = writer->Drain(300ms);
  EXPECT_EQ(history::UnstoredText(lost, 300ms),
            "2 pages and the ending of run " + std::to_string(id) +
                ", a mining run with 1 page not stored: the database did not answer within 300 ms");
  EXPECT_TRUE(messages.empty());  // given up on, not a failure of the store
  recorder->PageEnded(RunKind::kRank, RankReport("a.example", 4, 5));  // after the end: dropped
  EXPECT_TRUE(writer->Drain().empty());
  proxy.Release();
  EXPECT_EQ(Count("pages"), "1");
  EXPECT_EQ(Count("runs"), "1");
  EXPECT_EQ(Ending(), "unfinished");
}

}  // namespace
}  // namespace lanshu::testing

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
