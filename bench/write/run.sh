#!/usr/bin/env bash
# Write speed of the helper against dd, on a loop device served by the real
# udisksd (started on a private bus by the tests' fixture script).
#
#   bench/write/run.sh [build-dir]      (root; default build dir: build)
#
# Writes a 1 GiB plain image and the same image as xz (made once with
# `xz -T2 -1`, so it has many blocks, and cached under /var/tmp/flashwright-bench)
# with the helper, and in the same run with the baselines
#   dd if=IMG of=DEV bs=4M oflag=direct,sync                  (write)
#   dd if=DEV of=/dev/null bs=4M iflag=direct                 (read)
#   xz -T0 -dc IMG.xz | dd of=DEV bs=4M iflag=fullblock oflag=direct,sync
#   xz -dc IMG.xz | dd ...   (one decoding thread, as the helper had once)
# The helper's run is timed in parts: the copy (up to its "CHECK" line), the
# read-back verification of what it sent (from "CHECK" to its end), and the
# whole run, which is set against the baseline write followed by the read.
# Each is run several times, alternating, and the median counts. Prints MB/s
# (10^6 bytes per second), helper/baseline ratios with their targets, the
# processor time of one run of each and the peak memory of the helper
# (/usr/bin/time -v), and the load of the machine before and after.
#
# Then a slow drive: the same loop device throttled to 20 MB/s of writes for
# the helper's cgroup (cgroup v1 blkio.throttle.write_bps_device). The helper
# writes the plain image and gets SIGTERM after a few seconds; printed are the
# longest gap between its progress lines, how far its last progress value was
# ahead of what the drive holds, and how long it took to end after the signal.
# SLOW_ONLY=1 runs this case alone.
set -euo pipefail
# Decimal points in the clock's readings and awk's numbers.
export LC_ALL=C

here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
build=$(realpath "${1:-$root/build}")
helper=$build/bin/helper
cache=${FLASHWRIGHT_BENCH_CACHE:-/var/tmp/flashwright-bench}
image=$cache/write-1g.img
size=$((1024 * 1024 * 1024))
rounds=${ROUNDS:-10}
xz_rounds=${XZ_ROUNDS:-4}
slow_rate=20000000
slow_seconds=${SLOW_SECONDS:-4}

# shellcheck source=bench/support/udisksdrive.sh
source "$root/bench/support/udisksdrive.sh"
# shellcheck source=bench/support/clock.sh
source "$root/bench/support/clock.sh"
# shellcheck source=bench/support/benchimage.sh
source "$root/bench/support/benchimage.sh"

die() { echo "bench-write: $*" >&2; exit 1; }

[ "$(id -u)" -eq 0 ] || die "needs root (loop devices, udisksd)"
[ -x "$helper" ] || die "no helper at $helper: build the target 'helper' first"
for tool in xz dd losetup awk cmp md5sum /usr/bin/time lsblk; do
    command -v "$tool" >/dev/null || die "$tool is not installed"
done
mkdir -p "$cache"

if bench_image "$image" "$size"; then
    rm -f "$image.xz"
fi
if [ ! -s "$image.xz" ]; then
    echo "compressing it with xz -T2 -1 (once)..."
    xz -T2 -1 -k -c "$image" > "$image.xz.tmp"
    mv "$image.xz.tmp" "$image.xz"
fi

cgroup=""
cleanup() {
    [ -n "$cgroup" ] && rmdir "$cgroup" 2>/dev/null
    udisks_drive_stop
}
trap cleanup EXIT
trap 'exit 130' INT TERM

udisks_drive_start "$cache" 1200M

# Warm up: the images in the page cache, every block of the backing file written once.
cat "$image" "$image.xz" > /dev/null
dd if=/dev/zero of="$device" bs=4M count=$((size / 4194304)) oflag=direct,sync status=none


# Runs the helper and prints three durations in seconds: up to its "CHECK"
# line (the copy itself), up to its end (start-up, unmounting, opening, copy,
# sync and verification), and from "CHECK" to its end (the read-back).
helper_write() {
    local start copied end
    start=$(now)
    copied=$("$helper" write "$1" "$object" 2> "$cache/write-helper.err" | {
        at=""
        while IFS= read -r line; do
            [ "$line" = CHECK ] && at=$EPOCHREALTIME
        done
        echo "$at"
    }) || die "helper failed: $(cat "$cache/write-helper.err")"
    end=$(now)
    grep -qx OK "$cache/write-helper.err" || die "helper did not verify: $(cat "$cache/write-helper.err")"
    awk -v a="$start" -v c="$copied" -v b="$end" 'BEGIN { printf "%.6f %.6f %.6f\n", c - a, b - a, b - c }'
}
dd_plain() { dd if="$image" of="$device" bs=4M oflag=direct,sync status=none; }
dd_read() { dd if="$device" of=/dev/null bs=4M count=$((size / 4194304)) iflag=direct status=none; }
dd_xz() { xz -T0 -dc "$image.xz" | dd of="$device" bs=4M iflag=fullblock oflag=direct,sync status=none; }
dd_xz1() { xz -T1 -dc "$image.xz" | dd of="$device" bs=4M iflag=fullblock oflag=direct,sync status=none; }
helper_plain() { helper_write "$image"; }
helper_xz() { helper_write "$image.xz"; }
# The device holds the image, read past the page cache.
device_holds_image() {
    dd if="$device" bs=4M count=$((size / 4194304)) iflag=direct status=none | cmp -s - "$image"
}

# The backing disk's speed wanders from run to run by a third and more, so
# the figures are medians of alternating runs rather than the luckiest run.

slow_drive() {
    cgroup=/sys/fs/cgroup/blkio/flashwright-bench-$$
    if [ ! -e /sys/fs/cgroup/blkio/blkio.throttle.write_bps_device ] || ! mkdir "$cgroup" 2>/dev/null; then
        echo "slow drive: skipped, no cgroup v1 blkio controller under /sys/fs/cgroup/blkio"
        cgroup=""
        return 0
    fi
    echo "$(lsblk -dno MAJ:MIN "$device" | tr -d ' ') $slow_rate" > "$cgroup/blkio.throttle.write_bps_device"
    dd if=/dev/zero of="$device" bs=4M count=64 oflag=direct,sync status=none
    local log=$cache/slow-drive.log load_before load_after start signalled ended pid differs held
    load_before=$(cut -d' ' -f1-3 /proc/loadavg)
    start=$EPOCHREALTIME
    # exec keeps the process id, so the signal reaches the helper itself.
    bash -c 'echo $$ > "$1/cgroup.procs" && exec "$2" write "$3" "$4"' _ "$cgroup" "$helper" "$image" "$object" \
        2>/dev/null > >(while IFS= read -r line; do echo "$EPOCHREALTIME $line"; done > "$log") &
    pid=$!
    sleep "$slow_seconds"
    signalled=$EPOCHREALTIME
    kill -TERM "$pid"
    while kill -0 "$pid" 2>/dev/null; do sleep 0.005; done
    ended=$EPOCHREALTIME
    wait "$pid" 2>/dev/null || true
    sleep 0.2 # the timestamping loop writes the last lines
    load_after=$(cut -d' ' -f1-3 /proc/loadavg)
    # What the drive holds: the length of the image's start found on it.
    differs=$({ dd if="$device" bs=4M count=64 iflag=direct status=none | cmp - "$image" 2>/dev/null || true; } |
        awk '{ print $5 }' | tr -d ,)
    held=$((${differs:-268435457} - 1))
    echo
    awk -v start="$start" -v signalled="$signalled" -v ended="$ended" -v held="$held" '
        $2 ~ /^[0-9]+$/ { if (previous != "" && $1 - previous > gap) gap = $1 - previous; previous = $1; last = $2; lines++ }
        END {
            printf "slow drive (20 MB/s of writes): %d progress lines in %.1f s, longest gap %.3f s (target <= 0.5)\n", lines, signalled - start, gap
            printf "slow drive: last progress %d, drive holds %d: ahead by %.1f MiB (target <= 16)\n", last, held, (last - held) / 1048576
            printf "slow drive: ended %.3f s after SIGTERM (target <= 2)\n", ended - signalled
        }' "$log"
    echo "load average before: $load_before, after: $load_after"
    rmdir "$cgroup" 2>/dev/null && cgroup=""
}
if [ -n "${SLOW_ONLY:-}" ]; then
    slow_drive
    exit 0
fi

load_before=$(cut -d' ' -f1-3 /proc/loadavg)

dd_plain_runs=() copy_plain_runs=() helper_plain_runs=() dd_xz_runs=() copy_xz_runs=() helper_xz_runs=()
read_back_runs=() dd_read_runs=() dd_xz1_runs=()
# Whichever runs second pays for the disk still settling the first one's
# writes, so the order flips every round.
for ((r = 1; r <= rounds; r++)); do
    ((r % 2)) && dd_plain_runs+=("$(timed dd_plain)")
    ((r % 2)) && dd_read_runs+=("$(timed dd_read)")
    read -r copy whole verify < <(helper_plain)
    copy_plain_runs+=("$copy")
    helper_plain_runs+=("$whole")
    read_back_runs+=("$verify")
    ((r % 2)) || dd_read_runs+=("$(timed dd_read)")
    ((r % 2)) || dd_plain_runs+=("$(timed dd_plain)")
done
device_holds_image || die "the device does not hold the plain image"
for ((r = 1; r <= xz_rounds; r++)); do
    ((r % 2)) && dd_xz_runs+=("$(timed dd_xz)")
    ((r % 2)) && dd_xz1_runs+=("$(timed dd_xz1)")
    read -r copy whole verify < <(helper_xz)
    copy_xz_runs+=("$copy")
    helper_xz_runs+=("$whole")
    ((r % 2)) || dd_xz1_runs+=("$(timed dd_xz1)")
    ((r % 2)) || dd_xz_runs+=("$(timed dd_xz)")
done
device_holds_image || die "the device does not hold the decompressed image"

# Peak memory (resident set) and processor time (user + system) of one run
# of each, as /usr/bin/time sees them: "MiB seconds".
usage() {
    /usr/bin/time -v "$@" 2>&1 >/dev/null |
        awk -F': ' '/Maximum resident set size/ { m = $2 / 1024 } /User time|System time/ { c += $2 }
                    END { printf "%.1f %.2f\n", m, c }'
}
read -r peak_plain cpu_plain < <(usage "$helper" write "$image" "$object")
read -r peak_xz cpu_xz < <(usage "$helper" write "$image.xz" "$object")
read -r _ cpu_dd_plain < <(usage dd if="$image" of="$device" bs=4M oflag=direct,sync status=none)
read -r _ cpu_dd_read < <(usage dd if="$device" of=/dev/null bs=4M count=$((size / 4194304)) iflag=direct status=none)
read -r _ cpu_dd_xz < <(usage bash -c "xz -T0 -dc '$image.xz' | dd of='$device' bs=4M iflag=fullblock oflag=direct,sync status=none")
load_after=$(cut -d' ' -f1-3 /proc/loadavg)

t_dd_plain=$(median "${dd_plain_runs[@]}")
t_copy_plain=$(median "${copy_plain_runs[@]}")
t_helper_plain=$(median "${helper_plain_runs[@]}")
t_dd_xz=$(median "${dd_xz_runs[@]}")
t_dd_xz1=$(median "${dd_xz1_runs[@]}")
t_copy_xz=$(median "${copy_xz_runs[@]}")
t_helper_xz=$(median "${helper_xz_runs[@]}")
t_read_back=$(median "${read_back_runs[@]}")
t_dd_read=$(median "${dd_read_runs[@]}")

rate() { awk -v s="$size" -v t="$1" 'BEGIN { printf "%.0f", s / t / 1000000 }'; }
# helper time, baseline times...: baseline sum / helper
ratio() { awk -v h="$1" -v b="$2" -v c="${3:-0}" 'BEGIN { printf "%.3f", (b + c) / h }'; }

echo
echo "write of 1 GiB onto $device (median of $rounds plain, $xz_rounds xz runs)"
echo "load average before: $load_before, after: $load_after ($(nproc) processors)"
printf '%-40s %8s MB/s  %6s s cpu\n' "dd, plain write" "$(rate "$t_dd_plain")" "$cpu_dd_plain"
printf '%-40s %8s MB/s  %6s s cpu\n' "dd iflag=direct, read" "$(rate "$t_dd_read")" "$cpu_dd_read"
printf '%-40s %8s MB/s\n' "helper, plain: copy" "$(rate "$t_copy_plain")"
printf '%-40s %8s MB/s\n' "helper, plain: read-back" "$(rate "$t_read_back")"
printf '%-40s %8s MB/s  %6s s cpu\n' "helper, plain: whole run, verified" "$(rate "$t_helper_plain")" "$cpu_plain"
printf '%-40s %8s MB/s  %6s s cpu\n' "xz -T0 -dc | dd, xz" "$(rate "$t_dd_xz")" "$cpu_dd_xz"
printf '%-40s %8s MB/s\n' "xz -dc | dd (one thread), xz" "$(rate "$t_dd_xz1")"
printf '%-40s %8s MB/s\n' "helper, xz: copy" "$(rate "$t_copy_xz")"
printf '%-40s %8s MB/s  %6s s cpu\n' "helper, xz: whole run, verified" "$(rate "$t_helper_xz")" "$cpu_xz"
echo "ratio helper/dd, plain copy: $(ratio "$t_copy_plain" "$t_dd_plain")  (target >= 0.95)"
echo "ratio helper/dd, read-back: $(ratio "$t_read_back" "$t_dd_read")  (target >= 0.9)"
echo "ratio helper/(dd write + dd read), plain whole run: $(ratio "$t_helper_plain" "$t_dd_plain" "$t_dd_read")  (target >= 0.9)"
echo "ratio helper/(xz -T0 | dd), xz copy: $(ratio "$t_copy_xz" "$t_dd_xz")  (target >= 1.0)"
echo "ratio helper/(xz -T0 | dd + dd read), xz whole run: $(ratio "$t_helper_xz" "$t_dd_xz" "$t_dd_read")  (target >= 0.9)"
echo "ratio helper/(xz -T1 | dd), xz copy: $(ratio "$t_copy_xz" "$t_dd_xz1")"
echo "peak memory of the helper: plain ${peak_plain} MiB, xz ${peak_xz} MiB  (target < 64)"

slow_drive
