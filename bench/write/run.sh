#!/usr/bin/env bash
# Write speed of the helper against dd, on a loop device served by the real
# udisksd (started on a private bus by the tests' fixture script).
#
#   bench/write/run.sh [build-dir]      (root; default build dir: build)
#
# Writes a 1 GiB plain image and the same image as xz (made once with
# `xz -T2 -1`, so it has many blocks, and cached under /var/tmp/flashwright-bench)
# with the helper, and in the same run with the baselines
#   dd if=IMG of=DEV bs=4M oflag=direct,sync
#   xz -T0 -dc IMG.xz | dd of=DEV bs=4M iflag=fullblock oflag=direct,sync
#   xz -dc IMG.xz | dd ...   (one decoding thread, as the helper had before)
# The helper's run is timed in parts: the copy (up to its "CHECK" line), the
# read-back verification of the 1 GiB it sent (from "CHECK" to its end), and
# the whole run. The read-back is compared with
#   dd if=DEV bs=4M count=256 iflag=direct | md5sum
# Each is run several times, alternating, and the median counts. Prints MB/s
# (10^6 bytes per second), helper/baseline ratios, the peak memory of the
# helper (/usr/bin/time -v) and the load of the machine before and after.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
build=$(realpath "${1:-$root/build}")
helper=$build/bin/helper
fixture=$root/tests/support/udisks-fixture.sh
cache=${FLASHWRIGHT_BENCH_CACHE:-/var/tmp/flashwright-bench}
state=$cache/udisks-state
image=$cache/write-1g.img
size=$((1024 * 1024 * 1024))
rounds=${ROUNDS:-10}
xz_rounds=${XZ_ROUNDS:-4}

die() { echo "bench-write: $*" >&2; exit 1; }

[ "$(id -u)" -eq 0 ] || die "needs root (loop devices, udisksd)"
[ -x "$helper" ] || die "no helper at $helper: build the target 'helper' first"
for tool in xz dd losetup base64 awk cmp md5sum /usr/bin/time; do
    command -v "$tool" >/dev/null || die "$tool is not installed"
done
mkdir -p "$cache"

# Random-ish but compressible, like a live image: in every MiB, 768 KiB of
# random bytes (as in its compressed squashfs) and 256 KiB of repeated text.
if [ ! -s "$image" ] || [ "$(stat -c %s "$image")" -ne "$size" ]; then
    echo "making the 1 GiB image (once)..."
    for ((i = 0; i < size / 1048576; i++)); do
        head -c 786432 /dev/urandom
        # yes ends on SIGPIPE once head has enough.
        { yes "flashwright write benchmark, line of MiB $i" || true; } | head -c 262144
    done > "$image.tmp"
    mv "$image.tmp" "$image"
    rm -f "$image.xz"
fi
if [ ! -s "$image.xz" ]; then
    echo "compressing it with xz -T2 -1 (once)..."
    xz -T2 -1 -k -c "$image" > "$image.xz.tmp"
    mv "$image.xz.tmp" "$image.xz"
fi

device=""
backing=$cache/write-loop-$$.img
cleanup() {
    if [ -n "$device" ]; then
        losetup -d "$device" 2>/dev/null || true
    fi
    rm -f "$backing"
    bash "$fixture" stop "$state" >/dev/null 2>&1 || true
}
trap cleanup EXIT
trap 'exit 130' INT TERM

bash "$fixture" start "$state" 2>/dev/null
[ -f "$state/skip" ] && die "$(cat "$state/skip")"
export DBUS_SYSTEM_BUS_ADDRESS
DBUS_SYSTEM_BUS_ADDRESS=$(cat "$state/bus-address")

# A loop device over a file on disk, with direct I/O to it where the kernel
# allows, so that writes reach the disk much as they reach a real drive.
fallocate -l 1200M "$backing" 2>/dev/null || truncate -s 1200M "$backing"
device=$(losetup --find --show --direct-io=on "$backing" 2>/dev/null || losetup --find --show "$backing")
object=/org/freedesktop/UDisks2/block_devices/${device#/dev/}
udevadm settle --timeout=10 >/dev/null 2>&1 || true
for ((i = 0; i < 100; i++)); do
    dbus-send --system --print-reply --dest=org.freedesktop.UDisks2 "$object" \
        org.freedesktop.DBus.Properties.Get string:org.freedesktop.UDisks2.Block string:Size \
        >/dev/null 2>&1 && break
    sleep 0.1
done

# Warm up: the images in the page cache, every block of the backing file written once.
cat "$image" "$image.xz" > /dev/null
dd if=/dev/zero of="$device" bs=4M count=$((size / 4194304)) oflag=direct,sync status=none

now() { date +%s.%N; }
# Runs "$@" and prints its duration in seconds.
timed() {
    local start end
    start=$(now)
    "$@"
    end=$(now)
    awk -v a="$start" -v b="$end" 'BEGIN { printf "%.6f\n", b - a }'
}

# Runs the helper and prints three durations in seconds: up to its "CHECK"
# line (the copy itself), up to its end (start-up, unmounting, opening, copy,
# sync and verification), and from "CHECK" to its end (the read-back).
helper_write() {
    local start copied end
    start=$(now)
    copied=$("$helper" write "$1" "$object" 2> "$cache/write-helper.err" | {
        at=""
        while IFS= read -r line; do
            [ "$line" = CHECK ] && at=$(now)
        done
        echo "$at"
    }) || die "helper failed: $(cat "$cache/write-helper.err")"
    end=$(now)
    grep -qx OK "$cache/write-helper.err" || die "helper did not verify: $(cat "$cache/write-helper.err")"
    awk -v a="$start" -v c="$copied" -v b="$end" 'BEGIN { printf "%.6f %.6f %.6f\n", c - a, b - a, b - c }'
}
dd_plain() { dd if="$image" of="$device" bs=4M oflag=direct,sync status=none; }
dd_xz() { xz -T0 -dc "$image.xz" | dd of="$device" bs=4M iflag=fullblock oflag=direct,sync status=none; }
dd_xz1() { xz -T1 -dc "$image.xz" | dd of="$device" bs=4M iflag=fullblock oflag=direct,sync status=none; }
dd_read_back() {
    local sum
    sum=$(dd if="$device" bs=4M count=$((size / 4194304)) iflag=direct status=none | md5sum)
    [ "${sum%% *}" = "$image_md5" ] || die "the device does not read back as the image"
}
helper_plain() { helper_write "$image"; }
helper_xz() { helper_write "$image.xz"; }

# The backing disk's speed wanders from run to run by a third and more, so
# the figures are medians of alternating runs rather than the luckiest run.
median() { printf '%s\n' "$@" | sort -g | awk '{ v[NR] = $1 } END { print (NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2) }'; }

image_md5=$(md5sum < "$image")
image_md5=${image_md5%% *}
load_before=$(cut -d' ' -f1-3 /proc/loadavg)

dd_plain_runs=() copy_plain_runs=() helper_plain_runs=() dd_xz_runs=() copy_xz_runs=() helper_xz_runs=()
read_back_runs=() dd_read_back_runs=() dd_xz1_runs=()
# Whichever runs second pays for the disk still settling the first one's
# writes, so the order flips every round.
for ((r = 1; r <= rounds; r++)); do
    ((r % 2)) && dd_plain_runs+=("$(timed dd_plain)")
    ((r % 2)) && dd_read_back_runs+=("$(timed dd_read_back)")
    read -r copy whole verify < <(helper_plain)
    copy_plain_runs+=("$copy")
    helper_plain_runs+=("$whole")
    read_back_runs+=("$verify")
    ((r % 2)) || dd_read_back_runs+=("$(timed dd_read_back)")
    ((r % 2)) || dd_plain_runs+=("$(timed dd_plain)")
done
cmp -n "$size" "$image" "$device" >/dev/null || die "the device does not hold the plain image"
for ((r = 1; r <= xz_rounds; r++)); do
    ((r % 2)) && dd_xz_runs+=("$(timed dd_xz)")
    ((r % 2)) && dd_xz1_runs+=("$(timed dd_xz1)")
    read -r copy whole verify < <(helper_xz)
    copy_xz_runs+=("$copy")
    helper_xz_runs+=("$whole")
    ((r % 2)) || dd_xz1_runs+=("$(timed dd_xz1)")
    ((r % 2)) || dd_xz_runs+=("$(timed dd_xz)")
done

# Peak memory (resident set) and processor time (user + system) of one run
# of each, as /usr/bin/time sees them: "MiB seconds".
usage() {
    /usr/bin/time -v "$@" 2>&1 >/dev/null |
        awk -F': ' '/Maximum resident set size/ { m = $2 / 1024 } /User time|System time/ { c += $2 }
                    END { printf "%.1f %.2f\n", m, c }'
}
read -r peak_plain cpu_plain < <(usage "$helper" write "$image" "$object")
read -r peak_xz cpu_xz < <(usage "$helper" write "$image.xz" "$object")
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
t_dd_read_back=$(median "${dd_read_back_runs[@]}")
cmp -n "$size" "$image" "$device" >/dev/null || die "the device does not hold the decompressed image"

rate() { awk -v s="$size" -v t="$1" 'BEGIN { printf "%.0f", s / t / 1000000 }'; }
ratio() { awk -v h="$1" -v b="$2" 'BEGIN { printf "%.3f", b / h }'; }

echo
echo "write of 1 GiB onto $device (median of $rounds plain, $xz_rounds xz runs)"
echo "load average before: $load_before, after: $load_after ($(nproc) processors)"
printf '%-38s %8s MB/s\n' "dd, plain" "$(rate "$t_dd_plain")"
printf '%-38s %8s MB/s\n' "helper, plain: copy" "$(rate "$t_copy_plain")"
printf '%-38s %8s MB/s\n' "helper, plain: whole run, verified" "$(rate "$t_helper_plain")"
printf '%-38s %8s MB/s\n' "xz -T0 -dc | dd, xz" "$(rate "$t_dd_xz")"
printf '%-38s %8s MB/s\n' "xz -dc | dd (one thread), xz" "$(rate "$t_dd_xz1")"
printf '%-38s %8s MB/s\n' "helper, xz: copy" "$(rate "$t_copy_xz")"
printf '%-38s %8s MB/s\n' "helper, xz: whole run, verified" "$(rate "$t_helper_xz")"
printf '%-38s %8s MB/s\n' "dd iflag=direct | md5sum, read-back" "$(rate "$t_dd_read_back")"
printf '%-38s %8s MB/s\n' "helper, read-back verification" "$(rate "$t_read_back")"
echo "ratio helper/dd, plain copy:  $(ratio "$t_copy_plain" "$t_dd_plain")"
echo "ratio helper/dd, plain whole run (with read-back): $(ratio "$t_helper_plain" "$t_dd_plain")"
echo "ratio helper/baseline, xz copy: $(ratio "$t_copy_xz" "$t_dd_xz")  (target >= 1.6)"
echo "ratio helper/baseline, xz whole run (with read-back): $(ratio "$t_helper_xz" "$t_dd_xz")"
echo "ratio helper/one-thread baseline, xz copy: $(ratio "$t_copy_xz" "$t_dd_xz1")"
echo "ratio helper xz copy/dd plain (the limit): $(ratio "$t_copy_xz" "$t_dd_plain")"
echo "ratio helper/baseline, read-back: $(ratio "$t_read_back" "$t_dd_read_back")  (target >= 1.0)"
echo "peak memory of the helper: plain ${peak_plain} MiB, xz ${peak_xz} MiB"
echo "processor time: helper plain ${cpu_plain} s (copy, hash, read-back), helper xz ${cpu_xz} s," \
    "xz -T0 -dc | dd ${cpu_dd_xz} s (no verification)"
