#pragma once
// Keyword mining: for each seed keyword, fetch the keyword site's related-
// keyword pages over HTTP and write one line per related keyword. A run of
// its own (see Runner) started by the start button; a second click asks it
// to stop. Requests go out away from the window's thread.
#include <ctime>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "mining/ResultFiles.h"
#include "run/Runner.h"
#include "run/RunEvents.h"
#include "run/RunPlan.h"
#include "rank/RankQuery.h"

namespace lanshu {

// What keyword mining reads and sets in the window. Texts are GBK with
// "\r\n" line ends.
class MiningUi {
 public:
  virtual ~MiningUi() = default;
  virtual std::string StartCaption() const = 0;
  virtual void SetStartCaption(const std::string& caption) = 0;
  virtual std::string KeywordListText() const = 0;
  // The same text before its conversion to GBK ("\r\n" line ends), so that
  // characters GBK cannot hold are seen.
  virtual std::u16string KeywordListWide() const;
  virtual void ClearResults() = 0;
  // Appends text at the end of the result box and scrolls it into view.
  virtual void AppendResult(const std::string& text) = 0;
  virtual bool VolumeChecked() const = 0;      // 选择框搜索量
  virtual bool IndexedChecked() const = 0;     // 选择框收录量
  virtual bool FirstSiteChecked() const = 0;   // 选择框第一位
  virtual bool SecondSiteChecked() const = 0;  // 选择框第二位
  virtual bool DifficultyChecked() const = 0;  // 选择框优化难度
  virtual bool KeepSeedChecked() const = 0;    // 选择框保留加入
  virtual bool AutoSaveChecked() const = 0;    // 选择框自动保存目录
  virtual bool SeparateFilesChecked() const = 0;  // 选择框独立保存
  virtual std::string LimitText() const = 0;
  virtual std::string DirectoryText() const = 0;
  virtual std::string ExtensionText() const = 0;
  virtual std::string PageIntervalText() const = 0;
  virtual std::string KeywordIntervalText() const = 0;
  virtual void SetStatusText(const std::string& text) = 0;
};

// A result file a run could not open or write: its name (GBK) and the
// system's error number.
struct ResultFileFailure {
  std::string file;
  int error = 0;
};

// The program-wide state of a mining run; its fields keep their values
// between runs.
struct MiningState {
  bool stopRequested = false;
  int resultTotal = 0;
  std::string csvHeader;
  ResultFile outputFile;
  std::string currentKeyword;
  int keywordResultCount = 0;
  int currentPage = 0;
};

// The lines of pages (of seed, or of all when empty) as the run wrote them,
// each ending in "\r\n".
std::string LinesOfPages(const std::vector<PageReport>& pages, const std::string& seed = std::string());

// Writes the result files of a whole run from its pages, in the run's order,
// as the run itself writes them: one file, or one per seed begun. False when
// one cannot be written, with its name in failedFile.
bool WriteRunResultFiles(const RunPlan& plan, const std::vector<PageReport>& pages, const std::tm& now,
                         std::string& failedFile);

class KeywordMining : public Runner {
 public:
  // keywordSite: root address of the keyword site, ending in "/".
  KeywordMining(MiningUi& ui, std::string keywordSite);

  // Click handler of the start button: starts a run, or stops the one
  // going.
  void StartOrStopMining();
  // Fetches page n of the current seed; GBK HTML, empty on failure.
  std::string FetchMiningPage(int n);
  // Writes one line per related keyword of a page; seed is the seed keyword
  // on its page 1 and empty on later pages.
  void ParseMiningPage(const std::string& page, const std::string& seed);
  // The same for a page whose results block was found already: its rows are
  // read from the whole page, as the site nests them.
  void ParseMiningRows(const std::string& page, const std::string& seed);

  void SetKeywordSite(std::string keywordSite) { keywordSite_ = std::move(keywordSite); }
  // The other two sites, for the plans of runs only.
  void SetOtherSites(std::string rankSite, std::string searchSite) {
    rankSite_ = std::move(rankSite);
    searchSite_ = std::move(searchSite);
  }

  // Every input of a run of `seeds`, from the controls and settings now.
  RunPlan CapturePlan(const std::vector<std::string>& seeds) const;
  std::string PageAddress(int n) const { return PageAddress(state.currentKeyword, n); }
  std::string PageAddress(const std::string& seed, int n) const override;

  // GET of an address (UTF-8 body, empty on failure); the program's HTTP
  // engine unless a test installs another. Both fetches are called away
  // from the window's thread when a scheduler is set.
  std::function<std::string(const std::string& url)> fetch;
  // The same GET telling its status and what went wrong; `stopped`, asked
  // while it waits, ends it at once. Used instead of `fetch` when installed.
  struct Fetched {
    std::string body;  // UTF-8
    PageFetch fetch;
  };
  std::function<Fetched(const std::string& url, const std::function<bool()>& stopped)> fetchPage;

  // Fetches again the pages of the last run that were not ok; their lines go
  // to the end of the result box and to the result files they belonged to
  // (the popup command 重试失败页).
  void RetryFailedPages();

  // Where a run's lines went: its one result file, or each seed's.
  struct KeptFiles {
    std::string run;
    std::map<std::string, std::string> seeds;
  };
  // Goes on with a run of plan that ended midway. Its earlier pages' lines
  // come first, and its result files are cut back to them (a page written
  // half at a kill) and written on; at the end each file holds its lines in
  // the run's order.
  void GoOnWith(RunPlan plan, std::unique_ptr<PageSource> source, std::vector<PageReport> earlier, KeptFiles files);
  // A result file is about to be made: the run's (seed empty) or a seed's.
  // Called before the file exists, so that its name is kept first.
  std::function<void(const std::string& seed, const std::string& path)> onResultFile;

  // The local time (a test may install a fixed clock).
  std::function<std::tm()> now;

  MiningState state;
  StartRefusal refusal;  // of the last start click
  // The result file that stopped the last run; no file when none did.
  ResultFileFailure writeFailure;

 private:
  // False when the file cannot be opened; the run then stops.
  bool OpenResultFile(const std::string& name);
  // Passes `ok` through; a result file that failed (lines that would be
  // lost without a word) stops the run, which then ends failed.
  bool ResultFileOk(bool ok);

  void FetchPage(const std::string& address, std::function<bool()> stopped, FetchDone done) override;
  int TotalPages(const std::string& firstPage) const override;
  void ReadPage(const PageTask& task, const LoadedPage& loaded, std::function<void(PageRows)> done) override;
  void ShowPageStatus(const std::string& seed, int page, int total) override;
  void ShowStopping() override;
  void ShowStatusText(const std::string& text) override { ui_.SetStatusText(text); }
  void OnRunStarted() override;
  bool BeginTarget(const PageTask& task) override;
  void EndTarget() override;
  bool TargetFull() const override { return plan_.limit > 0 && state.keywordResultCount >= plan_.limit; }
  bool FirstPageDespiteStop() const override { return true; }
  int PageIntervalMs() const override { return InRetry() ? 0 : plan_.pageIntervalMs; }
  int TargetIntervalMs() const override { return plan_.keywordIntervalMs; }
  void OnRunEnding() override;
  void OnRunEnded() override;

  // Starts a run once the result folder takes files; false when refused.
  bool ResultFolderReady(const RunPlan& plan);
  // Rewrites path with the lines of pages (of seed, or all when empty).
  bool RewriteResultFile(const std::string& path, const std::vector<PageReport>& pages, const std::string& seed);
  int EarlierLines(const std::string& seed) const;
  // A run that goes on: its result files as they were, cut back.
  void KeepOnWriting();

  KeptFiles kept_;  // of a run that goes on
  // The result file each seed's lines went to in the last run.
  std::map<std::string, std::string> seedFiles_;
  std::string openedFile_;  // the result file opened last
  // The cells of the lines the page being parsed added, for its report.
  std::vector<std::vector<std::string>> pageCells_;

  MiningUi& ui_;
  std::string keywordSite_;
  std::string rankSite_, searchSite_;
};

}  // namespace lanshu
