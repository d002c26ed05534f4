// Which keywords a rank run's notice tells, read from stored runs on both
// engines: entered or left the top 10, or moved N places or more, against
// each domain's previous finished run.
#include <gtest/gtest.h>

#include <QCoreApplication>

#include "HistoryTestSupport.h"
#include "history/Comparison.h"
#include "history/RankChanges.h"

namespace lanshu::history {
namespace {

using testing::Gbk;
using testing::RankPage;
using testing::TestDatabase;

const QDateTime kT0 = QDateTime(QDate(2026, 3, 1), QTime(8, 0), Qt::UTC);

TEST(NotableChanges, CrossingTheTop10OrMovingFarEnough) {
  const auto e = [](const char* keyword, const char* rank) {
    return KeywordEntry{keyword, Gbk(rank), PositionOf(Gbk(rank)), ""};
  };
  const std::vector<KeywordEntry> older = {e("in", "12"),  e("out", "10"), e("far", "40"), e("near", "30"),
                                           e("lost3", "3"), e("lost30", "30"), e("edge", "11"), e("named", "5")};
  const std::vector<KeywordEntry> newer = {e("in", "10"),   e("out", "11"), e("far", "35"), e("near", "26"),
                                           e("new2", "2"),  e("new40", "40"), e("edge", "第2页第6位"),
                                           e("named", "—")};
  std::vector<std::string> got;
  for (const ComparisonRow& row : NotableChanges(CompareEntries(older, newer), 5)) got.push_back(row.keyword);
  std::sort(got.begin(), got.end());
  // far moved 5, edge 11 -> 16 moved 5; near moved 4; new and lost keywords
  // count only by the top 10; a rank without a number is outside it.
  EXPECT_EQ(got, (std::vector<std::string>{"edge", "far", "in", "lost3", "named", "new2", "out"}));
  got.clear();
  for (const ComparisonRow& row : NotableChanges(CompareEntries(older, newer), 0)) got.push_back(row.keyword);
  std::sort(got.begin(), got.end());
  EXPECT_EQ(got, (std::vector<std::string>{"in", "lost3", "named", "new2", "out"}));
}

class RankChangesTest : public ::testing::TestWithParam<const char*> {
 protected:
  bool Pg() const { return std::string(GetParam()) == "postgresql"; }
  void SetUp() override {
    ASSERT_FALSE(db.address.empty());
    ASSERT_TRUE(store.Open(db.address)) << store.LastError();
  }
  // A rank run of the domains, each with its {keyword, rank} rows, `minutes`
  // after the first; continues: the run whose failed pages it retries.
  std::int64_t Run(const std::vector<std::pair<std::string, std::vector<std::pair<const char*, const char*>>>>& domains,
                   int minutes, Ending how = Ending::kFinished, std::int64_t continues = 0) {
    std::vector<std::string> targets;
    for (const auto& d : domains) targets.push_back(d.first);
    auto id = store.BeginRun(RunKind::kRank, targets, "", kT0.addSecs(60 * minutes), "", continues);
    EXPECT_TRUE(id) << store.LastError();
    for (const auto& [domain, rows] : domains) {
      std::vector<RankCells> cells;
      int serial = 0;
      for (const auto& [keyword, rank] : rows)
        cells.push_back({std::to_string(++serial), domain, Gbk(keyword), Gbk(rank), "", "", "", ""});
      EXPECT_TRUE(store.StorePage(*id, RankPage(domain, 1, cells))) << store.LastError();
    }
    if (how != Ending::kUnfinished) {
      EXPECT_TRUE(store.FinishRun(*id, how, kT0.addSecs(60 * minutes + 30))) << store.LastError();
    }
    return id.value_or(0);
  }
  std::vector<std::string> Told(std::int64_t run, int places) {
    const auto changes = RankChangesOfRun(store, run, places);
    EXPECT_TRUE(changes) << store.LastError();
    std::vector<std::string> out;
    for (const RankChange& c : changes.value_or(std::vector<RankChange>()))
      out.push_back(c.domain + " " + GbkToUtf8Text(c.keyword) + " " +
                    (c.oldPosition ? std::to_string(*c.oldPosition) : "-") + ">" +
                    (c.newPosition ? std::to_string(*c.newPosition) : "-"));
    return out;
  }

  TestDatabase db{Pg()};
  HistoryStore store;
};

INSTANTIATE_TEST_SUITE_P(Engines, RankChangesTest, ::testing::Values("sqlite", "postgresql"),
                         [](const auto& info) { return std::string(info.param); });

TEST_P(RankChangesTest, EachDomainIsComparedWithItsPreviousFinishedRun) {
  const auto first = Run({{"a.com", {{"升", "30"}, {"跌", "2"}, {"稳", "4"}}}, {"b.com", {{"b1", "8"}}}}, 0);
  // Newer, but stopped: it lists only some keywords, so it is passed over.
  Run({{"a.com", {{"稳", "40"}}}}, 10, Ending::kStopped);
  Run({{"b.com", {{"b1", "50"}}}}, 20);
  const auto now = Run({{"a.com", {{"升", "9"}, {"跌", "12"}, {"稳", "6"}, {"新", "1"}}},
                        {"b.com", {{"b1", "2"}}},
                        {"c.com", {{"c1", "1"}}}},
                       30, Ending::kUnfinished);  // its ending is stored after the lookup
  EXPECT_EQ(PreviousFinishedRun(store, "a.com", now), first);
  EXPECT_EQ(PreviousFinishedRun(store, "c.com", now), 0);
  // a.com against the first run, b.com against the one at 20 minutes; c.com
  // has none, and no domain is compared with a later run.
  EXPECT_EQ(Told(now, 5), (std::vector<std::string>{"a.com 新 ->1", "a.com 升 30>9", "a.com 跌 2>12", "b.com b1 50>2"}));
  EXPECT_EQ(Told(now, 0), (std::vector<std::string>{"a.com 新 ->1", "a.com 升 30>9", "a.com 跌 2>12", "b.com b1 50>2"}));
  EXPECT_EQ(Told(first, 5), std::vector<std::string>{});
}

TEST_P(RankChangesTest, ARetryOfFailedPagesTellsNothing) {
  const auto first = Run({{"a.com", {{"k", "30"}}}}, 0);
  const auto second = Run({{"a.com", {{"k", "30"}}}}, 10);
  const auto retry = Run({{"a.com", {{"k", "1"}}}}, 20, Ending::kFinished, second);
  EXPECT_EQ(Told(retry, 1), std::vector<std::string>{});
  EXPECT_EQ(PreviousFinishedRun(store, "a.com", second), first);
  EXPECT_FALSE(RankChangesOfRun(store, retry + 100, 1));
}

}  // namespace
}  // namespace lanshu::history

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
