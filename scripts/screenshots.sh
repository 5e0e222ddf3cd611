#!/usr/bin/env bash
# Pictures of every page, for looking at: scripts/screenshots.sh [OUTPUT-FOLDER]
#
# Starts the real program under Xvfb with the simulated drives (--testing) and
# the sample catalogue of the tests, walks to every page and dialog by keyboard
# (writing a file to a simulated drive, restoring it, a failed write, a
# download from a slow local server) and saves a PNG of each in the light and
# the dark palette, in English and in Russian.
# Files are named <number>-<view>-<palette>-<language>.png, so the four
# variants of a view sort together. Uses the build in build/, or the one that
# FLASHWRIGHT_BUILD names; the default output folder is <build>/screenshots.
# The walks run side by side, each on an X server of its own, at most
# FLASHWRIGHT_SCREENSHOT_JOBS (10) at a time.
set -euo pipefail

top=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${FLASHWRIGHT_BUILD:-$top/build}" && pwd)
out=${1:-$build/screenshots}
program=$build/bin/flashwright
grab=$build/bin/flashwright_windowgrab
feed=file://$top/tests/support/feeds/catalogue.json
# Nothing listens here: the catalogue never arrives.
unreachable=http://127.0.0.1:9/feed.json

for tool in Xvfb xdotool xwininfo flock python3; do
    command -v "$tool" >/dev/null || { echo "screenshots: $tool is missing (scripts/install-deps.sh)" >&2; exit 1; }
done
for binary in "$program" "$grab"; do
    [ -x "$binary" ] || { echo "screenshots: $binary is missing: build first" >&2; exit 1; }
done
mkdir -p "$out"
out=$(cd "$out" && pwd)

work=$(mktemp -d)
server_pid=
job_pids=()
cleanup() {
    for pid in "${job_pids[@]}"; do
        kill "$pid" 2>/dev/null || true
    done
    [ -z "$server_pid" ] || kill "$server_pid" 2>/dev/null || true
    wait 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

# The palette comes from a KDE colour scheme: Qt reads the window colour from
# kdeglobals when the desktop says it is KDE.
for palette in light:239,239,239:35,38,39 dark:40,40,40:252,252,252; do
    IFS=: read -r name window text <<<"$palette"
    mkdir -p "$work/$name"
    cat >"$work/$name/kdeglobals" <<KDE
[Colors:Window]
BackgroundNormal=$window
ForegroundNormal=$text
[Colors:View]
BackgroundNormal=$window
ForegroundNormal=$text
[Colors:Button]
BackgroundNormal=$window
ForegroundNormal=$text
KDE
done

# The file the pages write: the file dialog opens in the program's working
# folder, where it is the only one.
mkdir -p "$work/files"
truncate -s 65536 "$work/files/zelvan-live.iso"

# The sample catalogue with its images on a local server that sends them
# slowly, so that a download can be seen under way.
python3 - "$top/tests/support/feeds/catalogue.json" "$work/port" 2>"$work/server.log" <<'PYTHON' &
import hashlib
import http.server
import json
import sys
import time

feed_file, port_file = sys.argv[1], sys.argv[2]
image_size = 256 * 1024 * 1024
# The catalogue takes an image over plain http only with its digest.
digest = hashlib.md5()
for _ in range(image_size // 65536):
    digest.update(bytes(65536))
image_md5 = digest.hexdigest()


class Handler(http.server.BaseHTTPRequestHandler):
    def do_GET(self):
        if self.path == "/feed.json":
            address = "http://127.0.0.1:%d/" % self.server.server_address[1]
            with open(feed_file, encoding="utf-8") as feed:
                entries = json.loads(feed.read().replace("https://images.zelvan.example/", address))
            for entry in entries:
                entry.setdefault("MD5", image_md5)
            body = json.dumps(entries).encode()
            self.send_response(200)
            self.send_header("Content-Length", str(len(body)))
            self.end_headers()
            self.wfile.write(body)
            return
        self.send_response(200)
        self.send_header("Content-Length", str(image_size))
        self.end_headers()
        try:
            for _ in range(image_size // 65536):
                self.wfile.write(bytes(65536))
                time.sleep(0.05)
        except OSError:
            pass

    def log_message(self, *arguments):
        pass


server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
server.daemon_threads = True
with open(port_file, "w") as port:
    port.write(str(server.server_address[1]))
server.serve_forever()
PYTHON
server_pid=$!
for _ in $(seq 100); do
    [ -s "$work/port" ] && break
    sleep 0.1
done
[ -s "$work/port" ] || { echo "screenshots: the image server did not start" >&2; cat "$work/server.log" >&2; exit 1; }
served=http://127.0.0.1:$(cat "$work/port")/feed.json

# What one walk uses: its palette and language, its own folder and X server,
# the program's process and window.
walk=
palette=
language=
job_dir=
program_pid=
window=

# Starts the program in the current palette and language with the given feed
# and waits for its window.
start() {
    local url=$1 locale
    case $language in
    en) locale=en_US.UTF-8 ;;
    ru) locale=ru_RU.UTF-8 ;;
    esac
    mkdir -p "$job_dir/home"
    (cd "$work/files" && exec env -u LANGUAGE -u LC_MESSAGES -u DBUS_SESSION_BUS_ADDRESS \
        HOME="$job_dir/home" XDG_RUNTIME_DIR="$job_dir" XDG_CONFIG_HOME="$work/$palette" \
        XDG_CURRENT_DESKTOP=KDE KDE_SESSION_VERSION=5 LANG=$locale LC_ALL=$locale \
        "$program" --testing --verbose --releasesUrl "$url") 2>"$job_dir/program.log" &
    program_pid=$!
    window=
    for _ in $(seq 300); do
        window=$(xdotool search --onlyvisible --pid "$program_pid" 2>/dev/null | head -n 1) || true
        [ -n "$window" ] && break
        kill -0 "$program_pid" 2>/dev/null || break
        sleep 0.1
    done
    [ -n "$window" ] || fail "no window"
    xdotool windowfocus --sync "$window"
}

stop() {
    kill "$program_pid" 2>/dev/null || true
    wait "$program_pid" 2>/dev/null || true
    program_pid=
}

fail() {
    echo "screenshots ($walk, $palette, $language): $1" >&2
    [ ! -f "$job_dir/program.log" ] || tail -n 20 "$job_dir/program.log" >&2
    exit 1
}

# Waits until the program's log has a line with the text (or that many lines
# with it).
wait_for_log() {
    local count
    for _ in $(seq 600); do
        count=$(grep -c -F -- "$1" "$job_dir/program.log") || true
        [ "$count" -ge "${2:-1}" ] && return 0
        sleep 0.1
    done
    fail "the program never logged \"$1\""
}

# The page with the catalogue and the drives: the catalogue has arrived and
# so has the drive that can be restored, two seconds after the others.
wait_for_start_page() {
    wait_for_log "Received a metadata json"
    wait_for_log 'Connected "Contains Live"'
}

# The picture taker of this walk, which waits for the window to come to
# rest (flashwright_windowgrab --serve): one command, one answer in $reply.
reply=
pictures() {
    [ -n "${PICTURES_PID:-}" ] || fail "the picture taker ended"
    echo "$*" >&"${PICTURES[1]}"
    read -r reply <&"${PICTURES[0]}" || fail "the picture taker ended"
}

# Keys, each given time to take effect before the next: a page slides in
# before the keys for it arrive. A key has taken effect once the window shows
# something else than before it and has come to rest. They go to the window
# that has the keyboard, as a person's keys do: a key sent to a window that
# loses the keyboard while the key is down (to a dialog it opens) would stay
# down in the X server and repeat.
keys() {
    pictures mark "$window"
    for key in "$@"; do
        xdotool key --clearmodifiers "$key"
        pictures change "$window" 150
        [ "$reply" = ok ] || [ "$reply" = unchanged ] || fail "after $key: $reply"
    done
}

# A key on a page that never comes to rest (a progress bar running): the
# time a page takes to slide in instead.
moving_key() {
    xdotool key --clearmodifiers "$1"
    sleep 0.35
}

# The picture of a page at rest; of one that keeps moving, as it is.
shot() {
    pictures rest "$window" 300 "$out/$1-$palette-$language.png"
    [ "$reply" = ok ] || fail "$1: $reply"
}

moving_shot() {
    pictures grab "$window" "$out/$1-$palette-$language.png"
    [ "$reply" = ok ] || fail "$1: $reply"
}

# The dialog that is up (both are windows of their own, titled " "), given the
# keyboard as a window manager would give it. Qt may replace the native window
# of a dialog just after showing it, so the window is taken once it has stayed
# the same for a moment.
dialog=
shown_dialog() {
    xwininfo -root -children 2>/dev/null | sed -n 's/^ *\(0x[0-9a-f]*\) " ": ("flashwright".*/\1/p' |
        while read -r candidate; do
            if xwininfo -id "$candidate" 2>/dev/null | grep -q 'IsViewable'; then
                echo "$candidate"
                break
            fi
        done
}

wait_for_dialog() {
    local previous= current same=0
    dialog=
    for _ in $(seq 150); do
        current=$(shown_dialog)
        if [ -n "$current" ] && [ "$current" = "$previous" ]; then
            same=$((same + 1))
        else
            same=0
        fi
        if [ "$same" -ge 3 ]; then
            dialog=$current
            break
        fi
        previous=$current
        sleep 0.1
    done
    [ -n "$dialog" ] || fail "no dialog came up"
    xdotool windowfocus --sync "$dialog"
    pictures rest "$dialog" 150
    [ "$reply" = ok ] || fail "the dialog: $reply"
}

dialog_keys() {
    for key in "$@"; do
        xdotool key --clearmodifiers "$key"
        sleep 0.35
    done
    xdotool windowfocus --sync "$window"
}

# The walks through the pages, each from a program of its own. Tab order on
# the editions page: the back arrow, then the cards; on the version page: the
# back arrow, the version and architecture buttons (two and two with the
# sample catalogue), the image list, the check box, the drive list. A page that
# comes back to the top of the stack gives the keyboard to the control that
# had it.

# With the notice (one second after start) and the restore choice (two
# seconds): the fullest the first page gets.
walk_start() {
    start "$unreachable"
    wait_for_log 'Connected "Contains Live"'
    shot 01-main-connecting
    stop
}

walk_catalogue() {
    start "$feed"
    wait_for_start_page
    shot 02-main

    keys Return Tab Tab
    shot 03-editions

    keys Return
    shot 04-version-standard

    keys Tab Tab Tab Tab Tab Tab space
    shot 05-version-image-list
    keys Escape

    # Back on the editions page with the first card focused: the home
    # edition, its 7.3 line and the ARM image, whose details run longest.
    keys Escape Tab Tab Return
    keys Tab Tab Tab space Tab Tab space
    shot 06-version-home-arm

    keys Escape Tab Return
    shot 07-version-education

    keys Escape shift+Tab shift+Tab Return
    shot 08-cert
    stop
}

# A file of the user's own written to "Okay". The drive list reads: Not Large
# Enough, Contains Live (selected), Fails, Gets Disconnected, Okay.
walk_write() {
    start "$served"
    wait_for_start_page
    keys Tab Tab space
    shot 09-drive
    keys Tab Tab space
    shot 10-drive-file-dialog
    keys Return Tab space Down Down Down Return Tab
    shot 11-drive-chosen
    keys space
    wait_for_dialog
    shot 12-erase-confirmation
    dialog_keys Tab space
    # "Okay" takes ten seconds; the picture shows it a little way in.
    wait_for_log 'Writing to "Okay"'
    sleep 1
    moving_shot 13-progress-writing
    moving_key Escape
    wait_for_dialog
    moving_shot 14-cancel-writing
    dialog_keys Escape
    wait_for_log 'Wrote "Okay"'
    shot 15-progress-finished
    stop
}

# The live drive restored; its even size restores.
walk_restore() {
    start "$served"
    wait_for_start_page
    keys Tab Tab Tab space
    shot 16-restore
    moving_key Return
    wait_for_log 'Restoring "Contains Live"'
    sleep 0.5
    moving_shot 17-restore-progress
    wait_for_log 'ended with'
    shot 18-restore-finished
    stop
}

# A failed write, then a download from the slow server, aborted. Back on the
# first page the keyboard is where it was, on the local file.
walk_fail() {
    start "$served"
    wait_for_start_page
    keys Tab Tab space Tab Tab space
    keys Return Tab space Down Return Tab space
    wait_for_dialog
    dialog_keys Tab space
    # "Fails" gives up at half its size, after four seconds.
    wait_for_log 'Writing to "Fails" failed'
    shot 19-progress-failed
    keys Escape shift+Tab Return Tab Tab Return
    moving_key Return
    wait_for_log "Going to download"
    sleep 1.5
    moving_shot 20-progress-downloading
    moving_key Escape
    wait_for_dialog
    moving_shot 21-cancel-download
    dialog_keys Tab space
    stop
}

# One walk in one palette and language, on an X server of its own (larger
# than the window, without a window manager), so that the walks can run side
# by side: most of their time goes to waiting for the simulated drives.
job() {
    walk=$1 palette=$2 language=$3 job_dir=$work/$1-$2-$3
    mkdir -m 700 "$job_dir"
    export XDG_RUNTIME_DIR=$job_dir
    xvfb_pid=
    trap 'for pid in "$program_pid" "${PICTURES_PID:-}" "$xvfb_pid"; do [ -z "$pid" ] || kill "$pid" 2>/dev/null; done; wait' EXIT
    # Xvfb picks a free display, but two that start at the same moment can
    # pick the same one: one starts at a time.
    local lock
    exec {lock}>"$work/xvfb.lock"
    flock "$lock"
    Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$job_dir/display" 2>"$job_dir/xvfb.log" &
    xvfb_pid=$!
    for _ in $(seq 100); do
        [ -s "$job_dir/display" ] && break
        sleep 0.1
    done
    flock -u "$lock"
    [ -s "$job_dir/display" ] || { cat "$job_dir/xvfb.log" >&2; fail "Xvfb did not start"; }
    export DISPLAY=:$(head -n 1 "$job_dir/display")
    coproc PICTURES { exec "$grab" --serve; }
    pictures hello
    [ "$reply" = ready ] || fail "the picture taker did not start: $reply"
    SECONDS=0
    "walk_$walk"
    echo "screenshots ($walk, $palette, $language): done in $SECONDS s"
}

# The longest walks first, at most FLASHWRIGHT_SCREENSHOT_JOBS (ten) at a time.
failed=0
finish_one() {
    local done_pid pid left=()
    wait -n -p done_pid "${job_pids[@]}" || failed=1
    for pid in "${job_pids[@]}"; do
        [ "$pid" = "$done_pid" ] || left+=("$pid")
    done
    job_pids=("${left[@]}")
}
job_pids=()
for walk in write fail catalogue restore start; do
    for palette in light dark; do
        for language in en ru; do
            while [ "${#job_pids[@]}" -ge "${FLASHWRIGHT_SCREENSHOT_JOBS:-10}" ]; do
                finish_one
            done
            job "$walk" "$palette" "$language" >"$work/$walk-$palette-$language.log" 2>&1 &
            job_pids+=("$!")
        done
    done
done
while [ "${#job_pids[@]}" -gt 0 ]; do
    finish_one
done
cat "$work"/*.log >&2
[ "$failed" = 0 ] || exit 1
echo "screenshots: $(ls "$out"/*.png | wc -l) pictures in $out"
