#!/bin/sh
# The demo behind `make run`. $1 is the folder of the built programs. Until the
# simulated controller exists it shows what the command-line tool computes.
set -eu
BIN=${1:-build/bin}
TOOL="$BIN/selvar-tool"
if [ ! -x "$TOOL" ]; then
    echo "demo: $TOOL not found; build first (make build)" >&2
    exit 1
fi

step() {
    printf '\n# %s\n$ selvar-tool' "$1"
    shift
    for a in "$@"; do
        case $a in
        *" "* | "") printf " '%s'" "$a" ;;
        *) printf ' %s' "$a" ;;
        esac
    done
    printf '\n'
    "$TOOL" "$@"
}

"$TOOL" --help

echo
echo "=== A worked example ==="
step "Every frame names its parameter by a 16-bit hash of the device name:" \
    hash A.Len
step "A read request for A.Len to the controller at address 16, as it goes on the line:" \
    frame read --addr 16 A.Len
step "The checksum over the first four frame bytes is the frame's last two bytes:" \
    crc "10 10 1E D2"
step "A STORED DOT value carries its own decimal point: 12.5 travels as two bytes:" \
    encode --type "STORED DOT" 12.5
step "...and those bytes read back as the value again:" \
    decode --type "STORED DOT" --decimals 1 "10 7D"
step "A date and time travels as year, month-1, day-1, hour, minute, second and 0x61:" \
    encode --type datetime "05.07.23 10:20:30"
step "...and decodes to the same text:" \
    decode --type datetime "17 06 04 0A 14 1E 61"
