#include "text/Csv.h"

namespace lanshu {

std::string CsvCell(std::string text) {
  if (text.find_first_of(",\"\r\n") == std::string::npos) return text;
  std::string out;
  out.reserve(text.size() + 8);
  out += '"';
  for (char c : text) {
    if (c == '"') out += '"';
    out += c;
  }
  out += '"';
  return out;
}

std::string CsvLine(const std::vector<std::string>& cells) {
  std::string line;
  for (const std::string& cell : cells) {
    if (&cell != &cells.front()) line += ',';
    line += CsvCell(cell);
  }
  return line;
}

}  // namespace lanshu
