#include "mining/Mining.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <sys/mount.h>

#include "TestSupport.h"
#include "results/Export.h"
#include "text/Codec.h"
#include "hooks/Events.h"
#include "hooks/MessageBox.h"

using namespace lanshu;

namespace {

std::string G(const char* utf8) { return Utf8TextToGbk(utf8); }

class FakeUi : public MiningUi {
 public:
  std::string caption = G("开始挖掘");
  std::string keywords = G("减肥\r\n丰胸");
  std::string results;
  bool volume = false, indexed = false, first = false, second = false, difficulty = false;
  bool keepSeed = true, autoSave = false, separate = false;
  std::string limit = "0", dir = "/tmp", ext = "csv", pageInterval = "0.1", keywordInterval = "0.5";
  std::vector<std::string> statuses;
  std::string StartCaption() const override { return caption; }
  void SetStartCaption(const std::string& c) override { caption = c; }
  std::string KeywordListText() const override { return keywords; }
  // What the window's control holds when it is not what KeywordListText converts back.
  std::u16string wide;
  std::u16string KeywordListWide() const override { return wide.empty() ? MiningUi::KeywordListWide() : wide; }
  void ClearResults() override { results.clear(); }
  void AppendResult(const std::string& t) override { results += t; }
  bool VolumeChecked() const override { return volume; }
  bool IndexedChecked() const override { return indexed; }
  bool FirstSiteChecked() const override { return first; }
  bool SecondSiteChecked() const override { return second; }
  bool DifficultyChecked() const override { return difficulty; }
  bool KeepSeedChecked() const override { return keepSeed; }
  bool AutoSaveChecked() const override { return autoSave; }
  bool SeparateFilesChecked() const override { return separate; }
  std::string LimitText() const override { return limit; }
  std::string DirectoryText() const override { return dir; }
  std::string ExtensionText() const override { return ext; }
  std::string PageIntervalText() const override { return pageInterval; }
  std::string KeywordIntervalText() const override { return keywordInterval; }
  void SetStatusText(const std::string& t) override { statuses.push_back(t); }
};

// A keyword page as the site sends it (UTF-8).
std::string KeywordRow(const std::string& kw, const std::string& first, const std::string& second, int level) {
  return "<tr><td>1</td><td>\r\n   <a href=\"/x/\">" + kw + "</a>\r\n  </td><td> 120 </td><td>3400</td><td><a>" +
         first + "</a></td><td>" + second + "</td><td><img src=\"/images/keyword/l" + std::to_string(level) +
         ".gif\"></td></tr>";
}

std::string KeywordPage(const std::string& rows, const std::string& links = "") {
  return "<html><div class=\"box_05\">box</div><table><tr><th>h</th></tr>" + rows + "</table>" + links + "</html>";
}

struct Fixture : ::testing::Test {
  FakeUi ui;
  KeywordMining mining{ui, "http://kw.test/"};
  std::map<std::string, std::string> pages;
  std::vector<std::string> fetched;
  std::function<void()> onPump;
  lanshu::testing::RecordedHooks hooks{[this] {
    if (onPump) onPump();
  }};
  std::vector<std::string>& messages = hooks.messages;

  void SetUp() override {
    mining.fetch = [this](const std::string& url) {
      fetched.push_back(url);
      auto it = pages.find(url);
      return it == pages.end() ? std::string() : it->second;
    };
    mining.now = lanshu::testing::FixedClock;
    // A page the fake site lacks fails at once; the tests of retries set their own.
    mining.reliability.retries = 0;
  }
  std::string Results() { return GbkToUtf8Text(ui.results); }
};

const char* const kJianFei1 = "http://kw.test/%E5%87%8F%E8%82%A5/1/";
const char* const kJianFei2 = "http://kw.test/%E5%87%8F%E8%82%A5/2/";

}  // namespace

TEST_F(Fixture, MinesEverySeedPageByPageWithTheTickedColumns) {
  ui.keywords = G("减肥\r\n\r\nab\r\n");
  ui.volume = ui.indexed = ui.first = ui.second = ui.difficulty = true;
  pages[kJianFei1] = KeywordPage(KeywordRow("瘦身", "a.com, b", "x&amp;y", 3), "<a href=\"/z/2/\">2</a>");
  pages[kJianFei2] = KeywordPage(KeywordRow("减肥茶", "&lt;b&gt;hidden&lt;/b&gt;s", "p&#44;q", 5));
  pages["http://kw.test/ab/1/"] = KeywordPage("");  // a seed without related keywords
  mining.StartOrStopMining();
  // The empty line is no seed; a comma written as a reference becomes "，"
  // like any other.
  EXPECT_EQ(fetched, (std::vector<std::string>{kJianFei1, kJianFei2, "http://kw.test/ab/1/"}));
  EXPECT_EQ(Results(),
            "瘦身,120,3400,a.com， b,x&y,3\r\n"
            "减肥茶,120,3400,hiddens,p，q,5\r\n");
  EXPECT_EQ(GbkToUtf8Text(mining.state.csvHeader), "关键词,搜索量,收录量,第一位,第二位,优化难度");
  EXPECT_EQ(GbkToUtf8Text(ui.statuses[2]), "关键词：减肥  当前页：2  总：2");
  EXPECT_EQ(messages, (std::vector<std::string>{"信息：|8192|获取完成！总共 2 个关键词！"}));
  EXPECT_EQ(ui.caption, G("开始挖掘"));
}

TEST_F(Fixture, EmptyListAndKeepSeedRule) {
  ui.keywords = "";
  mining.StartOrStopMining();
  EXPECT_EQ(messages, (std::vector<std::string>{"信息：|8192|请先输入要挖掘的关键词列表！"}));
  EXPECT_EQ(ui.caption, G("开始挖掘"));

  const std::string emptyRow = "<tr></tr>";
  // The seed stands in on its page 1; a keyword-less row anywhere else, or
  // with the box unticked, gives no line at all.
  mining.ParseMiningPage(KeywordPage(emptyRow), G("种子"));
  mining.ParseMiningPage(KeywordPage(emptyRow), "");
  ui.keepSeed = false;
  mining.ParseMiningPage(KeywordPage(emptyRow), G("种子"));
  EXPECT_EQ(Results(), "种子\r\n");
  mining.ParseMiningPage("<table><tr><td>h</td></tr><tr><td>1</td><td>k</td></tr></table>", "");
  EXPECT_EQ(Results(), "种子\r\n");  // no box_05: nothing
}

TEST_F(Fixture, LimitStopsTheSeedAfterThePageThatReachedIt) {
  ui.keywords = G("减肥");
  ui.limit = G("５");
  std::string rows;
  for (int i = 0; i < 8; ++i) rows += KeywordRow("k" + std::to_string(i), "", "", 1);
  pages[kJianFei1] = KeywordPage(rows, "<a href=\"/z/2/\">2</a>");
  mining.StartOrStopMining();
  EXPECT_EQ(fetched.size(), 1u);
  EXPECT_EQ(Results(), "k0\r\nk1\r\nk2\r\nk3\r\nk4\r\n");
}

// No window events are processed while a page's lines are written: a Stop
// click lands after them.
TEST_F(Fixture, StopDuringASeedEndsTheRunAfterTheCurrentPage) {
  ui.keywords = G("减肥\r\nb");
  pages[kJianFei1] = KeywordPage(KeywordRow("k1", "", "", 1) + KeywordRow("k2", "", "", 1),
                                 "<a href=\"/z/2/\">2</a>");
  onPump = [&] {
    if (ui.results.size() > 0 && ui.caption == G("停止挖掘")) mining.StartOrStopMining();
  };
  mining.StartOrStopMining();
  EXPECT_EQ(Results(), "k1\r\nk2\r\n");
  EXPECT_EQ(fetched.size(), 1u);
  EXPECT_EQ(ui.caption, G("开始挖掘"));
  // One notice, and it says the run was stopped.
  EXPECT_EQ(messages, (std::vector<std::string>{"信息：|8192|获取已停止！总共 2 个关键词！"}));
  ASSERT_EQ(mining.Ledger().Pages(), 1);
}

TEST_F(Fixture, ResultFilesPerRunAndPerSeed) {
  char tmpl[] = "/tmp/lanshu-mining-XXXXXX";
  const std::string dir = mkdtemp(tmpl);
  ui.dir = dir + "/out";  // no trailing separator
  ui.autoSave = true;
  ui.keywords = G("减肥\r\na/b\r\na／b");
  pages[kJianFei1] = KeywordPage(KeywordRow("k1", "", "", 1));
  pages["http://kw.test/a%2Fb/1/"] = KeywordPage(KeywordRow("k2", "", "", 1));
  // Each name is told (and kept by the history) before its file is made:
  // a kill in between leaves no file a resumed run does not know.
  std::vector<std::string> toldBeforeMade;
  mining.onResultFile = [&](const std::string&, const std::string& path) {
    if (!std::filesystem::exists(GbkToUtf8Text(path))) toldBeforeMade.push_back(GbkToUtf8Text(path));
  };
  mining.StartOrStopMining();
  EXPECT_EQ(lanshu::testing::FileBytes(dir + "/out/全部结果_2024年3月5日14时7分9秒.csv"), "k1\r\nk2\r\n");
  EXPECT_EQ(toldBeforeMade, std::vector<std::string>{dir + "/out/全部结果_2024年3月5日14时7分9秒.csv"});

  ui.separate = true;
  ui.ext = "";
  mining.StartOrStopMining();
  EXPECT_EQ(lanshu::testing::FileBytes(dir + "/out/减肥_2024年3月5日14时7分9秒."), "k1\r\n");
  // "a/b" and "a／b" clean to the same name: the second seed writes beside
  // the first instead of emptying it.
  EXPECT_EQ(lanshu::testing::FileBytes(dir + "/out/a／b_2024年3月5日14时7分9秒."), "k2\r\n");
  EXPECT_EQ(lanshu::testing::FileBytes(dir + "/out/a／b_2024年3月5日14时7分9秒_2."), "");
  EXPECT_EQ(toldBeforeMade.size(), 4u);  // and one per seed

  // A second run in the same second keeps the first run's file too.
  ui.separate = false;
  ui.ext = "csv";
  mining.StartOrStopMining();
  EXPECT_EQ(lanshu::testing::FileBytes(dir + "/out/全部结果_2024年3月5日14时7分9秒.csv"), "k1\r\nk2\r\n");
  EXPECT_EQ(lanshu::testing::FileBytes(dir + "/out/全部结果_2024年3月5日14时7分9秒_2.csv"), "k1\r\nk2\r\n");
}

// One seed's page 1 of nothing but empty rows keeps the seed once; empty
// rows between keywords add nothing; the lines count only real ones.
TEST_F(Fixture, EmptyRowsAddNoLinesAndTheSeedIsKeptOnce) {
  ui.keywords = G("减肥");
  ui.volume = true;
  std::string empties;
  for (int i = 0; i < 50; ++i) empties += "<tr></tr><tr><td>1</td><td> \r\n </td><td>9</td></tr>";
  pages[kJianFei1] = KeywordPage(empties, "<a href=\"/z/2/\">2</a>");
  pages[kJianFei2] = KeywordPage("<tr></tr>" + KeywordRow("k1", "", "", 1) + "<tr></tr>" + KeywordRow("k2", "", "", 1));
  mining.StartOrStopMining();
  EXPECT_EQ(Results(), "减肥,\r\nk1,120\r\nk2,120\r\n");
  EXPECT_EQ(mining.state.resultTotal, 3);
}

// Site cells with references and commas, keywords and counts with commas and
// quotes: every line, and the export with its header, reads back with one
// cell per column.
TEST_F(Fixture, LinesReadBackWithOneCellPerColumn) {
  ui.keywords = G("减肥");
  ui.volume = ui.indexed = ui.first = ui.second = ui.difficulty = true;
  ui.keepSeed = true;
  pages[kJianFei1] = KeywordPage(
      KeywordRow("a,b", "x&#44;y&amp;z", "p,q", 1) + KeywordRow("say \"hi\"", "&quot;quoted&quot;", "&#34;", 2) +
      "<tr><td>1</td><td>c</td><td>3,404,667</td><td>12,000</td><td>s&#x2C;t</td><td>&lt;i&gt;,&lt;/i&gt;u</td>"
      "<td><img src=\"images/keyword/l4.gif\"></td></tr>");
  mining.StartOrStopMining();
  EXPECT_EQ(Results(),
            "\"a,b\",120,3400,x，y&z,p，q,1\r\n"
            "\"say \"\"hi\"\"\",120,3400,\"\"\"quoted\"\"\",\"\"\"\",2\r\n"
            "c,\"3,404,667\",\"12,000\",s，t,，u,4\r\n");
  const std::string text = MiningExportText(ui.results, mining.state.csvHeader, "out.csv");
  std::vector<std::vector<std::string>> records;
  ASSERT_TRUE(lanshu::testing::ReadCsv(text, records)) << GbkToUtf8Text(text);
  ASSERT_EQ(records.size(), 4u);
  for (const auto& record : records) EXPECT_EQ(record.size(), 6u);
  EXPECT_EQ(records[1][0], "a,b");
  EXPECT_EQ(records[2][0], "say \"hi\"");
  EXPECT_EQ(records[2][3], "\"quoted\"");
  EXPECT_EQ(records[3][1], "3,404,667");
}

TEST_F(Fixture, SeedsAreTrimmedAndBlankOnesNeverMined) {
  char tmpl[] = "/tmp/lanshu-seeds-XXXXXX";
  const std::string dir = mkdtemp(tmpl);
  ui.dir = dir;
  ui.autoSave = ui.separate = true;
  ui.keywords = G(" 减肥\t\r\n\t\r\n　\r\n \r\nab　\r\n");
  pages[kJianFei1] = KeywordPage(KeywordRow("k1", "", "", 1));
  pages["http://kw.test/ab/1/"] = KeywordPage(KeywordRow("k2", "", "", 1));
  mining.StartOrStopMining();
  EXPECT_EQ(fetched, (std::vector<std::string>{kJianFei1, "http://kw.test/ab/1/"}));
  EXPECT_EQ(lanshu::testing::FileBytes(dir + "/减肥_2024年3月5日14时7分9秒.csv"), "k1\r\n");
  EXPECT_EQ(lanshu::testing::FileBytes(dir + "/ab_2024年3月5日14时7分9秒.csv"), "k2\r\n");
  std::size_t files = 0;
  for (const auto& entry : std::filesystem::directory_iterator(dir)) {
    (void)entry;
    ++files;
  }
  EXPECT_EQ(files, 2u);  // no file for a blank seed

  // A list of blank lines alone counts as empty.
  messages.clear();
  fetched.clear();
  ui.keywords = G(" \r\n　\r\n\t");
  mining.StartOrStopMining();
  EXPECT_TRUE(fetched.empty());
  EXPECT_EQ(messages, (std::vector<std::string>{"信息：|8192|请先输入要挖掘的关键词列表！"}));
}

TEST_F(Fixture, RunsThatWouldLoseDataDoNotStart) {
  ui.keywords = G("减肥\r\nb?");  // what the conversion leaves of the control's text
  ui.wide = u"\u51CF\u80A5\r\n b\U0001F600 ";
  mining.StartOrStopMining();
  EXPECT_TRUE(fetched.empty());
  EXPECT_EQ(messages, (std::vector<std::string>{"信息：|8192|关键词含有GBK无法表示的字符：b<U+1F600>"}));
  EXPECT_EQ(mining.refusal.kind, StartRefusal::kUnwritableText);
  EXPECT_EQ(ui.caption, G("开始挖掘"));

  // A folder that cannot be made: a file stands where a directory should be.
  char tmpl[] = "/tmp/lanshu-folder-XXXXXX";
  const std::string dir = mkdtemp(tmpl);
  { std::ofstream(dir + "/file") << "x"; }
  ui.wide.clear();
  ui.keywords = G("减肥");
  ui.autoSave = true;
  ui.dir = dir + "/file/out";
  messages.clear();
  mining.StartOrStopMining();
  EXPECT_TRUE(fetched.empty());
  EXPECT_EQ(messages, (std::vector<std::string>{"信息：|8192|无法写入结果目录：" + dir + "/file/out/\r\n路径中有同名的文件"}));
  EXPECT_EQ(mining.refusal.kind, StartRefusal::kResultFolder);
  EXPECT_EQ(mining.refusal.subject, dir + "/file/out/");
  EXPECT_EQ(mining.refusal.error, ENOTDIR);
  EXPECT_EQ(ui.caption, G("开始挖掘"));

  // Without saving the folder does not matter; with a good one the run goes.
  ui.autoSave = false;
  mining.StartOrStopMining();
  EXPECT_EQ(mining.refusal.kind, StartRefusal::kNone);
  EXPECT_EQ(fetched, (std::vector<std::string>{kJianFei1}));
  ui.autoSave = true;
  ui.dir = dir + "/new/sub";
  mining.StartOrStopMining();
  EXPECT_EQ(mining.refusal.kind, StartRefusal::kNone);
  EXPECT_EQ(fetched.size(), 2u);
  EXPECT_TRUE(std::filesystem::is_directory(dir + "/new/sub"));
}

// The default pauses 0.1 s and 0.5 s wait, processing window events, and a
// stop cuts a pause short. Only lower bounds are timed: a wait never ends
// early unless stopped.
TEST_F(Fixture, PausesWaitToTheMillisecondAndStopCutsThemShort) {
  using Clock = std::chrono::steady_clock;
  ui.keywords = G("减肥\r\nab");
  int pumps = 0;
  onPump = [&] { ++pumps; };
  Clock::time_point start = Clock::now();
  mining.StartOrStopMining();
  const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
  EXPECT_GE(elapsed, 2 * 100 + 2 * 500);
  EXPECT_GE(pumps, 2 * 10);  // events ran during the pauses

  ui.pageInterval = "0";
  ui.keywordInterval = "600";
  fetched.clear();
  // Events processed a while after the first page can only come from the
  // pause after the seed; the stop click there ends it.
  onPump = [&] {
    if (fetched.size() == 1 && ui.caption == G("停止挖掘") && Clock::now() - start > std::chrono::milliseconds(200))
      mining.StartOrStopMining();
  };
  start = Clock::now();
  mining.StartOrStopMining();
  EXPECT_LT(Clock::now() - start, std::chrono::seconds(60));
  EXPECT_EQ(fetched.size(), 2u);  // the next seed's page 1 is fetched, as after any pause
  EXPECT_EQ(ui.caption, G("开始挖掘"));
}

// Failed pages are asked for again with the retry setting, told apart from a
// seed without results, named in the final message, and fetched once more by
// the retry command into the same result files.
TEST_F(Fixture, FailedPagesAreRetriedToldAndCollectedAgain) {
  char tmpl[] = "/tmp/lanshu-retry-XXXXXX";
  const std::string dir = mkdtemp(tmpl);
  ui.dir = dir;
  ui.autoSave = true;
  ui.separate = true;
  ui.keywords = G("减肥\r\nab\r\ncd");
  ui.pageInterval = ui.keywordInterval = "0";
  mining.reliability.retries = 1;
  mining.reliability.retryIntervalSeconds = 0;
  std::map<std::string, int> asked;
  std::map<std::string, std::vector<KeywordMining::Fetched>> answers;
  const auto ok = [](const std::string& body) { return KeywordMining::Fetched{body, PageFetch{200, ""}}; };
  answers[kJianFei1] = {ok(KeywordPage(KeywordRow("k1", "", "", 1), "<a href=\"/z/2/\">2</a>"))};
  answers[kJianFei2] = {{"", PageFetch{0, "time-out"}}, {"oops", PageFetch{503, ""}}};
  answers["http://kw.test/ab/1/"] = {ok("<html><div class=box_05><table><tr><th>h</th></tr></table>"
                                        "<p>\xE6\x9A\x82\xE6\x97\xA0\xE6\x95\xB0\xE6\x8D\xAE</p></div></html>")};  // 暂无数据
  answers["http://kw.test/cd/1/"] = {ok("<html><form><input type=\"password\"></form></html>")};
  mining.fetchPage = [&](const std::string& url, const std::function<bool()>&) {
    const int n = asked[url]++;
    const auto& list = answers[url];
    return list[std::min<std::size_t>(n, list.size() - 1)];
  };
  mining.StartOrStopMining();
  EXPECT_EQ(asked[kJianFei2], 2);  // one more request after the time-out
  EXPECT_EQ(asked["http://kw.test/ab/1/"], 1);
  EXPECT_EQ(asked["http://kw.test/cd/1/"], 1);  // a login wall is not asked again by itself
  EXPECT_EQ(Results(), "k1\r\n");
  EXPECT_EQ(messages, (std::vector<std::string>{
                          "信息：|8192|获取完成！总共 1 个关键词！\r\n未成功 2 页：失败 1 页，需登录或验证 1 页"}));
  ASSERT_EQ(mining.Ledger().NotOk().size(), 2u);
  EXPECT_EQ(mining.Ledger().NotOk()[0].outcome.reason, "HTTP 503");
  EXPECT_EQ(mining.Ledger().NotOk()[0].attempts, 2);
  EXPECT_EQ(mining.Ledger().NotOk()[1].outcome.reason, "login page");

  // The site is well again: the two pages come in, their lines at the end
  // of the box and of their seeds' files.
  answers[kJianFei2] = {ok(KeywordPage(KeywordRow("k2", "", "", 1)))};
  answers["http://kw.test/cd/1/"] = {ok(KeywordPage(KeywordRow("c1", "", "", 1)))};
  asked.clear();
  messages.clear();
  mining.RetryFailedPages();
  EXPECT_EQ(Results(), "k1\r\nk2\r\nc1\r\n");
  EXPECT_EQ(lanshu::testing::FileBytes(dir + "/减肥_2024年3月5日14时7分9秒.csv"), "k1\r\nk2\r\n");
  EXPECT_EQ(lanshu::testing::FileBytes(dir + "/cd_2024年3月5日14时7分9秒.csv"), "c1\r\n");
  EXPECT_TRUE(mining.Ledger().NotOk().empty());
  EXPECT_EQ(messages, (std::vector<std::string>{"信息：|8192|获取完成！总共 3 个关键词！"}));
  EXPECT_EQ(ui.caption, G("开始挖掘"));
}

namespace {

// A file system of a few KiB, mounted when the test runs as root (CI does);
// unmounted when the test ends.
struct TinyFileSystem {
  std::string dir;
  bool mounted = false;
  TinyFileSystem() {
    char tmpl[] = "/tmp/lanshu-tiny-XXXXXX";
    dir = mkdtemp(tmpl);
    mounted = geteuid() == 0 && ::mount("tmpfs", dir.c_str(), "tmpfs", 0, "size=16k") == 0;
  }
  ~TinyFileSystem() {
    if (mounted) ::umount(dir.c_str());
    std::filesystem::remove_all(dir);
  }
};

struct Events : RunListener {
  std::vector<std::string> failures;
  RunEnd end = RunEnd::kFinished;
  void RunFailed(RunKind, const std::string& reason) override { failures.push_back(reason); }
  void RunEnded(RunKind, RunEnd how) override { end = how; }
};

}  // namespace

// A result file that fills its disk stops the run at the first line it
// cannot take: the run ends failed, says which file and why, and never
// claims the lines it lost were saved.
TEST_F(Fixture, AFullDiskStopsTheRunAndSaysWhichFile) {
  TinyFileSystem disk;
  if (!disk.mounted) GTEST_SKIP() << "mounting a file system needs root";
  Events events;
  mining.listeners.Add(&events);
  ui.autoSave = true;
  ui.dir = disk.dir;
  ui.keywords = G("甲\r\n乙\r\n丙");
  ui.keywordInterval = "0";
  ui.pageInterval = "0";
  std::string rows;
  for (int i = 0; i < 200; ++i)
    rows += KeywordRow("关键词" + std::to_string(i) + std::string(120, 'x'), "a", "b", 1);
  for (const char* seed : {"%E7%94%B2", "%E4%B9%99", "%E4%B8%99"})
    pages["http://kw.test/" + std::string(seed) + "/1/"] = KeywordPage(rows);
  mining.StartOrStopMining();

  ASSERT_EQ(messages.size(), 1u);
  const std::string file = GbkToUtf8Text(mining.writeFailure.file);
  EXPECT_EQ(messages[0], "信息：|8192|无法写入结果文件：" + file + "：磁盘已满");
  EXPECT_EQ(file.rfind(disk.dir + "/全部结果_", 0), 0u) << file;
  EXPECT_EQ(events.end, RunEnd::kFailed);
  ASSERT_EQ(events.failures.size(), 1u);
  EXPECT_EQ(events.failures[0], "cannot write " + file + ": no space left on device");
  // Stopped at the line that did not fit: later seeds were never asked for.
  EXPECT_EQ(fetched.size(), 1u);
  EXPECT_LT(std::count(ui.results.begin(), ui.results.end(), '\n'), 200);
  EXPECT_EQ(ui.caption, G("开始挖掘"));
}

TEST_F(Fixture, AResultFileThatCannotBeOpenedStopsTheRunBeforeAnyRequest) {
  const std::string dir = std::filesystem::temp_directory_path() / ("lanshu-open-" + std::to_string(getpid()));
  std::filesystem::create_directories(dir);
  Events events;
  mining.listeners.Add(&events);
  ui.autoSave = true;
  ui.separate = true;
  ui.dir = dir;
  ui.keywords = G("甲");
  // The seed's file name is a link into a folder that is not there: the name
  // looks free, and opening it fails for root too.
  const std::string stem = dir + "/" + GbkToUtf8Text(G("甲")) + "_" + GbkToUtf8Text(DateTimeText(mining.now()));
  std::filesystem::create_symlink(dir + "/missing/x.csv", stem + ".csv");
  mining.StartOrStopMining();
  EXPECT_TRUE(fetched.empty());
  EXPECT_EQ(events.end, RunEnd::kFailed);
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0], "信息：|8192|无法写入结果文件：" + stem + ".csv：路径不存在");
  std::filesystem::remove_all(dir);
}

// The run goes by what the controls said when it started: ticking a metric,
// changing the limit, the pauses or the result folder during the run changes
// nothing of its lines, its header or its files.
TEST_F(Fixture, ControlsChangedDuringARunChangeNothingOfIt) {
  const std::string dir = std::filesystem::temp_directory_path() / ("lanshu-plan-" + std::to_string(getpid()));
  std::filesystem::create_directories(dir);
  ui.keywords = G("减肥\r\n丰胸");
  ui.volume = true;
  ui.limit = "0";
  ui.pageInterval = ui.keywordInterval = "0";
  ui.autoSave = true;
  ui.dir = dir;
  pages[kJianFei1] = KeywordPage(KeywordRow("瘦身", "a", "b", 3), "<a href=\"/z/2/\">2</a>");
  pages[kJianFei2] = KeywordPage(KeywordRow("减肥茶", "c", "d", 5) + KeywordRow("减肥药", "e", "f", 2));
  pages["http://kw.test/%E4%B8%B0%E8%83%B8/1/"] = KeywordPage(KeywordRow("丰胸操", "g", "h", 1));
  onPump = [&] {
    if (fetched.empty()) return;
    ui.volume = false;
    ui.indexed = ui.first = ui.second = ui.difficulty = true;
    ui.limit = "1";
    ui.keepSeed = false;
    ui.pageInterval = ui.keywordInterval = "5";
    ui.dir = "/nonexistent-lanshu";
    ui.separate = true;
    ui.ext = "txt";
  };
  mining.StartOrStopMining();
  EXPECT_EQ(Results(), "瘦身,120\r\n减肥茶,120\r\n减肥药,120\r\n丰胸操,120\r\n");
  EXPECT_EQ(GbkToUtf8Text(mining.state.csvHeader), "关键词,搜索量");
  EXPECT_EQ(fetched.size(), 3u);
  std::vector<std::string> files;
  for (const auto& f : std::filesystem::directory_iterator(dir)) files.push_back(f.path().string());
  ASSERT_EQ(files.size(), 1u);  // one file for the run, as it started
  EXPECT_EQ(GbkToUtf8Text(lanshu::testing::FileBytes(files[0])), Results());
  EXPECT_EQ(mining.Plan().limit, 0);
  EXPECT_TRUE(mining.Plan().volume);
  std::filesystem::remove_all(dir);
}
