#include "results/Export.h"

#include <cerrno>

#include <cstring>
#include <vector>

#include "store/ConfigStore.h"
#include "text/Codec.h"
#include "text/Csv.h"
#include "hooks/Events.h"
#include "text/Reasons.h"

namespace lanshu {
namespace {

// True when the byte at pos starts a character. A byte outside the lead range
// always ends a character, so only the run of lead-range bytes right before
// pos matters: they pair up from its start, and pos starts a character when
// the run has even length. Cheaper than walking the line from its start.
bool StartsCharacter(const std::string& s, std::size_t pos) {
  std::size_t run = 0;
  while (run < pos && IsGbkLeadByte(static_cast<unsigned char>(s[pos - 1 - run]))) ++run;
  return run % 2 == 0;
}

// Adds the positions of the "#" in text (placed at offset in its line) that
// may start a placeholder. One followed by a byte other than a digit or "#"
// never will: that byte only changes when it is a "#" that is replaced. The
// last byte of a cell is followed by what comes after the cell, so it counts.
void AddHashes(const std::string& text, std::size_t offset, bool lineEndsHere, std::vector<std::size_t>& out) {
  const char* begin = text.data();
  const char* end = begin + text.size();
  for (const char* p = begin; (p = static_cast<const char*>(std::memchr(p, '#', end - p))) != nullptr; ++p) {
    if (p + 1 == end ? lineEndsHere : !(p[1] == '#' || (p[1] >= '0' && p[1] <= '9'))) continue;
    out.push_back(offset + static_cast<std::size_t>(p - begin));
  }
}

// A line being filled in, with the position of every "#" in it: only a "#"
// can start a placeholder, so each column number looks at those alone.
class TemplateLine {
 public:
  void Reset(const std::string& text, const std::vector<std::size_t>& hashes) {
    text_ = text;
    hashes_ = hashes;
  }
  bool HasHash() const { return !hashes_.empty(); }
  const std::string& Text() const { return text_; }

  // Replaces every "#" + digits that starts a character, left to right, by
  // the text cell() gives (asked once, only when there is a match).
  template <class CellFn>
  void Replace(const std::string& digits, CellFn cell) {
    std::size_t i = 0;
    while (i < hashes_.size() && !Matches(hashes_[i], digits)) ++i;
    if (i == hashes_.size()) return;
    const std::string text = cell();
    next_.clear();
    nextHashes_.assign(hashes_.begin(), hashes_.begin() + static_cast<std::ptrdiff_t>(i));
    std::size_t copied = 0;
    for (; i < hashes_.size(); ++i) {
      const std::size_t pos = hashes_[i];
      if (!Matches(pos, digits)) {
        nextHashes_.push_back(next_.size() + (pos - copied));
        continue;
      }
      next_.append(text_, copied, pos - copied);
      AddHashes(text, next_.size(), false, nextHashes_);
      next_ += text;
      copied = pos + 1 + digits.size();
    }
    next_.append(text_, copied, std::string::npos);
    text_.swap(next_);
    hashes_.swap(nextHashes_);
  }

 private:
  bool Matches(std::size_t pos, const std::string& digits) const {
    if (pos + digits.size() >= text_.size()) return false;
    for (std::size_t j = 0; j < digits.size(); ++j)
      if (text_[pos + 1 + j] != digits[j]) return false;
    return StartsCharacter(text_, pos);
  }
  std::string text_, next_;
  std::vector<std::size_t> hashes_, nextHashes_;
};

// Appends text, with "," before it when out is not empty.
void AppendJoined(std::string& out, const std::string& text) {
  if (!out.empty()) out += ',';
  out += text;
}

// The template applied with each cell as cellText gives it.
template <class CellTextFn>
std::string ApplyTemplate(const ResultTable& list, const std::string& templateText, CellTextFn cellText) {
  const int rows = list.RowCount();
  const int cols = list.ColumnCount();
  std::vector<std::string> numbers;
  for (int k = 1; k <= cols; ++k) numbers.push_back(std::to_string(k));
  std::vector<std::size_t> templateHashes;
  AddHashes(templateText, 0, true, templateHashes);

  std::string result;
  TemplateLine line;
  for (int r = 0; r < rows; ++r) {
    line.Reset(templateText, templateHashes);
    for (int k = 1; k <= cols && line.HasHash(); ++k)
      line.Replace(numbers[k - 1], [&] { return cellText(r, k - 1); });
    if (!result.empty()) result += "\r\n";
    result += line.Text();
    // Rows of one list are much alike: size the whole text from the first.
    if (r == 0) result.reserve((line.Text().size() + 2) * static_cast<std::size_t>(rows) + 64);
    ProcessPendingEvents();
  }
  return result;
}

}  // namespace

std::string ApplyColumnTemplate(const ResultTable& list, const std::string& templateText) {
  return ApplyTemplate(list, templateText, [&](int r, int c) { return list.CellText(r, c); });
}

std::string BuildRankExport(const ResultTable& list, int exportMode, const std::string& templateText) {
  if (exportMode != kExportCsv) return ApplyColumnTemplate(list, templateText);
  // Quoted where needed, so that a count such as 3,404,667 stays one cell.
  std::string header;
  for (int c = 0; c < list.ColumnCount(); ++c) AppendJoined(header, CsvCell(list.ColumnTitle(c)));
  header += "\r\n";
  return header + ApplyTemplate(list, kCsvTemplate, [&](int r, int c) { return CsvCell(list.CellText(r, c)); });
}

std::string RowText(const ResultTable& list, int row) {
  std::string text;
  for (int c = 0; c < 8; ++c) AppendJoined(text, list.CellText(row, c));
  return text;
}

bool HasExtension(const std::string& fileName, const std::string& extension) {
  return fileName.size() >= extension.size() &&
         GbkToLowerAscii(fileName.substr(fileName.size() - extension.size())) == extension;
}

std::string MiningExportText(const std::string& resultText, const std::string& csvHeader,
                             const std::string& fileName) {
  return HasExtension(fileName, ".csv") ? csvHeader + "\r\n" + resultText : resultText;
}

bool WriteFileAtomically(const std::string& gbkPath, const std::string& bytes, int* error) {
  if (gbkPath.empty()) {
    if (error) *error = ENOENT;
    return false;
  }
  // The settings store replaces its file the same way; one implementation
  // serves both.
  ConfigStore file;
  file.SetAllText(bytes);
  return file.SaveAs(gbkPath, error);
}

std::string EncodeExportText(const std::string& gbk, TextEncoding encoding) {
  if (encoding == TextEncoding::kGbk) return gbk;
  return "\xEF\xBB\xBF" + GbkToUtf8Text(gbk);
}

const char* EncodingSettingName(TextEncoding encoding) {
  return encoding == TextEncoding::kUtf8Bom ? "UTF-8" : "GBK";
}

TextEncoding EncodingFromSettingName(const std::string& name) {
  const std::string n = GbkToLowerAscii(name);
  return n == "utf-8" || n == "utf8" ? TextEncoding::kUtf8Bom : TextEncoding::kGbk;
}

std::optional<TextEncoding> EncodingFromOptionName(const std::string& name) {
  const std::string n = GbkToLowerAscii(name);
  if (n == "gbk") return TextEncoding::kGbk;
  if (n == "utf-8-bom") return TextEncoding::kUtf8Bom;
  return std::nullopt;
}

std::string ExportFailedText(const std::string& gbkPath, int error) {
  return Utf8TextToGbk("导出失败：") + gbkPath + Utf8TextToGbk("：" + FileErrorChinese(error));
}

std::string SuggestedExportName(const std::string& subject, int year, int month, int day,
                                const std::string& extension) {
  std::string name;
  for (std::size_t i = 0; i < subject.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(subject[i]);
    if (c >= 0x81 && c <= 0xFE && i + 1 < subject.size()) {  // a double-byte character stays whole
      name += subject.substr(i, 2);
      ++i;
      continue;
    }
    name += (c < 0x20 || std::strchr("\\/:*?\"<>|", c)) ? '_' : static_cast<char>(c);
  }
  char date[16];
  std::snprintf(date, sizeof date, "%04d-%02d-%02d", year, month, day);
  return name + "_" + date + "." + extension;
}

}  // namespace lanshu
