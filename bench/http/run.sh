#!/usr/bin/env bash
# HTTP download benchmark: serves a file from a private loopback nginx and downloads it
# through httpRequest (discarding sink), a bare WinHTTP read loop (both under Wine) and
# curl (native), printing MB/s and peak memory for each.
#   bench/http/run.sh [BUILD_DIR] [SIZE_MIB]      defaults: build/mingw 512
set -euo pipefail
root="$(cd "$(dirname "$0")/../.." && pwd)"
build="$(cd "${1:-$root/build/mingw}" && pwd)"
size_mib="${2:-512}"
exe="$build/bench/http/http_bench.exe"
[ -f "$exe" ] || { echo "build http_bench first: cmake --build $build --target http_bench" >&2; exit 1; }

work="$(mktemp -d /tmp/kv-http-bench.XXXXXX)"
source "$root/bench/nginx.sh"
cleanup() {
  stop_nginx
  rm -rf "$work"
}
trap cleanup EXIT

mkdir -p "$work/www"
truncate -s "${size_mib}M" "$work/www/big.bin"
truncate -s 64M "$work/www/small.bin"
chmod -R a+rX "$work/www"
start_nginx "$work"
port="$nginx_port"

url="http://127.0.0.1:$port/big.bin"
echo "file: ${size_mib} MiB from nginx on 127.0.0.1:$port"
run() { "$root/tools/wine-run.sh" --prefix "$build/wineprefix" "$exe" "$@"; }
run bare "$url" >/dev/null 2>&1 || true   # warm the prefix and the page cache
bare_line="$(run bare "$url")"
engine_line="$(run engine "$url")"
echo "$bare_line"
echo "$engine_line"
awk -v b="$bare_line" -v e="$engine_line" 'BEGIN {
  split(b, bf, " "); split(e, ef, " ");
  if (bf[6] > 0) printf "engine / bare = %.2f\n", ef[6] / bf[6] }'
echo "engine on 64 MiB (memory must not follow the size):"
run engine "http://127.0.0.1:$port/small.bin"
curl -s -o /dev/null -w "curl    %{size_download} bytes %{time_total} s %{speed_download} B/s (native)\n" "$url"
/usr/bin/time -f "curl    peak RSS %M KiB" curl -s -o /dev/null "$url"
