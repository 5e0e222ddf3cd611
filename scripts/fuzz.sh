#!/usr/bin/env bash
# Builds the fuzz targets with clang-14, libFuzzer, ASan and UBSan into
# build-fuzz/ and runs each for the given number of seconds.
#
#   bash scripts/fuzz.sh [seconds] [target...]     (default: 60 s, every target)
#
# Targets are named after tests/fuzz/fuzz_<target>.cpp (feed, implantedmd5,
# helperxz, linuxdriveoutput, xzindex, replyverdict, blockstack). Each mutates
# with the words of its dictionary, tests/fuzz/dict/<target>.dict (field
# names, keys, protocol words), starts from its seeds in tests/fuzz/corpus/<target> and
# keeps what it learns in build-fuzz/corpus/<target>; an input that crashes
# or breaks an expectation is written to build-fuzz/crashes/ and the script
# ends with a failure. Fix the fault, then copy the input into the target's
# corpus in the tree, where the tests run it from then on.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh fuzz

seconds=${1:-60}
shift || true
targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
    for source in tests/fuzz/fuzz_*.cpp; do
        name=${source#tests/fuzz/fuzz_}
        targets+=("${name%.cpp}")
    done
fi

dir=build-fuzz
CC=clang-14 CXX=clang++-14 cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DFLASHWRIGHT_FUZZ=ON -DFLASHWRIGHT_BUILD_TESTS=OFF >/dev/null
cmake --build "$dir" -j2 --target "${targets[@]/#/fuzz_}"

# The implanted-checksum reader needs the volume descriptors behind the
# first 32 KiB: its inputs may be longer than the others.
max_len() {
    case "$1" in
    implantedmd5) echo 65536 ;;
    *) echo 16384 ;;
    esac
}

mkdir -p "$dir/crashes"
failed=0
for target in "${targets[@]}"; do
    corpus="$dir/corpus/$target"
    mkdir -p "$corpus"
    echo "== fuzz_$target for $seconds s"
    # Standard output closed: the targets print nothing a person needs, and
    # the fuzzer reports through its own copy of standard error. Inputs that
    # run long are tried less often, so slow paths do not eat the time.
    # A target that starts programs from beside itself lives in a folder of its own.
    binary=$(find "$dir/bin" "$dir/tests/fuzz" -type f -name "fuzz_$target" -perm -u+x 2>/dev/null | head -n 1)
    if ! "$binary" -max_total_time="$seconds" -max_len="$(max_len "$target")" \
        -timeout=30 -rss_limit_mb=4096 -close_fd_mask=1 -print_final_stats=1 \
        -dict="tests/fuzz/dict/$target.dict" -entropic_scale_per_exec_time=1 \
        -artifact_prefix="$dir/crashes/$target-" "$corpus" "tests/fuzz/corpus/$target"; then
        echo "fuzz_$target found a fault: see $dir/crashes/" >&2
        failed=1
    fi
done
exit $failed
