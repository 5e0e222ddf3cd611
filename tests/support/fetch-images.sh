#!/usr/bin/env bash
# Real images for the tests, taken from Debian packages without installing
# them: memtest86+ (an ISO) and syslinux-common (xz-compressed disk images).
#
#   fetch-images.sh [cache-dir]     (default: <repo>/build/image-cache)
#
# Each package ends up unpacked in <cache-dir>/<package>/. Work already done is
# kept. When a download fails the script says so and exits 0: the tests that
# need the images skip instead of failing.
set -uo pipefail

here=$(cd "$(dirname "$0")" && pwd)
cache=${1:-$here/../../build/image-cache}
mkdir -p "$cache" || exit 0
cache=$(cd "$cache" && pwd)

# package → a file that must be there once it is unpacked
declare -A expected=(
    [memtest86+]=usr/lib/memtest86+/memtest86+x64.iso
    [syslinux-common]=usr/lib/syslinux/mbr/diag/geodsp/geodsp1s.img.xz
)

status=0
for package in memtest86+ syslinux-common; do
    target=$cache/$package
    if [ -e "$target/${expected[$package]}" ]; then
        echo "$package: already in $target"
        continue
    fi
    work=$(mktemp -d "$cache/.fetch-$package.XXXXXX") || continue
    if ! (cd "$work" && apt-get download "$package" >/dev/null 2>&1); then
        echo "$package: download failed (no network or package source?); tests that need it will skip"
        rm -rf "$work"
        status=1
        continue
    fi
    if dpkg -x "$work"/*.deb "$work/root" && [ -e "$work/root/${expected[$package]}" ]; then
        rm -rf "$target"
        mv "$work/root" "$target"
        echo "$package: unpacked into $target"
    else
        echo "$package: unpacked, but ${expected[$package]} is missing; tests that need it will skip"
        status=1
    fi
    rm -rf "$work"
done

[ $status = 0 ] && echo "images ready in $cache"
exit 0
