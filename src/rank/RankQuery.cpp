#include "rank/RankQuery.h"

#include <algorithm>
#include <cstdlib>
#include <deque>
#include <memory>

#include "text/Codec.h"
#include "text/Entities.h"
#include "text/HtmlElementFinder.h"
#include "text/InputText.h"
#include "hooks/MessageBox.h"
#include "text/Regex.h"
#include "web/RedirectResolver.h"

namespace lanshu {
namespace {

// System texts, GBK. A deque keeps earlier entries in place while it grows,
// so a reference handed out stays valid.
const std::string& Gbk(const char* utf8) {
  thread_local std::deque<std::pair<const char*, std::string>> cache;
  for (auto& [key, value] : cache)
    if (key == utf8) return value;
  cache.emplace_back(utf8, Utf8TextToGbk(utf8));
  return cache.back().second;
}

const char* const kIdle = "开始采集";
const char* const kRunning = "停止";
const char* const kStopping = "停止中";

void RemoveAll(std::string& text, const std::string& what) {
  if (text.find(what) == std::string::npos) return;  // the common case: nothing to copy
  std::string out;
  out.reserve(text.size());
  std::size_t from = 0;
  for (std::size_t p; (p = text.find(what, from)) != std::string::npos; from = p + what.size())
    out.append(text, from, p - from);
  out.append(text, from, std::string::npos);
  text.swap(out);
}

// Removes ASCII spaces and ideographic spaces (A1 A1) at both ends.
std::string TrimSpaces(const std::string& text) {
  std::size_t begin = 0;
  std::size_t end = 0;  // end of the last character that is not a blank
  bool leading = true;
  for (std::size_t i = 0; i < text.size();) {
    const std::size_t n = GbkCharLen(text, i);
    const bool blank = (n == 1 && text[i] == ' ') ||
                       (n == 2 && text[i] == '\xA1' && text[i + 1] == '\xA1');
    if (!blank) {
      if (leading) begin = i;
      leading = false;
      end = i + n;
    }
    i += n;
  }
  return leading ? std::string() : text.substr(begin, end - begin);
}

}  // namespace

std::u16string RankUi::DomainTextWide() const { return GbkToU16(DomainText()); }

std::string ShownCellText(const std::string& text) {
  std::string cell = text;
  RemoveAll(cell, "\t");
  RemoveAll(cell, "&nbsp;");
  RemoveAll(cell, "\r\n");
  RemoveAll(cell, "\n");
  RemoveAll(cell, "\r");
  return TrimSpaces(cell);
}

int DetectLastPage(const std::string& html, PageLinkForm form, const std::string& sortWord) {
  auto needleFor = [&](int n, const std::string& word) {
    const std::string num = std::to_string(n);
    return form == PageLinkForm::kRank ? num + "/" + word + "/\">" + num + "</a>" : "/" + num + "/\">" + num + "</a>";
  };
  const bool ascii =
      std::all_of(sortWord.begin(), sortWord.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
  if (!ascii) {
    for (int n = 50; n >= 1; --n)
      if (GbkFindNoCase(html, needleFor(n, sortWord)) != std::string::npos) return n;
    return 0;
  }
  // The highest of the 50 links in one pass. An ASCII link text is found
  // ignoring case exactly where its lower-cased form is found in a lower-cased
  // copy (letters are single-byte characters), and every such link ends in
  // "</a>" right after its one- or two-digit page number: each "</a>" of the
  // page names at most two candidates, checked whole.
  const std::string lower = GbkToLowerAscii(html);
  const std::string word = GbkToLowerAscii(sortWord);
  const std::string tail = "</a>";
  auto isDigit = [](char c) { return c >= '0' && c <= '9'; };
  int best = 0;
  for (std::size_t p = lower.find(tail); p != std::string::npos && best < 50; p = lower.find(tail, p + 1)) {
    for (std::size_t digits = 1; digits <= 2 && digits <= p && isDigit(lower[p - digits]); ++digits) {
      if (digits == 2 && lower[p - 2] == '0') break;
      const int n = std::atoi(lower.c_str() + p - digits);
      if (n < 1 || n > 50 || n <= best) continue;
      const std::string needle = needleFor(n, word);
      const std::size_t end = p + tail.size();
      if (end < needle.size()) continue;
      const std::size_t at = end - needle.size();
      if (lower.compare(at, needle.size(), needle) == 0 && IsGbkCharStart(lower, at)) best = n;
    }
  }
  return best;
}

std::string TrimBlank(const std::string& text, int mode, RegexGbk& regex) {
  static const char* const kPatterns[] = {"^[ 　9]+", "[ 　9]+$", "^[ 　9]+|[ 　9]+$", "[ 　9]+",
                                          "^[ 　9]*$\r\n"};
  if (mode < 0 || mode > 4) return text;
  std::string pattern = Utf8TextToGbk(kPatterns[mode]);
  for (char& c : pattern)
    if (c == '9') c = '\t';
  // Compiling is the costly part; a regex that already holds the pattern
  // (from an earlier call on the same page) is used as it is.
  if (regex.Pattern() != pattern) regex.Create(pattern, true, true, true);
  return regex.Replace(text, std::string());
}

int ShowNotice(const std::string& text, int flags, const std::string& title) {
  if ((flags & kMbIconMask) == 0) flags |= kMbIconInformation;
  flags |= kMbSystemModal;
  return ShowMessageBox(text, flags, title.empty() ? Gbk("青篱：") : title);
}

std::string SortWord(int sortIndex) {
  switch (sortIndex) {
    case 1: return "ip";
    case 2: return "zhishu";
    default: return "position";
  }
}

RankQuery::RankQuery(RankUi& ui, PageLoader& loader, std::string rankSite, std::string searchSite)
    : Runner(RunKind::kRank),
      ui_(ui),
      loader_(loader),
      rankSite_(std::move(rankSite)),
      searchSite_(std::move(searchSite)) {}

void RankQuery::SetSites(std::string rankSite, std::string searchSite) {
  rankSite_ = std::move(rankSite);
  searchSite_ = std::move(searchSite);
}

RunPlan RankQuery::CapturePlan(const std::vector<std::string>& targets) const {
  RunPlan plan = RunPlan::For(RunKind::kRank, targets, reliability, rankSite_, keywordSite_, searchSite_);
  plan.sortIndex = ui_.SortIndex();
  plan.filterDuplicates = ui_.FilterDuplicates();
  plan.convertLinks = ui_.ConvertLinks();
  plan.exportMode = ui_.ExportMode();
  plan.exportTemplate = ui_.ExportTemplate();
  return plan;
}

void RankQuery::StartStopRankQuery() {
  if (ui_.StartCaption() != Gbk(kIdle)) {
    RequestStop();
    return;
  }
  refusal = StartRefusal();
  // Pieces are trimmed; blank ones are never requested. A text of blanks
  // and bars alone counts as empty.
  const std::vector<std::string> pieces = NonBlankPieces(ui_.DomainText(), "|");
  if (pieces.empty()) {
    refusal.kind = StartRefusal::kNothingToCollect;
    ShowMessageBox(Gbk("请先输入要查询站点的域名！"), kMbOk, Gbk("信息："));
    return;
  }
  const std::string unwritable = FirstUnwritablePiece(ui_.DomainTextWide(), u"|");
  if (!unwritable.empty()) {
    refusal = {StartRefusal::kUnwritableText, unwritable, 0};
    ShowMessageBox(Gbk("域名含有GBK无法表示的字符：") + unwritable, kMbOk, Gbk("信息："));
    return;
  }
  RunPlan plan = CapturePlan(pieces);
  ui_.SetStartCaption(Gbk(kRunning));
  ui_.SetStatusText(Gbk("开始采集.."));
  Run(std::move(plan), std::make_unique<FreshPages>(pieces));
}

void RankQuery::GoOnWith(RunPlan plan, std::unique_ptr<PageSource> source, std::vector<PageReport> earlier) {
  if (Running()) return;
  refusal = StartRefusal();
  ui_.SetStartCaption(Gbk(kRunning));
  ui_.SetStatusText(Gbk("开始采集.."));
  GoOn(std::move(plan), std::move(source), std::move(earlier));
}

void RankQuery::OnRunStarted() {
  if (InRetry()) return;
  ui_.List().Clear();
  if (GoingOn()) ListPageRows(ui_.List(), earlier_);
}

void ListPageRows(ResultTable& list, const std::vector<PageReport>& pages) {
  for (const PageReport& page : pages)
    for (const std::vector<std::string>& cells : page.cells) {
      if (cells.empty()) continue;
      const int row = list.AppendRow(cells[0]);
      for (std::size_t c = 1; c < cells.size(); ++c) list.SetCellText(row, static_cast<int>(c), cells[c]);
    }
}

bool RankQuery::BeginTarget(const PageTask& task) {
  currentDomain = task.target;
  seenKeywords.clear();
  seenIndex_.clear();
  // A page asked again, or a domain that goes on: the duplicate filter goes
  // on from what the list holds of the domain.
  if (InRetry() || GoingOn()) {
    ResultTable& list = ui_.List();
    for (int r = 0; r < list.RowCount(); ++r)
      if (list.CellText(r, 1) == currentDomain) SeenBefore(list.CellText(r, 2));
  }
  return true;
}

void RankQuery::ShowStopping() { ui_.SetStartCaption(Gbk(kStopping)); }

void RankQuery::OnRunEnding() {
  // Pages asked again after the kill may belong before rows listed since.
  if (GoingOn()) {
    ui_.List().Clear();
    ListPageRows(ui_.List(), WholeRun());
  }
  ui_.SetStartCaption(Gbk(kIdle));
}

void RankQuery::OnRunEnded() { ShowNotice(Notice(Gbk("查询完成！"), Gbk("查询已停止！"))); }

int RankQuery::TotalPages(const std::string& firstPage) const {
  return DetectLastPage(firstPage, PageLinkForm::kRank, SortWord(plan_.sortIndex));
}

void RankQuery::ReadPage(const PageTask&, const LoadedPage& loaded, std::function<void(PageRows)> done) {
  if (!loaded.outcome.Ok()) {
    done(PageRows());
    return;
  }
  const int before = ui_.List().RowCount();
  auto finish = [this, before, done](const std::vector<PendingRow>& rows, const std::vector<std::string>& resolved) {
    ListRankRows(rows, resolved);
    ResultTable& list = ui_.List();
    PageRows added;
    added.rows = list.RowCount() - before;
    for (int r = before; r < list.RowCount(); ++r) {
      std::vector<std::string> cells;
      for (int c = 0; c < list.ColumnCount(); ++c) cells.push_back(list.CellText(r, c));
      added.cells.push_back(std::move(cells));
    }
    list.ScrollToRow(list.RowCount() - 1);
    done(std::move(added));
  };
  auto links = std::make_shared<std::vector<std::string>>();
  auto rows = std::make_shared<std::vector<PendingRow>>(ReadRankRows(loaded.block, *links));
  if (links->empty()) {
    finish(*rows, {});
    return;
  }
  // The redirect links of a page are asked for away from the window's
  // thread; Stop gives them up.
  auto resolved = std::make_shared<std::vector<std::string>>();
  InBackground([resolver = Resolver(), links, resolved] { *resolved = resolver(*links); },
               [finish, rows, resolved] { finish(*rows, *resolved); });
}

std::function<std::vector<std::string>(const std::vector<std::string>&)> RankQuery::Resolver() const {
  std::function<bool()> stopped = [this] { return StopRequested(); };
  return [together = resolveLinks, one = resolveLink, stopped](const std::vector<std::string>& links) {
    if (together) return together(links, stopped);
    std::vector<std::string> resolved;
    for (const std::string& link : links) resolved.push_back(one(link));
    return resolved;
  };
}

std::string RankQuery::PageAddress(const std::string& domain, int page) const {
  return rankSite_ + "/baidu/" + domain + "/" + std::to_string(page) + "/" + SortWord(plan_.sortIndex) + "/";
}

void RankQuery::ShowPageStatus(const std::string& domain, int page, int total) {
  currentDomain = domain;
  currentPage = page;
  ui_.SetStatusText(Gbk("域名：") + currentDomain + Gbk("  当前页：") + std::to_string(currentPage) +
                    Gbk("  总：") + std::to_string(total));
}

void RankQuery::FetchPage(const std::string& address, std::function<bool()>, FetchDone done) {
  documentReady = false;
  loader_.Navigate(address);
  // A page not ready within the request time-out failed, as a request does.
  const int maxPolls = std::max(0, (plan_.reliability.timeoutSeconds * 1000 - 500 + 99) / 100);
  AfterMs(500, [this, maxPolls, done] { PollDocument(0, maxPolls, done); });
}

void RankQuery::PollDocument(int polls, int maxPolls, FetchDone done) {
  if (documentReady) {
    // The browser may answer after the run is gone: only a live run hears
    // it, and never inside the browser's own callback (a question at a wall
    // waits there for the user, who needs the browser).
    auto html = std::make_shared<std::string>();
    std::function<void()> deliver = Guarded([this, html, done] {
      AfterMs(0, [this, html, done] { done(std::move(*html), loader_.LastFetch()); });
    });
    loader_.ReadDocument([html, deliver](std::string text) {
      *html = std::move(text);
      deliver();
    });
    return;
  }
  if (StopRequested() || polls >= maxPolls) {
    done(std::string(), PageFetch{0, "time-out"});
    return;
  }
  AfterMs(100, [this, polls, maxPolls, done] { PollDocument(polls + 1, maxPolls, done); });
}

void RankQuery::RetryFailedPages() {
  if (Running() || ledger_.NotOk().empty()) return;
  // A run of its own, of just those pages, asked as the run they failed in
  // asked them: its listeners and its notice count what fails again.
  ui_.SetStartCaption(Gbk(kRunning));
  Run(plan_, std::make_unique<RetryPages>(ledger_.NotOk()));
}

bool RankQuery::SeenBefore(const std::string& keyword) {
  if (seenIndex_.size() != seenKeywords.size()) seenIndex_ = {seenKeywords.begin(), seenKeywords.end()};
  if (seenIndex_.count(keyword)) return true;
  seenKeywords.push_back(keyword);
  seenIndex_.insert(keyword);
  return false;
}

void RankQuery::ParseRankPage(const std::string& html) {
  // A page parsed on its own goes by the controls as they are.
  plan_ = CapturePlan(plan_.targets);
  ParseRankBlock(FindResultsBlock(html));
}

void RankQuery::ParseRankBlock(const std::string& body) {
  std::vector<std::string> links;
  const std::vector<PendingRow> rows = ReadRankRows(body, links);
  ListRankRows(rows, links.empty() ? std::vector<std::string>() : Resolver()(links));
}

std::vector<RankQuery::PendingRow> RankQuery::ReadRankRows(const std::string& body, std::vector<std::string>& links) {
  HtmlElementFinder finder;
  RegexObject hint;
  RegexLite tags;
  RegexGbk blanks;

  hint.Compile(Gbk("此关键词包含:.+"));
  std::vector<PendingRow> rows;
  if (body.empty()) return rows;
  tags.Create("<[\\s\\S]+?>|\r\n|\r|\n", true, true, true);

  const int n = std::atoi(finder.FindElements(body, "tr", {}, {}, std::string(), false, false, -1).c_str());
  const std::string redirectPrefix = searchSite_ + "/link?url=";
  for (int i = 1; i <= n; ++i) {
    if (StopRequested()) break;
    if (i == 1) continue;  // the header row
    const std::string row = finder.GetElement(i);
    if (row.empty()) continue;
    int position = 0;
    const std::string serial = TextBetween(row, "<td>", "</td>", position);
    std::string keyword = finder.FindElements(row, "td", {"class"}, {"blue t_l word"});
    keyword = ShownCellText(TrimBlank(hint.Replace(tags.Replace(keyword, std::string()), std::string()), 2, blanks));
    // A row without a keyword (an empty <tr>, a spacer) is no result.
    if (keyword.empty()) continue;
    // Compared as the list shows it, so padding cannot make a duplicate new.
    if (plan_.filterDuplicates && SeenBefore(keyword)) continue;

    PendingRow p;
    p.cells[0] = serial;
    p.cells[1] = currentDomain;
    p.cells[2] = keyword;
    p.cells[3] = tags.Replace(finder.FindElements(row, "td", {"class"}, {"blue"}), std::string());
    p.cells[4] = DecodeEntities(tags.Replace(finder.FindElements(row, "td", {"align"}, {"right"}), std::string()));
    p.cells[5] = DecodeEntities(tags.Replace(
        finder.FindElements(row, "td", {"align"}, {"right"}, std::string(), false, false, 2), std::string()));
    const std::string titleCell = finder.FindElements(row, "td", {"class"}, {"blue t_l"});
    // Decoded like the counts; its commas, decoded ones included, become
    // full-width so that they never split a line of comma-separated text.
    std::string title = DecodeEntities(tags.Replace(titleCell, std::string()));
    ReplaceList(title, ",", Gbk("，"), true);
    p.cells[6] = title;
    p.cells[7] = HtmlElementFinder::GetAttribute(titleCell, "href");
    p.convert = plan_.convertLinks && GbkFind(p.cells[7], redirectPrefix) != std::string::npos &&
                (resolveLink || resolveLinks);
    if (p.convert) links.push_back(p.cells[7]);
    rows.push_back(std::move(p));
  }
  return rows;
}

void RankQuery::ListRankRows(const std::vector<PendingRow>& rows, const std::vector<std::string>& answers) {
  std::vector<std::string> resolved = answers;
  std::size_t asked = 0;
  for (const PendingRow& p : rows) asked += p.convert ? 1 : 0;
  resolved.resize(asked);
  std::size_t next = 0;
  ResultTable& list = ui_.List();
  for (const PendingRow& p : rows) {
    if (StopRequested()) break;
    std::string link = p.cells[7];
    if (p.convert) {
      // A relative answer names a page of the search engine itself.
      const std::string answer = AbsoluteLocation(link, resolved[next++]);
      if (!answer.empty()) link = answer;
    }
    currentRow = list.AppendRow(p.cells[0]);
    for (int c = 1; c < 7; ++c) SetRankCell(c, p.cells[c]);
    SetRankCell(7, link);
  }
}

void RankQuery::SetRankCell(int column, const std::string& text) {
  ui_.List().SetCellText(currentRow, column, ShownCellText(text));
}

}  // namespace lanshu
