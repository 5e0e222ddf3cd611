#!/usr/bin/env bash
# Installs what is needed, builds Flashwright with its tests and runs every test.
# FLASHWRIGHT_SANITIZE=1 builds and runs them with ASan and UBSan instead.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
if [ "${FLASHWRIGHT_SANITIZE:-0}" = 1 ]; then
    dir=build-sanitize
    bash scripts/build.sh "$dir" -DFLASHWRIGHT_SANITIZE=ON
else
    dir=build
    bash scripts/build.sh "$dir"
fi
ctest --test-dir "$dir" --output-on-failure -j"$(nproc)" --timeout 600
