#!/usr/bin/env bash
# Catalogue speed:
#  1. a generated feed of 1 000, 10 000 and 20 000 entries through the catalogue (target:
#     10 000 in under 150 ms, and a time per entry that hardly grows with the feed);
#  2. the implanted-checksum check of a downloaded 1 GiB ISO, from the finished transfer to
#     READY with the event loop running, against checkisomd5 on the same file (target: at
#     least 0.9 of its speed). By default the image is read from a warm page cache, so that
#     the check's own cost (hashing, the worker thread, progress reaching the event loop) is
#     what is compared, and other work on the machine keeps its cache; COLD=1 drops the page
#     cache before every timed check instead (root only).
#
#   bash bench/catalogue/run.sh [build-dir]     (default: <repo>/build)
#   RUNS=5 ... for more rounds; SIZE_MIB=2048 for a bigger image; FEED_ONLY=1 to skip the check.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
build=${1:-$here/../../build}
bench=$build/bin/cataloguebench
runs=${RUNS:-3}
size_mib=${SIZE_MIB:-1024}
cache=/var/tmp/flashwright-bench
iso=$cache/verify-${size_mib}m.iso

[ -x "$bench" ] || { echo "build cataloguebench first: cmake --build $build --target cataloguebench" >&2; exit 1; }
echo "load before: $(cut -d' ' -f1-3 /proc/loadavg) on $(nproc) cores"

echo "== feed"
"$bench" feed "$((runs * 2 + 1))"

[ "${FEED_ONLY:-0}" = 1 ] && exit 0
cold=${COLD:-0}
if [ "$cold" = 1 ] && [ "$(id -u)" != 0 ]; then
    echo "COLD=1 needs root: it drops the page cache" >&2
    exit 1
fi
for tool in checkisomd5 implantisomd5 xorriso; do
    command -v "$tool" >/dev/null || { echo "missing $tool (apt-get install isomd5sum xorriso)" >&2; exit 1; }
done
if [ ! -f "$iso" ]; then
    echo "making $iso (once; cached)"
    mkdir -p "$cache"
    tree=$(mktemp -d "$cache/tree.XXXXXX")
    head -c $((size_mib * 1024 * 1024)) /dev/urandom >"$tree/data.bin"
    xorriso -as mkisofs -quiet -o "$iso.tmp" "$tree" 2>/dev/null
    rm -rf "$tree"
    implantisomd5 "$iso.tmp" >/dev/null
    mv "$iso.tmp" "$iso"
fi

drop() { if [ "$cold" = 1 ]; then sync; echo 3 >/proc/sys/vm/drop_caches; fi; }
now() { date +%s.%N; }
calc() { awk "BEGIN { printf \"%.6f\", ($1) }"; }
median() { printf '%s\n' "$@" | sort -g | awk '{ v[NR] = $1 } END { print (NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2) }'; }

echo "== implanted-checksum check of $iso ($([ "$cold" = 1 ] && echo cold || echo warm) page cache)"
bytes=$(stat -c %s "$iso")
[ "$cold" = 1 ] || cat "$iso" >/dev/null
ref_rates=()
our_rates=()
for round in $(seq 1 "$runs"); do
    # Alternate the order, so neither side always reads after the other.
    for side in $( ((round % 2)) && echo "ref our" || echo "our ref"); do
        drop
        if [ "$side" = ref ]; then
            start=$(now)
            checkisomd5 "$iso" </dev/null >/dev/null 2>&1 || { echo "checkisomd5 does not pass the image" >&2; exit 1; }
            ref_rate=$(calc "$bytes / ($(now) - $start) / 1000000")
        else
            out=$("$bench" check "$iso") || { echo "cataloguebench does not pass the image:" >&2; echo "$out" >&2; exit 1; }
            our_rate=$(echo "$out" | awk '/^megabytes_per_second/ {print $2}')
            updates=$(echo "$out" | awk '/^progress_updates/ {print $2}')
        fi
    done
    printf 'round %d: checkisomd5 %7.1f MB/s   catalogue check %7.1f MB/s (%s progress updates)   ratio %.2f\n' \
        "$round" "$ref_rate" "$our_rate" "$updates" "$(calc "$our_rate / $ref_rate")"
    ref_rates+=("$ref_rate")
    our_rates+=("$our_rate")
done
ref_median=$(median "${ref_rates[@]}")
our_median=$(median "${our_rates[@]}")
printf 'median of %d: checkisomd5 %.1f MB/s, catalogue check %.1f MB/s, ratio %.2f (target >= 0.9)\n' \
    "$runs" "$ref_median" "$our_median" "$(calc "$our_median / $ref_median")"
echo "load after: $(cut -d' ' -f1-3 /proc/loadavg)"
