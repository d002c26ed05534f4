// The history as the window shows it: the texts of the run list, the
// domains to choose from, the chart's counts and the comparison as a sortable
// table model. Qt Core only, so it is tested without a window.
#pragma once
#include <QAbstractTableModel>
#include <QStringList>
#include <string>
#include <vector>

#include "history/HistoryStore.h"

namespace lanshu::history {

// Columns of the run list: 编号, 时间, 类型, 域名或关键词, 行数, 未成功页, 结束.
QStringList RunListHeader();
// One run as a line of the run list; the time is local.
QStringList RunListTexts(const RunInfo& run);
// How a run ended, as shown: 完成, 已停止, 需登录或验证, 失败, 未完成.
QString EndingText(Ending ending);

// Every domain of the rank runs, sorted, each once.
std::vector<std::string> RankDomains(const std::vector<RunInfo>& runs);

// The chart's lines, one value per run: keywords, positions 1-10, 11-50,
// beyond 50 (or none).
enum SeriesLine { kLineKeywords = 0, kLineTop10, kLine11to50, kLineBeyond, kLineCount };
QString SeriesLineName(SeriesLine line);
std::int64_t SeriesValue(const SeriesPoint& point, SeriesLine line);

// The comparison of two runs as a table: header 关键字,旧排名,新排名,变化,搜索量,
// sorting as SortComparison does. Texts come from GBK.
class ComparisonModel : public QAbstractTableModel {
 public:
  using QAbstractTableModel::QAbstractTableModel;

  void SetRows(std::vector<ComparisonRow> rows);
  const std::vector<ComparisonRow>& Rows() const { return rows_; }

  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  int columnCount(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
  void sort(int column, Qt::SortOrder order) override;

 private:
  std::vector<ComparisonRow> rows_;
};

}  // namespace lanshu::history
