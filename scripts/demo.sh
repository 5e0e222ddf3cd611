#!/usr/bin/env bash
# Serves the demo catalogue on loopback and runs flashwright from a build
# folder against it; the server stops when the program ends, also on Ctrl-C.
#
#   bash scripts/demo.sh <build folder> [flashwright arguments...]
#
# Ends with the program's exit status. scripts/start.sh builds and calls it.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:?usage: scripts/demo.sh <build folder> [flashwright arguments...]}
shift

address=$(mktemp)
"$build/bin/flashwright-demo" >"$address" &
server=$!
stop() {
    kill -TERM "$server" 2>/dev/null || true
    wait "$server" 2>/dev/null || true
    rm -f "$address"
}
trap stop EXIT
# Ctrl-C reaches the whole foreground group; the EXIT trap still tidies up.
trap 'exit 130' INT
trap 'exit 143' TERM
trap 'exit 129' HUP

# The server prints the feed's address once its images are made and nginx listens.
while [ "$(wc -l <"$address")" -lt 1 ]; do
    if ! kill -0 "$server" 2>/dev/null; then
        echo "demo: the demo catalogue server did not start" >&2
        exit 1
    fi
    sleep 0.1
done
url=$(head -n 1 "$address")
echo "Demo catalogue: $url"

status=0
"$build/bin/flashwright" --releasesUrl "$url" "$@" || status=$?
exit "$status"
