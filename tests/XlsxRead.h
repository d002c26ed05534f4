#pragma once
// Reads a workbook back with a real spreadsheet reader (openpyxl, through
// tests/xlsx_dump.py) for the tests of the xlsx exports.
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QStringList>

#include <algorithm>
#include <cmath>
#include <map>
#include <ostream>
#include <string>
#include <vector>

#include "text/Codec.h"

#ifndef LANSHU_XLSX_DUMP
#error "LANSHU_XLSX_DUMP names tests/xlsx_dump.py"
#endif

namespace lanshu::testing {

// A cell as the reader saw it: its text (UTF-8; a number in digits) and its
// type: "s" text, "n" number, "f" formula, "" no cell.
struct XlsxCell {
  std::string text;
  std::string type;
  bool operator==(const XlsxCell& o) const { return text == o.text && type == o.type; }
};

inline void PrintTo(const XlsxCell& c, std::ostream* os) {
  *os << c.type << ":\"" << (c.text.size() > 80 ? c.text.substr(0, 80) + "..." : c.text) << "\"";
}

struct XlsxBook {
  std::string error;  // why the book could not be read; empty when it was
  std::vector<std::string> sheets;
  std::string freeze, filter;
  std::map<std::string, double> widths;  // by column letter
  std::vector<bool> headerBold;
  std::vector<std::vector<XlsxCell>> rows;
  std::vector<std::vector<std::string>> formats;
};

inline std::string Text(const QJsonValue& v) { return v.toString().toStdString(); }

inline XlsxBook ReadXlsx(const std::string& path) {
  XlsxBook book;
  QProcess reader;
  reader.start(QStringLiteral("/usr/bin/python3"),
               {QStringLiteral(LANSHU_XLSX_DUMP), QString::fromStdString(path)});
  if (!reader.waitForFinished(120000) || reader.exitStatus() != QProcess::NormalExit || reader.exitCode() != 0) {
    book.error = "the reader failed: " + reader.readAllStandardError().toStdString();
    return book;
  }
  QJsonParseError parse{};
  const QJsonObject o = QJsonDocument::fromJson(reader.readAllStandardOutput(), &parse).object();
  if (parse.error != QJsonParseError::NoError) {
    book.error = "the reader's output is no JSON: " + parse.errorString().toStdString();
    return book;
  }
  for (const QJsonValue& s : o.value(QStringLiteral("sheets")).toArray()) book.sheets.push_back(Text(s));
  book.freeze = Text(o.value(QStringLiteral("freeze")));
  book.filter = Text(o.value(QStringLiteral("filter")));
  const QJsonObject widths = o.value(QStringLiteral("widths")).toObject();
  for (auto it = widths.begin(); it != widths.end(); ++it) book.widths[it.key().toStdString()] = it.value().toDouble();
  for (const QJsonValue& b : o.value(QStringLiteral("headerBold")).toArray()) book.headerBold.push_back(b.toBool());
  for (const QJsonValue& row : o.value(QStringLiteral("rows")).toArray()) {
    std::vector<XlsxCell> cells;
    for (const QJsonValue& cell : row.toArray()) {
      const QJsonArray pair = cell.toArray();
      const QJsonValue value = pair.at(0);
      std::string text;
      if (value.isDouble()) {
        const double d = value.toDouble();
        text = d == std::floor(d) ? std::to_string(static_cast<long long>(d)) : std::to_string(d);
      } else {
        text = Text(value);
      }
      cells.push_back({text, Text(pair.at(1))});
    }
    book.rows.push_back(std::move(cells));
  }
  for (const QJsonValue& row : o.value(QStringLiteral("formats")).toArray()) {
    std::vector<std::string> formats;
    for (const QJsonValue& f : row.toArray()) formats.push_back(Text(f));
    book.formats.push_back(std::move(formats));
  }
  return book;
}

// Where the book's cells differ from the records of a CSV export (GBK): a
// number cell must hold the CSV cell without its separators, a text cell the
// CSV cell itself, no cell an empty one. Empty when they agree.
inline std::string CellsDifferFromCsv(const XlsxBook& book, const std::vector<std::vector<std::string>>& csv) {
  if (book.rows.size() != csv.size())
    return std::to_string(book.rows.size()) + " rows, the CSV has " + std::to_string(csv.size());
  for (std::size_t r = 0; r < csv.size(); ++r) {
    for (std::size_t c = 0; c < std::max(csv[r].size(), book.rows[r].size()); ++c) {
      const XlsxCell got = c < book.rows[r].size() ? book.rows[r][c] : XlsxCell{};
      std::string want = c < csv[r].size() ? GbkToUtf8Text(csv[r][c]) : std::string();
      if (got.type == "n") want.erase(std::remove(want.begin(), want.end(), ','), want.end());
      const bool typeOk = want.empty() ? got.type.empty() : got.type == "s" || got.type == "n";
      if (got.text != want || !typeOk)
        return "row " + std::to_string(r) + " column " + std::to_string(c) + ": " + got.type + " \"" + got.text +
               "\", the CSV has \"" + want + "\"";
    }
  }
  return {};
}

// A text cell and a number cell, for expectations.
inline XlsxCell S(const std::string& utf8) { return {utf8, "s"}; }
inline XlsxCell N(const std::string& digits) { return {digits, "n"}; }

}  // namespace lanshu::testing
