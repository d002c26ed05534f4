#pragma once
// Export and copy of the result lists: column templates, the rank list's
// export text, the mining results' export text and the file write.
#include <optional>
#include <string>

#include "results/ResultTable.h"

namespace lanshu {

// Messages the window shows after an export or copy (GBK).
inline constexpr char kExportDoneText[] = "\xB5\xBC\xB3\xF6\xCD\xEA\xB1\xCF\xA3\xA1";    // 导出完毕！
inline constexpr char kExportSucceededText[] = "\xB5\xBC\xB3\xF6\xB3\xC9\xB9\xA6\xA3\xA1";  // 导出成功！
// 已根据列组合表达式将列表复制到剪辑板！
inline constexpr char kCopiedByTemplateText[] =
    "\xD2\xD1\xB8\xF9\xBE\xDD\xC1\xD0\xD7\xE9\xBA\xCF\xB1\xED\xB4\xEF\xCA\xBD\xBD\xAB\xC1\xD0"
    "\xB1\xED\xB8\xB4\xD6\xC6\xB5\xBD\xBC\xF4\xBC\xAD\xB0\xE5\xA3\xA1";
inline constexpr char kCsvTemplate[] = "#1,#2,#3,#4,#5,#6,#7,#8";

// Export modes of the rank list (index of the mode combo box).
enum RankExportMode { kExportCsv = 0, kExportTemplate = 1 };

// One line per row: in the template, every "#k" (k = 1 … column count, in
// this order) is replaced by the cell of column k. Text inserted for k is not
// searched again for k, but later numbers see it: "#12" is cell 1 then "2",
// and a cell reading "#2" put in by "#1" becomes cell 2. Lines are joined by
// "\r\n", which only follows text that is not empty, so leading empty lines
// vanish. Window events are processed after each row.
std::string ApplyColumnTemplate(const ResultTable& list, const std::string& templateText);

// Mode 0: the column titles joined by "," and "\r\n", then the rows through
// kCsvTemplate, each title and cell through CsvCell (quoted when it holds a
// comma, quote or line break). Other modes: the rows through templateText
// only, cells as they are.
std::string BuildRankExport(const ResultTable& list, int exportMode, const std::string& templateText);

// Cells 0..7 of a row joined by ","; a comma only follows text that is not
// empty. Empty for a row out of range (no row selected).
std::string RowText(const ResultTable& list, int row);

// True when the file name ends in extension (lower case, with its dot) in
// any letter case.
bool HasExtension(const std::string& fileName, const std::string& extension);

// The mining lines, with csvHeader and "\r\n" in front when the file name
// ends in ".csv" in any letter case.
std::string MiningExportText(const std::string& resultText, const std::string& csvHeader,
                             const std::string& fileName);

// Replaces the file at gbkPath with bytes: written to a temporary file beside
// it, flushed and renamed over it, so an existing file is either replaced
// whole or left untouched. A symbolic link stays a link; its target is
// replaced. False when anything fails (the temporary file is then removed),
// with the system's error number in `error` when given.
bool WriteFileAtomically(const std::string& gbkPath, const std::string& bytes, int* error = nullptr);

// The encodings a text export may be written in: GBK as the window shows
// it, or UTF-8 after a byte-order mark, which spreadsheet programs need to
// read Chinese outside code page 936.
enum class TextEncoding { kGbk, kUtf8Bom };

// The export text (GBK) in the encoding: as it is, or the same characters in
// UTF-8 behind the mark EF BB BF.
std::string EncodeExportText(const std::string& gbk, TextEncoding encoding);

// The encoding's name in the settings ("GBK", "UTF-8") and back; a name not
// known reads as GBK. The names on the command line ("gbk", "utf-8-bom")
// parse in any letter case; none for another.
const char* EncodingSettingName(TextEncoding encoding);
TextEncoding EncodingFromSettingName(const std::string& name);
std::optional<TextEncoding> EncodingFromOptionName(const std::string& name);

// The notice of an export that failed: "导出失败：FILE：REASON" (GBK).
std::string ExportFailedText(const std::string& gbkPath, int error);

// The file name an export dialog suggests (GBK): what is exported (the
// domains, or 关键词挖掘), the date as YYYY-MM-DD, and the extension; the
// characters no file name may hold become "_".
std::string SuggestedExportName(const std::string& subject, int year, int month, int day,
                                const std::string& extension);

}  // namespace lanshu
