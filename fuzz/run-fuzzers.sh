#!/bin/sh
# Runs each fuzz target for a while on a seed corpus built from the compiled
# description files, when there are any.
# Usage: run-fuzzers.sh FUZZ_BUILD_DIR DESCRIPTION_DIR SECONDS
set -eu

build=$1
descriptions=$2
seconds=$3
corpus=$build/corpus
# Whole description files are far larger than what the fuzzer mutates well;
# seeds keep their first records only.
table_seed_bytes=$((2343 * 3))
tree_seed_bytes=32768
max_len=65536

targets="gzip_reader parameter_table tree answer svx dbf log archive_chunks"
for target in $targets; do
    mkdir -p "$corpus/$target"
    # Targets added later than the caller's build list are built here.
    [ -x "$build/bin/fuzz_$target" ] || cmake --build "$build" -j 2 --target "fuzz_$target"
done

# A small seed of each kind even without description files.
printf 'seed seed seed seed' | gzip -c >"$corpus/gzip_reader/tiny.gz"
printf '\001' >"$corpus/parameter_table/tiny"
cat "$corpus/gzip_reader/tiny.gz" >>"$corpus/parameter_table/tiny"

n=0
for file in "$descriptions"/parameters*.zip; do
    [ -f "$file" ] || continue
    n=$((n + 1))
    records=$corpus/records.tmp
    gzip -dc <"$file" 2>/dev/null | head -c "$table_seed_bytes" >"$records" || true
    # Even first byte: the records themselves; odd: a stored table file.
    { printf '\000'; cat "$records"; } >"$corpus/parameter_table/records$n"
    { printf '\001'; gzip -c <"$records"; } >"$corpus/parameter_table/file$n"
    gzip -c <"$records" >"$corpus/gzip_reader/table$n.gz"
    rm -f "$records"
done
for file in "$descriptions"/*.tree*.zip; do
    [ -f "$file" ] || continue
    n=$((n + 1))
    base=$(basename "$file" .zip)
    hidden='\000'
    case $base in *.tree.h) hidden='\001' ;; esac
    { printf "$hidden"; gzip -dc <"$file" 2>/dev/null | head -c "$tree_seed_bytes" || true; } \
        >"$corpus/tree/$base"
    head -c "$max_len" "$file" >"$corpus/gzip_reader/$base.zip"
done
echo "fuzz: $n description files as seeds from $descriptions"

# Answers as a device sends them: a float reading, an error answer, a name.
printf '\000#HGJGKNLHRGGGGGGGOVOQ\r' >"$corpus/answer/float"
printf '\020#HGHGGIJJJNGGUTGG\r' >"$corpus/answer/nerr"
printf '\015#HGJGSSLKHMHMHMHMNGKH\r' >"$corpus/answer/name"

# A small configuration: level 2, the modification, three service
# parameters, the table, one record.
printf '\002\000\000\000\021\321\345\353\342\340\360-\301\064\000\000\000\000\000\017parameters2.zip\100\000\000\000\001\000\000\000' >"$corpus/svx/small"

# A small parameter table, a daily log of three records and the stream of a
# packed log in two chunks.
python3 - "$corpus" <<'PY'
import os, struct, sys, zlib
corpus = sys.argv[1]
fields = [(b"CONF_ID", b"N", 4), (b"NAME", b"C", 9), (b"VALUE", b"C", 16), (b"HASLINDEX", b"L", 1),
          (b"LINDEX", b"N", 8), (b"PRIVACY", b"N", 4)]
rec_len = 1 + sum(f[2] for f in fields)
rows = [b" " + b"   0" + b"r.co".ljust(9) + b"1.5".ljust(16) + b"F" + b"       0" + b"   0",
        b" " + b"   0" + b"in.sl".ljust(9) + b"-2".ljust(16) + b"T" + b"       1" + b"  -1",
        b"*" + b"   0" + b"rEAd".ljust(9) + b"x".ljust(16) + b"?" + b"      12" + b"   3"]
head = struct.pack("<BBBBIHH20x", 3, 126, 12, 7, len(rows), 32 * len(fields) + 33, rec_len)
offset = 0
for name, kind, length in fields:
    head += name.ljust(11, b"\0") + kind + struct.pack("<I", offset) + bytes([length, 0]) + bytes(14)
    offset += length
with open(os.path.join(corpus, "dbf", "small"), "wb") as f:
    f.write(head + b"\r" + b"".join(rows) + b"\x1a")
log = b""
for i, (name, failed, data) in enumerate([(b"r.co", 0, b"\x01\x2c"), (b"rEAd", 1, b""),
                                          (b"A.Len", 0, b"AB\x00\x20")]):
    log += struct.pack("<q", 1765100000 + i) + name.ljust(8, b"\0") + bytes([3, failed, len(data)]) + data
with open(os.path.join(corpus, "log", "three"), "wb") as f:
    f.write(log)
stream = b""
for part in (log * 20, log):
    packed = zlib.compress(part)
    stream += struct.pack("<II", len(part), len(packed)) + packed
with open(os.path.join(corpus, "archive_chunks", "two"), "wb") as f:
    f.write(stream)
PY

for target in $targets; do
    echo "== fuzz_$target for $seconds s"
    "$build/bin/fuzz_$target" -max_total_time="$seconds" -max_len="$max_len" -timeout=10 \
        -rss_limit_mb=2048 -print_final_stats=1 -artifact_prefix="$build/fuzz_$target-" \
        "$corpus/$target"
done
