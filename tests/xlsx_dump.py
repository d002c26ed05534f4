#!/usr/bin/python3
"""Reads a workbook with openpyxl and prints what the tests check, as JSON:
the sheets' names, and of the first sheet its frozen cell, its auto-filter
range, its column widths, whether each header cell is bold, and every cell
as [value, type] (type as openpyxl reads it: "s" text, "n" number,
"f" formula; ["", ""] for no cell; escaped characters read as a
spreadsheet program reads them), rows from the first."""
import json
import re
import sys

import openpyxl


ESCAPED = re.compile(r"_x([0-9A-Fa-f]{4})_")


def cell(c):
    if c.value is None:
        return ["", ""]
    if isinstance(c.value, str):
        # What the file cannot hold raw (CR, control characters, a text that
        # looks like such an escape) comes as _xHHHH_, which a spreadsheet
        # program reads back as the character; openpyxl leaves it be.
        return [ESCAPED.sub(lambda m: chr(int(m.group(1), 16)), c.value), c.data_type]
    return [c.value, c.data_type]


def main():
    book = openpyxl.load_workbook(sys.argv[1])
    sheet = book.worksheets[0]
    rows = []
    for row in sheet.iter_rows():
        rows.append([cell(c) for c in row])
    widths = {}
    for letter, dim in sheet.column_dimensions.items():
        if dim.width:
            widths[letter] = dim.width
    header_bold = [bool(c.font and c.font.b) for c in next(sheet.iter_rows(max_row=1), [])]
    formats = [[c.number_format for c in row] for row in sheet.iter_rows()]
    json.dump({
        "sheets": book.sheetnames,
        "freeze": sheet.freeze_panes,
        "filter": sheet.auto_filter.ref,
        "widths": widths,
        "headerBold": header_bold,
        "rows": rows,
        "formats": formats,
    }, sys.stdout, ensure_ascii=False)


if __name__ == "__main__":
    main()
