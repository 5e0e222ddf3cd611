#!/usr/bin/env bash
# Installs everything Flashwright needs to build, run and test on Debian 12.
# Does nothing when every package is already there. With the argument "fuzz"
# it also installs clang and libFuzzer for scripts/fuzz.sh, which the tests
# do not need (they run the fuzz targets' corpora with the normal compiler).
# With "coverage" it also installs gcovr for the coverage build of
# scripts/test.sh (FLASHWRIGHT_COVERAGE=1).
set -euo pipefail

packages=(
    # build
    cmake ninja-build g++ pkg-config
    qt6-base-dev qt6-base-dev-tools qt6-declarative-dev qt6-svg-dev
    qt6-tools-dev qt6-tools-dev-tools qt6-l10n-tools libgl-dev liblzma-dev libxxhash-dev
    zlib1g-dev libbz2-dev libzstd-dev  # the helper's gzip, zip, bzip2 and zstd decoders
    libssl-dev  # the MD5 benchmark compares ours with libcrypto's
    # run
    qml6-module-qtquick qml6-module-qtquick-controls qml6-module-qtquick-layouts
    qml6-module-qtquick-dialogs qml6-module-qtquick-window qml6-module-qt-labs-platform
    qml6-module-qtqml-workerscript qml6-module-qtquick-templates qml6-module-qtqml
    qml6-module-qtquick-shapes qml6-module-qtqml-models qml6-module-qt-labs-folderlistmodel
    qt6-translations-l10n  # Qt's own texts (file dialog, context menus) in the user's language
    # tests: buses, disks, images, servers, display
    dbus udisks2 udev exfatprogs fdisk e2fsprogs util-linux xz-utils
    isomd5sum xorriso nginx-light openssl curl python3 python3-dbusmock
    qml6-module-qttest xvfb xauth
    # the window through a screen reader's eyes: the accessibility bus and its Python client
    at-spi2-core python3-pyatspi
    # pages in pictures: keyboard driving, fonts with Cyrillic, the two locales
    xdotool x11-utils fonts-dejavu-core locales
    # installation and the Debian package: checkers and Debian's package tools
    desktop-file-utils appstream debhelper dpkg-dev lintian
    # compressed images for the tests and benchmarks
    gzip bzip2 zstd zip
    # benchmarks: peak memory; libarchive, against which the decoders were chosen
    time libarchive-dev
)
for group in "$@"; do
    case "$group" in
    fuzz) packages+=(clang-14 libclang-rt-14-dev) ;;
    coverage) packages+=(gcovr) ;;
    *) echo "install-deps: unknown group $group" >&2; exit 1 ;;
    esac
done

# The pages are checked in English and in Russian.
locales=(en_US.UTF-8 ru_RU.UTF-8)

missing_locales() {
    local available
    available=$(locale -a 2>/dev/null | tr '[:upper:]' '[:lower:]' | sed 's/utf-8/utf8/')
    for l in "${locales[@]}"; do
        local name
        name=$(echo "$l" | tr '[:upper:]' '[:lower:]' | sed 's/utf-8/utf8/')
        grep -qx "$name" <<<"$available" || echo "$l"
    done
}

generate_locales() {
    local wanted
    wanted=$(missing_locales)
    [ -n "$wanted" ] || return 0
    if [ "$(id -u)" -ne 0 ]; then
        echo "install-deps: locales not generated: $wanted (run as root to generate them)" >&2
        return 0
    fi
    for l in $wanted; do
        if grep -q "^# *$l UTF-8" /etc/locale.gen; then
            sed -i "s/^# *\($l UTF-8\)/\1/" /etc/locale.gen
        elif ! grep -q "^$l UTF-8" /etc/locale.gen; then
            echo "$l UTF-8" >>/etc/locale.gen
        fi
    done
    locale-gen >/dev/null
}

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -eq 0 ]; then
    generate_locales
    exit 0
fi

if [ "$(id -u)" -ne 0 ]; then
    echo "install-deps: missing packages: ${missing[*]} (run as root to install them)" >&2
    exit 1
fi
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
generate_locales
