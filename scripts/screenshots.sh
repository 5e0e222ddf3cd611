#!/usr/bin/env bash
# Pictures of every page, for looking at: scripts/screenshots.sh [OUTPUT-FOLDER]
#
# Runs the screenshot test (tests/ui/tst_screenshots.cpp) of the build in
# build/, or of the one that FLASHWRIGHT_BUILD names, and keeps what it takes
# and looks at: every page and dialog of the real program, walked by keyboard
# under Xvfb, in the light and the dark palette, in English and in Russian,
# as <number>-<view>-<palette>-<language>.png in OUTPUT-FOLDER
# (<build>/screenshots by default). At most FLASHWRIGHT_SCREENSHOT_JOBS (10)
# walks run at a time.
set -euo pipefail

top=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${FLASHWRIGHT_BUILD:-$top/build}" && pwd)
out=${1:-$build/screenshots}
test=$build/bin/tst_screenshots
[ -x "$test" ] || { echo "screenshots: $test is missing: build first" >&2; exit 1; }
mkdir -p "$out"
out=$(cd "$out" && pwd)
FLASHWRIGHT_SCREENSHOTS=$out "$test" -silent
echo "screenshots: $(find "$out" -maxdepth 1 -name '*.png' | wc -l) pictures in $out"
