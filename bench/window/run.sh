#!/usr/bin/env bash
# Start-up and idle figures of the program's window under Wine and a private Xvfb
# (tests/e2e/figures.py), against a loopback test server of its own.
#   bench/window/run.sh [build dir]      (default build/mingw; targets kv_program,
#                                         kv_setup_register, kv_window_facts, kv_empty_window)
set -euo pipefail
root="$(cd "$(dirname "$0")/../.." && pwd)"
build="$(cd "${1:-$root/build/mingw}" && pwd)"
server="$build/bench-window-server"
"$root/tools/testserver/ctl.sh" start "$server" >/dev/null
trap '"$root/tools/testserver/ctl.sh" stop "$server"' EXIT
KV_TESTSERVER_DIR="$server" python3 -B "$root/tests/e2e/figures.py" --build "$build" --source "$root"
