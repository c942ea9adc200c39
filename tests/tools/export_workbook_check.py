#!/usr/bin/python3
"""Reads an exported workbook with an independent reader and prints it, so a
test can compare it with what it expects.

usage: export_workbook_check.py BOOK.xlsx

Per worksheet: "sheet TITLE frozen=CELL bold=yes|no widths=ok|narrow", then
one line per row, cells separated by "|": a date and time as
"YYYY-MM-DD HH:MM:SS", a number as "n:" and its value, a text as itself, an
empty cell as "". Exits 77 when the reader is not installed.
"""
import datetime
import sys

try:
    import openpyxl
except ImportError:
    sys.exit(77)


def show(v):
    if v is None:
        return ""
    if isinstance(v, datetime.datetime):
        return v.strftime("%Y-%m-%d %H:%M:%S")
    if isinstance(v, (int, float)):
        return "n:%g" % v
    return str(v)


def main():
    book = openpyxl.load_workbook(sys.argv[1])
    for ws in book.worksheets:
        head = list(ws.iter_rows(min_row=1, max_row=1))[0]
        bold = all(c.font is not None and c.font.b for c in head)
        # Each column at least as wide as its header text.
        narrow = False
        for c in head:
            width = ws.column_dimensions[c.column_letter].width
            if width is None or width < len(str(c.value)):
                narrow = True
        print("sheet %s frozen=%s bold=%s widths=%s" %
              (ws.title, ws.freeze_panes, "yes" if bold else "no", "narrow" if narrow else "ok"))
        for row in ws.iter_rows(values_only=True):
            print("|".join(show(v) for v in row))


if __name__ == "__main__":
    main()
