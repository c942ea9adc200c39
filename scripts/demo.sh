#!/bin/sh
# The demo behind `make run`. $1 is the folder of the built programs. It starts
# the simulated controller on a pseudo-terminal and talks to it through the
# command-line tool, as the configurator will.
set -eu
BIN=${1:-build/bin}
TOOL="$BIN/selvar-tool"
SIM="$BIN/selvar-sim"
for program in "$TOOL" "$SIM"; do
    if [ ! -x "$program" ]; then
        echo "demo: $program not found; build first (make build)" >&2
        exit 1
    fi
done

WORK=$(mktemp -d)
SIM_PID=
cleanup() {
    [ -n "$SIM_PID" ] && kill "$SIM_PID" 2>/dev/null && wait "$SIM_PID" 2>/dev/null
    rm -rf "$WORK"
}
trap cleanup EXIT INT TERM

step() {
    if [ -n "$1" ]; then printf '\n# %s\n' "$1"; fi
    printf '$ selvar-tool'
    shift
    for a in "$@"; do
        case $a in
        *" "* | "") printf " '%s'" "$a" ;;
        *) printf ' %s' "$a" ;;
        esac
    done
    printf '\n'
    "$TOOL" "$@" || printf '(exit status %d)\n' "$?"
}

mkfifo "$WORK/first-line"
"$SIM" --modification b4 --pty --turnaround 2 >"$WORK/first-line" 2>"$WORK/sim.log" &
SIM_PID=$!
read -r PORT <"$WORK/first-line"
echo "=== The simulated Селвар-Б4 listens on $PORT ==="
LINK="--port $PORT --modification b4"

# shellcheck disable=SC2086
{
step "The connection check reads the last error code, the device type and its versions:" \
    read $LINK n.Err
step "" read $LINK dev
step "" read $LINK ver
step "The modification is the device type and the first two characters of this:" \
    read $LINK p.ver
step "An indexed parameter: the slope of input 3 (index 2):" read $LINK in.sl:2
step "Written, and answered with the value the device now holds:" write $LINK in.sl:2 1.25
step "A measured value, read from the object at the device's address + 1:" read $LINK rEAd:1
step "The same read with every byte of the exchange shown:" read $LINK -v A.Len
step "A parameter the device does not know:" read $LINK zz.zz
}

echo
echo "=== Other things the tool does (selvar-tool --help) ==="
step "The name hash that identifies A.Len in every frame:" hash A.Len
step "The request line for it, as it goes on the wire:" frame read --addr 16 A.Len
step "A STORED DOT value carries its own decimal point:" encode --type "STORED DOT" 12.5
