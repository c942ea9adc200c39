#!/usr/bin/python3
"""Reads the report pages of a folder as a browser's parser would and prints
what it found, so a test can compare it with what it expects.

usage: export_html_check.py FOLDER MAIN_PAGE

For every page reachable from MAIN_PAGE through the hour links (in link
order): "page NAME", the hours line ("hours 09 *10 11", the page's own hour
starred), the header texts ("head A|B|..."), then one line per data row
("row T|V|..."; "~" marks a cell of the failure colour). Fails (exit 1, the
reason on stderr) when a page is not code page 1251 HTML with one table, a
row has another number of cells than the header, a link opens no file, or a
page of the folder is linked from nowhere.
"""
import os
import sys
from html.parser import HTMLParser
from urllib.parse import unquote

FAILED = "#ffbfbf"


class Page(HTMLParser):
    def __init__(self):
        super().__init__(convert_charrefs=True)
        self.tables = 0
        self.rows = []
        self.cell = None
        self.in_hours = False
        self.hours = []
        self.links = []
        self.own_hour = False
        self.charset = None
        self.stack = []

    def handle_starttag(self, tag, attrs):
        a = dict(attrs)
        if tag in ("table", "tr", "td", "p", "a", "font", "strong"):
            self.stack.append(tag)
        if tag == "meta" and "charset=windows-1251" in (a.get("content") or ""):
            self.charset = "windows-1251"
        if tag == "table":
            self.tables += 1
        elif tag == "tr":
            self.rows.append([])
        elif tag == "td":
            self.cell = {"text": "", "failed": (a.get("bgcolor") or "").lower() == FAILED}
        elif tag == "p":
            self.in_hours = True
        elif tag == "a" and self.in_hours:
            self.links.append(a.get("href"))
        elif tag == "font" and self.in_hours:
            self.own_hour = True

    def handle_endtag(self, tag):
        if tag in ("table", "tr", "td", "p", "a", "font", "strong"):
            if not self.stack or self.stack[-1] != tag:
                raise ValueError("</%s> closes %s" % (tag, self.stack[-1:] or "nothing"))
            self.stack.pop()
        if tag == "td":
            self.rows[-1].append(self.cell)
            self.cell = None
        elif tag == "p":
            self.in_hours = False
        elif tag == "font":
            self.own_hour = False

    def handle_data(self, data):
        if self.cell is not None:
            self.cell["text"] += data
        elif self.in_hours and data.strip() and data.strip() != "Часы:":
            self.hours.append(("*" if self.own_hour else "") + data.strip())


def main():
    folder, main_page = sys.argv[1], sys.argv[2]
    order, seen, out = [main_page], set(), []
    while order:
        name = order.pop(0)
        if name in seen:
            continue
        seen.add(name)
        path = os.path.join(folder, name)
        if not os.path.isfile(path):
            sys.exit("a link opens no file: %s" % name)
        raw = open(path, "rb").read()
        page = Page()
        page.feed(raw.decode("cp1251"))
        page.close()
        if page.charset != "windows-1251":
            sys.exit("%s: no code page 1251 declared" % name)
        if page.tables != 1 or page.stack:
            sys.exit("%s: %d tables, unclosed %s" % (name, page.tables, page.stack))
        head, rows = page.rows[0], page.rows[1:]
        for row in rows:
            if len(row) != len(head):
                sys.exit("%s: a row of %d cells under %d headers" % (name, len(row), len(head)))
        out.append("page " + name)
        out.append("hours " + " ".join(page.hours))
        out.append("head " + "|".join(c["text"] for c in head))
        for row in rows:
            out.append("row " + "|".join(("~" if c["failed"] else "") + c["text"].replace("\xa0", "_")
                                         for c in row))
        for link in page.links:
            order.append(unquote(link))
    pages = {n for n in os.listdir(folder) if n.lower().endswith(".html")}
    if pages - seen:
        sys.exit("pages linked from nowhere: %s" % sorted(pages - seen))
    sys.stdout.write("\n".join(out) + "\n")


if __name__ == "__main__":
    main()
