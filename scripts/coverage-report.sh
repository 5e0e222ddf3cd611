#!/usr/bin/env bash
# Prints line and branch coverage of flashwright/, helper/ and common/ per
# folder from the counts that a run of the tests left in a coverage build
# (FLASHWRIGHT_COVERAGE=1 bash scripts/test.sh runs it at the end), and the
# runs of flashwright and helper that ended without writing theirs.
#
#   bash scripts/coverage-report.sh [folder]      (default: build-coverage)
#
# gcov counts C++ only: the Qt Quick documents are not measured. Branches
# that only throw or that the compiler made unreachable are left out.
set -euo pipefail
cd "$(dirname "$0")/.."
dir=${1:-build-coverage}
folders=(flashwright/shell flashwright/catalogue flashwright/downloads flashwright/drives helper/linux common)

gcovr --root . -j 2 --filter flashwright/ --filter helper/ --filter common/ \
    --exclude-throw-branches --exclude-unreachable-branches --json "$dir/coverage.json" "$dir"

summary() {
    gcovr --root . --add-tracefile "$dir/coverage.json" "$@" --json-summary | python3 -c '
import json, sys
s = json.load(sys.stdin)
def cell(covered, total):
    return f"{100 * covered / total:5.1f} % {covered:>5}/{total:<5}" if total else "    – "
print(cell(s["line_covered"], s["line_total"]), cell(s["branch_covered"], s["branch_total"]), sep="   ")'
}

printf '%-24s %-20s   %s\n' "coverage" "lines" "branches"
for folder in "${folders[@]}"; do
    printf '%-24s %s\n' "$folder/" "$(summary --filter "$folder/")"
done
printf '%-24s %s\n' "all three" "$(summary)"
echo "(C++ only: the Qt Quick documents are not measured by gcov.)"

# Runs that ended without writing their counts (SIGKILL, a crash, a fatal
# message), by the processes that started them.
runs="$dir/coverage-runs"
if [ -d "$runs" ] && [ -n "$(ls -A "$runs")" ]; then
    echo "Runs that ended without writing their counts (not counted above):"
    cat "$runs"/* | sort | uniq -c | sort -rn
else
    echo "Every run of flashwright and helper wrote its counts."
fi
