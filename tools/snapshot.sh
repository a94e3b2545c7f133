#!/usr/bin/env bash
# Paints the main view's fixture states into PNG files for a look by eye.
#   tools/snapshot.sh [build dir] [state ...]     (default build dir: build/mingw)
# Builds kv_snapshot in the build dir (configuring it first if needed) and runs it under
# Wine; the pictures land in <build dir>/snapshots/. Without states every state is painted.
set -eu

root="$(cd "$(dirname "$0")/.." && pwd)"
build="${1:-build/mingw}"
[ $# -gt 0 ] && shift
case "$build" in /*) ;; *) build="$root/$build" ;; esac

if [ ! -f "$build/CMakeCache.txt" ]; then
  cmake -S "$root" -B "$build" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" -DCMAKE_BUILD_TYPE=Release
fi
cmake --build "$build" -j2 --target kv_snapshot

mkdir -p "$build/snapshots"
"$root/tools/wine-run.sh" --prefix "$build/wineprefix" "$build/tools/snapshot/kv_snapshot.exe" \
  "Z:$build/snapshots" "Z:$root/tools/demo-catalog" "$@"
echo "snapshots in $build/snapshots/"
