#include "history/HistoryViews.h"

#include <algorithm>

#include "text/Codec.h"

namespace lanshu::history {
namespace {

QString FromGbk(const std::string& gbk) { return QString::fromStdU16String(GbkToU16(gbk)); }

}  // namespace

QStringList RunListHeader() {
  return {QStringLiteral("编号"), QStringLiteral("时间"), QStringLiteral("类型"), QStringLiteral("域名或关键词"),
          QStringLiteral("行数"), QStringLiteral("未成功页"), QStringLiteral("结束")};
}

QString EndingText(Ending ending) {
  switch (ending) {
    case Ending::kFinished: return QStringLiteral("完成");
    case Ending::kStopped: return QStringLiteral("已停止");
    case Ending::kBlocked: return QStringLiteral("需登录或验证");
    case Ending::kFailed: return QStringLiteral("失败");
    case Ending::kAbandoned: return QStringLiteral("已放弃");
    case Ending::kUnfinished: break;
  }
  return QStringLiteral("未完成");
}

QStringList RunListTexts(const RunInfo& run) {
  QStringList targets;
  for (const std::string& t : run.targets) targets << FromGbk(t);
  return {QString::number(run.id),
          run.started.toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm")),
          run.kind == RunKind::kRank ? QStringLiteral("排名") : QStringLiteral("挖掘"),
          targets.join(QLatin1Char('|')),
          QString::number(run.rows),
          QString::number(run.pagesNotOk),
          EndingText(run.ending)};
}

std::vector<std::string> RankDomains(const std::vector<RunInfo>& runs) {
  std::vector<std::string> domains;
  for (const RunInfo& run : runs)
    if (run.kind == RunKind::kRank) domains.insert(domains.end(), run.targets.begin(), run.targets.end());
  std::sort(domains.begin(), domains.end());
  domains.erase(std::unique(domains.begin(), domains.end()), domains.end());
  return domains;
}

QString SeriesLineName(SeriesLine line) {
  switch (line) {
    case kLineKeywords: return QStringLiteral("关键字数");
    case kLineTop10: return QStringLiteral("第1-10位");
    case kLine11to50: return QStringLiteral("第11-50位");
    default: break;
  }
  return QStringLiteral("50位以后");
}

std::int64_t SeriesValue(const SeriesPoint& p, SeriesLine line) {
  switch (line) {
    case kLineKeywords: return p.keywords;
    case kLineTop10: return p.top10;
    case kLine11to50: return p.top11to50;
    default: break;
  }
  return p.beyond;
}

void ComparisonModel::SetRows(std::vector<ComparisonRow> rows) {
  beginResetModel();
  rows_ = std::move(rows);
  endResetModel();
}

int ComparisonModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

int ComparisonModel::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : 5; }

QVariant ComparisonModel::data(const QModelIndex& index, int role) const {
  if (role != Qt::DisplayRole || !index.isValid() || index.row() >= static_cast<int>(rows_.size()))
    return QVariant();
  const ComparisonRow& r = rows_[static_cast<size_t>(index.row())];
  switch (index.column()) {
    case kColKeyword: return FromGbk(r.keyword);
    case kColOldRank: return FromGbk(r.oldRank);
    case kColNewRank: return FromGbk(r.newRank);
    case kColChange: return FromGbk(ChangeText(r.change));
    case kColVolume: return FromGbk(r.volume);
    default: break;
  }
  return QVariant();
}

QVariant ComparisonModel::headerData(int section, Qt::Orientation orientation, int role) const {
  static const char* const kTitles[] = {"关键字", "旧排名", "新排名", "变化", "搜索量"};
  if (orientation != Qt::Horizontal || role != Qt::DisplayRole || section < 0 || section >= 5) return QVariant();
  return QString::fromUtf8(kTitles[section]);
}

void ComparisonModel::sort(int column, Qt::SortOrder order) {
  if (column < 0 || column >= 5) return;
  emit layoutAboutToBeChanged();
  SortComparison(rows_, static_cast<ComparisonColumn>(column), order == Qt::AscendingOrder);
  emit layoutChanged();
}

}  // namespace lanshu::history
