#!/usr/bin/python3
"""Reads an exported parameter table with dbfread, a dBase reader this
project did not write, and compares the layout and every value with what the
exporting test expected.

Usage: dbf_reader_check.py TABLE.dbf EXPECTED.json
EXPECTED.json holds the list of rows, each a list of the 15 values in field
order, as the parameters held them before the export."""
import json
import sys

import dbfread

LAYOUT = [
    ("CONF_ID", "N", 4, 0),
    ("NAME", "C", 9, 0),
    ("DESC", "C", 80, 0),
    ("VALUE", "C", 64, 0),
    ("HASLINDEX", "L", 1, 0),
    ("LINDEX", "N", 8, 0),
    ("DADDRESS", "N", 4, 0),
    ("CANWRITE", "L", 1, 0),
    ("ATRACCESS", "L", 1, 0),
    ("ATROWNER", "L", 1, 0),
    ("ERROR", "C", 80, 0),
    ("NEEDUPDTE", "L", 1, 0),
    ("NEEDU_ACC", "L", 1, 0),
    ("NEEDU_OWN", "L", 1, 0),
    ("PRIVACY", "N", 4, 0),
]


def main():
    path, expected_path = sys.argv[1], sys.argv[2]
    with open(expected_path, encoding="utf-8") as f:
        expected = json.load(f)

    # Texts are in the OEM code page; the reader must not fall back to a
    # guess from the language byte.
    table = dbfread.DBF(path, encoding="cp866", char_decode_errors="strict",
                        ignore_missing_memofile=True)
    failures = []
    header = table.header
    if header.dbversion != 3:
        failures.append("version %r" % header.dbversion)
    if (header.headerlen, header.recordlen) != (513, 261):
        failures.append("header/record length %r" % ((header.headerlen, header.recordlen),))
    if header.numrecords != len(expected):
        failures.append("record count %d, expected %d" % (header.numrecords, len(expected)))

    layout = [(f.name, f.type, f.length, f.decimal_count) for f in table.fields]
    if layout != LAYOUT:
        failures.append("fields %r" % layout)
    # The stored offsets count from the first field, not from the status byte.
    offsets = [f.address for f in table.fields]
    if offsets != [sum(x[2] for x in LAYOUT[:i]) for i in range(len(LAYOUT))]:
        failures.append("field offsets %r" % offsets)

    rows = list(table)
    if list(table.deleted):
        failures.append("deleted rows present")
    if len(rows) != len(expected):
        failures.append("%d rows read, expected %d" % (len(rows), len(expected)))
    for number, (row, want) in enumerate(zip(rows, expected), 1):
        got = list(row.values())
        for (name, _, _, _), g, w in zip(LAYOUT, got, want):
            # Numbers come back as integers (no decimals), logicals as bools.
            if g != w or type(g) is not type(w):
                failures.append("row %d %s: read %r, expected %r" % (number, name, g, w))

    with open(path, "rb") as f:
        raw = f.read()
    if len(raw) != 513 + 261 * len(expected) + 2 or raw[-2:] != b"\x1a\x1a":
        failures.append("file size %d or end marks %r" % (len(raw), raw[-2:]))

    for failure in failures:
        print(failure)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
