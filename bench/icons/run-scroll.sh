#!/usr/bin/env bash
# Icon benchmark: a generated catalog of 10,000 applications, each with its own 64 x 64 PNG
# icon, from the loopback test server; icon_bench scrolls the catalog view through all of
# them and prints the GDI objects and memory held as the icons come in.
#   bench/icons/run-scroll.sh [BUILD_DIR] [APPS]      defaults: build/mingw 10000
# Needs the target icon_bench built in BUILD_DIR.
set -euo pipefail
root="$(cd "$(dirname "$0")/../.." && pwd)"
build="$(cd "${1:-$root/build/mingw}" && pwd)"
apps="${2:-10000}"
exe="$build/bench/icons/icon_bench.exe"
[ -f "$exe" ] || { echo "build first: cmake --build $build --target icon_bench" >&2; exit 1; }

. "$root/bench/test-server.sh" kv-icon-bench
"$root/tools/wine-run.sh" --prefix "$build/wineprefix" "$exe" "http://127.0.0.1:$port/_gen/iconcatalog/$apps/0"
