#!/usr/bin/env bash
# Installs what is needed, builds Flashwright with its tests and runs every test.
# FLASHWRIGHT_SANITIZE=1 builds and runs them with ASan and UBSan instead.
# FLASHWRIGHT_COVERAGE=1 builds them with gcov instrumentation into
# build-coverage/, runs them and prints the coverage per folder.
set -euo pipefail
cd "$(dirname "$0")/.."
if [ "${FLASHWRIGHT_COVERAGE:-0}" = 1 ]; then
    bash scripts/install-deps.sh coverage
    dir=build-coverage
    bash scripts/build.sh "$dir" -DFLASHWRIGHT_COVERAGE=ON
    # Counts of this run only.
    find "$dir" -name '*.gcda' -delete
    rm -rf "$dir/coverage-runs"
    status=0
    ctest --test-dir "$dir" --output-on-failure -j"$(nproc)" --timeout 600 || status=$?
    bash scripts/coverage-report.sh "$dir"
    exit "$status"
fi
bash scripts/install-deps.sh
if [ "${FLASHWRIGHT_SANITIZE:-0}" = 1 ]; then
    dir=build-sanitize
    bash scripts/build.sh "$dir" -DFLASHWRIGHT_SANITIZE=ON
else
    dir=build
    bash scripts/build.sh "$dir"
fi
ctest --test-dir "$dir" --output-on-failure -j"$(nproc)" --timeout 600
