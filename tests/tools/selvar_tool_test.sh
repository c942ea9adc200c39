#!/bin/sh
# Calls selvar-tool as a user or a script would and checks what it prints and
# the exit status. SELVAR_TOOL names the binary.
set -u
TOOL=${SELVAR_TOOL:?SELVAR_TOOL must name the selvar-tool binary}
WORK=$(mktemp -d) || exit 1
trap 'rm -rf "$WORK"' EXIT INT TERM
# The runs keep their settings here, never in the user's own.
export SELVAR_USER_SETTINGS="$WORK/user.conf" SELVAR_SYSTEM_SETTINGS="$WORK/system.conf"
failed=0
checks=0

fail() {
    failed=$((failed + 1))
    printf 'FAIL: selvar-tool %s\n  %s\n' "$ARGS" "$1" >&2
    printf '  stdout: %s\n  stderr: %s\n' "$(cat "$WORK/out")" "$(cat "$WORK/err")" >&2
}

run() {
    ARGS=$*
    checks=$((checks + 1))
    "$TOOL" "$@" >"$WORK/out" 2>"$WORK/err"
    STATUS=$?
}

# ok EXPECTED_STDOUT ARGS...: exit 0, stdout exactly the expected line.
ok() {
    want=$1
    shift
    run "$@"
    [ "$STATUS" -eq 0 ] || fail "exit status $STATUS, expected 0"
    [ "$(cat "$WORK/out")" = "$want" ] || fail "expected stdout: $want"
}

# status N ARGS...: exit status N and, for a failure, a message on stderr.
status() {
    want=$1
    shift
    run "$@"
    [ "$STATUS" -eq "$want" ] || fail "exit status $STATUS, expected $want"
    [ "$want" -eq 0 ] || [ -s "$WORK/err" ] || fail "no message on stderr"
}

# Stdout and stderr of the last run.
stdout_is() { [ "$(cat "$WORK/out")" = "$1" ] || fail "expected stdout: $1"; }
stderr_has() { grep -qF -- "$1" "$WORK/err" || fail "expected on stderr: $1"; }

# --- help -----------------------------------------------------------------
status 0 --help
for c in hash crc frame encode decode parse; do
    grep -q "^  $c " "$WORK/out" || fail "help does not list $c"
done
grep -q "64" "$WORK/out" || fail "help does not document the usage status"
status 0 help
status 0 help frame
grep -q "^usage: selvar-tool frame read|write" "$WORK/out" || fail "no usage line for frame"
status 0 encode --help
status 64
status 64 nosuch
status 64 help nosuch

# --- hash -----------------------------------------------------------------
ok 1ED2 hash A.Len
ok 1ED2 hash a.LEN
ok 0233 hash n.Err
ok 8403 hash APLY
ok 0000 hash ""
ok "$("$TOOL" hash ABCD)" hash "ABCппппD"
status 64 hash
status 64 hash A.Len n.Err
status 64 hash --addr 1 A.Len

# --- crc ------------------------------------------------------------------
ok 4F8D crc "61 62 63"
ok 4F8D crc 616263
ok 4F8D crc "61 6263"
ok 4F8D crc 61 62 63
ok CB82 crc 10101ed2
ok 0000 crc 10101ED2CB82
status 64 crc 616
status 64 crc "6 162 63"
status 64 crc 6g
status 64 crc "61,62"
status 64 crc

# --- frame ----------------------------------------------------------------
ok "#HGHGHUTISROI" frame read --addr 16 A.Len
ok "#HGHGHUTISROI" frame read A.Len --addr=16 --alen 8
ok "#NTJGHUTIPVQJ" frame read --addr 1001 --alen 11 A.Len
ok "#VVHGHUTIINLN" frame read --addr 16 --offset -1 A.Len
ok "#HVVGHUTIONJU" frame read --addr 16 --alen 11 --offset -1 A.Len
ok "#HIHGHUTIRUNU" frame read --addr 16 --offset 2 A.Len
ok "#HGHIHUTIGHGIOPLM" frame read --addr 16 --index 258 A.Len
ok "#HGGHHUTIGHLNTV" frame write --addr 16 A.Len 01
ok "#HGGJHUTIGHGGGIMIMG" frame write --addr 16 --index 2 A.Len 01
run frame write --addr 1 X 00112233445566778899AABBCCDDEE
[ "$STATUS" -eq 0 ] && [ "$(wc -c <"$WORK/out")" -eq 44 ] || fail "15 data bytes: 43 characters and a newline"
status 64 frame write --addr 1 --index 1 X 0011223344556677 8899AABBCCDD
status 64 frame read A.Len
status 64 frame read --addr abc A.Len
status 64 frame read --addr -5 A.Len
status 64 frame read --addr 256 A.Len
ok "#VVHGJQLVIHJI" frame read --addr 255 X
status 64 frame read --addr 250 --offset 6 A.Len
status 64 frame read --addr 16 --offset -2 A.Len
status 64 frame read --addr 2048 --alen 11 A.Len
status 64 frame read --addr 16 --alen 9 A.Len
status 64 frame read --addr 16 --index 65536 A.Len
status 64 frame read --addr 16 --addr 17 A.Len
status 64 frame peek --addr 16 A.Len
status 64 frame read --addr 16
status 64 frame read --addr 16 --bogus A.Len
status 64 frame read --addr 99999999999999999999999 A.Len

# --- encode ---------------------------------------------------------------
ok "10 7D" encode --type "STORED DOT" 12.5
ok "B0 01" encode --type "stored dot" -0.001
ok "10 C3 50" encode --type "STORED DOT" --decimals 1 5000
ok "17 06 04 0A 14 1E 61" encode --type datetime "05.07.23 10:20:30"
ok "0C 1E 22" encode --type time 12:30
ok "05" encode --type bin 101
ok "41 48 00 00" encode --type float 12.5
ok "FF FE" encode --type int16 -- -2
ok "01" encode --type "Выкл:Вкл:Авто" вкл
ok "" encode --type float --name APLY 1
status 1 encode --type "Выкл:Вкл:Авто" Ручной
status 1 encode --type float --name dev 1
status 1 encode --type name ABCDEFGHI
stderr_has "Сетевое имя слишком длинное"
status 1 encode --type name ""
stderr_has "Сетевое имя пусто"
status 64 encode --type flaot 1
status 64 encode 1
status 64 encode --type float --decimals x 1
status 64 encode --type float --decimals 8 1
status 64 encode --type float --decimals -1 1
status 64 encode --type float 05.07.23 10:20:30
# Values that do not fit their type, or would be read as another number.
for v in 1e400 -1e400 "$(printf '9%.0s' $(seq 600))" abc "" nan "12 volts" 3.4028236e38; do
    status 1 encode --type float -- "$v"
    status 1 encode --type "STORED DOT" -- "$v"
done
ok "7F 7F FF FF" encode --type float 3.4028235e38
for t in "DEC dot" int16 uint16 byte DWORD; do status 1 encode --type "$t" 1e3; done
status 1 encode --type int16 32768
status 1 encode --type uint16 -- -1
status 1 encode --type byte -- -1
status 1 encode --type byte -- -1.99
ok "80 00" encode --type int16 -- -32768
status 1 encode --type time 12::30
status 1 encode --type datetime "05.07.23 10:x:30"
status 1 encode --type "CLK frm" 1::5

# --- decode ---------------------------------------------------------------
ok "12.5" decode --type "STORED DOT" --decimals 1 107D
ok "05.07.23 10:20:30" decode --type datetime 17 06 04 0A 14 1E 61
ok "10100000" decode --type bin 05
ok "02:05" decode --type "CLK frm" 7D
ok "12.50" decode --type float --decimals 2 41480000
ok "-2" decode --type int16 FFFE
ok "-2" decode --type int16 --indexed FFFE0001
ok "Авто" decode --type "Выкл:Вкл:Авто" 02
ok "Обрыв датчика." decode --type float --name rEAd FD000000
ok "8" decode --type byte --name A.Len 00
status 2 decode --type int16 --indexed FFFE00
stdout_is "Ошибка; (Непонятная длина ответа:3)"
status 1 decode --type "Выкл:Вкл:Авто" 07
status 1 decode --type float ""
status 64 decode --type float 4148000
status 64 decode --type float --indexed=1 41480000
status 64 decode --type float

# --- parse ----------------------------------------------------------------
ok "100" parse --type float --min 0 --max 100 100
status 1 parse --type float --min 0 --max 100 100.001
status 0 parse --type float --decimals 3 --min 0 --max 100 100.0005
ok "1.23" parse --type float --decimals 2 1.23456
stderr_has "округлено"
ok "1" parse --type float 1.5
ok "12.3" parse --type "STORED DOT" --min 0 --max 999 12.34
ok "12" parse --type "DEC dot" 12
status 1 parse --type "DEC dot" 12.5
status 1 parse --type "DEC dot" 12abc
ok "1:02:03" parse --type "CLK frm" 1:02:03
status 1 parse --type "CLK frm" --min 0 --max 3600 1:02:03
ok "0011" parse --type bin 0011
status 1 parse --type float abc
ok "-5" parse --type int16 --min -10 --max 10 -5
status 64 parse --type float --min 0 5
status 64 parse --type float --min 10 --max 0 5
status 64 parse --type float --min x --max 1 5
status 64 parse --type float --name A 5

# The description files lie beside the tool.
run desc list
[ "$STATUS" -eq 0 ] && [ "$(wc -l <"$WORK/out")" -eq 3 ] || fail "three modifications expected"
grep -q "^Селвар-Б4	parameters2.zip	selvar_b4.tree.zip	selvar_b4.tree.h.zip	selvar_b4.tree.op.zip	tooltip_b4.dat$" "$WORK/out" ||
    fail "the Б4 line"
run desc table b4
[ "$STATUS" -eq 0 ] || fail "exit status $STATUS"
[ "$(head -1 "$WORK/out" | cut -f1-3)" = "position	name	type" ] || fail "header line"
[ "$(wc -l <"$WORK/out")" -gt 1000 ] || fail "the largest table has over 1000 records"
run desc table "Селвар-А1"
[ "$STATUS" -eq 0 ] && [ "$(sed -n 2p "$WORK/out" | cut -f1)" = "0" ] || fail "display names select too"
run desc tree b2 hidden
[ "$STATUS" -eq 0 ] && head -1 "$WORK/out" | grep -q '^branch ' || fail "a tree starts with its root branch"
grep -q '^  ' "$WORK/out" || fail "children are indented"
status 64 desc table x9
status 64 desc tree b4 sideways
status 64 desc
status 64 comment b4 in.sl:x
ok "КОММЕНТАРИЙ: Параметр блокирует переключение состояния Инспектора на заданное время." comment a1 del:3
ok "" comment b4 no.such
run comment b4 in.sl:2
[ "$STATUS" -eq 0 ] && grep -q '^КОММЕНТАРИЙ: ' "$WORK/out" || fail "in.sl has a comment"
SELVAR_DATA_DIR=$WORK/none "$TOOL" desc table a1 >"$WORK/out" 2>"$WORK/err"
[ $? -eq 1 ] && [ -s "$WORK/err" ] || fail "missing description files are an error"
checks=$((checks + 1))

# The parameter list page parses as HTML and lists the table's names.
run parlist b4 "$WORK/parlist.html"
[ "$STATUS" -eq 0 ] && [ "$(cat "$WORK/out")" = "$WORK/parlist.html" ] || fail "parlist writes the page"
if command -v python3 >/dev/null 2>&1; then
    checks=$((checks + 1))
    python3 - "$WORK/parlist.html" <<'PY' || { failed=$((failed + 1)); echo "FAIL: parlist page is not well-formed" >&2; }
import sys
from html.parser import HTMLParser
text = open(sys.argv[1], encoding="cp1251").read()
class Check(HTMLParser):
    def __init__(self):
        super().__init__()
        self.stack, self.rows, self.cells = [], 0, []
    def handle_starttag(self, tag, attrs):
        if tag in ("tr", "td", "table", "ol", "html", "body", "head", "title", "b", "strong", "h4"):
            self.stack.append(tag)
        if tag == "tr":
            self.rows += 1
    def handle_endtag(self, tag):
        if tag in ("li", "br"):
            return
        assert self.stack and self.stack[-1] == tag, (tag, self.stack[-3:])
        self.stack.pop()
    def handle_data(self, data):
        self.cells.append(data)
c = Check()
c.feed(text)
c.close()
assert not c.stack, c.stack
assert c.rows > 100, c.rows
assert "n.Err" in "".join(c.cells)
PY
fi
SELVAR_HOME=$WORK/home "$TOOL" parlist a1 >"$WORK/out" 2>"$WORK/err"
[ $? -eq 0 ] && [ -s "$WORK/home/parlist.html" ] || fail "parlist defaults to the program's home"
checks=$((checks + 1))

# --- protocol logs ----------------------------------------------------------
mkdir -p "$WORK/logs"
mkfifo "$WORK/logs/fifo.log"
status 2 log dump "$WORK/logs"
stderr_has "not a regular file"
status 2 log dump "$WORK/logs/fifo.log"
status 2 log dump /dev/zero
status 2 log dump "$WORK/logs/none.log"
status 2 log dump "$WORK/logs" 05-01-2027.log
if command -v python3 >/dev/null 2>&1; then
    python3 - "$WORK" "$(dirname "$TOOL")" <<'PY'
import gzip, os, shutil, struct, sys
work = sys.argv[1]
def record(t, name, address, data):
    return struct.pack("<q", t) + name.ljust(8, b"\0") + bytes([address, 0, len(data)]) + data
# Operative readings carry no index bytes: r.oe is three bytes, r.kEY one.
with open(os.path.join(work, "logs", "b4.log"), "wb") as f:
    f.write(record(1765100000, b"r.oe", 1, bytes([0x42, 0x48, 0])))
    f.write(record(1765100001, b"r.kEY", 3, bytes([1])))
with open(os.path.join(work, "logs", "zeros.log"), "wb") as f:
    f.write(record(1765100000, b"r.oe", 1, bytes([0x42, 0x48, 0])) + bytes(3000000))
# A hidden tree of 50,000 nested branches beside copies of the other files.
deep = os.path.join(work, "deep")
os.mkdir(deep)
source = sys.argv[2]
for name in os.listdir(source):
    if name.endswith((".zip", ".dat")):
        shutil.copy(os.path.join(source, name), deep)
branch = bytearray(512)
branch[0] = 1
branch[1:5] = struct.pack("<i", 1)
branch[29:30] = b"d"
with open(os.path.join(deep, "selvar_b2.tree.h.zip"), "wb") as f:
    f.write(gzip.compress(bytes(branch) * 50000))
PY
    ARGS="log dump b4.log --modification b4"
    checks=$((checks + 1))
    TZ=UTC "$TOOL" log dump "$WORK/logs/b4.log" --modification b4 >"$WORK/out" 2>"$WORK/err"
    STATUS=$?
    [ "$STATUS" -eq 0 ] || fail "exit status $STATUS"
    stdout_is "$(printf '2025-12-07 09:33:20\tr.oe\t1\tok\t50.0\tfloat\n2025-12-07 09:33:21\tr.kEY\t3\tok\tЗамкнут\tРазомкнут:Замкнут')"
    status 2 log dump "$WORK/logs/zeros.log"
    stderr_has "damaged at byte 22"
    [ "$(wc -l <"$WORK/out")" -eq 1 ] || fail "the record before the damage is shown"
    ARGS="desc tree b2 hidden (50,000 levels)"
    checks=$((checks + 1))
    SELVAR_DATA_DIR=$WORK/deep "$TOOL" desc tree b2 hidden >"$WORK/out" 2>"$WORK/err"
    STATUS=$?
    [ "$STATUS" -eq 1 ] || fail "a tree nested too deep exits 1, not $STATUS"
    stderr_has "deeper than 64 levels"

    # Two packers at once keep every day, in the archive or in the folder.
    cp "$WORK/logs/b4.log" "$WORK/day.keep"
    rm -f "$WORK/logs/"*.log
    for day in 01 02 03 04 05 06 07 08 09 10 11 12 13 14 15 16; do
        cp "$WORK/day.keep" "$WORK/logs/$day-11-2026.log"
    done
    "$TOOL" log pack "$WORK/logs" >/dev/null 2>&1 &
    first=$!
    "$TOOL" log pack "$WORK/logs" >/dev/null 2>&1
    wait "$first"
    for day in 01 02 03 04 05 06 07 08 09 10 11 12 13 14 15 16; do
        run log dump "$WORK/logs/11-2026.var" "$day-11-2026.log"
        [ "$STATUS" -eq 0 ] && [ ! -e "$WORK/logs/$day-11-2026.log" ] ||
            fail "day $day is not in the archive, or its log was left"
    done
    # Names an archive cannot hold stay in the folder, reported.
    long="aaaaaaaaaaaaaaaaaaaaaaaa01-12-2026.log"
    printf 'x' >"$WORK/logs/$long"
    status 1 log pack "$WORK/logs"
    stderr_has "$long left in the folder"
    [ -e "$WORK/logs/$long" ] || fail "the log with the long name was removed"
fi

# Exchanges with the simulated controller on a pseudo-terminal.
if [ -n "${SELVAR_SIM:-}" ]; then
    mkfifo "$WORK/sim-line"
    "$SELVAR_SIM" --modification a1 --pty >"$WORK/sim-line" 2>/dev/null &
    sim=$!
    read -r port <"$WORK/sim-line"
    ok "Селвар" read --port "$port" --modification a1 dev
    ok "2.500" write --port "$port" --modification a1 in.sl:1 2.5
    ok "2.500" read --port "$port" --bps 115200 --modification a1 in.sl:1
    status 1 read --port "$port" zz.zz
    status 3 write --port "$port" --modification a1 ver 1
    status 4 write --port "$port" --modification a1 in.t:0 "no such label"
    # A value is checked as the tree's editor checks it; a refused one sends nothing.
    ok "1.500" write --port "$port" --modification a1 in.sl:1 1,5
    for v in abc "" nan "12 volts" 1e400; do
        status 4 write --port "$port" --modification a1 in.sl:1 -- "$v"
        stderr_has "не может быть присвоено значение '$v'"
        stderr_has "nothing was sent"
    done
    status 4 write --port "$port" --modification a1 in.sl:1 "$(printf '\377\376')"
    stderr_has "значение '\xFF\xFE'"
    ok "1.500" read --port "$port" --modification a1 in.sl:1
    status 4 write --port "$port" --modification a1 offs 3000
    stderr_has "Диапазон значений: от -2000 до 2000)"
    status 4 write --port "$port" in.sl:1 2.5
    stderr_has "--modification"
    # --raw skips the check; the encoder still refuses what it would misread.
    status 4 write --port "$port" --modification a1 --raw in.sl:1 3,5
    ok "4.000" write --port "$port" --modification a1 --raw in.sl:1 " 4 "
    ok "2.500" write --port "$port" --modification a1 in.sl:1 2.5
    run read --port "$port" -v --modification a1 A.Len
    [ "$STATUS" -eq 0 ] && grep -q '^<< Ответ: # 0' "$WORK/err" || fail "-v shows the answer bytes"
    status 64 read --port "$port" --bps 1000 dev
    status 64 read --port "$port" --parity weird dev
    status 64 read dev
    run check --port "$port" -v
    [ "$STATUS" -eq 0 ] || fail "a known modification exits 0"
    # The last line holds the code of the refusal provoked above.
    [ "$(cat "$WORK/out")" = "$(printf 'Прибор: Селвар\n(Модификация: А1.03)\nВерсия прошивки: 2.07\nКод послед. ошибки: 40')" ] ||
        fail "the check's report"
    grep -q '^  Чтение: p.ver = А1.03$' "$WORK/err" || fail "-v shows the reads"
    status 64 check --port "$port" extra
    status 64 check

    # A whole configuration: read, save, show, write back, structure, poll.
    export SELVAR_HOME="$WORK/home"
    run readall a1 --port "$port" --bps 115200
    [ "$STATUS" -eq 0 ] || fail "readall exits 0"
    grep -q '^\[b\] Читаем ветвь ' "$WORK/out" || fail "bold branch lines are marked"
    tail -n 1 "$WORK/out" | grep -q '^processed \([0-9]*\) of \1, failed 0$' || fail "readall counts"
    run save a1 --port "$port" --bps 115200 "$WORK/a1.svx"
    [ "$STATUS" -eq 0 ] && [ -s "$WORK/a1.svx" ] || fail "save writes the file"
    grep -q "^saved $WORK/a1.svx\$" "$WORK/out" || fail "save says it saved"
    run svx dump "$WORK/a1.svx"
    [ "$STATUS" -eq 0 ] || fail "svx dump exits 0"
    grep -q '^modification: Селвар-А1$' "$WORK/out" || fail "svx dump shows the modification"
    grep -q '^access level: 2$' "$WORK/out" || fail "svx dump shows the level"
    grep -q "^[0-9A-F]\{8\}	in.sl	1	2.500	" "$WORK/out" || fail "svx dump shows a record"
    head -c 40 "$WORK/a1.svx" >"$WORK/cut.svx"
    status 2 svx dump "$WORK/cut.svx"
    status 2 svx dump "$WORK/missing.svx"
    # What is not a configuration file is refused at once: a folder, a
    # device, a pipe (an endless input would hang the reader).
    mkdir "$WORK/dir.svx"
    mkfifo "$WORK/fifo.svx"
    status 2 svx dump "$WORK/dir.svx"
    stderr_has "Не удается открыть файл '$WORK/dir.svx'."
    status 2 load "$WORK/dir.svx"
    stderr_has "Не удается открыть файл '$WORK/dir.svx'."
    status 2 dbf export "$WORK/dir.svx" "$WORK/dir.dbf"
    stderr_has "Не удается открыть файл '$WORK/dir.svx'."
    for input in /dev/zero "$WORK/fifo.svx"; do
        status 2 svx dump "$input"
        stderr_has "Файл '$input' не является обычным файлом."
        status 2 load "$input"
    done
    status 2 dbf import "$WORK/a1.svx" "$WORK/fifo.svx"
    stderr_has "не является обычным файлом"
    # A line break inside a text stays inside its record's line.
    LC_ALL=C sed 's/Al\.Src/Al\nSrc/g' "$WORK/a1.svx" >"$WORK/nl.svx"
    run svx dump "$WORK/nl.svx"
    [ "$STATUS" -eq 0 ] || fail "a text with a line break is still a record"
    grep -qF "$(printf '\tAl\\nSrc\t1\t')" "$WORK/out" || fail "svx dump escapes line breaks"
    [ -z "$(grep -v '^[0-9A-F]\{8\}	' "$WORK/out" |
        grep -v '^access level: \|^modification: \|^common parameters: \|^  \|^table: ')" ] ||
        fail "one record a line"
    # A file of another table: the notice once.
    cp "$WORK/a1.svx" "$WORK/foreign.svx"
    printf '\301\064' | dd of="$WORK/foreign.svx" bs=1 seek=12 conv=notrunc 2>/dev/null
    status 2 load "$WORK/foreign.svx"
    [ "$(grep -c 'Файл сохранен на базе таблицы' "$WORK/err")" -eq 1 ] || fail "the notice once"
    status 64 svx show "$WORK/a1.svx"
    "$TOOL" write --port "$port" --modification a1 in.sl:1 7 >/dev/null 2>&1
    run load "$WORK/a1.svx" --port "$port" --bps 115200 --write all
    [ "$STATUS" -eq 0 ] || fail "load --write all exits 0"
    grep -q '^opened .*a1.svx: Селвар-А1' "$WORK/out" || fail "load names the file"
    ok "2.500" read --port "$port" --modification a1 in.sl:1
    status 64 load "$WORK/a1.svx" --write some --port "$port"
    status 64 load "$WORK/a1.svx" --write all
    status 2 load "$WORK/cut.svx"
    run structure a1 --port "$port" --bps 115200
    [ "$STATUS" -eq 0 ] && grep -q '^Канал №1 ' "$WORK/out" && grep -q '^Ключ №8 ' "$WORK/out" ||
        fail "structure lists channels and keys"
    run poll a1 --port "$port" --bps 115200 --seconds 2 --record
    [ "$STATUS" -eq 0 ] && [ -s "$WORK/out" ] || fail "poll prints values"
    ls "$WORK/home/protocol/"*.log >/dev/null 2>&1 || fail "poll --record writes the day's log"
    status 64 poll a1 --port "$port" --period 999
    status 64 poll a1 --port "$port" in.sl:1
    run dbf export "$WORK/a1.svx" "$WORK/a1.dbf"
    [ "$STATUS" -eq 0 ] && [ -s "$WORK/a1.dbf" ] || fail "dbf export writes the table"
    run dbf import "$WORK/a1.svx" "$WORK/a1.dbf" "$WORK/back.svx"
    [ "$STATUS" -eq 0 ] && [ -s "$WORK/back.svx" ] || fail "dbf import saves the configuration"
    status 64 dbf export "$WORK/a1.svx"
    unset SELVAR_HOME
    kill "$sim" 2>/dev/null
    wait "$sim" 2>/dev/null

    # Ctrl+C stops a read at its next parameter: a slow line, then SIGINT.
    "$SELVAR_SIM" --modification b4 --pty --baud 1200 >"$WORK/sim-line" 2>/dev/null &
    sim=$!
    read -r port <"$WORK/sim-line"
    checks=$((checks + 1))
    "$TOOL" readall b4 --port "$port" >"$WORK/out" 2>"$WORK/err" &
    reader=$!
    sleep 1
    kill -INT "$reader"
    wait "$reader"
    STATUS=$?
    ARGS="readall b4 (interrupted)"
    [ "$STATUS" -eq 1 ] || fail "an interrupted read exits 1"
    grep -q 'stopped' "$WORK/err" || fail "an interrupted read says so"
    tail -n 1 "$WORK/out" | grep -q '^processed [0-9]* of [0-9]*, failed 0$' || fail "counts after a stop"
    # An interrupted save keeps the file it would have replaced.
    echo old >"$WORK/b4.svx"
    checks=$((checks + 1))
    "$TOOL" save b4 --port "$port" "$WORK/b4.svx" >"$WORK/out" 2>"$WORK/err" &
    saver=$!
    sleep 1
    kill -INT "$saver"
    wait "$saver"
    STATUS=$?
    ARGS="save b4 (interrupted)"
    [ "$STATUS" -eq 1 ] && [ "$(cat "$WORK/b4.svx")" = old ] || fail "an interrupted save keeps the file"
    grep -q "^kept $WORK/b4.svx unchanged: " "$WORK/out" || fail "the save says it kept the file"
    kill "$sim" 2>/dev/null
    wait "$sim" 2>/dev/null

    # Another modification than the program knows, then silence.
    "$SELVAR_SIM" --modification a1 --pty --dev "Селвар  " --pver "Х" >"$WORK/sim-line" 2>/dev/null &
    sim=$!
    read -r port <"$WORK/sim-line"
    run check --port "$port"
    [ "$STATUS" -eq 1 ] || fail "an unknown modification exits 1"
    grep -q '^Прибор: Селвар$' "$WORK/out" && grep -q '^(Модификация: Х)$' "$WORK/out" ||
        fail "trailing blanks dropped, the modification shown"
    kill "$sim" 2>/dev/null
    wait "$sim" 2>/dev/null
    "$SELVAR_SIM" --modification a1 --pty --fault-noanswer 1 >"$WORK/sim-line" 2>/dev/null &
    sim=$!
    read -r port <"$WORK/sim-line"
    run check --port "$port" --bps 115200
    [ "$STATUS" -eq 2 ] || fail "silence exits 2"
    [ ! -s "$WORK/out" ] || fail "no report without an answer"
    grep -q "^Ошибка команды 'dev':$" "$WORK/err" || fail "the error text names dev"
    # A device that falls silent: the watchdog stops the read, the file stays.
    echo old >"$WORK/kept.svx"
    run save a1 --port "$port" --bps 115200 "$WORK/kept.svx"
    [ "$STATUS" -eq 1 ] && [ "$(cat "$WORK/kept.svx")" = old ] || fail "a stopped read keeps the file"
    grep -q '^\[b\]\[#C80000\]   Чтение: ' "$WORK/out" || fail "failed reads are red 200 as #RRGGBB"
    run save a1 --port "$port" --bps 115200 --partial "$WORK/kept.svx"
    [ "$STATUS" -eq 1 ] && grep -q "^saved the partial read into $WORK/kept.svx\$" "$WORK/out" ||
        fail "--partial saves what was read"
    run svx dump "$WORK/kept.svx"
    [ "$STATUS" -eq 0 ] || fail "a partial save is a sound file"
    kill "$sim" 2>/dev/null
    wait "$sim" 2>/dev/null
fi
status 201 read --port /dev/selvar-no-such-port dev
status 201 check --port /dev/selvar-no-such-port
status 201 readall a1 --port /dev/selvar-no-such-port
status 64 readall zz --port /dev/selvar-no-such-port
run help-text a1 in.sl:1
[ "$STATUS" -eq 0 ] && grep -q '("in.sl")' "$WORK/out" || fail "help-text names the parameter"
status 1 help-text a1 zz.zz

# --- ports and port failures ---------------------------------------------
# A fake device tree: a converter with its stable link and its description,
# a modem-class device beside it, a built-in port without a UART.
usb="$WORK/sys/devices/usb1/1-1"
mkdir -p "$WORK/dev/serial/by-id" "$WORK/sys/class/tty/ttyS1" "$WORK/sys/class/tty/ttyUSB0" \
    "$usb/1-1:1.0/ttyUSB0"
: >"$WORK/dev/ttyUSB0"
: >"$WORK/dev/ttyACM0"
: >"$WORK/dev/ttyS1"
echo 0 >"$WORK/sys/class/tty/ttyS1/type"
byid="$WORK/dev/serial/by-id/usb-Maker_Conv_SN1-if00-port0"
ln -s ../../ttyUSB0 "$byid"
echo 1234 >"$usb/idVendor"
echo Maker >"$usb/manufacturer"
echo Conv >"$usb/product"
echo SN1 >"$usb/serial"
ln -s "$usb/1-1:1.0/ttyUSB0" "$WORK/sys/class/tty/ttyUSB0/device"
printf '[SelvarM]\nport.COM7=%s\n' "$byid" >"$WORK/user.conf"
export SELVAR_DEV_ROOT="$WORK/dev" SELVAR_SYS_ROOT="$WORK/sys"
tab=$(printf '\t')
notty="cannot open: not a serial port (Inappropriate ioctl for device)"
ok "COM1$tab$WORK/dev/ttyUSB0$tab$notty${tab}Maker Conv, serial SN1$tab$byid
COM7$tab$byid → $WORK/dev/ttyUSB0$tab$notty${tab}Maker Conv, serial SN1$tab$byid
COM101$tab$WORK/dev/ttyACM0$tab$notty$tab-$tab-" ports
status 201 read --port COM5 dev
stderr_has "selvar-tool: Ошибка открытия порта: COM5 → $WORK/dev/ttyUSB4: No such file or directory"
unset SELVAR_DEV_ROOT SELVAR_SYS_ROOT
rm -f "$WORK/user.conf"
status 201 read --port COM100 dev
stderr_has "Ошибка открытия порта: COM100: no device"
status 201 check --port /dev/selvar-no-such-port
stderr_has "Ошибка открытия порта: /dev/selvar-no-such-port: No such file or directory"
status 64 read --port COM1 --rs485 half dev

# The converter type is the stored one unless --rs485 gives it, and it stays.
if [ -n "${SELVAR_SIM:-}" ]; then
    mkfifo "$WORK/conv-line"
    "$SELVAR_SIM" --modification a1 --pty >"$WORK/conv-line" 2>/dev/null &
    sim=$!
    read -r port <"$WORK/conv-line"
    ok "Селвар" read --port "$port" --rs485 frame dev
    grep -qix 'rs485type=1' "$WORK/user.conf" || fail "--rs485 frame is stored"
    ok "Селвар" read --port "$port" dev
    grep -qix 'rs485type=1' "$WORK/user.conf" || fail "a run without --rs485 keeps the stored type"
    ok "Селвар" read --port "$port" --rs485 rts dev
    grep -qix 'rs485type=0' "$WORK/user.conf" || fail "--rs485 rts is stored"
    kill "$sim" 2>/dev/null
    wait "$sim" 2>/dev/null
fi

printf '%d checks, %d failed\n' "$checks" "$failed"
[ "$failed" -eq 0 ]
