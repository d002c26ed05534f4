#pragma once
// Comparing the keywords of one domain in two rank runs: which are new, which
// were lost and which moved. Pure functions over rows; the store feeds them.
#include <optional>
#include <string>
#include <vector>

namespace lanshu::history {

enum class Change { kNew, kLost, kUp, kDown, kSame };

// The position a rank cell (GBK) stands for: a plain number is itself,
// "第N页第M位" is (N-1)*10+M; none for anything else. Blanks around it are ignored.
std::optional<int> PositionOf(const std::string& rankCell);

// A keyword as one run listed it.
struct KeywordEntry {
  std::string keyword;
  std::string rankText;        // the 排名 cell
  std::optional<int> position; // its number, none when the cell holds none
  std::string volume;          // the 搜索量 cell
};

struct ComparisonRow {
  std::string keyword;
  std::string oldRank, newRank;  // cells as listed; empty when the run lacks the keyword
  std::optional<int> oldPosition, newPosition;
  Change change = Change::kSame;
  std::string volume;  // the newer run's, the older one's for a lost keyword
};

// Change as shown (GBK): 新增, 消失, 上升, 下降, 不变.
std::string ChangeText(Change change);

// Merges the entries of two runs. A keyword listed more than once in a run
// counts with its best position. A keyword whose position is none ranks below
// every numbered one. Rows come in DefaultComparisonOrder.
std::vector<ComparisonRow> CompareEntries(const std::vector<KeywordEntry>& older,
                                          const std::vector<KeywordEntry>& newer);

// The rows a notice tells: keywords that entered or left the top 10 (a
// keyword new or lost counts as outside it), or moved `places` or more
// between two numbered positions; in the order given. places below 1 selects
// by the top 10 only.
std::vector<ComparisonRow> NotableChanges(const std::vector<ComparisonRow>& rows, int places);

// Columns of the comparison, as in its CSV header.
enum ComparisonColumn { kColKeyword = 0, kColOldRank, kColNewRank, kColChange, kColVolume };

// Sorts by one column, stably: ranks by position (none last in either
// direction), 变化 in the order 新增, 上升, 下降, 不变, 消失, 搜索量 by its number
// (thousands separators allowed; a cell without one last), the keyword by its
// bytes.
void SortComparison(std::vector<ComparisonRow>& rows, ComparisonColumn column, bool ascending);
// New position ascending, then old position, then keyword: what ranks where
// now, the lost keywords after the listed ones.
void DefaultComparisonOrder(std::vector<ComparisonRow>& rows);

// The comparison as GBK CSV: the header 关键字,旧排名,新排名,变化,搜索量 and one
// line per row, joined by "\r\n" as the rank export's lines are. A cell
// holding ",", a double quote, CR or LF is written in double quotes with its
// quotes doubled.
std::string ComparisonCsv(const std::vector<ComparisonRow>& rows);

// The columns' titles and a row's cells as the CSV has them, before quoting
// (GBK), for the workbook export.
std::vector<std::string> ComparisonTitles();
std::vector<std::vector<std::string>> ComparisonCells(const std::vector<ComparisonRow>& rows);

}  // namespace lanshu::history
