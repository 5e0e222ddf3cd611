# shellcheck shell=bash
# Sourced by the write benchmarks: the 1 GiB test image, made once and
# cached. Random-ish but compressible, like a live image: in every MiB,
# 768 KiB of random bytes (as in its compressed squashfs) and 256 KiB of
# repeated text.
#
#   bench_image <path> <size>     makes the file unless it is there in full;
#                                 returns 0 when it was made anew

bench_image() {
    local image=$1 size=$2 i
    if [ -s "$image" ] && [ "$(stat -c %s "$image")" -eq "$size" ]; then
        return 1
    fi
    echo "making the $((size / 1048576)) MiB image (once)..."
    for ((i = 0; i < size / 1048576; i++)); do
        head -c 786432 /dev/urandom
        # yes ends on SIGPIPE once head has enough.
        { yes "flashwright write benchmark, line of MiB $i" || true; } | head -c 262144
    done > "$image.tmp"
    mv "$image.tmp" "$image"
    return 0
}
