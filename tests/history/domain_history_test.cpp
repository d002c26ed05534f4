// A domain's whole history in long form, read from stored runs on both
// engines. The program runs eight hours east of UTC here (TZ in the POSIX
// form, which needs no time zone files), so a date in UTC and its local day
// differ, as they do for the users.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <cstdlib>
#include <ctime>

#include "HistoryTestSupport.h"
#include "history/DomainHistory.h"

namespace lanshu::history {
namespace {

using testing::Gbk;
using testing::RankPage;
using testing::TestDatabase;

// 2026-03-01 08:00 UTC is 16:00 there; 20:00 UTC is already the next day.
const QDateTime kDay1 = QDateTime(QDate(2026, 3, 1), QTime(8, 0), Qt::UTC);

RankCells Row(const std::string& domain, const char* keyword, const char* rank, const char* title = "t") {
  return {"1", domain, Gbk(keyword), Gbk(rank), "1,200", "34", Gbk(title), "http://" + domain + "/x"};
}

class DomainHistoryTest : public ::testing::TestWithParam<const char*> {
 protected:
  void SetUp() override {
    ASSERT_FALSE(db.address.empty());
    ASSERT_TRUE(store.Open(db.address)) << store.LastError();
  }
  std::int64_t Run(const std::vector<std::string>& domains, const QDateTime& started, std::vector<RankCells> rows,
                   Ending how = Ending::kFinished) {
    auto id = store.BeginRun(RunKind::kRank, domains, "", started);
    EXPECT_TRUE(id) << store.LastError();
    EXPECT_TRUE(store.StorePage(*id, RankPage(domains.front(), 1, std::move(rows)))) << store.LastError();
    EXPECT_TRUE(store.FinishRun(*id, how, started.addSecs(30))) << store.LastError();
    return *id;
  }
  std::string Csv(const QDate& since, const QDate& until) {
    std::string reason;
    const auto rows = ReadDomainHistory(store, "a.com", since, until, reason);
    if (!rows) return "failed: " + reason;
    return GbkToUtf8Text(DomainHistoryCsv(*rows));
  }
  // Three runs of a.com on three local days, the middle one shared with
  // b.com, and a run of b.com alone between them.
  void ThreeRuns() {
    Run({"a.com"}, kDay1,
        {Row("a.com", "甲", "第1页第2位"), Row("a.com", "乙", "15", "标题, \"引号\""),
         Row("a.com", "甲", "第3页第1位"),  // again, further down: the better one stays
         Row("a.com", "丙", "")});
    Run({"b.com"}, kDay1.addSecs(3600), {Row("b.com", "甲", "1")});
    Run({"b.com", "a.com"}, kDay1.addDays(1).addSecs(12 * 3600),  // 20:00 UTC: local day 03-03
        {Row("b.com", "丁", "2"), Row("a.com", "乙", "第1页第1位")});
    // Stopped runs are history too.
    Run({"a.com"}, kDay1.addDays(3), {Row("a.com", "戊", "7")}, Ending::kStopped);
  }

  TestDatabase db{std::string(GetParam()) == "postgresql"};
  HistoryStore store;
};

INSTANTIATE_TEST_SUITE_P(Engines, DomainHistoryTest, ::testing::Values("sqlite", "postgresql"),
                         [](const auto& info) { return std::string(info.param); });

TEST_P(DomainHistoryTest, OneRowPerRunAndKeywordOldestFirstWithTheLocalStart) {
  ThreeRuns();
  EXPECT_EQ(Csv(QDate(), QDate()),
            "日期,域名,关键字,排名,位置,搜索量,收录量,网页标题,链接\r\n"
            "2026-03-01 16:00,a.com,甲,第1页第2位,2,\"1,200\",34,t,http://a.com/x\r\n"
            "2026-03-01 16:00,a.com,乙,15,15,\"1,200\",34,\"标题, \"\"引号\"\"\",http://a.com/x\r\n"
            "2026-03-01 16:00,a.com,丙,,,\"1,200\",34,t,http://a.com/x\r\n"
            "2026-03-03 04:00,a.com,乙,第1页第1位,1,\"1,200\",34,t,http://a.com/x\r\n"
            "2026-03-04 16:00,a.com,戊,7,7,\"1,200\",34,t,http://a.com/x");
}

TEST_P(DomainHistoryTest, SinceAndUntilAreLocalDaysBothIncluded) {
  ThreeRuns();
  const auto lines = [&](const QDate& since, const QDate& until) {
    const std::string csv = Csv(since, until);
    return csv.rfind("failed: ", 0) == 0 ? csv : std::to_string(std::count(csv.begin(), csv.end(), '\n'));
  };
  EXPECT_EQ(lines(QDate(2026, 3, 1), QDate(2026, 3, 1)), "3");
  EXPECT_EQ(lines(QDate(2026, 3, 2), QDate(2026, 3, 3)), "1");  // the 20:00 UTC run is the 3rd there
  EXPECT_EQ(lines(QDate(2026, 3, 3), QDate()), "2");
  EXPECT_EQ(lines(QDate(), QDate(2026, 3, 2)), "3");
  EXPECT_EQ(lines(QDate(2026, 3, 2), QDate(2026, 3, 2)), "failed: no rank run from 2026-03-02 to 2026-03-02");
  EXPECT_EQ(lines(QDate(2026, 4, 1), QDate()), "failed: no rank run since 2026-04-01");
  EXPECT_EQ(lines(QDate(), QDate(2026, 2, 1)), "failed: no rank run until 2026-02-01");

  std::string reason;
  EXPECT_FALSE(ReadDomainHistory(store, "c.com", QDate(), QDate(), reason));
  EXPECT_EQ(reason, "no rank run in the history");
  // A run without rows of the domain is a run: the header alone.
  Run({"c.com"}, kDay1, {});
  const auto empty = ReadDomainHistory(store, "c.com", QDate(), QDate(), reason);
  ASSERT_TRUE(empty) << reason;
  EXPECT_EQ(GbkToUtf8Text(DomainHistoryCsv(*empty)), "日期,域名,关键字,排名,位置,搜索量,收录量,网页标题,链接\r\n");
}

TEST(OneRowPerKeyword, KeepsTheBestPositionAtItsOwnPlace) {
  const auto row = [](const char* keyword, std::optional<int> position) {
    DomainRow r;
    r.cells[2] = keyword;
    r.cells[3] = position ? std::to_string(*position) : "";
    r.position = position;
    return r;
  };
  const auto kept = OneRowPerKeyword({row("a", std::nullopt), row("b", 5), row("a", 9), row("b", 3), row("c", 4),
                                      row("c", 4), row("b", 3)});
  std::vector<std::string> got;
  for (const DomainRow& r : kept) got.push_back(r.cells[2] + ":" + r.cells[3]);
  EXPECT_EQ(got, (std::vector<std::string>{"a:9", "b:3", "c:4"}));
}

}  // namespace
}  // namespace lanshu::history

int main(int argc, char** argv) {
  setenv("TZ", "CST-8", 1);
  tzset();
  QCoreApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
