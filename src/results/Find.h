#pragma once
// Finding text in the rank list: one column or the whole row, forward from the
// selected row, continuing once from the top.
#include <string>
#include <vector>

#include "results/ResultTable.h"
#include "store/ConfigStore.h"

namespace lanshu {

inline constexpr char kAllColumnsItem[] = "\xA1\xBE\xC8\xAB\xB2\xBF\xC1\xD0\xA1\xBF";  // 【全部列】
inline constexpr char kNotFoundText[] = "\xCD\xEA\xC8\xAB\xD5\xD2\xB2\xBB\xB5\xBD\xA3\xA1";  // 完全找不到！

// Items of the column choice: every column title in order, then kAllColumnsItem
// (its index is the column count).
std::vector<std::string> FindColumnItems(const ResultTable& list);

// True when needle occurs in the subject of the row: its RowText when
// columnChoice is allColumnsIndex, else the cell of column columnChoice.
// ignoreCase folds ASCII letters only. An empty needle matches every row whose
// subject is not empty.
bool RowMatches(const ResultTable& list, int row, int columnChoice, int allColumnsIndex,
                const std::string& needle, bool ignoreCase);

enum class FindResult {
  kSelected,  // a row was selected, scrolled into view and given the focus
  kNotFound,  // the window shows kNotFoundText; any selection was cleared
};

// Searches from the row after the selection (row 0 without one) to the end.
// On a miss with a selection, clears it and searches once more from row 0.
FindResult FindNextInList(ResultTable& list, int columnChoice, int allColumnsIndex, const std::string& needle,
                          bool ignoreCase);

// The find dialog's inputs kept in the settings (section "查找参数": "字符",
// "列" and the check box's caption). Load keeps the given values as defaults.
void LoadFindSettings(ConfigStore& store, std::string& text, int& columnIndex, CheckableControl& ignoreCase);
void SaveFindSettings(ConfigStore& store, const std::string& text, int columnIndex,
                      const CheckableControl& ignoreCase);

}  // namespace lanshu
