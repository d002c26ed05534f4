#pragma once
// Cells of comma-separated text as spreadsheet programs read them.
#include <string>
#include <vector>

namespace lanshu {

// A cell holding ",", a double quote, CR or LF, written in double quotes with
// its inner quotes doubled; any other cell as it is. None of these bytes is
// ever the second byte of a double-byte character, so GBK text is safe.
std::string CsvCell(std::string text);

// The cells as one comma-separated line (no line end), each through CsvCell.
std::string CsvLine(const std::vector<std::string>& cells);

}  // namespace lanshu
