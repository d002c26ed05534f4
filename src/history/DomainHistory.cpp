#include "history/DomainHistory.h"

#include <algorithm>
#include <unordered_map>

#include "text/Codec.h"
#include "text/Csv.h"

namespace lanshu::history {

std::vector<std::string> DomainHistoryTitles() {
  std::vector<std::string> titles;
  for (const char* t : {"日期", "域名", "关键字", "排名", "位置", "搜索量", "收录量", "网页标题", "链接"})
    titles.push_back(Utf8TextToGbk(t));
  return titles;
}

std::string DomainHistoryCell(const DomainHistoryRow& r, int column) {
  // The list's cells: 序号 0, 域名 1, 关键字 2, 排名 3, 搜索量 4, 收录量 5, 网页标题 6, 链接 7.
  switch (column) {
    case kHistDate:
      return r.started.toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm")).toStdString();
    case kHistDomain: return r.row.cells[1];
    case kHistKeyword: return r.row.cells[2];
    case kHistRank: return r.row.cells[3];
    case kHistPosition: return r.row.position ? std::to_string(*r.row.position) : std::string();
    case kHistVolume: return r.row.cells[4];
    case kHistIndexed: return r.row.cells[5];
    case kHistTitle: return r.row.cells[6];
    case kHistLink: return r.row.cells[7];
    default: return std::string();
  }
}

std::string DomainHistoryCsv(const std::vector<DomainHistoryRow>& rows) {
  std::string out = CsvLine(DomainHistoryTitles()) + "\r\n";
  std::vector<std::string> cells(kHistColumns);
  for (std::size_t i = 0; i < rows.size(); ++i) {
    for (int c = 0; c < kHistColumns; ++c) cells[c] = DomainHistoryCell(rows[i], c);
    if (i) out += "\r\n";
    out += CsvLine(cells);
  }
  return out;
}

std::vector<DomainRow> OneRowPerKeyword(std::vector<DomainRow> rows) {
  const auto better = [](const std::optional<int>& a, const std::optional<int>& b) { return a && (!b || *a < *b); };
  std::unordered_map<std::string, std::size_t> best;
  for (std::size_t i = 0; i < rows.size(); ++i) {
    auto [at, added] = best.emplace(rows[i].cells[2], i);
    if (!added && better(rows[i].position, rows[at->second].position)) at->second = i;
  }
  std::vector<DomainRow> kept;
  kept.reserve(best.size());
  for (std::size_t i = 0; i < rows.size(); ++i)
    if (best[rows[i].cells[2]] == i) kept.push_back(std::move(rows[i]));
  return kept;
}

std::optional<std::vector<DomainHistoryRow>> ReadDomainHistory(HistoryStore& store, const std::string& domain,
                                                                const QDate& since, const QDate& until,
                                                                std::string& reason) {
  auto runs = store.RunsOfDomain(domain);
  if (!runs) return reason = store.LastError(), std::nullopt;
  // Days are the user's: a run belongs to the local day it started on.
  runs->erase(std::remove_if(runs->begin(), runs->end(),
                             [&](const RunInfo& run) {
                               const QDate day = run.started.toLocalTime().date();
                               return (since.isValid() && day < since) || (until.isValid() && day > until);
                             }),
              runs->end());
  if (runs->empty()) {
    const auto day = [](const QDate& d) { return d.toString(Qt::ISODate).toStdString(); };
    if (since.isValid() && until.isValid())
      reason = "no rank run from " + day(since) + " to " + day(until);
    else if (since.isValid())
      reason = "no rank run since " + day(since);
    else if (until.isValid())
      reason = "no rank run until " + day(until);
    else
      reason = "no rank run in the history";
    return std::nullopt;
  }
  std::sort(runs->begin(), runs->end(), [](const RunInfo& a, const RunInfo& b) {
    return a.started != b.started ? a.started < b.started : a.id < b.id;
  });
  std::vector<DomainHistoryRow> out;
  for (const RunInfo& run : *runs) {
    auto rows = store.LoadDomainRows(run.id, domain);
    if (!rows) return reason = store.LastError(), std::nullopt;
    for (DomainRow& row : OneRowPerKeyword(std::move(*rows))) out.push_back({run.started, std::move(row)});
  }
  return out;
}

}  // namespace lanshu::history
