#pragma once
// The rank query's result list as the logic sees it: rows of text cells
// (GBK), 0-based rows and columns. The window shows a RowStore through a Qt
// model; the parsers, export, sorting and find work on this interface only.
#include <cstdint>
#include <string>
#include <vector>

namespace lanshu {

class ResultTable {
 public:
  virtual ~ResultTable() = default;
  virtual int RowCount() const = 0;
  virtual int ColumnCount() const = 0;
  virtual std::string ColumnTitle(int column) const = 0;
  // Empty for a row or column out of range.
  virtual std::string CellText(int row, int column) const = 0;
  virtual void SetCellText(int row, int column, const std::string& text) = 0;
  // Appends a row whose column 0 holds firstCell; returns its index.
  virtual int AppendRow(const std::string& firstCell) = 0;
  virtual void Clear() = 0;
  // -1 when no row is selected.
  virtual int SelectedRow() const = 0;
  virtual void SelectRow(int row) = 0;  // -1 clears the selection
  virtual void ScrollToRow(int row) = 0;
  virtual void FocusList() = 0;
  // Rearranges the first order.size() rows at once: row i takes the cells row
  // order[i] held. Ignored unless order is a permutation of 0..size-1 with
  // size <= RowCount(). The default rewrites cell by cell; a table over a
  // RowStore should forward to PermuteRows.
  virtual void ReorderRows(const std::vector<int>& order);
};

// True when order holds each of 0..order.size()-1 once and fits in rowCount.
bool IsRowPermutation(const std::vector<int>& order, int rowCount);

// Compact row storage: each row keeps its cells in one byte string with end
// offsets, so 100,000 rows of eight cells stay a few tens of megabytes.
class RowStore {
 public:
  explicit RowStore(std::vector<std::string> titles) : titles_(std::move(titles)) {}

  int RowCount() const { return static_cast<int>(rows_.size()); }
  int ColumnCount() const { return static_cast<int>(titles_.size()); }
  const std::string& ColumnTitle(int column) const;
  std::string CellText(int row, int column) const;
  void SetCellText(int row, int column, const std::string& text);
  int AppendRow(const std::string& firstCell);
  void Clear() { rows_.clear(); rows_.shrink_to_fit(); }
  // Replaces all cells of a row at once (used by sorting).
  void SetRow(int row, const std::vector<std::string>& cells);
  std::vector<std::string> RowCells(int row) const;
  // Moves whole rows (see ResultTable::ReorderRows); false, and nothing
  // moved, when order is not a permutation of the first rows.
  bool PermuteRows(const std::vector<int>& order);

 private:
  struct RowData {
    std::string bytes;            // cells back to back
    std::vector<uint32_t> ends;   // end offset of each cell
  };
  bool Valid(int row, int column) const {
    return row >= 0 && row < RowCount() && column >= 0 && column < ColumnCount();
  }
  std::vector<std::string> titles_;
  std::vector<RowData> rows_;
};

}  // namespace lanshu
