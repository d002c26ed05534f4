#pragma once
// The rank query: for each domain, walk the site's ranking pages in the
// embedded browser and list every ranking keyword. Runs on the GUI thread
// inside the start button's click handler; the button's caption is the run
// state ("开始采集" idle, "停止" running, "停止中" stopping).
#include <functional>
#include <string>
#include <unordered_set>
#include <vector>

#include "run/PageOutcome.h"
#include "run/PageRun.h"
#include "run/RunEvents.h"
#include "run/RunPlan.h"
#include "results/ResultTable.h"

namespace lanshu {

class RegexGbk;

// The embedded browser as the rank query needs it.
class PageLoader {
 public:
  virtual ~PageLoader() = default;
  // Starts loading address (GBK) and returns at once.
  virtual void Navigate(const std::string& address) = 0;
  // Outer HTML of the current document's root element as GBK; empty when
  // there is no document.
  virtual std::string DocumentHtml() = 0;
  // How the last navigation's load ended, as far as the loader can tell
  // (status 0 and no error: unknown, taken as a document).
  virtual PageFetch LastFetch() { return PageFetch(); }
};

// What the rank query reads and sets in the window. Texts are GBK.
class RankUi {
 public:
  virtual ~RankUi() = default;
  virtual std::string StartCaption() const = 0;
  virtual void SetStartCaption(const std::string& caption) = 0;
  virtual std::string DomainText() const = 0;
  // The same text before its conversion to GBK, so that characters GBK
  // cannot hold are seen (the window gives the control's own text).
  virtual std::u16string DomainTextWide() const;
  virtual int SortIndex() const = 0;
  virtual void SetStatusText(const std::string& text) = 0;
  virtual bool FilterDuplicates() const = 0;  // 选择框自动过滤重复关键字
  virtual bool ConvertLinks() const = 0;      // 选择框转换百度链接
  // The export mode and column template, kept in a run's plan.
  virtual int ExportMode() const { return 0; }
  virtual std::string ExportTemplate() const { return std::string(); }
  virtual ResultTable& List() = 0;
};

enum class PageLinkForm { kRank, kMining };

// Why the last click on a start button started no run; the user has been told
// already, a batch run reads it for its exit status.
struct StartRefusal {
  enum Kind { kNone, kNothingToCollect, kUnwritableText, kResultFolder };
  Kind kind = kNone;
  std::string subject;  // the domain or seed (GBK, unwritable characters as <U+XXXX>), or the folder
  int error = 0;        // the system's error number, for a folder
};

// A list cell as the list shows it: tabs, "&nbsp;" and line breaks removed,
// spaces and ideographic spaces trimmed at both ends.
std::string ShownCellText(const std::string& text);

// Number of result pages (1..50) linked from a first page, 0 when none.
int DetectLastPage(const std::string& html, PageLinkForm form, const std::string& sortWord = std::string());

// Trims blanks (space, ideographic space, tab): mode 0 leading, 1 trailing,
// 2 both ends, 3 all, 4 blank lines.
std::string TrimBlank(const std::string& text, int mode, RegexGbk& regex);

// The program's own message routine: information icon unless another icon
// is given, system-modal, title "青篱：" unless another is given.
int ShowNotice(const std::string& text, int flags = 0, const std::string& title = std::string());

// Sort word for a selection index of the sort combo box ("position" as the
// fallback without a valid selection).
std::string SortWord(int sortIndex);

class RankQuery : public PageRun {
 public:
  // rankSite: scheme and host of the ranking pages; searchSite: scheme and
  // host of the search engine (its redirect links start with searchSite +
  // "/link?url=").
  RankQuery(RankUi& ui, PageLoader& loader, std::string rankSite, std::string searchSite);

  // Click handler of the start button.
  void StartStopRankQuery();
  // Collects all pages of currentDomain.
  void QueryDomain();
  // Loads one ranking page in the browser (its HTML is then the loader's
  // document); false when it was not ready within about ten seconds.
  bool LoadRankPage(int page);
  // Appends the rows of one ranking page to the list.
  void ParseRankPage(const std::string& html);
  // Appends the rows of a page's results block (FindResultsBlock), the one
  // its outcome was judged by.
  void ParseRankBlock(const std::string& body);
  // Cleans text and writes it into column of row currentRow.
  void SetRankCell(int column, const std::string& text);
  // The browser's document-ready event.
  void OnDocumentReady() { documentReady = true; }
  // Address of a ranking page of currentDomain under the current sort.
  std::string PageAddress(int page) const;

  bool Running() const;
  // Stop, as a click during the run: the run ends stopped.
  void RequestStop();
  void SetSites(std::string rankSite, std::string searchSite);
  // The keyword site, for the plans of runs only.
  void SetKeywordSite(std::string keywordSite) { keywordSite_ = std::move(keywordSite); }

  // Every input of a run of `targets`, from the controls and settings now.
  RunPlan CapturePlan(const std::vector<std::string>& targets) const;
  // The plan of the current or last run: a run reads nothing else.
  const RunPlan& Plan() const { return plan_; }

  // Resolves a search-engine redirect link; the program installs its link
  // resolver here. Without one, links are listed as found.
  std::function<std::string(const std::string&)> resolveLink;
  // Resolves the links of a page together, answers in their order; used
  // instead of resolveLink when installed. It gives up when `stopped()`
  // holds: Stop reaches link conversion.
  std::function<std::vector<std::string>(const std::vector<std::string>&, const std::function<bool()>& stopped)>
      resolveLinks;

  // Collects again the pages of the last run that were not ok and appends
  // their rows at the end of the list (the popup command 重试失败页).
  void RetryFailedPages();

  // Loads page `page` of currentDomain until it is ok, blocked or out of
  // retries; `knownPages` is how many pages the domain is known to have.
  LoadedPage CollectPage(int page, int knownPages);

  // Query state, one set per program.
  std::string currentDomain;
  int currentPage = 0;
  std::vector<std::string> seenKeywords;
  int currentRow = -1;
  bool documentReady = false;
  StartRefusal refusal;  // of the last start click

 private:
  bool StopRequested() const;
  bool SeenBefore(const std::string& keyword);
  // The status text of page currentPage of currentDomain.
  void ShowPageStatus(int total);
  // Parses an ok page and reports it with the rows it added.
  void FinishPage(int page, const LoadedPage& loaded);
  // Ends the run: events, caption and the final notice.
  void EndRun();

  RankUi& ui_;
  PageLoader& loader_;
  std::string rankSite_;
  std::string searchSite_;
  std::string keywordSite_;
  RunPlan plan_;
  std::unordered_set<std::string> seenIndex_;  // mirrors seenKeywords for fast lookup
};

}  // namespace lanshu
