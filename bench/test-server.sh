# Sourced by the benchmark scripts: starts the loopback test server in a scratch folder named
# after $1, stops it and removes the folder when the script exits, and sets $work and $port.
work="$(mktemp -d "/tmp/$1.XXXXXX")"
stop_test_server() {
  "$root/tools/testserver/ctl.sh" stop "$work" >/dev/null 2>&1 || true
  rm -rf "$work"
}
trap stop_test_server EXIT
"$root/tools/testserver/ctl.sh" start "$work" >/dev/null
port="$(sed -n 's/^http=//p' "$work/ports.txt")"
