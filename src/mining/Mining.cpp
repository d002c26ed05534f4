#include "mining/Mining.h"

#include <cstdlib>
#include <utility>
#include <vector>

#include "rank/PumpedWait.h"
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

void KeywordMining::OpenResultFile(const std::string& name) { state.outputFile.OpenForRewrite(name); }

void KeywordMining::StartOrStopMining() {
  if (ui_.StartCaption() != T().idle) {
    ui_.SetStartCaption(T().stopping);
    state.stopRequested = true;
    return;
  }
  refusal = StartRefusal();
  // Seeds are trimmed; blank lines are never mined. A list of blank lines
  // alone counts as empty.
  const std::vector<std::string> seeds = NonBlankPieces(ui_.KeywordListText(), "\r\n");
  if (seeds.empty()) {
    ShowMessageBox(Utf8TextToGbk("请先输入要挖掘的关键词列表！"), kMbOk | kMbTaskModal, T().info);
    return;
  }
  const std::string unwritable = FirstUnwritablePiece(ui_.KeywordListWide(), u"\r\n");
  if (!unwritable.empty()) {
    refusal = {StartRefusal::kUnwritableText, unwritable, 0};
    ShowMessageBox(Utf8TextToGbk("关键词含有GBK无法表示的字符：") + unwritable, kMbOk | kMbTaskModal, T().info);
    return;
  }
  std::string dir = ui_.DirectoryText();
  if (dir.empty() || dir.back() != kPathSeparator) dir.push_back(kPathSeparator);
  // Lines that cannot be saved would be lost without a word: with saving on,
  // the folder must take files before anything is fetched.
  if (ui_.AutoSaveChecked()) {
    if (const int error = PrepareResultFolder(dir)) {
      refusal = {StartRefusal::kResultFolder, dir, error};
      ShowMessageBox(Utf8TextToGbk("无法写入结果目录：") + dir + "\r\n" + FolderErrorText(error),
                     kMbOk | kMbTaskModal, T().info);
      return;
    }
  }
  state.stopRequested = false;
  ui_.SetStartCaption(T().running);
  ui_.SetStatusText(Utf8TextToGbk("开始挖掘.."));

  ui_.ClearResults();
  state.resultTotal = 0;

  std::string header = Utf8TextToGbk("关键词");
  if (ui_.VolumeChecked()) header += Utf8TextToGbk(",搜索量");
  if (ui_.IndexedChecked()) header += Utf8TextToGbk(",收录量");
  if (ui_.FirstSiteChecked()) header += Utf8TextToGbk(",第一位");
  if (ui_.SecondSiteChecked()) header += Utf8TextToGbk(",第二位");
  if (ui_.DifficultyChecked()) header += Utf8TextToGbk(",优化难度");
  state.csvHeader = header;

  MakeDirectoryPath(dir);

  if (ui_.AutoSaveChecked() && !ui_.SeparateFilesChecked())
    OpenResultFile(dir + Utf8TextToGbk("全部结果_") + DateTimeText(now()) + "." + ui_.ExtensionText());

  for (const std::string& seed : seeds) {
    state.currentKeyword = seed;
    if (ui_.AutoSaveChecked() && ui_.SeparateFilesChecked())
      OpenResultFile(dir + CleanFileName(state.currentKeyword) + "_" + DateTimeText(now()) + "." +
                     ui_.ExtensionText());
    state.keywordResultCount = 0;
    MineKeyword();
    if (ui_.SeparateFilesChecked()) state.outputFile.Close();
    if (state.stopRequested) break;
    ClockedWait(SecondsToMilliseconds(ui_.KeywordIntervalText()), state.stopRequested);
  }
  if (!ui_.SeparateFilesChecked()) state.outputFile.Close();

  ui_.SetStartCaption(T().idle);
  ShowMessageBox(Utf8TextToGbk("获取完成！总共 ") + std::to_string(state.resultTotal) + Utf8TextToGbk(" 个关键词！"),
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
  std::string page = FetchMiningPage(1);
  const int last = DetectLastPage(page, PageLinkForm::kMining);
  state.currentPage = 0;
  while (!state.stopRequested) {
    ++state.currentPage;
    ui_.SetStatusText(Utf8TextToGbk("关键词：") + state.currentKeyword + Utf8TextToGbk("  当前页：") +
                      std::to_string(state.currentPage) + Utf8TextToGbk("  总：") + std::to_string(last));
    if (state.currentPage != 1) page = FetchMiningPage(state.currentPage);
    ParseMiningPage(page, state.currentPage == 1 ? state.currentKeyword : std::string());
    ClockedWait(SecondsToMilliseconds(ui_.PageIntervalText()), state.stopRequested);
    const int limit = ToInteger(ui_.LimitText());
    if (limit > 0 && state.keywordResultCount >= limit) break;
    ProcessPendingEvents();
    if (state.currentPage >= last) break;
  }
}

void KeywordMining::ParseMiningPage(const std::string& page, const std::string& seed) {
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

  if (finder.FindElements(page, "div", {"class"}, {"box_05"}).empty()) return;
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
    if (keyword.empty() && ui_.KeepSeedChecked() && !seed.empty() && !seedKept) {
      keyword = seed;
      seedKept = true;
    }
    if (keyword.empty()) {  // no keyword, no line
      ProcessPendingEvents();
      continue;
    }
    // Every cell is quoted where it holds a comma, quote or line break, so a
    // line always has one column per ticked box.
    std::string line = CsvCell(keyword);
    if (ui_.VolumeChecked()) line += "," + CsvCell(clean(cell(3)));
    if (ui_.IndexedChecked()) line += "," + CsvCell(clean(cell(4)));
    if (ui_.FirstSiteChecked()) line += "," + CsvCell(site(5));
    if (ui_.SecondSiteChecked()) line += "," + CsvCell(site(6));
    if (ui_.DifficultyChecked()) line += "," + CsvCell(TextBetween(cell(7), "images/keyword/l", "."));
    line += "\r\n";
    ui_.AppendResult(line);
    if (ui_.AutoSaveChecked()) state.outputFile.Write(line);
    ++state.resultTotal;
    ++state.keywordResultCount;
    const int limit = ToInteger(ui_.LimitText());
    if (limit > 0 && state.keywordResultCount >= limit) return;
    ProcessPendingEvents();
  }
}

}  // namespace lanshu
