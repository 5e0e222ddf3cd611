#!/usr/bin/env bash
# Verification speed: checkisomd5 against verifybench (our reader on an
# O_DIRECT descriptor, as the helper runs it) on the same loop device holding
# an implanted 1 GiB ISO. Page cache dropped before every timed run.
#
#   sudo bash bench/verify/run.sh [build-dir]     (default: <repo>/build)
#   RUNS=5 ... for more rounds; SIZE_MIB=2048 for a bigger image.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
build=${1:-$here/../../build}
bench=$build/bin/verifybench
runs=${RUNS:-3}
size_mib=${SIZE_MIB:-1024}
cache=/var/tmp/flashwright-bench
iso=$cache/verify-${size_mib}m.iso

if [ "$(id -u)" != 0 ]; then
    echo "run.sh needs root: it sets up a loop device and drops the page cache" >&2
    exit 1
fi
for tool in checkisomd5 implantisomd5 xorriso losetup; do
    command -v "$tool" >/dev/null || { echo "missing $tool (apt-get install isomd5sum xorriso)" >&2; exit 1; }
done
[ -x "$bench" ] || { echo "build verifybench first: cmake --build $build --target verifybench" >&2; exit 1; }

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

loop=
cleanup() { [ -n "$loop" ] && losetup -d "$loop" 2>/dev/null || true; }
trap cleanup EXIT INT TERM
loop=$(losetup --find --show --read-only --direct-io=on "$iso" 2>/dev/null ||
    losetup --find --show --read-only "$iso")
echo "device $loop ($(losetup --noheadings --output DIO "$loop" | tr -d ' ' | sed 's/1/direct I\/O/;s/0/buffered/') backing)"

drop() { sync; echo 3 >/proc/sys/vm/drop_caches; }
now() { date +%s.%N; }
calc() { awk "BEGIN { printf \"%.6f\", ($1) }"; }

ref_best=0
our_best=0
ref_rates=()
our_rates=()
bytes=0
for round in $(seq 1 "$runs"); do
    drop
    start=$(now)
    if ! checkisomd5 "$loop" </dev/null >/dev/null 2>&1; then
        echo "checkisomd5 does not pass the image" >&2
        exit 1
    fi
    ref_seconds=$(calc "$(now) - $start")

    drop
    out=$("$bench" "$loop") || { echo "verifybench does not pass the image:" >&2; echo "$out" >&2; exit 1; }
    bytes=$(echo "$out" | awk '/^bytes/ {print $2}')
    our_seconds=$(echo "$out" | awk '/^seconds/ {print $2}')

    ref_rate=$(calc "$bytes / $ref_seconds / 1000000")
    our_rate=$(calc "$bytes / $our_seconds / 1000000")
    printf 'round %d: checkisomd5 %7.1f MB/s   verifybench %7.1f MB/s   ratio %.2f\n' \
        "$round" "$ref_rate" "$our_rate" "$(calc "$our_rate / $ref_rate")"
    ref_rates+=("$ref_rate")
    our_rates+=("$our_rate")
    ref_best=$(calc "$ref_rate > $ref_best ? $ref_rate : $ref_best")
    our_best=$(calc "$our_rate > $our_best ? $our_rate : $our_best")
done

median() { printf '%s\n' "$@" | sort -g | awk '{ v[NR] = $1 } END { print (NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2) }'; }
ref_median=$(median "${ref_rates[@]}")
our_median=$(median "${our_rates[@]}")
printf 'median of %d: checkisomd5 %.1f MB/s, verifybench %.1f MB/s, ratio %.2f\n' \
    "$runs" "$ref_median" "$our_median" "$(calc "$our_median / $ref_median")"
printf 'best of %d (%s bytes checked): checkisomd5 %.1f MB/s, verifybench %.1f MB/s, ratio verifybench/checkisomd5 %.2f (target >= 1.0)\n' \
    "$runs" "$bytes" "$ref_best" "$our_best" "$(calc "$our_best / $ref_best")"
