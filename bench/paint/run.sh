#!/usr/bin/env bash
# Main-view paint benchmark: the whole window painted at 1180 × 780 into a real window's DC
# under Wine, the catalog view (12 cards with decoded 256-pixel icons, 13 sidebar rows) and
# the download view (6 rows), with the paint caches on and, in the same run, off.
#   bench/paint/run.sh [BUILD_DIR] [FRAMES]      defaults: build/mingw 300
# Needs the target paint_bench built in BUILD_DIR.
set -euo pipefail
root="$(cd "$(dirname "$0")/../.." && pwd)"
build="$(cd "${1:-$root/build/mingw}" && pwd)"
frames="${2:-300}"
exe="$build/bench/paint/paint_bench.exe"
[ -f "$exe" ] || { echo "build first: cmake --build $build --target paint_bench" >&2; exit 1; }
"$root/tools/wine-run.sh" --prefix "$build/wineprefix" "$exe" "$frames"
