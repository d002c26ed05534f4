#include "rank/RankQuery.h"

#include <algorithm>
#include <cstdlib>
#include <deque>

#include "run/PumpedWait.h"
#include "text/Codec.h"
#include "text/Entities.h"
#include "text/Events.h"
#include "text/HtmlElementFinder.h"
#include "text/InputText.h"
#include "text/MessageBox.h"
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
    : ui_(ui),
      loader_(loader),
      rankSite_(std::move(rankSite)),
      searchSite_(std::move(searchSite)) {}

void RankQuery::SetSites(std::string rankSite, std::string searchSite) {
  rankSite_ = std::move(rankSite);
  searchSite_ = std::move(searchSite);
}

bool RankQuery::StopRequested() const { return ui_.StartCaption() != Gbk(kRunning); }

bool RankQuery::Running() const { return ui_.StartCaption() != Gbk(kIdle); }

RunPlan RankQuery::CapturePlan(const std::vector<std::string>& targets) const {
  RunPlan plan = RunPlan::For(RunKind::kRank, targets, reliability, rankSite_, keywordSite_, searchSite_);
  plan.sortIndex = ui_.SortIndex();
  plan.filterDuplicates = ui_.FilterDuplicates();
  plan.convertLinks = ui_.ConvertLinks();
  plan.exportMode = ui_.ExportMode();
  plan.exportTemplate = ui_.ExportTemplate();
  return plan;
}

void RankQuery::RequestStop() {
  if (!Running()) return;
  // The run shows its one notice when it has ended.
  ui_.SetStartCaption(Gbk(kStopping));
  userStopped_ = true;
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
  userStopped_ = blockedStopped_ = false;
  plan_ = CapturePlan(pieces);
  active_ = plan_.reliability;
  ui_.SetStartCaption(Gbk(kRunning));
  ui_.SetStatusText(Gbk("开始采集.."));
  listeners.RunStarted(RunKind::kRank, pieces);

  ui_.List().Clear();
  int index = 0;
  for (const std::string& piece : pieces) {
    currentDomain = piece;
    seenKeywords.clear();
    seenIndex_.clear();
    listeners.TargetStarted(RunKind::kRank, piece, ++index, static_cast<int>(pieces.size()));
    QueryDomain();
    if (StopRequested()) break;
  }
  EndRun();
}

void RankQuery::EndRun() {
  ui_.SetStartCaption(Gbk(kIdle));
  listeners.RunEnded(RunKind::kRank, Ending());
  ShowNotice(Notice(Gbk("查询完成！"), Gbk("查询已停止！")));
}

void RankQuery::QueryDomain() {
  const LoadedPage first = CollectPage(1, 0);
  if (blockedStopped_ && !first.stopped) {  // the wall ended the run: its page is still told
    currentPage = 1;
    FinishPage(1, first);
    return;
  }
  const int total = DetectLastPage(first.html, PageLinkForm::kRank, SortWord(plan_.sortIndex));
  currentPage = 0;
  do {
    if (StopRequested()) return;
    ++currentPage;
    ShowPageStatus(total);
    const LoadedPage loaded = currentPage == 1 ? first : CollectPage(currentPage, total);
    if (loaded.stopped) return;
    FinishPage(currentPage, loaded);
    ResultTable& list = ui_.List();
    list.ScrollToRow(list.RowCount() - 1);
    ProcessPendingEvents();
  } while (currentPage < total);
}

void RankQuery::FinishPage(int page, const LoadedPage& loaded) {
  ResultTable& list = ui_.List();
  const int before = list.RowCount();
  if (loaded.outcome.Ok()) ParseRankBlock(loaded.block);
  PageReport report;
  report.target = currentDomain;
  report.page = page;
  report.address = PageAddress(page);
  report.outcome = loaded.outcome;
  report.attempts = loaded.attempts;
  report.rows = list.RowCount() - before;
  for (int r = before; r < list.RowCount(); ++r) {
    std::vector<std::string> cells;
    for (int c = 0; c < list.ColumnCount(); ++c) cells.push_back(list.CellText(r, c));
    report.cells.push_back(std::move(cells));
  }
  listeners.PageEnded(RunKind::kRank, report);
}

RankQuery::LoadedPage RankQuery::CollectPage(int page, int knownPages) {
  PageReport asked;
  asked.target = currentDomain;
  asked.page = page;
  asked.address = PageAddress(page);
  LoadedPage loaded;
  int failures = 0;
  for (;;) {
    if (failures > 0) {
      // Waits that double, cut short by Stop.
      const int waitMs = active_.RetryWaitMs(failures + 1);
      for (int waited = 0; waited < waitMs && !StopRequested(); waited += 100) PumpedWait(100);
    }
    if (StopRequested()) {
      loaded.stopped = true;
      return loaded;
    }
    ++loaded.attempts;
    listeners.PageRequested(RunKind::kRank, currentDomain, page, loaded.attempts, knownPages);
    const bool ready = LoadRankPage(page);
    loaded.html = ready || StopRequested() ? loader_.DocumentHtml() : std::string();
    if (StopRequested()) {
      loaded.stopped = true;
      return loaded;
    }
    PageFetch fetch = ready ? loader_.LastFetch() : PageFetch{0, "time-out"};
    if (Judge(loaded, fetch, asked, failures) == Next::kDone) break;
    if (StopRequested()) {  // Stop clicked while the run waited at a wall
      loaded.stopped = true;
      return loaded;
    }
  }
  if (blockedStopped_) ui_.SetStartCaption(Gbk(kStopping));
  return loaded;
}

void RankQuery::RetryFailedPages() {
  if (Running() || ledger_.NotOk().empty()) return;
  // A run of its own, of just those pages: its listeners and its notice
  // count what fails again.
  const std::vector<PageReport> pages = ledger_.NotOk();
  userStopped_ = blockedStopped_ = false;
  active_ = plan_.reliability;  // the pages are asked as the run they failed in asked them
  ui_.SetStartCaption(Gbk(kRunning));
  listeners.RunStarted(RunKind::kRank, TargetsOf(pages));
  for (const PageReport& failed : pages) {
    if (StopRequested()) break;
    currentDomain = failed.target;
    currentPage = failed.page;
    // The duplicate filter goes on from what the list holds of the domain.
    seenKeywords.clear();
    seenIndex_.clear();
    ResultTable& list = ui_.List();
    for (int r = 0; r < list.RowCount(); ++r)
      if (list.CellText(r, 1) == currentDomain) SeenBefore(list.CellText(r, 2));
    ShowPageStatus(currentPage);
    const LoadedPage loaded = CollectPage(failed.page, 0);
    if (loaded.stopped) break;
    FinishPage(failed.page, loaded);
    list.ScrollToRow(list.RowCount() - 1);
    ProcessPendingEvents();
  }
  EndRun();
}

std::string RankQuery::PageAddress(int page) const {
  return rankSite_ + "/baidu/" + currentDomain + "/" + std::to_string(page) + "/" +
         SortWord(plan_.sortIndex) + "/";
}

void RankQuery::ShowPageStatus(int total) {
  ui_.SetStatusText(Gbk("域名：") + currentDomain + Gbk("  当前页：") + std::to_string(currentPage) +
                    Gbk("  总：") + std::to_string(total));
}

bool RankQuery::LoadRankPage(int page) {
  const std::string address = PageAddress(page);
  documentReady = false;
  loader_.Navigate(address);
  PumpedWait(500);
  // Not ready after about ten seconds: the attempt failed, and the caller
  // decides whether to ask again.
  for (int polls = 0; !documentReady; ++polls) {
    if (StopRequested() || polls >= 100) break;
    PumpedWait(100);
    ProcessPendingEvents();
  }
  return documentReady;
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
  HtmlElementFinder finder;
  RegexObject hint;
  RegexLite tags;
  RegexGbk blanks;

  hint.Compile(Gbk("此关键词包含:.+"));
  if (body.empty()) return;
  tags.Create("<[\\s\\S]+?>|\r\n|\r|\n", true, true, true);

  const int n = std::atoi(finder.FindElements(body, "tr", {}, {}, std::string(), false, false, -1).c_str());
  const std::string redirectPrefix = searchSite_ + "/link?url=";
  // The rows are read first and listed once their links are resolved: the
  // redirect links of a page are asked for together, not one after another.
  struct Pending {
    std::string cells[8];
    bool convert = false;
  };
  std::vector<Pending> rows;
  for (int i = 1; i <= n; ++i) {
    if (StopRequested()) break;
    if (i == 1) continue;  // the header row
    const std::string row = finder.GetElement(i);
    if (!row.empty()) {
      int position = 0;
      const std::string serial = TextBetween(row, "<td>", "</td>", position);
      std::string keyword = finder.FindElements(row, "td", {"class"}, {"blue t_l word"});
      keyword = ShownCellText(
          TrimBlank(hint.Replace(tags.Replace(keyword, std::string()), std::string()), 2, blanks));
      // A row without a keyword (an empty <tr>, a spacer) is no result.
      if (keyword.empty()) {
        ProcessPendingEvents();
        continue;
      }
      // Compared as the list shows it, so padding cannot make a duplicate new.
      if (plan_.filterDuplicates && SeenBefore(keyword)) continue;

      Pending p;
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
      rows.push_back(std::move(p));
    }
    ProcessPendingEvents();
  }

  std::vector<std::string> links;
  for (const Pending& p : rows)
    if (p.convert) links.push_back(p.cells[7]);
  std::vector<std::string> resolved;
  if (resolveLinks && !links.empty()) {
    resolved = resolveLinks(links, [this] { return StopRequested(); });
  } else {
    for (const std::string& link : links) resolved.push_back(resolveLink(link));
  }
  resolved.resize(links.size());

  std::size_t next = 0;
  ResultTable& list = ui_.List();
  for (const Pending& p : rows) {
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
    ProcessPendingEvents();
  }
}

void RankQuery::SetRankCell(int column, const std::string& text) {
  ui_.List().SetCellText(currentRow, column, ShownCellText(text));
}

}  // namespace lanshu
