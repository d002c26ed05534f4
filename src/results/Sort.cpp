#include "results/Sort.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <functional>
#include <iterator>
#include <numeric>
#include <string>
#include <utility>
#include <vector>

#include "text/Codec.h"
#include "hooks/Events.h"
#include "text/Numbers.h"

namespace lanshu {
namespace {

constexpr double kTolerance = 1e-7;

// Sorts under way. A sort started from the window events that another sort
// processes marks the outer sorts of the same list: their keys may be stale,
// so they read the list again before they reorder it.
struct ActiveSort {
  const ResultTable* list;
  bool disturbed;
};
std::vector<ActiveSort*>& ActiveSorts() {
  static std::vector<ActiveSort*> sorts;
  return sorts;
}

class SortScope {
 public:
  explicit SortScope(const ResultTable& list) : self_{&list, false} {
    for (ActiveSort* outer : ActiveSorts())
      if (outer->list == &list) outer->disturbed = true;
    ActiveSorts().push_back(&self_);
  }
  ~SortScope() {
    auto& sorts = ActiveSorts();
    sorts.erase(std::find(sorts.begin(), sorts.end(), &self_));
  }
  SortScope(const SortScope&) = delete;
  SortScope& operator=(const SortScope&) = delete;
  // True once since the last call when a nested sort touched the list.
  bool TakeDisturbed() { return std::exchange(self_.disturbed, false); }

 private:
  ActiveSort self_;
};

std::vector<int> Identity(std::size_t n) {
  std::vector<int> rows(n);
  std::iota(rows.begin(), rows.end(), 0);
  return rows;
}

// std::sort in blocks, then merges, processing window events after each step
// so that a long list never holds the window for long.
template <class T, class Less>
void SortProcessingEvents(std::vector<T>& items, Less less) {
  constexpr std::size_t kBlock = 8192;
  const std::size_t n = items.size();
  for (std::size_t lo = 0; lo < n; lo += kBlock) {
    std::sort(items.begin() + lo, items.begin() + std::min(n, lo + kBlock), less);
    ProcessPendingEvents();
  }
  for (std::size_t width = kBlock; width < n; width *= 2) {
    for (std::size_t lo = 0; lo + width < n; lo += 2 * width) {
      std::inplace_merge(items.begin() + lo, items.begin() + lo + width, items.begin() + std::min(n, lo + 2 * width),
                         less);
      ProcessPendingEvents();
    }
  }
}

// The first eight bytes of a key, big-endian, so most comparisons need no
// access to the texts themselves.
std::uint64_t Prefix(const std::string& key) {
  std::uint64_t p = 0;
  for (std::size_t i = 0; i < 8; ++i)
    p = (p << 8) | (i < key.size() ? static_cast<unsigned char>(key[i]) : 0u);
  return p;
}

// Equal text keys come out as the selection leaves them: the later row first.
std::vector<int> TextOrder(const std::vector<std::string>& keys, bool ascending) {
  struct Item {
    std::uint64_t prefix;
    int row;
  };
  std::vector<Item> items(keys.size());
  for (std::size_t r = 0; r < keys.size(); ++r) items[r] = {Prefix(keys[r]), static_cast<int>(r)};
  SortProcessingEvents(items, [&](const Item& a, const Item& b) {
    int c = a.prefix < b.prefix ? -1 : a.prefix > b.prefix ? 1 : 0;
    if (c == 0) c = keys[a.row].compare(keys[b.row]);
    if (c != 0) return ascending ? c < 0 : c > 0;
    return a.row > b.row;
  });
  std::vector<int> order(items.size());
  for (std::size_t i = 0; i < items.size(); ++i) order[i] = items[i].row;
  return order;
}

// The selection itself: repeatedly takes the last row whose key is smallest
// (largest) within the tolerance. rows come in their previous order.
void Select(const std::vector<double>& value, std::vector<int> rows, bool ascending, std::vector<int>& out) {
  while (rows.size() >= 2) {
    std::size_t best = 0;
    for (std::size_t i = 1; i < rows.size(); ++i) {
      const double d = value[rows[best]] - value[rows[i]];
      if (ascending ? d >= -kTolerance : d <= kTolerance) best = i;
    }
    out.push_back(rows[best]);
    rows.erase(rows.begin() + static_cast<std::ptrdiff_t>(best));
    ProcessPendingEvents();
  }
  if (!rows.empty()) out.push_back(rows.front());
}

// Numbers fall into clusters separated by gaps wider than the tolerance; the
// selection never takes a row of a later cluster while one of an earlier
// cluster is left, so clusters can be ordered on their own. Within a cluster
// whose span is within the tolerance all keys are equal and the later row
// comes first. A cluster chained by near values (a ~ b ~ c but not a ~ c) has
// no such shortcut and runs the selection.
std::vector<int> NumericOrder(const std::vector<double>& value, bool ascending) {
  std::vector<int> order;
  order.reserve(value.size());
  if (std::any_of(value.begin(), value.end(), [](double v) { return std::isnan(v); })) {
    Select(value, Identity(value.size()), ascending, order);
    return order;
  }
  // By value, equal values later row first.
  std::vector<int> rows = Identity(value.size());
  SortProcessingEvents(rows, [&](int a, int b) { return value[a] < value[b] || (value[a] == value[b] && a > b); });

  std::vector<std::pair<std::size_t, std::size_t>> clusters;  // [begin, end) in rows
  for (std::size_t i = 0; i < rows.size(); ++i) {
    if (i == 0 || value[rows[i]] - value[rows[i - 1]] > kTolerance) clusters.emplace_back(i, i);
    clusters.back().second = i + 1;
  }
  if (!ascending) std::reverse(clusters.begin(), clusters.end());
  for (const auto& [begin, end] : clusters) {
    const auto first = rows.begin() + static_cast<std::ptrdiff_t>(begin);
    const auto last = rows.begin() + static_cast<std::ptrdiff_t>(end);
    const double low = value[*first], high = value[*(last - 1)];
    if (low == high && std::isinf(low)) {
      // Equal infinities: their difference is no number, so none ever
      // replaces the first one and they keep their order.
      order.insert(order.end(), std::make_reverse_iterator(last), std::make_reverse_iterator(first));
    } else if (high - low <= kTolerance) {
      if (low != high) std::sort(first, last, std::greater<int>());
      order.insert(order.end(), first, last);
    } else {
      std::vector<int> chained(first, last);
      std::sort(chained.begin(), chained.end());
      Select(value, chained, ascending, order);
    }
  }
  return order;
}

}  // namespace

bool RankPosition(const std::string& text, double& position) {
  static const std::string kDi = Utf8TextToGbk("第"), kPage = Utf8TextToGbk("页"), kPlace = Utf8TextToGbk("位");
  const std::string s = FullWidthToHalfWidth(text);
  std::size_t i = 0, end = s.size();
  while (i < end && s[i] == ' ') ++i;
  while (end > i && s[end - 1] == ' ') --end;
  // Digits from i on, at most nine of them (no position comes near that).
  auto number = [&](long long& value) {
    const std::size_t from = i;
    value = 0;
    while (i < end && s[i] >= '0' && s[i] <= '9' && i - from < 9) value = value * 10 + (s[i++] - '0');
    return i > from && !(i < end && s[i] >= '0' && s[i] <= '9');
  };
  auto word = [&](const std::string& w) {
    if (s.compare(i, w.size(), w) != 0 || i + w.size() > end) return false;
    i += w.size();
    return true;
  };
  long long page = 0, place = 0;
  if (number(place) && i == end) {
    position = static_cast<double>(place);
    return true;
  }
  i = 0;
  while (i < end && s[i] == ' ') ++i;
  if (word(kDi) && number(page) && word(kPage) && word(kDi) && number(place) && word(kPlace) && i == end) {
    position = static_cast<double>((page - 1) * 10 + place);
    return true;
  }
  return false;
}

SortKind RankColumnSortKind(int column) {
  if (column == 0 || column == 4 || column == 5) return SortKind::kNumber;
  if (column == 3) return SortKind::kPosition;
  return SortKind::kText;
}

namespace {

// Texts without a position follow all positions, each part ordered on its own.
std::vector<int> PositionOrder(const std::vector<std::string>& keys, bool ascending) {
  std::vector<int> placed, other;
  std::vector<double> positions;
  std::vector<std::string> texts;
  for (std::size_t r = 0; r < keys.size(); ++r) {
    double position = 0;
    if (RankPosition(keys[r], position)) {
      placed.push_back(static_cast<int>(r));
      positions.push_back(position);
    } else {
      other.push_back(static_cast<int>(r));
      texts.push_back(GbkToUpperAscii(keys[r]));
    }
  }
  std::vector<int> order;
  order.reserve(keys.size());
  for (int i : NumericOrder(positions, ascending)) order.push_back(placed[i]);
  for (int i : TextOrder(texts, ascending)) order.push_back(other[i]);
  return order;
}

}  // namespace

void SortReportList(ResultTable& list, int column, bool ascending, SortKind kind) {
  if (column < 0 || column > list.ColumnCount() - 1) return;
  SortScope scope(list);
  std::vector<int> order;
  for (;;) {
    scope.TakeDisturbed();
    const int rows = list.RowCount();
    std::vector<std::string> texts;
    std::vector<double> values;
    if (kind == SortKind::kNumber)
      values.reserve(rows);
    else
      texts.reserve(rows);
    for (int r = 0; r < rows; ++r) {
      std::string key = list.CellText(r, column);
      if (kind == SortKind::kNumber)
        values.push_back(ToGroupedNumber(key));
      else if (kind == SortKind::kText)
        texts.push_back(GbkToUpperAscii(std::move(key)));
      else
        texts.push_back(std::move(key));
      ProcessPendingEvents();
    }
    switch (kind) {
      case SortKind::kNumber: order = NumericOrder(values, ascending); break;
      case SortKind::kText: order = TextOrder(texts, ascending); break;
      case SortKind::kPosition: order = PositionOrder(texts, ascending); break;
    }
    ProcessPendingEvents();
    // Rows removed or another sort of this list while events were processed:
    // the keys no longer describe the list.
    if (!scope.TakeDisturbed() && list.RowCount() >= rows) break;
  }
  list.ReorderRows(order);
  ProcessPendingEvents();
}

void SortReportList(ResultTable& list, int column, bool ascending, bool numeric) {
  SortReportList(list, column, ascending, numeric ? SortKind::kNumber : SortKind::kText);
}

void OnRankListHeaderClick(ResultTable& list, int column, bool& sortAscending) {
  if (list.RowCount() == 0) return;
  sortAscending = !sortAscending;
  SortReportList(list, column, sortAscending, RankColumnSortKind(column));
}

}  // namespace lanshu
