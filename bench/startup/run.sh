#!/usr/bin/env bash
# Start-up benchmark: time from starting flashwright (offscreen, simulated
# drives, the sample catalogue from a file) to its first frame and to the
# catalogue being ready, medians of 10 runs against an empty Qt Quick window.
# Usage: bench/startup/run.sh [BUILD_DIR] [RUNS]   (default: ./build, 10)
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
build=${1:-$here/../../build}
runs=${2:-10}
for binary in startupbench emptywindow flashwright; do
    [ -x "$build/bin/$binary" ] || { echo "build the target $binary first ($build/bin/$binary)" >&2; exit 1; }
done
echo "load: $(uptime)"
"$build/bin/startupbench" "$build/bin/flashwright" "$build/bin/emptywindow" \
    "file://$here/../../tests/support/feeds/catalogue.json" "$runs"
