#include "app/ResultListModel.h"

#include <QItemSelectionModel>

#include "app/QtText.h"

namespace lanshu {

ResultListModel::ResultListModel(std::vector<std::string> titles, QObject* parent)
    : QAbstractTableModel(parent), store_(std::move(titles)) {}

int ResultListModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : store_.RowCount();
}

int ResultListModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : store_.ColumnCount();
}

QVariant ResultListModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || (role != Qt::DisplayRole && role != Qt::ToolTipRole)) return {};
  return FromGbk(store_.CellText(index.row(), index.column()));
}

QVariant ResultListModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || role != Qt::DisplayRole) return {};
  return FromGbk(store_.ColumnTitle(section));
}

int ResultListModel::AppendRow(const std::string& firstCell) {
  const int row = store_.RowCount();
  beginInsertRows(QModelIndex(), row, row);
  store_.AppendRow(firstCell);
  endInsertRows();
  return row;
}

void ResultListModel::SetCell(int row, int column, const std::string& text) {
  store_.SetCellText(row, column, text);
  const QModelIndex i = index(row, column);
  emit dataChanged(i, i, {Qt::DisplayRole});
}

void ResultListModel::Clear() {
  if (store_.RowCount() == 0) return;
  beginResetModel();
  store_.Clear();
  endResetModel();
}

void ResultListModel::RowsChanged(int first, int last) {
  if (first > last || store_.RowCount() == 0) return;
  emit dataChanged(index(first, 0), index(last, store_.ColumnCount() - 1), {Qt::DisplayRole});
}

void ResultListModel::Permute(const std::vector<int>& order) {
  if (store_.PermuteRows(order)) RowsChanged(0, static_cast<int>(order.size()) - 1);
}

int ListViewTable::SelectedRow() const {
  if (!view_ || !view_->selectionModel()) return -1;
  const QModelIndexList rows = view_->selectionModel()->selectedRows();
  return rows.isEmpty() ? -1 : rows.first().row();
}

void ListViewTable::SelectRow(int row) {
  if (!view_ || !view_->selectionModel()) return;
  if (row < 0 || row >= RowCount()) {
    view_->selectionModel()->clearSelection();
    return;
  }
  const QModelIndex i = model_->index(row, 0);
  view_->selectionModel()->setCurrentIndex(
      i, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
}

void ListViewTable::ScrollToRow(int row) {
  if (!view_ || row < 0 || row >= RowCount()) return;
  view_->scrollTo(model_->index(row, 0));
}

void ListViewTable::FocusList() {
  if (view_) view_->setFocus();
}

}  // namespace lanshu
