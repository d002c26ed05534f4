#include "history/Comparison.h"

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <unordered_map>

#include "text/Codec.h"
#include "text/Csv.h"

namespace lanshu::history {
namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Reads the digits at pos into value; false when there are none or too many.
bool ReadNumber(const std::string& s, std::size_t& pos, long long& value) {
  const std::size_t start = pos;
  value = 0;
  while (pos < s.size() && IsDigit(s[pos])) {
    if (pos - start >= 9) return false;
    value = value * 10 + (s[pos] - '0');
    ++pos;
  }
  return pos > start;
}

bool TakeLiteral(const std::string& s, std::size_t& pos, const std::string& literal) {
  if (s.compare(pos, literal.size(), literal) != 0) return false;
  pos += literal.size();
  return true;
}

std::string TrimAscii(const std::string& s) {
  std::size_t b = 0, e = s.size();
  while (b < e && (s[b] == ' ' || s[b] == '\t' || s[b] == '\r' || s[b] == '\n')) ++b;
  while (e > b && (s[e - 1] == ' ' || s[e - 1] == '\t' || s[e - 1] == '\r' || s[e - 1] == '\n')) --e;
  return s.substr(b, e - b);
}

// 搜索量 as a number: digits with "," or "，" between them; none when the cell
// does not start with a digit.
std::optional<long long> VolumeNumber(const std::string& cell) {
  static const std::string comma = Utf8TextToGbk("，");
  const std::string s = TrimAscii(cell);
  long long value = 0;
  bool any = false;
  for (std::size_t i = 0; i < s.size();) {
    if (IsDigit(s[i])) {
      if (value > LLONG_MAX / 10 - 10) return std::nullopt;
      value = value * 10 + (s[i] - '0');
      any = true;
      ++i;
    } else if (any && s[i] == ',') {
      ++i;
    } else if (any && s.compare(i, comma.size(), comma) == 0) {
      i += comma.size();
    } else {
      break;
    }
  }
  if (!any) return std::nullopt;
  return value;
}

// Positions compare with "none" after every number, whatever the direction.
int ComparePositions(const std::optional<int>& a, const std::optional<int>& b) {
  if (a && b) return *a < *b ? -1 : (*a > *b ? 1 : 0);
  if (a) return -1;
  if (b) return 1;
  return 0;
}

int ChangeRank(Change c) {
  switch (c) {
    case Change::kNew: return 0;
    case Change::kUp: return 1;
    case Change::kDown: return 2;
    case Change::kSame: return 3;
    case Change::kLost: return 4;
  }
  return 5;
}

// Best entry per keyword, in first-seen order.
std::vector<const KeywordEntry*> BestPerKeyword(const std::vector<KeywordEntry>& entries,
                                                std::unordered_map<std::string_view, std::size_t>& index) {
  std::vector<const KeywordEntry*> best;
  best.reserve(entries.size());
  index.reserve(entries.size());
  for (const KeywordEntry& e : entries) {
    auto [it, added] = index.emplace(e.keyword, best.size());
    if (added) {
      best.push_back(&e);
    } else if (ComparePositions(e.position, best[it->second]->position) < 0) {
      best[it->second] = &e;
    }
  }
  return best;
}

}  // namespace

std::optional<int> PositionOf(const std::string& rankCell) {
  static const std::string di = Utf8TextToGbk("第"), ye = Utf8TextToGbk("页"), wei = Utf8TextToGbk("位");
  const std::string s = TrimAscii(rankCell);
  std::size_t pos = 0;
  long long n = 0, m = 0;
  if (ReadNumber(s, pos, n) && pos == s.size()) return static_cast<int>(n);
  pos = 0;
  if (TakeLiteral(s, pos, di) && ReadNumber(s, pos, n) && n >= 1 && TakeLiteral(s, pos, ye) &&
      TakeLiteral(s, pos, di) && ReadNumber(s, pos, m) && TakeLiteral(s, pos, wei) && pos == s.size())
    return static_cast<int>((n - 1) * 10 + m);
  return std::nullopt;
}

std::string ChangeText(Change change) {
  static const std::string texts[5] = {Utf8TextToGbk("新增"), Utf8TextToGbk("消失"), Utf8TextToGbk("上升"),
                                       Utf8TextToGbk("下降"), Utf8TextToGbk("不变")};
  return texts[static_cast<int>(change)];
}

std::vector<ComparisonRow> CompareEntries(const std::vector<KeywordEntry>& older,
                                          const std::vector<KeywordEntry>& newer) {
  std::unordered_map<std::string_view, std::size_t> oldIndex, newIndex;
  const std::vector<const KeywordEntry*> oldBest = BestPerKeyword(older, oldIndex);
  const std::vector<const KeywordEntry*> newBest = BestPerKeyword(newer, newIndex);

  std::vector<ComparisonRow> rows;
  rows.reserve(oldBest.size() + newBest.size());
  for (const KeywordEntry* n : newBest) {
    ComparisonRow row;
    row.keyword = n->keyword;
    row.newRank = n->rankText;
    row.newPosition = n->position;
    row.volume = n->volume;
    const auto it = oldIndex.find(n->keyword);
    if (it == oldIndex.end()) {
      row.change = Change::kNew;
    } else {
      const KeywordEntry* o = oldBest[it->second];
      row.oldRank = o->rankText;
      row.oldPosition = o->position;
      const int c = ComparePositions(n->position, o->position);
      row.change = c < 0 ? Change::kUp : (c > 0 ? Change::kDown : Change::kSame);
    }
    rows.push_back(std::move(row));
  }
  for (const KeywordEntry* o : oldBest) {
    if (newIndex.count(o->keyword)) continue;
    ComparisonRow row;
    row.keyword = o->keyword;
    row.oldRank = o->rankText;
    row.oldPosition = o->position;
    row.volume = o->volume;
    row.change = Change::kLost;
    rows.push_back(std::move(row));
  }
  DefaultComparisonOrder(rows);
  return rows;
}

void SortComparison(std::vector<ComparisonRow>& rows, ComparisonColumn column, bool ascending) {
  // Rows without a value stay last in both directions, so only the order of
  // the values themselves turns round.
  auto directed = [ascending](int c) { return ascending ? c : -c; };
  switch (column) {
    case kColKeyword:
      std::stable_sort(rows.begin(), rows.end(), [&](const ComparisonRow& a, const ComparisonRow& b) {
        return directed(a.keyword.compare(b.keyword)) < 0;
      });
      break;
    case kColOldRank:
    case kColNewRank: {
      const bool old = column == kColOldRank;
      std::stable_sort(rows.begin(), rows.end(), [&](const ComparisonRow& a, const ComparisonRow& b) {
        const std::optional<int>& pa = old ? a.oldPosition : a.newPosition;
        const std::optional<int>& pb = old ? b.oldPosition : b.newPosition;
        if (pa && pb) return directed(ComparePositions(pa, pb)) < 0;
        return ComparePositions(pa, pb) < 0;
      });
      break;
    }
    case kColChange:
      std::stable_sort(rows.begin(), rows.end(), [&](const ComparisonRow& a, const ComparisonRow& b) {
        return directed(ChangeRank(a.change) - ChangeRank(b.change)) < 0;
      });
      break;
    case kColVolume: {
      using Key = std::pair<std::optional<long long>, std::size_t>;
      std::vector<Key> keys;
      keys.reserve(rows.size());
      for (std::size_t i = 0; i < rows.size(); ++i) keys.emplace_back(VolumeNumber(rows[i].volume), i);
      std::stable_sort(keys.begin(), keys.end(), [&](const Key& a, const Key& b) {
        if (a.first && b.first) return ascending ? (*a.first < *b.first) : (*b.first < *a.first);
        return a.first.has_value() && !b.first.has_value();
      });
      std::vector<ComparisonRow> sorted;
      sorted.reserve(rows.size());
      for (const auto& k : keys) sorted.push_back(std::move(rows[k.second]));
      rows.swap(sorted);
      break;
    }
  }
}

void DefaultComparisonOrder(std::vector<ComparisonRow>& rows) {
  std::sort(rows.begin(), rows.end(), [](const ComparisonRow& a, const ComparisonRow& b) {
    if (int c = ComparePositions(a.newPosition, b.newPosition)) return c < 0;
    if (int c = ComparePositions(a.oldPosition, b.oldPosition)) return c < 0;
    return a.keyword < b.keyword;
  });
}

std::string ComparisonCsv(const std::vector<ComparisonRow>& rows) {
  static const std::string header = Utf8TextToGbk("关键字,旧排名,新排名,变化,搜索量");
  std::string out = header + "\r\n";
  out.reserve(out.size() + rows.size() * 48);
  bool first = true;
  for (const ComparisonRow& r : rows) {
    if (!first) out += "\r\n";
    first = false;
    out += CsvCell(r.keyword);
    out += ',';
    out += CsvCell(r.oldRank);
    out += ',';
    out += CsvCell(r.newRank);
    out += ',';
    out += ChangeText(r.change);
    out += ',';
    out += CsvCell(r.volume);
  }
  return out;
}

std::vector<std::string> ComparisonTitles() {
  std::vector<std::string> titles;
  for (const char* t : {"关键字", "旧排名", "新排名", "变化", "搜索量"}) titles.push_back(Utf8TextToGbk(t));
  return titles;
}

std::vector<std::vector<std::string>> ComparisonCells(const std::vector<ComparisonRow>& rows) {
  std::vector<std::vector<std::string>> cells;
  cells.reserve(rows.size());
  for (const ComparisonRow& r : rows) cells.push_back({r.keyword, r.oldRank, r.newRank, ChangeText(r.change), r.volume});
  return cells;
}

std::vector<ComparisonRow> NotableChanges(const std::vector<ComparisonRow>& rows, int places) {
  const auto top10 = [](const std::optional<int>& p) { return p && *p <= 10; };
  std::vector<ComparisonRow> out;
  for (const ComparisonRow& row : rows) {
    const bool crossed = top10(row.oldPosition) != top10(row.newPosition);
    const bool moved = places > 0 && row.oldPosition && row.newPosition &&
                       std::abs(*row.newPosition - *row.oldPosition) >= places;
    if (crossed || moved) out.push_back(row);
  }
  return out;
}

}  // namespace lanshu::history
