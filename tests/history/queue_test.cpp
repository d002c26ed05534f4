// The queue of a run's pages on both engines: claims, leases, storing a page
// twice, going on after a kill, and several claimers at once.
#include <gtest/gtest.h>

#include <set>
#include <thread>

#include <QCoreApplication>

#include "HistoryTestSupport.h"
#include "history/QueuedPages.h"

namespace lanshu::history {
namespace {

using testing::Gbk;
using testing::RankPage;
using testing::TestDatabase;

const QDateTime kT0 = QDateTime(QDate(2026, 3, 1), QTime(8, 0), Qt::UTC);
constexpr std::int64_t kLease = 60000;

class QueueTest : public ::testing::TestWithParam<const char*> {
 protected:
  bool Pg() const { return std::string(GetParam()) == "postgresql"; }
  void SetUp() override {
    ASSERT_FALSE(db.address.empty());
    ASSERT_TRUE(store.Open(db.address)) << store.LastError();
  }
  std::int64_t Begin(const std::vector<std::string>& targets, const std::string& campaign = std::string()) {
    auto id = store.BeginRun(RunKind::kRank, targets, "", kT0, "", 0, "{}", campaign);
    EXPECT_TRUE(id) << store.LastError();
    return id.value_or(0);
  }
  QueuedTarget Claim(std::int64_t run, const std::string& holder, std::int64_t lease = kLease) {
    auto claim = store.ClaimTarget(run, holder, lease);
    EXPECT_TRUE(claim) << store.LastError();
    EXPECT_TRUE(claim && claim->has_value()) << "nothing to claim";
    return claim && claim->has_value() ? **claim : QueuedTarget();
  }
  bool NothingToClaim(std::int64_t run, const std::string& holder) {
    auto claim = store.ClaimTarget(run, holder, kLease);
    return claim && !claim->has_value();
  }
  // Page n of domain with `rows` rows, stored by holder.
  bool Store(std::int64_t run, const std::string& domain, int n, int rows, const std::string& holder,
             int revealed = -1) {
    std::vector<RankCells> cells;
    for (int r = 1; r <= rows; ++r)
      cells.push_back({std::to_string(r), domain, "k" + std::to_string(n) + "_" + std::to_string(r),
                       "1", "", "", "", ""});
    PageRecord page = RankPage(domain, n, cells);
    page.holder = holder;
    page.revealed = revealed;
    return store.StorePage(run, page);
  }

  TestDatabase db{Pg()};
  HistoryStore store;
};

INSTANTIATE_TEST_SUITE_P(Engines, QueueTest, ::testing::Values("sqlite", "postgresql"),
                         [](const auto& info) { return std::string(info.param); });

// Targets go in order, one holder each; page 1 adds the pages it reveals.
TEST_P(QueueTest, ClaimsTargetsInOrderAndAddsThePagesPageOneReveals) {
  const auto run = Begin({"a.com", "b.com"});
  const QueuedTarget a = Claim(run, "p1");
  EXPECT_EQ(a.target, "a.com");
  EXPECT_EQ(a.pages, -1);
  EXPECT_EQ(a.open, std::vector<int>{1});
  EXPECT_EQ(Claim(run, "p2").target, "b.com") << "a.com is held by p1";
  EXPECT_TRUE(NothingToClaim(run, "p3"));

  ASSERT_TRUE(store.ClaimPage(run, "a.com", 1, "p1", kLease)) << store.LastError();
  ASSERT_TRUE(Store(run, "a.com", 1, 2, "p1", 3)) << store.LastError();
  EXPECT_EQ(store.Progress(run)->pages, 4);  // a.com 1..3, b.com 1
  EXPECT_EQ(store.Progress(run)->done, 1);
  // Its holder takes it again with what is left.
  const QueuedTarget again = Claim(run, "p1");
  EXPECT_EQ(again.target, "a.com");
  EXPECT_EQ(again.pages, 3);
  EXPECT_EQ(again.open, (std::vector<int>{2, 3}));

  // Someone else's page is not stored, and changes nothing.
  EXPECT_FALSE(Store(run, "a.com", 2, 5, "p2"));
  EXPECT_EQ(store.LastError(), "lease lost");
  EXPECT_EQ(store.Progress(run)->done, 1);
}

// Stored twice, a page keeps one copy of its rows; the counts follow.
TEST_P(QueueTest, APageStoredTwiceNeverDoublesItsRows) {
  const auto run = Begin({"a.com"});
  ASSERT_TRUE(Store(run, "a.com", 1, 3, "", 2));
  ASSERT_TRUE(Store(run, "a.com", 2, 2, ""));
  ASSERT_TRUE(Store(run, "a.com", 1, 3, "", 2));
  ASSERT_TRUE(Store(run, "a.com", 1, 4, "", 2)) << "the second answer replaces the first";
  EXPECT_EQ(store.LoadRankRows(run)->size(), 6u);
  EXPECT_EQ(store.Run(run)->rows, 6);
  const auto series = store.DomainSeries("a.com");
  ASSERT_TRUE(series && series->size() == 1u);
  EXPECT_EQ(series->front().keywords, 6);
  EXPECT_EQ(series->front().top10, 6);
  // Rows come in page order, whichever page was stored last.
  const auto pages = store.LoadStoredPages(run);
  ASSERT_TRUE(pages && pages->size() == 2u);
  EXPECT_EQ((*pages)[0].page, 1);
  EXPECT_EQ((*pages)[0].rankRows.size(), 4u);
  EXPECT_EQ(store.LoadRankRows(run)->front()[2], "k1_1");
  EXPECT_EQ(store.Progress(run)->Complete(), true);
}

// A killed holder's lease runs out and its target goes to the next claimer,
// with the page it was working on.
TEST_P(QueueTest, ALeaseThatRunsOutReturnsTheTargetToTheQueue) {
  const auto run = Begin({"a.com"});
  Claim(run, "dead", 1);
  ASSERT_TRUE(store.ClaimPage(run, "a.com", 1, "dead", 1));
  std::this_thread::sleep_for(std::chrono::milliseconds(30));
  const QueuedTarget taken = Claim(run, "alive");
  EXPECT_EQ(taken.open, std::vector<int>{1});
  EXPECT_FALSE(Store(run, "a.com", 1, 1, "dead")) << "the old holder may store no more";
  ASSERT_TRUE(Store(run, "a.com", 1, 1, "alive", 0)) << store.LastError();
  EXPECT_TRUE(store.Progress(run)->Complete());

  // A renewed lease holds.
  const auto other = Begin({"b.com"});
  Claim(other, "p1", 1);
  ASSERT_TRUE(store.Renew(other, "p1", kLease));
  std::this_thread::sleep_for(std::chrono::milliseconds(30));
  EXPECT_TRUE(NothingToClaim(other, "p2"));
  // Let go, a target is anyone's.
  ASSERT_TRUE(store.Release(other, "b.com", "p1"));
  EXPECT_EQ(Claim(other, "p2").target, "b.com");
}

// Going on: failed and blocked pages are asked again, the newest run of the
// kind is the one offered, and an abandoned run never is.
TEST_P(QueueTest, AStoppedRunGoesOnWithThePagesNotOk) {
  const auto old = Begin({"x.com"});
  const auto run = Begin({"a.com", "b.com"});
  ASSERT_TRUE(Store(run, "a.com", 1, 1, "", 3));
  PageRecord failed = RankPage("a.com", 2, {});
  failed.outcome = Outcome::kFailed;
  failed.reason = "time-out";
  ASSERT_TRUE(store.StorePage(run, failed));
  ASSERT_TRUE(Store(run, "a.com", 3, 1, ""));
  ASSERT_TRUE(store.FinishRun(run, Ending::kStopped, kT0.addSecs(5)));
  EXPECT_EQ(store.Resumable(RunKind::kRank).value()->id, run);
  EXPECT_FALSE(store.Resumable(RunKind::kMine).value().has_value());

  ASSERT_TRUE(store.Reopen(run));
  EXPECT_EQ(store.Run(run)->ending, Ending::kUnfinished);
  EXPECT_EQ(Claim(run, "p").open, std::vector<int>{2});
  ASSERT_TRUE(store.Release(run, "a.com", "p"));

  ASSERT_TRUE(store.Abandon(run));
  EXPECT_EQ(store.Run(run)->ending, Ending::kAbandoned);
  EXPECT_EQ(store.Resumable(RunKind::kRank).value()->id, old);
  ASSERT_TRUE(store.FinishRun(old, Ending::kFinished, kT0.addSecs(9)));
  EXPECT_FALSE(store.Resumable(RunKind::kRank).value().has_value());
}

// A limit reached drops the target's later pages from the queue.
TEST_P(QueueTest, TheLastPageOfATargetDropsThoseAfterIt) {
  const auto run = Begin({"a.com"});
  ASSERT_TRUE(Store(run, "a.com", 1, 1, "", 5));
  PageRecord second = RankPage("a.com", 2, {});
  second.lastOfTarget = true;
  ASSERT_TRUE(store.StorePage(run, second));
  EXPECT_EQ(store.Progress(run)->pages, 2);
  EXPECT_TRUE(store.Progress(run)->Complete());
}

// A campaign names one run; its files are written by one caller only.
TEST_P(QueueTest, ACampaignNamesOneRun) {
  EXPECT_FALSE(store.Campaign("week").value().has_value());
  const auto run = Begin({"a.com"}, "week");
  EXPECT_EQ(store.Campaign("week").value(), run);
  EXPECT_FALSE(store.BeginRun(RunKind::kRank, {"b.com"}, "", kT0, "", 0, "{}", "week"))
      << "a second run of the name is refused";
  EXPECT_FALSE(store.Resumable(RunKind::kRank).value().has_value()) << "a shared run goes on by its name";
  EXPECT_EQ(store.TakeFileWriting(run), std::optional<bool>(true));
  EXPECT_EQ(store.TakeFileWriting(run), std::optional<bool>(false));
  ASSERT_TRUE(store.SetResultFile(run, "", "/tmp/all.csv"));
  ASSERT_TRUE(store.SetResultFile(run, "a.com", "/tmp/a.csv"));
  EXPECT_EQ(store.ResultFiles(run).value(),
            (std::map<std::string, std::string>{{"", "/tmp/all.csv"}, {"a.com", "/tmp/a.csv"}}));
}

// The source a run takes its pages from: a claimed target's open pages in
// order, page 1 revealing the rest; a target whose page 1 is stored goes on
// where it stopped; a shared run waits while others hold what is left.
TEST_P(QueueTest, QueuedPagesHandsOutATargetAtATimeInOrder) {
  const auto run = Begin({"a.com", "b.com"});
  ASSERT_TRUE(Store(run, "a.com", 1, 1, "", 3));
  ASSERT_TRUE(Store(run, "a.com", 2, 1, ""));
  QueuedPages::Access direct = [this](std::function<bool(HistoryStore&)> call) { return call(store); };
  QueuedPages::Setup setup;
  setup.runId = run;
  setup.holder = "me";
  setup.targets = {"a.com", "b.com"};
  setup.shared = true;
  QueuedPages source(direct, setup);
  std::vector<std::string> handed;
  PageTask task;
  for (int n = 0; n < 3 && source.Next(task); ++n) {
    handed.push_back(task.target + "/" + std::to_string(task.page) + (task.startsTarget ? " starts" : "") +
                     (task.reveals ? " reveals" : "") + " of " + std::to_string(task.knownPages));
    if (task.reveals) source.Revealed(task.target, 2);
    ASSERT_TRUE(store.ClaimPage(run, task.target, task.page, "me", kLease));
    PageRecord page = RankPage(task.target, task.page, {});
    page.holder = "me";
    page.revealed = task.reveals ? 2 : -1;
    // b.com's page 2 is left claimed, as by a process killed midway.
    if (handed.size() < 3) {
      ASSERT_TRUE(store.StorePage(run, page)) << store.LastError();
    }
  }
  EXPECT_EQ(handed, (std::vector<std::string>{"a.com/3 starts of 3", "b.com/1 starts reveals of 0", "b.com/2 of 2"}));
  EXPECT_TRUE(source.Failure().empty());

  // Held by this process, b.com is waited for by another.
  QueuedPages::Setup theirs = setup;
  theirs.holder = "other";
  QueuedPages other(direct, theirs);
  EXPECT_FALSE(other.Next(task));
  EXPECT_EQ(other.WaitMs(), setup.pollMs);
  // Let go at the end of the run, its claimed page is anyone's.
  source.Ended();
  ASSERT_TRUE(other.Next(task));
  EXPECT_EQ(task.target + "/" + std::to_string(task.page), "b.com/2");
  // Once every page is final, there is nothing to wait for.
  PageRecord last = RankPage("b.com", 2, {});
  last.holder = "other";
  ASSERT_TRUE(store.StorePage(run, last)) << store.LastError();
  EXPECT_FALSE(other.Next(task));
  EXPECT_EQ(other.WaitMs(), 0);
}

// A page the store did not keep comes back from the queue: the run ends
// failed instead of asking it for ever.
TEST_P(QueueTest, APageHandedOutTwiceEndsTheRun) {
  const auto run = Begin({"a.com"});
  QueuedPages::Setup setup;
  setup.runId = run;
  setup.holder = "me";
  setup.targets = {"a.com"};
  QueuedPages source([this](std::function<bool(HistoryStore&)> call) { return call(store); }, setup);
  PageTask task;
  ASSERT_TRUE(source.Next(task));
  source.Revealed("a.com", 0);
  EXPECT_FALSE(source.Next(task)) << "a.com/1 again";
  EXPECT_NE(source.Failure().find("did not keep page 1"), std::string::npos) << source.Failure();
  EXPECT_EQ(source.WaitMs(), 0);
}

// Four claimers, each on its own connection and thread, share forty targets:
// each target goes to exactly one of them.
TEST_P(QueueTest, ClaimersAtOnceNeverShareATarget) {
  std::vector<std::string> targets;
  for (int i = 0; i < 40; ++i) targets.push_back("t" + std::to_string(i) + ".com");
  const auto run = Begin(targets);
  std::vector<std::vector<std::string>> claimed(4);
  std::vector<std::string> errors(4);
  std::vector<std::thread> threads;
  for (int w = 0; w < 4; ++w)
    threads.emplace_back([&, w] {
      HistoryStore mine;
      if (!mine.Open(db.address)) {
        errors[w] = mine.LastError();
        return;
      }
      const std::string holder = "w" + std::to_string(w);
      for (;;) {
        auto claim = mine.ClaimTarget(run, holder, kLease);
        if (!claim) {
          errors[w] = mine.LastError();
          return;
        }
        if (!claim->has_value()) return;
        const std::string target = (*claim)->target;
        PageRecord page = RankPage(target, 1, {});
        page.holder = holder;
        page.revealed = 0;
        if (!mine.ClaimPage(run, target, 1, holder, kLease) || !mine.StorePage(run, page)) {
          errors[w] = mine.LastError();
          return;
        }
        claimed[w].push_back(target);
      }
    });
  for (std::thread& t : threads) t.join();
  std::multiset<std::string> all;
  for (int w = 0; w < 4; ++w) {
    EXPECT_EQ(errors[w], "") << "claimer " << w;
    all.insert(claimed[w].begin(), claimed[w].end());
  }
  EXPECT_EQ(all, std::multiset<std::string>(targets.begin(), targets.end()));
  EXPECT_TRUE(store.Progress(run)->Complete());
}

}  // namespace
}  // namespace lanshu::history

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
