// Link conversion of one ranking page: a demo page of 20 rows whose
// redirect links answer after 100 ms, parsed with 转换百度链接 on, its links
// resolved together (at most 8 at once) and, for comparison, one after
// another. Target: at most 0.4 s per page together. Prints its figures.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "demo/DemoContent.h"
#include "demo/DemoSite.h"
#include "rank/RankQuery.h"
#include "results/MemoryTable.h"
#include "text/Codec.h"
#include "web/RedirectResolver.h"

namespace {

using Clock = std::chrono::steady_clock;

std::vector<std::string> Titles() {
  std::vector<std::string> titles;
  for (const char* t : {"序号", "域名", "关键字", "排名", "搜索量", "收录量", "网页标题", "链接"})
    titles.push_back(lanshu::Utf8TextToGbk(t));
  return titles;
}

class Ui : public lanshu::RankUi {
 public:
  lanshu::MemoryTable table{Titles()};
  std::string StartCaption() const override { return lanshu::Utf8TextToGbk("停止"); }
  void SetStartCaption(const std::string&) override {}
  std::string DomainText() const override { return "bench.example"; }
  int SortIndex() const override { return 0; }
  void SetStatusText(const std::string&) override {}
  bool FilterDuplicates() const override { return false; }
  bool ConvertLinks() const override { return true; }
  lanshu::ResultTable& List() override { return table; }
};

class NoLoader : public lanshu::PageLoader {
 public:
  void Navigate(const std::string&) override {}
  std::string DocumentHtml() override { return std::string(); }
};

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

}  // namespace

int main() {
  lanshu::demo::Options options;
  options.rankRowsPerPage = 20;
  options.delayMs = 100;
  lanshu::demo::DemoSite site(options);
  if (!site.Start()) return 1;
  const std::string base = site.BaseUrl();
  const std::string html = lanshu::demo::RankPageHtml(base, "bench.example", 1, "position", options);

  std::vector<double> together, oneByOne;
  std::string first;
  for (int round = 0; round < 5; ++round) {
    for (bool concurrent : {true, false}) {
      Ui ui;
      NoLoader loader;
      lanshu::RankQuery query(ui, loader, base, base);
      query.currentDomain = "bench.example";
      query.resolveLink = [](const std::string& link) { return lanshu::ResolveRedirectLink(link); };
      if (concurrent)
        query.resolveLinks = [](const std::vector<std::string>& links, const std::function<bool()>& stopped) {
          return lanshu::ResolveRedirectLinks(links, 8, stopped);
        };
      const Clock::time_point start = Clock::now();
      query.ParseRankPage(html);
      const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
      (concurrent ? together : oneByOne).push_back(seconds);
      // Both ways list the same rows.
      std::string cells;
      for (int r = 0; r < ui.table.RowCount(); ++r) cells += ui.table.CellText(r, 7) + "\n";
      if (ui.table.RowCount() != 20 || (!first.empty() && cells != first)) {
        std::printf("the two ways listed different rows\n");
        return 1;
      }
      first = cells;
    }
  }
  std::printf("20-row page, redirect links answering after 100 ms (target together <= 400 ms):\n");
  std::printf("  together (8 at once): median %.1f ms, worst %.1f ms\n", Median(together) * 1000,
              *std::max_element(together.begin(), together.end()) * 1000);
  std::printf("  one after another:    median %.1f ms\n", Median(oneByOne) * 1000);
  site.Stop();
  return 0;
}
