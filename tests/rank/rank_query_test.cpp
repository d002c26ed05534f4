#include "rank/RankQuery.h"

#include <gtest/gtest.h>

#include <algorithm>

#include <map>
#include <random>

#include "TestSupport.h"
#include "results/Export.h"
#include "results/MemoryTable.h"
#include "text/Codec.h"
#include "hooks/Events.h"
#include "hooks/MessageBox.h"
#include "text/Regex.h"

using namespace lanshu;

namespace {

std::string G(const char* utf8) { return Utf8TextToGbk(utf8); }

class FakeUi : public RankUi {
 public:
  std::string caption = G("开始采集");
  std::string domains;
  int sort = 0;
  std::vector<std::string> statuses;
  bool filter = false, convert = false;
  MemoryTable table{{"序号", "域名", "关键字", "排名", "搜索量", "收录量", "网页标题", "链接"}};
  std::string StartCaption() const override { return caption; }
  void SetStartCaption(const std::string& c) override { caption = c; }
  std::string DomainText() const override { return domains; }
  // What the window's control holds when it is not what DomainText converts back.
  std::u16string wide;
  std::u16string DomainTextWide() const override { return wide.empty() ? RankUi::DomainTextWide() : wide; }
  int SortIndex() const override { return sort; }
  void SetStatusText(const std::string& t) override { statuses.push_back(t); }
  bool FilterDuplicates() const override { return filter; }
  bool ConvertLinks() const override { return convert; }
  ResultTable& List() override { return table; }
};

// A browser whose documents become ready at the next event processing.
class FakeLoader : public PageLoader {
 public:
  std::map<std::string, std::string> pages;
  std::vector<std::string> navigated;
  std::string current;
  bool pendingReady = false;
  // Answers that change from one request of an address to the next (the
  // last one stays): status and page.
  std::map<std::string, std::vector<std::pair<int, std::string>>> answers;
  PageFetch fetch;
  bool neverReady = false;  // a page that never finishes loading
  void Navigate(const std::string& address) override {
    navigated.push_back(address);
    fetch = PageFetch();
    auto it = pages.find(address);
    current = it == pages.end() ? "<html>not found</html>" : it->second;
    auto a = answers.find(address);
    if (a != answers.end()) {
      const long n = std::count(navigated.begin(), navigated.end(), address);
      const auto& [status, html] = a->second[std::min<std::size_t>(n - 1, a->second.size() - 1)];
      fetch.status = status;
      current = html;
    }
    pendingReady = !neverReady;
  }
  std::string DocumentHtml() override { return current; }
  PageFetch LastFetch() override { return fetch; }
};

// Records what a run tells its listeners.
struct Recorder : RunListener {
  std::vector<std::string> events;
  std::vector<PageReport> pages;
  void RunStarted(RunKind, const std::vector<std::string>& targets) override {
    events.push_back("start " + std::to_string(targets.size()));
  }
  void PageRequested(RunKind, const std::string& target, int page, int attempt, int known) override {
    events.push_back("ask " + target + " " + std::to_string(page) + " #" + std::to_string(attempt) + " of " +
                     std::to_string(known));
  }
  void PageEnded(RunKind, const PageReport& report) override { pages.push_back(report); }
  void RunEnded(RunKind, RunEnd how) override { events.push_back("end " + std::to_string(static_cast<int>(how))); }
};

std::string Row(const std::string& serial, const std::string& keyword, const std::string& rank,
                const std::string& volume, const std::string& count, const std::string& title,
                const std::string& href) {
  return "<tr>\r\n<td>" + serial + "</td><td class=\"blue t_l word\">\r\n  " + keyword +
         "\r\n</td><td class='blue'>" + rank + "</td><td align=right>" + volume +
         "</td><td align=\"right\">" + count + "</td><td class=\"blue t_l\"><a href=\"" + href +
         "\" target=_blank>" + title + "</a></td></tr>\r\n";
}

std::string Page(const std::string& rows, const std::string& links = "") {
  return "<html><body><table><tr><td>nav</td></tr></table><div class=\"box_05\"><div>x</div><table>"
         "<tr><th>head</th></tr>" + rows + "</table></div>" + links + "</body></html>";
}

struct Fixture : ::testing::Test {
  FakeUi ui;
  FakeLoader loader;
  RankQuery query{ui, loader, "http://rank.test", "http://se.test"};
  std::function<void()> onPump;
  lanshu::testing::RecordedHooks hooks{[this] {
    if (loader.pendingReady) {
      loader.pendingReady = false;
      query.OnDocumentReady();
    }
    if (onPump) onPump();
  }};
  std::vector<std::string>& messages = hooks.messages;
  std::string Cell(int r, int c) { return GbkToUtf8Text(ui.table.CellText(r, c)); }
};

}  // namespace

TEST(RankQueryHelpers, DetectLastPageReadsPageLinks) {
  const std::string link7 = "<a href=\"/baidu/x/7/position/\">7</a>";
  EXPECT_EQ(DetectLastPage(link7 + "<a href=\"/baidu/x/2/position/\">2</a>", PageLinkForm::kRank, "position"), 7);
  EXPECT_EQ(DetectLastPage(link7, PageLinkForm::kRank, "ip"), 0);  // another sort word
  EXPECT_EQ(DetectLastPage("no links", PageLinkForm::kRank, "position"), 0);
  EXPECT_EQ(DetectLastPage("<a href=\"/baidu/x/51/position/\">51</a>", PageLinkForm::kRank, "position"), 0);
  EXPECT_EQ(DetectLastPage("<A HREF=\"/baidu/x/12/POSITION/\">12</A>", PageLinkForm::kRank, "position"), 12);
  std::string all;
  for (int n = 2; n <= 60; ++n) all += "/" + std::to_string(n) + "/\">" + std::to_string(n) + "</a>";
  EXPECT_EQ(DetectLastPage(all, PageLinkForm::kMining), 50);
  EXPECT_EQ(DetectLastPage("<a href=\"/kw/7/\">7</A>", PageLinkForm::kMining), 7);
}

// The one-pass search against the plain reading: each of the 50 links
// looked for in turn, highest first, on pages mixing real links, near misses
// (leading zeros, three digits, other sort words, a lead byte swallowing the
// first character) and double-byte text.
TEST(RankQueryHelpers, DetectLastPageMatchesSearchingEachLink) {
  auto reference = [](const std::string& html, PageLinkForm form, const std::string& word) {
    for (int n = 50; n >= 1; --n) {
      const std::string num = std::to_string(n);
      const std::string needle =
          form == PageLinkForm::kRank ? num + "/" + word + "/\">" + num + "</a>" : "/" + num + "/\">" + num + "</a>";
      if (GbkFindNoCase(html, needle) != std::string::npos) return n;
    }
    return 0;
  };
  const std::vector<std::string> words = {"position", "ip", "zhishu", G("指数")};
  const std::vector<std::string> fillers = {G("第一页"), "\xB0", "\xB0\xB0", " ", "<a href=\"x\">", "</A>", "0"};
  std::mt19937 rng(7);
  auto pick = [&rng](std::size_t n) { return static_cast<std::size_t>(rng() % n); };
  for (int round = 0; round < 3000; ++round) {
    const PageLinkForm form = round % 2 ? PageLinkForm::kRank : PageLinkForm::kMining;
    const std::string word = words[pick(words.size())];
    std::string html;
    for (int piece = 0, pieces = 1 + static_cast<int>(pick(6)); piece < pieces; ++piece) {
      html += fillers[pick(fillers.size())];
      std::string num = std::to_string(pick(120));
      if (pick(8) == 0) num = "0" + num;
      const std::string w = pick(6) == 0 ? words[pick(words.size())] : word;
      std::string link = form == PageLinkForm::kRank ? num + "/" + w + "/\">" + num + "</a>"
                                                      : "/" + num + "/\">" + num + "</a>";
      if (pick(3) == 0) link = GbkToUpperAscii(link);
      if (pick(5) == 0) link.erase(pick(link.size()), 1);
      html += link;
    }
    ASSERT_EQ(DetectLastPage(html, form, word), reference(html, form, word)) << GbkToUtf8Text(html);
  }
}

TEST(RankQueryHelpers, TrimBlankModes) {
  RegexGbk re;
  const std::string s = G(" \t　a b　 \t");
  EXPECT_EQ(TrimBlank(s, 0, re), G("a b　 \t"));
  EXPECT_EQ(TrimBlank(s, 1, re), G(" \t　a b"));
  EXPECT_EQ(TrimBlank(s, 2, re), "a b");
  EXPECT_EQ(TrimBlank(s, 3, re), "ab");
  EXPECT_EQ(TrimBlank("a\r\n \t\r\nb\r\n", 4, re), "a\r\nb\r\n");
  EXPECT_EQ(SortWord(0), "position");
  EXPECT_EQ(SortWord(1), "ip");
  EXPECT_EQ(SortWord(2), "zhishu");
  EXPECT_EQ(SortWord(-1), "position");
}

TEST_F(Fixture, EmptyDomainTextShowsAMessageOnly) {
  ui.domains = "";
  query.StartStopRankQuery();
  EXPECT_EQ(messages, (std::vector<std::string>{"信息：|0|请先输入要查询站点的域名！"}));
  EXPECT_EQ(ui.caption, G("开始采集"));
  EXPECT_TRUE(loader.navigated.empty());
}

TEST_F(Fixture, ParsesRowsCellsAndPagesOfEveryDomain) {
  ui.sort = 2;
  ui.domains = "a.test||b.test|";
  loader.pages["http://rank.test/baidu/a.test/1/zhishu/"] =
      Page(Row("1", G("减肥") + G("此关键词包含:减肥,瘦身"), "1", "&nbsp;120&nbsp;", "3&#44;000",
               "Title, one", "http://se.test/link?url=abc"),
           "<a href=\"/baidu/a.test/2/zhishu/\">2</a>");
  loader.pages["http://rank.test/baidu/a.test/2/zhishu/"] =
      Page(Row("2", "<a href='#'>diet</a>", "<b>3</b>", "7", "8", "T2", "/rel"));
  loader.pages["http://rank.test/baidu/b.test/1/zhishu/"] = Page("");  // header row only
  query.StartStopRankQuery();

  // The empty piece between the bars is never requested.
  EXPECT_EQ(loader.navigated,
            (std::vector<std::string>{"http://rank.test/baidu/a.test/1/zhishu/", "http://rank.test/baidu/a.test/2/zhishu/",
                                      "http://rank.test/baidu/b.test/1/zhishu/"}));
  ASSERT_EQ(ui.table.RowCount(), 2);
  EXPECT_EQ(Cell(0, 0), "1");
  EXPECT_EQ(Cell(0, 1), "a.test");
  EXPECT_EQ(Cell(0, 2), "减肥");
  EXPECT_EQ(Cell(0, 3), "1");
  EXPECT_EQ(Cell(0, 4), "120");
  EXPECT_EQ(Cell(0, 5), "3,000");
  EXPECT_EQ(Cell(0, 6), "Title， one");
  EXPECT_EQ(Cell(0, 7), "http://se.test/link?url=abc");  // conversion off
  EXPECT_EQ(Cell(1, 2), "diet");
  EXPECT_EQ(Cell(1, 3), "3");
  EXPECT_EQ(Cell(1, 7), "/rel");
  EXPECT_EQ(GbkToUtf8Text(ui.statuses[1]), "域名：a.test  当前页：1  总：2");
  EXPECT_EQ(GbkToUtf8Text(ui.statuses[2]), "域名：a.test  当前页：2  总：2");
  EXPECT_EQ(GbkToUtf8Text(ui.statuses[3]), "域名：b.test  当前页：1  总：0");
  EXPECT_EQ(messages, (std::vector<std::string>{"青篱：|4160|查询完成！"}));
  EXPECT_EQ(ui.caption, G("开始采集"));
}

TEST_F(Fixture, DuplicateFilteringIsPerDomainAndLinksResolveOnlyWithThePrefix) {
  ui.filter = true;
  ui.convert = true;
  ui.domains = "a|b";
  std::vector<std::string> resolved;
  query.resolveLink = [&](const std::string& link) {
    resolved.push_back(link);
    return link == "http://se.test/link?url=fail" ? std::string() : "http://target/" + link.substr(link.size() - 1);
  };
  const std::string rows = Row("1", "k1", "1", "1", "1", "t", "http://se.test/link?url=1") +
                           Row("2", "k1", "1", "1", "1", "t", "http://se.test/link?url=2") +
                           Row("3", "k2", "1", "1", "1", "t", "http://other/link?url=3") +
                           Row("4", "k3", "1", "1", "1", "t", "http://se.test/link?url=fail");
  loader.pages["http://rank.test/baidu/a/1/position/"] = Page(rows);
  loader.pages["http://rank.test/baidu/b/1/position/"] = Page(rows);
  query.StartStopRankQuery();
  ASSERT_EQ(ui.table.RowCount(), 6);
  EXPECT_EQ(Cell(0, 7), "http://target/1");
  EXPECT_EQ(Cell(1, 2), "k2");
  EXPECT_EQ(Cell(1, 7), "http://other/link?url=3");  // not the redirect prefix: no request
  EXPECT_EQ(Cell(2, 7), "http://se.test/link?url=fail");
  EXPECT_EQ(Cell(3, 1), "b");
  EXPECT_EQ(Cell(3, 2), "k1");
  EXPECT_EQ(resolved.size(), 4u);
  EXPECT_EQ(query.seenKeywords, (std::vector<std::string>{"k1", "k2", "k3"}));
}

TEST_F(Fixture, AClickDuringARunStopsItAndTheNoticeSaysSoOnce) {
  ui.domains = "a|b|c";
  loader.pages["http://rank.test/baidu/a/1/position/"] =
      Page(Row("1", "k", "1", "1", "1", "t", "u"), "<a href=\"/baidu/a/3/position/\">3</a>");
  loader.pages["http://rank.test/baidu/a/2/position/"] = Page(Row("2", "k2", "1", "1", "1", "t", "u"));
  bool clicked = false;
  onPump = [&] {
    if (!clicked && loader.navigated.size() == 2) {
      clicked = true;
      query.StartStopRankQuery();  // the stop click, as a nested event
    }
  };
  query.StartStopRankQuery();
  EXPECT_EQ(loader.navigated.size(), 2u);  // no page 3, no further domain
  EXPECT_EQ(ui.table.RowCount(), 1);
  EXPECT_EQ(messages, (std::vector<std::string>{"青篱：|4160|查询已停止！"}));
  EXPECT_EQ(ui.caption, G("开始采集"));
}

TEST_F(Fixture, SetRankCellRemovesBreaksAndOuterBlanks) {
  ui.table.AppendRow("");
  query.currentRow = 0;
  query.SetRankCell(2, G("　 a\tb&nbsp;c\r\nd\re\nf 　"));
  EXPECT_EQ(Cell(0, 2), "abcdef");
  query.SetRankCell(3, G("　"));
  EXPECT_EQ(Cell(0, 3), "");
  query.SetRankCell(4, "\xB0\xA1\xA1");  // a character ending in A1, then a lone A1
  EXPECT_EQ(ui.table.CellText(0, 4), "\xB0\xA1\xA1");
}

TEST_F(Fixture, APageWithoutResultsAddsNothing) {
  query.ParseRankPage("<html><div class=box_06><table><tr><td>1</td></tr><tr><td>2</td></tr></table></div></html>");
  ui.caption = G("停止");
  query.ParseRankPage("<div class=\"box_05\"><table><tr><td>h</td></tr></table></div>");
  EXPECT_EQ(ui.table.RowCount(), 0);
}

// Pages as a hostile or sloppy site sends them: counts with separators,
// references in titles, empty rows, padded duplicates, padded domains. The
// list shows what the page shows, and its CSV export reads back eight cells
// per record.
TEST_F(Fixture, CellsAreShownAsThePageShowsThemAndExportSound) {
  ui.filter = true;
  ui.domains = G(" a.test　|\t| b.test |");
  loader.pages["http://rank.test/baidu/a.test/1/position/"] = Page(
      Row("1", G("免费网站建设"), G("第1页第3位"), "&nbsp;3,404,667&nbsp;", "12&#44;000", "A&amp;B&#44;C&nbsp;&nbsp;D",
          "http://x/1") +
      "<tr></tr>\r\n<tr><td>9</td><td class=\"blue t_l word\"> &nbsp; </td></tr>" +
      Row("2", G("免费网站建设&nbsp;"), "2", "1", "1", "dup", "http://x/2") +
      Row("3", G("免费网站建设\t"), "2", "1", "1", "dup", "http://x/3") +
      Row("4", "say \"hi\"", "10", "2,401", "115", "&lt;b&gt;bold&lt;/b&gt; &quot;q&quot;", "http://x/4?a=1,2"));
  loader.pages["http://rank.test/baidu/b.test/1/position/"] =
      Page(Row("1", G("免费网站建设"), "1", "1", "1", "t", "u"));
  query.StartStopRankQuery();

  EXPECT_EQ(loader.navigated, (std::vector<std::string>{"http://rank.test/baidu/a.test/1/position/",
                                                        "http://rank.test/baidu/b.test/1/position/"}));
  ASSERT_EQ(ui.table.RowCount(), 3);
  EXPECT_EQ(Cell(0, 1), "a.test");
  EXPECT_EQ(Cell(0, 4), "3,404,667");
  EXPECT_EQ(Cell(0, 5), "12,000");
  EXPECT_EQ(Cell(0, 6), "A&B，C  D");
  EXPECT_EQ(Cell(1, 2), "say \"hi\"");
  EXPECT_EQ(Cell(1, 6), "<b>bold</b> \"q\"");
  EXPECT_EQ(Cell(1, 7), "http://x/4?a=1,2");
  EXPECT_EQ(Cell(2, 1), "b.test");  // the same keyword under the next domain
  EXPECT_EQ(query.seenKeywords, (std::vector<std::string>{G("免费网站建设")}));

  const std::string csv = BuildRankExport(ui.table, kExportCsv, "");
  std::vector<std::vector<std::string>> records;
  ASSERT_TRUE(lanshu::testing::ReadCsv(csv, records)) << GbkToUtf8Text(csv);
  ASSERT_EQ(records.size(), 4u);
  for (const auto& record : records) ASSERT_EQ(record.size(), 8u);
  for (int r = 0; r < 3; ++r)
    for (int c = 0; c < 8; ++c) EXPECT_EQ(records[r + 1][c], ui.table.CellText(r, c));
}

TEST_F(Fixture, DomainsGbkCannotWriteAreRefusedBeforeAnyRequest) {
  ui.domains = "a.test|b?.test";  // what the conversion leaves of the control's text
  ui.wide = u"a.test| b\U0001F600.test ";
  query.StartStopRankQuery();
  EXPECT_TRUE(loader.navigated.empty());
  EXPECT_EQ(messages, (std::vector<std::string>{"信息：|0|域名含有GBK无法表示的字符：b<U+1F600>.test"}));
  EXPECT_EQ(query.refusal.kind, StartRefusal::kUnwritableText);
  EXPECT_EQ(ui.caption, G("开始采集"));

  // Blanks and bars alone are no domains at all.
  messages.clear();
  ui.wide.clear();
  ui.domains = G(" |　|\t");
  query.StartStopRankQuery();
  EXPECT_TRUE(loader.navigated.empty());
  EXPECT_EQ(messages, (std::vector<std::string>{"信息：|0|请先输入要查询站点的域名！"}));
  EXPECT_EQ(query.refusal.kind, StartRefusal::kNothingToCollect);  // told apart from a run that started
}

namespace lanshu {
namespace {

std::string Results(int rows, const std::string& links = "") {
  std::string html;
  for (int i = 1; i <= rows; ++i)
    html += Row(std::to_string(i), "k" + std::to_string(i), "1", "1", "1", "t", "u");
  return Page(html, links);
}

TEST_F(Fixture, FailedPagesAreAskedAgainAndToldApartFromNoData) {
  Recorder recorder;
  query.listeners.Add(&recorder);
  query.reliability.retryIntervalSeconds = 0;
  ui.domains = "a|b";
  const std::string links = "<a href=\"/baidu/a/5/position/\">5</a>";
  const std::string base = "http://rank.test/baidu/a/";
  loader.pages[base + "1/position/"] = Results(2, links);
  loader.answers[base + "2/position/"] = {{500, Results(9)}, {502, "bad gateway"}, {200, Results(3)}};
  loader.answers[base + "3/position/"] = {{500, Results(9)}};  // an error page with rows counts for nothing
  loader.pages[base + "4/position/"] = G("<html><body><p>暂无数据</p></body></html>");
  std::string huge;
  for (int i = 0; i < kMaxRowsPerPage + 1; ++i) huge += "<tr><td>x</td></tr>";
  loader.pages[base + "5/position/"] = Page(huge);
  loader.pages["http://rank.test/baidu/b/1/position/"] = "<html><body>placeholder</body></html>";
  query.StartStopRankQuery();

  EXPECT_EQ(ui.table.RowCount(), 5);  // pages 1 and 2 only
  EXPECT_EQ(std::count(loader.navigated.begin(), loader.navigated.end(), base + "2/position/"), 3);
  EXPECT_EQ(std::count(loader.navigated.begin(), loader.navigated.end(), base + "3/position/"), 3);
  ASSERT_EQ(recorder.pages.size(), 6u);
  const auto outcome = [&](int i) {
    const PageReport& p = recorder.pages[i];
    return p.target + " " + std::to_string(p.page) + " " + OutcomeName(p.outcome.outcome) + " " +
           p.outcome.reason + " " + std::to_string(p.attempts) + " " + std::to_string(p.rows);
  };
  EXPECT_EQ(outcome(0), "a 1 ok  1 2");
  EXPECT_EQ(outcome(1), "a 2 ok  3 3");
  EXPECT_EQ(outcome(2), "a 3 failed HTTP 500 3 0");
  EXPECT_EQ(outcome(3), "a 4 ok  1 0");
  EXPECT_EQ(outcome(4), "a 5 failed too many rows 3 0");
  EXPECT_EQ(outcome(5), "b 1 failed no results block 3 0");
  EXPECT_EQ(recorder.pages[1].cells.size(), 3u);
  EXPECT_EQ(recorder.pages[1].cells[0][2], "k1");
  EXPECT_EQ(recorder.events[1], "ask a 1 #1 of 0");
  EXPECT_EQ(recorder.events[2], "ask a 2 #1 of 5");
  EXPECT_EQ(recorder.events[3], "ask a 2 #2 of 5");
  EXPECT_EQ(recorder.events.back(), "end 0");
  EXPECT_EQ(messages, (std::vector<std::string>{"青篱：|4160|" + GbkToUtf8Text(G("查询完成！\r\n未成功 3 页：失败 3 页"))}));
  EXPECT_EQ(query.Ledger().NotOk().size(), 3u);

  // Collected again once the site is well: the rows go at the end.
  loader.answers.clear();
  loader.pages[base + "3/position/"] = Results(1);
  loader.pages[base + "5/position/"] = Results(2);
  loader.pages["http://rank.test/baidu/b/1/position/"] = Results(4);
  query.RetryFailedPages();
  EXPECT_EQ(ui.table.RowCount(), 5 + 1 + 2 + 4);
  EXPECT_EQ(Cell(5, 1), "a");
  EXPECT_EQ(Cell(11, 1), "b");
  EXPECT_TRUE(query.Ledger().NotOk().empty());
  EXPECT_EQ(messages.back(), "青篱：|4160|查询完成！");
}

// A page is ok exactly when the search that reads its rows finds the block:
// written in any legal form it is read, and one the search cannot find is
// never counted ok with its rows lost.
TEST_F(Fixture, APagesOutcomeComesFromTheSearchThatReadsItsRows) {
  Recorder recorder;
  query.listeners.Add(&recorder);
  query.reliability.retries = 0;
  const std::vector<std::pair<std::string, bool>> forms = {
      {"<DIV CLASS=\"BOX_05\">", true},         {"<div class='box_05'>", true},
      {"<div class=box_05>", true},               {"<div class=\" box_05 \">", true},
      {"<div id=r class=\"box_05\" title=t>", true}, {"<Div data-a=1 Class=' BOX_05 '>", true},
      {"<div class = \"box_05\">", false},         {"<div\tclass=box_05>", false},
  };
  std::string domains;
  for (std::size_t i = 0; i < forms.size(); ++i) {
    const std::string domain = "d" + std::to_string(i);
    domains += (i ? "|" : "") + domain;
    loader.pages["http://rank.test/baidu/" + domain + "/1/position/"] =
        "<html><body>" + forms[i].first + "<table><tr><th>h</th></tr>" +
        Row("1", "k" + std::to_string(i), "1", "2", "3", "t", "http://x/") + "</table></div></body></html>";
  }
  ui.domains = domains;
  query.StartStopRankQuery();
  ASSERT_EQ(recorder.pages.size(), forms.size());
  for (std::size_t i = 0; i < forms.size(); ++i) {
    const PageReport& page = recorder.pages[i];
    EXPECT_EQ(page.outcome.Ok(), forms[i].second) << forms[i].first;
    EXPECT_EQ(page.rows, forms[i].second ? 1 : 0) << forms[i].first;
    if (!forms[i].second) {
      EXPECT_EQ(page.outcome.reason, "no results block") << forms[i].first;
    }
  }
  EXPECT_EQ(ui.table.RowCount(), 6);
}

TEST_F(Fixture, APagesLinksAreResolvedTogetherInRowOrder) {
  ui.convert = true;
  ui.domains = "a";
  std::string rows;
  for (int i = 1; i <= 5; ++i)
    rows += Row(std::to_string(i), "k" + std::to_string(i), "1", "1", "1", "t",
                i == 3 ? "http://other/x" : "http://se.test/link?url=" + std::to_string(i));
  loader.pages["http://rank.test/baidu/a/1/position/"] = Page(rows);
  std::vector<std::vector<std::string>> batches;
  query.resolveLinks = [&](const std::vector<std::string>& links, const std::function<bool()>&) {
    batches.push_back(links);
    std::vector<std::string> answers;
    for (const std::string& l : links)
      answers.push_back(l.back() == '4' ? std::string() : l.back() == '5' ? "/rel/5" : "http://target/" + l.substr(l.size() - 1));
    return answers;
  };
  query.StartStopRankQuery();
  ASSERT_EQ(batches.size(), 1u);  // one call for the page, its links in row order
  EXPECT_EQ(batches[0], (std::vector<std::string>{"http://se.test/link?url=1", "http://se.test/link?url=2",
                                                  "http://se.test/link?url=4", "http://se.test/link?url=5"}));
  ASSERT_EQ(ui.table.RowCount(), 5);
  EXPECT_EQ(Cell(0, 7), "http://target/1");
  EXPECT_EQ(Cell(1, 7), "http://target/2");
  EXPECT_EQ(Cell(2, 7), "http://other/x");               // not a redirect link
  EXPECT_EQ(Cell(3, 7), "http://se.test/link?url=4");    // unresolved: as found
  EXPECT_EQ(Cell(4, 7), "http://se.test/rel/5");         // relative: on the engine's host
}

TEST_F(Fixture, LoginAndVerificationPagesAskTheUser) {
  Recorder recorder;
  query.listeners.Add(&recorder);
  ui.domains = "a|b|c|d";
  const std::string login = "<html><form><input type=password name=pw></form></html>";
  loader.answers["http://rank.test/baidu/a/1/position/"] = {{200, login}, {200, Results(2)}};
  loader.pages["http://rank.test/baidu/b/1/position/"] = login;
  loader.pages["http://rank.test/baidu/c/1/position/"] = G("<html><p>访问过于频繁，请输入验证码</p></html>");
  std::vector<BlockedChoice> choices{BlockedChoice::kRetry, BlockedChoice::kSkip, BlockedChoice::kStop};
  std::vector<std::string> asked;
  query.onBlocked = [&](const PageReport& r) {
    asked.push_back(r.target + " " + r.outcome.reason + " " + r.address);
    const BlockedChoice c = choices.front();
    choices.erase(choices.begin());
    return c;
  };
  query.StartStopRankQuery();
  EXPECT_EQ(asked, (std::vector<std::string>{"a login page http://rank.test/baidu/a/1/position/",
                                             "b login page http://rank.test/baidu/b/1/position/",
                                             "c verification page http://rank.test/baidu/c/1/position/"}));
  EXPECT_EQ(ui.table.RowCount(), 2);  // a, once its login is done
  ASSERT_EQ(recorder.pages.size(), 3u);
  EXPECT_TRUE(recorder.pages[0].outcome.Ok());
  EXPECT_EQ(recorder.pages[0].attempts, 2);
  EXPECT_EQ(OutcomeName(recorder.pages[1].outcome.outcome), std::string("failed"));  // skipped
  EXPECT_EQ(OutcomeName(recorder.pages[2].outcome.outcome), std::string("blocked"));  // the run ended there
  EXPECT_EQ(std::count(loader.navigated.begin(), loader.navigated.end(), "http://rank.test/baidu/d/1/position/"), 0);
  EXPECT_EQ(recorder.events.back(), "end 2");
  EXPECT_EQ(messages, (std::vector<std::string>{
                          "青篱：|4160|" + GbkToUtf8Text(G("查询已停止！\r\n未成功 2 页：失败 1 页，需登录或验证 1 页"))}));
  EXPECT_EQ(ui.caption, G("开始采集"));
}

}  // namespace
}  // namespace lanshu

namespace lanshu {
namespace {

// The run goes by what the controls said when it started: a sort, filter or
// link choice changed during the run changes nothing of its pages or rows.
TEST_F(Fixture, ControlsChangedDuringARunChangeNothingOfIt) {
  ui.domains = "a|b";
  const std::string rows = Row("1", "k1", "1", "1", "1", "t", "http://se.test/link?url=1") +
                           Row("2", "k1", "2", "1", "1", "t", "http://se.test/link?url=2");
  loader.pages["http://rank.test/baidu/a/1/position/"] = Page(rows, "<a href=\"/baidu/a/2/position/\">2</a>");
  loader.pages["http://rank.test/baidu/a/2/position/"] = Page(rows);
  loader.pages["http://rank.test/baidu/b/1/position/"] = Page(rows);
  int resolved = 0;
  query.resolveLink = [&](const std::string& link) {
    ++resolved;
    return link;
  };
  onPump = [&] {
    if (loader.navigated.empty()) return;
    ui.sort = 2;
    ui.filter = ui.convert = true;
  };
  query.StartStopRankQuery();
  EXPECT_EQ(loader.navigated,
            (std::vector<std::string>{"http://rank.test/baidu/a/1/position/", "http://rank.test/baidu/a/2/position/",
                                      "http://rank.test/baidu/b/1/position/"}));
  EXPECT_EQ(ui.table.RowCount(), 6);  // no duplicate filtered
  EXPECT_EQ(resolved, 0);             // no link converted
  EXPECT_EQ(query.Plan().sortIndex, 0);
  EXPECT_EQ(query.Plan().targets, (std::vector<std::string>{"a", "b"}));
}

// A page that never finishes loading fails when the request time-out is
// over, as a request that never answers does; the next domain goes on.
TEST_F(Fixture, APageNeverReadyFailsAfterTheRequestTimeOut) {
  ui.domains = "a|b";
  query.reliability.retries = 1;
  query.reliability.retryIntervalSeconds = 0;
  query.reliability.timeoutSeconds = 1;
  loader.neverReady = true;
  Recorder recorder;
  query.listeners.Add(&recorder);
  query.StartStopRankQuery();
  ASSERT_EQ(recorder.pages.size(), 2u);
  EXPECT_EQ(recorder.pages[0].outcome.outcome, Outcome::kFailed);
  EXPECT_EQ(recorder.pages[0].outcome.reason, "time-out");
  EXPECT_EQ(recorder.pages[0].attempts, 2);
  EXPECT_EQ(loader.navigated.size(), 4u);
  EXPECT_EQ(messages, (std::vector<std::string>{"青篱：|4160|查询完成！\r\n未成功 2 页：失败 2 页"}));
}

}  // namespace
}  // namespace lanshu
