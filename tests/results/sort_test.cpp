#include "results/Sort.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <random>

#include "results/store_table.h"
#include "hooks/Events.h"
#include "text/Numbers.h"

using namespace lanshu;
using lanshu::testing::G;
using lanshu::testing::StoreTable;

namespace {

using Rows = std::vector<std::vector<std::string>>;

Rows AllRows(const StoreTable& t) {
  Rows rows;
  for (int r = 0; r < t.RowCount(); ++r) rows.push_back(t.Store().RowCells(r));
  return rows;
}

StoreTable TableOf(const Rows& rows, bool bulk = true) {
  StoreTable t(lanshu::testing::RankTitles(), bulk);
  for (const auto& cells : rows) t.Add(cells);
  return t;
}

// Upper case for ASCII letters; both bytes of a double-byte character kept.
std::string Upper(const std::string& s) {
  std::string out;
  for (std::size_t i = 0; i < s.size(); ++i) {
    const auto c = static_cast<unsigned char>(s[i]);
    if (c >= 0x81 && c <= 0xFE && i + 1 < s.size()) {
      out += s.substr(i++, 2);
    } else {
      out += static_cast<char>(c >= 'a' && c <= 'z' ? c - 32 : c);
    }
  }
  return out;
}

// The selection procedure as it is defined, comparison by comparison.
Rows SelectionSort(const Rows& rows, int column, bool ascending, bool numeric) {
  std::vector<std::pair<std::string, int>> work;
  for (std::size_t r = 0; r < rows.size(); ++r) work.emplace_back(rows[r][column], static_cast<int>(r));
  auto replaces = [&](const std::string& best, const std::string& p) {
    if (numeric) {
      const double d = ToGroupedNumber(best) - ToGroupedNumber(p);
      return ascending ? d >= -0.0000001 : d <= 0.0000001;
    }
    const std::string a = Upper(best), b = Upper(p);
    const bool less = std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(),
                                                   [](char x, char y) { return (unsigned char)x < (unsigned char)y; });
    const bool greater = std::lexicographical_compare(b.begin(), b.end(), a.begin(), a.end(),
                                                      [](char x, char y) { return (unsigned char)x < (unsigned char)y; });
    return ascending ? !less : !greater;
  };
  Rows out;
  while (work.size() >= 2) {
    std::size_t best = 0;
    for (std::size_t i = 1; i < work.size(); ++i)
      if (replaces(work[best].first, work[i].first)) best = i;
    out.push_back(rows[work[best].second]);
    work.erase(work.begin() + best);
  }
  if (!work.empty()) out.push_back(rows[work[0].second]);
  return out;
}

std::vector<std::string> Texts(std::initializer_list<const char*> utf8) {
  std::vector<std::string> out;
  for (const char* s : utf8) out.push_back(G(s));
  return out;
}

// Rows whose column holds the given keys and whose column 0 tells them apart.
StoreTable Keyed(int column, const std::vector<std::string>& keys) {
  StoreTable t;
  for (std::size_t i = 0; i < keys.size(); ++i) {
    std::vector<std::string> cells(8);
    cells[0] = "row" + std::to_string(i);
    cells[column] = keys[i];
    t.Add(cells);
  }
  return t;
}

}  // namespace

TEST(SortReportList, HeaderClicksFollowTheExamples) {
  bool ascending = false;
  StoreTable t = Keyed(4, {"5", "10", "9"});
  t.SetCellText(0, 2, "b");
  t.SetCellText(1, 2, "C");
  t.SetCellText(2, 2, "a");
  OnRankListHeaderClick(t, 4, ascending);
  EXPECT_TRUE(ascending);
  EXPECT_EQ(t.Column(4), (std::vector<std::string>{"5", "9", "10"}));
  EXPECT_EQ(t.Column(0), (std::vector<std::string>{"row0", "row2", "row1"}));
  OnRankListHeaderClick(t, 2, ascending);
  EXPECT_FALSE(ascending);
  EXPECT_EQ(t.Column(2), (std::vector<std::string>{"C", "b", "a"}));

  StoreTable rank = Keyed(3, {"2", "10", "1"});
  ascending = false;
  OnRankListHeaderClick(rank, 3, ascending);  // "排名" sorts by position
  EXPECT_EQ(rank.Column(3), (std::vector<std::string>{"1", "2", "10"}));
  StoreTable serial = Keyed(0, {"2", "10", "1"});
  ascending = false;
  OnRankListHeaderClick(serial, 0, ascending);
  EXPECT_EQ(serial.Column(0), (std::vector<std::string>{"1", "2", "10"}));

  StoreTable empty;
  OnRankListHeaderClick(empty, 4, ascending);
  EXPECT_TRUE(ascending);
}

TEST(SortReportList, EqualKeysSwapOnEverySort) {
  StoreTable t = Keyed(5, {"1.00000001", "1"});
  SortReportList(t, 5, true, true);
  EXPECT_EQ(t.Column(0), (std::vector<std::string>{"row1", "row0"}));
  SortReportList(t, 5, true, true);
  EXPECT_EQ(t.Column(0), (std::vector<std::string>{"row0", "row1"}));
  SortReportList(t, 5, false, true);
  EXPECT_EQ(t.Column(0), (std::vector<std::string>{"row1", "row0"}));

  StoreTable cased = Keyed(2, {"Key", "kEY", "KEY"});
  SortReportList(cased, 2, true, false);
  EXPECT_EQ(cased.Column(0), (std::vector<std::string>{"row2", "row1", "row0"}));
  SortReportList(cased, 2, false, false);
  EXPECT_EQ(cased.Column(0), (std::vector<std::string>{"row0", "row1", "row2"}));
  // Only ASCII letters fold: a trail byte that reads as a letter is kept.
  StoreTable trail = Keyed(2, {"\x81z", "\x81Z", "\x81z"});
  SortReportList(trail, 2, true, false);
  EXPECT_EQ(trail.Column(2), (std::vector<std::string>{"\x81Z", "\x81z", "\x81z"}));
}

TEST(SortReportList, NumericKeysAreLeadingNumbers) {
  StoreTable t = Keyed(4, Texts({"1,234", "", "2", "abc", "０.５", "-3", "1e999", "１２"}));
  SortReportList(t, 4, true, true);
  EXPECT_EQ(t.Column(4), Texts({"-3", "abc", "", "０.５", "2", "１２", "1,234", "1e999"}));
  SortReportList(t, 4, true, false);
  EXPECT_EQ(t.Column(4), Texts({"", "-3", "1,234", "1e999", "2", "abc", "０.５", "１２"}));
}

TEST(SortReportList, CountsWithThousandsSeparatorsSortByTheirValue) {
  bool ascending = false;
  StoreTable t = Keyed(4, {"2,401", "115", "3,404,667", "9", "12,000"});
  OnRankListHeaderClick(t, 4, ascending);
  EXPECT_EQ(t.Column(4), (std::vector<std::string>{"9", "115", "2,401", "12,000", "3,404,667"}));
  OnRankListHeaderClick(t, 5, ascending);  // "收录量" the same way; all empty here, so equal keys swap
  OnRankListHeaderClick(t, 4, ascending);
  EXPECT_EQ(t.Column(4), (std::vector<std::string>{"9", "115", "2,401", "12,000", "3,404,667"}));
  OnRankListHeaderClick(t, 4, ascending);
  EXPECT_EQ(t.Column(4), (std::vector<std::string>{"3,404,667", "12,000", "2,401", "115", "9"}));
}

TEST(SortReportList, RanksSortByPositionTextsWithoutOneLast) {
  double p = 0;
  EXPECT_TRUE(RankPosition(G("第1页第3位"), p));
  EXPECT_EQ(p, 3);
  EXPECT_TRUE(RankPosition(G("第10页第1位"), p));
  EXPECT_EQ(p, 91);
  EXPECT_TRUE(RankPosition(G("　第２页第１０位 "), p));
  EXPECT_EQ(p, 20);
  EXPECT_TRUE(RankPosition(" 12 ", p));
  EXPECT_EQ(p, 12);
  for (const char* none : {"", "-", "1.5", "12a", "第页第3位", "第1页", "第1页第3位x", "第1页3位", "1 2"})
    EXPECT_FALSE(RankPosition(G(none), p)) << none;

  const std::vector<std::string> keys =
      Texts({"第10页第1位", "第9页第10位", "100", "-", "第1页第3位", "5", "b", "第1页第5位", "A", "第2页第1位"});
  StoreTable t = Keyed(3, keys);
  bool ascending = false;
  OnRankListHeaderClick(t, 3, ascending);
  EXPECT_EQ(t.Column(3), Texts({"第1页第3位", "第1页第5位", "5", "第2页第1位", "第9页第10位", "第10页第1位", "100",
                                "-", "A", "b"}));
  // Descending: positions from the highest, texts still after them.
  OnRankListHeaderClick(t, 3, ascending);
  EXPECT_EQ(t.Column(3), Texts({"100", "第10页第1位", "第9页第10位", "第2页第1位", "5", "第1页第5位", "第1页第3位",
                                "b", "A", "-"}));
  // Equal positions follow the rule of equal keys: the later row comes first.
  StoreTable same = Keyed(3, Texts({"第1页第5位", "5", "x", "X"}));
  SortReportList(same, 3, true, SortKind::kPosition);
  EXPECT_EQ(same.Column(0), (std::vector<std::string>{"row1", "row0", "row3", "row2"}));
  SortReportList(same, 3, true, SortKind::kPosition);
  EXPECT_EQ(same.Column(0), (std::vector<std::string>{"row0", "row1", "row2", "row3"}));
}

TEST(SortReportList, SmallAndOutOfRangeCasesChangeNothing) {
  StoreTable one = Keyed(1, {"x"});
  const Rows before = AllRows(one);
  SortReportList(one, 1, true, false);
  EXPECT_EQ(AllRows(one), before);
  StoreTable t = Keyed(1, {"b", "a"});
  const Rows unsorted = AllRows(t);
  SortReportList(t, -1, true, false);
  SortReportList(t, 8, true, false);
  EXPECT_EQ(AllRows(t), unsorted);
  StoreTable empty;
  SortReportList(empty, 0, true, true);
  EXPECT_EQ(empty.RowCount(), 0);
  // Orders that are no permutation of the first rows move nothing.
  for (bool bulk : {true, false}) {
    StoreTable three = TableOf(AllRows(Keyed(1, {"a", "b", "c"})), bulk);
    const Rows original = AllRows(three);
    for (const std::vector<int>& bad : std::vector<std::vector<int>>{{1, 1}, {0, 2}, {3, 2, 1, 0}, {-1, 0}})
      three.ReorderRows(bad);
    EXPECT_EQ(AllRows(three), original);
    three.ReorderRows({1, 0});
    EXPECT_EQ(three.Column(1), (std::vector<std::string>{"b", "a", "c"}));
    three.ReorderRows({2, 0, 1});
    EXPECT_EQ(three.Column(1), (std::vector<std::string>{"c", "b", "a"}));
  }
}

TEST(SortReportList, MatchesTheSelectionOnRandomLists) {
  const std::vector<std::string> pool = {
      "", "a", "A", "ab", "AB", "aB", "b", "abc", "Z", "z", "_", "\x81" "a", "\x81" "A", "\xFF", "\xD6",
      G("中文"), G("中"), G("中a"), G("中A"), G("１２"), G("－５"), G("３．５"), "5", "10", "9", "1,234",
      "1e999", "-1e999", "0", "-0", "abc12", " 7", "+8"};
  std::mt19937 rng(20240607);
  for (int round = 0; round < 600; ++round) {
    const int n = static_cast<int>(rng() % 40);
    const bool numeric = rng() % 2 == 0;
    const double base = static_cast<double>(rng() % 3);
    Rows rows;
    for (int r = 0; r < n; ++r) {
      std::vector<std::string> cells(8);
      cells[0] = "row" + std::to_string(r);
      std::string& key = cells[3];
      switch (rng() % 3) {
        case 0:
          key = pool[rng() % pool.size()];
          break;
        case 1: {  // near ties, often chained within the tolerance
          char buf[64];
          std::snprintf(buf, sizeof buf, "%.12f", base + static_cast<double>(rng() % 9) * 4e-8);
          key = buf;
          break;
        }
        default:
          key = std::to_string(rng() % 5) + (rng() % 2 ? "x" : "X");
      }
      rows.push_back(cells);
    }
    for (bool bulk : {true, false}) {
      StoreTable t = TableOf(rows, bulk);
      Rows expected = rows;
      for (bool ascending : {true, true, false}) {
        SortReportList(t, 3, ascending, numeric);
        expected = SelectionSort(expected, 3, ascending, numeric);
        ASSERT_EQ(AllRows(t), expected) << "round " << round << (numeric ? " numeric" : " text")
                                        << (ascending ? " ascending" : " descending");
      }
    }
  }
}

TEST(SortReportList, ListChangedDuringTheSortIsReadAgain) {
  const Rows rows = AllRows(Keyed(2, {"c", "a", "b", "a"}));
  StoreTable t = TableOf(rows);
  bool nestedDone = false;
  SetEventPump([&] {
    if (nestedDone) return;
    nestedDone = true;
    SortReportList(t, 0, false, false);  // a second header click while sorting
  });
  SortReportList(t, 2, true, false);
  EXPECT_EQ(AllRows(t), SelectionSort(SelectionSort(rows, 0, false, false), 2, true, false));

  bool cleared = false;
  SetEventPump([&] {
    if (cleared) return;
    cleared = true;
    t.Clear();
    t.Add({"z", "", "9"});
    t.Add({"y", "", "1"});
  });
  SortReportList(t, 2, true, true);
  SetEventPump(nullptr);
  EXPECT_EQ(t.Column(0), (std::vector<std::string>{"y", "z"}));
}
