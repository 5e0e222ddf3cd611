#!/usr/bin/env bash
# Verified write of an implanted ISO: the helper (copy, read-back and the
# implanted check) against dd followed by checkisomd5 on the device, on a loop
# device served by the real udisksd. Then the implanted-checksum reader alone
# (verifybench: mediaCheckFD on an O_DIRECT descriptor) against checkisomd5.
#
#   sudo bash bench/verify/run.sh [build-dir]     (default: <repo>/build)
#   RUNS=5 ... for more rounds; SIZE_MIB=2048 for a bigger image.
#
# Baseline: dd if=ISO of=DEV bs=4M oflag=direct,sync; then checkisomd5 DEV
# (the device's buffers flushed before it, so that it reads the drive; the ISO
# itself stays in the page cache for every writer). Medians of alternating
# rounds; prints MB/s, the ratio (target >= 1.5), the processor time of one
# run of each and the load before and after.
set -euo pipefail
# Decimal points in the clock's readings and awk's numbers.
export LC_ALL=C

here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
build=$(realpath "${1:-$root/build}")
helper=$build/bin/helper
bench=$build/bin/verifybench
runs=${RUNS:-5}
size_mib=${SIZE_MIB:-1024}
cache=${FLASHWRIGHT_BENCH_CACHE:-/var/tmp/flashwright-bench}
iso=$cache/verify-${size_mib}m.iso

# shellcheck source=bench/support/udisksdrive.sh
source "$root/bench/support/udisksdrive.sh"
# shellcheck source=bench/support/clock.sh
source "$root/bench/support/clock.sh"

die() { echo "bench-verify: $*" >&2; exit 1; }

[ "$(id -u)" -eq 0 ] || die "needs root: it sets up a loop device and flushes its buffers"
for tool in checkisomd5 implantisomd5 xorriso losetup blockdev dd /usr/bin/time; do
    command -v "$tool" >/dev/null || die "missing $tool (apt-get install isomd5sum xorriso time)"
done
[ -x "$helper" ] || die "build the helper first: cmake --build $build --target helper"
[ -x "$bench" ] || die "build verifybench first: cmake --build $build --target verifybench"

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
bytes=$(stat -c %s "$iso")

trap udisks_drive_stop EXIT
trap 'exit 130' INT TERM
udisks_drive_start "$cache" "$((size_mib + 128))M"
cat "$iso" >/dev/null

drop() { blockdev --flushbufs "$device"; }
seconds() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.6f", b - a }'; }
baseline() {
    local start
    start=$EPOCHREALTIME
    dd if="$iso" of="$device" bs=4M oflag=direct,sync status=none
    drop
    checkisomd5 "$device" </dev/null >/dev/null 2>&1 || die "checkisomd5 does not pass the written image"
    seconds "$start" "$EPOCHREALTIME"
}
helper_write() {
    local start
    start=$EPOCHREALTIME
    "$helper" write "$iso" "$object" >/dev/null 2>"$cache/verify-helper.err" ||
        die "the helper failed: $(cat "$cache/verify-helper.err")"
    seconds "$start" "$EPOCHREALTIME"
}
reader_alone() {
    drop
    local out
    out=$("$bench" "$device") || die "verifybench does not pass the image: $out"
    echo "$out" | awk '/^seconds/ { print $2 }'
}
checkisomd5_alone() {
    drop
    local start
    start=$EPOCHREALTIME
    checkisomd5 "$device" </dev/null >/dev/null 2>&1 || die "checkisomd5 does not pass the image"
    seconds "$start" "$EPOCHREALTIME"
}
rate() { awk -v s="$bytes" -v t="$1" 'BEGIN { printf "%.0f", s / t / 1000000 }'; }
ratio() { awk -v h="$1" -v b="$2" 'BEGIN { printf "%.2f", b / h }'; }

load_before=$(cut -d' ' -f1-3 /proc/loadavg)
baseline_runs=() helper_runs=() reader_runs=() checkisomd5_runs=()
for ((round = 1; round <= runs; round++)); do
    ((round % 2)) && baseline_runs+=("$(baseline)")
    helper_runs+=("$(helper_write)")
    ((round % 2)) || baseline_runs+=("$(baseline)")
    reader_runs+=("$(reader_alone)")
    checkisomd5_runs+=("$(checkisomd5_alone)")
    printf 'round %d: dd + checkisomd5 %.2f s, helper %.2f s; reader alone %.2f s, checkisomd5 %.2f s\n' "$round" \
        "${baseline_runs[-1]}" "${helper_runs[-1]}" "${reader_runs[-1]}" "${checkisomd5_runs[-1]}"
done

# Processor time (user + system) of one run of each.
cpu() {
    /usr/bin/time -f '%U %S' "$@" 2>&1 >/dev/null | tail -1 | awk '{ printf "%.2f", $1 + $2 }'
}
cpu_helper=$(cpu "$helper" write "$iso" "$object")
cpu_dd=$(cpu dd if="$iso" of="$device" bs=4M oflag=direct,sync status=none)
drop
cpu_check=$(cpu checkisomd5 "$device")
load_after=$(cut -d' ' -f1-3 /proc/loadavg)

t_baseline=$(median "${baseline_runs[@]}")
t_helper=$(median "${helper_runs[@]}")
t_reader=$(median "${reader_runs[@]}")
t_check=$(median "${checkisomd5_runs[@]}")
echo
echo "verified write of an implanted ISO of $bytes bytes onto $device (median of $runs rounds)"
echo "load average before: $load_before, after: $load_after ($(nproc) processors)"
printf '%-44s %6s MB/s  %5s s cpu\n' "dd, then checkisomd5 on the device" "$(rate "$t_baseline")" "$(awk -v a="$cpu_dd" -v b="$cpu_check" 'BEGIN { printf "%.2f", a + b }')"
printf '%-44s %6s MB/s  %5s s cpu\n' "helper: copy, read-back, implanted check" "$(rate "$t_helper")" "$cpu_helper"
echo "ratio helper/(dd + checkisomd5): $(ratio "$t_helper" "$t_baseline")  (target >= 1.5)"
printf '%-44s %6s MB/s\n' "checkisomd5 alone" "$(rate "$t_check")"
printf '%-44s %6s MB/s\n' "implanted-checksum reader alone (O_DIRECT)" "$(rate "$t_reader")"
echo "ratio reader/checkisomd5: $(ratio "$t_reader" "$t_check")  (target >= 1.0)"
