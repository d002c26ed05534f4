#pragma once
// Sorting a result list by one column, as text or as numbers.
#include "results/ResultTable.h"

namespace lanshu {

// Orders the rows by the texts of one column (0-based); a column out of range
// changes nothing. Text keys compare byte-wise (unsigned) after ASCII letters
// are upper-cased; numeric keys by their leading decimal number (full-width
// forms count), equal within 1e-7. The order is that of a repeated selection
// that takes the last of the equal smallest (largest) keys, so rows with equal
// keys come out in reverse of their previous order. Window events are
// processed while the keys are read.
void SortReportList(ResultTable& list, int column, bool ascending, bool numeric);

// Header click on the rank list: with rows present, flips sortAscending (false
// at start, shared by all columns) and sorts by the column, numerically for
// "序号", "搜索量" and "收录量" (columns 0, 4, 5). Without rows nothing happens.
void OnRankListHeaderClick(ResultTable& list, int column, bool& sortAscending);

}  // namespace lanshu
