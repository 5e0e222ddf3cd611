#!/usr/bin/env bash
# The real UDisks2 daemon on a private system bus, for tests and benchmarks.
#
#   udisks-fixture.sh start <statedir>   start the bus, udevd if none runs, udisksd
#   udisks-fixture.sh stop <statedir>    detach the loop devices the tests made and
#                                        stop what start started
#
# After start, <statedir>/bus-address holds the bus address; when the machine
# cannot run the daemon (not root, no loop devices, udisksd missing), start
# succeeds but writes the reason to <statedir>/skip instead, and the tests skip.
# Tests append the loop devices they attach to <statedir>/loops and their mount
# points to <statedir>/mounts, so stop can clean up after a crashed test.
set -u

udisksd=${FLASHWRIGHT_UDISKSD:-/usr/libexec/udisks2/udisksd}
udevd=/lib/systemd/systemd-udevd
# udevd is shared by every fixture of the machine (several build trees may
# test at once); this folder counts its users and remembers who started it.
shared=/run/flashwright-udevd

log() { echo "udisks-fixture: $*" >&2; }

skip() {
    echo "$*" > "$state/skip"
    log "skipping: $*"
    exit 0
}

wait_for_udisks() {
    local i
    for ((i = 0; i < 150; i++)); do
        if DBUS_SYSTEM_BUS_ADDRESS=$address dbus-send --system --print-reply=literal \
            --dest=org.freedesktop.UDisks2 /org/freedesktop/UDisks2/Manager \
            org.freedesktop.DBus.Properties.Get string:org.freedesktop.UDisks2.Manager \
            string:Version >/dev/null 2>&1; then
            return 0
        fi
        kill -0 "$(cat "$state/udisksd.pid")" 2>/dev/null || return 1
        sleep 0.2
    done
    return 1
}

udevd_running() {
    udevadm control --ping >/dev/null 2>&1
}

start_udevd() {
    mkdir -p "$shared"
    (
        flock 9
        if ! udevd_running; then
            # Not with our lock: the daemon would hold it for its whole life.
            "$udevd" --daemon 9>&- || exit 1
            for ((i = 0; i < 50; i++)); do
                udevd_running && break
                sleep 0.1
            done
            touch "$shared/started"
        fi
        echo "$state" >> "$shared/users"
        if [ -e "$shared/started" ]; then
            # A udevd of our own starts with an empty database: fill it for
            # the block devices, which is all udisksd needs.
            udevadm trigger --subsystem-match=block --action=add >/dev/null 2>&1
            udevadm settle --timeout=20 >/dev/null 2>&1
        fi
    ) 9> "$shared/lock"
}

stop_udevd() {
    [ -d "$shared" ] || return 0
    (
        flock 9
        [ -f "$shared/users" ] || exit 0
        grep -vxF "$state" "$shared/users" > "$shared/users.new"
        mv "$shared/users.new" "$shared/users"
        if [ ! -s "$shared/users" ] && [ -e "$shared/started" ]; then
            udevadm control --exit >/dev/null 2>&1
            rm -f "$shared/started"
        fi
    ) 9> "$shared/lock"
}

stop_pid() {
    local file=$1 pid i
    [ -f "$file" ] || return 0
    pid=$(cat "$file")
    if [ -n "$pid" ] && kill -0 "$pid" 2>/dev/null; then
        kill -TERM "$pid" 2>/dev/null
        for ((i = 0; i < 50; i++)); do
            kill -0 "$pid" 2>/dev/null || break
            sleep 0.1
        done
        kill -0 "$pid" 2>/dev/null && kill -KILL "$pid" 2>/dev/null
    fi
    rm -f "$file"
}

cleanup_devices() {
    local mnt dev backing
    if [ -f "$state/mounts" ]; then
        while read -r mnt; do
            [ -n "$mnt" ] || continue
            mountpoint -q "$mnt" && umount -l "$mnt"
            rmdir "$mnt" 2>/dev/null
        done < "$state/mounts"
        rm -f "$state/mounts"
    fi
    if [ -f "$state/loops" ]; then
        while read -r dev backing; do
            [ -n "$dev" ] || continue
            # Only detach a device that still has the backing file we gave it:
            # the number may have been reused by someone else since.
            if [ -n "$backing" ] && losetup -n -O BACK-FILE "$dev" 2>/dev/null | grep -qF "$backing"; then
                grep -E "^$dev(p[0-9]+)? " /proc/mounts | while read -r _ m _; do umount -l "$m"; done
                losetup -d "$dev"
                rm -f "$backing"
            fi
        done < "$state/loops"
        rm -f "$state/loops"
    fi
}

start() {
    mkdir -p "$state"
    rm -f "$state/skip" "$state/bus-address"
    [ "$(id -u)" -eq 0 ] || skip "the real udisksd needs root"
    [ -e /dev/loop-control ] || skip "no /dev/loop-control: loop devices unavailable"
    [ -x "$udisksd" ] || skip "udisksd is not installed ($udisksd)"
    command -v dbus-daemon >/dev/null || skip "dbus-daemon is not installed"
    command -v dbus-send >/dev/null || skip "dbus-send is not installed"
    command -v losetup >/dev/null || skip "losetup is not installed"
    [ -x "$udevd" ] || udevd_running || skip "no udevd to start ($udevd)"

    # Whatever an earlier run left behind goes first.
    stop
    # Interrupted halfway (a ctest timeout): take down what was started so far.
    trap 'stop; exit 1' INT TERM HUP

    mkdir -p "$state/bus"
    cat > "$state/bus.conf" <<CONF
<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>system</type>
  <listen>unix:dir=$state/bus</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow user="*"/>
    <allow own="*"/>
    <allow send_type="method_call"/>
    <allow send_destination="*" eavesdrop="true"/>
    <allow eavesdrop="true"/>
  </policy>
</busconfig>
CONF
    dbus-daemon --config-file="$state/bus.conf" --fork --print-address=3 --print-pid=4 \
        3> "$state/bus.address.tmp" 4> "$state/dbus.pid" || { log "dbus-daemon failed"; exit 1; }
    address=$(head -n1 "$state/bus.address.tmp")
    rm -f "$state/bus.address.tmp"
    [ -n "$address" ] || { log "dbus-daemon printed no address"; stop; exit 1; }

    # Marked first, so that an interrupted start still gives its share back.
    echo yes > "$state/udevd-user"
    if ! start_udevd; then
        log "systemd-udevd did not start"
        stop
        exit 1
    fi

    DBUS_SYSTEM_BUS_ADDRESS=$address setsid "$udisksd" --no-sigint \
        > "$state/udisksd.log" 2>&1 < /dev/null &
    echo $! > "$state/udisksd.pid"
    if ! wait_for_udisks; then
        log "udisksd did not answer on the private bus; its log:"
        cat "$state/udisksd.log" >&2
        stop
        exit 1
    fi
    echo "$address" > "$state/bus-address"
    log "udisksd runs on $address"
}

stop() {
    cleanup_devices
    stop_pid "$state/udisksd.pid"
    stop_pid "$state/dbus.pid"
    if [ -f "$state/udevd-user" ]; then
        stop_udevd
        rm -f "$state/udevd-user"
    fi
    rm -rf "$state/bus" "$state/bus-address"
}

[ $# -eq 2 ] || { echo "usage: $0 start|stop <statedir>" >&2; exit 2; }
state=$(realpath -m "$2")
case $1 in
start) start ;;
stop) stop ;;
*) echo "usage: $0 start|stop <statedir>" >&2; exit 2 ;;
esac
