# shellcheck shell=bash
# Sourced by the device benchmarks: the shell's own clock (a forked date
# would cost more than some differences measured) and medians.

now() { echo "$EPOCHREALTIME"; }
# Runs "$@" and prints its duration in seconds.
timed() {
    local start end
    start=$(now)
    "$@"
    end=$(now)
    awk -v a="$start" -v b="$end" 'BEGIN { printf "%.6f\n", b - a }'
}
median() { printf '%s\n' "$@" | sort -g | awk '{ v[NR] = $1 } END { print (NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2) }'; }
