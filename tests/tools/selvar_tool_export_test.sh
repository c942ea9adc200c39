#!/bin/sh
# selvar-tool export as a user calls it: on the program's home, as poll
# --record leaves it, the pages and workbooks checked by other readers.
set -u

TOOL=${SELVAR_TOOL:?set SELVAR_TOOL to the built selvar-tool}
HERE=$(cd "$(dirname "$0")" && pwd)
WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT
export SELVAR_HOME="$WORK/home" TZ=UTC
mkdir -p "$SELVAR_HOME/protocol"
failures=0

fail() {
    echo "FAIL: $*" >&2
    failures=$((failures + 1))
}

# Writes a log: NAME then records "SECONDS NAME ADDRESS FAILED HEX", cut by
# CUT bytes at the end when CUT is set.
write_log() {
    /usr/bin/python3 - "$@" <<'EOF'
import struct, sys
name, records = sys.argv[1], sys.argv[2:]
out = b""
for r in records:
    t, n, a, f, h = (r.split(",") + [""])[:5]
    data = bytes.fromhex(h)
    out += struct.pack("<q", int(t)) + n.encode().ljust(8, b"\0") + bytes([int(a), int(f), len(data)]) + data
cut = int(__import__("os").environ.get("CUT", "0"))
open(name, "wb").write(out[:len(out) - cut])
EOF
}

# 2026-11-15 09:59:58 UTC; rEAd (vhod 1) 20.5, the second input failed, an
# hour later 7.0.
T0=1794736798
write_log "$SELVAR_HOME/protocol/15-11-2026.log" \
    "$T0,rEAd,0,0,41a40000" "$T0,rEAd,1,1," "$((T0 + 3602)),rEAd,0,0,40e00000"

# Pages: the paths, one a line; the second judge reads them.
"$TOOL" export html a1 --from 2026-11-15 --to 2026-11-15 >"$WORK/out" 2>"$WORK/err" ||
    fail "html: exit $? $(cat "$WORK/err")"
printf '%s\n' "$SELVAR_HOME/temp/15-11-2026.html" "$SELVAR_HOME/temp/15-11-2026(1).html" >"$WORK/want"
cmp -s "$WORK/out" "$WORK/want" || fail "html printed: $(cat "$WORK/out")"
/usr/bin/python3 "$HERE/export_html_check.py" "$SELVAR_HOME/temp" 15-11-2026.html >"$WORK/seen" 2>&1 ||
    fail "the pages: $(cat "$WORK/seen")"
grep -q '^row 09:59:58|20.500|~Таймаут при передаче данных|' "$WORK/seen" || fail "the first row: $(cat "$WORK/seen")"
grep -q '^hours 09 \*11$' "$WORK/seen" || fail "the hours of the second page: $(cat "$WORK/seen")"

# From the month's archive once the log is packed; a filter in any case.
"$TOOL" log pack >/dev/null 2>&1 || fail "log pack"
[ ! -e "$SELVAR_HOME/protocol/15-11-2026.log" ] || fail "the log was not packed"
"$TOOL" export html a1 --file 15-11-2026.log --filter READ >"$WORK/out" 2>"$WORK/err" ||
    fail "html from the archive: exit $? $(cat "$WORK/err")"
/usr/bin/python3 "$HERE/export_html_check.py" "$SELVAR_HOME/temp" 15-11-2026.html >"$WORK/seen" 2>&1 ||
    fail "the pages from the archive: $(cat "$WORK/seen")"
grep -q '^row 11:00:00|7.000|_$' "$WORK/seen" || fail "the archive's row: $(cat "$WORK/seen")"
ls -a "$SELVAR_HOME/temp" | grep -q extracted && fail "the extracted copy was left"

# A workbook of a period; another reader reads it back.
"$TOOL" export xlsx a1 --from 2026-11-14 --to 2026-11-16 --filter read --out "$WORK/books" \
    >"$WORK/out" 2>"$WORK/err" || fail "xlsx: exit $? $(cat "$WORK/err")"
[ "$(cat "$WORK/out")" = "$WORK/books/14-11-2026_16-11-2026.xlsx" ] || fail "xlsx printed: $(cat "$WORK/out")"
/usr/bin/python3 "$HERE/export_workbook_check.py" "$WORK/books/14-11-2026_16-11-2026.xlsx" >"$WORK/seen" 2>&1
status=$?
if [ $status -ne 77 ]; then
    [ $status -eq 0 ] || fail "the workbook: $(cat "$WORK/seen")"
    grep -q '^2026-11-15 09:59:58|n:20.5|Таймаут при передаче данных$' "$WORK/seen" ||
        fail "the workbook's rows: $(cat "$WORK/seen")"
fi
# LibreOffice, where it is installed, converts it as a user would open it.
if command -v libreoffice >/dev/null 2>&1; then
    (cd "$WORK/books" && HOME="$WORK" libreoffice --headless --convert-to csv \
        14-11-2026_16-11-2026.xlsx >/dev/null 2>&1) || fail "libreoffice could not convert the workbook"
    grep -q '20.5' "$WORK/books/14-11-2026_16-11-2026.csv" || fail "libreoffice's CSV lacks the value"
fi

# --out leaves the folder's other pages alone.
mkdir -p "$WORK/mine" && echo keep >"$WORK/mine/notes.html"
"$TOOL" export html a1 --file 15-11-2026.log --out "$WORK/mine" >/dev/null 2>&1 || fail "html --out"
[ -f "$WORK/mine/notes.html" ] || fail "--out deleted a page of the user's"

# A log cut inside its last record: the whole records, a warning, exit 2.
CUT=3 write_log "$SELVAR_HOME/protocol/17-11-2026.log" "$T0,rEAd,0,0,41a40000" "$((T0 + 1)),rEAd,0,0,41a40000"
"$TOOL" export html a1 --file 17-11-2026.log >"$WORK/out" 2>"$WORK/err"
[ $? -eq 2 ] || fail "a cut log should exit 2"
grep -q 'cut short' "$WORK/err" || fail "no warning for the cut log: $(cat "$WORK/err")"
[ -s "$WORK/out" ] || fail "a cut log wrote nothing"

# A data file that is not there: the header row, a warning, exit 2.
"$TOOL" export xlsx a1 --file 01-01-2026.log >"$WORK/out" 2>"$WORK/err"
[ $? -eq 2 ] || fail "a missing data file should exit 2"
grep -q 'no log file or archive stream' "$WORK/err" || fail "no warning for a missing file: $(cat "$WORK/err")"

# A composite value's record carries the text the polling showed; the
# pages and log dump show it as it was.
write_log "$SELVAR_HOME/protocol/18-11-2026.log" "$T0,v.in,0,0,31322e333435"
"$TOOL" export html a1 --file 18-11-2026.log --filter v.in >/dev/null 2>&1 || fail "html of a composite"
/usr/bin/python3 "$HERE/export_html_check.py" "$SELVAR_HOME/temp" 18-11-2026.html >"$WORK/seen" 2>&1
grep -q '^row 09:59:58|12.345|_$' "$WORK/seen" || fail "the composite value: $(cat "$WORK/seen")"
"$TOOL" log dump "$SELVAR_HOME/protocol/18-11-2026.log" --modification a1 >"$WORK/out" 2>&1
grep -q '	12.345	float$' "$WORK/out" || fail "log dump of a composite: $(cat "$WORK/out")"

# Wrong command lines.
for args in "html a1 --from 2026-11-15" "html a1 --from 2026-11-15 --to 2026-11-14" \
    "html a1 --from 15.11.2026 --to 2026-11-15" "html a1 --file x.log --from 2026-11-15" \
    "html a1 --file x.log --filter nosuch" "pdf a1 --file x.log" "html zz --file x.log" \
    "html a1 --file ../protocol/x.log" \
    "clear 13-2026" "clear 3-2026"; do
    # shellcheck disable=SC2086
    "$TOOL" export $args >/dev/null 2>&1
    [ $? -eq 64 ] || fail "export $args should be a usage error"
done

# Clearing: archives up to the month, nothing else.
for f in 12-2025.var 03-2026.var 04-2026.var notes.var; do echo x >"$SELVAR_HOME/protocol/$f"; done
"$TOOL" export clear 03-2026 >"$WORK/out" 2>/dev/null || fail "clear: exit $?"
[ "$(cat "$WORK/out")" = 2 ] || fail "clear printed $(cat "$WORK/out")"
for f in 04-2026.var notes.var 11-2026.var 17-11-2026.log; do
    [ -e "$SELVAR_HOME/protocol/$f" ] || fail "clear deleted $f"
done
[ ! -e "$SELVAR_HOME/protocol/03-2026.var" ] || fail "clear kept 03-2026.var"

[ $failures -eq 0 ] && echo "selvar-tool export: all checks passed"
exit $((failures > 0))
