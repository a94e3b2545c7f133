#!/usr/bin/env bash
# Start-up and idle figures of the program's window under Wine and a private Xvfb
# (bench/window/figures.py), against a loopback test server of its own.
#   bench/window/run.sh [build dir [figures.py options, e.g. --runs 9]]
#       build dir: default build/mingw, with the targets kv_program, the kv_setup_* installers,
#       kv_window_facts and kv_empty_window. Prints the warm start against a slow server (catalog
#       after 300 ms, each icon after 100 ms: the first frame with the catalog and every visible
#       icon, with the disk caches of the run before and without, beside the empty window), the
#       start-up ratio, its target and the breakdown of start-up (medians of the program's
#       marks), then the idle figures.
set -euo pipefail
root="$(cd "$(dirname "$0")/../.." && pwd)"
build="$(cd "${1:-$root/build/mingw}" && pwd)"
if [ $# -gt 0 ]; then shift; fi
server="$build/bench-window-server"
"$root/tools/testserver/ctl.sh" start "$server" >/dev/null
trap '"$root/tools/testserver/ctl.sh" stop "$server"' EXIT
KV_TESTSERVER_DIR="$server" python3 -B "$root/bench/window/figures.py" --build "$build" --source "$root" "$@"
