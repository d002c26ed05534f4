// Positions read from rank cells, the comparison of two runs' keywords, its
// sorting and its CSV bytes.
#include <gtest/gtest.h>

#include "history/Comparison.h"
#include "text/Codec.h"

namespace lanshu::history {
namespace {

std::string Gbk(const char* utf8) { return Utf8TextToGbk(utf8); }

TEST(PositionOf, ReadsPlainNumbersAndPageForms) {
  EXPECT_EQ(PositionOf("7"), 7);
  EXPECT_EQ(PositionOf(" 12 "), 12);
  EXPECT_EQ(PositionOf(Gbk("第1页第1位")), 1);
  EXPECT_EQ(PositionOf(Gbk("第1页第10位")), 10);
  EXPECT_EQ(PositionOf(Gbk("第3页第4位")), 24);
  EXPECT_EQ(PositionOf(Gbk("第10页第2位")), 92);
  for (const char* none : {"", "-", ">50", "7a", "1.5", "第页第1位", "第0页第1位", "第1页第位", "第1页第1位 x",
                           "第1页", "１２", "12345678901"})
    EXPECT_EQ(PositionOf(Gbk(none)), std::nullopt) << none;
}

KeywordEntry E(const char* keyword, const char* rank, const char* volume = "") {
  return {Gbk(keyword), Gbk(rank), PositionOf(Gbk(rank)), Gbk(volume)};
}

std::string Line(const ComparisonRow& r) {
  return GbkToUtf8Text(r.keyword + "|" + r.oldRank + "|" + r.newRank + "|" + ChangeText(r.change) + "|" + r.volume);
}

std::vector<std::string> Lines(const std::vector<ComparisonRow>& rows) {
  std::vector<std::string> out;
  for (const auto& r : rows) out.push_back(Line(r));
  return out;
}

TEST(CompareEntries, TellsNewLostAndMovedKeywordsApart) {
  const std::vector<KeywordEntry> older = {E("上", "第2页第1位", "10"), E("下", "3", "20"), E("同", "5", "30"),
                                           E("失", "8", "40"), E("无名", "", "50"), E("变无", "4", "60")};
  const std::vector<KeywordEntry> newer = {E("上", "9", "11"), E("下", "第1页第4位", "21"), E("同", "5", "31"),
                                           E("新", "2", "70"), E("无名", "", "51"), E("变无", "", "61"),
                                           E("得名", "30", "80")};
  EXPECT_EQ(Lines(CompareEntries(older, newer)),
            (std::vector<std::string>{"新||2|新增|70", "下|3|第1页第4位|下降|21", "同|5|5|不变|31",
                                      "上|第2页第1位|9|上升|11", "得名||30|新增|80", "变无|4||下降|61",
                                      "失|8||消失|40", "无名|||不变|51"}));
}

TEST(CompareEntries, ADuplicateKeywordCountsWithItsBestPosition) {
  const auto rows = CompareEntries({E("a", "20"), E("a", "6"), E("a", "")}, {E("a", ""), E("a", "7"), E("a", "9")});
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(Line(rows[0]), "a|6|7|下降|");
  EXPECT_TRUE(CompareEntries({}, {}).empty());
}

TEST(SortComparison, SortsEachColumnWithEmptyValuesLast) {
  auto rows = CompareEntries({E("b", "5", "1,200"), E("c", "2", "")},
                             {E("a", "3", "900"), E("b", "4", "1,200"), E("d", "", "12,000")});
  auto keys = [&] {
    std::string s;
    for (const auto& r : rows) s += r.keyword;
    return s;
  };
  SortComparison(rows, kColKeyword, true);
  EXPECT_EQ(keys(), "abcd");
  SortComparison(rows, kColKeyword, false);
  EXPECT_EQ(keys(), "dcba");
  SortComparison(rows, kColNewRank, true);
  EXPECT_EQ(keys(), "abdc") << "rows without a new position last, in their previous order";
  SortComparison(rows, kColNewRank, false);
  EXPECT_EQ(keys(), "badc");
  SortComparison(rows, kColOldRank, true);
  EXPECT_EQ(keys(), "cbad");
  SortComparison(rows, kColVolume, false);
  EXPECT_EQ(keys(), "dbac") << "numbers with separators, then cells without one";
  SortComparison(rows, kColVolume, true);
  EXPECT_EQ(keys(), "abdc");
  SortComparison(rows, kColChange, true);
  EXPECT_EQ(Lines(rows).front(), "a||3|新增|900");
  EXPECT_EQ(keys(), "adbc") << "新增, 上升, 下降, 不变, 消失";
}

TEST(ComparisonCsv, WritesGbkWithTheHeaderAndQuotesWhatNeedsIt) {
  std::vector<ComparisonRow> rows(3);
  rows[0] = {Gbk("减肥,茶"), "3", Gbk("第1页第1位"), 3, 1, Change::kUp, "1,200"};
  rows[1] = {Gbk("说\"好\""), "", "7", std::nullopt, 7, Change::kNew, "8"};
  rows[2] = {"a\r\nb", "9", "", 9, std::nullopt, Change::kLost, ""};
  const std::string expected = Gbk("关键字,旧排名,新排名,变化,搜索量\r\n"
                                   "\"减肥,茶\",3,第1页第1位,上升,\"1,200\"\r\n"
                                   "\"说\"\"好\"\"\",,7,新增,8\r\n"
                                   "\"a\r\nb\",9,,消失,");
  EXPECT_EQ(ComparisonCsv(rows), expected);
  EXPECT_EQ(ComparisonCsv({}), Gbk("关键字,旧排名,新排名,变化,搜索量\r\n"));
}

}  // namespace
}  // namespace lanshu::history
