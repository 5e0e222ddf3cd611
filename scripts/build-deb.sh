#!/usr/bin/env bash
# Builds the Debian package with Debian's own tools (dpkg-buildpackage and
# debhelper, from debian/) and checks it with lintian.
#
#   bash scripts/build-deb.sh [folder]      (default: build/deb)
#
# The package is built from a copy of the sources in <folder>/src, so the
# tree itself stays clean; the .deb and lintian's report end up in <folder>.
# Ends with a failure when the build fails or lintian reports an error.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh

out=$(realpath -m "${1:-build/deb}")
version=$(dpkg-parsechangelog -S Version)
src="$out/src/flashwright-$version"
rm -rf "$out"
mkdir -p "$src"
# Everything but build folders and version control.
tar --exclude-vcs --exclude='./build*' --exclude='./.cache' --exclude='./Testing' -cf - . | tar -xf - -C "$src"

(
    cd "$src"
    # Two jobs at most on the shared machine; no debug-symbol package.
    DEB_BUILD_OPTIONS="parallel=2 noddebs" dpkg-buildpackage -b -us -uc
) >"$out/build.log" 2>&1 || {
    tail -n 40 "$out/build.log" >&2
    echo "build-deb: the package build failed; the whole log is in $out/build.log" >&2
    exit 1
}
mv "$out"/src/*.deb "$out/"
deb=$(ls "$out"/flashwright_*.deb)

# lintian ends with a failure on errors only; warnings are listed all the same.
lintian --fail-on error --info "$deb" | tee "$out/lintian.txt"
echo "$deb"
