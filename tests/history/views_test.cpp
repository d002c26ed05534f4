// The history as the window shows it, without a window: the run list's
// texts, the domains to choose from, and the comparison table's sorting.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QTimeZone>

#include "history/HistoryViews.h"
#include "text/Codec.h"

namespace lanshu::history {
namespace {

std::string Gbk(const char* utf8) { return Utf8TextToGbk(utf8); }

RunInfo MakeRun(std::int64_t id, RunKind kind, std::vector<std::string> targets) {
  RunInfo r;
  r.id = id;
  r.kind = kind;
  r.targets = std::move(targets);
  r.started = QDateTime(QDate(2026, 3, 1), QTime(8, 5, 30), Qt::UTC);
  return r;
}

TEST(RunListTexts, ShowKindTargetsCountsAndEndingInTheHeadersOrder) {
  RunInfo r = MakeRun(42, RunKind::kMine, {Gbk("减肥"), Gbk("丰胸")});
  r.rows = 1234;
  r.pagesNotOk = 3;
  const QStringList texts = RunListTexts(r);
  ASSERT_EQ(texts.size(), RunListHeader().size());
  EXPECT_EQ(texts[0], "42");
  EXPECT_EQ(texts[1], r.started.toLocalTime().toString("yyyy-MM-dd HH:mm"));
  EXPECT_EQ(texts[2], QStringLiteral("挖掘"));
  EXPECT_EQ(texts[3], QStringLiteral("减肥|丰胸"));
  EXPECT_EQ(texts[4], "1234");
  EXPECT_EQ(texts[5], "3");
  EXPECT_EQ(texts[6], QStringLiteral("未完成"));
  r.ending = Ending::kBlocked;
  EXPECT_EQ(RunListTexts(r)[6], QStringLiteral("需登录或验证"));
}

TEST(RankDomains, EachDomainOfRankRunsOnceSortedAndNoSeeds) {
  const std::vector<RunInfo> runs = {MakeRun(3, RunKind::kRank, {"b.test", "a.test"}),
                                     MakeRun(2, RunKind::kMine, {Gbk("种子")}),
                                     MakeRun(1, RunKind::kRank, {"b.test", "c.test"})};
  EXPECT_EQ(RankDomains(runs), (std::vector<std::string>{"a.test", "b.test", "c.test"}));
  EXPECT_TRUE(RankDomains({}).empty());
}

ComparisonRow Row(const char* keyword, const char* oldRank, const char* newRank, Change change, const char* volume) {
  ComparisonRow r;
  r.keyword = Gbk(keyword);
  r.oldRank = Gbk(oldRank);
  r.newRank = Gbk(newRank);
  r.oldPosition = PositionOf(r.oldRank);
  r.newPosition = PositionOf(r.newRank);
  r.change = change;
  r.volume = volume;
  return r;
}

class ComparisonModelTest : public ::testing::Test {
 protected:
  void SetUp() override {
    model.SetRows({Row("甲", "3", "1", Change::kUp, "1,200"), Row("乙", "", "12", Change::kNew, "80"),
                   Row("丙", "第1页第5位", "", Change::kLost, "9"), Row("丁", "7", "7", Change::kSame, "")});
  }
  QStringList Column(int c) const {
    QStringList out;
    for (int r = 0; r < model.rowCount(); ++r) out << model.index(r, c).data().toString();
    return out;
  }
  ComparisonModel model;
};

TEST_F(ComparisonModelTest, ShowsTheCsvHeaderAndTheCellsAsText) {
  QStringList header;
  for (int c = 0; c < model.columnCount(); ++c) header << model.headerData(c, Qt::Horizontal, Qt::DisplayRole).toString();
  EXPECT_EQ(header.join(','), QStringLiteral("关键字,旧排名,新排名,变化,搜索量"));
  EXPECT_EQ(Column(3), (QStringList{"上升", "新增", "消失", "不变"}));
  EXPECT_EQ(model.index(2, 1).data().toString(), QStringLiteral("第1页第5位"));
  EXPECT_FALSE(model.index(9, 0).data().isValid());
  EXPECT_FALSE(model.index(0, 0).data(Qt::EditRole).isValid());
}

TEST_F(ComparisonModelTest, SortsEachColumnBothWaysAndTheExportFollows) {
  model.sort(kColChange, Qt::AscendingOrder);
  EXPECT_EQ(Column(3), (QStringList{"新增", "上升", "不变", "消失"}));
  model.sort(kColNewRank, Qt::AscendingOrder);
  EXPECT_EQ(Column(0), (QStringList{"甲", "丁", "乙", "丙"}));  // the lost one, without a rank, last
  model.sort(kColNewRank, Qt::DescendingOrder);
  EXPECT_EQ(Column(0), (QStringList{"乙", "丁", "甲", "丙"}));  // last in either direction
  model.sort(kColVolume, Qt::DescendingOrder);
  EXPECT_EQ(Column(0), (QStringList{"甲", "乙", "丙", "丁"}));
  // What is exported is what is shown.
  const std::string csv = ComparisonCsv(model.Rows());
  EXPECT_EQ(csv.substr(csv.find("\r\n") + 2, Gbk("甲").size()), Gbk("甲"));
  model.sort(-1, Qt::AscendingOrder);  // no column: the order stays
  EXPECT_EQ(Column(0), (QStringList{"甲", "乙", "丙", "丁"}));
}

}  // namespace
}  // namespace lanshu::history

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
