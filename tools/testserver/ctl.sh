#!/usr/bin/env bash
# Starts or stops the loopback test server whose state lives in DIR.
#   ctl.sh start DIR   make a test CA and certificates (DIR/tls), start the server,
#                      wait until DIR/ports.txt lists its ports
#   ctl.sh stop DIR    stop the server started from DIR (only that process)
set -u
cmd="${1:-}"
dir="${2:-}"
[ -n "$cmd" ] && [ -n "$dir" ] || { echo "usage: ctl.sh start|stop DIR" >&2; exit 2; }
here="$(cd "$(dirname "$0")" && pwd)"

stop_server() {
  [ -f "$dir/server.pid" ] || return 0
  local pid
  pid="$(cat "$dir/server.pid")"
  if kill -0 "$pid" 2>/dev/null; then
    kill "$pid" 2>/dev/null
    for _ in $(seq 1 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
    kill -0 "$pid" 2>/dev/null && kill -9 "$pid" 2>/dev/null
  fi
  rm -f "$dir/server.pid"
}

make_tls() {
  local t="$dir/tls"
  rm -rf "$t" && mkdir -p "$t" || return 1
  # Wine matches the host only against DNS names, so the address is also listed as one.
  cat > "$t/server.ext" <<'EXT'
basicConstraints=CA:FALSE
keyUsage=digitalSignature,keyEncipherment
extendedKeyUsage=serverAuth
subjectAltName=IP:127.0.0.1,DNS:127.0.0.1,DNS:localhost
EXT
  # The trusted CA (added to the test Wine prefix's Root store) and its server certificate;
  # a second, never-trusted CA signs the certificate of the "untrusted" listener.
  for who in ca untrusted-ca; do
    local cn="KV Test CA"
    [ "$who" = untrusted-ca ] && cn="KV Untrusted Test CA"
    openssl req -x509 -newkey rsa:2048 -nodes -sha256 -days 2 -subj "/CN=$cn" \
      -keyout "$t/$who.key" -out "$t/$who.crt" -addext "basicConstraints=critical,CA:TRUE" \
      -addext "keyUsage=critical,keyCertSign,cRLSign" 2>/dev/null || return 1
  done
  for who in server untrusted; do
    local ca=ca
    [ "$who" = untrusted ] && ca=untrusted-ca
    openssl req -new -newkey rsa:2048 -nodes -sha256 -subj "/CN=127.0.0.1" \
      -keyout "$t/$who.key" -out "$t/$who.csr" 2>/dev/null || return 1
    openssl x509 -req -in "$t/$who.csr" -CA "$t/$ca.crt" -CAkey "$t/$ca.key" -CAcreateserial \
      -days 2 -sha256 -extfile "$t/server.ext" -out "$t/$who.crt" 2>/dev/null || return 1
  done
  openssl x509 -in "$t/ca.crt" -outform der -out "$t/ca.der" || return 1
}

case "$cmd" in
  start)
    mkdir -p "$dir"
    stop_server
    rm -f "$dir/ports.txt"
    if ! make_tls; then echo "could not make the test certificates" >&2; exit 1; fi
    setsid python3 "$here/server.py" --port-file "$dir/ports.txt" \
      --tls-cert "$dir/tls/server.crt" --tls-key "$dir/tls/server.key" \
      --untrusted-cert "$dir/tls/untrusted.crt" --untrusted-key "$dir/tls/untrusted.key" \
      >"$dir/server.log" 2>&1 </dev/null &
    echo $! > "$dir/server.pid"
    for _ in $(seq 1 100); do
      [ -f "$dir/ports.txt" ] && { cat "$dir/ports.txt"; exit 0; }
      kill -0 "$(cat "$dir/server.pid")" 2>/dev/null || break
      sleep 0.1
    done
    echo "test server did not start:" >&2
    cat "$dir/server.log" >&2
    stop_server
    exit 1
    ;;
  stop)
    stop_server
    rm -f "$dir/ports.txt"
    ;;
  *)
    echo "usage: ctl.sh start|stop DIR" >&2
    exit 2
    ;;
esac
