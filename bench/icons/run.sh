#!/usr/bin/env bash
# The program's figures against a hostile icon (bench/icons/icon_figures.py: peak memory and
# the window's slowest answer while a PNG declaring 20000 x 20000 pixels is fetched, beside
# the same catalog without it), under Wine and a private Xvfb, against a loopback test server
# of its own.
#   bench/icons/run.sh [build dir [icon_figures.py options, e.g. --seconds 20]]
#       build dir: default build/mingw, with the targets kv_program and kv_window_facts.
set -euo pipefail
root="$(cd "$(dirname "$0")/../.." && pwd)"
build="$(cd "${1:-$root/build/mingw}" && pwd)"
if [ $# -gt 0 ]; then shift; fi
server="$build/bench-icons-server"
"$root/tools/testserver/ctl.sh" start "$server" >/dev/null
trap '"$root/tools/testserver/ctl.sh" stop "$server"' EXIT
KV_TESTSERVER_DIR="$server" python3 -B "$root/bench/icons/icon_figures.py" --build "$build" --source "$root" "$@"
