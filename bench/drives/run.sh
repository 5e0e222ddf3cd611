#!/usr/bin/env bash
# Drive discovery benchmark: full scans and hot-plugs with the fake UDisks2
# holding 1, 20 and 200 sticks, on a private system bus, and the longest time
# the main thread was blocked meanwhile. Usage: bench/drives/run.sh [BUILD_DIR]
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
build=${1:-$here/../../build}
bench=$build/bin/drivesbench
[ -x "$bench" ] || { echo "build the target drivesbench first ($bench)" >&2; exit 1; }

# The figures depend on what else runs: say how loaded the machine was.
echo "load before: $(uptime)"
"$bench" 1 20 200
echo "load after:  $(uptime)"
