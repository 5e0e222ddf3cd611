# shellcheck shell=bash
# Sourced by the benchmarks that write through the helper: the real udisksd
# on a private system bus (started by the tests' fixture script) and a loop
# device over a file on disk that it serves, as a stand-in for a fast drive.
#
#   udisks_drive_start <cache-dir> <size>
#       sets $device (/dev/loopN), $object (its UDisks2 path) and exports
#       DBUS_SYSTEM_BUS_ADDRESS; dies with the fixture's reason when the
#       machine cannot run udisksd
#   udisks_drive_stop
#       detaches the loop device, removes its file and stops the daemon
#       (also safe when nothing was started)

udisks_drive_start() {
    local cache=$1 size=$2 i
    udisks_drive_state=$cache/udisks-state
    udisks_drive_backing=$cache/drive-$$.img
    bash "$(dirname "${BASH_SOURCE[0]}")/../../tests/support/udisks-fixture.sh" start "$udisks_drive_state" 2>/dev/null
    if [ -f "$udisks_drive_state/skip" ]; then
        echo "bench: $(cat "$udisks_drive_state/skip")" >&2
        exit 1
    fi
    export DBUS_SYSTEM_BUS_ADDRESS
    DBUS_SYSTEM_BUS_ADDRESS=$(cat "$udisks_drive_state/bus-address")
    # Direct I/O to the file where the kernel allows, so that writes reach
    # the disk much as they reach a real drive.
    fallocate -l "$size" "$udisks_drive_backing" 2>/dev/null || truncate -s "$size" "$udisks_drive_backing"
    device=$(losetup --find --show --direct-io=on "$udisks_drive_backing" 2>/dev/null ||
        losetup --find --show "$udisks_drive_backing")
    object=/org/freedesktop/UDisks2/block_devices/${device#/dev/}
    udevadm settle --timeout=10 >/dev/null 2>&1 || true
    for ((i = 0; i < 100; i++)); do
        dbus-send --system --print-reply --dest=org.freedesktop.UDisks2 "$object" \
            org.freedesktop.DBus.Properties.Get string:org.freedesktop.UDisks2.Block string:Size \
            >/dev/null 2>&1 && return 0
        sleep 0.1
    done
    echo "bench: udisksd does not show $device" >&2
    exit 1
}

udisks_drive_stop() {
    if [ -n "${device:-}" ]; then
        losetup -d "$device" 2>/dev/null || true
        device=""
    fi
    [ -n "${udisks_drive_backing:-}" ] && rm -f "$udisks_drive_backing"
    [ -n "${udisks_drive_state:-}" ] &&
        bash "$(dirname "${BASH_SOURCE[0]}")/../../tests/support/udisks-fixture.sh" stop "$udisks_drive_state" >/dev/null 2>&1
    return 0
}
