#include "run/RunPlan.h"

#include <gtest/gtest.h>

#include "text/Codec.h"

namespace lanshu {
namespace {

std::string G(const char* utf8) { return Utf8TextToGbk(utf8); }

RunPlan EveryFieldSet() {
  RunPlan p;
  p.kind = RunKind::kMine;
  p.targets = {G("减肥"), G("丰胸 茶"), "a\"b\\c,d"};
  p.sortIndex = 2;
  p.filterDuplicates = p.convertLinks = true;
  p.exportMode = 1;
  p.exportTemplate = G("#3（#2）排名#4\r\n#8");
  p.volume = p.firstSite = p.difficulty = true;
  p.limit = 120;
  p.keepSeed = true;
  p.pageIntervalMs = 1500;
  p.keywordIntervalMs = 250;
  p.autoSave = p.separateFiles = true;
  p.resultFolder = G("/数据/结果/");
  p.extension = "txt";
  p.reliability = {5, 7, 30};
  p.rankSite = "http://r.test";
  p.keywordSite = "http://k.test/";
  p.searchSite = "http://s.test";
  return p;
}

// A plan comes back from its JSON exactly, GBK texts included; each field
// counts in the comparison, so none can be lost on the way.
TEST(RunPlanTest, RoundTripsThroughJsonWithEveryField) {
  const RunPlan plan = EveryFieldSet();
  const std::string json = plan.ToJson();
  EXPECT_EQ(json.find('\n'), std::string::npos);
  EXPECT_NE(json.find("\"减肥\""), std::string::npos) << "texts are UTF-8 in the JSON";
  const auto back = RunPlan::FromJson(json);
  ASSERT_TRUE(back);
  EXPECT_EQ(*back, plan);
  EXPECT_EQ(back->ToJson(), json);

  // Each field alone makes a difference.
  RunPlan other = plan;
  other.reliability.timeoutSeconds = 31;
  EXPECT_NE(other, plan);
  other = plan;
  other.secondSite = true;
  EXPECT_NE(other, plan);
  EXPECT_NE(*RunPlan::FromJson(other.ToJson()), plan);
}

TEST(RunPlanTest, MissingKeysKeepDefaultsAndOtherTextsAreNoPlan) {
  const auto minimal = RunPlan::FromJson(R"({"kind":"rank","targets":["a.com"]})");
  ASSERT_TRUE(minimal);
  RunPlan expected;
  expected.targets = {"a.com"};
  EXPECT_EQ(*minimal, expected);
  for (const char* bad : {"", "[]", "{}", R"({"kind":"other"})", "{\"kind\":\"rank\"", "null"})
    EXPECT_FALSE(RunPlan::FromJson(bad)) << bad;
}

TEST(RunPlanTest, MiningHeaderFollowsTheTickedMetricsInColumnOrder) {
  RunPlan p;
  EXPECT_EQ(p.MiningHeader(), G("关键词"));
  p.difficulty = p.volume = p.secondSite = true;
  EXPECT_EQ(p.MiningHeader(), G("关键词,搜索量,第二位,优化难度"));
}

}  // namespace
}  // namespace lanshu
