#include "results/Find.h"

#include <climits>

#include "results/Export.h"
#include "text/Codec.h"

namespace lanshu {
namespace {

constexpr char kFindSection[] = "\xB2\xE9\xD5\xD2\xB2\xCE\xCA\xFD";  // 查找参数
constexpr char kTextKey[] = "\xD7\xD6\xB7\xFB";                      // 字符
constexpr char kColumnKey[] = "\xC1\xD0";                            // 列

int FindInRange(ResultTable& list, int from, int columnChoice, int allColumnsIndex, const std::string& needle,
                bool ignoreCase) {
  const int rows = list.RowCount();
  for (int row = from < 0 ? 0 : from; row < rows; ++row)
    if (RowMatches(list, row, columnChoice, allColumnsIndex, needle, ignoreCase)) return row;
  return -1;
}

}  // namespace

std::vector<std::string> FindColumnItems(const ResultTable& list) {
  std::vector<std::string> items;
  for (int c = 0; c < list.ColumnCount(); ++c) items.push_back(list.ColumnTitle(c));
  items.push_back(kAllColumnsItem);
  return items;
}

bool RowMatches(const ResultTable& list, int row, int columnChoice, int allColumnsIndex,
                const std::string& needle, bool ignoreCase) {
  const std::string subject =
      columnChoice == allColumnsIndex ? RowText(list, row) : list.CellText(row, columnChoice);
  if (needle.empty()) return !subject.empty();
  const std::size_t at = ignoreCase ? GbkFindNoCase(subject, needle) : GbkFind(subject, needle);
  return at != std::string::npos;
}

FindResult FindNextInList(ResultTable& list, int columnChoice, int allColumnsIndex, const std::string& needle,
                          bool ignoreCase) {
  const int selected = list.SelectedRow();
  int row = FindInRange(list, selected + 1, columnChoice, allColumnsIndex, needle, ignoreCase);
  if (row < 0 && selected >= 0) {
    // Continue from the top once; the selection is cleared even if that
    // finds nothing either.
    list.SelectRow(-1);
    row = FindInRange(list, 0, columnChoice, allColumnsIndex, needle, ignoreCase);
  }
  if (row < 0) return FindResult::kNotFound;
  list.SelectRow(row);
  list.ScrollToRow(row);
  list.FocusList();
  return FindResult::kSelected;
}

void LoadFindSettings(ConfigStore& store, std::string& text, int& columnIndex, CheckableControl& ignoreCase) {
  store.SetSection(kFindSection);
  text = store.ReadText(kTextKey, text);
  const double column = store.ReadNumber(kColumnKey, columnIndex);
  // A number that is no index keeps the current choice.
  if (column >= INT_MIN && column <= INT_MAX) columnIndex = static_cast<int>(column);
  store.LoadCheckBox(ignoreCase);
}

void SaveFindSettings(ConfigStore& store, const std::string& text, int columnIndex,
                      const CheckableControl& ignoreCase) {
  store.SetSection(kFindSection);
  store.WriteText(kTextKey, text);
  store.WriteNumber(kColumnKey, columnIndex);
  store.SaveCheckBox(ignoreCase);
}

}  // namespace lanshu
