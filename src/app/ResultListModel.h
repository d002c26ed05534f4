#pragma once
// The rank result list: a Qt model over the compact row store, and the
// ResultTable the logic uses, which keeps the view in step with the store.
#include <QAbstractTableModel>
#include <QPointer>
#include <QTreeView>

#include "results/ResultTable.h"

namespace lanshu {

class ResultListModel : public QAbstractTableModel {
  Q_OBJECT
 public:
  ResultListModel(std::vector<std::string> titles, QObject* parent);

  RowStore& Store() { return store_; }
  const RowStore& Store() const { return store_; }

  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  int columnCount(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

  int AppendRow(const std::string& firstCell);
  void SetCell(int row, int column, const std::string& text);
  void Clear();
  // Tells the view that rows first..last changed (after in-place rewrites).
  void RowsChanged(int first, int last);
  // Moves whole rows (sorting); selection and scroll stay with the positions.
  void Permute(const std::vector<int>& order);

 private:
  RowStore store_;
};

// ResultTable over the model and its view (selection, scrolling, focus).
class ListViewTable : public ResultTable {
 public:
  ListViewTable(ResultListModel* model, QTreeView* view) : model_(model), view_(view) {}
  int RowCount() const override { return model_->Store().RowCount(); }
  int ColumnCount() const override { return model_->Store().ColumnCount(); }
  std::string ColumnTitle(int column) const override { return model_->Store().ColumnTitle(column); }
  std::string CellText(int row, int column) const override { return model_->Store().CellText(row, column); }
  void SetCellText(int row, int column, const std::string& text) override { model_->SetCell(row, column, text); }
  int AppendRow(const std::string& firstCell) override { return model_->AppendRow(firstCell); }
  void Clear() override { model_->Clear(); }
  void ReorderRows(const std::vector<int>& order) override { model_->Permute(order); }
  int SelectedRow() const override;
  void SelectRow(int row) override;
  void ScrollToRow(int row) override;
  void FocusList() override;
  ResultListModel* Model() const { return model_; }

 private:
  QPointer<ResultListModel> model_;
  QPointer<QTreeView> view_;
};

}  // namespace lanshu
