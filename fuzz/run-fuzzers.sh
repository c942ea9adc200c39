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

mkdir -p "$corpus/gzip_reader" "$corpus/parameter_table" "$corpus/tree" "$corpus/answer" "$corpus/svx"

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

for target in gzip_reader parameter_table tree answer svx; do
    echo "== fuzz_$target for $seconds s"
    "$build/bin/fuzz_$target" -max_total_time="$seconds" -max_len="$max_len" -timeout=10 \
        -rss_limit_mb=2048 -print_final_stats=1 -artifact_prefix="$build/fuzz_$target-" \
        "$corpus/$target"
done
