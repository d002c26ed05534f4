#include "results/Export.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "TestSupport.h"
#include "results/store_table.h"
#include "hooks/Events.h"

using namespace lanshu;
using lanshu::testing::G;
using lanshu::testing::StoreTable;
namespace fs = std::filesystem;

namespace {

StoreTable Twelve() {
  std::vector<std::string> titles;
  for (int i = 1; i <= 12; ++i) titles.push_back("t" + std::to_string(i));
  StoreTable t(titles);
  t.Add({"c1", "c2", "c3", "c4", "c5", "c6", "c7", "c8", "c9", "c10", "c11", "c12"});
  return t;
}

std::vector<std::string> Entries(const fs::path& dir) {
  std::vector<std::string> names;
  for (const auto& e : fs::directory_iterator(dir)) names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

class TempDir : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("lanshu_export_" + std::to_string(::getpid()) + "_" +
                                        ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }
  std::string GbkPath(const std::string& utf8Name) const { return Utf8TextToGbk((dir_ / utf8Name).string()); }
  fs::path dir_;
};

}  // namespace

TEST(ColumnTemplate, PlaceholdersAreReplacedInColumnOrder) {
  StoreTable t;
  t.Add({"a", "b", "c"});
  EXPECT_EQ(ApplyColumnTemplate(t, "#2 - #1"), "b - a");
  EXPECT_EQ(ApplyColumnTemplate(t, "#1#1 #9 # #0 x"), "aa #9 # #0 x");
  // "#1" goes first, so longer numbers start with it, even with 12 columns.
  StoreTable wide = Twelve();
  EXPECT_EQ(ApplyColumnTemplate(wide, "#12|#10|#2"), "c12|c10|c2");
  StoreTable eight;
  eight.Add({"x", "y"});
  EXPECT_EQ(ApplyColumnTemplate(eight, "#12,#20"), "x2,y0");
}

TEST(ColumnTemplate, InsertedCellsAreSeenByLaterNumbersOnly) {
  StoreTable t;
  t.Add({"#2", "two", "#4#1", "four", "#1#4"});
  EXPECT_EQ(ApplyColumnTemplate(t, "#1"), "two");     // column 1's text replaced by column 2
  EXPECT_EQ(ApplyColumnTemplate(t, "#3"), "four#1");  // 4 comes after 3, 1 before it
  EXPECT_EQ(ApplyColumnTemplate(t, "#5"), "#1#4");    // column 5 comes last
  t.SetCellText(0, 0, "#1!");
  EXPECT_EQ(ApplyColumnTemplate(t, "#1#1"), "#1!#1!");       // not searched again for the same number
  // A cell ending in "#" joins the digit after it into a new placeholder.
  t.SetCellText(0, 2, "C");
  t.SetCellText(0, 0, "x");
  EXPECT_EQ(ApplyColumnTemplate(t, "#13"), "x3");
  t.SetCellText(0, 0, "x#");
  EXPECT_EQ(ApplyColumnTemplate(t, "#13"), "xC");
  // A cell put in after a "#" completes a placeholder with it.
  t.SetCellText(0, 0, "3");
  EXPECT_EQ(ApplyColumnTemplate(t, "##1 #1#"), "C 3#");
  t.SetCellText(0, 0, "y");
  EXPECT_EQ(ApplyColumnTemplate(t, "##1#"), "#y#");
}

TEST(ColumnTemplate, PlaceholdersStartOnCharacterBoundaries) {
  StoreTable t;
  t.Add({"\xD6", "two"});  // a lone lead byte pairs with the "#" after it
  EXPECT_EQ(ApplyColumnTemplate(t, "#1#2"), "\xD6#2");
  t.SetCellText(0, 0, G("中"));
  EXPECT_EQ(ApplyColumnTemplate(t, "#1#2"), G("中") + "two");
  EXPECT_EQ(ApplyColumnTemplate(t, G("键#2值#1")), G("键two值中"));
  EXPECT_EQ(ApplyColumnTemplate(t, "\xD6\xD6\xD6#2"), "\xD6\xD6\xD6#2");
}

TEST(ColumnTemplate, LinesAreJoinedOnlyAfterText) {
  StoreTable t;
  t.Add({"1", ""});
  t.Add({"2", ""});
  t.Add({"3", "b"});
  t.Add({"4", ""});
  t.Add({"5", "c"});
  int pumps = 0;
  SetEventPump([&] { ++pumps; });
  EXPECT_EQ(ApplyColumnTemplate(t, "#2"), "b\r\n\r\nc");
  SetEventPump(nullptr);
  EXPECT_EQ(pumps, 5);
  EXPECT_EQ(ApplyColumnTemplate(t, ""), "");
  EXPECT_EQ(ApplyColumnTemplate(t, "#1"), "1\r\n2\r\n3\r\n4\r\n5");
  EXPECT_EQ(ApplyColumnTemplate(StoreTable(), "#1"), "");
}

TEST(RankExport, CsvHasTitlesAndQuotesOnlyCellsThatNeedIt) {
  StoreTable t;
  EXPECT_EQ(BuildRankExport(t, kExportCsv, "ignored"),
            G("序号,域名,关键字,排名,搜索量,收录量,网页标题,链接") + "\r\n");
  EXPECT_EQ(BuildRankExport(t, kExportTemplate, "#1"), "");
  t.Add({"1", "a.example", G("词,语"), "3", "", "", "\"t\"", "u"});
  t.Add({"2"});
  EXPECT_EQ(BuildRankExport(t, kExportCsv, "ignored"),
            G("序号,域名,关键字,排名,搜索量,收录量,网页标题,链接") + "\r\n1,a.example,\"" + G("词,语") +
                "\",3,,,\"\"\"t\"\"\",u\r\n2,,,,,,,");
  // The free template writes the cells as they are.
  EXPECT_EQ(BuildRankExport(t, kExportTemplate, "#3"), G("词,语") + "\r\n");
  EXPECT_EQ(BuildRankExport(t, kExportTemplate, "#7;#3"), "\"t\";" + G("词,语") + "\r\n;");
  // The header skips the comma while it is empty; the fixed template only
  // knows the columns that exist.
  StoreTable two({"", "b"});
  two.Add({"x", "y"});
  EXPECT_EQ(BuildRankExport(two, kExportCsv, ""), "b\r\nx,y,#3,#4,#5,#6,#7,#8");
}

// What a spreadsheet program reads back: eight cells in every record, each
// exactly as the list holds it, whatever commas, quotes and line breaks the
// cells carry.
TEST(RankExport, CsvReadsBackCellForCell) {
  StoreTable t;
  t.Add({"1", "a.example", G("减肥"), G("第1页第3位"), "3,404,667", "12,000", G("A&B，好站"), "http://x/?a=1,2"});
  t.Add({"2", "a.example", "say \"hi\"", "10", "115", "", "\"", "line\r\nbreak"});
  t.Add({"3", "a.example", "cr\ronly", "lf\nonly", ",", "\"\"", "", ","});
  t.Add({"4", "a.example", G("免费网站建设"), "2", "2,401", "7", "plain", "http://y/"});
  const std::string csv = BuildRankExport(t, kExportCsv, "");
  std::vector<std::vector<std::string>> records;
  ASSERT_TRUE(lanshu::testing::ReadCsv(csv, records)) << csv;
  ASSERT_EQ(records.size(), 5u);
  for (const auto& record : records) EXPECT_EQ(record.size(), 8u);
  for (int r = 0; r < t.RowCount(); ++r)
    for (int c = 0; c < 8; ++c) EXPECT_EQ(records[r + 1][c], t.CellText(r, c)) << r << "," << c;
  // A row with nothing to quote is the row it was.
  EXPECT_NE(csv.find("\r\n4,a.example," + G("免费网站建设") + ",2,\"2,401\",7,plain,http://y/"), std::string::npos);
}

TEST(RankExport, RowTextJoinsAfterTextOnly) {
  StoreTable t;
  t.Add({"1", "2", "3", "4", "5", "6", "7", "8"});
  t.Add({"", "", "c", "", "e"});
  EXPECT_EQ(RowText(t, 0), "1,2,3,4,5,6,7,8");
  EXPECT_EQ(RowText(t, 1), "c,,e,,,");
  EXPECT_EQ(RowText(t, -1), "");
  EXPECT_EQ(RowText(t, 2), "");
}

TEST(MiningExport, HeaderOnlyForCsvNamesInAnyCase) {
  const std::string lines = "k1,1\r\nk2,2\r\n";
  EXPECT_EQ(MiningExportText(lines, "kw,n", "out.CSV"), "kw,n\r\n" + lines);
  EXPECT_EQ(MiningExportText(lines, "kw,n", G("结果.cSv")), "kw,n\r\n" + lines);
  EXPECT_EQ(MiningExportText(lines, "kw,n", "out.txt"), lines);
  EXPECT_EQ(MiningExportText(lines, "kw,n", "outcsv"), lines);
  EXPECT_EQ(MiningExportText(lines, "kw,n", "csv"), lines);
  EXPECT_EQ(MiningExportText(lines, "", ".csv"), "\r\n" + lines);
}

TEST(ExportTexts, MessagesAreTheirGbkTexts) {
  EXPECT_EQ(kExportDoneText, G("导出完毕！"));
  // A failed export names the file and why.
  EXPECT_EQ(ExportFailedText(G("/导出/结果.csv"), ENOSPC), G("导出失败：/导出/结果.csv：磁盘已满"));
  EXPECT_EQ(ExportFailedText("x.csv", EIO), G("导出失败：x.csv：错误代码 ") + std::to_string(EIO));
  EXPECT_EQ(kExportSucceededText, G("导出成功！"));
  EXPECT_EQ(kCopiedByTemplateText, G("已根据列组合表达式将列表复制到剪辑板！"));
}

TEST_F(TempDir, WriteReplacesWholeFileKeepingModeAndLink) {
  const std::string path = GbkPath("导出.csv");
  ASSERT_TRUE(WriteFileAtomically(path, "first version, rather long\r\n"));
  EXPECT_EQ(lanshu::testing::FileBytes(dir_ / "导出.csv"), "first version, rather long\r\n");
  ::chmod((dir_ / "导出.csv").c_str(), 0640);
  ASSERT_TRUE(WriteFileAtomically(path, std::string("\xB5\xBC\0x", 4)));
  EXPECT_EQ(lanshu::testing::FileBytes(dir_ / "导出.csv"), std::string("\xB5\xBC\0x", 4));
  EXPECT_EQ(fs::status(dir_ / "导出.csv").permissions() & fs::perms::all,
            fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
  ASSERT_TRUE(WriteFileAtomically(path, ""));
  EXPECT_EQ(fs::file_size(dir_ / "导出.csv"), 0u);

  fs::create_symlink(dir_ / "导出.csv", dir_ / "link.txt");
  ASSERT_TRUE(WriteFileAtomically(GbkPath("link.txt"), "through the link"));
  EXPECT_TRUE(fs::is_symlink(dir_ / "link.txt"));
  EXPECT_EQ(lanshu::testing::FileBytes(dir_ / "导出.csv"), "through the link");
  EXPECT_EQ(Entries(dir_), (std::vector<std::string>{"link.txt", "导出.csv"}));
}

TEST_F(TempDir, FailedWriteLeavesEverythingAsItWas) {
  EXPECT_FALSE(WriteFileAtomically(GbkPath("missing/out.txt"), "x"));
  EXPECT_FALSE(WriteFileAtomically("", "x"));
  fs::create_directory(dir_ / "sub");
  std::ofstream(dir_ / "sub" / "inner.txt") << "inner";
  EXPECT_FALSE(WriteFileAtomically(GbkPath("sub"), "x"));
  EXPECT_TRUE(fs::is_directory(dir_ / "sub"));
  EXPECT_EQ(lanshu::testing::FileBytes(dir_ / "sub" / "inner.txt"), "inner");
  EXPECT_EQ(Entries(dir_), (std::vector<std::string>{"sub"}));

  // A disk that fills up in the middle of the write (a file size limit).
  std::ofstream(dir_ / "old.txt") << "the good old export";
  struct rlimit saved {};
  ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
  auto previous = ::signal(SIGXFSZ, SIG_IGN);
  struct rlimit small = saved;
  small.rlim_cur = 4096;
  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
  const bool written = WriteFileAtomically(GbkPath("old.txt"), std::string(100000, 'n'));
  ::setrlimit(RLIMIT_FSIZE, &saved);
  ::signal(SIGXFSZ, previous);
  EXPECT_FALSE(written);
  EXPECT_EQ(lanshu::testing::FileBytes(dir_ / "old.txt"), "the good old export");
  EXPECT_EQ(Entries(dir_), (std::vector<std::string>{"old.txt", "sub"}));
}

TEST(SuggestedExportNameTest, SubjectDateAndExtension) {
  using lanshu::SuggestedExportName;
  EXPECT_EQ(SuggestedExportName("example.com", 2026, 3, 5, "csv"), "example.com_2026-03-05.csv");
  // Several domains, and characters no file name may hold.
  EXPECT_EQ(SuggestedExportName("a.com|b.com:8080/x", 2026, 12, 8, "txt"), "a.com_b.com_8080_x_2026-12-08.txt");
  // A double-byte character whose second byte is "|" or "\" stays whole.
  EXPECT_EQ(SuggestedExportName("\xB9\xD8\xBC\xFC\xB4\xCA\xCD\xDA\xBE\xF2", 2026, 1, 2, "csv"),
            "\xB9\xD8\xBC\xFC\xB4\xCA\xCD\xDA\xBE\xF2_2026-01-02.csv");  // 关键词挖掘
  EXPECT_EQ(SuggestedExportName("\x81\x7C", 2026, 1, 2, "txt"), "\x81\x7C_2026-01-02.txt");
}

// The UTF-8 export is the GBK one character for character behind the mark:
// every double-byte character of code page 936 (one from each lead byte's
// row), the single-byte euro sign, quotes and line ends included.
TEST(ExportEncoding, Utf8IsTheGbkTextBehindAByteOrderMark) {
  std::string gbk = lanshu::Utf8TextToGbk("序号,域名,\"标题, \"\"引号\"\"\"\r\n1,a.com,【甲】，乙\r\n") + "\x80";
  for (int lead = 0x81; lead <= 0xFE; ++lead) gbk += {static_cast<char>(lead), static_cast<char>(0xA1)};
  EXPECT_EQ(lanshu::EncodeExportText(gbk, lanshu::TextEncoding::kGbk), gbk);
  const std::string utf8 = lanshu::EncodeExportText(gbk, lanshu::TextEncoding::kUtf8Bom);
  ASSERT_EQ(utf8.substr(0, 3), "\xEF\xBB\xBF");
  EXPECT_EQ(utf8.substr(3, 14), "序号,域名,");
  EXPECT_EQ(lanshu::Utf8TextToGbk(utf8.substr(3)), gbk);
  EXPECT_EQ(lanshu::EncodeExportText("", lanshu::TextEncoding::kUtf8Bom), "\xEF\xBB\xBF");
}

TEST(ExportEncoding, NamesInTheSettingsAndOnTheCommandLine) {
  using lanshu::TextEncoding;
  EXPECT_EQ(lanshu::EncodingFromSettingName("UTF-8"), TextEncoding::kUtf8Bom);
  EXPECT_EQ(lanshu::EncodingFromSettingName("utf8"), TextEncoding::kUtf8Bom);
  for (const char* other : {"GBK", "", "gb2312", "UTF-16"})
    EXPECT_EQ(lanshu::EncodingFromSettingName(other), TextEncoding::kGbk) << other;
  EXPECT_EQ(lanshu::EncodingFromSettingName(lanshu::EncodingSettingName(TextEncoding::kUtf8Bom)),
            TextEncoding::kUtf8Bom);
  EXPECT_EQ(lanshu::EncodingFromOptionName("UTF-8-BOM"), TextEncoding::kUtf8Bom);
  EXPECT_EQ(lanshu::EncodingFromOptionName("gbk"), TextEncoding::kGbk);
  EXPECT_FALSE(lanshu::EncodingFromOptionName("utf-8"));
  EXPECT_FALSE(lanshu::EncodingFromOptionName(""));
}
