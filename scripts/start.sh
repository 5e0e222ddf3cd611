#!/usr/bin/env bash
# Installs what is needed, builds Flashwright and starts it against the demo
# catalogue, served by nginx on loopback. Arguments go to flashwright
# (--testing shows simulated drives); given --releasesUrl, that feed is used
# and no demo is served.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
bash scripts/build.sh build
for argument in "$@"; do
    if [ "$argument" = --releasesUrl ]; then
        exec build/bin/flashwright "$@"
    fi
done
exec bash scripts/demo.sh build "$@"
