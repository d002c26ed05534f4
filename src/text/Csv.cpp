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

}  // namespace lanshu
