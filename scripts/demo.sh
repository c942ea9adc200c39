#!/bin/sh
# The demo behind `make run`. $1 is the folder of the built programs; further
# arguments go to the configurator. It starts the simulated controller on a
# pseudo-terminal and the configurator's window against it. The settings, the
# program's home and the per-user window state of this run live in a private
# folder beside the programs (build/run/), so nothing of the user's own is
# touched. Without a display it shows the command-line tool talking to the
# same simulated controller instead.
set -eu
BIN=${1:-build/bin}
[ $# -gt 0 ] && shift
TOOL="$BIN/selvar-tool"
SIM="$BIN/selvar-sim"
GUI="$BIN/selvar"
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
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

# Starts the simulated Селвар-Б4 on a pseudo-terminal and sets PORT to it.
# Extra arguments go to the simulator.
start_simulator() {
    mkfifo "$WORK/first-line"
    "$SIM" --modification b4 --pty --turnaround 2 "$@" >"$WORK/first-line" 2>"$WORK/sim.log" &
    SIM_PID=$!
    if ! read -r PORT <"$WORK/first-line" || [ -z "$PORT" ]; then
        echo "demo: the simulated controller did not start:" >&2
        cat "$WORK/sim.log" >&2
        exit 1
    fi
}

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

headless_demo() {
    start_simulator
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
}

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
    echo "demo: no display (neither DISPLAY nor WAYLAND_DISPLAY is set); showing the command-line tool instead of the window"
    headless_demo
    exit 0
fi

if [ ! -x "$GUI" ]; then
    echo "demo: $GUI not found; build first (make build)" >&2
    exit 1
fi

# The private folder of this run. The device keeps what was written to it
# across runs, as a real one would; the port map is renewed each time,
# because the pseudo-terminal gets a new name.
RUN=$(cd "$BIN/.." && pwd)/run
mkdir -p "$RUN/home" "$RUN/config"
start_simulator --state "$RUN/device.state"
printf '[SelvarM]\nport.COM1=%s\n' "$PORT" >"$RUN/system.conf.tmp"
mv "$RUN/system.conf.tmp" "$RUN/system.conf"

echo "The simulated Селвар-Б4 listens on $PORT, which the configurator knows as COM1."
echo "Settings, home and window state of this run: $RUN"
status=0
SELVAR_SYSTEM_SETTINGS="$RUN/system.conf" SELVAR_USER_SETTINGS="$RUN/user.conf" \
    SELVAR_HOME="$RUN/home" XDG_CONFIG_HOME="$RUN/config" \
    "$GUI" "$@" || status=$?
exit "$status"
