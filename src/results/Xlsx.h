#pragma once
// Excel workbooks of the exports: one sheet, a bold frozen header row with an
// auto-filter, columns as wide as their text, whole counts as numbers and
// every other cell as the text the CSV export writes. Written row by row, so
// a long list costs little memory.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "results/Export.h"
#include "results/ResultTable.h"

namespace lanshu {

// A sheet to write: its name, the column titles and a cell source (all GBK).
// cell(row, column) is asked once per cell, rows in order.
struct XlsxSheet {
  std::string name;
  std::vector<std::string> titles;
  std::size_t rowCount = 0;
  std::function<std::string(std::size_t row, int column)> cell;
};

// Sheet names (GBK) of what the exports hold.
std::string RankSheetName();        // 排名
std::string MiningSheetName();      // 挖掘
std::string ComparisonSheetName();  // 排名变化

// True when the file name ends in ".xlsx" in any letter case.
bool IsXlsxFileName(const std::string& fileName);

// A name a sheet may carry: the characters []:*?/\ become "_", at most 31
// characters (a double-byte character counts one and stays whole); "Sheet1"
// for an empty name. GBK in and out.
std::string XlsxSheetName(const std::string& name);

// True for the columns whose whole counts become numbers: 序号, 搜索量, 收录量,
// 排名 and the history's 位置 (GBK titles).
bool IsCountColumn(const std::string& title);

// The number a count cell stands for: digits only ("123"), or groups of three
// after the first one to three digits, joined by "," ("12,345"); no sign, no
// blanks, no leading zero but "0" itself, at most 15 digits (exact in a
// spreadsheet). False for anything else, which stays text.
bool WholeCount(const std::string& cell, double& value, bool& grouped);

// The width a column needs for text (GBK): the longest of its lines, a
// double-byte character counting two.
std::size_t DisplayWidth(const std::string& gbk);

// The sheet of the rank list as its CSV export has it: the column titles and
// the rows' cells.
XlsxSheet RankXlsxSheet(const ResultTable& list);

// The sheet of the mining lines (comma-separated, "\r\n" after each) under
// the columns of csvHeader.
XlsxSheet MiningXlsxSheet(const std::string& resultText, const std::string& csvHeader);

// A sheet over cells held in memory.
XlsxSheet GridXlsxSheet(const std::string& name, std::vector<std::string> titles,
                        std::vector<std::vector<std::string>> rows);

// Writes the workbook to gbkPath as WriteFileAtomically writes text: built
// aside, then put in place whole, or the old file left untouched. False with
// a short English reason (and the system's error number in `error`, 0 when
// the failure was not the system's) when anything fails; `bytes` gets the
// file's size.
bool WriteXlsxAtomically(const std::string& gbkPath, const XlsxSheet& sheet, std::string& reason,
                         int* error = nullptr, std::uintmax_t* bytes = nullptr);

// What an export writes to its file: the text, or a sheet when the file is a
// workbook.
struct ExportContent {
  std::string text;  // GBK; written in `encoding`
  std::optional<XlsxSheet> sheet;
  TextEncoding encoding = TextEncoding::kGbk;
};

// The rank list's export to fileName: a sheet for a workbook name in the CSV
// mode, else BuildRankExport's text (a template's text whatever the name).
// The sheet reads the list when written; `keep` holds a list that must live
// as long (none when the caller keeps it).
ExportContent RankExportContent(const ResultTable& list, int exportMode, const std::string& templateText,
                                const std::string& fileName, std::shared_ptr<const ResultTable> keep = nullptr);

// The mining lines' export to fileName: a sheet for a workbook name, else
// MiningExportText's text.
ExportContent MiningExportContent(const std::string& resultText, const std::string& csvHeader,
                                  const std::string& fileName);

// Writes the export through WriteFileAtomically (the text in its encoding)
// or WriteXlsxAtomically.
// False with the system's error number in `error` (0 when the failure was
// not the system's) and a short English reason (none for a text export,
// whose failures are the system's); `bytes` gets the size written.
bool WriteExport(const std::string& gbkPath, const ExportContent& content, int* error, std::string* reason,
                 std::uintmax_t* bytes);

// The notice of a failed export (GBK): ExportFailedText(gbkPath, error) for
// a system error or without a reason, else "导出失败：FILE：" and the reason
// in Chinese.
std::string ExportFailedText(const std::string& gbkPath, int error, const std::string& reason);

}  // namespace lanshu
