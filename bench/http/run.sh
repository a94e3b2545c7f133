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
nginx_pid=""
cleanup() {
  if [ -n "$nginx_pid" ] && kill -0 "$nginx_pid" 2>/dev/null; then
    kill "$nginx_pid"
    for _ in $(seq 1 50); do kill -0 "$nginx_pid" 2>/dev/null || break; sleep 0.1; done
  fi
  rm -rf "$work"
}
trap cleanup EXIT

chmod 755 "$work"
mkdir -p "$work/www" "$work/tmp" "$work/logs"
truncate -s "${size_mib}M" "$work/www/big.bin"
truncate -s 64M "$work/www/small.bin"
chmod -R a+rX "$work/www"
port="$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1]); s.close()')"
user_line=""
[ "$(id -u)" = 0 ] && user_line="user root;"
cat > "$work/nginx.conf" <<CONF
$user_line
worker_processes 1;
daemon off;
pid $work/nginx.pid;
error_log $work/logs/error.log warn;
events { worker_connections 64; }
http {
  access_log off;
  sendfile on;
  tcp_nopush on;
  keepalive_timeout 5;
  client_body_temp_path $work/tmp/body;
  proxy_temp_path $work/tmp/proxy;
  fastcgi_temp_path $work/tmp/fastcgi;
  uwsgi_temp_path $work/tmp/uwsgi;
  scgi_temp_path $work/tmp/scgi;
  types { application/octet-stream bin; }
  server {
    listen 127.0.0.1:$port;
    root $work/www;
  }
}
CONF
nginx -p "$work" -c "$work/nginx.conf" &
nginx_pid=$!
for _ in $(seq 1 50); do curl -s -o /dev/null "http://127.0.0.1:$port/small.bin" && break; sleep 0.1; done

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
