// The xlsx exports, read back with openpyxl: the cells against the CSV
// export's, which cells become numbers, the sheet's frozen header and filter,
// and the file written whole or not at all.
#include "results/Xlsx.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>

#include "TestSupport.h"
#include "XlsxRead.h"
#include "results/Export.h"
#include "results/store_table.h"
#include "text/Csv.h"

using namespace lanshu;
using lanshu::testing::G;
using lanshu::testing::N;
using lanshu::testing::ReadXlsx;
using lanshu::testing::S;
using lanshu::testing::StoreTable;
using lanshu::testing::XlsxBook;
using lanshu::testing::XlsxCell;
namespace fs = std::filesystem;

namespace {

class XlsxFiles : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("lanshu_xlsx_" + std::to_string(::getpid()) + "_" +
                                        ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }
  std::string Path(const std::string& name) const { return (dir_ / name).string(); }
  std::vector<std::string> Entries() const {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(dir_)) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  }
  XlsxBook WriteAndRead(const XlsxSheet& sheet, const std::string& name = "out.xlsx") {
    std::string reason;
    int error = -1;
    std::uintmax_t bytes = 0;
    EXPECT_TRUE(WriteXlsxAtomically(Path(name), sheet, reason, &error, &bytes)) << reason;
    EXPECT_EQ(error, 0);
    EXPECT_EQ(bytes, fs::file_size(dir_ / name));
    XlsxBook book = ReadXlsx(Path(name));
    EXPECT_EQ(book.error, "");
    return book;
  }
  fs::path dir_;
};

// A rank list with every kind of cell the counts and the texts can hold.
StoreTable RankList() {
  StoreTable t;
  t.Add({"1", "example.com", G("二手车"), G("第1页第3位"), "12,345", "3,404,667", G("二手车_二手车交易市场"),
         "http://example.com/a?x=1,2"});
  t.Add({"2", "example.com", "=1+1", "7", "+86", "-5", "@x", "say \"hi\", then\r\ngo"});
  t.Add({"3", "", "-", "0", "007", "1,23", G("１２３"), ""});
  t.Add({"4", "example.com", G("长尾词"), "12", "1234,567", "12,345,", "", "=HYPERLINK(\"http://x\")"});
  return t;
}

// The cells of the CSV export, as a spreadsheet program reads that file.
std::vector<std::vector<std::string>> CsvOf(const std::string& text) {
  std::vector<std::vector<std::string>> records;
  EXPECT_TRUE(lanshu::testing::ReadCsv(text, records));
  return records;
}

void ExpectSameCells(const XlsxBook& book, const std::vector<std::vector<std::string>>& csv) {
  EXPECT_EQ(lanshu::testing::CellsDifferFromCsv(book, csv), "");
}

}  // namespace

TEST_F(XlsxFiles, RankSheetHoldsTheCsvCellsWithCountsAsNumbers) {
  const StoreTable list = RankList();
  const XlsxBook book = WriteAndRead(RankXlsxSheet(list));
  ASSERT_EQ(book.error, "");
  ExpectSameCells(book, CsvOf(BuildRankExport(list, kExportCsv, "")));

  EXPECT_EQ(book.sheets, std::vector<std::string>{"排名"});
  EXPECT_EQ(book.freeze, "A2");
  EXPECT_EQ(book.filter, "A1:H5");
  EXPECT_EQ(book.headerBold, std::vector<bool>(8, true));
  const auto& rows = book.rows;
  // Whole counts, plain or grouped, are numbers; the grouped ones keep
  // showing their separators.
  EXPECT_EQ(rows[1][0], N("1"));
  EXPECT_EQ(rows[1][4], N("12345"));
  EXPECT_EQ(rows[1][5], N("3404667"));
  EXPECT_EQ(book.formats[1][4], "#,##0");
  EXPECT_EQ(rows[2][3], N("7"));
  EXPECT_EQ(rows[3][3], N("0"));
  // A place on a page is text, and so is everything that is no whole count.
  EXPECT_EQ(rows[1][3], S("第1页第3位"));
  EXPECT_EQ(rows[2][4], S("+86"));
  EXPECT_EQ(rows[2][5], S("-5"));
  EXPECT_EQ(rows[3][4], S("007"));
  EXPECT_EQ(rows[3][5], S("1,23"));
  EXPECT_EQ(rows[4][4], S("1234,567"));
  EXPECT_EQ(rows[4][5], S("12,345,"));
  // Counts only count in their columns; formula-like text is never a formula.
  EXPECT_EQ(rows[1][7], S("http://example.com/a?x=1,2"));
  EXPECT_EQ(rows[2][2], S("=1+1"));
  EXPECT_EQ(rows[2][6], S("@x"));
  EXPECT_EQ(rows[3][2], S("-"));
  EXPECT_EQ(rows[4][7], S("=HYPERLINK(\"http://x\")"));
  EXPECT_EQ(rows[2][7], S("say \"hi\", then\r\ngo"));
}

TEST_F(XlsxFiles, ColumnsAreAsWideAsTheirTextWithDoubleWidthCharactersCountingTwo) {
  StoreTable list;
  list.Add({"1", "ab", G("二手车二手车二手车二手车二手车"), "", "", "", std::string(300, 'x'), "a\r\nlong line here"});
  const XlsxBook book = WriteAndRead(RankXlsxSheet(list));
  ASSERT_EQ(book.error, "");
  // The title 关键字 is 6 wide, the 15 double-width characters 30, the
  // long cell stops at the cap, a cell's widest line counts; 2 for the filter button.
  // The file holds widths a little over what was asked (the pixels of the
  // cell's padding).
  EXPECT_NEAR(book.widths.at("C"), 32, 1);
  EXPECT_NEAR(book.widths.at("G"), 60, 1);
  EXPECT_NEAR(book.widths.at("H"), 16, 1);
  EXPECT_NEAR(book.widths.at("B"), 6, 1);  // 域名 is 4 wide; no column narrower than its button
}

TEST_F(XlsxFiles, MiningSheetHoldsTheLinesUnderTheHeader) {
  const std::string header = G("关键词,搜索量,收录量,优化难度");
  const std::string lines = CsvLine({G("二手车"), "1,234", "98", G("中")}) + "\r\n" +
                            CsvLine({"=A1", "", "12,345,678", "line\r\nbreak"}) + "\r\n" +
                            CsvLine({"@SUM(1)", "-3", "+3", "5"}) + "\r\n";
  const XlsxBook book = WriteAndRead(MiningXlsxSheet(lines, header));
  ASSERT_EQ(book.error, "");
  ExpectSameCells(book, CsvOf(MiningExportText(lines, header, "x.csv")));
  EXPECT_EQ(book.sheets, std::vector<std::string>{"挖掘"});
  EXPECT_EQ(book.freeze, "A2");
  EXPECT_EQ(book.filter, "A1:D4");
  EXPECT_EQ(book.rows[1][1], N("1234"));
  EXPECT_EQ(book.rows[2][2], N("12345678"));
  EXPECT_EQ(book.rows[2][0], S("=A1"));
  EXPECT_EQ(book.rows[2][3], S("line\r\nbreak"));
  EXPECT_EQ(book.rows[3][0], S("@SUM(1)"));
  EXPECT_EQ(book.rows[3][1], S("-3"));
  EXPECT_EQ(book.rows[3][2], S("+3"));
  EXPECT_EQ(book.rows[3][3], S("5"));  // 优化难度 is no count
}

TEST_F(XlsxFiles, AnEmptyListIsItsHeaderAndALongCellIsCutToWhatACellHolds) {
  const XlsxBook empty = WriteAndRead(RankXlsxSheet(StoreTable()), "empty.xlsx");
  ASSERT_EQ(empty.error, "");
  EXPECT_EQ(empty.rows.size(), 1u);
  EXPECT_EQ(empty.filter, "A1:H1");
  EXPECT_EQ(empty.freeze, "A2");

  std::string longCell;
  for (int i = 0; i < 40000; ++i) longCell += G("长");
  const XlsxBook book = WriteAndRead(GridXlsxSheet("x", {G("标题")}, {{longCell},
                                                                    {std::string("a\x01" "b\tc")},
                                                                    {"_x0041_ _x005F_ _x00"}}),
                                     "long.xlsx");
  ASSERT_EQ(book.error, "");
  std::string cut;
  for (int i = 0; i < 32767; ++i) cut += "长";  // characters, not bytes
  EXPECT_TRUE(book.rows[1][0] == S(cut)) << book.rows[1][0].text.size();
  // Control characters and text that looks like their escapes come back as they were.
  EXPECT_EQ(book.rows[2][0], S(std::string("a\x01" "b\tc")));
  EXPECT_EQ(book.rows[3][0], S("_x0041_ _x005F_ _x00"));
}

TEST_F(XlsxFiles, TheFileIsReplacedWholeOrLeftAlone) {
  const StoreTable list = RankList();
  // Over an existing file, through a symbolic link: the target is replaced,
  // the link stays, and nothing else is left in the folder.
  { std::ofstream(Path("old.xlsx")) << "old"; }
  fs::create_symlink("old.xlsx", dir_ / "link.xlsx");
  std::string reason;
  int error = -1;
  ASSERT_TRUE(WriteXlsxAtomically(Path("link.xlsx"), RankXlsxSheet(list), reason, &error)) << reason;
  EXPECT_TRUE(fs::is_symlink(dir_ / "link.xlsx"));
  EXPECT_EQ(ReadXlsx(Path("old.xlsx")).rows.size(), 5u);
  EXPECT_EQ(Entries(), (std::vector<std::string>{"link.xlsx", "old.xlsx"}));

  // A folder that is not there: the system's reason, nothing written.
  ASSERT_FALSE(WriteXlsxAtomically(Path("none/out.xlsx"), RankXlsxSheet(list), reason, &error));
  EXPECT_EQ(error, ENOENT);
  EXPECT_FALSE(reason.empty());
  EXPECT_EQ(ExportFailedText(Path("none/out.xlsx"), error, reason), ExportFailedText(Path("none/out.xlsx"), error));

  // A name taken by a folder: the folder stays as it was.
  fs::create_directory(dir_ / "taken.xlsx");
  EXPECT_FALSE(WriteXlsxAtomically(Path("taken.xlsx"), RankXlsxSheet(list), reason, &error));
  EXPECT_TRUE(fs::is_directory(dir_ / "taken.xlsx"));
  EXPECT_EQ(Entries(), (std::vector<std::string>{"link.xlsx", "old.xlsx", "taken.xlsx"}));

  // A sheet no workbook can hold: an English reason, told in Chinese.
  const std::vector<std::string> tooMany(20000, "t");
  EXPECT_FALSE(WriteXlsxAtomically(Path("wide.xlsx"), GridXlsxSheet("x", tooMany, {}), reason, &error));
  EXPECT_EQ(reason, "too many columns for one sheet");
  EXPECT_FALSE(WriteXlsxAtomically(Path("wide.xlsx"), GridXlsxSheet("x", {}, {}), reason, &error));
  EXPECT_EQ(reason, "no columns to write");
  EXPECT_EQ(error, 0);
  EXPECT_EQ(GbkToUtf8Text(ExportFailedText(G("a.xlsx"), error, reason)), "导出失败：a.xlsx：没有可写的列");
  EXPECT_FALSE(fs::exists(dir_ / "wide.xlsx"));
}

TEST(XlsxExport, OnlyTheCsvModeOfAWorkbookNameMakesASheet) {
  const StoreTable list = RankList();
  const ExportContent csv = RankExportContent(list, kExportCsv, "", "a.XLSX");
  ASSERT_TRUE(csv.sheet.has_value());
  EXPECT_EQ(csv.sheet->rowCount, 4u);
  EXPECT_TRUE(csv.text.empty());
  // A template's export stays its text whatever the name says.
  const ExportContent tmpl = RankExportContent(list, kExportTemplate, "#3", "a.xlsx");
  EXPECT_FALSE(tmpl.sheet.has_value());
  EXPECT_EQ(tmpl.text, ApplyColumnTemplate(list, "#3"));
  EXPECT_EQ(RankExportContent(list, kExportCsv, "", "a.csv").text, BuildRankExport(list, kExportCsv, ""));
  EXPECT_EQ(RankExportContent(list, kExportCsv, "", "a.xlsx.txt").sheet.has_value(), false);

  EXPECT_TRUE(MiningExportContent("a\r\n", "h", "m.Xlsx").sheet.has_value());
  EXPECT_EQ(MiningExportContent("a\r\n", "h", "m.csv").text, "h\r\na\r\n");
  EXPECT_EQ(MiningExportContent("a\r\n", "h", "m.txt").text, "a\r\n");
}

TEST(XlsxExport, WholeCountsAreDigitsInGroupsOfThree) {
  struct Case {
    const char* cell;
    bool count;
    double value;
    bool grouped;
  };
  for (const Case& c : {Case{"0", true, 0, false}, Case{"123", true, 123, false}, Case{"12,345", true, 12345, true},
                        Case{"1,234,567", true, 1234567, true}, Case{"999999999999999", true, 999999999999999.0, false},
                        Case{"1000000000000000", false, 0, false}, Case{"12,34", false, 0, false},
                        Case{",123", false, 0, false}, Case{"1,,234", false, 0, false}, Case{"1234,567", false, 0, false},
                        Case{"0123", false, 0, false}, Case{"0,123", false, 0, false}, Case{"1 234", false, 0, false},
                        Case{" 12", false, 0, false}, Case{"", false, 0, false}, Case{"12.0", false, 0, false},
                        Case{"-5", false, 0, false}, Case{"+86", false, 0, false}, Case{"123,", false, 0, false}}) {
    double value = -1;
    bool grouped = false;
    EXPECT_EQ(WholeCount(c.cell, value, grouped), c.count) << c.cell;
    if (!c.count) continue;
    EXPECT_EQ(value, c.value) << c.cell;
    EXPECT_EQ(grouped, c.grouped) << c.cell;
  }
  EXPECT_TRUE(IsCountColumn(G("排名")));
  EXPECT_FALSE(IsCountColumn(G("旧排名")));
}

TEST(XlsxExport, SheetNamesDropWhatASheetNameCannotHold) {
  EXPECT_EQ(XlsxSheetName("a[b]c:d*e?f/g\\h"), "a_b_c_d_e_f_g_h");
  EXPECT_EQ(XlsxSheetName(""), "Sheet1");
  EXPECT_EQ(XlsxSheetName("'x'"), "_x_");
  std::string cjk;
  for (int i = 0; i < 40; ++i) cjk += G("历");
  EXPECT_EQ(XlsxSheetName(cjk), cjk.substr(0, 62));  // 31 characters, none cut in half
  EXPECT_EQ(XlsxSheetName(std::string(40, 'a')), std::string(31, 'a'));
}
