#include "mining/Mining.h"

#include <cstdlib>
#include <utility>
#include <vector>

#include "run/PageOutcome.h"
#include "run/PumpedWait.h"
#include "rank/RankQuery.h"
#include "text/Codec.h"
#include "text/Csv.h"
#include "text/Entities.h"
#include "text/Events.h"
#include "text/HtmlElementFinder.h"
#include "text/InputText.h"
#include "text/MessageBox.h"
#include "text/Numbers.h"
#include "text/Regex.h"
#include "web/Coding.h"

namespace lanshu {
namespace {

struct Texts {
  std::string idle = Utf8TextToGbk("开始挖掘");
  std::string running = Utf8TextToGbk("停止挖掘");
  std::string stopping = Utf8TextToGbk("停止中");
  std::string info = Utf8TextToGbk("信息：");
  std::string fullWidthComma = Utf8TextToGbk("，");
  std::string blankPattern = Utf8TextToGbk("^[　 \\t]*$(\\r\\n)|^[ 　\\t]+|[ 　\\t]+$|\\r\\n|\\r|\\n");
};

const Texts& T() {
  static const Texts texts;
  return texts;
}

std::tm LocalNow() {
  std::time_t t = std::time(nullptr);
  std::tm out{};
#ifdef _WIN32
  localtime_s(&out, &t);
#else
  localtime_r(&t, &out);
#endif
  return out;
}

}  // namespace

std::u16string MiningUi::KeywordListWide() const { return GbkToU16(KeywordListText()); }

KeywordMining::KeywordMining(MiningUi& ui, std::string keywordSite)
    : now(LocalNow), ui_(ui), keywordSite_(std::move(keywordSite)) {}

bool KeywordMining::Running() const { return ui_.StartCaption() != T().idle; }

bool KeywordMining::OpenResultFile(const std::string& name) {
  openedFile_ = name;
  return ResultFileOk(state.outputFile.OpenForRewrite(name));
}

bool KeywordMining::ResultFileOk(bool ok) {
  if (ok) return true;
  if (!failed_) writeFailure = {openedFile_, state.outputFile.Error()};
  failed_ = true;
  state.stopRequested = true;
  ui_.SetStartCaption(T().stopping);
  return false;
}

void KeywordMining::RequestStop() {
  if (!Running()) return;
  ui_.SetStartCaption(T().stopping);
  state.stopRequested = true;
  userStopped_ = true;
}

void KeywordMining::StartOrStopMining() {
  if (ui_.StartCaption() != T().idle) {
    RequestStop();
    return;
  }
  refusal = StartRefusal();
  // Seeds are trimmed; blank lines are never mined. A list of blank lines
  // alone counts as empty.
  const std::vector<std::string> seeds = NonBlankPieces(ui_.KeywordListText(), "\r\n");
  if (seeds.empty()) {
    refusal.kind = StartRefusal::kNothingToCollect;
    ShowMessageBox(Utf8TextToGbk("请先输入要挖掘的关键词列表！"), kMbOk | kMbTaskModal, T().info);
    return;
  }
  const std::string unwritable = FirstUnwritablePiece(ui_.KeywordListWide(), u"\r\n");
  if (!unwritable.empty()) {
    refusal = {StartRefusal::kUnwritableText, unwritable, 0};
    ShowMessageBox(Utf8TextToGbk("关键词含有GBK无法表示的字符：") + unwritable, kMbOk | kMbTaskModal, T().info);
    return;
  }
  // Every input of the run, now: a control changed during the run affects
  // the next one only.
  const RunPlan plan = CapturePlan(seeds);
  const std::string& dir = plan.resultFolder;
  // Lines that cannot be saved would be lost without a word: with saving on,
  // the folder must take files before anything is fetched.
  if (plan.autoSave) {
    if (const int error = PrepareResultFolder(dir)) {
      refusal = {StartRefusal::kResultFolder, dir, error};
      ShowMessageBox(Utf8TextToGbk("无法写入结果目录：") + dir + "\r\n" + FolderErrorText(error),
                     kMbOk | kMbTaskModal, T().info);
      return;
    }
  }
  plan_ = plan;
  active_ = plan_.reliability;
  state.stopRequested = false;
  userStopped_ = blockedStopped_ = failed_ = false;
  writeFailure = ResultFileFailure();
  ui_.SetStartCaption(T().running);
  ui_.SetStatusText(Utf8TextToGbk("开始挖掘.."));
  listeners.RunStarted(RunKind::kMine, seeds);

  ui_.ClearResults();
  state.resultTotal = 0;
  state.csvHeader = plan_.MiningHeader();

  MakeDirectoryPath(dir);

  seedFiles_.clear();
  openedFile_.clear();
  if (plan_.autoSave && !plan_.separateFiles)
    OpenResultFile(FreeResultFileName(dir + Utf8TextToGbk("全部结果_") + DateTimeText(now()), plan_.extension));

  int index = 0;
  for (const std::string& seed : seeds) {
    if (failed_) break;  // the run's result file could not be opened
    state.currentKeyword = seed;
    listeners.TargetStarted(RunKind::kMine, seed, ++index, static_cast<int>(seeds.size()));
    if (plan_.autoSave && plan_.separateFiles &&
        !OpenResultFile(FreeResultFileName(dir + CleanFileName(state.currentKeyword) + "_" + DateTimeText(now()),
                                           plan_.extension)))
      break;
    if (plan_.autoSave) seedFiles_[seed] = openedFile_;
    state.keywordResultCount = 0;
    MineKeyword();
    if (plan_.separateFiles) ResultFileOk(state.outputFile.Close());
    if (state.stopRequested) break;
    ClockedWait(plan_.keywordIntervalMs, state.stopRequested);
  }
  if (!plan_.separateFiles) ResultFileOk(state.outputFile.Close());
  EndRun();
}

void KeywordMining::EndRun() {
  state.outputFile.Close();  // a run stopped by a failed file leaves it open
  ui_.SetStartCaption(T().idle);
  if (failed_) {
    listeners.RunFailed(RunKind::kMine, "cannot write " + GbkToUtf8Text(writeFailure.file) + ": " +
                                            FolderErrorTextEnglish(writeFailure.error));
    listeners.RunEnded(RunKind::kMine, Ending());
    ShowMessageBox(Utf8TextToGbk("无法写入结果文件：") + writeFailure.file + Utf8TextToGbk("：") +
                       FolderErrorText(writeFailure.error),
                   kMbOk | kMbTaskModal, T().info);
    return;
  }
  listeners.RunEnded(RunKind::kMine, Ending());
  const std::string total = std::to_string(state.resultTotal) + Utf8TextToGbk(" 个关键词！");
  ShowMessageBox(Notice(Utf8TextToGbk("获取完成！总共 ") + total, Utf8TextToGbk("获取已停止！总共 ") + total),
                 kMbOk | kMbTaskModal, T().info);
}

std::string KeywordMining::PageAddress(int n) const {
  return keywordSite_ + UrlEncodeUtf8(state.currentKeyword) + "/" + std::to_string(n) + "/";
}

std::string KeywordMining::FetchMiningPage(int n) {
  const std::string body = fetch ? fetch(PageAddress(n)) : std::string();
  return Utf8ToGbk(body);
}

void KeywordMining::MineKeyword() {
  const LoadedPage first = CollectPage(1, 0);
  if (blockedStopped_ && !first.stopped) {  // the wall ended the run: its page is still told
    state.currentPage = 1;
    FinishPage(1, first);
    return;
  }
  const int last = DetectLastPage(first.html, PageLinkForm::kMining);
  state.currentPage = 0;
  while (!state.stopRequested) {
    ++state.currentPage;
    ShowPageStatus(last);
    const LoadedPage loaded = state.currentPage == 1 ? first : CollectPage(state.currentPage, last);
    if (loaded.stopped) break;
    FinishPage(state.currentPage, loaded);
    ClockedWait(plan_.pageIntervalMs, state.stopRequested);
    if (plan_.limit > 0 && state.keywordResultCount >= plan_.limit) break;
    ProcessPendingEvents();
    if (state.currentPage >= last) break;
  }
}

void KeywordMining::RetryFailedPages() {
  if (Running() || ledger_.NotOk().empty()) return;
  // A run of its own, of just those pages: its listeners and its message
  // count what fails again.
  const std::vector<PageReport> pages = ledger_.NotOk();
  state.stopRequested = false;
  userStopped_ = blockedStopped_ = failed_ = false;
  writeFailure = ResultFileFailure();
  active_ = plan_.reliability;  // the pages are asked as the run they failed in asked them
  ui_.SetStartCaption(T().running);
  listeners.RunStarted(RunKind::kMine, TargetsOf(pages));
  for (const PageReport& failed : pages) {
    if (state.stopRequested) break;
    state.currentKeyword = failed.target;
    state.currentPage = failed.page;
    state.keywordResultCount = 0;
    auto file = seedFiles_.find(failed.target);
    if (file != seedFiles_.end()) {
      openedFile_ = file->second;
      if (!ResultFileOk(state.outputFile.OpenForAppend(file->second))) break;
    }
    ShowPageStatus(state.currentPage);
    const LoadedPage loaded = CollectPage(failed.page, 0);
    if (!loaded.stopped) FinishPage(failed.page, loaded);
    ResultFileOk(state.outputFile.Close());
    if (loaded.stopped || failed_) break;
    ProcessPendingEvents();
  }
  EndRun();
}

void KeywordMining::ShowPageStatus(int total) {
  ui_.SetStatusText(Utf8TextToGbk("关键词：") + state.currentKeyword + Utf8TextToGbk("  当前页：") +
                    std::to_string(state.currentPage) + Utf8TextToGbk("  总：") + std::to_string(total));
}

void KeywordMining::FinishPage(int n, const LoadedPage& loaded) {
  pageCells_.clear();
  const int before = state.resultTotal;
  if (loaded.outcome.Ok() && !loaded.block.empty())
    ParseMiningRows(loaded.html, n == 1 ? state.currentKeyword : std::string());
  PageReport report;
  report.target = state.currentKeyword;
  report.page = n;
  report.address = PageAddress(n);
  report.outcome = loaded.outcome;
  report.attempts = loaded.attempts;
  report.rows = state.resultTotal - before;
  report.cells = std::move(pageCells_);
  pageCells_.clear();
  listeners.PageEnded(RunKind::kMine, report);
}

KeywordMining::LoadedPage KeywordMining::CollectPage(int n, int knownPages) {
  PageReport asked;
  asked.target = state.currentKeyword;
  asked.page = n;
  asked.address = PageAddress(n);
  LoadedPage loaded;
  int failures = 0;
  for (;;) {
    if (failures > 0) ClockedWait(active_.RetryWaitMs(failures + 1), state.stopRequested);
    // Page 1 of a seed is asked for even with a stop pending, as a seed
    // always starts; later pages and further attempts are not.
    if (state.stopRequested && (n != 1 || loaded.attempts > 0)) {
      loaded.stopped = true;
      return loaded;
    }
    ++loaded.attempts;
    listeners.PageRequested(RunKind::kMine, state.currentKeyword, n, loaded.attempts, knownPages);
    Fetched got;
    if (fetchPage) {
      // A Stop that comes while the request waits ends it at once.
      const bool stopBefore = state.stopRequested;
      got = fetchPage(asked.address, [this, stopBefore] { return !stopBefore && state.stopRequested; });
    } else {
      got.body = fetch ? fetch(asked.address) : std::string();
      if (got.body.empty()) got.fetch.error = "no answer";
    }
    loaded.html = Utf8ToGbk(got.body);
    if (state.stopRequested) {  // nothing of a stopped run's page is listed
      loaded.stopped = true;
      return loaded;
    }
    if (Judge(loaded, got.fetch, asked, failures) == Next::kDone) break;
  }
  if (blockedStopped_) {
    state.stopRequested = true;
    ui_.SetStartCaption(T().stopping);
  }
  return loaded;
}

void KeywordMining::ParseMiningPage(const std::string& page, const std::string& seed) {
  // A page parsed on its own goes by the controls as they are.
  plan_ = CapturePlan(plan_.targets);
  if (!FindResultsBlock(page).empty()) ParseMiningRows(page, seed);
}

RunPlan KeywordMining::CapturePlan(const std::vector<std::string>& seeds) const {
  RunPlan plan = RunPlan::For(RunKind::kMine, seeds, reliability, rankSite_, keywordSite_, searchSite_);
  plan.volume = ui_.VolumeChecked();
  plan.indexed = ui_.IndexedChecked();
  plan.firstSite = ui_.FirstSiteChecked();
  plan.secondSite = ui_.SecondSiteChecked();
  plan.difficulty = ui_.DifficultyChecked();
  plan.limit = ToInteger(ui_.LimitText());
  plan.keepSeed = ui_.KeepSeedChecked();
  plan.pageIntervalMs = SecondsToMilliseconds(ui_.PageIntervalText());
  plan.keywordIntervalMs = SecondsToMilliseconds(ui_.KeywordIntervalText());
  plan.autoSave = ui_.AutoSaveChecked();
  plan.separateFiles = ui_.SeparateFilesChecked();
  plan.resultFolder = ui_.DirectoryText();
  if (plan.resultFolder.empty() || plan.resultFolder.back() != kPathSeparator) plan.resultFolder.push_back(kPathSeparator);
  plan.extension = ui_.ExtensionText();
  return plan;
}

void KeywordMining::ParseMiningRows(const std::string& page, const std::string& seed) {
  // Searching the cells of one row one after another costs little: the finder
  // keeps the row's index between searches of the same text.
  HtmlElementFinder finder;
  // The two patterns never change, and compiling them costs as much as
  // parsing a short page: each thread compiles them once (a Compile with the
  // pattern already held does nothing).
  thread_local RegexObject tags;
  thread_local RegexObject blanks;
  tags.Compile("<[\\s\\S]+?>");
  blanks.Compile(T().blankPattern);
  std::string row;  // the row whose cells are being read
  bool seedKept = false;
  auto clean = [&](const std::string& html) { return blanks.Replace(tags.Replace(html, ""), ""); };
  auto cell = [&](int k) {
    return finder.FindElements(row, "td", {}, {}, std::string(), false, false, k);
  };
  // The commas are replaced last, so that decoded ones ("&#44;") and those
  // between tags cannot add a column either.
  auto site = [&](int k) {
    std::string v = clean(DecodeEntities(cell(k)));
    ReplaceList(v, ",", T().fullWidthComma, true);
    return v;
  };

  const int n = std::atoi(finder.FindElements(page, "tr", {}, {}, std::string(), false, false, -1).c_str());
  for (int i = 1; i <= n; ++i) {
    if (state.stopRequested) return;
    if (i == 1) continue;  // the header row
    row = finder.GetElement(i);
    if (row.empty()) {
      ProcessPendingEvents();
      continue;
    }
    std::string keyword = clean(cell(2));
    // The seed stands in for a keyword-less row of its page 1 once: a page
    // of empty rows must not repeat it.
    if (keyword.empty() && plan_.keepSeed && !seed.empty() && !seedKept) {
      keyword = seed;
      seedKept = true;
    }
    if (keyword.empty()) {  // no keyword, no line
      ProcessPendingEvents();
      continue;
    }
    // Every cell is quoted where it holds a comma, quote or line break, so a
    // line always has one column per ticked box.
    std::vector<std::string> cells{keyword};
    if (plan_.volume) cells.push_back(clean(cell(3)));
    if (plan_.indexed) cells.push_back(clean(cell(4)));
    if (plan_.firstSite) cells.push_back(site(5));
    if (plan_.secondSite) cells.push_back(site(6));
    if (plan_.difficulty) cells.push_back(TextBetween(cell(7), "images/keyword/l", "."));
    const std::string line = CsvLine(cells) + "\r\n";
    pageCells_.push_back(std::move(cells));
    ui_.AppendResult(line);
    const bool saved = !plan_.autoSave || ResultFileOk(state.outputFile.Write(line));
    ++state.resultTotal;
    ++state.keywordResultCount;
    if (!saved) return;
    if (plan_.limit > 0 && state.keywordResultCount >= plan_.limit) return;
    ProcessPendingEvents();
  }
}

}  // namespace lanshu
