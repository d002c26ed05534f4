#pragma once
// The rank list as the result-list tests use it: a MemoryTable that records
// scrolling and focus, and can rewrite rows cell by cell as a table without a
// bulk reorder does.
#include <string>
#include <vector>

#include "results/MemoryTable.h"
#include "text/Codec.h"

namespace lanshu::testing {

inline std::string G(const char* utf8) { return Utf8TextToGbk(utf8); }

inline std::vector<std::string> RankTitles() {
  std::vector<std::string> titles;
  for (const char* t : {"序号", "域名", "关键字", "排名", "搜索量", "收录量", "网页标题", "链接"}) titles.push_back(G(t));
  return titles;
}

class StoreTable : public MemoryTable {
 public:
  explicit StoreTable(std::vector<std::string> titles = RankTitles(), bool bulkReorder = true)
      : MemoryTable(std::move(titles)), bulk(bulkReorder) {}
  bool bulk;
  int scrolledTo = -1;
  int focusCalls = 0;

  void ScrollToRow(int row) override { scrolledTo = row; }
  void FocusList() override { ++focusCalls; }
  void ReorderRows(const std::vector<int>& order) override {
    if (bulk)
      MemoryTable::ReorderRows(order);
    else
      ResultTable::ReorderRows(order);
  }

  // Appends a row with the given cells (GBK).
  void Add(const std::vector<std::string>& cells) {
    const int row = AppendRow(cells.empty() ? std::string() : cells[0]);
    for (std::size_t c = 1; c < cells.size(); ++c) SetCellText(row, static_cast<int>(c), cells[c]);
  }
  std::vector<std::string> Column(int c) const {
    std::vector<std::string> out;
    for (int r = 0; r < RowCount(); ++r) out.push_back(CellText(r, c));
    return out;
  }
};

}  // namespace lanshu::testing
