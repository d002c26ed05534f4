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

// The cells of a line as CsvLine writes it: split at "," outside double
// quotes, a quoted cell's doubled quotes made single again.
std::vector<std::string> CsvCells(const std::string& line);

}  // namespace lanshu
