#include "app/HistoryTab.h"

#include <QBoxLayout>
#include <QChart>
#include <QChartView>
#include <QDate>
#include <QComboBox>
#include <QCategoryAxis>
#include <QEvent>
#include <QHeaderView>
#include <QLabel>
#include <QLineSeries>
#include <QPushButton>
#include <QTableView>
#include <QTreeWidget>
#include <map>
#include <QValueAxis>
#include <algorithm>

#include "app/Commands.h"
#include "app/HistoryWiring.h"
#include "app/MainWindow.h"
#include "app/QtText.h"
#include "app/ResultListModel.h"
#include "history/DomainHistory.h"
#include "history/HistoryViews.h"
#include "rank/RankQuery.h"
#include "results/Export.h"
#include "results/Xlsx.h"
#include "hooks/MessageBox.h"
#include "text/Reasons.h"

namespace lanshu {
namespace {

// The two exports of the tab: a CSV file or a workbook.
const QString kCsvOrWorkbook = QStringLiteral("csv文件|*.csv|Excel 工作簿|*.xlsx|全部文件|*.*");

template <typename T>
T* Named(T* widget, const char* name) {
  widget->setObjectName(QString::fromUtf8(name));
  return widget;
}

// A run as the comparison choosers show it.
QString RunCaption(const history::RunInfo& run) {
  return QStringLiteral("%1  %2  %3")
      .arg(run.id)
      .arg(run.started.toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm")))
      .arg(history::EndingText(run.ending));
}

}  // namespace

HistoryTab::HistoryTab(QWidget* page, HistoryWiring& history, ListViewTable& list, RankQuery& rank,
                       MainWindow& window)
    : page_(page), history_(history), list_(list), rank_(rank), window_(window),
      model_(std::make_unique<history::ComparisonModel>()) {
  // The page covers the tab strip too: the layout starts below it.
  auto* outer = new QVBoxLayout(page);
  outer->setContentsMargins(6, 28, 6, 6);
  outer->setSpacing(4);

  auto* top = new QHBoxLayout();
  auto* left = new QVBoxLayout();
  runs_ = Named(new QTreeWidget(page), "列表框历史");
  runs_->setHeaderLabels(history::RunListHeader());
  runs_->setRootIsDecorated(false);
  runs_->setUniformRowHeights(true);
  runs_->setSelectionMode(QAbstractItemView::SingleSelection);
  const int widths[] = {36, 122, 36, 100, 45, 60, 50};
  for (int c = 0; c < 7; ++c) runs_->header()->resizeSection(c, widths[c]);
  left->addWidget(runs_, 1);
  auto* runButtons = new QHBoxLayout();
  load_ = Named(new QPushButton(QStringLiteral("载入到排名列表"), page), "按钮载入到排名列表");
  refresh_ = Named(new QPushButton(QStringLiteral("刷新"), page), "按钮刷新历史");
  note_ = Named(new QLabel(page), "标签历史提示");
  runButtons->addWidget(load_);
  runButtons->addWidget(refresh_);
  runButtons->addWidget(note_, 1);
  left->addLayout(runButtons);
  top->addLayout(left, 5);

  auto* right = new QVBoxLayout();
  auto* domainRow = new QHBoxLayout();
  domainRow->addWidget(new QLabel(QStringLiteral("域名："), page));
  domains_ = Named(new QComboBox(page), "组合框历史域名");
  domains_->setMinimumWidth(180);
  domainRow->addWidget(domains_, 1);
  exportAll_ = Named(new QPushButton(QStringLiteral("导出全部历史"), page), "按钮导出全部历史");
  domainRow->addWidget(exportAll_);
  right->addLayout(domainRow);
  chart_ = Named(new QChartView(page), "图表历史");
  chart_->setRenderHint(QPainter::Antialiasing);
  chart_->chart()->legend()->setAlignment(Qt::AlignBottom);
  chart_->chart()->setMargins(QMargins(2, 2, 2, 2));
  right->addWidget(chart_, 1);
  top->addLayout(right, 6);
  outer->addLayout(top, 5);

  auto* compareRow = new QHBoxLayout();
  compareRow->addWidget(new QLabel(QStringLiteral("旧运行："), page));
  older_ = Named(new QComboBox(page), "组合框旧运行");
  compareRow->addWidget(older_, 1);
  compareRow->addWidget(new QLabel(QStringLiteral("新运行："), page));
  newer_ = Named(new QComboBox(page), "组合框新运行");
  compareRow->addWidget(newer_, 1);
  compare_ = Named(new QPushButton(QStringLiteral("比较"), page), "按钮比较");
  export_ = Named(new QPushButton(QStringLiteral("导出比较"), page), "按钮导出比较");
  compareRow->addWidget(compare_);
  compareRow->addWidget(export_);
  outer->addLayout(compareRow);
  table_ = Named(new QTableView(page), "表格比较");
  table_->setModel(model_.get());
  table_->setSortingEnabled(true);
  table_->horizontalHeader()->setSortIndicatorShown(true);
  table_->horizontalHeader()->setSortIndicator(-1, Qt::AscendingOrder);  // the default order first
  table_->setSelectionBehavior(QAbstractItemView::SelectRows);
  table_->verticalHeader()->hide();
  table_->verticalHeader()->setDefaultSectionSize(20);
  table_->horizontalHeader()->setStretchLastSection(true);
  table_->horizontalHeader()->resizeSection(0, 260);
  outer->addWidget(table_, 4);

  connect(domains_, &QComboBox::currentIndexChanged, this, [this] { ShowDomain(); });
  connect(compare_, &QPushButton::clicked, this, [this] { Compare(); });
  connect(export_, &QPushButton::clicked, this, [this] { ExportComparison(); });
  connect(exportAll_, &QPushButton::clicked, this, [this] { ExportDomainHistory(); });
  connect(load_, &QPushButton::clicked, this, [this] { LoadIntoRankList(); });
  connect(refresh_, &QPushButton::clicked, this, [this] { Refresh(); });
  connect(runs_, &QTreeWidget::itemDoubleClicked, this, [this] { LoadIntoRankList(); });
  connect(&history_, &HistoryWiring::runStored, this, [this] {
    stale_ = true;
    if (loaded_ && page_ && page_->isVisible()) Refresh();
  });
  page->installEventFilter(this);
  export_->setEnabled(false);
  exportAll_->setEnabled(false);
}

HistoryTab::~HistoryTab() {
  if (table_) table_->setModel(nullptr);
  if (page_) page_->removeEventFilter(this);
}

bool HistoryTab::eventFilter(QObject* watched, QEvent* event) {
  // Read lazily: a big store costs nothing until the tab is looked at.
  if (watched == page_ && event->type() == QEvent::Show && (!loaded_ || stale_)) Refresh();
  return QObject::eventFilter(watched, event);
}

void HistoryTab::Say(const QString& text) {
  if (note_) note_->setText(text);
}

history::HistoryStore* HistoryTab::OpenStore() {
  if (!history_.Enabled()) {
    Say(QStringLiteral("未保存历史记录"));
    return nullptr;
  }
  history::HistoryStore* store = history_.Open();
  if (!store || !store->IsOpen()) {
    Say(QStringLiteral("历史记录无法打开：") + QString::fromStdString(ChineseReason(history_.OpenError())));
    return nullptr;
  }
  return store;
}

void HistoryTab::Refresh() {
  loaded_ = true;
  stale_ = false;
  history::HistoryStore* store = OpenStore();
  if (!store) return;
  const auto runs = store->ListRuns();
  if (!runs) {
    Say(QStringLiteral("历史记录无法读取：") + QString::fromStdString(ChineseReason(store->LastError())));
    return;
  }
  const std::int64_t selected =
      runs_->currentItem() ? runs_->currentItem()->text(0).toLongLong() : 0;
  runs_->clear();
  // A retry of failed pages sits under the run it continues.
  std::map<std::int64_t, QTreeWidgetItem*> byId;
  QList<QTreeWidgetItem*> items;
  for (auto run = runs->rbegin(); run != runs->rend(); ++run) {  // oldest first: parents come first
    auto* item = new QTreeWidgetItem(history::RunListTexts(*run));
    item->setData(0, Qt::UserRole, run->kind == history::RunKind::kRank);
    byId[run->id] = item;
    const auto parent = byId.find(run->continues);
    if (run->continues != 0 && parent != byId.end())
      parent->second->insertChild(0, item);  // newest first, as the list
    else
      items.prepend(item);
  }
  runs_->addTopLevelItems(items);
  runs_->expandAll();
  for (const auto& [id, item] : byId)
    if (id == selected) runs_->setCurrentItem(item);
  Say(QStringLiteral("共 %1 次运行").arg(runs->size()));

  const QString domain = domains_->currentText();
  {
    const QSignalBlocker quiet(domains_);
    domains_->clear();
    for (const std::string& d : history::RankDomains(*runs)) domains_->addItem(FromGbk(d));
    const int again = domains_->findText(domain);
    domains_->setCurrentIndex(again >= 0 ? again : domains_->count() > 0 ? 0 : -1);
  }
  ShowDomain();
}

void HistoryTab::ShowDomain() {
  older_->clear();
  newer_->clear();
  model_->SetRows({});
  export_->setEnabled(false);
  DrawChart({});
  history::HistoryStore* store = history_.Store();
  exportAll_->setEnabled(domains_->currentIndex() >= 0 && store && store->IsOpen());
  if (!exportAll_->isEnabled()) return;
  const std::string domain = ToGbk(domains_->currentText());
  const auto series = store->DomainSeries(domain);
  if (series) DrawChart(*series);
  const auto runs = store->RunsOfDomain(domain);
  if (!runs) return;
  for (const history::RunInfo& run : *runs) {
    older_->addItem(RunCaption(run), QVariant::fromValue<qlonglong>(run.id));
    newer_->addItem(RunCaption(run), QVariant::fromValue<qlonglong>(run.id));
  }
  // The latest two finished runs, as --batch compare takes them.
  if (const auto two = store->LatestTwoFinishedRuns(domain)) {
    older_->setCurrentIndex(older_->findData(QVariant::fromValue<qlonglong>(two->first)));
    newer_->setCurrentIndex(newer_->findData(QVariant::fromValue<qlonglong>(two->second)));
  } else if (runs->size() >= 2) {
    older_->setCurrentIndex(1);
    newer_->setCurrentIndex(0);
  }
}

void HistoryTab::DrawChart(const std::vector<history::SeriesPoint>& points) {
  auto* chart = new QChart();
  chart->legend()->setAlignment(Qt::AlignBottom);
  chart->setMargins(QMargins(2, 2, 2, 2));
  // Runs evenly spaced, oldest first, labelled with their numbers: runs
  // minutes apart and months apart read alike.
  auto* x = new QCategoryAxis();
  x->setLabelsPosition(QCategoryAxis::AxisLabelsPositionOnValue);
  const int every = std::max(1, static_cast<int>(points.size()) / 10);
  for (size_t i = 0; i < points.size(); i += every)
    x->append(QString::number(points[i].runId), static_cast<qreal>(i));
  auto* y = new QValueAxis();
  y->setLabelFormat(QStringLiteral("%d"));
  chart->addAxis(x, Qt::AlignBottom);
  chart->addAxis(y, Qt::AlignLeft);
  std::int64_t top = 1;
  for (int line = 0; line < history::kLineCount; ++line) {
    auto* series = new QLineSeries();
    series->setName(history::SeriesLineName(static_cast<history::SeriesLine>(line)));
    series->setPointsVisible(true);
    for (const history::SeriesPoint& p : points) {
      const std::int64_t v = history::SeriesValue(p, static_cast<history::SeriesLine>(line));
      top = std::max(top, v);
      series->append(static_cast<qreal>(series->count()), static_cast<qreal>(v));
    }
    chart->addSeries(series);
    series->attachAxis(x);
    series->attachAxis(y);
  }
  x->setRange(-0.5, std::max<qreal>(0.5, static_cast<qreal>(points.size()) - 0.5));
  y->setRange(0, static_cast<qreal>(top + top / 10 + 1));
  QChart* old = chart_->chart();
  chart_->setChart(chart);
  delete old;
}

void HistoryTab::Compare() {
  history::HistoryStore* store = OpenStore();
  if (!store || older_->currentIndex() < 0 || newer_->currentIndex() < 0) return;
  const std::int64_t a = older_->currentData().toLongLong(), b = newer_->currentData().toLongLong();
  const auto rows = store->Compare(a, b, ToGbk(domains_->currentText()));
  if (!rows) {
    Say(QStringLiteral("无法比较：") + QString::fromStdString(ChineseReason(store->LastError())));
    return;
  }
  table_->horizontalHeader()->setSortIndicator(-1, Qt::AscendingOrder);
  model_->SetRows(*rows);
  export_->setEnabled(true);
  Say(QStringLiteral("运行 %1 与 %2：%3 个关键字").arg(a).arg(b).arg(rows->size()));
}

void HistoryTab::ExportComparison() {
  SaveDialogSpec spec;
  spec.title = QStringLiteral("导出比较");
  spec.filter = kCsvOrWorkbook;
  spec.defaultSuffix = QStringLiteral("csv");
  spec.encoding = &window_.exportEncoding;
  const QString file = AskSaveFileName(&window_, spec);
  if (file.isEmpty()) return;
  // As the table shows it: in its current order.
  const std::string path = ToGbk(file);
  ExportContent content = ComparisonExport(model_->Rows(), path);
  content.encoding = window_.exportEncoding;
  int error = 0;
  std::string reason;
  if (!WriteExport(path, content, &error, &reason, nullptr))
    ShowMessageBox(ExportFailedText(path, error, reason), kMbOk, G("信息："));
}

void HistoryTab::ExportDomainHistory() {
  history::HistoryStore* store = history_.Store();
  if (domains_->currentIndex() < 0 || !store || !store->IsOpen()) return;
  const std::string domain = ToGbk(domains_->currentText());
  SaveDialogSpec spec;
  spec.title = QStringLiteral("导出全部历史");
  spec.filter = kCsvOrWorkbook;
  spec.defaultSuffix = QStringLiteral("csv");
  spec.encoding = &window_.exportEncoding;
  const QDate today = QDate::currentDate();
  spec.suggestedName =
      FromGbk(SuggestedExportName(domain + G("_历史"), today.year(), today.month(), today.day(), "csv"));
  const QString file = AskSaveFileName(&window_, spec);
  if (file.isEmpty()) return;
  const std::string path = ToGbk(file);
  std::string reason;
  auto rows = history::ReadDomainHistory(*store, domain, QDate(), QDate(), reason);
  if (!rows) {
    ShowMessageBox(ExportFailedText(path, 0, reason), kMbOk, G("信息："));
    return;
  }
  const std::size_t count = rows->size();
  ExportContent content = DomainHistoryExport(std::move(*rows), path);
  content.encoding = window_.exportEncoding;
  int error = 0;
  if (!WriteExport(path, content, &error, &reason, nullptr))
    ShowMessageBox(ExportFailedText(path, error, reason), kMbOk, G("信息："));
  else
    Say(QStringLiteral("已导出 %1 行").arg(count));
}

void HistoryTab::LoadIntoRankList() {
  QTreeWidgetItem* item = runs_->currentItem();
  history::HistoryStore* store = OpenStore();
  if (!item || !store) return;
  if (!item->data(0, Qt::UserRole).toBool()) {
    ShowMessageBox(G("只有排名运行可以载入到排名列表！"), kMbOk, G("信息："));
    return;
  }
  if (rank_.Running()) {
    ShowMessageBox(G("正在采集，请先停止！"), kMbOk, G("信息："));
    return;
  }
  const std::int64_t id = item->text(0).toLongLong();
  const auto rows = store->LoadRankRows(id);
  if (!rows) {
    Say(QStringLiteral("无法载入：") + QString::fromStdString(ChineseReason(store->LastError())));
    return;
  }
  list_.Clear();
  for (const history::RankCells& cells : *rows) {
    const int r = list_.AppendRow(cells[0]);
    for (int c = 1; c < static_cast<int>(cells.size()); ++c) list_.SetCellText(r, c, cells[c]);
  }
  window_.SetStatusText(QStringLiteral("已载入运行 %1：%2 行").arg(id).arg(rows->size()));
}

}  // namespace lanshu
