#include "results/ResultTable.h"

namespace lanshu {

bool IsRowPermutation(const std::vector<int>& order, int rowCount) {
  if (order.size() > static_cast<std::size_t>(rowCount < 0 ? 0 : rowCount)) return false;
  std::vector<char> seen(order.size(), 0);
  for (int i : order) {
    if (i < 0 || static_cast<std::size_t>(i) >= order.size() || seen[i]) return false;
    seen[i] = 1;
  }
  return true;
}

void ResultTable::ReorderRows(const std::vector<int>& order) {
  if (!IsRowPermutation(order, RowCount())) return;
  // Follows each cycle of the permutation, holding one row aside.
  const int cols = ColumnCount();
  std::vector<char> done(order.size(), 0);
  std::vector<std::string> held(cols);
  for (std::size_t start = 0; start < order.size(); ++start) {
    if (done[start] || order[start] == static_cast<int>(start)) continue;
    const int first = static_cast<int>(start);
    for (int c = 0; c < cols; ++c) held[c] = CellText(first, c);
    int row = first;
    while (true) {
      done[row] = 1;
      const int from = order[row];
      if (from == first) {
        for (int c = 0; c < cols; ++c) SetCellText(row, c, held[c]);
        break;
      }
      for (int c = 0; c < cols; ++c) SetCellText(row, c, CellText(from, c));
      row = from;
    }
  }
}

const std::string& RowStore::ColumnTitle(int column) const {
  static const std::string kEmpty;
  return (column >= 0 && column < ColumnCount()) ? titles_[column] : kEmpty;
}

std::string RowStore::CellText(int row, int column) const {
  if (!Valid(row, column)) return {};
  const RowData& r = rows_[row];
  uint32_t begin = column == 0 ? 0 : r.ends[column - 1];
  return r.bytes.substr(begin, r.ends[column] - begin);
}

void RowStore::SetCellText(int row, int column, const std::string& text) {
  if (!Valid(row, column)) return;
  RowData& r = rows_[row];
  uint32_t begin = column == 0 ? 0 : r.ends[column - 1];
  uint32_t oldLen = r.ends[column] - begin;
  r.bytes.replace(begin, oldLen, text);
  const int64_t delta = static_cast<int64_t>(text.size()) - oldLen;
  for (std::size_t k = column; k < r.ends.size(); ++k) r.ends[k] = static_cast<uint32_t>(r.ends[k] + delta);
  r.bytes.shrink_to_fit();
}

int RowStore::AppendRow(const std::string& firstCell) {
  RowData r;
  r.bytes = firstCell;
  r.ends.assign(titles_.size(), static_cast<uint32_t>(firstCell.size()));
  if (r.ends.empty()) r.bytes.clear();
  rows_.push_back(std::move(r));
  return RowCount() - 1;
}

void RowStore::SetRow(int row, const std::vector<std::string>& cells) {
  if (row < 0 || row >= RowCount()) return;
  RowData& r = rows_[row];
  r.bytes.clear();
  for (int c = 0; c < ColumnCount(); ++c) {
    if (c < static_cast<int>(cells.size())) r.bytes += cells[c];
    r.ends[c] = static_cast<uint32_t>(r.bytes.size());
  }
  r.bytes.shrink_to_fit();
}

std::vector<std::string> RowStore::RowCells(int row) const {
  std::vector<std::string> cells;
  if (row < 0 || row >= RowCount()) return cells;
  cells.reserve(ColumnCount());
  for (int c = 0; c < ColumnCount(); ++c) cells.push_back(CellText(row, c));
  return cells;
}

bool RowStore::PermuteRows(const std::vector<int>& order) {
  if (!IsRowPermutation(order, RowCount())) return false;
  std::vector<RowData> moved;
  moved.reserve(rows_.size());
  for (int from : order) moved.push_back(std::move(rows_[from]));
  for (std::size_t i = order.size(); i < rows_.size(); ++i) moved.push_back(std::move(rows_[i]));
  rows_.swap(moved);
  return true;
}

}  // namespace lanshu
