#pragma once
// A domain's whole rank history in long form: one row per run and keyword,
// runs oldest first, with the run's start in every row, for a spreadsheet.
#include <QDate>
#include <QDateTime>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "history/HistoryStore.h"

namespace lanshu::history {

struct DomainHistoryRow {
  QDateTime started;  // the run's start (UTC)
  DomainRow row;
};

// The columns: 日期,域名,关键字,排名,位置,搜索量,收录量,网页标题,链接 (GBK).
enum DomainHistoryColumn { kHistDate = 0, kHistDomain, kHistKeyword, kHistRank, kHistPosition, kHistVolume,
                           kHistIndexed, kHistTitle, kHistLink, kHistColumns };
std::vector<std::string> DomainHistoryTitles();

// A cell as the CSV holds it before quoting (GBK): 日期 is the run's local
// start as YYYY-MM-DD HH:MM, 位置 the number or empty, the rest the list's
// cells.
std::string DomainHistoryCell(const DomainHistoryRow& row, int column);

// The long form as CSV (GBK): the header, "\r\n", then the rows joined by
// "\r\n", each cell through CsvCell.
std::string DomainHistoryCsv(const std::vector<DomainHistoryRow>& rows);

// Keeps one row per keyword of a run: the one with the best position (a
// row without one ranks below every numbered one; the first listed of
// equals), at its own place in the run's order.
std::vector<DomainRow> OneRowPerKeyword(std::vector<DomainRow> rows);

// The rows of domain in its rank runs started from `since` to `until`
// (local days, both included; an invalid date leaves that end open), runs
// oldest first. None with a short English reason when the store fails or
// holds no such run.
std::optional<std::vector<DomainHistoryRow>> ReadDomainHistory(HistoryStore& store, const std::string& domain,
                                                                const QDate& since, const QDate& until,
                                                                std::string& reason);

}  // namespace lanshu::history
