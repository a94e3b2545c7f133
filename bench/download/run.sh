#!/usr/bin/env bash
# Download-manager benchmark: a file from a private loopback nginx (the HTTP benchmark's
# setup) through DownloadManager (probe, ranges, part file, MD5 check, move) beside the bare
# WinHTTP read loop of the HTTP benchmark on the same URL, then a 64 MiB file to show that
# memory does not follow the size.
#   bench/download/run.sh [BUILD_DIR] [SIZE_MIB]      defaults: build/mingw 1024
# Needs the targets download_bench and http_bench built in BUILD_DIR.
set -euo pipefail
root="$(cd "$(dirname "$0")/../.." && pwd)"
build="$(cd "${1:-$root/build/mingw}" && pwd)"
size_mib="${2:-1024}"
exe="$build/bench/download/download_bench.exe"
bare="$build/bench/http/http_bench.exe"
for f in "$exe" "$bare"; do
  [ -f "$f" ] || { echo "build first: cmake --build $build --target download_bench http_bench" >&2; exit 1; }
done

work="$(mktemp -d /tmp/kv-download-bench.XXXXXX)"
source "$root/bench/nginx.sh"
cleanup() {
  stop_nginx
  rm -rf "$work"
}
trap cleanup EXIT

mkdir -p "$work/www" "$work/out"
# Non-zero content so the digest means something; generated once per run.
python3 - "$work/www/big.bin" "$size_mib" <<'PY'
import os, sys
block = os.urandom(1 << 20)
with open(sys.argv[1], "wb") as f:
    for i in range(int(sys.argv[2])):
        f.write(block[i % 97:] + block[:i % 97])
PY
head -c 64M "$work/www/big.bin" > "$work/www/small.bin"
chmod -R a+rX "$work/www"
big_md5="$(md5sum "$work/www/big.bin" | cut -d' ' -f1)"
small_md5="$(md5sum "$work/www/small.bin" | cut -d' ' -f1)"
start_nginx "$work"
port="$nginx_port"

url="http://127.0.0.1:$port/big.bin"
out="Z:$work/out"
echo "file: ${size_mib} MiB from nginx on 127.0.0.1:$port (ranges on), md5 $big_md5"
run() { "$root/tools/wine-run.sh" --prefix "$build/wineprefix" "$@"; }
run "$bare" bare "$url" >/dev/null 2>&1 || true   # warm the prefix and the page cache
for round in 1 2; do
  run "$bare" bare "$url"
  run "$exe" "$url" "$big_md5" "$out"
done
echo "64 MiB through the manager (memory must not follow the size):"
run "$exe" "http://127.0.0.1:$port/small.bin" "$small_md5" "$out"
