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
set -euo pipefail

top=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${FLASHWRIGHT_BUILD:-$top/build}" && pwd)
out=${1:-$build/screenshots}
program=$build/bin/flashwright
grab=$build/bin/flashwright_windowgrab
feed=file://$top/tests/support/feeds/catalogue.json
# Nothing listens here: the catalogue never arrives.
unreachable=http://127.0.0.1:9/feed.json

for tool in Xvfb xdotool xwininfo python3; do
    command -v "$tool" >/dev/null || { echo "screenshots: $tool is missing (scripts/install-deps.sh)" >&2; exit 1; }
done
for binary in "$program" "$grab"; do
    [ -x "$binary" ] || { echo "screenshots: $binary is missing: build first" >&2; exit 1; }
done
mkdir -p "$out"
out=$(cd "$out" && pwd)

work=$(mktemp -d)
xvfb_pid=
program_pid=
server_pid=
cleanup() {
    [ -z "$program_pid" ] || kill "$program_pid" 2>/dev/null || true
    [ -z "$server_pid" ] || kill "$server_pid" 2>/dev/null || true
    [ -z "$xvfb_pid" ] || kill "$xvfb_pid" 2>/dev/null || true
    wait 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

# One X server for all pictures, larger than the window, without a window manager.
Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$work/display" 2>"$work/xvfb.log" &
xvfb_pid=$!
for _ in $(seq 100); do
    [ -s "$work/display" ] && break
    sleep 0.1
done
[ -s "$work/display" ] || { echo "screenshots: Xvfb did not start" >&2; cat "$work/xvfb.log" >&2; exit 1; }
export DISPLAY=:$(head -n 1 "$work/display")
export XDG_RUNTIME_DIR=$work

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
import http.server
import sys
import time

feed_file, port_file = sys.argv[1], sys.argv[2]
image_size = 256 * 1024 * 1024


class Handler(http.server.BaseHTTPRequestHandler):
    def do_GET(self):
        if self.path == "/feed.json":
            address = "http://127.0.0.1:%d/" % self.server.server_address[1]
            with open(feed_file, encoding="utf-8") as feed:
                body = feed.read().replace("https://images.zelvan.example/", address).encode()
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

palette=
language=
window=

# Starts the program in the current palette and language with the given feed
# and waits for its window.
start() {
    local url=$1 locale
    case $language in
    en) locale=en_US.UTF-8 ;;
    ru) locale=ru_RU.UTF-8 ;;
    esac
    mkdir -p "$work/home"
    (cd "$work/files" && exec env -u LANGUAGE -u LC_MESSAGES -u DBUS_SESSION_BUS_ADDRESS \
        HOME="$work/home" XDG_RUNTIME_DIR="$work" XDG_CONFIG_HOME="$work/$palette" \
        XDG_CURRENT_DESKTOP=KDE KDE_SESSION_VERSION=5 LANG=$locale LC_ALL=$locale \
        "$program" --testing --verbose --releasesUrl "$url") 2>"$work/program.log" &
    program_pid=$!
    window=
    for _ in $(seq 200); do
        window=$(xdotool search --onlyvisible --pid "$program_pid" 2>/dev/null | head -n 1) || true
        [ -n "$window" ] && break
        kill -0 "$program_pid" 2>/dev/null || break
        sleep 0.1
    done
    [ -n "$window" ] || { echo "screenshots: no window" >&2; cat "$work/program.log" >&2; exit 1; }
    xdotool windowfocus --sync "$window"
}

stop() {
    kill "$program_pid" 2>/dev/null || true
    wait "$program_pid" 2>/dev/null || true
    program_pid=
}

# Waits until the program's log has a line with the text.
wait_for_log() {
    for _ in $(seq 200); do
        grep -q -F "$1" "$work/program.log" && return 0
        sleep 0.1
    done
    echo "screenshots: the program never logged \"$1\"" >&2
    exit 1
}

# Keys, each followed by time for the page to slide in and settle. They go to
# the window that has the keyboard, as a person's keys do: a key sent to a
# window that loses the keyboard while the key is down (to a dialog it opens)
# would stay down in the X server and repeat.
keys() {
    for key in "$@"; do
        xdotool key --clearmodifiers "$key"
        sleep 0.35
    done
}

shot() {
    "$grab" "$window" "$out/$1-$palette-$language.png"
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
    local previous= current
    dialog=
    for _ in $(seq 50); do
        current=$(shown_dialog)
        if [ -n "$current" ] && [ "$current" = "$previous" ]; then
            dialog=$current
            break
        fi
        previous=$current
        sleep 0.3
    done
    [ -n "$dialog" ] || { echo "screenshots: no dialog came up" >&2; exit 1; }
    xdotool windowfocus --sync "$dialog"
    sleep 0.3
}

dialog_keys() {
    for key in "$@"; do
        xdotool key --clearmodifiers "$key"
        sleep 0.35
    done
    xdotool windowfocus --sync "$window"
}

# The walk through the pages. Tab order on the editions page: the back arrow,
# then the cards; on the version page: the back arrow, the version and
# architecture buttons (two and two with the sample catalogue), the image
# list, the check box, the drive list. A page that comes back to the top of
# the stack gives the keyboard to the control that had it.
walk() {
    # With the notice and, two seconds after start, the restore choice: the
    # fullest the first page gets.
    start "$unreachable"
    sleep 2.5
    shot 01-main-connecting
    stop

    start "$feed"
    wait_for_log "Received a metadata json"
    # The drive that can be restored arrives two seconds after the others.
    sleep 2.5
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

    # A file of the user's own written to "Okay". The drive list reads: Not
    # Large Enough, Contains Live (selected), Fails, Gets Disconnected, Okay.
    start "$served"
    wait_for_log "Received a metadata json"
    sleep 2.5
    keys Tab Tab space
    shot 09-drive
    keys Tab Tab space
    sleep 0.5
    shot 10-drive-file-dialog
    keys Return Tab space Down Down Down Return Tab
    shot 11-drive-chosen
    keys space
    wait_for_dialog
    shot 12-erase-confirmation
    dialog_keys Tab space
    sleep 1.5
    shot 13-progress-writing
    keys Escape
    wait_for_dialog
    shot 14-cancel-writing
    dialog_keys Escape
    # "Okay" takes ten seconds.
    sleep 9.5
    shot 15-progress-finished
    stop

    # The live drive restored; its even size restores.
    start "$served"
    wait_for_log "Received a metadata json"
    sleep 2.5
    keys Tab Tab Tab space
    shot 16-restore
    keys Return
    sleep 1
    shot 17-restore-progress
    sleep 5
    shot 18-restore-finished
    stop

    # A failed write, then a download from the slow server, aborted. Back on
    # the first page the keyboard is where it was, on the local file.
    start "$served"
    wait_for_log "Received a metadata json"
    sleep 2.5
    keys Tab Tab space Tab Tab space
    sleep 0.5
    keys Return Tab space Down Return Tab space
    wait_for_dialog
    dialog_keys Tab space
    # "Fails" gives up at half its size, after four seconds.
    sleep 5
    shot 19-progress-failed
    keys Escape shift+Tab Return Tab Tab Return Return
    sleep 2
    shot 20-progress-downloading
    keys Escape
    wait_for_dialog
    shot 21-cancel-download
    dialog_keys Tab space
    stop
}

for palette in light dark; do
    for language in en ru; do
        walk
    done
done
echo "screenshots: $(ls "$out"/*.png | wc -l) pictures in $out"
