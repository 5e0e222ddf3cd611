#!/usr/bin/env bash
# Download benchmark: the DownloadManager against curl + md5sum on a 1 GiB file
# served by nginx on loopback, and the hashing of an existing part file against
# md5sum. Usage: bench/download/run.sh [BUILD_DIR]   (default: ./build)
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
build=${1:-$here/../../build}
bench=$build/bin/downloadbench
[ -x "$bench" ] || { echo "build the target downloadbench first ($bench)" >&2; exit 1; }
[ -x /usr/sbin/nginx ] || { echo "nginx (nginx-light) is needed" >&2; exit 1; }

cache=/var/tmp/flashwright-bench
image=$cache/image-1g.bin
size=$((1024 * 1024 * 1024))
mkdir -p "$cache"
if [ ! -f "$image" ] || [ "$(stat -c %s "$image")" -ne $size ]; then
    echo "making $image"
    head -c $size /dev/urandom > "$image.tmp" && mv "$image.tmp" "$image"
fi

work=$(mktemp -d "$cache/run.XXXXXX")
nginx_pid=
cleanup() {
    [ -n "$nginx_pid" ] && kill "$nginx_pid" 2>/dev/null && wait "$nginx_pid" 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT

port=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
mkdir -p "$work/logs" "$work/temp" "$work/root"
ln "$image" "$work/root/image-1g.bin" 2>/dev/null || ln -s "$image" "$work/root/image-1g.bin"
cat > "$work/nginx.conf" <<CONF
daemon off;
master_process off;
worker_processes 1;
pid $work/nginx.pid;
error_log $work/logs/error.log;
events { worker_connections 64; }
http {
    client_body_temp_path $work/temp/body;
    proxy_temp_path $work/temp/proxy;
    fastcgi_temp_path $work/temp/fastcgi;
    uwsgi_temp_path $work/temp/uwsgi;
    scgi_temp_path $work/temp/scgi;
    default_type application/octet-stream;
    sendfile on;
    access_log off;
    server { listen 127.0.0.1:$port; root $work/root; }
}
CONF
/usr/sbin/nginx -p "$work" -e "$work/logs/error.log" -c "$work/nginx.conf" &
nginx_pid=$!
for _ in $(seq 50); do curl -s -o /dev/null "http://127.0.0.1:$port/" && break; sleep 0.1; done
url=http://127.0.0.1:$port/image-1g.bin

can_drop=no
if [ -w /proc/sys/vm/drop_caches ] && sync && echo 3 > /proc/sys/vm/drop_caches 2>/dev/null; then
    can_drop=yes
fi
drop() { sync; [ $can_drop = yes ] && echo 3 > /proc/sys/vm/drop_caches || true; }
warm() { cat "$1" > /dev/null; }
now() { date +%s.%N; }
elapsed() { python3 -c "print(f'{$2 - $1:.3f}')"; }
mbps() { python3 -c "print(f'{$size / 1e6 / $1:.1f}')"; }
ratio() { python3 -c "print(f'{$1 / $2:.2f}')"; }
best() { printf '%s\n' "$@" | sort -g | head -1; }

expected=$(md5sum "$image" | cut -d' ' -f1)
runs=3

# Download: the source is warm in the page cache for both; each writes a new file.
warm "$image"
baseline=(); ours=()
for i in $(seq $runs); do
    rm -f "$work/curl.bin"
    t0=$(now)
    curl -s -o "$work/curl.bin" "$url"
    sum=$(md5sum "$work/curl.bin" | cut -d' ' -f1)
    t1=$(now)
    [ "$sum" = "$expected" ] || { echo "curl + md5sum gave $sum" >&2; exit 1; }
    baseline+=("$(elapsed "$t0" "$t1")")
    rm -f "$work/curl.bin"

    rm -rf "$work/ours"
    out=$("$bench" download "$url" "$work/ours")
    sum=$(sed -n 's/^md5 //p' <<< "$out")
    [ "$sum" = "$expected" ] || { echo "downloadbench gave $sum" >&2; exit 1; }
    ours+=("$(sed -n 's/^seconds //p' <<< "$out")")
    rm -rf "$work/ours"
done
b=$(best "${baseline[@]}"); o=$(best "${ours[@]}")
echo "download 1 GiB, best of $runs:"
echo "  curl + md5sum:          $b s  $(mbps "$b") MB/s"
echo "  DownloadManager + MD5:  $o s  $(mbps "$o") MB/s"
echo "  ratio (baseline time / ours): $(ratio "$b" "$o")   target >= 1.3"

# Catch-up: hashing a complete 1 GiB part file before the first request.
mkdir -p "$work/catch"
cp "$image" "$work/catch/image-1g.bin.part"
for mode in cold warm; do
    if [ $mode = cold ] && [ $can_drop = no ]; then
        echo "catch-up (cold): skipped, /proc/sys/vm/drop_caches is not writable"
        continue
    fi
    baseline=(); ours=()
    for i in $(seq $runs); do
        if [ $mode = cold ]; then drop; else warm "$work/catch/image-1g.bin.part"; fi
        t0=$(now)
        sum=$(md5sum "$work/catch/image-1g.bin.part" | cut -d' ' -f1)
        t1=$(now)
        [ "$sum" = "$expected" ] || { echo "md5sum gave $sum" >&2; exit 1; }
        baseline+=("$(elapsed "$t0" "$t1")")
        if [ $mode = cold ]; then drop; else warm "$work/catch/image-1g.bin.part"; fi
        out=$("$bench" catchup "$url" "$work/catch")
        sum=$(sed -n 's/^md5 //p' <<< "$out")
        [ "$sum" = "$expected" ] || { echo "catch-up gave $sum" >&2; exit 1; }
        ours+=("$(sed -n 's/^seconds //p' <<< "$out")")
        [ "$(stat -c %s "$work/catch/image-1g.bin.part")" -eq $size ] || { echo "part file changed" >&2; exit 1; }
    done
    b=$(best "${baseline[@]}"); o=$(best "${ours[@]}")
    echo "catch-up hashing 1 GiB ($mode cache), best of $runs:"
    echo "  md5sum:                 $b s  $(mbps "$b") MB/s"
    echo "  Download catch-up:      $o s  $(mbps "$o") MB/s"
    echo "  ratio (md5sum time / ours): $(ratio "$b" "$o")   target >= 0.9"
done
