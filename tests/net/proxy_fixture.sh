#!/usr/bin/env bash
# Starts or stops the tinyproxy instances of the proxy tests, state in DIR.
#   proxy_fixture.sh start DIR   an open proxy and one asking for Basic authentication, both
#                                on 127.0.0.1 with their own log; DIR/proxies.txt lists
#                                open=, auth= and down= (a port nobody listens on)
#   proxy_fixture.sh stop DIR    stops the two proxies started from DIR
set -u
cmd="${1:-}"
dir="${2:-}"
[ -n "$cmd" ] && [ -n "$dir" ] || { echo "usage: proxy_fixture.sh start|stop DIR" >&2; exit 2; }

stop_all() {
  local f pid
  for f in "$dir"/*.pid; do
    [ -f "$f" ] || continue
    pid="$(cat "$f")"
    kill "$pid" 2>/dev/null
    for _ in $(seq 1 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
    rm -f "$f"
  done
}

free_port() {
  python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1]); s.close()'
}

if [ "$cmd" = stop ]; then
  stop_all
  exit 0
fi
[ "$cmd" = start ] || { echo "unknown command $cmd" >&2; exit 2; }
command -v tinyproxy >/dev/null || { echo "tinyproxy missing (tools/setup.sh installs it)" >&2; exit 1; }
stop_all
mkdir -p "$dir"
: > "$dir/proxies.txt"
for name in open auth; do
  port="$(free_port)"
  {
    echo "Port $port"
    echo "Listen 127.0.0.1"
    echo "Timeout 60"
    echo "LogFile \"$dir/$name.log\""
    echo "LogLevel Connect"
    echo "MaxClients 100"
    [ "$name" = auth ] && echo "BasicAuth kvuser kvsecret"
  } > "$dir/$name.conf"
  : > "$dir/$name.log"
  # Bounded: a proxy left behind by a broken run ends by itself.
  setsid timeout 3600 tinyproxy -d -c "$dir/$name.conf" >"$dir/$name.out" 2>&1 < /dev/null &
  echo $! > "$dir/$name.pid"
  up=0
  for _ in $(seq 1 50); do
    if python3 -c "import socket,sys; socket.create_connection(('127.0.0.1',$port),0.2)" 2>/dev/null; then up=1; break; fi
    sleep 0.1
  done
  [ $up = 1 ] || { echo "tinyproxy ($name) did not start" >&2; cat "$dir/$name.out" >&2; stop_all; exit 1; }
  echo "$name=$port" >> "$dir/proxies.txt"
done
echo "down=$(free_port)" >> "$dir/proxies.txt"
