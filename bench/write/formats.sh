#!/usr/bin/env bash
# gzip, zstd and bzip2 images written by the helper against the tools piped
# into dd, on a loop device served by the real udisksd (started on a private
# bus by the tests' fixture script), and the choice of decoding library.
#
#   bench/write/formats.sh [build-dir]      (root; default build dir: build)
#
# The 1 GiB image of bench/write/run.sh, compressed once (cached under
# /var/tmp/flashwright-bench) with `gzip -1`, `zstd -T0 -3`, `bzip2` and
# `zip -1`, is written
#   by the helper (timed up to its "CHECK" line: the copy), and
#   zcat IMG.gz | dd of=DEV bs=4M iflag=fullblock oflag=direct,sync
#   zstd -dc IMG.zst | dd ...      bzip2 -dc IMG.bz2 | dd ...
# alternating, ROUNDS times each (default 3; medians count). Prints MB/s of
# decoded image, the ratio baseline/helper (target >= 1.0 each) and the peak
# memory of the helper for each format (/usr/bin/time -v; target < 64 MiB).
#
# Then the libraries: bench/write/decodebench decodes each file into a
# reused 4 MiB buffer with zlib, libbz2 and libzstd directly (the helper's
# Decoder) and with libarchive, DECODE_ROUNDS times each (default 3): MB/s,
# the ratio direct/libarchive, and the peak memory of each.
#
# FORMATS="gz zst" limits the run to some of gz, zst, bz2 (zip is decoded
# whenever the decoders are compared); DECODE_ROUNDS=0 leaves them out.
set -euo pipefail
export LC_ALL=C

here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
build=$(realpath "${1:-$root/build}")
helper=$build/bin/helper
decodebench=$(find "$build" -name decodebench -type f -perm -u+x | head -n1)
cache=${FLASHWRIGHT_BENCH_CACHE:-/var/tmp/flashwright-bench}
image=$cache/write-1g.img
size=$((1024 * 1024 * 1024))
rounds=${ROUNDS:-3}
decode_rounds=${DECODE_ROUNDS:-3}
read -r -a formats <<< "${FORMATS:-gz zst bz2}"

# shellcheck source=bench/support/udisksdrive.sh
source "$root/bench/support/udisksdrive.sh"
# shellcheck source=bench/support/clock.sh
source "$root/bench/support/clock.sh"
# shellcheck source=bench/support/benchimage.sh
source "$root/bench/support/benchimage.sh"

die() { echo "bench-write-formats: $*" >&2; exit 1; }

[ "$(id -u)" -eq 0 ] || die "needs root (loop devices, udisksd)"
[ -x "$helper" ] || die "no helper at $helper: build the target 'helper' first"
[ -n "$decodebench" ] || die "no decodebench under $build: build the target 'decodebench' (needs libarchive-dev)"
for tool in gzip zcat zstd bzip2 zip dd losetup awk cmp /usr/bin/time; do
    command -v "$tool" >/dev/null || die "$tool is not installed"
done
mkdir -p "$cache"

if bench_image "$image" "$size"; then
    rm -f "$image.gz" "$image.zst" "$image.bz2" "$image.zip"
fi
compress_once() {
    local target=$1
    shift
    [ -s "$target" ] && return 0
    echo "making $(basename "$target") (once)..."
    "$@" > "$target.tmp"
    mv "$target.tmp" "$target"
}
compress_once "$image.gz" gzip -1 -c "$image"
compress_once "$image.zst" zstd -q -T0 -3 -c "$image"
[[ " ${formats[*]} " == *" bz2 "* ]] && compress_once "$image.bz2" bzip2 -c "$image"
if [ ! -s "$image.zip" ]; then
    echo "making $(basename "$image").zip (once)..."
    (cd "$cache" && zip -q -1 "$image.zip.tmp.zip" "$(basename "$image")" && mv "$image.zip.tmp.zip" "$image.zip")
fi

trap udisks_drive_stop EXIT
trap 'exit 130' INT TERM
udisks_drive_start "$cache" 1200M

for format in "${formats[@]}" zip; do cat "$image.$format"; done > /dev/null
dd if=/dev/zero of="$device" bs=4M count=$((size / 4194304)) oflag=direct,sync status=none

# The helper's copy: from its start up to its "CHECK" line.
helper_copy() {
    local start copied
    start=$(now)
    copied=$("$helper" write "$1" "$object" 2> "$cache/formats-helper.err" | {
        at=""
        while IFS= read -r line; do
            [ "$line" = CHECK ] && at=$EPOCHREALTIME
        done
        echo "$at"
    }) || die "helper failed: $(cat "$cache/formats-helper.err")"
    grep -qx OK "$cache/formats-helper.err" || die "helper did not verify: $(cat "$cache/formats-helper.err")"
    awk -v a="$start" -v c="$copied" 'BEGIN { printf "%.6f\n", c - a }'
}
baseline() {
    local format=$1
    case "$format" in
    gz) zcat "$image.gz" ;;
    zst) zstd -q -dc "$image.zst" ;;
    bz2) bzip2 -dc "$image.bz2" ;;
    esac | dd of="$device" bs=4M iflag=fullblock oflag=direct,sync status=none
}
device_holds_image() {
    dd if="$device" bs=4M count=$((size / 4194304)) iflag=direct status=none | cmp -s - "$image"
}
rate() { awk -v s="$size" -v t="$1" 'BEGIN { printf "%.0f", s / t / 1000000 }'; }
peak() {
    /usr/bin/time -v "$@" 2>&1 >/dev/null | awk -F': ' '/Maximum resident set size/ { printf "%.1f", $2 / 1024 }'
}

load_before=$(cut -d' ' -f1-3 /proc/loadavg)
declare -A helper_median baseline_median helper_peak
for format in "${formats[@]}"; do
    helper_runs=() baseline_runs=()
    for ((r = 1; r <= rounds; r++)); do
        ((r % 2)) && baseline_runs+=("$(timed baseline "$format")")
        helper_runs+=("$(helper_copy "$image.$format")")
        ((r % 2)) || baseline_runs+=("$(timed baseline "$format")")
    done
    device_holds_image || die "the device does not hold the image decoded from .$format"
    helper_median[$format]=$(median "${helper_runs[@]}")
    baseline_median[$format]=$(median "${baseline_runs[@]}")
done
for format in "${formats[@]}" zip; do
    helper_peak[$format]=$(peak "$helper" write "$image.$format" "$object")
done
device_holds_image || die "the device does not hold the image decoded from .zip"

declare -A direct_median archive_median direct_peak archive_peak
decode() { "$decodebench" "$1" "$2" | awk -v s="$size" '$1 != s { exit 1 } { print $2 }'; }
decoded_formats=()
((decode_rounds > 0)) && decoded_formats=("${formats[@]}" zip)
for format in "${decoded_formats[@]}"; do
    direct_runs=() archive_runs=()
    for ((r = 1; r <= decode_rounds; r++)); do
        direct_runs+=("$(decode direct "$image.$format")") || die "decodebench direct failed on .$format"
        archive_runs+=("$(decode libarchive "$image.$format")") || die "decodebench libarchive failed on .$format"
    done
    direct_median[$format]=$(median "${direct_runs[@]}")
    archive_median[$format]=$(median "${archive_runs[@]}")
    direct_peak[$format]=$(peak "$decodebench" direct "$image.$format")
    archive_peak[$format]=$(peak "$decodebench" libarchive "$image.$format")
done
load_after=$(cut -d' ' -f1-3 /proc/loadavg)

ratio() { awk -v h="$1" -v b="$2" 'BEGIN { printf "%.3f", b / h }'; }
echo
echo "write of 1 GiB (decoded) onto $device, copy only, median of $rounds runs"
echo "load average before: $load_before, after: $load_after ($(nproc) processors)"
for format in "${formats[@]}"; do
    case "$format" in gz) tool="zcat" ;; zst) tool="zstd -dc" ;; bz2) tool="bzip2 -dc" ;; esac
    printf '%-5s %-28s %6s MB/s   helper %6s MB/s   ratio %s (target >= 1.0)   compressed %s MB\n' \
        ".$format" "$tool | dd:" "$(rate "${baseline_median[$format]}")" "$(rate "${helper_median[$format]}")" \
        "$(ratio "${helper_median[$format]}" "${baseline_median[$format]}")" \
        "$(($(stat -c %s "$image.$format") / 1000000))"
done
for format in "${formats[@]}" zip; do
    printf 'peak memory of the helper, .%-4s %6s MiB (target < 64)\n' "$format" "${helper_peak[$format]}"
done
((decode_rounds > 0)) && echo && echo "decoding only, into a 4 MiB buffer, median of $decode_rounds runs"
for format in "${decoded_formats[@]}"; do
    printf '.%-4s direct %6s MB/s %6s MiB   libarchive %6s MB/s %6s MiB   ratio direct/libarchive %s\n' \
        "$format" "$(rate "${direct_median[$format]}")" "${direct_peak[$format]}" \
        "$(rate "${archive_median[$format]}")" "${archive_peak[$format]}" \
        "$(ratio "${direct_median[$format]}" "${archive_median[$format]}")"
done
