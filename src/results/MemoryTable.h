#pragma once
// A result list without a window: a RowStore and a selection. Serves runs
// without the window (batch export) and the tests of the list logic.
#include <string>
#include <utility>
#include <vector>

#include "results/ResultTable.h"

namespace lanshu {

class MemoryTable : public ResultTable {
 public:
  explicit MemoryTable(std::vector<std::string> titles) : store_(std::move(titles)) {}

  RowStore& Store() { return store_; }
  const RowStore& Store() const { return store_; }

  int RowCount() const override { return store_.RowCount(); }
  int ColumnCount() const override { return store_.ColumnCount(); }
  std::string ColumnTitle(int column) const override { return store_.ColumnTitle(column); }
  std::string CellText(int row, int column) const override { return store_.CellText(row, column); }
  void SetCellText(int row, int column, const std::string& text) override { store_.SetCellText(row, column, text); }
  int AppendRow(const std::string& firstCell) override { return store_.AppendRow(firstCell); }
  void Clear() override {
    store_.Clear();
    selected_ = -1;
  }
  int SelectedRow() const override { return selected_; }
  void SelectRow(int row) override { selected_ = row >= 0 && row < RowCount() ? row : -1; }
  void ScrollToRow(int) override {}
  void FocusList() override {}
  void ReorderRows(const std::vector<int>& order) override { store_.PermuteRows(order); }

 private:
  RowStore store_;
  int selected_ = -1;
};

}  // namespace lanshu
