#pragma once
// The rank query: for each domain, walk the site's ranking pages in the
// embedded browser and list every ranking keyword. A run of its own (see
// Runner) started by the start button, whose caption shows its state
// ("开始采集" idle, "停止" running, "停止中" stopping).
#include <functional>
#include <string>
#include <unordered_set>
#include <vector>

#include "run/PageOutcome.h"
#include "run/Runner.h"
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
  // there is no document. A loader that has it at hand gives it here.
  virtual std::string DocumentHtml() { return std::string(); }
  // The same, handed to done when the loader has it: a loader that must ask
  // its browser and wait gives it here, without waiting.
  virtual void ReadDocument(std::function<void(std::string)> done) { done(DocumentHtml()); }
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

// Appends the rows of pages to list as they were listed when they were read.
void ListPageRows(ResultTable& list, const std::vector<PageReport>& pages);

class RankQuery : public Runner {
 public:
  // rankSite: scheme and host of the ranking pages; searchSite: scheme and
  // host of the search engine (its redirect links start with searchSite +
  // "/link?url=").
  RankQuery(RankUi& ui, PageLoader& loader, std::string rankSite, std::string searchSite);

  // Click handler of the start button: starts a run, or stops the one
  // going.
  void StartStopRankQuery();
  // Appends the rows of one ranking page to the list.
  void ParseRankPage(const std::string& html);
  // Appends the rows of a page's results block (FindResultsBlock), the one
  // its outcome was judged by.
  void ParseRankBlock(const std::string& body);
  // Cleans text and writes it into column of row currentRow.
  void SetRankCell(int column, const std::string& text);
  // The browser's document-ready event.
  void OnDocumentReady() { documentReady = true; }
  // Address of a ranking page of currentDomain under the run's sort.
  std::string PageAddress(int page) const { return PageAddress(currentDomain, page); }
  std::string PageAddress(const std::string& domain, int page) const override;

  void SetSites(std::string rankSite, std::string searchSite);
  // The keyword site, for the plans of runs only.
  void SetKeywordSite(std::string keywordSite) { keywordSite_ = std::move(keywordSite); }

  // Every input of a run of `targets`, from the controls and settings now.
  RunPlan CapturePlan(const std::vector<std::string>& targets) const;
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

  // Goes on with a run of plan that ended midway: the list shows its earlier
  // pages' rows first, and at the end every row in the run's order.
  void GoOnWith(RunPlan plan, std::unique_ptr<PageSource> source, std::vector<PageReport> earlier);

  // Query state, one set per program.
  std::string currentDomain;
  int currentPage = 0;
  std::vector<std::string> seenKeywords;
  int currentRow = -1;
  bool documentReady = false;
  StartRefusal refusal;  // of the last start click

 private:
  // A row read from a page, listed once its link is resolved.
  struct PendingRow {
    std::string cells[8];
    bool convert = false;
  };
  // The rows of a results block that go into the list (the duplicate
  // filter applied), and the links among them to resolve.
  std::vector<PendingRow> ReadRankRows(const std::string& body, std::vector<std::string>& links);
  // Lists the rows, with the resolved links in the order asked.
  void ListRankRows(const std::vector<PendingRow>& rows, const std::vector<std::string>& resolved);
  bool SeenBefore(const std::string& keyword);
  // Resolves the links of a page with the resolver installed: together
  // when one takes them so, else one by one. Safe to call on a worker.
  std::function<std::vector<std::string>(const std::vector<std::string>&)> Resolver() const;

  void FetchPage(const std::string& address, std::function<bool()> stopped, FetchDone done) override;
  // Polls the browser until its document is ready, as the first check
  // comes 500 ms after the navigation and each further one 100 ms later.
  void PollDocument(int polls, int maxPolls, FetchDone done);
  int TotalPages(const std::string& firstPage) const override;
  void ReadPage(const PageTask& task, const LoadedPage& loaded, std::function<void(PageRows)> done) override;
  void ShowPageStatus(const std::string& domain, int page, int total) override;
  void ShowStopping() override;
  void ShowStatusText(const std::string& text) override { ui_.SetStatusText(text); }
  void OnRunStarted() override;
  bool BeginTarget(const PageTask& task) override;
  void OnRunEnding() override;
  void OnRunEnded() override;

  RankUi& ui_;
  PageLoader& loader_;
  std::string rankSite_;
  std::string searchSite_;
  std::string keywordSite_;
  std::unordered_set<std::string> seenIndex_;  // mirrors seenKeywords for fast lookup
};

}  // namespace lanshu
