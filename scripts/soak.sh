#!/usr/bin/env bash
# The soak run: selvar-tool reads, saves, writes, loads and polls the
# simulated controller for a while over a line that damages about a tenth of
# the exchanges, and every value the tool reports as read or written is
# compared with what the device holds (or, for a measured value, with what it
# answered at the time). Exits 1 when a value was wrong, a program crashed or
# hung; 2 when it cannot run at all.
#
#   scripts/soak.sh [BIN_DIR]          (default build/bin)
#
# Settings (environment):
#   SOAK_MINUTES=3          how long; SOAK_SECONDS overrides it
#   SOAK_FAULTS=0.1         the share of exchanges faulted, spread over every fault kind
#   SOAK_SEED=N             the first cycle's fault seed (default: from the clock)
#   SOAK_MODIFICATIONS      the modifications taken in turn (default "a1 b2"; "a1 b2 b4"
#                           from 20 minutes on)
#   SOAK_POLL_SECONDS=10    how long each poll runs
#   SOAK_STEP_TIMEOUT=900   seconds after which a command counts as hung
#   SOAK_KEEP=1             keep the work folder (its path is printed)
#   SOAK_SIM_OPTIONS        more simulator options, such as "--fault-late 0.3"
#   SELVAR_LINK_PAUSE_MS=20, SELVAR_RETRY_PAUSE_MS=200
#                           the link's pauses, shorter than the program's own so that
#                           more exchanges fit in the time
set -u

BIN=${1:-build/bin}
TOOL=$BIN/selvar-tool
SIM=$BIN/selvar-sim
for exe in "$TOOL" "$SIM"; do
    if [ ! -x "$exe" ]; then
        echo "soak: $exe is missing (build first, or name the folder of the executables)" >&2
        exit 2
    fi
done
if ! command -v python3 >/dev/null || ! command -v timeout >/dev/null; then
    echo "soak: needs python3 and timeout" >&2
    exit 2
fi

MINUTES=${SOAK_MINUTES:-3}
TOTAL=${SOAK_SECONDS:-$((MINUTES * 60))}
FAULTS=${SOAK_FAULTS:-0.1}
SEED=${SOAK_SEED:-$(($(date +%s) % 100000))}
if [ -n "${SOAK_MODIFICATIONS:-}" ]; then
    MODS=$SOAK_MODIFICATIONS
elif [ "$TOTAL" -ge 1200 ]; then
    MODS="a1 b2 b4"
else
    MODS="a1 b2"
fi
POLL_SECONDS=${SOAK_POLL_SECONDS:-10}
STEP_TIMEOUT=${SOAK_STEP_TIMEOUT:-900}
export SELVAR_LINK_PAUSE_MS=${SELVAR_LINK_PAUSE_MS:-20}
export SELVAR_RETRY_PAUSE_MS=${SELVAR_RETRY_PAUSE_MS:-200}

W=$(mktemp -d "${TMPDIR:-/tmp}/selvar-soak.XXXXXX")
# The tool's settings and home stay inside the work folder.
export HOME=$W/home XDG_CONFIG_HOME=$W/home/.config SELVAR_HOME=$W/home/selvar
mkdir -p "$HOME"
SIM_PID=
cleanup() {
    if [ -n "$SIM_PID" ]; then
        kill "$SIM_PID" 2>/dev/null
        wait "$SIM_PID" 2>/dev/null
    fi
    if [ "${SOAK_KEEP:-0}" = 1 ]; then echo "soak: work folder $W"; else rm -rf "$W"; fi
}
trap cleanup EXIT
trap 'exit 130' INT TERM

CHECK=$W/check.py
cat >"$CHECK" <<'PYTHON'
# Compares what selvar-tool reported with the simulator's dump (the values it
# holds) and its answers file (the values it sent). Prints "compared N wrong M"
# and appends the wrong ones to the file named by WRONG_LOG.
import math
import os
import random
import re
import sys


def read_dump(path):
    dump = {}
    with open(path, encoding="utf-8", errors="replace") as f:
        for line in f:
            if line.startswith("#"):
                continue
            parts = line.rstrip("\n").split("\t")
            if len(parts) == 5:
                dump[parts[0]] = {"kind": parts[1], "number": parts[3], "text": parts[4]}
    return dump


def read_answers(path, offset):
    answers = {}
    texts = set()
    if os.path.exists(path):
        with open(path, "rb") as f:
            f.seek(int(offset))
            for raw in f:
                parts = raw.decode("utf-8", "replace").rstrip("\n").split("\t", 1)
                if len(parts) == 2:
                    answers.setdefault(parts[0], set()).add(parts[1])
                    texts.add(parts[1])
    return answers, texts


def number(text):
    try:
        v = float(text.strip())
        return v if math.isfinite(v) else None
    except ValueError:
        return None


def close(reported, held_text, held_number):
    if reported == held_text:
        return True
    a = number(reported)
    b = number(held_number) if held_number != "-" else number(held_text)
    if a is None or b is None:
        return False
    # Half a unit of the last decimal the tool showed, and a single's precision.
    decimals = len(reported.split(".")[1]) if "." in reported else 0
    return abs(a - b) <= 0.5 * 10 ** -decimals + 1e-6 * max(1.0, abs(a), abs(b))


def keys_for(dump, name, index, address=None):
    base = name if index is None else "%s:%s" % (name, index)
    if address is not None:
        key = base if int(address) <= 0 else "%s@%s" % (base, address)
        return [key] if key in dump else []
    return [k for k in dump if k == base or k.startswith(base + "@")]


class Tally:
    def __init__(self):
        self.compared = self.wrong = self.failed = self.skipped = 0
        self.log = open(os.environ["WRONG_LOG"], "a", encoding="utf-8")

    def check(self, what, key, reported, ok):
        self.compared += 1
        if not ok:
            self.wrong += 1
            self.log.write("%s\t%s\t%s\n" % (what, key, reported))

    def done(self):
        print("compared %d wrong %d failed %d skipped %d"
              % (self.compared, self.wrong, self.failed, self.skipped))


LINE = re.compile(r"^(\[b\])?(?:\[#[0-9A-F]{6}\])? ?\s*(Чтение|Запись): (\S+?)(?::(\d+))? = (.*)$")


def check_log(mode, out, dump, answers, tally, what):
    """The read or write lines of an operation's log."""
    with open(out, encoding="utf-8", errors="replace") as f:
        lines = f.read().splitlines()
    written = {}
    for line in lines:
        m = LINE.match(line)
        if not m:
            continue
        failed, verb, name, index, value = m.groups()
        if (verb == "Чтение") != (mode == "read"):
            continue
        if mode == "write":
            if not value.endswith(" [новое значение]"):
                continue
            value = value[: -len(" [новое значение]")]
        if failed:
            tally.failed += 1
            continue
        keys = keys_for(dump, name, index)
        if len(keys) != 1:
            tally.skipped += 1  # composed by the tool, or one name at several addresses
            continue
        if mode == "write":
            written[keys[0]] = value  # the last write of a name counts
            continue
        compare(keys[0], value, dump, answers, tally, what)
    for key, value in written.items():
        held = dump[key]
        if held["kind"] != "kept":
            tally.skipped += 1
            continue
        tally.check(what, key, value, close(value, held["text"], held["number"]))


def compare(key, value, dump, answers, tally, what):
    held = dump[key]
    if held["kind"] == "kept":
        tally.check(what, key, value, close(value, held["text"], held["number"]))
    else:
        # A measured value: it must be one the device sent for this very key.
        sent = answers.get(key, set())
        tally.check(what, key, value, any(close(value, s, "-") for s in sent))


def check_poll(out, dump, answers, texts, tally):
    with open(out, encoding="utf-8", errors="replace") as f:
        for line in f:
            parts = line.rstrip("\n").split("\t")
            if len(parts) != 4:
                continue
            _, name, address, value = parts
            index = None
            if ":" in name:
                name, index = name.rsplit(":", 1)
            keys = keys_for(dump, name, index, address)
            if len(keys) != 1:
                tally.skipped += 1
                continue
            key = keys[0]
            sent = answers.get(key, set())
            if any(close(value, s, "-") for s in sent) or (
                    dump[key]["kind"] == "kept" and close(value, dump[key]["text"],
                                                          dump[key]["number"])):
                tally.check("poll", key, value, True)
            elif number(value) is not None or value in texts:
                # Something the device says, but not for this parameter now.
                tally.check("poll", key, value, False)
            else:
                tally.failed += 1  # the tool's error text


NETWORK = {"bps", "len", "prty", "sbit", "a.len", "addr", "str.s", "pass", "aply", "r.co",
           "r-s", "rtc", "s.w"}
NUMERIC = {"float": (-1e6, 1e6), "dec dot": (0, 9999), "stored dot": (-999, 999),
           "int16": (-32768, 32767), "uint16": (0, 65535), "byte": (0, 255),
           "dword": (0, 10 ** 6)}


def pick(table, readall, count, seed):
    """Parameters the tree reads, with a new value each that their rules allow."""
    rng = random.Random(int(seed))
    in_tree = set()
    with open(readall, encoding="utf-8", errors="replace") as f:
        for line in f:
            m = LINE.match(line)
            if m and m.group(2) == "Чтение":
                in_tree.add((m.group(3), m.group(4)))
    rows = []
    with open(table, encoding="utf-8", errors="replace") as f:
        header = f.readline().rstrip("\n").split("\t")
        for line in f:
            row = dict(zip(header, line.rstrip("\n").split("\t")))
            index = row["linearIndex"] if row.get("hasLinearIndex") == "1" else None
            if (row.get("writable") != "1" or row.get("bindingKind") not in ("0", "")
                    or row["name"].lower() in NETWORK or (row["name"], index) not in in_tree):
                continue
            rows.append((row, index))
    rng.shuffle(rows)
    out = []
    for row, index in rows:
        kind = row["type"]
        low, high = float(row["minValue"] or 0), float(row["maxValue"] or 0)
        decimals = int(row["decimals"] or 0)
        if kind.lower() in NUMERIC:
            if low == 0 and high == 0:
                low, high = NUMERIC[kind.lower()]
            if kind.lower() == "stored dot":
                decimals = min(decimals, 3)
            if kind.lower() not in ("float", "stored dot"):
                decimals = 0
            value = round(rng.uniform(low, high), decimals)
            value = min(max(value, low), high)
            text = ("%." + str(decimals) + "f") % value if decimals else "%d" % round(value)
        elif ":" in kind and kind.lower() not in NUMERIC:
            text = rng.choice(kind.split(":")).replace("_", " ")
        else:
            continue  # times, texts and bits are left alone
        out.append("%s\t%s" % (row["name"] + ("" if index is None else ":" + index), text))
        if len(out) >= int(count):
            break
    print("\n".join(out))


def main():
    mode = sys.argv[1]
    if mode == "pick":
        pick(*sys.argv[2:6])
        return
    out, dump_path, answers_path, offset, what = sys.argv[2:7]
    dump = read_dump(dump_path)
    answers, texts = read_answers(answers_path, offset)
    tally = Tally()
    if mode in ("read", "write"):
        check_log(mode, out, dump, answers, tally, what)
    elif mode == "poll":
        check_poll(out, dump, answers, texts, tally)
    elif mode == "single":
        key_text, value = open(out, encoding="utf-8").read().rstrip("\n").split("\t", 1)
        name, _, index = key_text.partition(":")
        keys = keys_for(dump, name, index or None)
        if len(keys) == 1 and dump[keys[0]]["kind"] == "kept":
            held = dump[keys[0]]
            tally.check(what, keys[0], value, close(value, held["text"], held["number"]))
        else:
            tally.skipped += 1
    tally.done()


main()
PYTHON

WRONG_LOG=$W/wrong.txt
export WRONG_LOG
: >"$WRONG_LOG"

COMPARED=0 WRONG=0 FAILED=0 SKIPPED=0 CRASHES=0 HANGS=0 COMMANDS=0 NO_PORT=0
EXCHANGES=0 INJECTED=0 SIM_RUNS=0
declare -A KIND_COUNTS=()

# Adds a check's "compared N wrong M failed F skipped S" to the totals.
tally() {
    local line=$1
    if [[ "$line" != compared* ]]; then
        echo "soak: the value check failed ($STEP): $line" >&2
        exit 2
    fi
    set -- $line
    COMPARED=$((COMPARED + $2)) WRONG=$((WRONG + $4)) FAILED=$((FAILED + $6))
    SKIPPED=$((SKIPPED + $8))
    echo "    $STEP: compared $2, wrong $4, failed $6"
}

# Runs the tool with a time limit; its output goes to $W/out. Sets RC.
run_tool() {
    COMMANDS=$((COMMANDS + 1))
    timeout -k 10 "$STEP_TIMEOUT" "$TOOL" "$@" >"$W/out" 2>"$W/err"
    RC=$?
    if [ "$RC" -eq 124 ] || [ "$RC" -eq 137 ]; then
        HANGS=$((HANGS + 1))
        echo "    hang: selvar-tool $* ($STEP)"
    elif [ "$RC" -eq 201 ]; then
        # The port was away (an outage took the link): nothing was reported.
        NO_PORT=$((NO_PORT + 1))
        echo "    no port: selvar-tool $1 ($STEP)"
    elif { [ "$RC" -gt 128 ] && [ "$RC" -le 192 ]; } || [ "$RC" -eq 70 ]; then
        CRASHES=$((CRASHES + 1))
        echo "    crash ($RC): selvar-tool $* ($STEP)"
        cp "$W/out" "$W/crash-$COMMANDS.out"
        cp "$W/err" "$W/crash-$COMMANDS.err"
    fi
}

answers_size() { stat -c %s "$W/answers.txt" 2>/dev/null || echo 0; }

check() {  # MODE OFFSET
    tally "$(python3 "$CHECK" "$1" "$W/out" "$W/dump.txt" "$W/answers.txt" "$2" "$STEP")"
}

start_sim() {  # MOD CYCLE
    local mod=$1 cycle=$2 transport=(--pty --link "$W/line") outage=()
    [ $((cycle % 2)) -eq 1 ] && transport=(--tcp 0)
    [ $(((cycle / 2) % 2)) -eq 1 ] && outage=(--outage-link)
    : >"$W/sim.out"
    "$SIM" --modification "$mod" "${transport[@]}" --state "$W/state-$mod.txt" \
        --dump "$W/dump.txt" --answers "$W/answers.txt" --fault-all "$FAULTS" \
        --outage-ms 500:2500 "${outage[@]}" --seed $((SEED + cycle)) ${SOAK_SIM_OPTIONS:-} \
        >"$W/sim.out" 2>"$W/sim.err" &
    SIM_PID=$!
    SIM_RUNS=$((SIM_RUNS + 1))
    for _ in $(seq 100); do
        [ -s "$W/sim.out" ] && break
        sleep 0.1
    done
    PORT=$(head -n 1 "$W/sim.out")
    [ "${transport[0]}" = --pty ] && PORT=$W/line
    if [ -z "$PORT" ] || ! kill -0 "$SIM_PID" 2>/dev/null; then
        echo "soak: the simulator did not start:" >&2
        cat "$W/sim.err" >&2
        exit 2
    fi
    echo "  selvar-sim ${transport[0]}${outage:+ with link outages}, seed $((SEED + cycle))"
}

stop_sim() {
    kill -TERM "$SIM_PID" 2>/dev/null
    wait "$SIM_PID"
    local rc=$?
    SIM_PID=
    if [ "$rc" -ne 0 ]; then
        CRASHES=$((CRASHES + 1))
        echo "    crash ($rc): selvar-sim"
    fi
    # "N requests, A answered, ..., F faults (kind n, ...)"
    local summary
    summary=$(grep -E '[0-9]+ requests, ' "$W/sim.err" | tail -n 1)
    EXCHANGES=$((EXCHANGES + $(sed -E 's/.* ([0-9]+) requests,.*/\1/' <<<"$summary")))
    INJECTED=$((INJECTED + $(sed -E 's/.* ([0-9]+) faults \(.*/\1/' <<<"$summary")))
    local kinds kind n
    kinds=$(sed -E 's/.* faults \((.*)\)$/\1/' <<<"$summary")
    IFS=',' read -ra parts <<<"$kinds"
    for part in "${parts[@]}"; do
        read -r kind n <<<"$part"
        [ -n "${n:-}" ] && KIND_COUNTS[$kind]=$((${KIND_COUNTS[$kind]:-0} + n))
    done
}

echo "soak: $TOTAL s against $MODS, ${FAULTS} of the exchanges faulted, seed $SEED"
START=$(date +%s)
cycle=0
read -ra MOD_LIST <<<"$MODS"
while [ $(($(date +%s) - START)) -lt "$TOTAL" ]; do
    mod=${MOD_LIST[$((cycle % ${#MOD_LIST[@]}))]}
    echo "cycle $((cycle + 1)): $mod"
    start_sim "$mod" "$cycle"
    LINK=(--port "$PORT")
    "$TOOL" desc table "$mod" >"$W/table.txt" 2>/dev/null

    STEP="readall $mod"
    offset=$(answers_size)
    run_tool readall "$mod" "${LINK[@]}"
    cp "$W/out" "$W/readall.txt"
    check read "$offset"

    # New values for a few parameters, so that the load has something to restore.
    STEP="write $mod"
    python3 "$CHECK" pick "$W/table.txt" "$W/readall.txt" 6 $((SEED + cycle)) >"$W/picks.txt"
    while IFS=$'\t' read -r key value; do
        [ -n "$key" ] || continue
        offset=$(answers_size)
        run_tool write "${LINK[@]}" --modification "$mod" "$key" "$value"
        if [ "$RC" -eq 0 ]; then
            printf '%s\t%s\n' "$key" "$value" >"$W/out"
            check single "$offset"
        else
            FAILED=$((FAILED + 1))
        fi
    done <"$W/picks.txt"

    STEP="save $mod"
    offset=$(answers_size)
    run_tool save "$mod" "${LINK[@]}" --partial "$W/conf-$mod.svx"
    check read "$offset"

    if [ $((cycle % 3)) -eq 2 ]; then
        # Factory values, so that the load below writes values the device lacks.
        STEP="reset $mod"
        run_tool write "${LINK[@]}" --modification "$mod" r.co "Сброс"
    fi

    if [ -s "$W/conf-$mod.svx" ]; then
        for which in all changed; do
            STEP="load --write $which $mod"
            offset=$(answers_size)
            run_tool load "$W/conf-$mod.svx" "${LINK[@]}" --write "$which"
            check write "$offset"
        done
    fi

    STEP="poll $mod"
    offset=$(answers_size)
    run_tool poll "$mod" "${LINK[@]}" --period 1000 --seconds "$POLL_SECONDS"
    check poll "$offset"

    stop_sim
    cycle=$((cycle + 1))
done

ELAPSED=$(($(date +%s) - START))
echo
echo "soak: $cycle cycles in $ELAPSED s, $COMMANDS tool runs ($NO_PORT found no port)," \
    "$SIM_RUNS simulator runs"
echo "exchanges:       $EXCHANGES"
kinds=""
for kind in $(printf '%s\n' "${!KIND_COUNTS[@]}" | sort); do
    kinds+="${kinds:+, }$kind ${KIND_COUNTS[$kind]}"
done
echo "faults injected: $INJECTED ($kinds)"
echo "values compared: $COMPARED"
echo "values wrong:    $WRONG"
echo "values failed:   $FAILED (reported as failed; not wrong)"
echo "not comparable:  $SKIPPED"
echo "crashes:         $CRASHES"
echo "hangs:           $HANGS"
if [ "$WRONG" -gt 0 ]; then
    echo "first wrong values (step, parameter, value reported):"
    head -n 20 "$WRONG_LOG" | sed 's/^/  /'
fi
[ "$WRONG" -eq 0 ] && [ "$CRASHES" -eq 0 ] && [ "$HANGS" -eq 0 ]
