#include "results/Xlsx.h"

#include <xlsxwriter.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <system_error>

#include "hooks/Events.h"
#include "results/Export.h"
#include "text/Codec.h"
#include "text/Csv.h"
#include "text/Reasons.h"

namespace lanshu {
namespace fs = std::filesystem;
namespace {

// Widths are in characters of the default font; a column never gets wider
// than this, however long its text, nor narrower than a filter button needs.
constexpr std::size_t kMaxColumnWidth = 60;
constexpr std::size_t kMinColumnWidth = 6;
// The most characters a cell may hold in a workbook; longer text is cut.
constexpr std::size_t kMaxCellChars = 32767;
// Rows between two turns of the window's events.
constexpr std::size_t kRowsPerEventTurn = 256;

bool IsHex(char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }

// Spreadsheet programs read "_xHHHH_" in a file as the character HHHH (the
// library writes control characters so); a text that only looks like it
// keeps its "_" as the escape of "_".
std::string ProtectEscapes(std::string utf8) {
  for (std::size_t i = utf8.find("_x"); i != std::string::npos; i = utf8.find("_x", i + 1)) {
    if (i + 7 > utf8.size() || utf8[i + 6] != '_' || !IsHex(utf8[i + 2]) || !IsHex(utf8[i + 3]) ||
        !IsHex(utf8[i + 4]) || !IsHex(utf8[i + 5]))
      continue;
    utf8.insert(i + 1, "x005F_");
    i += 6;
  }
  return utf8;
}

// The first characters of a text, as many as a cell may hold.
std::string CutToCellSize(std::string utf8) {
  std::size_t chars = 0;
  for (std::size_t i = 0; i < utf8.size(); ++i) {
    if ((static_cast<unsigned char>(utf8[i]) & 0xC0) == 0x80) continue;  // inside a character
    if (chars++ == kMaxCellChars) {
      utf8.resize(i);
      break;
    }
  }
  return utf8;
}

// UTF-8 of a GBK cell, cut to what a cell may hold.
std::string CellUtf8(const std::string& gbk) {
  // Most cells (addresses, figures) are ASCII, the same in both encodings.
  const bool ascii = std::all_of(gbk.begin(), gbk.end(), [](char c) { return (c & 0x80) == 0; });
  std::string utf8 = ascii ? gbk : GbkToUtf8Text(gbk);
  if (utf8.size() > kMaxCellChars) utf8 = CutToCellSize(std::move(utf8));
  return ProtectEscapes(std::move(utf8));
}

// The records of comma-separated text: split at "\r\n" outside double quotes
// (a quoted cell may hold a line break); a last empty record is none.
std::vector<std::string> CsvRecords(const std::string& text) {
  std::vector<std::string> records;
  bool quoted = false;
  std::size_t start = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '"') {
      quoted = !quoted;
    } else if (!quoted && text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
      records.push_back(text.substr(start, i - start));
      start = i + 2;
      ++i;
    }
  }
  if (start < text.size()) records.push_back(text.substr(start));
  return records;
}

struct WorkbookCloser {
  void operator()(lxw_workbook* book) const { workbook_close(book); }
};

// A folder of its own under the system's temporary folder, for the workbook
// and the library's row files; removed with everything in it.
class ScratchFolder {
 public:
  bool Create(std::string& reason) {
    std::error_code ec;
    const fs::path base = fs::temp_directory_path(ec);
    if (ec) return reason = "no temporary folder: " + ec.message(), false;
    std::random_device seed;
    std::mt19937_64 random(seed());
    for (int attempt = 0; attempt < 16; ++attempt) {
      const fs::path candidate = base / ("lanshu-xlsx-" + std::to_string(random()));
      if (fs::create_directory(candidate, ec)) {
        path_ = candidate;
        return true;
      }
      if (ec) return reason = "cannot create a temporary folder: " + ec.message(), false;
    }
    return reason = "cannot create a temporary folder", false;
  }
  ~ScratchFolder() {
    std::error_code ec;
    if (!path_.empty()) fs::remove_all(path_, ec);
  }
  const fs::path& Path() const { return path_; }

 private:
  fs::path path_;
};

// Builds the workbook at `file`, keeping the library's row files in `scratch`.
bool BuildWorkbook(const std::string& file, const std::string& scratch, const XlsxSheet& sheet,
                   std::string& reason) {
  if (sheet.rowCount >= LXW_ROW_MAX) return reason = "too many rows for one sheet", false;
  if (sheet.titles.empty()) return reason = "no columns to write", false;
  if (sheet.titles.size() > LXW_COL_MAX) return reason = "too many columns for one sheet", false;
  std::vector<char> tmpdir(scratch.begin(), scratch.end());
  tmpdir.push_back('\0');
  lxw_workbook_options options{};
  options.constant_memory = LXW_TRUE;
  options.tmpdir = tmpdir.data();
  std::unique_ptr<lxw_workbook, WorkbookCloser> book(workbook_new_opt(file.c_str(), &options));
  if (!book) return reason = "cannot create the workbook", false;
  const std::string name = GbkToUtf8Text(XlsxSheetName(sheet.name));
  lxw_worksheet* ws = workbook_add_worksheet(book.get(), name.c_str());
  if (!ws) return reason = "cannot add the sheet", false;
  lxw_format* bold = workbook_add_format(book.get());
  format_set_bold(bold);
  lxw_format* grouped = workbook_add_format(book.get());
  format_set_num_format(grouped, "#,##0");

  const int columns = static_cast<int>(sheet.titles.size());
  std::vector<std::size_t> widths(sheet.titles.size(), 0);
  std::vector<bool> counts(sheet.titles.size(), false);
  auto failed = [&](lxw_error e) { return reason = std::string("cannot write a cell: ") + lxw_strerror(e), false; };
  for (int c = 0; c < columns; ++c) {
    const std::string& title = sheet.titles[static_cast<std::size_t>(c)];
    counts[static_cast<std::size_t>(c)] = IsCountColumn(title);
    widths[static_cast<std::size_t>(c)] = DisplayWidth(title);
    if (lxw_error e = worksheet_write_string(ws, 0, static_cast<lxw_col_t>(c), CellUtf8(title).c_str(), bold))
      return failed(e);
  }
  for (std::size_t r = 0; r < sheet.rowCount; ++r) {
    const lxw_row_t row = static_cast<lxw_row_t>(r + 1);
    for (int c = 0; c < columns; ++c) {
      const std::size_t ci = static_cast<std::size_t>(c);
      const std::string text = sheet.cell(r, c);
      if (text.empty()) continue;  // an empty cell is no cell
      widths[ci] = std::max(widths[ci], DisplayWidth(text));
      double value = 0;
      bool withGroups = false;
      // Strings are never read as formulas: "=1+1" stays the text it is.
      const lxw_error e = counts[ci] && WholeCount(text, value, withGroups)
                              ? worksheet_write_number(ws, row, static_cast<lxw_col_t>(c), value,
                                                       withGroups ? grouped : nullptr)
                              : worksheet_write_string(ws, row, static_cast<lxw_col_t>(c), CellUtf8(text).c_str(),
                                                       nullptr);
      if (e) return failed(e);
    }
    if ((r + 1) % kRowsPerEventTurn == 0) ProcessPendingEvents();
  }
  // In constant-memory mode the columns, panes and filter are written when
  // the book closes, so they may follow the rows.
  for (int c = 0; c < columns; ++c) {
    // Two more for the filter button beside the text.
    const std::size_t width =
        std::clamp(widths[static_cast<std::size_t>(c)] + 2, kMinColumnWidth, kMaxColumnWidth);
    worksheet_set_column(ws, static_cast<lxw_col_t>(c), static_cast<lxw_col_t>(c), static_cast<double>(width),
                         nullptr);
  }
  worksheet_freeze_panes(ws, 1, 0);
  worksheet_autofilter(ws, 0, 0, static_cast<lxw_row_t>(sheet.rowCount), static_cast<lxw_col_t>(columns - 1));
  const lxw_error closed = workbook_close(book.release());
  if (closed) return reason = std::string("cannot build the workbook: ") + lxw_strerror(closed), false;
  return true;
}

}  // namespace

std::string RankSheetName() { return Utf8TextToGbk("排名"); }
std::string MiningSheetName() { return Utf8TextToGbk("挖掘"); }
std::string ComparisonSheetName() { return Utf8TextToGbk("排名变化"); }

bool IsXlsxFileName(const std::string& fileName) { return HasExtension(fileName, ".xlsx"); }

std::string XlsxSheetName(const std::string& name) {
  std::string out;
  std::size_t chars = 0;
  for (std::size_t i = 0; i < name.size() && chars < 31; ++chars) {
    const std::size_t len = GbkCharLen(name, i);
    if (len == 1) {
      const char c = name[i];
      out += (std::strchr("[]:*?/\\", c) != nullptr || c == '\0') ? '_' : c;
    } else {
      out.append(name, i, len);
    }
    i += len;
  }
  // A name may neither start nor end with an apostrophe.
  if (!out.empty() && out.front() == '\'') out.front() = '_';
  if (!out.empty() && out.back() == '\'') out.back() = '_';
  return out.empty() ? "Sheet1" : out;
}

bool IsCountColumn(const std::string& title) {
  static const std::vector<std::string> kCounts = {Utf8TextToGbk("序号"), Utf8TextToGbk("搜索量"),
                                                   Utf8TextToGbk("收录量"), Utf8TextToGbk("排名"),
                                                   Utf8TextToGbk("位置")};
  return std::find(kCounts.begin(), kCounts.end(), title) != kCounts.end();
}

bool WholeCount(const std::string& cell, double& value, bool& grouped) {
  if (cell.empty() || cell.size() > 15 + 4) return false;
  grouped = false;
  std::size_t digits = 0, run = 0;
  double v = 0;
  for (const char c : cell) {
    if (c == ',') {
      // The first group holds one to three digits, every later one three.
      if (run == 0 || run > 3 || (grouped && run != 3)) return false;
      grouped = true;
      run = 0;
      continue;
    }
    if (c < '0' || c > '9') return false;
    ++digits;
    ++run;
    v = v * 10 + (c - '0');
  }
  if ((grouped && run != 3) || (!grouped && run == 0)) return false;
  if (digits > 15 || (cell[0] == '0' && cell.size() > 1)) return false;
  value = v;
  return true;
}

std::size_t DisplayWidth(const std::string& gbk) {
  // In code page 936 a double-byte character is also twice as wide as a
  // single-byte one, so a line's bytes are its width.
  std::size_t widest = 0, line = 0;
  for (const char c : gbk) {
    if (c == '\r' || c == '\n') {
      line = 0;
      continue;
    }
    widest = std::max(widest, ++line);
  }
  return widest;
}

XlsxSheet RankXlsxSheet(const ResultTable& list) {
  XlsxSheet sheet;
  sheet.name = RankSheetName();
  for (int c = 0; c < list.ColumnCount(); ++c) sheet.titles.push_back(list.ColumnTitle(c));
  sheet.rowCount = static_cast<std::size_t>(std::max(0, list.RowCount()));
  sheet.cell = [&list](std::size_t row, int column) { return list.CellText(static_cast<int>(row), column); };
  return sheet;
}

XlsxSheet MiningXlsxSheet(const std::string& resultText, const std::string& csvHeader) {
  std::vector<std::vector<std::string>> rows;
  for (const std::string& record : CsvRecords(resultText)) rows.push_back(CsvCells(record));
  return GridXlsxSheet(MiningSheetName(), CsvCells(csvHeader), std::move(rows));
}

XlsxSheet GridXlsxSheet(const std::string& name, std::vector<std::string> titles,
                        std::vector<std::vector<std::string>> rows) {
  auto grid = std::make_shared<std::vector<std::vector<std::string>>>(std::move(rows));
  // A line with more cells than titles widens the sheet by untitled columns.
  std::size_t columns = titles.size();
  for (const auto& row : *grid) columns = std::max(columns, row.size());
  titles.resize(columns);
  XlsxSheet sheet;
  sheet.name = name;
  sheet.titles = std::move(titles);
  sheet.rowCount = grid->size();
  sheet.cell = [grid](std::size_t row, int column) {
    const std::vector<std::string>& cells = (*grid)[row];
    return static_cast<std::size_t>(column) < cells.size() ? cells[static_cast<std::size_t>(column)] : std::string();
  };
  return sheet;
}

bool WriteXlsxAtomically(const std::string& gbkPath, const XlsxSheet& sheet, std::string& reason, int* error,
                         std::uintmax_t* bytes) {
  reason.clear();
  if (error) *error = 0;
  ScratchFolder scratch;
  if (!scratch.Create(reason)) return false;
  const fs::path built = scratch.Path() / "book.xlsx";
  if (!BuildWorkbook(built.string(), scratch.Path().string(), sheet, reason)) return false;
  // The finished book goes in place the way text exports do, which keeps
  // the old file whole on any failure and a symbolic link a link.
  std::error_code ec;
  const std::uintmax_t size = fs::file_size(built, ec);
  std::ifstream in(built, std::ios::binary);
  std::string content(ec ? 0 : static_cast<std::size_t>(size), '\0');
  if (ec || !in.read(content.data(), static_cast<std::streamsize>(content.size())))
    return reason = "cannot read the built workbook", false;
  int written = 0;
  if (!WriteFileAtomically(gbkPath, content, &written)) {
    if (error) *error = written;
    reason = "cannot write " + GbkToUtf8Text(gbkPath);
    return false;
  }
  if (bytes) *bytes = content.size();
  return true;
}

ExportContent RankExportContent(const ResultTable& list, int exportMode, const std::string& templateText,
                                const std::string& fileName, std::shared_ptr<const ResultTable> keep) {
  ExportContent content;
  if (exportMode != kExportCsv || !IsXlsxFileName(fileName)) {
    content.text = BuildRankExport(list, exportMode, templateText);
    return content;
  }
  content.sheet = RankXlsxSheet(list);
  if (keep) {
    auto read = std::move(content.sheet->cell);
    content.sheet->cell = [keep, read](std::size_t row, int column) { return read(row, column); };
  }
  return content;
}

ExportContent MiningExportContent(const std::string& resultText, const std::string& csvHeader,
                                  const std::string& fileName) {
  ExportContent content;
  if (IsXlsxFileName(fileName))
    content.sheet = MiningXlsxSheet(resultText, csvHeader);
  else
    content.text = MiningExportText(resultText, csvHeader, fileName);
  return content;
}

bool WriteExport(const std::string& gbkPath, const ExportContent& content, int* error, std::string* reason,
                 std::uintmax_t* bytes) {
  std::string why;
  int system = 0;
  bool ok;
  if (content.sheet) {
    ok = WriteXlsxAtomically(gbkPath, *content.sheet, why, &system, bytes);
  } else {
    // A GBK text is written as it is, without a copy of a long list.
    const std::string utf8 =
        content.encoding == TextEncoding::kGbk ? std::string() : EncodeExportText(content.text, content.encoding);
    const std::string& encoded = content.encoding == TextEncoding::kGbk ? content.text : utf8;
    ok = WriteFileAtomically(gbkPath, encoded, &system);
    if (ok && bytes) *bytes = encoded.size();
  }
  if (error) *error = ok ? 0 : system;
  if (reason) *reason = ok ? std::string() : why;
  return ok;
}

std::string ExportFailedText(const std::string& gbkPath, int error, const std::string& reason) {
  if (error != 0 || reason.empty()) return ExportFailedText(gbkPath, error);
  return Utf8TextToGbk("导出失败：") + gbkPath + Utf8TextToGbk("：" + ChineseReason(reason));
}

}  // namespace lanshu
