#include "mining/Mining.h"

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <utility>
#include <vector>

#include "run/PageOutcome.h"
#include "rank/RankQuery.h"
#include "text/Codec.h"
#include "text/Csv.h"
#include "text/Entities.h"
#include "text/HtmlElementFinder.h"
#include "text/InputText.h"
#include "hooks/MessageBox.h"
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
    : Runner(RunKind::kMine), now(LocalNow), ui_(ui), keywordSite_(std::move(keywordSite)) {}

bool KeywordMining::OpenResultFile(const std::string& name) {
  openedFile_ = name;
  return ResultFileOk(state.outputFile.OpenForRewrite(name));
}

bool KeywordMining::ResultFileOk(bool ok) {
  if (ok) return true;
  if (!RunFailed()) {
    writeFailure = {openedFile_, state.outputFile.Error()};
    FailRun("cannot write " + GbkToUtf8Text(writeFailure.file) + ": " + FolderErrorTextEnglish(writeFailure.error));
  }
  return false;
}

void KeywordMining::ShowStopping() {
  ui_.SetStartCaption(T().stopping);
  state.stopRequested = true;
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
  RunPlan plan = CapturePlan(seeds);
  if (!ResultFolderReady(plan)) return;
  Run(std::move(plan), std::make_unique<FreshPages>(seeds));
}

void KeywordMining::GoOnWith(RunPlan plan, std::unique_ptr<PageSource> source, std::vector<PageReport> earlier,
                             KeptFiles files) {
  if (Running()) return;
  refusal = StartRefusal();
  if (!ResultFolderReady(plan)) return;
  kept_ = std::move(files);
  GoOn(std::move(plan), std::move(source), std::move(earlier));
}

bool KeywordMining::ResultFolderReady(const RunPlan& plan) {
  const std::string& dir = plan.resultFolder;
  // Lines that cannot be saved would be lost without a word: with saving on,
  // the folder must take files before anything is fetched.
  if (plan.autoSave) {
    if (const int error = PrepareResultFolder(dir)) {
      refusal = {StartRefusal::kResultFolder, dir, error};
      ShowMessageBox(Utf8TextToGbk("无法写入结果目录：") + dir + "\r\n" + FolderErrorText(error),
                     kMbOk | kMbTaskModal, T().info);
      return false;
    }
  }
  state.stopRequested = false;
  writeFailure = ResultFileFailure();
  ui_.SetStartCaption(T().running);
  ui_.SetStatusText(Utf8TextToGbk("开始挖掘.."));
  return true;
}

int KeywordMining::EarlierLines(const std::string& seed) const {
  int lines = 0;
  for (const PageReport& page : earlier_)
    if (page.target == seed) lines += static_cast<int>(page.cells.size());
  return lines;
}

bool KeywordMining::RewriteResultFile(const std::string& path, const std::vector<PageReport>& pages,
                                      const std::string& seed) {
  return OpenResultFile(path) && ResultFileOk(state.outputFile.Write(LinesOfPages(pages, seed)));
}

void KeywordMining::OnRunStarted() {
  if (InRetry()) return;
  ui_.ClearResults();
  state.resultTotal = 0;
  state.csvHeader = plan_.MiningHeader();
  const std::string& dir = plan_.resultFolder;
  MakeDirectoryPath(dir);
  seedFiles_.clear();
  openedFile_.clear();
  if (GoingOn()) {
    for (const PageReport& page : earlier_)
      for (const std::vector<std::string>& cells : page.cells) {
        ui_.AppendResult(CsvLine(cells) + "\r\n");
        ++state.resultTotal;
      }
    if (plan_.autoSave) KeepOnWriting();
    return;
  }
  if (plan_.autoSave && !plan_.separateFiles) {
    // The name is kept before the file is made: a kill between the two
    // would leave a file that a resumed run does not know, and a second one.
    const std::string name = FreeResultFileName(dir + Utf8TextToGbk("全部结果_") + DateTimeText(now()), plan_.extension);
    if (onResultFile) onResultFile(std::string(), name);
    OpenResultFile(name);
  }
}

void KeywordMining::KeepOnWriting() {
  const std::string& dir = plan_.resultFolder;
  // Each file is cut back to the lines stored (a page written half at the
  // kill), then written on. A file whose name was not kept is made anew.
  if (!plan_.separateFiles) {
    std::string path = kept_.run;
    if (path.empty()) {
      path = FreeResultFileName(dir + Utf8TextToGbk("全部结果_") + DateTimeText(now()), plan_.extension);
      if (onResultFile) onResultFile(std::string(), path);
    }
    RewriteResultFile(path, earlier_, std::string());
    return;
  }
  for (const std::string& seed : plan_.targets) {
    if (seedFiles_.count(seed)) continue;
    auto kept = kept_.seeds.find(seed);
    if (kept == kept_.seeds.end() && EarlierLines(seed) == 0) continue;
    std::string path;
    if (kept != kept_.seeds.end()) {
      path = kept->second;
    } else {
      path = FreeResultFileName(dir + CleanFileName(seed) + "_" + DateTimeText(now()), plan_.extension);
      if (onResultFile) onResultFile(seed, path);
    }
    seedFiles_[seed] = path;
    if (!RewriteResultFile(path, earlier_, seed) || !ResultFileOk(state.outputFile.Close())) return;
  }
}

bool KeywordMining::BeginTarget(const PageTask& task) {
  state.currentKeyword = task.target;
  state.keywordResultCount = 0;
  if (GoingOn()) {
    // The line limit counts the seed's lines from before as well.
    state.keywordResultCount = EarlierLines(task.target);
    const auto file = seedFiles_.find(task.target);
    if (plan_.autoSave && plan_.separateFiles && file != seedFiles_.end()) {
      openedFile_ = file->second;
      return ResultFileOk(state.outputFile.OpenForAppend(file->second));
    }
  }
  if (InRetry()) {
    // The lines go to the end of the file the seed's lines went to.
    state.currentPage = task.page;
    auto file = seedFiles_.find(task.target);
    if (file == seedFiles_.end()) return true;
    openedFile_ = file->second;
    return ResultFileOk(state.outputFile.OpenForAppend(file->second));
  }
  if (plan_.autoSave && plan_.separateFiles) {
    // Kept before it is made, as the run's one file.
    const std::string name =
        FreeResultFileName(plan_.resultFolder + CleanFileName(task.target) + "_" + DateTimeText(now()), plan_.extension);
    if (onResultFile) onResultFile(task.target, name);
    if (!OpenResultFile(name)) return false;
  }
  if (plan_.autoSave) seedFiles_[task.target] = openedFile_;
  return true;
}

void KeywordMining::EndTarget() {
  if (InRetry() || plan_.separateFiles) ResultFileOk(state.outputFile.Close());
}

void KeywordMining::OnRunEnding() {
  if (!InRetry() && !plan_.separateFiles && !RunFailed()) ResultFileOk(state.outputFile.Close());
  state.outputFile.Close();  // a run stopped by a failed file leaves it open
  if (GoingOn() && !RunFailed()) {
    // Pages asked again after the kill may belong before lines written since.
    const std::vector<PageReport> whole = WholeRun();
    ui_.ClearResults();
    for (const PageReport& page : whole)
      for (const std::vector<std::string>& cells : page.cells) ui_.AppendResult(CsvLine(cells) + "\r\n");
    if (plan_.autoSave && !plan_.separateFiles && !openedFile_.empty() &&
        RewriteResultFile(openedFile_, whole, std::string()))
      ResultFileOk(state.outputFile.Close());
    if (plan_.autoSave && plan_.separateFiles)
      for (const auto& [seed, path] : seedFiles_)
        if (!RewriteResultFile(path, whole, seed) || !ResultFileOk(state.outputFile.Close())) break;
  }
  ui_.SetStartCaption(T().idle);
}

void KeywordMining::OnRunEnded() {
  if (RunFailed()) {
    ShowMessageBox(Utf8TextToGbk("无法写入结果文件：") + writeFailure.file + Utf8TextToGbk("：") +
                       FolderErrorText(writeFailure.error),
                   kMbOk | kMbTaskModal, T().info);
    return;
  }
  const std::string total = std::to_string(state.resultTotal) + Utf8TextToGbk(" 个关键词！");
  ShowMessageBox(Notice(Utf8TextToGbk("获取完成！总共 ") + total, Utf8TextToGbk("获取已停止！总共 ") + total),
                 kMbOk | kMbTaskModal, T().info);
}

std::string KeywordMining::PageAddress(const std::string& seed, int n) const {
  return keywordSite_ + UrlEncodeUtf8(seed) + "/" + std::to_string(n) + "/";
}

std::string KeywordMining::FetchMiningPage(int n) {
  const std::string body = fetch ? fetch(PageAddress(n)) : std::string();
  return Utf8ToGbk(body);
}

void KeywordMining::FetchPage(const std::string& address, std::function<bool()> stopped, FetchDone done) {
  auto got = std::make_shared<Fetched>();
  InBackground(
      [got, address, stopped, fetchPage = fetchPage, fetch = fetch] {
        if (fetchPage) {
          *got = fetchPage(address, stopped);
        } else {
          got->body = fetch ? fetch(address) : std::string();
          if (got->body.empty()) got->fetch.error = "no answer";
        }
        got->body = Utf8ToGbk(got->body);
      },
      [got, done] { done(std::move(got->body), got->fetch); });
}

int KeywordMining::TotalPages(const std::string& firstPage) const {
  return DetectLastPage(firstPage, PageLinkForm::kMining);
}

void KeywordMining::RetryFailedPages() {
  if (Running() || ledger_.NotOk().empty()) return;
  // A run of its own, of just those pages, asked as the run they failed in
  // asked them: its listeners and its message count what fails again.
  state.stopRequested = false;
  writeFailure = ResultFileFailure();
  ui_.SetStartCaption(T().running);
  Run(plan_, std::make_unique<RetryPages>(ledger_.NotOk()));
}

void KeywordMining::ShowPageStatus(const std::string& seed, int page, int total) {
  state.currentKeyword = seed;
  state.currentPage = page;
  ui_.SetStatusText(Utf8TextToGbk("关键词：") + state.currentKeyword + Utf8TextToGbk("  当前页：") +
                    std::to_string(state.currentPage) + Utf8TextToGbk("  总：") + std::to_string(total));
}

void KeywordMining::ReadPage(const PageTask& task, const LoadedPage& loaded, std::function<void(PageRows)> done) {
  pageCells_.clear();
  const int before = state.resultTotal;
  if (loaded.outcome.Ok() && !loaded.block.empty())
    ParseMiningRows(loaded.html, task.page == 1 ? task.target : std::string());
  PageRows added;
  added.rows = state.resultTotal - before;
  added.cells = std::move(pageCells_);
  pageCells_.clear();
  done(std::move(added));
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
    if (row.empty()) continue;
    std::string keyword = clean(cell(2));
    // The seed stands in for a keyword-less row of its page 1 once: a page
    // of empty rows must not repeat it.
    if (keyword.empty() && plan_.keepSeed && !seed.empty() && !seedKept) {
      keyword = seed;
      seedKept = true;
    }
    if (keyword.empty()) continue;  // no keyword, no line
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
  }
}

std::string LinesOfPages(const std::vector<PageReport>& pages, const std::string& seed) {
  std::string lines;
  for (const PageReport& page : pages)
    if (seed.empty() || page.target == seed)
      for (const std::vector<std::string>& cells : page.cells) lines += CsvLine(cells) + "\r\n";
  return lines;
}

bool WriteRunResultFiles(const RunPlan& plan, const std::vector<PageReport>& pages, const std::tm& now,
                         std::string& failedFile) {
  const std::string& dir = plan.resultFolder;
  MakeDirectoryPath(dir);
  auto write = [&](const std::string& stem, const std::string& seed) {
    const std::string name = FreeResultFileName(dir + stem + "_" + DateTimeText(now), plan.extension);
    ResultFile file;
    const bool ok = file.OpenForRewrite(name) && file.Write(LinesOfPages(pages, seed));
    if (!file.Close() || !ok) failedFile = name;
    return failedFile.empty();
  };
  if (!plan.separateFiles) return write(Utf8TextToGbk("全部结果"), std::string());
  for (const std::string& seed : plan.targets) {
    const bool begun = std::any_of(pages.begin(), pages.end(), [&](const PageReport& p) { return p.target == seed; });
    if (begun && !write(CleanFileName(seed), seed)) return false;
  }
  return true;
}

}  // namespace lanshu
