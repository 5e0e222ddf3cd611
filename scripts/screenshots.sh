#!/usr/bin/env bash
# Pictures of every page, for looking at: scripts/screenshots.sh [OUTPUT-FOLDER]
#
# Starts the real program under Xvfb with the simulated drives (--testing) and
# the sample catalogue of the tests, walks to every page by keyboard and saves
# a PNG of each in the light and the dark palette, in English and in Russian.
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

for tool in Xvfb xdotool; do
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
cleanup() {
    [ -z "$program_pid" ] || kill "$program_pid" 2>/dev/null || true
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
    env -u LANGUAGE -u LC_MESSAGES -u DBUS_SESSION_BUS_ADDRESS \
        HOME="$work/home" XDG_RUNTIME_DIR="$work" XDG_CONFIG_HOME="$work/$palette" \
        XDG_CURRENT_DESKTOP=KDE KDE_SESSION_VERSION=5 LANG=$locale LC_ALL=$locale \
        "$program" --testing --verbose --releasesUrl "$url" 2>"$work/program.log" &
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

# Keys, each followed by time for the page to slide in and settle.
keys() {
    for key in "$@"; do
        xdotool key --window "$window" --clearmodifiers "$key"
        sleep 0.35
    done
}

shot() {
    "$grab" "$window" "$out/$1-$palette-$language.png"
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
}

for palette in light dark; do
    for language in en ru; do
        walk
    done
done
echo "screenshots: $(ls "$out"/*.png | wc -l) pictures in $out"
