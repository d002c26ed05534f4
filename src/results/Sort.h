#pragma once
// Sorting a result list by one column: as text, as numbers or as ranking positions.
#include "results/ResultTable.h"

#include <string>

namespace lanshu {

// How the keys of a column compare.
enum class SortKind {
  kText,      // byte-wise (unsigned) after ASCII letters are upper-cased
  kNumber,    // leading decimal number, thousands separators read (ToGroupedNumber)
  kPosition,  // ranking position (RankPosition); texts without one after all positions
};

// The ranking position a "排名" cell names: a plain whole number (blanks
// around it and full-width forms allowed) as itself, "第N页第M位" as
// (N-1)*10+M. False for any other text.
bool RankPosition(const std::string& text, double& position);

// Orders the rows by the texts of one column (0-based); a column out of range
// changes nothing. Numbers and positions are equal within 1e-7; texts without
// a position follow all positions in either direction, ordered among
// themselves as text. The order is that of a repeated selection that takes
// the last of the equal smallest (largest) keys, so rows with equal keys come
// out in reverse of their previous order. Window events are processed while
// the keys are read.
void SortReportList(ResultTable& list, int column, bool ascending, SortKind kind);
// numeric: SortKind::kNumber, else kText.
void SortReportList(ResultTable& list, int column, bool ascending, bool numeric);

// The kind a column of the rank list sorts by: numbers for "序号", "搜索量"
// and "收录量" (columns 0, 4, 5), positions for "排名" (3), text otherwise.
SortKind RankColumnSortKind(int column);

// Header click on the rank list: with rows present, flips sortAscending (false
// at start, shared by all columns) and sorts by the column as
// RankColumnSortKind says. Without rows nothing happens.
void OnRankListHeaderClick(ResultTable& list, int column, bool& sortAscending);

}  // namespace lanshu
