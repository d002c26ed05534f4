#pragma once
// The history tab "历史记录": the kept runs, a chart of one domain over its
// runs, the comparison of two of its runs (sorted, exported), the domain's
// whole history in one file, and a stored rank run put back into the rank
// list. Thin: the texts and the table model come from src/history. It reads
// the store only when shown, and again after a run once the tab has been
// opened.
#include <QObject>
#include <QPointer>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "history/HistoryStore.h"

class QChartView;
class QComboBox;
class QLabel;
class QPushButton;
class QTableView;
class QTreeWidget;

namespace lanshu {

class HistoryWiring;
class ListViewTable;
class MainWindow;
class RankQuery;
namespace history {
class ComparisonModel;
}

class HistoryTab : public QObject {
  Q_OBJECT
 public:
  HistoryTab(QWidget* page, HistoryWiring& history, ListViewTable& list, RankQuery& rank, MainWindow& window);
  ~HistoryTab() override;

  // Reads the runs again (the tab does so itself when shown).
  void Refresh();
  bool Loaded() const { return loaded_; }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  history::HistoryStore* OpenStore();
  void ShowDomain();
  void DrawChart(const std::vector<history::SeriesPoint>& points);
  void Compare();
  void ExportComparison();
  void ExportDomainHistory();
  void LoadIntoRankList();
  void Say(const QString& text);

  QPointer<QWidget> page_;
  HistoryWiring& history_;
  ListViewTable& list_;
  RankQuery& rank_;
  MainWindow& window_;
  QPointer<QTreeWidget> runs_;
  QPointer<QComboBox> domains_, older_, newer_;
  QPointer<QChartView> chart_;
  QPointer<QTableView> table_;
  QPointer<QPushButton> compare_, export_, exportAll_, load_, refresh_;
  QPointer<QLabel> note_;
  std::unique_ptr<history::ComparisonModel> model_;
  bool loaded_ = false;
  bool stale_ = false;
};

}  // namespace lanshu
